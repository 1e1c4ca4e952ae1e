// What became of each job, folded from the facts the child tells once (each
// step's start, each journal line: the host's note of a step's end among
// them) and what the supervisor saw of the child's end (a crash, a hang).
// The summaries, the error lines, the report, the expectations and the exit
// status all read this one record, so they cannot disagree.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "session.h"

struct RunRecord {
    unsigned run = 0;
    double start = 0;
    double end = -1;             // negative: it never returned (hung, crashed, still going)
    double slotEnd = -1;         // with --every: when the next run was due
    HRESULT hr = S_OK;           // the host's answer, once it returned
    long ret = 0;
    bool succeeded() const { return end >= 0 && hr == S_OK && ret; }
    bool overran() const { return slotEnd >= 0 && (end < 0 || end > slotEnd); }
};

struct JobRecord {
    unsigned long jobno = 0;
    std::string name;
    bool started = false;        // its compile began, in whichever child
    bool registered = false, compiled = false;
    long regHr = 0, compileHr = 0;
    std::vector<RunRecord> runs;
    unsigned coreCalls = 0;      // calls made with the job's context
    unsigned scriptErrors = 0;
    // The step in progress, for --timeout and for a crash.
    bool busy = false;
    Doing step;
    double since = 0;
    std::string lastCall;        // the core call the step made last
    // What ended the job other than its own steps ("crashed in run 2 (stack
    // overflow)", "not started"), empty when its steps ran their course.
    std::string fate;
    unsigned fateRun = 0;        // the run the fate met, 0 for none

    unsigned succeeded() const;
    // "compiled", "not compiled", "not registered", or the fate.
    std::string state() const;
    // Whether the job failed the session: it did not compile, a run did not
    // succeed, or it received a script error (unless the scenario asks for
    // script errors).
    bool failed(bool scriptErrorsExpected) const;
};

class Timeline {
public:
    explicit Timeline(const std::vector<std::string>& names);

    // The facts, as they come.
    void began(const Doing& doing, double at, double slotEnd);
    void line(const Seen& seen);
    // A job's step ended by its process going (a crash, a hang) for `why`.
    void cut(unsigned long jobno, const std::string& why);
    // The jobs still inside a step when their process went, not for a reason of theirs.
    void cutShort(const std::string& why);
    // Jobs never reached.
    void notStarted();

    std::vector<JobRecord>& jobs() { return jobs_; }
    const std::vector<JobRecord>& jobs() const { return jobs_; }
    JobRecord* job(unsigned long jobno);
    unsigned runsDone() const;
    unsigned runsPlanned(unsigned runsEach) const;

private:
    std::vector<JobRecord> jobs_;
};

// "run 3", "compile", "reg".
std::string whereIn(const Doing& doing);
