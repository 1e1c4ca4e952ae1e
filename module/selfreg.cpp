// Self-registration exports: the class keys from the REGISTRY 101 script and
// the type library from the DLL's own TYPELIB resource.
#include <windows.h>

#include "module.h"
#include "registration.h"

extern "C" HRESULT WINAPI DllRegisterServer() { return RegisterServer(moduleHandle()); }

extern "C" HRESULT WINAPI DllUnregisterServer() { return UnregisterServer(moduleHandle()); }
