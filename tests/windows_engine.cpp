#include "windows_engine.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <utility>

#include "owners.h"
#include "pass_through.h"

namespace winengine {
namespace {

std::atomic<long> g_live{0};
std::atomic<long> g_clones{0};

BSTR copyOf(BSTR text) { return text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr; }

// The engine's caller keeps its EXCEPINFO; the one raised later in the
// script is the engine's to free, so it gets texts of its own.
EXCEPINFO copyOf(const EXCEPINFO& from) {
    EXCEPINFO to = from;
    to.bstrSource = copyOf(from.bstrSource);
    to.bstrDescription = copyOf(from.bstrDescription);
    to.bstrHelpFile = copyOf(from.bstrHelpFile);
    return to;
}

// A copy of a name on the process heap.
class HeapText {
public:
    explicit HeapText(const wchar_t* text) {
        const std::size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
        if ((text_ = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, bytes)))) std::memcpy(text_, text, bytes);
    }
    ~HeapText() { HeapFree(GetProcessHeap(), 0, text_); }
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;
    const wchar_t* get() const { return text_; }

private:
    wchar_t* text_ = nullptr;
};

class Execution;

// Which threads execute script in one engine now, and which of them an
// interruption waits for. The engine, its script dispatches and its named
// items' stand-ins share it; any of them may be the last to go.
class Executions : public HeapObject<IUnknown> {
public:
    Executions() : HeapObject(g_live) {}

    // Marks the executions that `id` names. A script thread of this engine
    // is named by its Win32 thread's id (the platform engine's
    // GetScriptThreadID, passed through, hands out none).
    void interrupt(SCRIPTTHREADID id, DWORD baseThread, const EXCEPINFO& excep);
    // The calling thread's interruption, if one waits: taken, so it is
    // raised once.
    bool takeInterruption(EXCEPINFO* excep);

private:
    friend class Execution;
    Execution* find(DWORD thread);   // under the lock

    CriticalSection lock_;
    Execution* head_ = nullptr;
};

// One thread's execution of script in an engine, from its outermost call into
// the engine until that call returns; calls nested in it on the same thread
// belong to it. An interruption not raised by then ends with it, so it never
// reaches the thread's next, unrelated execution.
class Execution {
public:
    explicit Execution(Executions* all) : all_(all), thread_(GetCurrentThreadId()) {
        Lock guard(all_->lock_);
        if (all_->find(thread_)) return;
        next_ = std::exchange(all_->head_, this);
        outermost_ = true;
    }
    ~Execution() {
        if (!outermost_) return;
        {
            Lock guard(all_->lock_);
            Execution** link = &all_->head_;
            while (*link != this) link = &(*link)->next_;
            *link = next_;
        }
        releaseExcepInfo(&excep_);
    }
    Execution(const Execution&) = delete;
    Execution& operator=(const Execution&) = delete;

private:
    friend class Executions;
    ComPtr<Executions> all_;
    DWORD thread_;
    bool outermost_ = false;
    bool interrupted_ = false;
    EXCEPINFO excep_ = {};
    Execution* next_ = nullptr;
};

Execution* Executions::find(DWORD thread) {
    for (Execution* e = head_; e; e = e->next_)
        if (e->thread_ == thread) return e;
    return nullptr;
}

void Executions::interrupt(SCRIPTTHREADID id, DWORD baseThread, const EXCEPINFO& excep) {
    const DWORD self = GetCurrentThreadId();
    Lock guard(lock_);
    for (Execution* e = head_; e; e = e->next_) {
        const bool named = id == SCRIPTTHREADID_ALL || (id == SCRIPTTHREADID_CURRENT && e->thread_ == self) ||
                           (id == SCRIPTTHREADID_BASE && e->thread_ == baseThread) || e->thread_ == id;
        if (!named) continue;
        releaseExcepInfo(&e->excep_);
        e->excep_ = copyOf(excep);
        e->interrupted_ = true;
    }
}

bool Executions::takeInterruption(EXCEPINFO* excep) {
    EXCEPINFO taken = {};
    {
        Lock guard(lock_);
        Execution* mine = find(GetCurrentThreadId());
        if (!mine || !mine->interrupted_) return false;
        mine->interrupted_ = false;
        taken = std::exchange(mine->excep_, EXCEPINFO{});
    }
    if (excep) *excep = taken;
    else releaseExcepInfo(&taken);
    return true;
}

// An object that one engine's script calls or is called through: it sees
// the engine's executions.
class EngineDispatch : public DispatchPassThrough {
public:
    EngineDispatch(IDispatch* real, Executions* executions)
        : DispatchPassThrough(g_live, real), executions_(executions) {}

protected:
    ComPtr<Executions> executions_;
};

// What the engine gets for a named item: the host's object, except that the
// calling thread's interruption is raised at the script's next call into it.
class NamedItemStandIn : public EngineDispatch {
public:
    using EngineDispatch::EngineDispatch;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        if (executions_->takeInterruption(excep)) return DISP_E_EXCEPTION;
        return DispatchPassThrough::Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }
};

// The host's site as one engine sees it: every call goes to the host's site;
// the objects of named items come back as this engine's stand-ins, one per
// name, so the engine sees the same object each time it asks.
class WrappedSite : public HeapObject<IActiveScriptSite> {
public:
    WrappedSite(IActiveScriptSite* real, Executions* executions)
        : HeapObject(g_live), real_(real), executions_(executions) {}

    // Interfaces of the host's site other than IActiveScriptSite are the
    // host's own: the engine gets them from the host's site directly.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        HRESULT hr = HeapObject::QueryInterface(riid, ppv);
        return hr == E_NOINTERFACE ? real_->QueryInterface(riid, ppv) : hr;
    }

    STDMETHODIMP GetLCID(LCID* lcid) override { return real_->GetLCID(lcid); }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
        HRESULT hr = real_->GetItemInfo(name, mask, item, info);
        if (FAILED(hr) || !name || !(mask & SCRIPTINFO_IUNKNOWN) || !item || !*item) return hr;
        ComPtr<IUnknown> standIn;
        HRESULT made = standInFor(name, *item, standIn);
        if (FAILED(made)) {
            // A caller told of a failure releases nothing.
            (*item)->Release();
            *item = nullptr;
            if ((mask & SCRIPTINFO_ITYPEINFO) && info && *info) {
                (*info)->Release();
                *info = nullptr;
            }
            return made;
        }
        if (standIn) {
            (*item)->Release();
            *item = standIn.detach();
        }
        return hr;
    }
    STDMETHODIMP GetDocVersionString(BSTR* version) override { return real_->GetDocVersionString(version); }
    STDMETHODIMP OnScriptTerminate(const VARIANT* result, const EXCEPINFO* excep) override {
        return real_->OnScriptTerminate(result, excep);
    }
    STDMETHODIMP OnStateChange(SCRIPTSTATE state) override { return real_->OnStateChange(state); }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override { return real_->OnScriptError(error); }
    STDMETHODIMP OnEnterScript() override { return real_->OnEnterScript(); }
    STDMETHODIMP OnLeaveScript() override { return real_->OnLeaveScript(); }

private:
    struct Given : OwnHeap {
        Given(const wchar_t* itemName, IUnknown* object) : name(itemName), standIn(object) {}
        HeapText name;
        ComPtr<IUnknown> standIn;
        Given* next = nullptr;
    };

    ~WrappedSite() override {
        while (Given* given = given_) {
            given_ = given->next;
            delete given;
        }
    }

    // The stand-in of the named item `name` whose object is `object`; none
    // for an object without IDispatch, which the engine then gets as it is.
    HRESULT standInFor(LPCOLESTR name, IUnknown* object, ComPtr<IUnknown>& standIn) {
        Lock guard(lock_);
        for (Given* given = given_; given; given = given->next) {
            if (!wcscmp(given->name.get(), name)) {
                standIn = given->standIn;
                return S_OK;
            }
        }
        ComPtr<IDispatch> dispatch;
        if (FAILED(object->QueryInterface(IID_IDispatch, dispatch.putVoid()))) return S_OK;
        ComPtr<NamedItemStandIn> made = makeHeapObject<NamedItemStandIn>(dispatch.get(), executions_.get());
        if (!made) return E_OUTOFMEMORY;
        auto* given = new (std::nothrow) Given(name, static_cast<IDispatch*>(made.get()));
        if (!given || !given->name.get()) {
            delete given;
            return E_OUTOFMEMORY;
        }
        given->next = std::exchange(given_, given);
        standIn = given->standIn;
        return S_OK;
    }

    ComPtr<IActiveScriptSite> real_;
    ComPtr<Executions> executions_;
    CriticalSection lock_;
    Given* given_ = nullptr;
};

// The script dispatch the host calls main through: that call executes script.
class ScriptDispatch : public EngineDispatch {
public:
    using EngineDispatch::EngineDispatch;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        Execution running(executions_.get());
        return DispatchPassThrough::Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }
};

class WindowsEngine : public EnginePassThrough {
public:
    WindowsEngine(REFCLSID engineClass, IActiveScript* real, IActiveScriptParse* parse, Executions* executions)
        : EnginePassThrough(g_live, engineClass, real, parse), executions_(executions) {}

    // IActiveScript, in slot order.
    STDMETHODIMP SetScriptSite(IActiveScriptSite* site) override {
        if (!site) return EnginePassThrough::SetScriptSite(site);
        ComPtr<WrappedSite> wrapped = makeHeapObject<WrappedSite>(site, executions_.get());
        if (!wrapped) return E_OUTOFMEMORY;
        HRESULT hr = EnginePassThrough::SetScriptSite(wrapped.get());
        if (SUCCEEDED(hr)) baseThread_ = GetCurrentThreadId();
        return hr;
    }
    STDMETHODIMP SetScriptState(SCRIPTSTATE state) override {
        Execution running(executions_.get());
        return EnginePassThrough::SetScriptState(state);
    }
    STDMETHODIMP Close() override {
        Execution running(executions_.get());
        return EnginePassThrough::Close();
    }
    STDMETHODIMP GetScriptDispatch(LPCOLESTR item, IDispatch** dispatch) override {
        if (!dispatch) return EnginePassThrough::GetScriptDispatch(item, dispatch);
        *dispatch = nullptr;
        ComPtr<IDispatch> real;
        HRESULT hr = EnginePassThrough::GetScriptDispatch(item, real.put());
        if (FAILED(hr)) return hr;
        return handOut(makeHeapObject<ScriptDispatch>(real.get(), executions_.get()), dispatch, hr);
    }
    // From any thread. SCRIPTINTERRUPT_DEFAULT (0) would abort the script
    // method without letting the script handle the exception; it is taken
    // like SCRIPTINTERRUPT_RAISEEXCEPTION here: VBScript can handle it, and a
    // script under On Error Resume Next sees it in Err either way. A thread
    // that executes no script in this engine now is not marked.
    STDMETHODIMP InterruptScriptThread(SCRIPTTHREADID id, const EXCEPINFO* excep, DWORD) override {
        if (!excep) return E_POINTER;
        executions_->interrupt(id, baseThread_, *excep);
        return S_OK;
    }
    // From any thread, as a clone "minus any current execution state" of
    // the host's template.
    STDMETHODIMP Clone(IActiveScript** clone) override {
        if (!clone) return E_POINTER;
        *clone = nullptr;
        HRESULT hr = freshEngine(createWindowsEngine, clone);
        if (SUCCEEDED(hr)) ++g_clones;
        return hr;
    }

    // IActiveScriptParse, in slot order.
    STDMETHODIMP ParseScriptText(LPCOLESTR code, LPCOLESTR item, IUnknown* context, LPCOLESTR delimiter,
                                 DWORD cookie, ULONG line, DWORD flags, VARIANT* result, EXCEPINFO* excep) override {
        Execution running(executions_.get());
        return EnginePassThrough::ParseScriptText(code, item, context, delimiter, cookie, line, flags, result, excep);
    }

private:
    ComPtr<Executions> executions_;
    // The thread that gave the engine its site (SCRIPTTHREADID_BASE), until
    // then the one that made it.
    std::atomic<DWORD> baseThread_{GetCurrentThreadId()};
};

}  // namespace

HRESULT createWindowsEngine(REFCLSID engineClass, IActiveScript** engine) {
    if (!engine) return E_POINTER;
    *engine = nullptr;
    ComPtr<IActiveScript> real;
    HRESULT hr = CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript), real.putVoid());
    if (FAILED(hr)) return hr;
    ComPtr<Executions> executions = makeHeapObject<Executions>();
    if (!executions) return E_OUTOFMEMORY;
    return wrapEngine<WindowsEngine>(engineClass, real.get(), engine, executions.get());
}

long liveObjects() { return g_live.load(); }

long clonesMade() { return g_clones.load(); }

}  // namespace winengine
