// A script engine for fault injection: it wraps the test process's engine
// (tests/test_engine.h: the platform's or the Windows-like one), passes
// every call through, and fails the N-th of the counted calls
// (engine creation, Clone, InitNew, SetScriptSite, AddNamedItem,
// ParseScriptText, SetScriptState, GetScriptDispatch, the script dispatch's
// GetIDsOfNames and Invoke, Close) with a chosen HRESULT instead of making
// it. It counts its live objects, so a leaked engine or script dispatch
// shows. A test may also step in before every counted call that goes
// through. The host takes it through setEngineFactory.
#pragma once

#include <windows.h>
#include <activscp.h>

#include <atomic>
#include <functional>

namespace faults {

enum class Op {
    Create, Clone, InitNew, SetScriptSite, AddNamedItem, ParseScriptText, SetScriptState,
    GetScriptDispatch, GetIDsOfNames, Invoke, Close,
};
const char* nameOf(Op op);

// Which counted call fails, and how. Set between lifecycles, from one thread.
struct Plan {
    long failAt = 0;                // 1-based; 0 fails nothing
    HRESULT hr = E_FAIL;
    bool clones = false;            // where the inner engine has no Clone, answer as one that has it
    std::atomic<long> calls{0};     // counted calls so far
    std::atomic<bool> hit{false};   // the failure was injected
    Op failed = Op::Create;         // ... into this call
    // Called on the calling thread before each counted call that goes through.
    std::function<void(Op)> beforeCall;
};
Plan& plan();

// Wrappers alive now (engines and script dispatches).
long liveObjects();

// An EngineFactory: the process's engine of `engineClass`, wrapped.
HRESULT createFaultyEngine(REFCLSID engineClass, IActiveScript** engine);

}  // namespace faults
