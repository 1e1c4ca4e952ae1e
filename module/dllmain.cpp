// The DLL's entry point and its four exports.
#include <windows.h>
#include <ole2.h>

#include "classfactory.h"
#include "module.h"
#include "scpext.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        setModuleHandle(instance);
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        releaseClassObjects();
        releaseScpExtTypeInfo();
        break;
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return canUnloadNow(); }

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return getClassObject(clsid, riid, ppv);
}

// DllRegisterServer and DllUnregisterServer are in selfreg.cpp.
