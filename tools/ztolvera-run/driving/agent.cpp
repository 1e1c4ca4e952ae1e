#include "agent.h"

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "format.h"
#include "journal.h"
#include "owners.h"
#include "session.h"
#include "standin.h"

namespace {

// What one worker is doing, read by the hang watch on the main thread.
struct Worker {
    std::mutex lock;
    Job* job = nullptr;
    Step step = Step::None;
    unsigned run = 0;

    void enter(const Drive& drive, Job* j, Step s, unsigned r = 0,
               std::chrono::steady_clock::time_point slotEnd = {}) {
        Doing doing{j->jobno, s, r};
        Session::setDoing(doing);
        {
            std::lock_guard<std::mutex> g(lock);
            job = j, step = s, run = r;
        }
        if (drive.began) drive.began(doing, slotEnd);
    }
    void leave() {
        Session::setDoing(Doing{});
        std::lock_guard<std::mutex> g(lock);
        job = nullptr;
    }
};

using Clock = std::chrono::steady_clock;

struct Shared {
    const Drive* drive = nullptr;
    std::vector<Job>* jobs = nullptr;
    const Options* options = nullptr;
    unsigned workers = 1;
    Clock::time_point origin;            // when run 1 of every job is due, with --every
    std::atomic<std::size_t> next{0};

    // Waits until `due` or until stopped; true when stopped.
    bool stopped(Clock::time_point due = Clock::time_point()) const {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        DWORD ms = wait > 0 ? static_cast<DWORD>(wait) : 0;
        return drive->stop && WaitForSingleObject(drive->stop, ms) == WAIT_OBJECT_0;
    }
};

void compileJob(Shared& shared, Job& job, Worker& worker) {
    // "NULL": the host takes the text from the job object, as for the agent.
    Bstr fromJob(L"NULL");
    worker.enter(*shared.drive, &job, Step::Compile);
    HRESULT hr = shared.drive->host->compile(job.cookie, fromJob.get());
    noteHost(job.jobno, "compile", hr);
    job.compiled = hr == S_OK;
}

void runJob(Shared& shared, Job& job, Worker& worker, Clock::time_point slotEnd = {}) {
    unsigned k = job.runs + 1;
    VARIANT_BOOL ret = 0;
    worker.enter(*shared.drive, &job, Step::Run, k, slotEnd);
    standin_beginRun(job.jobno, k);
    HRESULT hr = shared.drive->host->run(job.cookie, jnl::pwdobjOf(job.jobno, k), &ret);
    noteRun(job.jobno, hr, ret);
    ++job.runs;
    if (hr == S_OK && ret) ++job.succeeded;
}

void finishJob(Shared& shared, Job& job, Worker& worker) {
    worker.enter(*shared.drive, &job, Step::Stop);
    noteHost(job.jobno, "stop", shared.drive->host->stop(job.cookie));
    worker.enter(*shared.drive, &job, Step::Unreg);
    noteHost(job.jobno, "unreg", shared.drive->host->unreg(job.cookie));
    worker.leave();
}

// Runs back to back; stopping leaves the rest of the runs out, and a job
// not compiled yet is not started at all.
void driveJob(Shared& shared, Job& job, Worker& worker) {
    if (!shared.stopped()) compileJob(shared, job, worker);
    while (job.compiled && job.runs < shared.options->runs && !shared.stopped()) runJob(shared, job, worker);
    finishJob(shared, job, worker);
}

// This worker's jobs on their schedule: always the job whose next run is
// due first, so that a run that overran only delays what came after it.
void driveScheduled(Shared& shared, unsigned self, Worker& worker) {
    std::vector<Job*> mine;
    for (std::size_t i = self; i < shared.jobs->size(); i += shared.workers)
        if ((*shared.jobs)[i].registered) mine.push_back(&(*shared.jobs)[i]);
    for (Job* job : mine) compileJob(shared, *job, worker);
    worker.leave();
    const auto every = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(shared.options->everySeconds));
    for (;;) {
        Job* next = nullptr;
        Clock::time_point due;
        for (Job* job : mine) {
            if (!job->compiled || job->runs >= shared.options->runs) continue;
            Clock::time_point at = shared.origin + every * job->runs;
            if (!next || at < due) next = job, due = at;
        }
        if (!next || shared.stopped(due)) break;
        runJob(shared, *next, worker, due + every);
        worker.leave();
    }
    for (Job* job : mine) finishJob(shared, *job, worker);
}

struct WorkerThread {
    Shared* shared;
    unsigned index;
    Worker worker;
};

DWORD WINAPI workerMain(void* param) {
    auto* self = static_cast<WorkerThread*>(param);
    Shared& shared = *self->shared;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (shared.options->everySeconds > 0) {
        driveScheduled(shared, self->index, self->worker);
    } else {
        for (std::size_t i; (i = shared.next++) < shared.jobs->size();) {
            Job& job = (*shared.jobs)[i];
            if (job.registered) driveJob(shared, job, self->worker);
        }
    }
    CoUninitialize();
    return 0;
}

// A worker whose thread ended while it was inside a step.
bool lostIn(WorkerThread& thread, HANDLE handle, LostWorker& lost) {
    Worker& w = thread.worker;
    std::lock_guard<std::mutex> g(w.lock);
    if (!w.job) return false;
    DWORD code = 0;
    GetExitCodeThread(handle, &code);
    lost = LostWorker{w.job->jobno, w.step, w.run, code};
    return true;
}

}  // namespace

bool driveJobs(const Drive& drive, std::vector<Job>& jobs, const Options& options, LostWorker& lost) {
    for (Job& job : jobs) {
        vsinfo info = {job.jobno, job.name.data(), static_cast<ULONG>(reinterpret_cast<UINT_PTR>(job.object))};
        Doing doing{job.jobno, Step::Reg, 0};
        Session::setDoing(doing);
        if (drive.began) drive.began(doing, {});
        HRESULT hr = drive.host->reg(info, &job.cookie);
        noteHost(job.jobno, "reg", hr);
        job.registered = hr == S_OK;
    }
    Session::setDoing(Doing{});

    // Owned here until a worker is lost: then the others keep using it
    // until the process ends.
    auto shared = std::make_unique<Shared>();
    shared->drive = &drive;
    shared->jobs = &jobs;
    shared->options = &options;
    shared->workers = options.threads;
    shared->origin = Clock::now();
    std::vector<std::unique_ptr<WorkerThread>> threads;
    std::vector<HANDLE> handles;
    for (unsigned i = 0; i < options.threads; ++i) {
        threads.push_back(std::make_unique<WorkerThread>());
        threads.back()->shared = shared.get();
        threads.back()->index = i;
        HANDLE h = CreateThread(nullptr, 0, workerMain, threads.back().get(), CREATE_SUSPENDED, nullptr);
        if (!h) {
            threads.pop_back();
            break;
        }
        handles.push_back(h);
    }
    // Without any worker the jobs still run, on this thread.
    if (handles.empty()) {
        shared->workers = 1;
        WorkerThread self{shared.get(), 0, {}};
        workerMain(&self);
        return true;
    }
    // Jobs are dealt to the workers that exist.
    shared->workers = static_cast<unsigned>(handles.size());
    for (HANDLE h : handles) ResumeThread(h);

    std::vector<WorkerThread*> running;
    for (auto& t : threads) running.push_back(t.get());
    while (!handles.empty()) {
        DWORD wait = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
        std::size_t i = wait - WAIT_OBJECT_0;
        if (i >= handles.size()) break;
        if (lostIn(*running[i], handles[i], lost)) {
            // The others may still be inside the engine: nothing may be released.
            for (auto& t : threads) t.release();
            shared.release();
            return false;
        }
        CloseHandle(handles[i]);
        handles.erase(handles.begin() + i);
        running.erase(running.begin() + i);
    }
    return true;
}
