#include "agent.h"

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "journal.h"
#include "owners.h"

namespace {

// What one worker is doing, read by the hang watch on the main thread.
struct Worker {
    std::mutex lock;
    Job* job = nullptr;
    const char* step = "";
    unsigned run = 0;
    DWORD since = 0;

    void enter(Job* j, const char* s, unsigned r = 0) {
        std::lock_guard<std::mutex> g(lock);
        job = j, step = s, run = r, since = GetTickCount();
    }
    void leave() {
        std::lock_guard<std::mutex> g(lock);
        job = nullptr;
    }
};

struct Shared {
    ITolvera* host = nullptr;
    std::vector<Job>* jobs = nullptr;
    unsigned runs = 0;
    std::atomic<std::size_t> next{0};
};

void driveJob(ITolvera* host, Job& job, unsigned runs, Worker& worker) {
    // "NULL": the host takes the text from the job object, as for the agent.
    Bstr fromJob(L"NULL");
    worker.enter(&job, "compile");
    HRESULT hr = host->compile(job.cookie, fromJob.get());
    noteHost(job.jobno, "compile", hr);
    job.compiled = hr == S_OK;
    // A job whose script did not compile has no main to run.
    for (unsigned k = 1; job.compiled && k <= runs; ++k) {
        VARIANT_BOOL ret = 0;
        worker.enter(&job, "run", k);
        hr = host->run(job.cookie, pwdobjOf(job.jobno, k), &ret);
        noteRun(job.jobno, hr, ret);
        ++job.runs;
        if (hr == S_OK && ret) ++job.succeeded;
    }
    worker.enter(&job, "stop");
    noteHost(job.jobno, "stop", host->stop(job.cookie));
    worker.enter(&job, "unreg");
    noteHost(job.jobno, "unreg", host->unreg(job.cookie));
    worker.leave();
}

struct WorkerThread {
    Shared* shared;
    Worker worker;
};

DWORD WINAPI workerMain(void* param) {
    auto* self = static_cast<WorkerThread*>(param);
    Shared& shared = *self->shared;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (std::size_t i; (i = shared.next++) < shared.jobs->size();) {
        Job& job = (*shared.jobs)[i];
        if (job.registered) driveJob(shared.host, job, shared.runs, self->worker);
    }
    CoUninitialize();
    return 0;
}

// The first worker whose step has lasted longer than `limit` milliseconds.
bool findHang(std::vector<std::unique_ptr<WorkerThread>>& threads, DWORD limit, Hang& hang) {
    for (auto& t : threads) {
        Worker& w = t->worker;
        std::lock_guard<std::mutex> g(w.lock);
        if (w.job && GetTickCount() - w.since > limit) {
            hang = Hang{w.job->jobno, w.job->name, w.step, w.run};
            return true;
        }
    }
    return false;
}

}  // namespace

bool driveJobs(ITolvera* host, std::vector<Job>& jobs, const Options& options, Hang& hang) {
    for (Job& job : jobs) {
        vsinfo info = {job.jobno, job.name.data(), static_cast<ULONG>(reinterpret_cast<UINT_PTR>(job.object))};
        HRESULT hr = host->reg(info, &job.cookie);
        noteHost(job.jobno, "reg", hr);
        job.registered = hr == S_OK;
    }

    // Owned here until a hang: then the workers keep using it until the
    // process ends.
    auto shared = std::make_unique<Shared>();
    shared->host = host;
    shared->jobs = &jobs;
    shared->runs = options.runs;
    std::vector<std::unique_ptr<WorkerThread>> threads;
    std::vector<HANDLE> handles;
    for (unsigned i = 0; i < options.threads; ++i) {
        threads.push_back(std::make_unique<WorkerThread>());
        threads.back()->shared = shared.get();
        HANDLE h = CreateThread(nullptr, 0, workerMain, threads.back().get(), 0, nullptr);
        if (!h) {
            threads.pop_back();
            break;
        }
        handles.push_back(h);
    }
    // Without any worker the jobs still run, on this thread.
    if (handles.empty()) {
        WorkerThread self{shared.get(), {}};
        workerMain(&self);
        return true;
    }

    DWORD limit = options.timeoutSeconds * 1000;
    bool finished = false;
    while (!finished) {
        DWORD wait = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE,
                                            limit ? 100 : INFINITE);
        finished = wait != WAIT_TIMEOUT;
        if (!finished && findHang(threads, limit, hang)) {
            // The hung thread cannot be stopped: the engine offers no way to
            // interrupt a script that never calls back into the host.
            for (auto& t : threads) t.release();
            shared.release();
            return false;
        }
    }
    for (HANDLE h : handles) CloseHandle(h);
    return true;
}
