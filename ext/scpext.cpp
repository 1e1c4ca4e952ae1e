// ScpExt's COM identity, construction and the job lookup of the method pattern.
#include "scpext.h"

#include <new>

#include "module.h"
#include "activation.h"

ScpExt* ScpExt::create() { return new (std::nothrow) ScpExt; }

ScpExt::ScpExt() {
    InitializeCriticalSection(&objectLock_);
    core_ = new (std::nothrow) ravlinapi(0);
    moduleLock();
}

ScpExt::~ScpExt() {
    delete core_;
    DeleteCriticalSection(&objectLock_);
    moduleUnlock();
}

STDMETHODIMP ScpExt::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IScpExt)) {
        *ppv = static_cast<IScpExt*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ScpExt::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) ScpExt::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
}

std::optional<_zjobcxt> ScpExt::jobContext() const {
    if (!core_) return std::nullopt;
    ImpJob* job = nullptr;
    unsigned long pwdobj = 0;
    if (!jobRefForThread(&job, &pwdobj) || !job) return std::nullopt;
    return _zjobcxt{job->getData(), pwdobj};
}
