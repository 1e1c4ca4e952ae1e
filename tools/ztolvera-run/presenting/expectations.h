// Expectations of a scenario, checked after the session from what was
// recorded: the jobs' stories (events, data points, script errors, runs) and
// the journal's core calls, the same data the report is written from, so a
// check reads the same whether the jobs ran in this process or another.
#pragma once

#include <string>
#include <vector>

#include "scenario.h"
#include "session.h"
#include "story.h"

struct Verdict {
    unsigned long jobno = 0;
    std::string job;                     // the job's name
    unsigned number = 0;                 // the expectation's number in the file
    std::string what;                    // the expectation in words
    bool holds = true;
    std::vector<std::string> failures;   // per run: what differed, or what is missing
};

// One verdict per expectation and job it applies to, in the file's order
// for each job.
std::vector<Verdict> checkExpectations(const std::vector<Expectation>& expectations,
                                       const std::vector<JobStory>& stories, const std::vector<Seen>& journal);

// "job 1 expect 2 holds: ..." / "job 1 expect 2 FAILED: ..." for standard
// output, and one line per failure for standard error.
std::string verdictLine(const Verdict& verdict);
std::vector<std::string> failureLines(const Verdict& verdict);

// The report's list of a job's verdicts ("" when it has none).
std::string verdictsHtml(const std::vector<Verdict>& verdicts, unsigned long jobno);
