// Job information and utilities.
#include "scpext.h"

STDMETHODIMP ScpExt::setStandAlone() {
    if (core_) core_->setStandAlone();
    return S_OK;
}

STDMETHODIMP ScpExt::GetAgentInfo(VARIANT* prodtype, VARIANT* verstr, VARIANT* idir) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetJobID(long* jobid) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetScriptInterval(long* intv) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetMachName(BSTR* machname) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetTempFileName(BSTR pathname, BSTR prefix, long uniqid, BSTR* filename) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetVersion(BSTR file, VARIANT* verstr) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetProgID(BSTR progid, BSTR scriptver, BSTR* outid) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::IterationCount(long* curiter) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetParameter(BSTR name, VARIANT* val) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetSecurityContext(BSTR label, BSTR sublab, BSTR valname, VARIANT* val, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::ZTrace(BSTR msg) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCVersion(BSTR component, VARIANT* verstr, VARIANT_BOOL fullpath) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetKPInterval(long* intv) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetContextEx(BSTR label, BSTR labval, BSTR sublab, BSTR subval, BSTR cname, VARIANT* cval) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCGetMOID(BSTR progid, BSTR ver, BSTR* outid) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::EventXMLToPlainText(BSTR xmlStr, VARIANT* plainText, long* retCode) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::cvDiffDateFromString(BSTR date, BSTR szDate, long* ret) {
    return E_NOTIMPL;
}
