#include "module.h"

namespace {
volatile LONG g_lockCount = 0;
HMODULE g_module = nullptr;
}  // namespace

void moduleLock() { InterlockedIncrement(&g_lockCount); }
void moduleUnlock() { InterlockedDecrement(&g_lockCount); }
LONG moduleLockCount() { return InterlockedCompareExchange(&g_lockCount, 0, 0); }
HMODULE moduleHandle() { return g_module; }
void setModuleHandle(HMODULE module) { g_module = module; }
