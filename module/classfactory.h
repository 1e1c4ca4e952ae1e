// The class object table and the class object that creates Tolvera hosts.
// The DLL's exports forward here; tests call the same code linked in.
#pragma once

#include <windows.h>
#include <ole2.h>

// DllGetClassObject: the cached class object of a class in the table.
HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** ppv);
// DllCanUnloadNow: S_OK only when nothing holds the module.
HRESULT canUnloadNow();
// Process detach: releases the cached class objects and runs the classes'
// stop hooks.
void releaseClassObjects();
