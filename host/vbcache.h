// The process-wide job-context cache: for every registered job, what its
// running script needs, and which thread the job is bound to. Script-side
// calls find their job by the calling thread.
#pragma once

#include <windows.h>
#include <activscp.h>

#include "activation.h"
#include "owners.h"
#include "ravlin.h"

#include <atomic>
#include <string>
#include <unordered_set>

struct cacheEntry {
    IActiveScript* engine;      // not counted here: the script entry owns it
    unsigned long jobid;
    wchar_t* jobname;           // owned, from the C runtime heap; "?" when none given
    ImpJob* jobobj;             // the agent's, not owned
    unsigned long pwdobj;       // 0 outside a run
    DWORD thread;               // registering thread, then the running one, 0 after a run
    int compiled;
    int aborted;                // this run (or compile) ended itself; cleared when it is over
    int running;                // a run is attached (between attach and detach)
    int ending;                 // this run is being ended through its dispatch calls; likewise
    DWORD boundBy;              // the thread running the job's code outside a run, 0 if none
    cacheEntry* prev;
    cacheEntry* next;
};

// A cacheidx is only ever compared with the addresses of listed entries, so a
// stale or invented value finds nothing and is never dereferenced.
class vbcache final : public ThreadActivations {
public:
    // The one cache of the process, created by the first host; null when it
    // could not be allocated. Later hosts share it, so that the jobs of every
    // host stay reachable.
    static vbcache* acquire();
    // The cache if one exists, else null.
    static vbcache* current();
    // Releases the cache and its entries when the module unloads.
    static void destroy();

    cacheEntry* add(unsigned long jobid, const wchar_t* jobname, ImpJob* jobobj, IActiveScript* engine);
    void remove(cacheEntry* cacheidx);
    cacheEntry* find(cacheEntry* cacheidx);
    int attach(cacheEntry* cacheidx, unsigned long pwdobj);
    int detach(cacheEntry* cacheidx);
    // Binds the job to the calling thread while the host has the engine run
    // the job's script code outside a run: a compile's global code, and the
    // Class_Terminate of its objects when its engine is closed. Its calls and
    // errors then reach this job from whichever thread does it, ahead of jobs
    // registered later on that thread. A job whose run is attached keeps its
    // run's binding, and a job whose code runs outside a run already keeps
    // that binding (a stop from a watchdog during a compile must neither move
    // the compile's calls nor lift its abort). False when nothing was bound;
    // `previous` is the thread to give back when the code is done.
    bool bindForScriptCode(cacheEntry* cacheidx, DWORD& previous);
    void unbindAfterScriptCode(cacheEntry* cacheidx, DWORD previous);
    // The thread running the job's code outside a run, 0 if none.
    DWORD scriptCodeThread(cacheEntry* cacheidx);
    void markCompiled(cacheEntry* cacheidx);
    int abortFlag(cacheEntry* cacheidx);
    // Replaces the engine recorded for a job, when the host had to give the
    // job a new one.
    void setEngine(cacheEntry* cacheidx, IActiveScript* engine);
    // Copy of the job's name, for log lines; "?" when the entry is gone.
    std::wstring jobName(cacheEntry* cacheidx);

    // ThreadActivations. The ending mark is set when the run's engine could
    // not be interrupted, and cleared by attach and detach.
    int jobRefForThread(ImpJob** jobobj, unsigned long* pwdobj) override;
    IActiveScript* engineForThread() override;
    void markAbortForThread() override;
    void markEndingForThread() override;
    // The same for the run attached to a job, or its code running outside a
    // run, asked from any thread (stop).
    void markEnding(cacheEntry* cacheidx);
    int endingForThread() override;
    int compiledForThread();

    int count();
    // Entries whose run is attached or whose code runs outside a run.
    int activeCount();

private:
    vbcache() = default;
    ~vbcache();
    cacheEntry* listed(cacheEntry* cacheidx);   // under the lock
    cacheEntry* forThread();                    // under the lock
    void moveToHead(cacheEntry* entry);         // under the lock
    void moveToTail(cacheEntry* entry);         // under the lock
    void clearEndMarks(cacheEntry* entry);      // under the lock
    // A run is attached, or the job's code runs outside a run; active_
    // counts such entries, so both fields change only through setActivity.
    static bool isActive(const cacheEntry* e) { return e->running || e->boundBy; }
    void setActivity(cacheEntry* entry, int running, DWORD boundBy);   // under the lock

    CriticalSection lock_;
    std::atomic<int> ending_{0};                // entries whose run is ending
    int count_ = 0;
    int active_ = 0;                            // entries that are isActive
    cacheEntry* head_ = nullptr;
    cacheEntry* tail_ = nullptr;
    // The listed entries, so that a cacheidx is checked without a walk.
    std::unordered_set<const cacheEntry*> index_;
};
