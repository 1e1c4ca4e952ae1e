// Ending a job's script early: at its own request (AbortScript,
// AbortScriptEx, MCAbort) or at the agent's (stop during a run), and the
// fallback for engines that cannot be interrupted.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "abort_marker.h"
#include "owners.h"

// Marks the calling thread's code aborted, so that its run counts as a
// success, and ending, so that each of its later calls is refused; and asks
// its engine to end the script with the abort marker exception, which the
// script site ignores.
void interruptScript();

// True while the calling thread's code is being ended (an abort, or stop,
// unreg or the host's release from any thread).
bool runIsEnding();

// The answer that ends a script from inside one of its dispatch calls: the
// abort marker in `excep` and DISP_E_EXCEPTION.
HRESULT endRun(EXCEPINFO* excep);

// A call of a run that is being ended: the wait methods still take their
// interval first, so that a script that goes on past each refused call
// (On Error Resume Next swallows the marker on some engines) does not turn
// its wait loop into a busy spin; then the run-ending answer. Each refusal
// leaves a trace line naming the member (from `names`) and the run's
// pwdobj: the agent core never sees the call, and whoever reads the trace
// learns that the script went on after its end.
HRESULT refuseWithinEndingRun(DISPID id, const DISPPARAMS* params, EXCEPINFO* excep, ITypeInfo* names);

// One ending rule for every engine: an abort call ends with the marker
// exception after the method ran, and every later call of code being ended
// ends so before the method runs, whether or not the engine took the
// interruption, so that a script that handles it (On Error Resume Next, or
// an engine that lets a script handle an interruption) reaches the agent
// core no more. Code that is not being ended takes the plain dispatch and
// writes no trace line.
template <class Dispatch>
HRESULT dispatchWithinRun(DISPID id, const DISPPARAMS* params, EXCEPINFO* excep, ITypeInfo* names, Dispatch&& dispatch) {
    if (runIsEnding()) return refuseWithinEndingRun(id, params, excep, names);
    HRESULT hr = dispatch();
    if (!runIsEnding()) return hr;
    // What the method's failure left in the EXCEPINFO gives way to the marker.
    if (hr == DISP_E_EXCEPTION) releaseExcepInfo(excep);
    return endRun(excep);
}
