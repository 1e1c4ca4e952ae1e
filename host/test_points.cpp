#include "test_points.h"

#include <atomic>

namespace {
std::atomic<RunFoundHook> g_runFound{nullptr};
}  // namespace

void runFoundJob(ULONG cookie) {
    if (RunFoundHook hook = g_runFound.load(std::memory_order_relaxed)) hook(cookie);
}

void setRunFoundHook(RunFoundHook hook) { g_runFound.store(hook); }
