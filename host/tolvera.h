// CTolvera: the object behind the coclass Tolvera. It owns a template engine,
// one engine per registered job (its script entries, found by cookie), the
// script site and the extension object shared by all its jobs. The agent
// drives it through ITolvera from any thread.
#pragma once

#include <windows.h>
#include <activscp.h>

#include <atomic>
#include <unordered_map>
#include <utility>
#include <vector>

#include "owners.h"
#include "site.h"
#include "vbcache.h"
#include "ztolvera.h"

// One text a job compiled successfully; a job keeps all of them, oldest
// first, so that a fresh engine can be given the whole script again.
struct compiledText {
    CrtPtr<wchar_t> text;
    compiledText* next = nullptr;
};

// One registered job: its own engine with its parse interface and its entry
// in the job-context cache. The entry's lock guards the engine, its use and
// the compiled texts. Operations on one cookie may overlap on several threads
// (a watchdog's stop with the job thread's unreg, too), so each holds the
// entry through an EntryRef and the engine through EngineUse.
struct scriptEntry {
    ULONG cookie = 0;
    cacheEntry* cacheidx = nullptr;
    vbcache* cache = nullptr;
    // The host's list holds one reference while the job is registered, every
    // operation on the job one while it works; the last to go tears the job
    // down (closes its engine, leaves the cache) on its own thread.
    std::atomic<long> refs{1};

    CriticalSection lock;
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    DWORD engineThread = 0;         // the thread that gave the engine its site
    bool stopped = false;           // stop closed the engine's script state
    // unreg or the host's release let go of the job: no run may start, since
    // no stop could reach it any more
    bool unlisted = false;
    int users = 0;                  // operations holding the engine now
    DWORD runThread = 0;            // the thread running main, 0 between runs
    unsigned long runNumber = 0;    // counts runs, so that stop ends only the one it saw
    DWORD compileThread = 0;        // the thread parsing a text, whose global code may run
    unsigned long compileNumber = 0;    // counts compiles, likewise
    compiledText* texts = nullptr;
    compiledText* lastText = nullptr;
    unsigned long textGeneration = 0;   // counts the texts appended, so a move sees one it missed

    scriptEntry* prev = nullptr;
    scriptEntry* next = nullptr;

    ~scriptEntry();
};

// A counted hold on a script entry, empty when no entry was found.
class EntryRef {
public:
    EntryRef() = default;
    explicit EntryRef(scriptEntry* adopted) : entry_(adopted) {}
    ~EntryRef() { reset(); }
    EntryRef(EntryRef&& other) noexcept : entry_(std::exchange(other.entry_, nullptr)) {}
    EntryRef& operator=(EntryRef&& other) noexcept {
        if (this != &other) {
            reset();
            entry_ = std::exchange(other.entry_, nullptr);
        }
        return *this;
    }
    // Another hold on the same entry, for an entry known to be held.
    static EntryRef share(scriptEntry* held);

    scriptEntry* get() const { return entry_; }
    scriptEntry* operator->() const { return entry_; }
    explicit operator bool() const { return entry_ != nullptr; }
    void reset();
    // Hands the reference to the caller, who keeps the entry from now on.
    scriptEntry* release();

private:
    scriptEntry* entry_ = nullptr;
};

// An operation's hold on a job's engine. While any hold lives the engine is
// in use and stays in place; the holder works on its own references, so an
// engine never goes away under a call into it.
class EngineUse {
public:
    enum Kind { Compile, Run, Stop };
    EngineUse(scriptEntry* entry, Kind kind);
    ~EngineUse();
    EngineUse(const EngineUse&) = delete;
    EngineUse& operator=(const EngineUse&) = delete;

    // A Run or Compile hold on a job let go of is refused: it holds
    // nothing, and the run or compile must not start.
    bool refused() const { return refused_; }
    IActiveScript* engine() const { return engine_.get(); }
    IActiveScriptParse* parse() const { return parse_.get(); }
    // Takes the entry's engine again, after it moved to a fresh one.
    void refresh();

private:
    scriptEntry* entry_;
    Kind kind_;
    bool refused_ = false;
    DWORD outerCompile_ = 0;        // a compile this one runs inside, on the same thread
    ComPtr<IActiveScript> engine_;
    ComPtr<IActiveScriptParse> parse_;
};

// Parses a job's script text into its engine (visible, persistent).
HRESULT parseJobScript(IActiveScriptParse* parse, const wchar_t* text);

class CTolvera : public ITolvera {
public:
    // `outer` is the controlling object when the host is aggregated, else null.
    explicit CTolvera(IUnknown* outer = nullptr);
    virtual ~CTolvera();
    CTolvera(const CTolvera&) = delete;
    CTolvera& operator=(const CTolvera&) = delete;

    // IUnknown: the controlling object's when aggregated.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // The object's own interfaces and reference count, whoever controls it.
    HRESULT innerQueryInterface(REFIID riid, void** ppv);
    ULONG innerAddRef();
    ULONG innerRelease();

    // ITolvera
    STDMETHODIMP config(ULONG standalone) override;
    STDMETHODIMP reg(vsinfo cxt, ULONG* cookie) override;
    STDMETHODIMP compile(ULONG cookie, BSTR script) override;
    STDMETHODIMP run(ULONG cookie, ULONG pwdobj, VARIANT_BOOL* ret) override;
    STDMETHODIMP stop(ULONG cookie) override;
    STDMETHODIMP unreg(ULONG cookie) override;

private:
    // Construction's engine block: the template engine with site and items.
    HRESULT createTemplate();
    // Attaches the site and adds the four named items.
    HRESULT giveSiteAndItems(IActiveScript* engine);

    // The host's own lifetime: the agent's references plus one for every
    // call in progress, so that an agent letting the host go while a run
    // hangs on another thread frees nothing under that run. The last call
    // out deletes the host.
    class CallHold;
    void letGo();
    // The agent let go of the host: runs still going are asked to end.
    void endRunsInProgress();

    // Script entries.
    ULONG _add(const vsinfo& cxt);
    EntryRef findEntry(ULONG cookie);
    // Takes the entry off the list; the list's reference is the answer.
    EntryRef removeEntry(ULONG cookie);
    // A cookie no entry of this process has had; under the host lock.
    ULONG newCookie();

    HRESULT compileText(scriptEntry* entry, const wchar_t* text);
    HRESULT runMain(scriptEntry* entry, EngineUse& use, ULONG cookie);
    // Asks the run in progress on another thread (or this one), or the
    // global code of a compile on another thread, to end; answers the
    // thread, 0 when neither was going.
    DWORD askRunToEnd(scriptEntry* entry, EngineUse& use);

    // A job's engine as _add makes it: the template's clone (or, where the
    // engine cannot clone, a fresh one) with the site and the named items.
    HRESULT newJobEngine(ComPtr<IActiveScript>& engine, ComPtr<IActiveScriptParse>& parse);
    HRESULT cloneTemplate(ComPtr<IActiveScript>& engine);

    // Runs one engine step of a job; where the job's engine refuses the
    // calling thread and no other operation holds it, moves the job to a
    // fresh engine on this thread first.
    template <class Step>
    HRESULT onJobEngine(scriptEntry* entry, EngineUse& use, Step&& step);
    bool refusesCallingThread(scriptEntry* entry, HRESULT hr);
    HRESULT moveToCallingThread(scriptEntry* entry);

    IUnknown* outer_;
    LONG refs_ = 0;
    LONG life_ = 1;                 // 1 while refs_ is not 0, plus the calls in progress

    int initialised_ = 0;
    CriticalSection lock_;          // the entry list, its index and config
    vbcache* cache_ = nullptr;
    CLSID engineClass_ = {};
    ComPtr<IActiveScript> engine_;
    ComPtr<IActiveScriptParse> parse_;
    ComPtr<CActiveScriptSite> site_;
    ComPtr<IScpExt> ext_;
    scriptEntry* head_ = nullptr;
    // Beside the list, so that finding a cookie costs the same for ten jobs
    // as for ten thousand.
    std::unordered_map<ULONG, scriptEntry*> index_;
};

template <class Step>
HRESULT CTolvera::onJobEngine(scriptEntry* entry, EngineUse& use, Step&& step) {
    HRESULT hr = step(use);
    if (!refusesCallingThread(entry, hr)) return hr;
    HRESULT moved = moveToCallingThread(entry);
    if (moved == S_FALSE) return hr;    // held elsewhere: the engine's refusal stands
    if (FAILED(moved)) return moved;
    use.refresh();
    return step(use);
}
