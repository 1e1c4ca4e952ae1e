// Points in the host's operations where a test may step in, to put another
// thread's operation into a window too short to hit by timing. In the
// shipped DLL nobody sets them and each costs one load.
#pragma once

#include <windows.h>

using RunFoundHook = void (*)(ULONG cookie);

// Called on the running thread by every run that has found its job, before
// the run is marked as going.
void runFoundJob(ULONG cookie);

// Called on the compiling thread by every compile that has found its job,
// before it holds the job's engine.
void compileFoundJob(ULONG cookie);

// Tests only: null calls nothing again.
void setRunFoundHook(RunFoundHook hook);
void setCompileFoundHook(RunFoundHook hook);
