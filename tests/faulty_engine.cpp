#include "faulty_engine.h"

#include "owners.h"
#include "pass_through.h"
#include "test_engine.h"

namespace faults {
namespace {

std::atomic<long> g_live{0};

// True when this counted call is the one to fail.
bool failsNow(Op op) {
    Plan& p = plan();
    long n = ++p.calls;
    if (p.failAt == 0 || n != p.failAt) {
        if (p.beforeCall) p.beforeCall(op);
        return false;
    }
    p.failed = op;
    p.hit = true;
    return true;
}

class FaultyDispatch : public DispatchPassThrough {
public:
    explicit FaultyDispatch(IDispatch* real) : DispatchPassThrough(g_live, real) {}

    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        if (failsNow(Op::GetIDsOfNames)) return plan().hr;
        return DispatchPassThrough::GetIDsOfNames(riid, names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        if (failsNow(Op::Invoke)) return plan().hr;
        return DispatchPassThrough::Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }
};

class FaultyEngine : public EnginePassThrough {
public:
    FaultyEngine(REFCLSID engineClass, IActiveScript* real, IActiveScriptParse* parse)
        : EnginePassThrough(g_live, engineClass, real, parse) {}

    // IActiveScript
    STDMETHODIMP SetScriptSite(IActiveScriptSite* site) override {
        if (failsNow(Op::SetScriptSite)) return plan().hr;
        return EnginePassThrough::SetScriptSite(site);
    }
    STDMETHODIMP SetScriptState(SCRIPTSTATE state) override {
        if (failsNow(Op::SetScriptState)) return plan().hr;
        return EnginePassThrough::SetScriptState(state);
    }
    STDMETHODIMP Close() override {
        if (failsNow(Op::Close)) return plan().hr;
        return EnginePassThrough::Close();
    }
    STDMETHODIMP AddNamedItem(LPCOLESTR name, DWORD flags) override {
        if (failsNow(Op::AddNamedItem)) return plan().hr;
        return EnginePassThrough::AddNamedItem(name, flags);
    }
    STDMETHODIMP GetScriptDispatch(LPCOLESTR item, IDispatch** dispatch) override {
        if (failsNow(Op::GetScriptDispatch)) return plan().hr;
        ComPtr<IDispatch> real;
        HRESULT hr = EnginePassThrough::GetScriptDispatch(item, real.put());
        if (FAILED(hr) || !dispatch) return hr;
        return handOut(makeHeapObject<FaultyDispatch>(real.get()), dispatch, hr);
    }
    // The inner engine's clone, wrapped too. Where the inner engine has no
    // Clone and the plan asks for one, a fresh engine of its class.
    STDMETHODIMP Clone(IActiveScript** clone) override {
        if (failsNow(Op::Clone)) return plan().hr;
        ComPtr<IActiveScript> inner;
        HRESULT cloned = EnginePassThrough::Clone(inner.put());
        if (SUCCEEDED(cloned)) return wrapEngine<FaultyEngine>(engineClass_, inner.get(), clone);
        if (cloned != E_NOTIMPL || !plan().clones) return cloned;
        return freshEngine(createFaultyEngine, clone);
    }

    // IActiveScriptParse
    STDMETHODIMP InitNew() override {
        if (failsNow(Op::InitNew)) return plan().hr;
        return EnginePassThrough::InitNew();
    }
    STDMETHODIMP ParseScriptText(LPCOLESTR code, LPCOLESTR item, IUnknown* context, LPCOLESTR delimiter,
                                 DWORD cookie, ULONG line, DWORD flags, VARIANT* result, EXCEPINFO* excep) override {
        if (failsNow(Op::ParseScriptText)) return plan().hr;
        return EnginePassThrough::ParseScriptText(code, item, context, delimiter, cookie, line, flags, result, excep);
    }
};

}  // namespace

const char* nameOf(Op op) {
    static const char* const names[] = {"engine creation", "Clone", "InitNew", "SetScriptSite", "AddNamedItem",
                                        "ParseScriptText", "SetScriptState", "GetScriptDispatch", "GetIDsOfNames",
                                        "Invoke", "Close"};
    return names[static_cast<int>(op)];
}

Plan& plan() {
    static Plan p;
    return p;
}

long liveObjects() { return g_live.load(); }

// The process's engine of `engineClass` (tests/test_engine.h) under the
// wrapper that fails calls.
HRESULT createFaultyEngine(REFCLSID engineClass, IActiveScript** engine) {
    *engine = nullptr;
    if (failsNow(Op::Create)) return plan().hr;
    ComPtr<IActiveScript> real;
    HRESULT hr = E_FAIL;
    if (EngineFactory inner = testEngineFactory()) hr = inner(engineClass, real.put());
    else hr = CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript), real.putVoid());
    if (FAILED(hr)) return hr;
    return wrapEngine<FaultyEngine>(engineClass, real.get(), engine);
}

}  // namespace faults
