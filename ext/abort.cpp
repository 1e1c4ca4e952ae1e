#include "abort.h"

#include <activscp.h>

#include <cstdio>

#include "activation.h"
#include "owners.h"
#include "trace.h"
#include "trace_formats.h"
#include "wait_methods.h"

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

// The member's name as the type library spells it, or its number; fixed
// buffers, so that a refusal needs no allocation of its own.
void memberName(ITypeInfo* names, DISPID id, char (&out)[64]) {
    Bstr name;
    UINT count = 0;
    if (names && SUCCEEDED(names->GetNames(id, name.put(), 1, &count)) && count && name &&
        WideCharToMultiByte(CP_ACP, 0, name.get(), -1, out, sizeof out, nullptr, nullptr) > 0)
        return;
    std::snprintf(out, sizeof out, "member %ld", static_cast<long>(id));
}

void traceRefusal(DISPID id, ITypeInfo* names) {
    char name[64];
    memberName(names, id, name);
    const Activation* code = innermostActivation();
    trace(traceformat::kCallRefused, name, code ? code->pwdobj : 0ul);
}

}  // namespace

// The code is marked ending whether or not the engine took the interruption:
// an engine that lets the script handle it (or one without interruption,
// whose script under On Error Resume Next swallows the marker) would
// otherwise let an aborted run go on calling the agent.
void interruptScript() {
    Activation* code = innermostActivation();
    if (!code) return;
    code->aborted = true;
    code->ending = true;
    EXCEPINFO marker = abortMarker();
    if (code->engine)
        code->engine->InterruptScriptThread(SCRIPTTHREADID_CURRENT, &marker, SCRIPTINTERRUPT_RAISEEXCEPTION);
}

bool runIsEnding() {
    const Activation* code = innermostActivation();
    return code && code->ending.load(std::memory_order_relaxed);
}

HRESULT endRun(EXCEPINFO* excep) {
    if (excep) *excep = abortMarker();
    return DISP_E_EXCEPTION;
}

HRESULT refuseWithinEndingRun(DISPID id, const DISPPARAMS* params, EXCEPINFO* excep, ITypeInfo* names) {
    traceRefusal(id, names);
    if (DWORD ms = intervalOf(id, params)) Sleep(ms);
    return endRun(excep);
}
