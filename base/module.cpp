#include "module.h"

#include <oleauto.h>

#include "ztolvera.h"

namespace {
// The library is registered under its own locale, U.S. English.
constexpr LCID kLibraryLocale = 0x409;
volatile LONG g_lockCount = 0;
HMODULE g_module = nullptr;
}  // namespace

void moduleLock() { InterlockedIncrement(&g_lockCount); }
void moduleUnlock() { InterlockedDecrement(&g_lockCount); }
LONG moduleLockCount() { return InterlockedCompareExchange(&g_lockCount, 0, 0); }
HMODULE moduleHandle() { return g_module; }
void setModuleHandle(HMODULE module) { g_module = module; }

HRESULT loadTypeLibrary(ITypeLib** lib) {
    if (!lib) return E_POINTER;
    *lib = nullptr;
    if (g_module) {
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH && SUCCEEDED(LoadTypeLibEx(path, REGKIND_NONE, lib))) return S_OK;
    }
    return LoadRegTypeLib(LIBID_ZTOLVERALib, 1, 0, kLibraryLocale, lib);
}
