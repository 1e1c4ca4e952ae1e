// What happened to each job, in the terms a script author thinks in: runs
// and how they ended, script errors with the line they point at, why a run
// failed when no script error says so, the events raised and the data
// points logged. Read from the session's lines; the summaries' error lines
// and the report are written from it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "session.h"
#include "timeline.h"

struct RunStory {
    unsigned run = 0;
    double start = 0;
    double end = -1;             // negative: still going (hung)
    bool succeeded = false;
    bool abortedItself = false;  // ended through an abort method, which counts as success
    double slotEnd = -1;         // with --every: when the next run was due
    bool overran = false;        // it ended (or was still going) after that
    std::string result;          // "succeeded", "script error", a reason
};

struct ScriptErrorStory {
    Step step = Step::None;      // Compile or Run
    unsigned run = 0;
    double at = 0;
    std::string text;            // as the site reported it to the job
    unsigned line = 0;           // 1-based line of the script file, 0 if unknown
    std::string source;          // that line's text
    std::string hint;            // for a failed call of CVEXT there: the member as the type library has it
};

// A step that failed without a script error that would explain it.
struct FailureStory {
    Step step = Step::None;      // Reg, Compile or Run
    unsigned run = 0;
    std::string reason;
};

struct EventStory {
    double at = 0;
    unsigned run = 0;
    std::string op;              // the core operation that raised it
    long severity = 0;
    std::string message, objects, detail;
};

struct PointStory {
    double at = 0;
    unsigned run = 0;
    double value = 0;
    std::string detail;
};

struct SeriesStory {
    std::string name;            // the dynamic legend, or the stream's legend
    std::vector<PointStory> points;
};

struct StreamStory {
    std::string name;            // the stream's name, or "#N" for a numbered one
    std::string legend;
    bool hasHigh = false, hasLow = false;
    double high = 0, low = 0;    // the water marks the script declared
    std::vector<SeriesStory> series;
};

struct OpCount {
    unsigned withContext = 0;    // what the summary counts as the job's core calls
    unsigned withoutContext = 0; // made from the job's thread without its context
    unsigned refused = 0;        // refused by the host, the run being ended: never reached the core
};

// A line the script wrote to the agent's trace with ZTrace.
struct TraceStory {
    double at = 0;
    unsigned run = 0;
    std::string text;
};

// Messages of one kind that several runs share: one line on the terminal,
// one row in the report.
struct ProblemGroup {
    Step step = Step::None;
    std::string message;         // as the terminal shows it
    std::string text;            // the text the job received, or the failure's reason
    std::vector<unsigned> runs;  // ascending
    unsigned line = 0;           // a script error's line, 0 otherwise
    std::string source;
    bool scriptError = false;
};

struct JobStory {
    unsigned long jobno = 0;
    std::string name;
    std::string state;           // "compiled", "not compiled", "not registered", or its fate
    unsigned succeeded = 0;
    unsigned coreCalls = 0;      // with the job's context, as the summary counts them
    unsigned scriptErrors = 0;
    bool failed = false;         // the job failed the session
    std::vector<RunStory> runs;
    std::vector<ScriptErrorStory> errors;
    std::vector<FailureStory> failures;
    std::vector<EventStory> events;
    std::vector<StreamStory> streams;
    std::map<std::string, OpCount> calls;   // by operation, and by script method for refused calls
    std::map<std::string, unsigned> machine;   // the fake machine's calls, by "Object.Member"
    std::vector<TraceStory> traces;
};

// The jobs' stories: their runs and state from the timeline, what they did
// from the session's lines.
std::vector<JobStory> tellStories(const Timeline& timeline, const std::vector<std::wstring>& texts,
                                  const Session& session, bool scriptErrorsExpected);

// The lines that follow a job's summary: its script errors and the failures
// no script error explains, each naming the job and its runs ("run 3",
// "runs 1-4, 7"), identical messages of several runs on one line.
std::vector<std::string> problemLines(const JobStory& story);
std::vector<ProblemGroup> problemGroups(const JobStory& story);
// "run 3", "runs 1-4, 7", "compile", "reg".
std::string whereText(Step step, const std::vector<unsigned>& runs);

// Runs that overran their slot, as "runs 2, 5: ... overran" lines; none
// without --every.
std::vector<std::string> overrunLines(const JobStory& story);

// An HRESULT in hex and, where the system's message table has it, in words.
std::string describeHresult(long hr);
