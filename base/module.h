// Module-wide state shared by the DLL's objects: the lock count that keeps
// the DLL loaded while any of its objects, server locks or class-object
// references live.
#pragma once

#include <windows.h>

void moduleLock();
void moduleUnlock();
LONG moduleLockCount();
// The DLL's own module handle (set at process attach).
HMODULE moduleHandle();
void setModuleHandle(HMODULE module);
