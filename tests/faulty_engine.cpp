#include "faulty_engine.h"

#include <new>

#include "own_heap.h"
#include "owners.h"
#include "test_engine.h"

namespace faults {
namespace {

std::atomic<long> g_live{0};

// Wraps `real` (which must have IActiveScriptParse) into *engine.
HRESULT wrap(REFCLSID engineClass, IActiveScript* real, IActiveScript** engine);

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

class FaultyDispatch : public IDispatch, public OwnHeap {
public:
    explicit FaultyDispatch(IDispatch* real) : real_(real) { ++g_live; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return real_->GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return real_->GetTypeInfo(index, lcid, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        if (failsNow(Op::GetIDsOfNames)) return plan().hr;
        return real_->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        if (failsNow(Op::Invoke)) return plan().hr;
        return real_->Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }

private:
    virtual ~FaultyDispatch() { --g_live; }
    LONG refs_ = 0;
    ComPtr<IDispatch> real_;
};

class FaultyEngine : public IActiveScript, public IActiveScriptParse, public OwnHeap {
public:
    FaultyEngine(REFCLSID engineClass, IActiveScript* real, IActiveScriptParse* parse)
        : class_(engineClass), real_(real), parse_(parse) {
        ++g_live;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(IActiveScript)) {
            *ppv = static_cast<IActiveScript*>(this);
        } else if (riid == __uuidof(IActiveScriptParse)) {
            *ppv = static_cast<IActiveScriptParse*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
    }

    // IActiveScript
    STDMETHODIMP SetScriptSite(IActiveScriptSite* site) override {
        if (failsNow(Op::SetScriptSite)) return plan().hr;
        return real_->SetScriptSite(site);
    }
    STDMETHODIMP GetScriptSite(REFIID riid, void** ppv) override { return real_->GetScriptSite(riid, ppv); }
    STDMETHODIMP SetScriptState(SCRIPTSTATE state) override {
        if (failsNow(Op::SetScriptState)) return plan().hr;
        return real_->SetScriptState(state);
    }
    STDMETHODIMP GetScriptState(SCRIPTSTATE* state) override { return real_->GetScriptState(state); }
    STDMETHODIMP Close() override {
        if (failsNow(Op::Close)) return plan().hr;
        return real_->Close();
    }
    STDMETHODIMP AddNamedItem(LPCOLESTR name, DWORD flags) override {
        if (failsNow(Op::AddNamedItem)) return plan().hr;
        return real_->AddNamedItem(name, flags);
    }
    STDMETHODIMP AddTypeLib(REFGUID lib, DWORD major, DWORD minor, DWORD flags) override {
        return real_->AddTypeLib(lib, major, minor, flags);
    }
    STDMETHODIMP GetScriptDispatch(LPCOLESTR item, IDispatch** dispatch) override {
        if (failsNow(Op::GetScriptDispatch)) return plan().hr;
        ComPtr<IDispatch> real;
        HRESULT hr = real_->GetScriptDispatch(item, real.put());
        if (FAILED(hr) || !dispatch) return hr;
        auto* wrapped = new (std::nothrow) FaultyDispatch(real.get());
        if (!wrapped) return E_OUTOFMEMORY;
        wrapped->AddRef();
        *dispatch = wrapped;
        return hr;
    }
    STDMETHODIMP GetCurrentScriptThreadID(SCRIPTTHREADID* id) override { return real_->GetCurrentScriptThreadID(id); }
    STDMETHODIMP GetScriptThreadID(DWORD thread, SCRIPTTHREADID* id) override {
        return real_->GetScriptThreadID(thread, id);
    }
    STDMETHODIMP GetScriptThreadState(SCRIPTTHREADID id, SCRIPTTHREADSTATE* state) override {
        return real_->GetScriptThreadState(id, state);
    }
    STDMETHODIMP InterruptScriptThread(SCRIPTTHREADID id, const EXCEPINFO* excep, DWORD flags) override {
        return real_->InterruptScriptThread(id, excep, flags);
    }
    // The inner engine's clone, wrapped too. Where the inner engine has no
    // Clone and the plan asks for one, a fresh engine of its class: the
    // template it is asked of never holds script text, so nothing else
    // comes along.
    STDMETHODIMP Clone(IActiveScript** clone) override {
        if (failsNow(Op::Clone)) return plan().hr;
        ComPtr<IActiveScript> inner;
        HRESULT cloned = real_->Clone(inner.put());
        if (SUCCEEDED(cloned)) return wrap(class_, inner.get(), clone);
        if (cloned != E_NOTIMPL || !plan().clones) return cloned;
        ComPtr<IActiveScript> fresh;
        HRESULT hr = createFaultyEngine(class_, fresh.put());
        ComPtr<IActiveScriptParse> parse;
        if (SUCCEEDED(hr)) hr = fresh.as(parse);
        if (SUCCEEDED(hr)) hr = parse->InitNew();
        if (FAILED(hr)) return hr;
        *clone = fresh.detach();
        return S_OK;
    }

    // IActiveScriptParse
    STDMETHODIMP InitNew() override {
        if (failsNow(Op::InitNew)) return plan().hr;
        return parse_->InitNew();
    }
    STDMETHODIMP AddScriptlet(LPCOLESTR name, LPCOLESTR code, LPCOLESTR item, LPCOLESTR subItem, LPCOLESTR event,
                              LPCOLESTR delimiter, DWORD context, ULONG line, DWORD flags, BSTR* result,
                              EXCEPINFO* excep) override {
        return parse_->AddScriptlet(name, code, item, subItem, event, delimiter, context, line, flags, result, excep);
    }
    STDMETHODIMP ParseScriptText(LPCOLESTR code, LPCOLESTR item, IUnknown* context, LPCOLESTR delimiter,
                                 DWORD cookie, ULONG line, DWORD flags, VARIANT* result, EXCEPINFO* excep) override {
        if (failsNow(Op::ParseScriptText)) return plan().hr;
        return parse_->ParseScriptText(code, item, context, delimiter, cookie, line, flags, result, excep);
    }

private:
    virtual ~FaultyEngine() { --g_live; }
    LONG refs_ = 0;
    CLSID class_;
    ComPtr<IActiveScript> real_;
    ComPtr<IActiveScriptParse> parse_;
};

HRESULT wrap(REFCLSID engineClass, IActiveScript* real, IActiveScript** engine) {
    ComPtr<IActiveScriptParse> parse;
    HRESULT hr = ComPtr<IActiveScript>(real).as(parse);
    if (FAILED(hr)) return hr;
    auto* wrapped = new (std::nothrow) FaultyEngine(engineClass, real, parse.get());
    if (!wrapped) return E_OUTOFMEMORY;
    wrapped->AddRef();
    *engine = static_cast<IActiveScript*>(wrapped);
    return S_OK;
}

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
    return wrap(engineClass, real.get(), engine);
}

}  // namespace faults
