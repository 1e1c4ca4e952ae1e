#include "windows_engine.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include "own_heap.h"
#include "owners.h"

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
class Executions : public OwnHeap {
public:
    Executions() { ++g_live; }
    ULONG AddRef() { return InterlockedIncrement(&refs_); }
    ULONG Release() {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
    }

    // Marks the executions that `id` names. A script thread of this engine
    // is named by its Win32 thread's id (the platform engine's
    // GetScriptThreadID, passed through, hands out none).
    void interrupt(SCRIPTTHREADID id, DWORD baseThread, const EXCEPINFO& excep);
    // The calling thread's interruption, if one waits: taken, so it is
    // raised once.
    bool takeInterruption(EXCEPINFO* excep);

private:
    friend class Execution;
    ~Executions() { --g_live; }
    Execution* find(DWORD thread);   // under the lock

    LONG refs_ = 0;
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

// What the engine gets for a named item: the host's object, except that the
// calling thread's interruption is raised at the script's next call into it.
class NamedItemStandIn : public IDispatch, public OwnHeap {
public:
    NamedItemStandIn(IDispatch* real, Executions* executions) : real_(real), executions_(executions) { ++g_live; }

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
        return real_->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        if (executions_->takeInterruption(excep)) return DISP_E_EXCEPTION;
        return real_->Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }

private:
    virtual ~NamedItemStandIn() { --g_live; }
    LONG refs_ = 0;
    ComPtr<IDispatch> real_;
    ComPtr<Executions> executions_;
};

// The host's site as one engine sees it: every call goes to the host's site;
// the objects of named items come back as this engine's stand-ins, one per
// name, so the engine sees the same object each time it asks.
class WrappedSite : public IActiveScriptSite, public OwnHeap {
public:
    WrappedSite(IActiveScriptSite* real, Executions* executions) : real_(real), executions_(executions) { ++g_live; }

    // Interfaces of the host's site other than IActiveScriptSite are the
    // host's own: the engine gets them from the host's site directly.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(IActiveScriptSite)) {
            *ppv = static_cast<IActiveScriptSite*>(this);
            AddRef();
            return S_OK;
        }
        return real_->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
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

    virtual ~WrappedSite() {
        while (Given* given = given_) {
            given_ = given->next;
            delete given;
        }
        --g_live;
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
        auto* made = new (std::nothrow) NamedItemStandIn(dispatch.get(), executions_.get());
        if (!made) return E_OUTOFMEMORY;
        ComPtr<IUnknown> kept(static_cast<IDispatch*>(made));
        auto* given = new (std::nothrow) Given(name, kept.get());
        if (!given || !given->name.get()) {
            delete given;
            return E_OUTOFMEMORY;
        }
        given->next = std::exchange(given_, given);
        standIn = kept;
        return S_OK;
    }

    LONG refs_ = 0;
    ComPtr<IActiveScriptSite> real_;
    ComPtr<Executions> executions_;
    CriticalSection lock_;
    Given* given_ = nullptr;
};

// The script dispatch the host calls main through: that call executes script.
class ScriptDispatch : public IDispatch, public OwnHeap {
public:
    ScriptDispatch(IDispatch* real, Executions* executions) : real_(real), executions_(executions) { ++g_live; }

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
        return real_->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        Execution running(executions_.get());
        return real_->Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }

private:
    virtual ~ScriptDispatch() { --g_live; }
    LONG refs_ = 0;
    ComPtr<IDispatch> real_;
    ComPtr<Executions> executions_;
};

class WindowsEngine : public IActiveScript, public IActiveScriptParse, public OwnHeap {
public:
    WindowsEngine(REFCLSID engineClass, IActiveScript* real, IActiveScriptParse* parse, Executions* executions)
        : class_(engineClass), real_(real), parse_(parse), executions_(executions) {
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

    // IActiveScript, in slot order.
    STDMETHODIMP SetScriptSite(IActiveScriptSite* site) override {
        if (!site) return real_->SetScriptSite(site);
        auto* made = new (std::nothrow) WrappedSite(site, executions_.get());
        if (!made) return E_OUTOFMEMORY;
        ComPtr<IActiveScriptSite> wrapped(made);
        HRESULT hr = real_->SetScriptSite(wrapped.get());
        if (SUCCEEDED(hr)) baseThread_ = GetCurrentThreadId();
        return hr;
    }
    STDMETHODIMP GetScriptSite(REFIID riid, void** ppv) override { return real_->GetScriptSite(riid, ppv); }
    STDMETHODIMP SetScriptState(SCRIPTSTATE state) override {
        Execution running(executions_.get());
        return real_->SetScriptState(state);
    }
    STDMETHODIMP GetScriptState(SCRIPTSTATE* state) override { return real_->GetScriptState(state); }
    STDMETHODIMP Close() override {
        Execution running(executions_.get());
        return real_->Close();
    }
    STDMETHODIMP AddNamedItem(LPCOLESTR name, DWORD flags) override { return real_->AddNamedItem(name, flags); }
    STDMETHODIMP AddTypeLib(REFGUID lib, DWORD major, DWORD minor, DWORD flags) override {
        return real_->AddTypeLib(lib, major, minor, flags);
    }
    STDMETHODIMP GetScriptDispatch(LPCOLESTR item, IDispatch** dispatch) override {
        if (!dispatch) return real_->GetScriptDispatch(item, dispatch);
        *dispatch = nullptr;
        ComPtr<IDispatch> real;
        HRESULT hr = real_->GetScriptDispatch(item, real.put());
        if (FAILED(hr)) return hr;
        auto* wrapped = new (std::nothrow) ScriptDispatch(real.get(), executions_.get());
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
    // From any thread: the host's template never holds script text, so a
    // fresh engine of its class, initialised and without a site, is what a
    // clone "minus any current execution state" is.
    STDMETHODIMP Clone(IActiveScript** clone) override {
        if (!clone) return E_POINTER;
        *clone = nullptr;
        ComPtr<IActiveScript> fresh;
        HRESULT hr = createWindowsEngine(class_, fresh.put());
        ComPtr<IActiveScriptParse> parse;
        if (SUCCEEDED(hr)) hr = fresh.as(parse);
        if (SUCCEEDED(hr)) hr = parse->InitNew();
        if (FAILED(hr)) return hr;
        ++g_clones;
        *clone = fresh.detach();
        return S_OK;
    }

    // IActiveScriptParse, in slot order.
    STDMETHODIMP InitNew() override { return parse_->InitNew(); }
    STDMETHODIMP AddScriptlet(LPCOLESTR name, LPCOLESTR code, LPCOLESTR item, LPCOLESTR subItem, LPCOLESTR event,
                              LPCOLESTR delimiter, DWORD context, ULONG line, DWORD flags, BSTR* result,
                              EXCEPINFO* excep) override {
        return parse_->AddScriptlet(name, code, item, subItem, event, delimiter, context, line, flags, result, excep);
    }
    STDMETHODIMP ParseScriptText(LPCOLESTR code, LPCOLESTR item, IUnknown* context, LPCOLESTR delimiter,
                                 DWORD cookie, ULONG line, DWORD flags, VARIANT* result, EXCEPINFO* excep) override {
        Execution running(executions_.get());
        return parse_->ParseScriptText(code, item, context, delimiter, cookie, line, flags, result, excep);
    }

private:
    virtual ~WindowsEngine() { --g_live; }
    LONG refs_ = 0;
    CLSID class_;
    ComPtr<IActiveScript> real_;
    ComPtr<IActiveScriptParse> parse_;
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
    ComPtr<IActiveScriptParse> parse;
    if (SUCCEEDED(hr)) hr = real.as(parse);
    if (FAILED(hr)) return hr;
    auto* executions = new (std::nothrow) Executions;
    if (!executions) return E_OUTOFMEMORY;
    ComPtr<Executions> shared(executions);
    auto* wrapped = new (std::nothrow) WindowsEngine(engineClass, real.get(), parse.get(), shared.get());
    if (!wrapped) return E_OUTOFMEMORY;
    wrapped->AddRef();
    *engine = static_cast<IActiveScript*>(wrapped);
    return S_OK;
}

long liveObjects() { return g_live.load(); }

long clonesMade() { return g_clones.load(); }

}  // namespace winengine
