// What the runner saw while its jobs ran: every journal line as the stand-in
// core appended it, stamped with its time and with the job and run of the
// thread whose call caused it, and the start and end of every run. The
// journal itself has no times and names no run; the summaries' reasons, the
// calls log and the report need both.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What a thread is doing for a job. Calls without a job context (such as
// GetAgentInfo) and trace lines are told apart only by the thread.
enum class Step { None, Reg, Compile, Run, Stop, Unreg };
struct Doing {
    unsigned long job = 0;
    Step step = Step::None;
    unsigned run = 0;            // for Step::Run
};

struct Seen {
    double at = 0;               // seconds since the session began
    Doing doing;
    std::string line;            // the journal line, seq included
    bool hasResult = false;      // a core call's integer result
    long result = 0;
};

struct RunTimes {
    unsigned long job = 0;
    unsigned run = 0;
    double start = 0;
    double end = -1;             // still going while negative
    HRESULT hr = S_OK;
    VARIANT_BOOL ret = 0;
};

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Keeps every journal line from now on and hands each to `eachLine`
    // (may be empty) on the thread that caused it, in the journal's order,
    // while the journal is locked: it must not call into the stand-in.
    void listen(std::function<void(const Seen&)> eachLine);

    // What the calling thread does from now on.
    static void setDoing(const Doing& doing);

    double now() const;
    const SYSTEMTIME& began() const { return began_; }

    void runStarted(unsigned long job, unsigned run);
    void runEnded(unsigned long job, unsigned run, HRESULT hr, VARIANT_BOOL ret);

    // Copies, safe while workers still run.
    std::vector<Seen> lines() const;
    std::vector<RunTimes> runs() const;

private:
    static void onLine(const char* line, const long* result, void* self);

    std::chrono::steady_clock::time_point origin_;
    SYSTEMTIME began_;
    mutable std::mutex lock_;
    std::vector<Seen> lines_;
    std::vector<RunTimes> runs_;
    std::function<void(const Seen&)> eachLine_;
};
