// Events and aborts.
#include "scpext.h"

#include "args.h"

STDMETHODIMP ScpExt::CreateEvent(long sev, BSTR evtmsg, BSTR action, BSTR objlist, double value, BSTR agtmsg, BSTR evtsrc, long evtid, long msgtype, VARIANT_BOOL deletefile) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::AbortScript(BSTR obj, BSTR msg, long sev, VARIANT_BOOL raise_err) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::RaiseEvent(BSTR idstr, long listlen, VARIANT condL, VARIANT sevL, VARIANT evtmsgL, VARIANT akpL, BSTR obj, double val, long msgtype, BSTR agtmsg, BSTR help, VARIANT_BOOL deletefile) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MSActions(long sev, BSTR evtmsg, BSTR akp, BSTR objlist, BSTR agtmsg, double value) {
    ArgString message(evtmsg), action(akp), objects(objlist), detail(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(core_->MSActions(&*cxt, sev, message, action, objects, detail, value, 0, nullptr, nullptr));
}

STDMETHODIMP ScpExt::MSLongActions(long sev, BSTR evtmsg, BSTR akp, BSTR objlist, BSTR path, VARIANT_BOOL deletefile, double value) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::MCAbort(BSTR objlist, BSTR agtmsg, long sev, VARIANT_BOOL retevt, VARIANT_BOOL raise_err) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::CreateProxyEvent(long sev, BSTR evtmsg, BSTR action, BSTR objlist, double value, BSTR agtmsg, BSTR evtsrc, long evtid, long msgtype, VARIANT_BOOL deletefile) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::CreateEventEx(BSTR KBid, BSTR MetadataXml, long Severity, BSTR EventMsg, BSTR action, BSTR objlist, double value, BSTR detailmsg, BSTR EventSrc, long EventID, long msgtype, VARIANT_BOOL ProxyEvent, VARIANT_BOOL deletefile) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::AbortScriptEx(BSTR KBid, BSTR MetadataXml, BSTR objlist, BSTR agtmsg, long sev, VARIANT_BOOL raise_err) {
    return E_NOTIMPL;
}
