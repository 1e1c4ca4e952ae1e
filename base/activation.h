// Which job's code runs on the calling thread. The host pushes an activation
// for every compile, run and close of a job on the thread that does it, and
// pops it when that step is over; every script-side call and every script
// error belongs to the innermost activation of its thread. Nested steps (the
// agent runs another job from inside a script's call, or lets go of one whose
// Class_Terminate then runs) push on top and pop before the outer code goes on.
#pragma once

#include <windows.h>
#include <activscp.h>

#include <atomic>

#include "ravlin.h"

enum class ActivationKind { Compile, Run, Close };

struct Activation {
    ImpJob* jobobj = nullptr;           // the agent's job object
    unsigned long pwdobj = 0;           // the run's; 0 for a compile's or a close's code
    ActivationKind kind = ActivationKind::Run;
    bool compiled = false;              // the job had compiled successfully when this began
    IActiveScript* engine = nullptr;    // the engine running this code; the host's step holds it
    // Asked to end (stop, unreg, the host's release, an abort): every later
    // call of this code into ScpExt is refused. Set from any thread.
    std::atomic<bool> ending{false};
    // The code ended itself (AbortScript, AbortScriptEx, MCAbort): a run
    // counts as a success.
    std::atomic<bool> aborted{false};
    // MCEnterCS calls that entered less the MCExitCS calls that left, so
    // that code ended inside the agent's section still leaves it.
    int heldSections = 0;
    Activation* outer = nullptr;        // the activation it is nested in
};

// Pushes `activation` on the calling thread's stack for its lifetime.
class ActivationScope {
public:
    explicit ActivationScope(Activation& activation);
    ~ActivationScope();
    ActivationScope(const ActivationScope&) = delete;
    ActivationScope& operator=(const ActivationScope&) = delete;

private:
    Activation& activation_;
};

// The calling thread's innermost activation, null when none. No lock, no walk.
Activation* innermostActivation();

// False when the process could not give the activations their thread slot;
// then no host can run a job.
bool activationsAvailable();

// Where the thread has no activation, a job answers on the thread that
// registered it, newest first, until its first run begins. The host embeds
// one record per job and lists it while that holds.
struct Registration {
    ImpJob* jobobj = nullptr;
    DWORD thread = 0;
    std::atomic<bool> compiled{false};
    bool listed = false;
    Registration* prev = nullptr;
    Registration* next = nullptr;
};
void listRegistration(Registration& registration);     // on the registering thread
void unlistRegistration(Registration& registration);   // no effect when not listed

// The job whose code runs on the calling thread, and its run's pwdobj (0
// outside a run): the innermost activation's, else the registration rule's.
// Answers 1 when there is one, 0 otherwise (and when both are absent).
int jobRefForThread(ImpJob** jobobj, unsigned long* pwdobj);
// That job's compiled flag as the script error report carries it.
int compiledForThread();
