// What the tests' engine wrappers share: a reference-counted COM object on
// the process heap that counts itself among a wrapper family's live objects,
// and IDispatch and engine objects that pass every call to the wrapped one,
// so that a wrapper spells out only the calls it changes and the rest stays
// exactly the platform's.
#pragma once

#include <windows.h>
#include <activscp.h>

#include <atomic>
#include <cstddef>
#include <new>
#include <tuple>

#include "owners.h"

// The wrappers live on the process heap directly, so that a test counting
// the allocations of the code under test never counts theirs. Only the
// non-throwing new is declared: a plain new of such a wrapper does not
// compile, so none can throw across a COM method.
struct OwnHeap {
    static void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
        return HeapAlloc(GetProcessHeap(), 0, bytes);
    }
    static void operator delete(void* p) noexcept { HeapFree(GetProcessHeap(), 0, p); }
};

// Answers QueryInterface for IUnknown (as the first of `Interfaces`) and for
// each of `Interfaces`, and is counted in `live` from construction to
// destruction, so a leaked wrapper shows in its family's count.
template <class... Interfaces>
class HeapObject : public Interfaces..., public OwnHeap {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) *ppv = static_cast<std::tuple_element_t<0, std::tuple<Interfaces...>>*>(this);
        else (void)((riid == __uuidof(Interfaces) && (*ppv = static_cast<Interfaces*>(this))) || ...);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
    }

protected:
    explicit HeapObject(std::atomic<long>& live) : live_(live) { ++live_; }
    virtual ~HeapObject() { --live_; }

private:
    std::atomic<long>& live_;
    LONG refs_ = 0;
};

// A new T holding one reference; null when the process heap is out of room.
template <class T, class... Args>
ComPtr<T> makeHeapObject(Args&&... args) {
    return ComPtr<T>(new (std::nothrow) T(static_cast<Args&&>(args)...));
}

// Hands `made` out with its reference, or E_OUTOFMEMORY where it was not made.
template <class T, class Out>
HRESULT handOut(ComPtr<T> made, Out** out, HRESULT answer = S_OK) {
    if (!made) return E_OUTOFMEMORY;
    *out = made.detach();
    return answer;
}

class DispatchPassThrough : public HeapObject<IDispatch> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return real_->GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return real_->GetTypeInfo(index, lcid, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        return real_->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        return real_->Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }

protected:
    DispatchPassThrough(std::atomic<long>& live, IDispatch* real) : HeapObject(live), real_(real) {}

private:
    ComPtr<IDispatch> real_;
};

// An engine of class `engineClass` (kept for the clones a wrapper makes),
// whose IActiveScriptParse is that of the engine it wraps.
class EnginePassThrough : public HeapObject<IActiveScript, IActiveScriptParse> {
public:
    // IActiveScript, in slot order.
    STDMETHODIMP SetScriptSite(IActiveScriptSite* site) override { return real_->SetScriptSite(site); }
    STDMETHODIMP GetScriptSite(REFIID riid, void** ppv) override { return real_->GetScriptSite(riid, ppv); }
    STDMETHODIMP SetScriptState(SCRIPTSTATE state) override { return real_->SetScriptState(state); }
    STDMETHODIMP GetScriptState(SCRIPTSTATE* state) override { return real_->GetScriptState(state); }
    STDMETHODIMP Close() override { return real_->Close(); }
    STDMETHODIMP AddNamedItem(LPCOLESTR name, DWORD flags) override { return real_->AddNamedItem(name, flags); }
    STDMETHODIMP AddTypeLib(REFGUID lib, DWORD major, DWORD minor, DWORD flags) override {
        return real_->AddTypeLib(lib, major, minor, flags);
    }
    STDMETHODIMP GetScriptDispatch(LPCOLESTR item, IDispatch** dispatch) override {
        return real_->GetScriptDispatch(item, dispatch);
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
    STDMETHODIMP Clone(IActiveScript** clone) override { return real_->Clone(clone); }

    // IActiveScriptParse, in slot order.
    STDMETHODIMP InitNew() override { return parse_->InitNew(); }
    STDMETHODIMP AddScriptlet(LPCOLESTR name, LPCOLESTR code, LPCOLESTR item, LPCOLESTR subItem, LPCOLESTR event,
                              LPCOLESTR delimiter, DWORD context, ULONG line, DWORD flags, BSTR* result,
                              EXCEPINFO* excep) override {
        return parse_->AddScriptlet(name, code, item, subItem, event, delimiter, context, line, flags, result, excep);
    }
    STDMETHODIMP ParseScriptText(LPCOLESTR code, LPCOLESTR item, IUnknown* context, LPCOLESTR delimiter,
                                 DWORD cookie, ULONG line, DWORD flags, VARIANT* result, EXCEPINFO* excep) override {
        return parse_->ParseScriptText(code, item, context, delimiter, cookie, line, flags, result, excep);
    }

protected:
    EnginePassThrough(std::atomic<long>& live, REFCLSID engineClass, IActiveScript* real, IActiveScriptParse* parse)
        : HeapObject(live), engineClass_(engineClass), real_(real), parse_(parse) {}

    // A fresh engine of this class from `create`, InitNew done, no site: what
    // a clone of the host's template is, since the template never holds
    // script text.
    HRESULT freshEngine(HRESULT (*create)(REFCLSID, IActiveScript**), IActiveScript** engine) const {
        ComPtr<IActiveScript> fresh;
        HRESULT hr = create(engineClass_, fresh.put());
        ComPtr<IActiveScriptParse> parse;
        if (SUCCEEDED(hr)) hr = fresh.as(parse);
        if (SUCCEEDED(hr)) hr = parse->InitNew();
        if (FAILED(hr)) return hr;
        *engine = fresh.detach();
        return S_OK;
    }

    const CLSID engineClass_;

private:
    ComPtr<IActiveScript> real_;
    ComPtr<IActiveScriptParse> parse_;
};

// `real`, which must have IActiveScriptParse, under a new engine wrapper
// Wrapper(engineClass, real, parse, extra...).
template <class Wrapper, class... Extra>
HRESULT wrapEngine(REFCLSID engineClass, IActiveScript* real, IActiveScript** engine, Extra... extra) {
    ComPtr<IActiveScriptParse> parse;
    HRESULT hr = ComPtr<IActiveScript>(real).as(parse);
    if (FAILED(hr)) return hr;
    return handOut(makeHeapObject<Wrapper>(engineClass, real, parse.get(), extra...), engine);
}
