// Ending a job's script early: at its own request (AbortScript,
// AbortScriptEx, MCAbort) or at the agent's (stop during a run), and the
// fallback for engines that cannot be interrupted.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "abort_marker.h"
#include "owners.h"

// Marks the calling thread's job aborted, so that its run counts as a
// success, and asks the job's engine to end the script with the abort marker
// exception, which the script site ignores. When the engine refuses, the run
// is ended through its dispatch calls instead (dispatchWithinRun).
void interruptScript();

// True while the calling thread's run is being ended by that fallback.
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

// Fallback for engines without InterruptScriptThread (the platform's VBScript
// engine answers E_NOTIMPL): an abort call whose interruption failed ends with
// the marker exception after the method ran, and so does every later call of
// the same run, before the method runs, so that a script under
// On Error Resume Next reaches the agent core no more. Runs that abort
// nothing, and engines that can be interrupted, take the plain dispatch and
// write no trace line.
template <class Dispatch>
HRESULT dispatchWithinRun(DISPID id, const DISPPARAMS* params, EXCEPINFO* excep, ITypeInfo* names, Dispatch&& dispatch) {
    if (runIsEnding()) return refuseWithinEndingRun(id, params, excep, names);
    HRESULT hr = dispatch();
    if (!runIsEnding()) return hr;
    // What the method's failure left in the EXCEPINFO gives way to the marker.
    if (hr == DISP_E_EXCEPTION) releaseExcepInfo(excep);
    return endRun(excep);
}
