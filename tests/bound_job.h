// A job bound to the calling test thread as if its run were in progress, so
// that tests can call ScpExt's methods directly and see their HRESULTs, with
// an engine of the test's choosing behind it.
#pragma once

#include <activscp.h>

#include <vector>

#include <optional>

#include "activation.h"
#include "script_fixture.h"

class BoundJob {
public:
    explicit BoundJob(unsigned long jobno, unsigned long pwdobj = 0, IActiveScript* engine = nullptr)
        : job_(standin_newJob(jobno, nullptr)), engine_(engine) {
        rerun(pwdobj);
    }
    ~BoundJob() {
        scope_.reset();
        standin_deleteJob(job_);
    }
    BoundJob(const BoundJob&) = delete;
    BoundJob& operator=(const BoundJob&) = delete;

    // What run does at the start of the job's next run on this thread: a
    // fresh activation, unaborted and unended.
    void rerun(unsigned long pwdobj = 0) {
        scope_.reset();
        code_.emplace();
        code_->jobobj = job_;
        code_->pwdobj = pwdobj;
        code_->engine = engine_;
        scope_.emplace(*code_);
    }
    int aborted() { return code_->aborted ? 1 : 0; }
    Activation& activation() { return *code_; }

private:
    ImpJob* job_;
    IActiveScript* engine_;
    std::optional<Activation> code_;
    std::optional<ActivationScope> scope_;
};

// An engine that only records interruption requests and answers them with
// `answer`; everything else is refused.
class InterruptRecorder : public IActiveScript {
public:
    struct Request {
        SCRIPTTHREADID thread;
        WORD wCode;
        SCODE scode;
        DWORD flags;
    };
    explicit InterruptRecorder(HRESULT answer) : answer_(answer) {}

    std::vector<Request> requests;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == __uuidof(IActiveScript)) {
            *ppv = static_cast<IActiveScript*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the test's stack.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetScriptSite(IActiveScriptSite*) override { return E_NOTIMPL; }
    STDMETHODIMP GetScriptSite(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP SetScriptState(SCRIPTSTATE) override { return E_NOTIMPL; }
    STDMETHODIMP GetScriptState(SCRIPTSTATE*) override { return E_NOTIMPL; }
    STDMETHODIMP Close() override { return E_NOTIMPL; }
    STDMETHODIMP AddNamedItem(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP AddTypeLib(REFGUID, DWORD, DWORD, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetScriptDispatch(LPCOLESTR, IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentScriptThreadID(SCRIPTTHREADID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetScriptThreadID(DWORD, SCRIPTTHREADID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetScriptThreadState(SCRIPTTHREADID, SCRIPTTHREADSTATE*) override { return E_NOTIMPL; }
    STDMETHODIMP InterruptScriptThread(SCRIPTTHREADID thread, const EXCEPINFO* ei, DWORD flags) override {
        requests.push_back({thread, ei ? ei->wCode : WORD(0), ei ? ei->scode : 0, flags});
        return answer_;
    }
    STDMETHODIMP Clone(IActiveScript**) override { return E_NOTIMPL; }

private:
    HRESULT answer_;
};
