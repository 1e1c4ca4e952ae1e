#include "activation.h"

#include <atomic>

namespace {
std::atomic<ThreadActivations*> g_source{nullptr};
}  // namespace

ThreadActivations* threadActivations() { return g_source.load(std::memory_order_acquire); }
void setThreadActivations(ThreadActivations* source) { g_source.store(source, std::memory_order_release); }
