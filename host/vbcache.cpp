#include "vbcache.h"

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "memory.h"

namespace {
// Read on every script-side call, so without a lock; written under the
// creation lock.
std::atomic<vbcache*> g_cache{nullptr};
CriticalSection& creationLock() {
    static CriticalSection cs;
    return cs;
}
}  // namespace

vbcache* vbcache::acquire() {
    Lock guard(creationLock());
    if (!g_cache.load()) {
        g_cache.store(new (std::nothrow) vbcache);
        setThreadActivations(g_cache.load());
    }
    return g_cache.load();
}

vbcache* vbcache::current() { return g_cache.load(std::memory_order_acquire); }

void vbcache::destroy() {
    vbcache* cache;
    {
        Lock guard(creationLock());
        cache = g_cache.exchange(nullptr);
        setThreadActivations(nullptr);
    }
    delete cache;
}

namespace {
void freeEntry(cacheEntry* entry) {
    std::free(entry->jobname);
    std::free(entry);
}
}  // namespace

vbcache::~vbcache() {
    while (head_) {
        cacheEntry* next = head_->next;
        freeEntry(head_);
        head_ = next;
    }
}

cacheEntry* vbcache::add(unsigned long jobid, const wchar_t* jobname, ImpJob* jobobj, IActiveScript* engine) {
    auto* entry = static_cast<cacheEntry*>(memory::allocateZeroed(1, sizeof(cacheEntry)));
    if (!entry) return nullptr;
    entry->engine = engine;
    entry->jobid = jobid;
    entry->jobobj = jobobj;
    entry->thread = GetCurrentThreadId();
    entry->jobname = memory::duplicate(jobname && *jobname ? jobname : L"?");
    if (!entry->jobname) {
        freeEntry(entry);
        return nullptr;
    }
    Lock guard(lock_);
    try {
        index_.insert(entry);
    } catch (const std::bad_alloc&) {
        freeEntry(entry);
        return nullptr;
    }
    // Newest first, but behind every job whose code runs on this thread now
    // (a run, or a compile or close inside one): a job that an agent
    // registers from inside a script's call must not take their calls and
    // errors for its own. They need not be at the head: another thread may
    // have put its own job there since. Such jobs are few (one per thread
    // at most, nested calls aside), so the walk ends once it has met them.
    cacheEntry* before = nullptr;
    int seen = 0;
    for (cacheEntry* e = head_; e && seen < active_; e = e->next) {
        if (!isActive(e)) continue;
        ++seen;
        if (e->thread == entry->thread && (e->running || e->boundBy == entry->thread)) before = e;
    }
    entry->prev = before;
    entry->next = before ? before->next : head_;
    (entry->next ? entry->next->prev : tail_) = entry;
    (before ? before->next : head_) = entry;
    ++count_;
    return entry;
}

void vbcache::remove(cacheEntry* cacheidx) {
    cacheEntry* entry;
    {
        Lock guard(lock_);
        entry = listed(cacheidx);
        if (!entry) return;
        if (entry->prev) entry->prev->next = entry->next;
        if (entry->next) entry->next->prev = entry->prev;
        if (head_ == entry) head_ = entry->next;
        if (tail_ == entry) tail_ = entry->prev;
        --count_;
        if (isActive(entry)) --active_;
        index_.erase(entry);
        if (entry->ending) --ending_;
    }
    freeEntry(entry);
}

cacheEntry* vbcache::find(cacheEntry* cacheidx) {
    Lock guard(lock_);
    return listed(cacheidx);
}

int vbcache::attach(cacheEntry* cacheidx, unsigned long pwdobj) {
    Lock guard(lock_);
    cacheEntry* entry = listed(cacheidx);
    if (!entry) return 0;
    entry->pwdobj = pwdobj;
    entry->thread = GetCurrentThreadId();
    setActivity(entry, 1, entry->boundBy);
    clearEndMarks(entry);
    moveToHead(entry);
    return 1;
}

int vbcache::detach(cacheEntry* cacheidx) {
    Lock guard(lock_);
    cacheEntry* entry = listed(cacheidx);
    if (!entry) return 0;
    entry->pwdobj = 0;
    entry->thread = 0;
    setActivity(entry, 0, entry->boundBy);
    clearEndMarks(entry);
    return 1;
}

bool vbcache::bindForScriptCode(cacheEntry* cacheidx, DWORD& previous) {
    Lock guard(lock_);
    cacheEntry* entry = listed(cacheidx);
    if (!entry || entry->running || entry->boundBy) return false;
    previous = entry->thread;
    entry->thread = GetCurrentThreadId();
    setActivity(entry, 0, entry->thread);
    clearEndMarks(entry);
    moveToHead(entry);
    return true;
}

void vbcache::unbindAfterScriptCode(cacheEntry* cacheidx, DWORD previous) {
    Lock guard(lock_);
    cacheEntry* entry = listed(cacheidx);
    if (!entry || entry->boundBy != GetCurrentThreadId()) return;
    setActivity(entry, entry->running, 0);
    // A run attached meanwhile owns the binding now.
    if (entry->running || entry->thread != GetCurrentThreadId()) return;
    entry->thread = previous;
    clearEndMarks(entry);
    // The compile put the job ahead of every other. The thread it gets back
    // may be running (or compiling) another job right now, whose calls must
    // not find this one first: a binding given back ranks behind all others.
    if (previous) moveToTail(entry);
}

DWORD vbcache::scriptCodeThread(cacheEntry* cacheidx) {
    Lock guard(lock_);
    cacheEntry* entry = listed(cacheidx);
    return entry ? entry->boundBy : 0;
}

void vbcache::markCompiled(cacheEntry* cacheidx) {
    Lock guard(lock_);
    if (cacheEntry* entry = listed(cacheidx)) entry->compiled = 1;
}

int vbcache::abortFlag(cacheEntry* cacheidx) {
    Lock guard(lock_);
    cacheEntry* entry = listed(cacheidx);
    return entry ? entry->aborted : 0;
}

void vbcache::setEngine(cacheEntry* cacheidx, IActiveScript* engine) {
    Lock guard(lock_);
    if (cacheEntry* entry = listed(cacheidx)) entry->engine = engine;
}

std::wstring vbcache::jobName(cacheEntry* cacheidx) {
    Lock guard(lock_);
    cacheEntry* entry = listed(cacheidx);
    return entry ? entry->jobname : L"?";
}

int vbcache::jobRefForThread(ImpJob** jobobj, unsigned long* pwdobj) {
    if (!jobobj && !pwdobj) return 0;
    if (jobobj) *jobobj = nullptr;
    if (pwdobj) *pwdobj = 0;
    Lock guard(lock_);
    cacheEntry* entry = forThread();
    if (!entry) return 0;
    if (jobobj) *jobobj = entry->jobobj;
    if (pwdobj) *pwdobj = entry->pwdobj;
    return 1;
}

IActiveScript* vbcache::engineForThread() {
    Lock guard(lock_);
    cacheEntry* entry = forThread();
    return entry ? entry->engine : nullptr;
}

void vbcache::markAbortForThread() {
    Lock guard(lock_);
    if (cacheEntry* entry = forThread()) entry->aborted = 1;
}

void vbcache::markEndingForThread() {
    Lock guard(lock_);
    cacheEntry* entry = forThread();
    if (entry && !entry->ending) {
        entry->ending = 1;
        ++ending_;
    }
}

void vbcache::markEnding(cacheEntry* cacheidx) {
    Lock guard(lock_);
    cacheEntry* entry = listed(cacheidx);
    if (entry && isActive(entry) && !entry->ending) {
        entry->ending = 1;
        ++ending_;
    }
}

int vbcache::endingForThread() {
    // Every call into ScpExt asks; almost always no run anywhere is ending.
    if (ending_.load(std::memory_order_acquire) == 0) return 0;
    Lock guard(lock_);
    cacheEntry* entry = forThread();
    return entry ? entry->ending : 0;
}

int vbcache::compiledForThread() {
    Lock guard(lock_);
    cacheEntry* entry = forThread();
    return entry ? entry->compiled : 0;
}

int vbcache::count() {
    Lock guard(lock_);
    return count_;
}

int vbcache::activeCount() {
    Lock guard(lock_);
    return active_;
}

// An abort or a stop ends one run (or one compile's global code); the job's
// next compile and next run start unaborted and unended, so that neither is
// refused for what an earlier one did, and a failure is reported as one.
void vbcache::setActivity(cacheEntry* entry, int running, DWORD boundBy) {
    bool was = isActive(entry);
    entry->running = running;
    entry->boundBy = boundBy;
    active_ += static_cast<int>(isActive(entry)) - static_cast<int>(was);
}

void vbcache::clearEndMarks(cacheEntry* entry) {
    entry->aborted = 0;
    if (entry->ending) --ending_;
    entry->ending = 0;
}

cacheEntry* vbcache::listed(cacheEntry* cacheidx) {
    return index_.count(cacheidx) ? cacheidx : nullptr;
}

// Jobs registered later on a thread still carry it; the job attached or
// compiled there must answer lookups before them, or its calls and errors
// would go to another job.
void vbcache::moveToHead(cacheEntry* entry) {
    if (entry == head_) return;
    if (entry == tail_) tail_ = entry->prev;
    entry->prev->next = entry->next;
    if (entry->next) entry->next->prev = entry->prev;
    entry->prev = nullptr;
    entry->next = head_;
    head_->prev = entry;
    head_ = entry;
}

void vbcache::moveToTail(cacheEntry* entry) {
    if (entry == tail_) return;
    (entry->prev ? entry->prev->next : head_) = entry->next;
    entry->next->prev = entry->prev;
    entry->prev = tail_;
    entry->next = nullptr;
    tail_->next = entry;
    tail_ = entry;
}

cacheEntry* vbcache::forThread() {
    DWORD self = GetCurrentThreadId();
    for (cacheEntry* e = head_; e; e = e->next)
        if (e->thread == self) return e;
    return nullptr;
}
