// Data streams.
#include "scpext.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "arrays.h"

namespace {

// The stream a script's stream_id names: a number (held in the pointer's
// place, as the core reads it) or the ArgString of a name, null for "NULL".
// Nothing else names a stream: no conversion is tried, so 2.5, True or Empty
// leave the StreamRef unusable.
class StreamRef {
public:
    explicit StreamRef(const VARIANT* streamId) {
        if (VariantValue number = ReadVariantValue(streamId, ValueKind::Long); number.accepted) {
            kind_ = DS_NUMBER;
            value_ = reinterpret_cast<void*>(static_cast<intptr_t>(number.number));
            usable_ = true;
        } else if (VariantValue text = ReadVariantValue(streamId, ValueKind::String); text.accepted) {
            kind_ = DS_NAME;
            value_ = name_.emplace(text.text).get();
            usable_ = true;
        }
    }
    explicit operator bool() const { return usable_; }
    dstype kind() const { return kind_; }
    void* value() const { return value_; }

private:
    bool usable_ = false;
    dstype kind_ = DS_NUMBER;
    void* value_ = nullptr;
    std::optional<ArgString> name_;
};

}  // namespace

STDMETHODIMP ScpExt::CreateData(BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double val, BSTR agtmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate) {
    ArgString name(stream), leg(legend), dynamicLegend(dynaleg), schemaName(schema), objects(objlist), detail(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(core_->DynaCollectData(&*cxt, name, leg, loglimit, lowm, hiwm, dynamicLegend, schemaName,
                                            objects, val, detail, static_cast<unsigned long>(msgtype),
                                            flagArg(deletefile), flagArg(logOnHeaderCreate), 0, nullptr, nullptr));
}

// Succeeds whenever the core was called: scripts feed values in loops and
// are not to see a refused one.
STDMETHODIMP ScpExt::DynaCollectData(BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double val, BSTR detailmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate, long logtime) {
    ArgString name(stream), leg(legend), dynamicLegend(dynaleg), schemaName(schema), objects(objlist), detail(detailmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    core_->DynaCollectData(&*cxt, name, leg, loglimit, lowm, hiwm, dynamicLegend, schemaName, objects, val,
                           detail, static_cast<unsigned long>(msgtype), flagArg(deletefile),
                           flagArg(logOnHeaderCreate), logtime, nullptr, nullptr);
    return S_OK;
}

STDMETHODIMP ScpExt::DataHeader(BSTR legend, long graph_id, VARIANT stream_id, BSTR objlist) {
    ArgString leg(legend), objects(objlist);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    StreamRef ref(&stream_id);
    if (!ref) return S_FALSE;
    return hresultOf(core_->DataHeader(&*cxt, ref.kind(), ref.value(), leg, graph_id, objects));
}

STDMETHODIMP ScpExt::LongDataHeader(BSTR legend, long graph_id, VARIANT stream_id, long log_limit, long color, long style, double maxval, double minval, double hiwm, double lowm, BSTR objlist) {
    ArgString leg(legend), objects(objlist);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    StreamRef ref(&stream_id);
    if (!ref) return S_FALSE;
    return hresultOf(core_->LongDataHeader(&*cxt, ref.kind(), ref.value(), leg, graph_id, log_limit, color,
                                           style, maxval, minval, hiwm, lowm, objects));
}

STDMETHODIMP ScpExt::DataLog(VARIANT stream_id, double val, BSTR agtmsg, long logtime) {
    ArgString detail(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    StreamRef ref(&stream_id);
    if (!ref) return S_FALSE;
    return hresultOf(core_->DataLog(&*cxt, ref.kind(), ref.value(), val, detail, logtime));
}

STDMETHODIMP ScpExt::LongDataLog(VARIANT stream_id, double val, BSTR path, VARIANT_BOOL deletefile, long logtime) {
    ArgString file(path);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    StreamRef ref(&stream_id);
    if (!ref) return S_FALSE;
    return hresultOf(core_->LongDataLog(&*cxt, ref.kind(), ref.value(), val, file, flagArg(deletefile), logtime));
}

STDMETHODIMP ScpExt::DynaDataLog(VARIANT stream_id, BSTR legend, double val, BSTR agtmsg, BSTR objlist, long logtime) {
    ArgString leg(legend), detail(agtmsg), objects(objlist);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    StreamRef ref(&stream_id);
    if (!ref) return S_FALSE;
    return hresultOf(core_->DynaDataLog(&*cxt, ref.kind(), ref.value(), leg, val, detail, objects, logtime));
}

STDMETHODIMP ScpExt::LongDynaDataLog(VARIANT stream_id, BSTR legend, double val, BSTR path, VARIANT_BOOL deletefile, BSTR objlist, long logtime) {
    ArgString leg(legend), file(path), objects(objlist);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    StreamRef ref(&stream_id);
    if (!ref) return S_FALSE;
    return hresultOf(core_->LongDynaDataLog(&*cxt, ref.kind(), ref.value(), leg, val, file, flagArg(deletefile),
                                            objects, logtime));
}

// A core that fails to list its sources is not an error to the script: it
// sees Empty instead of an array.
STDMETHODIMP ScpExt::FetchDataSources(long type, VARIANT* dataSources) {
    if (!dataSources) return E_POINTER;
    VariantClear(dataSources);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    std::vector<std::string> sources;
    if (!core_->GetDataSources(&*cxt, static_cast<unsigned long>(type), sources)) return S_OK;
    return setStringArray(dataSources, sources, PartialList::Refused) ? S_OK : S_FALSE;
}

STDMETHODIMP ScpExt::CreateDataEx(BSTR KBid, BSTR MetadataXml, BSTR stream, BSTR legend, BSTR dynaleg, BSTR objlist, double value, BSTR agtmsg, long msgtype, BSTR schema, long loglimit, double lowm, double hiwm, VARIANT_BOOL deletefile, VARIANT_BOOL logOnHeaderCreate, long logtime) {
    ArgString kbid(KBid), metadata(MetadataXml), name(stream), leg(legend), dynamicLegend(dynaleg),
        schemaName(schema), objects(objlist), detail(agtmsg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(core_->DynaCollectData(&*cxt, name, leg, loglimit, lowm, hiwm, dynamicLegend, schemaName,
                                            objects, value, detail, static_cast<unsigned long>(msgtype),
                                            flagArg(deletefile), flagArg(logOnHeaderCreate), logtime, kbid,
                                            metadata));
}
