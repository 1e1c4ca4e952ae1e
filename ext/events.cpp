// Events and aborts.
#include "scpext.h"

#include "abort.h"
#include "args.h"
#include "variant_list.h"

namespace {

// CreateEvent and its variants: a message type of 0 carries the detail text
// in the call, any other names a file that holds it (and deletefile says
// whether the agent removes that file afterwards).
struct EventCall {
    long sev;
    char* message;
    char* action;
    char* objects;
    char* detail;           // the text, or the file's path
    double value;
    long msgtype;
    int deletefile;
    int proxy;
    char* kbid;
    char* metadata;
};

int sendEvent(ravlinapi* core, _zjobcxt* cxt, const EventCall& e) {
    if (e.msgtype == 0)
        return core->MSActions(cxt, e.sev, e.message, e.action, e.objects, e.detail, e.value, e.proxy,
                               e.kbid, e.metadata);
    return core->MSLongActions(cxt, e.sev, e.message, e.action, e.objects, e.detail, e.deletefile,
                               e.value, e.proxy, e.kbid, e.metadata);
}

// The agent core's abort: it may clear the interrupt flag when it ends the
// job by itself, and the script is then left running.
int abortJob(ravlinapi* core, _zjobcxt* cxt, long sev, char* objects, char* message, int raiseError,
             char* kbid, char* metadata) {
    int event = (objects || message || sev != -1) ? 1 : 0;
    int interrupt = 1;
    int r = core->MCAbort(cxt, sev, objects, message, event, raiseError, &interrupt, kbid, metadata);
    if (r && interrupt) interruptScript();
    return r;
}

}  // namespace

STDMETHODIMP ScpExt::CreateEvent(long sev, BSTR evtmsg, BSTR action, BSTR objlist, double value, BSTR agtmsg, BSTR evtsrc, long evtid, long msgtype, VARIANT_BOOL deletefile) {
    ArgString message(evtmsg), act(action), objects(objlist), detail(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(sendEvent(core_, &*cxt, {sev, message, act, objects, detail, value, msgtype,
                                              flagArg(deletefile), 0, nullptr, nullptr}));
}

STDMETHODIMP ScpExt::AbortScript(BSTR obj, BSTR msg, long sev, VARIANT_BOOL raise_err) {
    ArgString objects(obj), message(msg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(abortJob(core_, &*cxt, sev, objects, message, flagArg(raise_err), nullptr, nullptr));
}

STDMETHODIMP ScpExt::RaiseEvent(BSTR idstr, long listlen, VARIANT condL, VARIANT sevL, VARIANT evtmsgL, VARIANT akpL, BSTR obj, double val, long msgtype, BSTR agtmsg, BSTR help, VARIANT_BOOL deletefile) {
    ArgString id(idstr), object(obj), detail(agtmsg), helpText(help);
    if (listlen == 0) return S_OK;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    auto count = static_cast<unsigned long>(listlen);
    auto conditions = ReadVariantList(&condL, ValueKind::Long);
    auto severities = ReadVariantList(&sevL, ValueKind::Long);
    auto messages = ReadVariantList(&evtmsgL, ValueKind::String);
    auto actions = ReadVariantList(&akpL, ValueKind::String);
    // Every action needs its condition, severity and message; lists that do
    // not fit are the script's mistake and, like the core's answer, not
    // reported to it.
    if (!conditions || !severities || !messages || !actions || actions->count() != count ||
        conditions->count() < count || severities->count() < count || messages->count() < count)
        return S_OK;
    auto messageTexts = ToStringArray(count, messages->texts());
    auto actionTexts = ToStringArray(count, actions->texts());
    if (!messageTexts || !actionTexts) return S_OK;
    core_->RaiseEvent(&*cxt, id, count, conditions->longs(), severities->ulongs(), object, val,
                      messageTexts->get(), detail, static_cast<unsigned long>(msgtype),
                      actionTexts->get(), helpText, flagArg(deletefile));
    return S_OK;
}

STDMETHODIMP ScpExt::MSActions(long sev, BSTR evtmsg, BSTR akp, BSTR objlist, BSTR agtmsg, double value) {
    ArgString message(evtmsg), action(akp), objects(objlist), detail(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(core_->MSActions(&*cxt, sev, message, action, objects, detail, value, 0, nullptr, nullptr));
}

STDMETHODIMP ScpExt::MSLongActions(long sev, BSTR evtmsg, BSTR akp, BSTR objlist, BSTR path, VARIANT_BOOL deletefile, double value) {
    ArgString message(evtmsg), action(akp), objects(objlist), file(path);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(core_->MSLongActions(&*cxt, sev, message, action, objects, file, flagArg(deletefile),
                                          value, 0, nullptr, nullptr));
}

STDMETHODIMP ScpExt::MCAbort(BSTR objlist, BSTR agtmsg, long sev, VARIANT_BOOL retevt, VARIANT_BOOL raise_err) {
    ArgString objects(objlist), message(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    int r = core_->MCAbort(&*cxt, sev, objects, message, flagArg(retevt), flagArg(raise_err), nullptr,
                           nullptr, nullptr);
    // Unlike AbortScript, the script ends whatever the core answered.
    interruptScript();
    return hresultOf(r);
}

STDMETHODIMP ScpExt::CreateProxyEvent(long sev, BSTR evtmsg, BSTR action, BSTR objlist, double value, BSTR agtmsg, BSTR evtsrc, long evtid, long msgtype, VARIANT_BOOL deletefile) {
    ArgString message(evtmsg), act(action), objects(objlist), detail(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(sendEvent(core_, &*cxt, {sev, message, act, objects, detail, value, msgtype,
                                              flagArg(deletefile), 1, nullptr, nullptr}));
}

STDMETHODIMP ScpExt::CreateEventEx(BSTR KBid, BSTR MetadataXml, long Severity, BSTR EventMsg, BSTR action, BSTR objlist, double value, BSTR detailmsg, BSTR EventSrc, long EventID, long msgtype, VARIANT_BOOL ProxyEvent, VARIANT_BOOL deletefile) {
    ArgString kbid(KBid), metadata(MetadataXml), message(EventMsg), act(action), objects(objlist), detail(detailmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(sendEvent(core_, &*cxt, {Severity, message, act, objects, detail, value, msgtype,
                                              flagArg(deletefile), flagArg(ProxyEvent), kbid, metadata}));
}

STDMETHODIMP ScpExt::AbortScriptEx(BSTR KBid, BSTR MetadataXml, BSTR objlist, BSTR agtmsg, long sev, VARIANT_BOOL raise_err) {
    ArgString kbid(KBid), metadata(MetadataXml), objects(objlist), message(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(abortJob(core_, &*cxt, sev, objects, message, flagArg(raise_err), kbid, metadata));
}
