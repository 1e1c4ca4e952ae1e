// End-to-end fixture: runs a VBScript text as one job's script down to the
// stand-in agent core and hands back what the core recorded.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "standin.h"

// The journal since the last reset, one JSON object per line, each without
// its "seq" member, so that tests compare content and order only.
std::vector<std::string> journal();
// The journal lines of core calls to `op` only (also sendScpException).
std::vector<std::string> calls(const std::string& op);
// The journal's trace lines, as their texts.
std::vector<std::string> traces();

struct ScriptResult {
    HRESULT compile = E_FAIL;   // the parse of the script text
    HRESULT run = E_FAIL;       // the call of main
    VARIANT_BOOL ret = 0;       // as run's ret would report it
};

// Registers `script` as job `jobno`, compiles it, runs its main once with
// `pwdobj` and forgets the job. COM and the type library are set up on first
// use; the stand-in is not reset.
ScriptResult runScript(const std::wstring& script, unsigned long jobno = 1, unsigned long pwdobj = 1001);

// Brings COM up on the calling thread (multithreaded) and registers the type
// library of zTolvera.dll, once per process.
void setUpComForTests();
