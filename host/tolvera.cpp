#include "tolvera.h"

#include <atomic>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "companion.h"
#include "engine_source.h"
#include "memory.h"
#include "module.h"
#include "scpext.h"
#include "test_points.h"
#include "text.h"
#include "trace.h"
#include "trace_formats.h"

namespace {

// The four named items every engine gets, in this order, visible to
// scripts and not event sources.
constexpr const wchar_t* kNamedItems[] = {L"CVEXT", L"CVWINEXT", L"CVFLEXT", L"CVWIN32EXT"};

constexpr DWORD kParseFlags = SCRIPTTEXT_ISVISIBLE | SCRIPTTEXT_ISPERSISTENT;
constexpr LCID kLocale = 9;
constexpr wchar_t kByteOrderMark = 0xFEFF;

// stop's answer for a job whose compile, run or close is in progress, on any
// thread: the step is asked to end, and its engine is not closed under it.
// Closing an engine under the script it is executing pulls the code from
// under the interpreter (the platform's engine faults on its own thread),
// and an engine that accepted a close from another thread would change
// state under a run. A later stop closes the job. A compile refused for a
// step in progress fails with the same code.
constexpr HRESULT kBusy = HRESULT_FROM_WIN32(ERROR_BUSY);

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

// The trace line of a run refused because another step of its job is going.
void traceBusyRun(const JobStep& step, ULONG cookie) {
    switch (step.busyWith()) {
    case Job::Step::Run:
        trace("Tolvera-run: script %x is running already\n", cookie);
        break;
    case Job::Step::Compile:
        if (step.busyOn() == GetCurrentThreadId())
            trace("Tolvera-run: script %x is compiling\n", cookie);
        else
            trace("Tolvera-run: script %x is compiling on another thread\n", cookie);
        break;
    default:
        trace("Tolvera-run: script %x is being closed\n", cookie);
        break;
    }
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

// --- construction and teardown ---

CTolvera::CTolvera(IUnknown* outer) : outer_(outer) {
    moduleLock();
    ComPtr<IScpExt> ext(ScpExt::create());
    if (!ext) {
        trace("CTolvera-CTolvera: error: %x\n", E_OUTOFMEMORY);
        return;
    }
    // Script-side calls find their job through the thread's activations.
    if (!activationsAvailable()) {
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
    for (auto& listed : jobs_) JobRef(listed.second);
    jobs_.clear();
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
    std::vector<JobRef> held;
    {
        Lock guard(lock_);
        for (auto& listed : jobs_) {
            listed.second->unlist();
            try {
                held.push_back(JobRef::share(listed.second));
            } catch (const std::bad_alloc&) {
                // Unlisted all the same: their steps end with the host.
            }
        }
    }
    for (JobRef& job : held) job->askToEnd();
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
    JobRef job = findEntry(cookie);
    if (!job) {
        trace("Tolvera-compile: cookie %x not found\n", cookie);
        return S_OK;
    }
    compileFoundJob(cookie);
    std::string name;
    try {
        name = toLocaleText(job->name().c_str());
    } catch (const std::bad_alloc&) {
        trace(traceformat::kCompileFailed, "?", cookie, E_OUTOFMEMORY);
        return S_FALSE;
    }

    // "NULL" in any case is the type library's default: the agent passed no
    // text, and the job object has it. The job object is fixed at reg.
    CrtPtr<wchar_t> fromJob;
    const wchar_t* text = script && _wcsicmp(script, L"NULL") ? script : nullptr;
    if (!text && job->jobobj()) {
        fromJob.reset(job->jobobj()->getKS_w());
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

    HRESULT hr = compileText(*job, text);
    if (FAILED(hr)) {
        trace(traceformat::kCompileFailed, name.c_str(), cookie, hr);
        return S_FALSE;
    }
    trace("Tolvera-compile: script <%s,%x> compiled\n", name.c_str(), cookie);
    return S_OK;
}

// Parses `text` into the job's engine and keeps it among the job's texts.
// The copy is made first: a compile that could not keep its text fails
// before the engine sees it, so the kept texts are always the engine's.
// A job let go of is not compiled (its global code could hang where no
// stop reaches it), nor one whose run, compile or close is going.
HRESULT CTolvera::compileText(Job& job, const wchar_t* text) {
    std::unique_ptr<CompiledText> kept(new (std::nothrow) CompiledText);
    if (kept) kept->text.reset(memory::duplicate(text));
    if (!kept || !kept->text) return E_OUTOFMEMORY;

    Activation code;
    code.kind = ActivationKind::Compile;
    JobStep step(job, Job::Step::Compile, code);
    if (step.refusal() == JobStep::Refusal::Removed) return E_ABORT;
    if (step.refusal() == JobStep::Refusal::Busy) return kBusy;
    HRESULT hr = onJobEngine(step, [text](JobStep& s) { return parseJobScript(s.parse(), text); });
    // A compile's answer is its parse's: a text the engine took is kept and
    // the compile succeeded, also where a stop met its global code and the
    // script went on past it (its later calls were refused all the same).
    if (SUCCEEDED(hr)) step.keepText(kept.release());
    // Marked before the step ends: a run that begins on another thread the
    // moment it has ended is a run of a compiled job.
    if (SUCCEEDED(hr)) job.markCompiled();
    return hr;
}

// The agent never overlaps two runs of a job; one that does anyway is
// refused, so that the run going on keeps its activation and stays
// stoppable. So is a run overlapping a compile or a close of the job.
STDMETHODIMP CTolvera::run(ULONG cookie, ULONG pwdobj, VARIANT_BOOL* ret) {
    CallHold hold(this);
    if (!ret) return S_FALSE;
    *ret = 0;
    if (!initialised_) return S_FALSE;
    JobRef job = findEntry(cookie);
    if (!job) {
        trace("Tolvera-run: cookie %x not found\n", cookie);
        return S_FALSE;
    }
    runFoundJob(cookie);
    Activation code;
    code.pwdobj = pwdobj;
    code.kind = ActivationKind::Run;
    JobStep step(*job, Job::Step::Run, code);
    if (step.refusal() == JobStep::Refusal::Removed) {
        trace("Tolvera-run: script %x is being removed\n", cookie);
        return S_FALSE;
    }
    if (step.refusal() == JobStep::Refusal::Busy) {
        traceBusyRun(step, cookie);
        return S_FALSE;
    }
    HRESULT hr = runMain(step, cookie);
    if (code.aborted) {
        // The script ended itself through an abort method: that is success.
        *ret = 1;
    } else if (code.ending) {
        // Ended by stop, unreg or the host's release, also where the script
        // handled the interruption and main returned.
        trace(traceformat::kRunFailed, cookie, FAILED(hr) ? hr : E_ABORT);
    } else if (SUCCEEDED(hr)) {
        *ret = 1;
    } else {
        trace(traceformat::kRunFailed, cookie, hr);
    }
    return S_OK;
}

HRESULT CTolvera::runMain(JobStep& step, ULONG cookie) {
    HRESULT hr = onJobEngine(step, [](JobStep& s) { return s.engine()->SetScriptState(SCRIPTSTATE_STARTED); });
    if (FAILED(hr)) return hr;
    trace("Tolvera-run: running script %x ..\n", cookie);
    // Asked to end while it moved or started: main is not called.
    if (step.activation().ending) return E_ABORT;
    IActiveScript* engine = step.engine();
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

// stop is the agent's way to end a hung job: the step in progress, on any
// thread, is asked to end and stop answers busy; an idle job's script state
// is closed, and the engine's answer to the close is stop's answer.
STDMETHODIMP CTolvera::stop(ULONG cookie) {
    CallHold hold(this);
    if (!initialised_) return S_FALSE;
    JobRef job = findEntry(cookie);
    if (!job) return S_FALSE;
    HRESULT hr = kBusy;
    if (job->askToEnd().first == Job::Step::Idle) {
        hr = closeScript(*job);
        // A step that began meanwhile is ended as one going at the stop.
        if (hr == kBusy) job->askToEnd();
    }
    if (FAILED(hr)) {
        trace("Tolvera-stop: script <%x> fail with err %x\n", cookie, hr);
        return S_FALSE;
    }
    trace("CTolvera-stop: script <%x> has been stopped\n", cookie);
    return S_OK;
}

// The close is a step of its own: its objects' Class_Terminate runs bound to
// the job, and no compile or run of the job overlaps it.
HRESULT CTolvera::closeScript(Job& job) {
    Activation code;
    code.kind = ActivationKind::Close;
    JobStep step(job, Job::Step::Close, code);
    if (step.refusal() != JobStep::Refusal::None) return kBusy;
    HRESULT hr = onJobEngine(step, [](JobStep& s) { return s.engine()->SetScriptState(SCRIPTSTATE_CLOSED); });
    if (SUCCEEDED(hr)) job.markStopped();
    return hr;
}

// A step still going (the job's thread unregistering from inside it, or a
// watchdog's unreg overlapping) keeps the job until it is over, and is asked
// to end; the last hold on the job closes it.
STDMETHODIMP CTolvera::unreg(ULONG cookie) {
    CallHold hold(this);
    if (!initialised_) return S_FALSE;
    if (JobRef job = removeEntry(cookie)) job->askToEnd();
    return S_OK;
}

// --- the job table ---

// Answers the new job's cookie, 0 when it could not be registered.
ULONG CTolvera::_add(const vsinfo& cxt) {
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    HRESULT hr = newJobEngine(engine, parse);
    if (FAILED(hr)) {
        trace("CTolvera-_add: error: %x\n", hr);
        return 0;
    }
    ULONG cookie;
    {
        Lock guard(lock_);
        cookie = newCookie();
    }
    JobRef job = Job::create(cookie, cxt.jobid, cxt.jobname, reinterpret_cast<ImpJob*>(cxt.jobobj), engine, parse,
                             static_cast<ScpExt*>(ext_.get()));
    if (!job) {
        trace("CTolvera-_add: fail to alloc ent\n");
        closeEngine(parse, engine);
        return 0;
    }
    {
        Lock guard(lock_);
        try {
            jobs_.emplace(cookie, job.get());
            job.release();
            return cookie;
        } catch (const std::bad_alloc&) {
        }
    }
    // The job's own hold lets go of it here, outside the host lock.
    trace("CTolvera-_add: fail to alloc ent\n");
    return 0;
}

ULONG CTolvera::newCookie() {
    for (;;) {
        ULONG cookie = ++g_lastCookie;
        if (cookie != 0 && !jobs_.count(cookie)) return cookie;
    }
}

JobRef CTolvera::findEntry(ULONG cookie) {
    Lock guard(lock_);
    auto found = jobs_.find(cookie);
    return found == jobs_.end() ? JobRef() : JobRef::share(found->second);
}

JobRef CTolvera::removeEntry(ULONG cookie) {
    Lock guard(lock_);
    auto found = jobs_.find(cookie);
    if (found == jobs_.end()) return JobRef();
    JobRef job(found->second);
    jobs_.erase(found);
    job->unlist();
    return job;
}
