// Self-registration exports: the class keys from the REGISTRY 101 script and
// the type library from the DLL's own TYPELIB resource.
#include <windows.h>

#include "module.h"
#include "registration.h"

namespace {
// The registry script is read into standard containers; running out of
// memory there fails the export, never the process that called it.
template <class Step>
HRESULT withoutThrowing(Step&& step) noexcept {
    try {
        return step();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
}  // namespace

extern "C" HRESULT WINAPI DllRegisterServer() {
    return withoutThrowing([] { return RegisterServer(moduleHandle()); });
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    return withoutThrowing([] { return UnregisterServer(moduleHandle()); });
}
