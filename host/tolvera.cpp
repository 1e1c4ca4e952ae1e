#include "tolvera.h"

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "abort_marker.h"
#include "companion.h"
#include "engine_source.h"
#include "memory.h"
#include "module.h"
#include "scpext.h"
#include "test_points.h"
#include "text.h"
#include "trace.h"

namespace {

// The four named items every engine gets, in this order, visible to
// scripts and not event sources.
constexpr const wchar_t* kNamedItems[] = {L"CVEXT", L"CVWINEXT", L"CVFLEXT", L"CVWIN32EXT"};

constexpr DWORD kParseFlags = SCRIPTTEXT_ISVISIBLE | SCRIPTTEXT_ISPERSISTENT;
constexpr LCID kLocale = 9;
constexpr wchar_t kByteOrderMark = 0xFEFF;

// stop's answer for a job whose run is going on the very thread that asks:
// closing an engine under the script it is executing pulls the code from
// under the interpreter (the platform's engine faults), so the run is only
// asked to end.
constexpr HRESULT kRunningOnThisThread = HRESULT_FROM_WIN32(ERROR_BUSY);

// The job bound to the calling thread while the host has its engine run the
// job's code outside a run: a compile's global code, or the Class_Terminate
// of the script's objects when the engine is closed. What that code calls
// and the errors it raises belong to this job, not to whichever other job
// the thread has.
class ScriptCodeBinding {
public:
    ScriptCodeBinding(vbcache* cache, cacheEntry* job) : cache_(cache), job_(job) {
        bound_ = cache_->bindForScriptCode(job_, previous_);
    }
    ~ScriptCodeBinding() {
        if (bound_) cache_->unbindAfterScriptCode(job_, previous_);
    }
    ScriptCodeBinding(const ScriptCodeBinding&) = delete;
    ScriptCodeBinding& operator=(const ScriptCodeBinding&) = delete;

private:
    vbcache* cache_;
    cacheEntry* job_;
    DWORD previous_ = 0;
    bool bound_ = false;
};

unsigned cacheidxOf(const cacheEntry* cacheidx) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cacheidx)); }

// Cookies count up for the life of the process, so one that was handed out
// and removed never names another job: a late operation with it finds nothing.
std::atomic<ULONG> g_lastCookie{0};

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

// Closes the job's engine (its objects' Class_Terminate belongs to the job)
// and takes the job out of the cache.
void tearDown(scriptEntry* entry) {
    {
        ScriptCodeBinding binding(entry->cache, entry->cacheidx);
        closeEngine(entry->parse, entry->engine);
    }
    if (entry->cacheidx) entry->cache->remove(entry->cacheidx);
    delete entry;
}

void appendText(scriptEntry* entry, compiledText* text) {
    Lock guard(entry->lock);
    (entry->lastText ? entry->lastText->next : entry->texts) = text;
    entry->lastText = text;
    ++entry->textGeneration;
}

}  // namespace

// The engine reports a parse failure to the site as well; what it leaves in
// the EXCEPINFO is ours to free.
HRESULT parseJobScript(IActiveScriptParse* parse, const wchar_t* text) {
    EXCEPINFO excep = {};
    HRESULT hr = parse->ParseScriptText(text, nullptr, nullptr, nullptr, 0, 0, kParseFlags, nullptr, &excep);
    releaseExcepInfo(&excep);
    return hr;
}

// --- script entries and the holds on their engines ---

scriptEntry::~scriptEntry() {
    while (compiledText* text = texts) {
        texts = text->next;
        delete text;
    }
}

EntryRef EntryRef::share(scriptEntry* held) {
    ++held->refs;
    return EntryRef(held);
}

void EntryRef::reset() {
    if (scriptEntry* entry = std::exchange(entry_, nullptr))
        if (--entry->refs == 0) tearDown(entry);
}

scriptEntry* EntryRef::release() { return std::exchange(entry_, nullptr); }

// A run or a compile marks itself going under the same lock as unreg and the
// host's release mark the job let go of: either they see it and ask it to
// end, or it sees the mark and does not start (a compile's global code could
// hang as a run can).
EngineUse::EngineUse(scriptEntry* entry, Kind kind) : entry_(entry), kind_(kind) {
    Lock guard(entry->lock);
    if (kind != Stop && entry->unlisted) {
        refused_ = true;
        return;
    }
    ++entry->users;
    if (kind == Run) {
        entry->runThread = GetCurrentThreadId();
        ++entry->runNumber;
    } else if (kind == Compile) {
        outerCompile_ = entry->compileThread;
        entry->compileThread = GetCurrentThreadId();
        ++entry->compileNumber;
    }
    engine_ = entry->engine;
    parse_ = entry->parse;
}

EngineUse::~EngineUse() {
    if (refused_) return;
    Lock guard(entry_->lock);
    --entry_->users;
    if (kind_ == Run) entry_->runThread = 0;
    if (kind_ == Compile) entry_->compileThread = outerCompile_;
    // An engine this hold outlived is let go here, on the holder's thread.
}

void EngineUse::refresh() {
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    {
        Lock guard(entry_->lock);
        engine = entry_->engine;
        parse = entry_->parse;
    }
    std::swap(engine_, engine);
    std::swap(parse_, parse);
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
    if (FAILED(hr = createEngine(engineClass_, engine_.put()))) return hr;
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
// and the extension object go and the module can unload. No call is in
// progress, so the list's references are the last.
CTolvera::~CTolvera() {
    while (scriptEntry* entry = head_) {
        head_ = entry->next;
        EntryRef listed(entry);
    }
    index_.clear();
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
    if (refs == 0) {
        endRunsInProgress();
        letGo();
    }
    return refs;
}

// Held by every ITolvera call for its whole length: declared first, so that
// the host it may delete is touched by nothing after it.
class CTolvera::CallHold {
public:
    explicit CallHold(CTolvera* host) : host_(host) { InterlockedIncrement(&host->life_); }
    ~CallHold() { host_->letGo(); }
    CallHold(const CallHold&) = delete;
    CallHold& operator=(const CallHold&) = delete;

private:
    CTolvera* host_;
};

void CTolvera::letGo() {
    if (InterlockedDecrement(&life_) == 0) delete this;
}

// An agent shutting down lets the host go while a run may still hang on a
// worker; the run is asked to end as stop would, and the host goes with
// the last call out.
void CTolvera::endRunsInProgress() {
    std::vector<EntryRef> running;
    {
        Lock guard(lock_);
        for (scriptEntry* entry = head_; entry; entry = entry->next) {
            Lock entryGuard(entry->lock);
            entry->unlisted = true;
            if (!entry->runThread && !entry->compileThread) continue;
            try {
                running.push_back(EntryRef::share(entry));
            } catch (const std::bad_alloc&) {
                break;  // the rest end when their runs do
            }
        }
    }
    for (EntryRef& entry : running) {
        EngineUse use(entry.get(), EngineUse::Stop);
        askRunToEnd(entry.get(), use);
    }
}

// --- ITolvera ---

STDMETHODIMP CTolvera::config(ULONG standalone) {
    CallHold hold(this);
    if (!initialised_) return S_FALSE;
    Lock guard(lock_);
    // 0 switches nothing back: stand-alone mode is for the agent's lifetime.
    if (standalone) site_->setStandAlone();
    return S_OK;
}

STDMETHODIMP CTolvera::reg(vsinfo cxt, ULONG* cookie) {
    CallHold hold(this);
    if (!cookie) return S_FALSE;
    *cookie = 0;
    if (!initialised_) return S_FALSE;
    *cookie = _add(cxt);
    if (!*cookie) return S_FALSE;
    trace("Tolvera-reg: script reg with cookie %x\n", *cookie);
    return S_OK;
}

STDMETHODIMP CTolvera::compile(ULONG cookie, BSTR script) {
    CallHold hold(this);
    if (!initialised_) return S_FALSE;
    EntryRef entry = findEntry(cookie);
    if (!entry) {
        trace("Tolvera-compile: cookie %x not found\n", cookie);
        return S_OK;
    }
    compileFoundJob(cookie);
    cacheEntry* job = cache_->find(entry->cacheidx);
    if (!job) {
        trace("Tolvera-compile: cacheidx %x not found\n", cacheidxOf(entry->cacheidx));
        return S_OK;
    }
    std::string name;
    try {
        name = toLocaleText(cache_->jobName(entry->cacheidx).c_str());
    } catch (const std::bad_alloc&) {
        trace("Tolvera-compile: script <%s,%x> failed, err=%x\n", "?", cookie, E_OUTOFMEMORY);
        return S_FALSE;
    }

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
    // Agents often store a script's text with its byte-order mark, which the
    // platform's engine takes for the end of the text: it would compile
    // nothing and the run would find no main.
    while (*text == kByteOrderMark) ++text;

    HRESULT hr = compileText(entry.get(), text);
    if (FAILED(hr)) {
        trace("Tolvera-compile: script <%s,%x> failed, err=%x\n", name.c_str(), cookie, hr);
        return S_FALSE;
    }
    trace("Tolvera-compile: script <%s,%x> compiled\n", name.c_str(), cookie);
    cache_->markCompiled(entry->cacheidx);
    return S_OK;
}

// Parses `text` into the job's engine and keeps it among the job's texts.
// The copy is made first: a compile that could not keep its text fails
// before the engine sees it, so the kept texts are always the engine's.
HRESULT CTolvera::compileText(scriptEntry* entry, const wchar_t* text) {
    std::unique_ptr<compiledText> kept(new (std::nothrow) compiledText);
    if (kept) kept->text.reset(memory::duplicate(text));
    if (!kept || !kept->text) return E_OUTOFMEMORY;

    ScriptCodeBinding binding(cache_, entry->cacheidx);
    HRESULT hr;
    {
        EngineUse use(entry, EngineUse::Compile);
        if (use.refused()) return E_ABORT;
        hr = onJobEngine(entry, use, [text](EngineUse& u) { return parseJobScript(u.parse(), text); });
        // Kept while the engine is still held: a move that re-parsed the
        // texts meanwhile sees the generation change and parses this one too
        // before its engine takes the old one's place.
        if (SUCCEEDED(hr)) appendText(entry, kept.release());
    }
    return hr;
}

STDMETHODIMP CTolvera::run(ULONG cookie, ULONG pwdobj, VARIANT_BOOL* ret) {
    CallHold hold(this);
    if (!ret) return S_FALSE;
    *ret = 0;
    if (!initialised_) return S_FALSE;
    EntryRef entry = findEntry(cookie);
    if (!entry) {
        trace("Tolvera-run: cookie %x not found\n", cookie);
        return S_FALSE;
    }
    runFoundJob(cookie);
    // The agent never overlaps two runs of a job; one that does anyway is
    // refused, so that the run going on keeps its binding and stays stoppable.
    // So is one overlapping a compile on another thread: its global code
    // keeps the job's binding, and with it the calls that can end it.
    {
        Lock guard(entry->lock);
        if (entry->runThread) {
            trace("Tolvera-run: script %x is running already\n", cookie);
            return S_FALSE;
        }
        if (entry->compileThread && entry->compileThread != GetCurrentThreadId()) {
            trace("Tolvera-run: script %x is compiling on another thread\n", cookie);
            return S_FALSE;
        }
    }
    if (!cache_->attach(entry->cacheidx, pwdobj)) {
        trace("Tolvera-run: failed to attach pwd to cacheidx %d\n", cacheidxOf(entry->cacheidx));
        return S_FALSE;
    }
    HRESULT hr = S_OK;
    bool refused;
    {
        EngineUse use(entry.get(), EngineUse::Run);
        refused = use.refused();
        if (!refused) hr = runMain(entry.get(), use, cookie);
    }
    if (refused) {
        trace("Tolvera-run: script %x is being removed\n", cookie);
        cache_->detach(entry->cacheidx);
        return S_FALSE;
    }
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

HRESULT CTolvera::runMain(scriptEntry* entry, EngineUse& use, ULONG cookie) {
    HRESULT hr = onJobEngine(entry, use, [](EngineUse& u) { return u.engine()->SetScriptState(SCRIPTSTATE_STARTED); });
    if (FAILED(hr)) return hr;
    trace("Tolvera-run: running script %x ..\n", cookie);
    IActiveScript* engine = use.engine();
    if (FAILED(hr = engine->SetScriptState(SCRIPTSTATE_CONNECTED))) return hr;
    ComPtr<IDispatch> script;
    if (FAILED(hr = engine->GetScriptDispatch(nullptr, script.put()))) return hr;
    LPOLESTR name = const_cast<LPOLESTR>(L"main");
    DISPID main = DISPID_UNKNOWN;
    if (FAILED(hr = script->GetIDsOfNames(IID_NULL, &name, 1, kLocale, &main))) return hr;
    trace("Tolvera-run: invoking main with dispid %x  ...\n", main);
    DISPPARAMS none = {};
    return script->Invoke(main, IID_NULL, kLocale, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

// stop is the agent's way to end a hung job: a run in progress is asked to
// end before the engine's script state is closed. The engine's answer to the
// close is stop's answer.
STDMETHODIMP CTolvera::stop(ULONG cookie) {
    CallHold hold(this);
    if (!initialised_) return S_FALSE;
    EntryRef entry = findEntry(cookie);
    if (!entry) return S_FALSE;
    EngineUse use(entry.get(), EngineUse::Stop);
    const DWORD running = askRunToEnd(entry.get(), use);
    // The same holds for the job's code outside a run on this thread: stop
    // from inside a compile's global code, or from the clean-up of a close.
    const DWORD self = GetCurrentThreadId();
    HRESULT hr = kRunningOnThisThread;
    if (running != self && cache_->scriptCodeThread(entry->cacheidx) != self) {
        ScriptCodeBinding binding(cache_, entry->cacheidx);
        hr = onJobEngine(entry.get(), use, [](EngineUse& u) { return u.engine()->SetScriptState(SCRIPTSTATE_CLOSED); });
    }
    if (FAILED(hr)) {
        trace("Tolvera-stop: script <%x> fail with err %x\n", cookie, hr);
        return S_FALSE;
    }
    {
        Lock guard(entry->lock);
        entry->stopped = true;
    }
    trace("CTolvera-stop: script <%x> has been stopped\n", cookie);
    return S_OK;
}

// Interrupts the run in progress, if any, with the abort marker, which the
// site does not report; the run ends as a failed one, since nothing marked
// the job aborted. A compile whose global code hangs on another thread is
// ended the same way and fails. (One on this thread is the caller's own
// code: a stop from inside it lets it go on.) Answers the thread of the run
// or compile, 0 when none was going.
DWORD CTolvera::askRunToEnd(scriptEntry* entry, EngineUse& use) {
    DWORD running, compiling;
    unsigned long runNumber, compileNumber;
    {
        Lock guard(entry->lock);
        running = entry->runThread;
        runNumber = entry->runNumber;
        compiling = entry->compileThread;
        compileNumber = entry->compileNumber;
    }
    if (compiling == GetCurrentThreadId()) compiling = 0;
    if (!running && !compiling) return 0;
    const DWORD thread = running ? running : compiling;
    EXCEPINFO marker = abortMarker();
    if (SUCCEEDED(use.engine()->InterruptScriptThread(SCRIPTTHREADID_ALL, &marker, SCRIPTINTERRUPT_RAISEEXCEPTION)))
        return thread;
    // Engines without interruption: the code ends at its next call into
    // ScpExt. Marked only while that same run or compile is still going,
    // never the next: each clears the mark when it is over.
    Lock guard(entry->lock);
    if (running ? entry->runThread && entry->runNumber == runNumber
                : entry->compileThread == compiling && entry->compileNumber == compileNumber)
        cache_->markEnding(entry->cacheidx);
    return thread;
}

// A run still going (the job's thread unregistering from inside it, or a
// watchdog's stop overlapping) keeps the job until it is over, and is asked
// to end; the last hold on the job closes it.
STDMETHODIMP CTolvera::unreg(ULONG cookie) {
    CallHold hold(this);
    if (!initialised_) return S_FALSE;
    if (EntryRef entry = removeEntry(cookie)) {
        EngineUse use(entry.get(), EngineUse::Stop);
        askRunToEnd(entry.get(), use);
    }
    return S_OK;
}

// --- the entry list ---

// Answers the new job's cookie, 0 when it could not be registered.
ULONG CTolvera::_add(const vsinfo& cxt) {
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    HRESULT hr = newJobEngine(engine, parse);
    if (FAILED(hr)) {
        trace("CTolvera-_add: error: %x\n", hr);
        return 0;
    }
    EntryRef entry(new (std::nothrow) scriptEntry);
    if (!entry) {
        trace("CTolvera-_add: fail to alloc ent\n");
        closeEngine(parse, engine);
        return 0;
    }
    // From here on the entry's reference lets go of whatever is not listed.
    entry->cache = cache_;
    entry->engine = std::move(engine);
    entry->parse = std::move(parse);
    entry->engineThread = GetCurrentThreadId();
    entry->cacheidx = cache_->add(cxt.jobid, cxt.jobname, reinterpret_cast<ImpJob*>(cxt.jobobj), entry->engine.get());
    if (entry->cacheidx) {
        Lock guard(lock_);
        try {
            ULONG cookie = newCookie();
            index_.emplace(cookie, entry.get());
            entry->cookie = cookie;
            entry->next = head_;
            if (head_) head_->prev = entry.get();
            head_ = entry.release();
            return cookie;
        } catch (const std::bad_alloc&) {
        }
    }
    trace("CTolvera-_add: fail to alloc ent\n");
    return 0;
}

ULONG CTolvera::newCookie() {
    for (;;) {
        ULONG cookie = ++g_lastCookie;
        if (cookie != 0 && !index_.count(cookie)) return cookie;
    }
}

EntryRef CTolvera::findEntry(ULONG cookie) {
    Lock guard(lock_);
    auto found = index_.find(cookie);
    return found == index_.end() ? EntryRef() : EntryRef::share(found->second);
}

EntryRef CTolvera::removeEntry(ULONG cookie) {
    Lock guard(lock_);
    auto found = index_.find(cookie);
    if (found == index_.end()) return EntryRef();
    scriptEntry* entry = found->second;
    index_.erase(found);
    {
        Lock entryGuard(entry->lock);
        entry->unlisted = true;
    }
    if (entry->prev) entry->prev->next = entry->next;
    if (entry->next) entry->next->prev = entry->prev;
    if (head_ == entry) head_ = entry->next;
    return EntryRef(entry);
}
