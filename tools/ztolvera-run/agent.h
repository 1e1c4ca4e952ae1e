// The agent's side of a job's life: reg on the main thread, then compile,
// run as often as asked, stop and unreg on worker threads.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "options.h"
#include "ravlin.h"
#include "ztolvera.h"

class Session;

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

// A step that outlived --timeout.
struct Hang {
    unsigned long jobno = 0;
    std::wstring name;
    const char* step = "";
    unsigned run = 0;            // run number, for the run step
};

// Runs done and runs still to come, for the status line.
struct Progress {
    std::atomic<unsigned> done{0};
    std::atomic<unsigned> planned{0};
};

// pwdobj of run k of job J.
inline unsigned long pwdobjOf(unsigned long jobno, unsigned run) { return jobno * 1000 + run; }

struct Drive {
    ITolvera* host = nullptr;
    Session* session = nullptr;
    Progress* progress = nullptr;
    HANDLE stop = nullptr;               // set: no further run starts
    std::function<void()> tick;          // on the calling thread, ten times a second
};

// Drives every job to its end: without --every a free worker takes the next
// job and runs it as often as asked; with --every each job stays on one
// worker (job i on worker i mod --threads) and run k starts at the
// schedule's origin plus (k-1) intervals, or as soon as run k-1 has ended
// when that is later. False when a step is still going after the timeout:
// then `hang` names it and the workers are left running, so the caller must
// end the process without touching `jobs` or `host` again.
bool driveJobs(const Drive& drive, std::vector<Job>& jobs, const Options& options, Hang& hang);
