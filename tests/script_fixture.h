// End-to-end fixture: runs a VBScript text as one job's script down to the
// stand-in agent core and hands back what the core recorded.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "standin.h"

// The journal since the last reset, one JSON object per line, each without
// its "seq" member, so that tests compare content and order only. The
// host's own trace lines ("Tolvera-...", "CTolvera-...") are left out: this
// is what the script caused (core calls, script errors and their reports,
// the extension object's lines).
std::vector<std::string> journal();
// The journal lines of core calls to `op` only (also sendScpException).
std::vector<std::string> calls(const std::string& op);
// The journal's trace lines, as their texts, the host's own left out.
std::vector<std::string> traces();

// Of each line of journal() that records `op` (a core call or
// sendScpException), the argument of its parameter `param`: a text escaped
// as the journal shows it, a number as written; null arguments left out.
std::vector<std::string> arguments(const std::string& op, const char* param);
// The job number of a journal line, or 0 when it has none.
unsigned long jobOfLine(const std::string& line);

// The whole journal and every trace text, the host's own lines included.
std::vector<std::string> fullJournal();
std::vector<std::string> allTraces();

struct ScriptResult {
    HRESULT compile = E_FAIL;   // the parse of the script text
    HRESULT run = E_FAIL;       // the call of main (S_OK when it returned)
    VARIANT_BOOL ret = 0;       // run's ret
};

// Runs `script` as job `jobno` the way the agent does, through a host of its
// own made by the class object: reg with the job object (name "test"),
// compile with "NULL" so that the text comes from the job object, run once
// with `pwdobj`, unreg. COM, the type library and the companion are set up
// on first use; the stand-in is not reset.
ScriptResult runScript(const std::wstring& script, unsigned long jobno = 1, unsigned long pwdobj = 1001);

// Brings COM up on the calling thread (multithreaded) and registers the type
// library of zTolvera.dll and the companion ScpWin32Ext.dll, once per process.
void setUpComForTests();

// A new host through the class object of the module's code linked into the
// test (so that host and extension object share the threads' activations);
// the caller releases it. Null when it could not be created.
struct ITolvera;
ITolvera* createHost();
