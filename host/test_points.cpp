#include "test_points.h"

#include <atomic>

namespace {
std::atomic<RunFoundHook> g_runFound{nullptr};
std::atomic<RunFoundHook> g_compileFound{nullptr};
}  // namespace

void runFoundJob(ULONG cookie) {
    if (RunFoundHook hook = g_runFound.load(std::memory_order_relaxed)) hook(cookie);
}

void setRunFoundHook(RunFoundHook hook) { g_runFound.store(hook); }

void compileFoundJob(ULONG cookie) {
    if (RunFoundHook hook = g_compileFound.load(std::memory_order_relaxed)) hook(cookie);
}

void setCompileFoundHook(RunFoundHook hook) { g_compileFound.store(hook); }
