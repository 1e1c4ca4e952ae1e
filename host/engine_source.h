// Where the host's script engines come from: the platform's engine of the
// class that ProgID "vbs" names. Tests may put a factory of their own in
// between (for example one that wraps the real engine and fails a chosen
// call); in the shipped DLL nobody does.
#pragma once

#include <windows.h>
#include <activscp.h>

using EngineFactory = HRESULT (*)(REFCLSID engineClass, IActiveScript** engine);

HRESULT createEngine(REFCLSID engineClass, IActiveScript** engine);

// Tests only: null gives the platform's engine again.
void setEngineFactory(EngineFactory factory);
