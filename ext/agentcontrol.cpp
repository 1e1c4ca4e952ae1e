// Agent control.
#include "scpext.h"

STDMETHODIMP ScpExt::IsMCAction(VARIANT_BOOL* actflg) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::IsActionAllow(long act_type, long intv_hr, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::UpdateAction(VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCRebootNT(BSTR msg, long timeout, VARIANT_BOOL forceClose, VARIANT_BOOL restart, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCInCluster(VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCIsActionRunning(BSTR akpname, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCEnableComm(VARIANT_BOOL globalSites, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCDisableComm(VARIANT_BOOL globalSites, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCEnableUpload(long ult, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCUpload(long ult, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCSetCommType(long ct, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCConfigNetFlow(long hiwm, long lowm, long intv, VARIANT_BOOL dynaflow, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCSetPrimaryMS(BSTR ms, VARIANT* errmsg, BSTR ms2, long Update, BSTR mchost, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCSetMasterMC(BSTR rsc, BSTR mc, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCSetBlackOut(BSTR rsc, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCSetResRequired(BSTR rsc, BSTR reslist, BSTR svclist, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCCompactDB(VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCUpdateKey(BSTR keyfile, BSTR password, BSTR* retstr, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCConfigPrimaryMS(BSTR ms, BSTR ms2, BSTR mchost, long Update, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}
