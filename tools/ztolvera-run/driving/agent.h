// The agent's side of a job's life: reg on the main thread, then compile,
// run as often as asked, stop and unreg on worker threads.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "options.h"
#include "ravlin.h"
#include "session.h"
#include "ztolvera.h"

struct Job {
    unsigned long jobno = 0;
    std::wstring name;
    ImpJob* object = nullptr;
    ULONG cookie = 0;
    bool registered = false;
    bool compiled = false;
    unsigned runs = 0;
    unsigned succeeded = 0;      // runs that set ret non-zero
};

// A worker thread that ended inside one of a job's steps: the platform took
// the thread away (a stack overflow under Wine ends the thread alone).
struct LostWorker {
    unsigned long jobno = 0;
    Step step = Step::None;
    unsigned run = 0;
    DWORD code = 0;              // the thread's exit code
};

struct Drive {
    ITolvera* host = nullptr;
    HANDLE stop = nullptr;               // set: no further job or run starts
    // On the thread of the step: a step of a job begins (its end is the
    // host's note in the journal). A scheduled run begins with the time its
    // slot ends, when the next run is due (a default time point without --every).
    std::function<void(const Doing&, std::chrono::steady_clock::time_point slotEnd)> began;
};

// Drives every job to its end: without --every a free worker takes the next
// job and runs it as often as asked; with --every each job stays on one
// worker (job i on worker i mod --threads) and run k starts at the
// schedule's origin plus (k-1) intervals, or as soon as run k-1 has ended
// when that is later. False when a worker thread ended inside a step: then
// `lost` names it and the other workers are left running, so the caller
// must end the process without touching `jobs` or `host` again.
bool driveJobs(const Drive& drive, std::vector<Job>& jobs, const Options& options, LostWorker& lost);
