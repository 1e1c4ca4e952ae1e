// CTolvera: the object behind the coclass Tolvera. It owns a template engine,
// one engine per registered job (its script entries, whose addresses are the
// cookies), the script site and the extension object shared by all its jobs.
// The agent drives it through ITolvera from any thread.
#pragma once

#include <windows.h>
#include <activscp.h>

#include "owners.h"
#include "site.h"
#include "vbcache.h"
#include "ztolvera.h"

// One registered job: its own engine with its parse interface, its entry in
// the job-context cache, and the text of its last successful compile, which
// lets the job move to a fresh engine on another thread.
struct scriptEntry {
    cacheEntry* cacheidx = nullptr;
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    DWORD engineThread = 0;         // the thread that gave the engine its site
    bool stopped = false;           // stop closed the engine's script state
    CrtPtr<wchar_t> text;
    scriptEntry* prev = nullptr;
    scriptEntry* next = nullptr;
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

    // Script entries.
    scriptEntry* _add(const vsinfo& cxt);
    scriptEntry* findEntry(ULONG cookie);
    void removeEntry(ULONG cookie);
    void destroyEntry(scriptEntry* entry);

    // A job's engine as _add makes it: the template's clone (or, where the
    // engine cannot clone, a fresh one) with the site and the named items.
    HRESULT newJobEngine(ComPtr<IActiveScript>& engine, ComPtr<IActiveScriptParse>& parse);
    HRESULT cloneTemplate(ComPtr<IActiveScript>& engine);

    // Runs one engine step of a job; where the job's engine refuses the
    // calling thread, moves the job to a fresh engine on this thread first.
    template <class Step>
    HRESULT onJobEngine(scriptEntry* entry, Step&& step);
    bool refusesCallingThread(const scriptEntry* entry, HRESULT hr) const;
    HRESULT moveToCallingThread(scriptEntry* entry);

    HRESULT runMain(scriptEntry* entry, ULONG cookie);

    IUnknown* outer_;
    LONG refs_ = 0;

    int initialised_ = 0;
    CriticalSection lock_;          // the entry list and config
    vbcache* cache_ = nullptr;
    CLSID engineClass_ = {};
    ComPtr<IActiveScript> engine_;
    ComPtr<IActiveScriptParse> parse_;
    ComPtr<CActiveScriptSite> site_;
    ComPtr<IScpExt> ext_;
    int count_ = 0;
    scriptEntry* head_ = nullptr;
};

template <class Step>
HRESULT CTolvera::onJobEngine(scriptEntry* entry, Step&& step) {
    HRESULT hr = step(entry);
    if (!refusesCallingThread(entry, hr)) return hr;
    hr = moveToCallingThread(entry);
    return FAILED(hr) ? hr : step(entry);
}
