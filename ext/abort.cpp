#include "abort.h"

#include <activscp.h>

#include "owners.h"
#include "wait_methods.h"
#include "activation.h"

namespace {

// The argument at parameter `position`: named, or positional (positional
// arguments arrive last first, after the named ones).
const VARIANT* argumentAt(const DISPPARAMS* params, UINT position) {
    if (!params || !params->rgvarg) return nullptr;
    for (UINT i = 0; i < params->cNamedArgs; ++i)
        if (params->rgdispidNamedArgs && params->rgdispidNamedArgs[i] == static_cast<DISPID>(position))
            return &params->rgvarg[i];
    UINT positional = params->cArgs - params->cNamedArgs;
    return position < positional ? &params->rgvarg[params->cArgs - 1 - position] : nullptr;
}

// The interval the script asked a wait method to take, in milliseconds.
DWORD intervalOf(DISPID id, const DISPPARAMS* params) {
    for (const WaitMethod& wait : kWaitMethods) {
        if (wait.id != id) continue;
        const VARIANT* arg = argumentAt(params, wait.interval);
        Variant ms;
        if (!arg || FAILED(VariantChangeType(&ms, const_cast<VARIANT*>(arg), 0, VT_I4)) || V_I4(&ms) <= 0) return 0;
        return static_cast<DWORD>(V_I4(&ms));
    }
    return 0;
}

}  // namespace

void interruptScript() {
    ThreadActivations* cache = threadActivations();
    if (!cache) return;
    cache->markAbortForThread();
    IActiveScript* engine = cache->engineForThread();
    EXCEPINFO marker = abortMarker();
    if (engine && SUCCEEDED(engine->InterruptScriptThread(SCRIPTTHREADID_CURRENT, &marker,
                                                          SCRIPTINTERRUPT_RAISEEXCEPTION)))
        return;
    // The job is marked aborted either way; without an interruption its
    // script would go on calling the agent as an aborted job.
    cache->markEndingForThread();
}

bool runIsEnding() {
    ThreadActivations* cache = threadActivations();
    return cache && cache->endingForThread();
}

HRESULT endRun(EXCEPINFO* excep) {
    if (excep) *excep = abortMarker();
    return DISP_E_EXCEPTION;
}

HRESULT refuseWithinEndingRun(DISPID id, const DISPPARAMS* params, EXCEPINFO* excep) {
    if (DWORD ms = intervalOf(id, params)) Sleep(ms);
    return endRun(excep);
}
