#include "timeline.h"

#include <algorithm>

unsigned JobRecord::succeeded() const {
    return static_cast<unsigned>(std::count_if(runs.begin(), runs.end(), [](const RunRecord& r) { return r.succeeded(); }));
}

std::string JobRecord::state() const {
    if (!fate.empty()) return fate;
    if (!registered) return "not registered";
    return compiled ? "compiled" : "not compiled";
}

bool JobRecord::failed(bool scriptErrorsExpected) const {
    // A script error is a failure even where the run still set ret.
    bool errors = scriptErrors || succeeded() != runs.size();
    return !compiled || !fate.empty() || (errors && !scriptErrorsExpected);
}

std::string whereIn(const Doing& d) {
    return d.step == Step::Run ? "run " + std::to_string(d.run) : std::string(stepName(d.step));
}

Timeline::Timeline(const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        JobRecord r;
        r.jobno = static_cast<unsigned long>(i + 1);
        r.name = names[i];
        jobs_.push_back(r);
    }
}

JobRecord* Timeline::job(unsigned long jobno) {
    return jobno >= 1 && jobno <= jobs_.size() ? &jobs_[jobno - 1] : nullptr;
}

void Timeline::began(const Doing& d, double at, double slotEnd) {
    JobRecord* j = job(d.job);
    if (!j) return;
    j->busy = true;
    j->step = d;
    j->since = at;
    j->lastCall.clear();
    if (d.step == Step::Compile) j->started = true;
    if (d.step == Step::Run) {
        RunRecord r;
        r.run = d.run;
        r.start = at;
        r.slotEnd = slotEnd;
        j->runs.push_back(r);
    }
}

void Timeline::line(const Seen& seen) {
    const jnl::Entry& e = seen.entry;
    JobRecord* j = job(e.job);
    if (!j) return;
    switch (e.kind) {
    case jnl::Entry::Host:
        // The host's note ends the step it answers.
        if (e.step == "reg") j->registered = e.hr == 0, j->regHr = e.hr;
        else if (e.step == "compile") j->compiled = e.hr == 0, j->compileHr = e.hr;
        else if (e.step == "run" && !j->runs.empty() && j->runs.back().end < 0) {
            RunRecord& r = j->runs.back();
            r.end = seen.at;
            r.hr = static_cast<HRESULT>(e.hr);
            r.ret = e.ret;
        }
        j->busy = false;
        break;
    case jnl::Entry::Call:
        if (!e.hasContext) break;
        ++j->coreCalls;
        j->lastCall = e.op;
        break;
    case jnl::Entry::ScriptError: ++j->scriptErrors; break;
    default: break;
    }
}

void Timeline::cut(unsigned long jobno, const std::string& why) {
    JobRecord* j = job(jobno);
    if (!j) return;
    j->fate = why;
    j->fateRun = j->step.step == Step::Run ? j->step.run : 0;
    j->busy = false;
}

void Timeline::cutShort(const std::string& why) {
    for (JobRecord& j : jobs_)
        if (j.busy) cut(j.jobno, "cut short in " + whereIn(j.step) + " (" + why + ")");
}

void Timeline::notStarted() {
    for (JobRecord& j : jobs_)
        if (!j.started && j.fate.empty()) j.fate = "not started";
}

unsigned Timeline::runsDone() const {
    unsigned n = 0;
    for (const JobRecord& j : jobs_)
        for (const RunRecord& r : j.runs) n += r.end >= 0 || (!j.fate.empty() && j.fateRun == r.run);
    return n;
}

unsigned Timeline::runsPlanned(unsigned runsEach) const {
    unsigned n = 0;
    // A job that a crash or a hang ended counts with the runs it had.
    for (const JobRecord& j : jobs_) n += j.fate.empty() ? runsEach : static_cast<unsigned>(j.runs.size());
    return n;
}
