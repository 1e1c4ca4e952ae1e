// CTolvera: the object behind the coclass Tolvera. It owns a template engine,
// its registered jobs (found by cookie), the script site and the extension
// object shared by all its jobs. The agent drives it through ITolvera from
// any thread.
#pragma once

#include <windows.h>
#include <activscp.h>

#include <unordered_map>

#include "job.h"
#include "owners.h"
#include "site.h"
#include "ztolvera.h"

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

    // The job table.
    ULONG _add(const vsinfo& cxt);
    JobRef findEntry(ULONG cookie);
    // Takes the job out of the table; the table's hold is the answer.
    JobRef removeEntry(ULONG cookie);
    // A cookie no job of this process has had; under the host lock.
    ULONG newCookie();

    HRESULT compileText(Job& job, const wchar_t* text);
    HRESULT runMain(JobStep& step, ULONG cookie);
    HRESULT closeScript(Job& job);

    // A job's engine as _add makes it: the template's clone (or, where the
    // engine cannot clone, a fresh one) with the site and the named items.
    HRESULT newJobEngine(ComPtr<IActiveScript>& engine, ComPtr<IActiveScriptParse>& parse);
    HRESULT cloneTemplate(ComPtr<IActiveScript>& engine);

    // Makes one engine call of a step; where the job's engine belongs to
    // another thread, moves the job to a fresh engine on this one first.
    template <class Call>
    HRESULT onJobEngine(JobStep& step, Call&& call);
    HRESULT moveToCallingThread(JobStep& step);

    IUnknown* outer_;
    LONG refs_ = 0;
    LONG life_ = 1;                 // 1 while refs_ is not 0, plus the calls in progress

    int initialised_ = 0;
    CriticalSection lock_;          // the job table and config
    CLSID engineClass_ = {};
    ComPtr<IActiveScript> engine_;
    ComPtr<IActiveScriptParse> parse_;
    ComPtr<CActiveScriptSite> site_;
    ComPtr<IScpExt> ext_;
    // The registered jobs, each with the table's hold on it: finding a cookie
    // costs the same for ten jobs as for ten thousand.
    std::unordered_map<ULONG, Job*> jobs_;
};

template <class Call>
HRESULT CTolvera::onJobEngine(JobStep& step, Call&& call) {
    HRESULT hr = call(step);
    if (!step.refusedAsForeign(hr)) return hr;
    HRESULT moved = moveToCallingThread(step);
    if (FAILED(moved)) return moved;
    return call(step);
}
