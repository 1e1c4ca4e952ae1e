// What the runner saw while its jobs ran: every journal line as the stand-in
// core appended it, stamped with its time and with the job and run of the
// thread whose call caused it. The journal itself has no times and names no
// run; the summaries' reasons, the calls log and the report need both. The jobs run in a child process that
// tells all of this as it happens; the runner keeps it here.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "entry.h"

// What a thread is doing for a job. Calls without a job context (such as
// GetAgentInfo) and trace lines are told apart only by the thread.
enum class Step { None, Reg, Compile, Run, Stop, Unreg };
struct Doing {
    unsigned long job = 0;
    Step step = Step::None;
    unsigned run = 0;            // for Step::Run
};

// "reg", "compile", "run", "stop", "unreg"; "" for Step::None.
const char* stepName(Step step);
Step stepNamed(const std::string& name);

struct Seen {
    double at = 0;               // seconds since the session began
    Doing doing;
    std::string line;            // the journal line, seq included
    jnl::Entry entry;        // the line as read, once, by the runner
    bool hasResult = false;      // a core call's integer result
    long result = 0;
};

class Session {
public:
    using Clock = std::chrono::steady_clock;

    Session();
    // A session whose times count from `origin`: a child process's session
    // counts from its runner's.
    explicit Session(Clock::time_point origin);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // What the calling thread does from now on.
    static void setDoing(const Doing& doing);
    static const Doing& doing();

    double now() const;
    Clock::time_point origin() const { return origin_; }
    const SYSTEMTIME& began() const { return began_; }

    void add(Seen seen) { lines_.push_back(std::move(seen)); }

    const std::vector<Seen>& lines() const { return lines_; }

private:
    Clock::time_point origin_;
    SYSTEMTIME began_;
    std::vector<Seen> lines_;
};
