// Waiting, the jobs' critical section and counted locks.
//
// Waits sleep for their interval in milliseconds, capped at 50 ms so tests
// stay fast unless standin_setWaitLimit says otherwise, and report the abort flag set for the operation. The critical
// section is a real one, reentrant for the thread inside: a second job
// entering it waits until the first leaves. Entering is journaled once inside
// and leaving before the section is given up, so the journal's order of
// MCEnterCS and MCExitCS lines is the order in which jobs held the section.
// An MCEnterCS told to fail or abort does not enter. Lock counts are kept per
// component: AcquireLock adds one, SampleLock reports the count and answers 1
// when it differs from the caller's old count, 0 when it does not.
#include "record.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>

using namespace standin;

namespace {

void sleepCapped(long ms) {
    long limit = waitLimit();
    Sleep(static_cast<DWORD>(std::clamp(ms, 0L, limit < 0 ? LONG_MAX : limit)));
}

struct JobsSection {
    std::mutex lock;
    std::condition_variable freed;
    DWORD owner = 0;
    int depth = 0;
};

JobsSection& jobsSection() {
    static JobsSection cs;
    return cs;
}

struct Locks {
    std::mutex lock;
    std::map<unsigned long, unsigned long> counts;
};

Locks& locks() {
    static Locks l;
    return l;
}

}  // namespace

void resetWaitStores() {
    {
        Locks& l = locks();
        std::lock_guard<std::mutex> g(l.lock);
        l.counts.clear();
    }
    // A test that left the section entered must not block the next one.
    JobsSection& cs = jobsSection();
    {
        std::lock_guard<std::mutex> g(cs.lock);
        cs.owner = 0;
        cs.depth = 0;
    }
    cs.freed.notify_all();
}

int ravlinapi::MCSleep(_zjobcxt* cxt, long intv, int noabort, int* abort) {
    Call c(coreops::row("MCSleep"), cxt);
    c.arg(intv).arg(noabort);
    sleepCapped(intv);
    if (abort) *abort = c.abortFlag();
    c.out(abort);
    return c.finish(c.result(1));
}

int ravlinapi::MCWaitForObject(_zjobcxt* cxt, long waitintv, void* hobj, int noabort, int* abort,
                               int reserved) {
    Call c(coreops::row("MCWaitForObject"), cxt);
    c.arg(waitintv).arg(static_cast<long>(reinterpret_cast<intptr_t>(hobj))).arg(noabort);
    sleepCapped(waitintv);
    if (abort) *abort = c.abortFlag();
    c.out(abort).arg(reserved);
    return c.finish(c.result(1));
}

int ravlinapi::MCWaitForObjectOffline(_zjobcxt* cxt, long waitintv, void* hobj, int noabort,
                                      int* abort) {
    Call c(coreops::row("MCWaitForObjectOffline"), cxt);
    c.arg(waitintv).arg(static_cast<long>(reinterpret_cast<intptr_t>(hobj))).arg(noabort);
    sleepCapped(waitintv);
    if (abort) *abort = c.abortFlag();
    c.out(abort);
    return c.finish(c.result(1));
}

int ravlinapi::MCEnterCS(_zjobcxt* cxt, int* abort) {
    Call c(coreops::row("MCEnterCS"), cxt);
    long r = c.result(1);
    if (abort) *abort = c.abortFlag();
    if (r && !(abort && *abort)) {
        JobsSection& cs = jobsSection();
        std::unique_lock<std::mutex> g(cs.lock);
        DWORD self = GetCurrentThreadId();
        cs.freed.wait(g, [&] { return cs.owner == 0 || cs.owner == self; });
        cs.owner = self;
        ++cs.depth;
    }
    c.out(abort);
    return c.finish(r);
}

int ravlinapi::MCExitCS(_zjobcxt* cxt) {
    Call c(coreops::row("MCExitCS"), cxt);
    long r = c.result(1);
    JobsSection& cs = jobsSection();
    {
        std::lock_guard<std::mutex> g(cs.lock);
        bool inside = cs.owner == GetCurrentThreadId();
        if (!inside) r = 0;                                  // not entered by this thread
        c.finish(r);
        if (inside && --cs.depth == 0) cs.owner = 0;
    }
    cs.freed.notify_all();
    return r;
}

int ravlinapi::SampleLock(_zjobcxt* cxt, unsigned long component, unsigned long oldCount,
                          unsigned long* newCount) {
    Call c(coreops::row("SampleLock"), cxt);
    c.arg(component).arg(oldCount);
    unsigned long now;
    {
        Locks& l = locks();
        std::lock_guard<std::mutex> g(l.lock);
        now = l.counts[component];
    }
    if (newCount) *newCount = now;
    c.out(newCount);
    return c.finish(c.result(now != oldCount ? 1 : 0));
}

int ravlinapi::AcquireLock(_zjobcxt* cxt, unsigned long component) {
    Call c(coreops::row("AcquireLock"), cxt);
    c.arg(component);
    {
        Locks& l = locks();
        std::lock_guard<std::mutex> g(l.lock);
        ++l.counts[component];
    }
    return c.finish(c.result(1));
}
