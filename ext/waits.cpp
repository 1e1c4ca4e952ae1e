// Waiting, critical section and locks.
#include "scpext.h"

STDMETHODIMP ScpExt::CVSleep(long intv, VARIANT_BOOL noabort, long* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::WaitForObject(long hobj, long waitintv, VARIANT_BOOL noabort, long* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCEnterCS(long* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCExitCS() {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::SampleLock(VARIANT component, VARIANT oldLockCount, VARIANT* newLockCount, long* retCode) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::AcquireLock(VARIANT component, long* retCode) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::WaitForObjectEx(long hobj, long waitintv, VARIANT_BOOL noabort, long* ret) {
    return E_NOTIMPL;
}
