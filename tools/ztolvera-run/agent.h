// The agent's side of a job's life: reg on the main thread, then compile,
// run as often as asked, stop and unreg on worker threads.
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "ravlin.h"
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

// A step that outlived --timeout.
struct Hang {
    unsigned long jobno = 0;
    std::wstring name;
    const char* step = "";
    unsigned run = 0;            // run number, for the run step
};

// pwdobj of run k of job J.
inline unsigned long pwdobjOf(unsigned long jobno, unsigned run) { return jobno * 1000 + run; }

// Drives every job to its end. False when a step is still going after the
// timeout: then `hang` names it and the workers are left running, so the
// caller must end the process without touching `jobs` or `host` again.
bool driveJobs(ITolvera* host, std::vector<Job>& jobs, const Options& options, Hang& hang);
