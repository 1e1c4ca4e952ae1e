// What a script-side call asks about the job whose code runs on the calling
// thread: which job it is, and how to end its run. The host's job-context
// cache answers; the extension object asks through this interface and needs
// nothing of the host.
#pragma once

#include <windows.h>
#include <activscp.h>

#include "ravlin.h"

class ThreadActivations {
public:
    // The job whose code runs on this thread and the run's pwdobj (0 outside
    // a run); answers 0 when there is none.
    virtual int jobRefForThread(ImpJob** jobobj, unsigned long* pwdobj) = 0;
    // That job's engine, not counted; null when there is none.
    virtual IActiveScript* engineForThread() = 0;
    // The job ended itself: its run (or compile) counts as a success.
    virtual void markAbortForThread() = 0;
    // The run is to end at its next dispatch call, for engines that cannot
    // be interrupted.
    virtual void markEndingForThread() = 0;
    virtual int endingForThread() = 0;

protected:
    ~ThreadActivations() = default;
};

// The process's one source of answers, null until the first host made it.
ThreadActivations* threadActivations();
void setThreadActivations(ThreadActivations* source);
