// Ending a job's script at its own request (AbortScript, AbortScriptEx,
// MCAbort), and the fallback for engines that cannot be interrupted.
#pragma once

#include <windows.h>
#include <oaidl.h>

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

// Fallback for engines without InterruptScriptThread (the platform's VBScript
// engine answers E_NOTIMPL): an abort call whose interruption failed ends with
// the marker exception after the method ran, and so does every later call of
// the same run, before the method runs, so that a script under
// On Error Resume Next reaches the agent core no more. Runs that abort
// nothing, and engines that can be interrupted, take the plain dispatch.
template <class Dispatch>
HRESULT dispatchWithinRun(EXCEPINFO* excep, Dispatch&& dispatch) {
    if (runIsEnding()) return endRun(excep);
    HRESULT hr = dispatch();
    return runIsEnding() ? endRun(excep) : hr;
}
