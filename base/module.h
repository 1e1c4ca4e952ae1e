// Module-wide state shared by the DLL's objects: the lock count that keeps
// the DLL loaded while any of its objects, server locks or class-object
// references live.
#pragma once

#include <windows.h>
#include <oaidl.h>

void moduleLock();
void moduleUnlock();
LONG moduleLockCount();
// The DLL's own module handle (set at process attach).
HMODULE moduleHandle();
void setModuleHandle(HMODULE module);
// The type library that describes Tolvera and IScpExt, read from the DLL's
// own file, so that a copy registered elsewhere on the machine is never the
// one its objects answer from. Where this code is linked into another
// program (no module handle), the registered library stands in.
HRESULT loadTypeLibrary(ITypeLib** lib);
