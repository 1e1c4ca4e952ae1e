// The DLL's entry point and its four exports.
#include <windows.h>
#include <ole2.h>

#include "module.h"
#include "scpext.h"
#include "vbcache.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        setModuleHandle(instance);
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        releaseScpExtTypeInfo();
        vbcache::destroy();
        break;
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return moduleLockCount() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

// DllRegisterServer and DllUnregisterServer are in selfreg.cpp.
