#include "tolvera.h"

#include <cstdint>
#include <cwchar>
#include <new>
#include <string>

#include "args.h"
#include "companion.h"
#include "module.h"
#include "scpext.h"
#include "trace.h"

namespace {

// The four named items every engine gets, in this order, visible to
// scripts and not event sources.
constexpr const wchar_t* kNamedItems[] = {L"CVEXT", L"CVWINEXT", L"CVFLEXT", L"CVWIN32EXT"};

constexpr DWORD kParseFlags = SCRIPTTEXT_ISVISIBLE | SCRIPTTEXT_ISPERSISTENT;
constexpr LCID kLocale = 9;

ULONG cookieOf(const scriptEntry* entry) { return static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(entry)); }
unsigned cacheidxOf(const cacheEntry* cacheidx) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cacheidx)); }

HRESULT createCompanion(ComPtr<IDispatch>& companion) {
    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(CLSID_ScpWin32Ext, nullptr, CLSCTX_INPROC_SERVER, IID_IScpWin32Ext, object.putVoid());
    if (FAILED(hr)) return hr;
    return object->QueryInterface(IID_IDispatch, companion.putVoid());
}

void closeEngine(ComPtr<IActiveScriptParse>& parse, ComPtr<IActiveScript>& engine) {
    parse.reset();
    if (engine) engine->Close();
    engine.reset();
}

}  // namespace

// The engine reports a parse failure to the site as well; what it leaves in
// the EXCEPINFO is ours to free.
HRESULT parseJobScript(IActiveScriptParse* parse, const wchar_t* text) {
    EXCEPINFO excep = {};
    HRESULT hr = parse->ParseScriptText(text, nullptr, nullptr, nullptr, 0, 0, kParseFlags, nullptr, &excep);
    Bstr source, description, helpFile;
    source.reset(excep.bstrSource);
    description.reset(excep.bstrDescription);
    helpFile.reset(excep.bstrHelpFile);
    return hr;
}

// --- construction and teardown ---

CTolvera::CTolvera(IUnknown* outer) : outer_(outer) {
    moduleLock();
    ComPtr<IScpExt> ext(ScpExt::create());
    if (!ext) {
        trace("CTolvera-CTolvera: error: %x\n", E_OUTOFMEMORY);
        return;
    }
    cache_ = vbcache::acquire();
    if (!cache_) {
        trace("Tolvera-Tolvera: fail to malloc vbcache obj\n");
        return;
    }
    ComPtr<IDispatch> companion;
    HRESULT hr = createCompanion(companion);
    if (FAILED(hr)) {
        trace("CTolvera-CTolvera: error: %x in CoCreateInstance for win32ext\n", hr);
        trace("CTolvera-CTolvera: error: %x\n", hr);
        return;
    }
    site_ = CActiveScriptSite::create(ext.get(), companion.get());
    if (!site_) {
        trace("CTolvera-CTolvera: error: %x\n", E_OUTOFMEMORY);
        return;
    }
    ext_ = ext;
    hr = createTemplate();
    if (FAILED(hr)) {
        trace("CTolvera-CTolvera: error: %x\n", hr);
        closeEngine(parse_, engine_);
        site_.reset();
        ext_.reset();
        return;
    }
    initialised_ = 1;
    trace("CTolvera-CTolvera: init engine instance\n");
}

HRESULT CTolvera::createTemplate() {
    HRESULT hr = CLSIDFromProgID(L"vbs", &engineClass_);
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(engineClass_, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript), engine_.putVoid());
    if (FAILED(hr)) return hr;
    if (FAILED(hr = engine_.as(parse_))) return hr;
    if (FAILED(hr = parse_->InitNew())) return hr;
    return giveSiteAndItems(engine_.get());
}

HRESULT CTolvera::giveSiteAndItems(IActiveScript* engine) {
    HRESULT hr = engine->SetScriptSite(site_.get());
    for (const wchar_t* name : kNamedItems)
        if (SUCCEEDED(hr)) hr = engine->AddNamedItem(name, SCRIPTITEM_ISVISIBLE);
    return hr;
}

// Releases everything the host holds, so that its jobs' engines, the site
// and the extension object go and the module can unload.
CTolvera::~CTolvera() {
    while (scriptEntry* entry = head_) {
        head_ = entry->next;
        destroyEntry(entry);
    }
    count_ = 0;
    closeEngine(parse_, engine_);
    site_.reset();
    ext_.reset();
    moduleUnlock();
}

// --- IUnknown ---

STDMETHODIMP CTolvera::QueryInterface(REFIID riid, void** ppv) {
    return outer_ ? outer_->QueryInterface(riid, ppv) : innerQueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CTolvera::AddRef() { return outer_ ? outer_->AddRef() : innerAddRef(); }
STDMETHODIMP_(ULONG) CTolvera::Release() { return outer_ ? outer_->Release() : innerRelease(); }

HRESULT CTolvera::innerQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITolvera) {
        *ppv = static_cast<ITolvera*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CTolvera::innerAddRef() { return InterlockedIncrement(&refs_); }

ULONG CTolvera::innerRelease() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
}

// --- ITolvera ---

STDMETHODIMP CTolvera::config(ULONG standalone) {
    if (!initialised_) return S_FALSE;
    Lock guard(lock_);
    // 0 switches nothing back: stand-alone mode is for the agent's lifetime.
    if (standalone) site_->setStandAlone();
    return S_OK;
}

STDMETHODIMP CTolvera::reg(vsinfo cxt, ULONG* cookie) {
    if (!cookie) return S_FALSE;
    *cookie = 0;
    if (!initialised_) return S_FALSE;
    scriptEntry* entry = _add(cxt);
    if (!entry) return S_FALSE;
    *cookie = cookieOf(entry);
    trace("Tolvera-reg: script reg with cookie %x\n", *cookie);
    return S_OK;
}

STDMETHODIMP CTolvera::compile(ULONG cookie, BSTR script) {
    if (!initialised_) return S_FALSE;
    scriptEntry* entry = findEntry(cookie);
    if (!entry) {
        trace("Tolvera-compile: cookie %x not found\n", cookie);
        return S_OK;
    }
    cacheEntry* job = cache_->find(entry->cacheidx);
    if (!job) {
        trace("Tolvera-compile: cacheidx %x not found\n", cacheidxOf(entry->cacheidx));
        return S_OK;
    }
    const std::string name = toLocaleText(cache_->jobName(entry->cacheidx).c_str());

    // "NULL" in any case is the type library's default: the agent passed no
    // text, and the job object has it. The job object is fixed at reg.
    CrtPtr<wchar_t> fromJob;
    const wchar_t* text = script && _wcsicmp(script, L"NULL") ? script : nullptr;
    if (!text && job->jobobj) {
        fromJob.reset(job->jobobj->getKS_w());
        text = fromJob.get();
    }
    if (!text) {
        trace("Tolvera-compile: failed to get ks script for job %s\n", name.c_str());
        return S_OK;
    }

    // The job is bound to the compiling thread while its text is parsed, so
    // that a syntax error reaches the job from whichever thread the agent
    // compiles on, not only from the registering one.
    cache_->attach(entry->cacheidx, 0);
    HRESULT hr = onJobEngine(entry, [text](scriptEntry* e) { return parseJobScript(e->parse.get(), text); });
    cache_->detach(entry->cacheidx);
    if (FAILED(hr)) {
        trace("Tolvera-compile: script <%s,%x> failed, err=%x\n", name.c_str(), cookie, hr);
        return S_FALSE;
    }
    trace("Tolvera-compile: script <%s,%x> compiled\n", name.c_str(), cookie);
    cache_->markCompiled(entry->cacheidx);
    entry->text.reset(_wcsdup(text));
    return S_OK;
}

STDMETHODIMP CTolvera::run(ULONG cookie, ULONG pwdobj, VARIANT_BOOL* ret) {
    if (!ret) return S_FALSE;
    *ret = 0;
    if (!initialised_) return S_FALSE;
    scriptEntry* entry = findEntry(cookie);
    if (!entry) {
        trace("Tolvera-run: cookie %x not found\n", cookie);
        return S_FALSE;
    }
    if (!cache_->attach(entry->cacheidx, pwdobj)) {
        trace("Tolvera-run: failed to attach pwd to cacheidx %d\n", cacheidxOf(entry->cacheidx));
        return S_FALSE;
    }
    HRESULT hr = runMain(entry, cookie);
    if (SUCCEEDED(hr)) {
        *ret = 1;
    } else if (cache_->abortFlag(entry->cacheidx)) {
        // The script ended itself through an abort method: that is success.
        *ret = 1;
    } else {
        trace("Tolvera-run: script %x failed to run with err %x\n", cookie, hr);
    }
    cache_->detach(entry->cacheidx);
    return S_OK;
}

HRESULT CTolvera::runMain(scriptEntry* entry, ULONG cookie) {
    HRESULT hr = onJobEngine(entry, [](scriptEntry* e) { return e->engine->SetScriptState(SCRIPTSTATE_STARTED); });
    if (FAILED(hr)) return hr;
    trace("Tolvera-run: running script %x ..\n", cookie);
    if (FAILED(hr = entry->engine->SetScriptState(SCRIPTSTATE_CONNECTED))) return hr;
    ComPtr<IDispatch> script;
    if (FAILED(hr = entry->engine->GetScriptDispatch(nullptr, script.put()))) return hr;
    LPOLESTR name = const_cast<LPOLESTR>(L"main");
    DISPID main = DISPID_UNKNOWN;
    if (FAILED(hr = script->GetIDsOfNames(IID_NULL, &name, 1, kLocale, &main))) return hr;
    trace("Tolvera-run: invoking main with dispid %x  ...\n", main);
    DISPPARAMS none = {};
    return script->Invoke(main, IID_NULL, kLocale, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

STDMETHODIMP CTolvera::stop(ULONG cookie) {
    if (!initialised_) return S_FALSE;
    scriptEntry* entry = findEntry(cookie);
    if (!entry) return S_FALSE;
    HRESULT hr = onJobEngine(entry, [](scriptEntry* e) { return e->engine->SetScriptState(SCRIPTSTATE_CLOSED); });
    if (FAILED(hr)) {
        trace("Tolvera-stop: script <%x> fail with err %x\n", cookie, hr);
        return S_FALSE;
    }
    entry->stopped = true;
    trace("CTolvera-stop: script <%x> has been stopped\n", cookie);
    return S_OK;
}

STDMETHODIMP CTolvera::unreg(ULONG cookie) {
    if (!initialised_) return S_FALSE;
    removeEntry(cookie);
    return S_OK;
}

// --- script entries ---

scriptEntry* CTolvera::_add(const vsinfo& cxt) {
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    HRESULT hr = newJobEngine(engine, parse);
    if (FAILED(hr)) {
        trace("CTolvera-_add: error: %x\n", hr);
        return nullptr;
    }
    auto* entry = new (std::nothrow) scriptEntry;
    if (entry)
        entry->cacheidx = cache_->add(cxt.jobid, cxt.jobname, reinterpret_cast<ImpJob*>(cxt.jobobj), engine.get());
    if (!entry || !entry->cacheidx) {
        delete entry;
        trace("CTolvera-_add: fail to alloc ent\n");
        closeEngine(parse, engine);
        return nullptr;
    }
    entry->engine = engine;
    entry->parse = parse;
    entry->engineThread = GetCurrentThreadId();

    Lock guard(lock_);
    entry->next = head_;
    if (head_) head_->prev = entry;
    head_ = entry;
    ++count_;
    return entry;
}

scriptEntry* CTolvera::findEntry(ULONG cookie) {
    Lock guard(lock_);
    for (scriptEntry* e = head_; e; e = e->next)
        if (cookieOf(e) == cookie) return e;
    return nullptr;
}

void CTolvera::removeEntry(ULONG cookie) {
    scriptEntry* entry = nullptr;
    {
        Lock guard(lock_);
        for (scriptEntry* e = head_; e && !entry; e = e->next)
            if (cookieOf(e) == cookie) entry = e;
        if (!entry) return;
        if (entry->prev) entry->prev->next = entry->next;
        if (entry->next) entry->next->prev = entry->prev;
        if (head_ == entry) head_ = entry->next;
        --count_;
    }
    destroyEntry(entry);
}

void CTolvera::destroyEntry(scriptEntry* entry) {
    closeEngine(entry->parse, entry->engine);
    if (entry->cacheidx) cache_->remove(entry->cacheidx);
    delete entry;
}
