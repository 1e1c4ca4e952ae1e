// ScpExt: the object scripts reach as CVEXT and CVFLEXT. One per host, shared
// by all of the host's jobs, so a method finds its job through the calling
// thread. Each method converts its arguments, calls one agent-core operation
// with the calling job's context and hands the answer back; the method
// families live in one source each, in dispatch-identifier order.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>

#include "activation.h"
#include "ravlin.h"
#include "ztolvera.h"

class ScpExt : public IScpExt {
public:
    // Null when the object cannot be built (no memory for it or its lock).
    static ScpExt* create();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, served from the registered type library.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

    // IScpExt, dispatch identifiers 1 to 75.
    STDMETHODIMP setStandAlone() override;  // 1
    STDMETHODIMP CreateEvent(long sev, BSTR evtmsg, BSTR action, BSTR objlist, double value, BSTR agtmsg, BSTR evtsrc, long evtid, long msgtype, VARIANT_BOOL deletefile) override;  // 2
    STDMETHODIMP CreateData(BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double val, BSTR agtmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate) override;  // 3
    STDMETHODIMP GetAgentInfo(VARIANT* prodtype, VARIANT* verstr, VARIANT* idir) override;  // 4
    STDMETHODIMP GetJobID(long* jobid) override;  // 5
    STDMETHODIMP GetScriptInterval(long* intv) override;  // 6
    STDMETHODIMP GetMachName(BSTR* machname) override;  // 7
    STDMETHODIMP GetTempFileName(BSTR pathname, BSTR prefix, long uniqid, BSTR* filename) override;  // 8
    STDMETHODIMP AbortScript(BSTR obj, BSTR msg, long sev, VARIANT_BOOL raise_err) override;  // 9
    STDMETHODIMP GetVersion(BSTR file, VARIANT* verstr) override;  // 10
    STDMETHODIMP GetProgID(BSTR progid, BSTR scriptver, BSTR* outid) override;  // 11
    STDMETHODIMP IterationCount(long* curiter) override;  // 12
    STDMETHODIMP Item(BSTR list, long idx, BSTR delim, BSTR* retval) override;  // 13
    STDMETHODIMP ItemCount(BSTR list, BSTR delim, long* retcnt) override;  // 14
    STDMETHODIMP GetObjItem(BSTR component, BSTR objname, long idx, BSTR* stritem) override;  // 15
    STDMETHODIMP GetObjItemCnt(BSTR component, BSTR objname, long* cnt) override;  // 16
    STDMETHODIMP GetObjList(BSTR component, BSTR objname, BSTR delim, VARIANT_BOOL fullpath, long detailmask, BSTR* objlist) override;  // 17
    STDMETHODIMP GetParameter(BSTR name, VARIANT* val) override;  // 18
    STDMETHODIMP GetSecurityContext(BSTR label, BSTR sublab, BSTR valname, VARIANT* val, VARIANT_BOOL* ret) override;  // 19
    STDMETHODIMP ExportData(BSTR vname, VARIANT val, VARIANT_BOOL* ret) override;  // 20
    STDMETHODIMP ImportData(BSTR vname, VARIANT* val, VARIANT_BOOL* ret) override;  // 21
    STDMETHODIMP CVSleep(long intv, VARIANT_BOOL noabort, long* ret) override;  // 22
    STDMETHODIMP WaitForObject(long hobj, long waitintv, VARIANT_BOOL noabort, long* ret) override;  // 23
    STDMETHODIMP MCEnterCS(long* ret) override;  // 24
    STDMETHODIMP MCExitCS() override;  // 25
    STDMETHODIMP IsMCAction(VARIANT_BOOL* actflg) override;  // 26
    STDMETHODIMP IsActionAllow(long act_type, long intv_hr, VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 27
    STDMETHODIMP UpdateAction(VARIANT_BOOL* ret) override;  // 28
    STDMETHODIMP MCRebootNT(BSTR msg, long timeout, VARIANT_BOOL forceClose, VARIANT_BOOL restart, VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 29
    STDMETHODIMP MCInCluster(VARIANT_BOOL* ret) override;  // 30
    STDMETHODIMP MCIsActionRunning(BSTR akpname, VARIANT_BOOL* ret) override;  // 31
    STDMETHODIMP MCEnableComm(VARIANT_BOOL globalSites, VARIANT_BOOL* ret) override;  // 32
    STDMETHODIMP MCDisableComm(VARIANT_BOOL globalSites, VARIANT_BOOL* ret) override;  // 33
    STDMETHODIMP MCEnableUpload(long ult, VARIANT_BOOL* ret) override;  // 34
    STDMETHODIMP MCUpload(long ult, VARIANT_BOOL* ret) override;  // 35
    STDMETHODIMP MCSetCommType(long ct, VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 36
    STDMETHODIMP MCConfigNetFlow(long hiwm, long lowm, long intv, VARIANT_BOOL dynaflow, VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 37
    STDMETHODIMP MCSetPrimaryMS(BSTR ms, VARIANT* errmsg, BSTR ms2, long Update, BSTR mchost, VARIANT_BOOL* ret) override;  // 38
    STDMETHODIMP MCSetMasterMC(BSTR rsc, BSTR mc, VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 39
    STDMETHODIMP MCSetBlackOut(BSTR rsc, VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 40
    STDMETHODIMP MCSetResRequired(BSTR rsc, BSTR reslist, BSTR svclist, VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 41
    STDMETHODIMP MCCompactDB(VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 42
    STDMETHODIMP ZTrace(BSTR msg) override;  // 43
    STDMETHODIMP RaiseEvent(BSTR idstr, long listlen, VARIANT condL, VARIANT sevL, VARIANT evtmsgL, VARIANT akpL, BSTR obj, double val, long msgtype, BSTR agtmsg, BSTR help, VARIANT_BOOL deletefile) override;  // 44
    STDMETHODIMP DynaCollectData(BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double val, BSTR detailmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate, long logtime) override;  // 45
    STDMETHODIMP MCUpdateKey(BSTR keyfile, BSTR password, BSTR* retstr, VARIANT_BOOL* ret) override;  // 46
    STDMETHODIMP MSActions(long sev, BSTR evtmsg, BSTR akp, BSTR objlist, BSTR agtmsg, double value) override;  // 47
    STDMETHODIMP MSLongActions(long sev, BSTR evtmsg, BSTR akp, BSTR objlist, BSTR path, VARIANT_BOOL deletefile, double value) override;  // 48
    STDMETHODIMP DataHeader(BSTR legend, long graph_id, VARIANT stream_id, BSTR objlist) override;  // 49
    STDMETHODIMP LongDataHeader(BSTR legend, long graph_id, VARIANT stream_id, long log_limit, long color, long style, double maxval, double minval, double hiwm, double lowm, BSTR objlist) override;  // 50
    STDMETHODIMP DataLog(VARIANT stream_id, double val, BSTR agtmsg, long logtime) override;  // 51
    STDMETHODIMP LongDataLog(VARIANT stream_id, double val, BSTR path, VARIANT_BOOL deletefile, long logtime) override;  // 52
    STDMETHODIMP DynaDataLog(VARIANT stream_id, BSTR legend, double val, BSTR agtmsg, BSTR objlist, long logtime) override;  // 53
    STDMETHODIMP LongDynaDataLog(VARIANT stream_id, BSTR legend, double val, BSTR path, VARIANT_BOOL deletefile, BSTR objlist, long logtime) override;  // 54
    STDMETHODIMP MCAbort(BSTR objlist, BSTR agtmsg, long sev, VARIANT_BOOL retevt, VARIANT_BOOL raise_err) override;  // 55
    STDMETHODIMP MCVersion(BSTR component, VARIANT* verstr, VARIANT_BOOL fullpath) override;  // 56
    STDMETHODIMP GetKPInterval(long* intv) override;  // 57
    STDMETHODIMP GetContextEx(BSTR label, BSTR labval, BSTR sublab, BSTR subval, BSTR cname, VARIANT* cval) override;  // 58
    STDMETHODIMP MCGetMOID(BSTR progid, BSTR ver, BSTR* outid) override;  // 59
    STDMETHODIMP MCConfigPrimaryMS(BSTR ms, BSTR ms2, BSTR mchost, long Update, VARIANT* errmsg, VARIANT_BOOL* ret) override;  // 60
    STDMETHODIMP FetchDataSources(long type, VARIANT* dataSources) override;  // 61
    STDMETHODIMP CreateProxyEvent(long sev, BSTR evtmsg, BSTR action, BSTR objlist, double value, BSTR agtmsg, BSTR evtsrc, long evtid, long msgtype, VARIANT_BOOL deletefile) override;  // 62
    STDMETHODIMP DictionaryInsertValue(BSTR name, BSTR value, long* retCode) override;  // 63
    STDMETHODIMP DictionaryRetrieveValue(BSTR name, VARIANT* value, long* retCode) override;  // 64
    STDMETHODIMP DictionaryRetrieveAllValues(VARIANT* tuples, long* numTuples) override;  // 65
    STDMETHODIMP DictionaryRetrieveByPattern(BSTR pattern, VARIANT* tuples, long* numTuples) override;  // 66
    STDMETHODIMP DictionaryRemoveValue(BSTR name, long* retCode) override;  // 67
    STDMETHODIMP EventXMLToPlainText(BSTR xmlStr, VARIANT* plainText, long* retCode) override;  // 68
    STDMETHODIMP SampleLock(VARIANT component, VARIANT oldLockCount, VARIANT* newLockCount, long* retCode) override;  // 69
    STDMETHODIMP AcquireLock(VARIANT component, long* retCode) override;  // 70
    STDMETHODIMP CreateEventEx(BSTR KBid, BSTR MetadataXml, long Severity, BSTR EventMsg, BSTR action, BSTR objlist, double value, BSTR detailmsg, BSTR EventSrc, long EventID, long msgtype, VARIANT_BOOL ProxyEvent, VARIANT_BOOL deletefile) override;  // 71
    STDMETHODIMP CreateDataEx(BSTR KBid, BSTR MetadataXml, BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double value, BSTR agtmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate, long logtime) override;  // 72
    STDMETHODIMP AbortScriptEx(BSTR KBid, BSTR MetadataXml, BSTR objlist, BSTR agtmsg, long sev, VARIANT_BOOL raise_err) override;  // 73
    STDMETHODIMP WaitForObjectEx(long hobj, long waitintv, VARIANT_BOOL noabort, long* ret) override;  // 74
    STDMETHODIMP cvDiffDateFromString(BSTR date, BSTR szDate, long* ret) override;  // 75

    // For the host, when the code of `code` (on the calling thread, its
    // activation) is over: leaves the agent's critical section as often as
    // that code entered it and did not leave, so that a run ended inside it
    // does not hold the other jobs out for good.
    void leaveSectionsOf(Activation& code);

private:
    ScpExt();
    virtual ~ScpExt();

    // The job lookup every method that needs a job runs: the calling thread's
    // job context, or nothing when there is no agent core or the thread runs
    // no job (the method then returns S_FALSE without calling the core).
    std::optional<_zjobcxt> jobContext() const;

    LONG refs_ = 0;
    CRITICAL_SECTION objectLock_;   // belongs to the object; no method takes it
    ravlinapi* core_ = nullptr;     // null when it could not be allocated
};

// Releases the cached IScpExt type information; called when the module unloads.
void releaseScpExtTypeInfo();

// Runs the part of a method that goes through the standard library (the
// dictionary's standard strings). Running out of memory there ends the
// method with `onFailure`: the engine that called it must never see a C++
// exception.
template <class Body>
HRESULT withoutThrowing(HRESULT onFailure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return onFailure;
    }
}
