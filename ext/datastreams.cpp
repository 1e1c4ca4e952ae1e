// Data streams.
#include "scpext.h"

STDMETHODIMP ScpExt::CreateData(BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double val, BSTR agtmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DynaCollectData(BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double val, BSTR detailmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate, long logtime) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DataHeader(BSTR legend, long graph_id, VARIANT stream_id, BSTR objlist) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::LongDataHeader(BSTR legend, long graph_id, VARIANT stream_id, long log_limit, long color, long style, double maxval, double minval, double hiwm, double lowm, BSTR objlist) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DataLog(VARIANT stream_id, double val, BSTR agtmsg, long logtime) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::LongDataLog(VARIANT stream_id, double val, BSTR path, VARIANT_BOOL deletefile, long logtime) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DynaDataLog(VARIANT stream_id, BSTR legend, double val, BSTR agtmsg, BSTR objlist, long logtime) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::LongDynaDataLog(VARIANT stream_id, BSTR legend, double val, BSTR path, VARIANT_BOOL deletefile, BSTR objlist, long logtime) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::FetchDataSources(long type, VARIANT* dataSources) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::CreateDataEx(BSTR KBid, BSTR MetadataXml, BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double value, BSTR agtmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate, long logtime) {
    return E_NOTIMPL;
}
