// The runner's side of the jobs: it starts the child process that runs them
// (child.h), keeps what the child tells (stream.h) and writes the journal
// from it line by line, watches for a step that outlives --timeout, and
// tells a crash of the child from its end. Whatever ends a child early, the
// jobs it had not started go on in a fresh child.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "console.h"
#include "journal.h"
#include "options.h"
#include "scenario.h"
#include "session.h"
#include "timeline.h"

struct Supervision {
    const Options* options = nullptr;
    const Scenario* scenario = nullptr;         // handed to each child, parsed
    const std::vector<std::wstring>* texts = nullptr;   // the jobs' scripts, as read
    Session* session = nullptr;
    JournalTarget* journal = nullptr;
    Console* console = nullptr;
    HANDLE stop = nullptr;                      // Ctrl-C: no further job or run starts
    HANDLE abort = nullptr;                     // a second Ctrl-C: the runs in progress end now
    std::function<void(const Seen&)> eachLine;  // the calls log (may be empty)
    std::function<void()> tick;                 // ten times a second or more
};

struct Ending {
    bool crashed = false;        // a child ended by a fault
    bool hung = false;           // a step outlived --timeout
    bool fatal = false;          // a child could not run its jobs at all
    bool interrupted = false;    // the runs in progress were ended by `abort`
    bool journalFailed = false;
};

// Runs every job of the timeline (numbered 1..n in order) to its end,
// folding into it what the children tell and the fate of a job that a crash
// or a hang ended or left unstarted.
Ending superviseJobs(const Supervision& supervision, Timeline& timeline);
