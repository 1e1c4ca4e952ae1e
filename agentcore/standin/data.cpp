// Data streams and data sources.
#include "record.h"

using namespace standin;

namespace {
// A stream reference as the journal shows it: kind, then the number or name.
void streamRef(Call& c, dstype kind, void* value) {
    c.arg(static_cast<int>(kind));
    if (kind == DS_NUMBER) c.arg(static_cast<long>(reinterpret_cast<intptr_t>(value)));
    else c.arg(static_cast<const char*>(value));
}
}  // namespace

int ravlinapi::DynaCollectData(_zjobcxt* cxt, char* stream, char* legend, long loglimit, double lowm,
                               double hiwm, char* dynaleg, char* schema, char* objlist, double value,
                               char* detail, unsigned long msgtype, int deletefile,
                               int logOnHeaderCreate, long logtime, char* kbid, char* metadata) {
    Call c(coreops::row("DynaCollectData"), cxt);
    c.arg(stream).arg(legend).arg(loglimit).arg(lowm).arg(hiwm).arg(dynaleg).arg(schema).arg(objlist)
        .arg(value).arg(detail).arg(msgtype).arg(deletefile).arg(logOnHeaderCreate).arg(logtime)
        .arg(kbid).arg(metadata);
    return c.finish(c.result(1));
}

int ravlinapi::DataHeader(_zjobcxt* cxt, dstype kind, void* value, char* legend, long graph,
                          char* objlist) {
    Call c(coreops::row("DataHeader"), cxt);
    streamRef(c, kind, value);
    c.arg(legend).arg(graph).arg(objlist);
    return c.finish(c.result(1));
}

int ravlinapi::LongDataHeader(_zjobcxt* cxt, dstype kind, void* value, char* legend, long graph,
                              long loglimit, long color, long style, double maxval, double minval,
                              double hiwm, double lowm, char* objlist) {
    Call c(coreops::row("LongDataHeader"), cxt);
    streamRef(c, kind, value);
    c.arg(legend).arg(graph).arg(loglimit).arg(color).arg(style).arg(maxval).arg(minval).arg(hiwm)
        .arg(lowm).arg(objlist);
    return c.finish(c.result(1));
}

int ravlinapi::DataLog(_zjobcxt* cxt, dstype kind, void* value, double val, char* detail,
                       long logtime) {
    Call c(coreops::row("DataLog"), cxt);
    streamRef(c, kind, value);
    c.arg(val).arg(detail).arg(logtime);
    return c.finish(c.result(1));
}

int ravlinapi::LongDataLog(_zjobcxt* cxt, dstype kind, void* value, double val, char* path,
                           int deletefile, long logtime) {
    Call c(coreops::row("LongDataLog"), cxt);
    streamRef(c, kind, value);
    c.arg(val).arg(path).arg(deletefile).arg(logtime);
    return c.finish(c.result(1));
}

int ravlinapi::DynaDataLog(_zjobcxt* cxt, dstype kind, void* value, char* legend, double val,
                           char* detail, char* objlist, long logtime) {
    Call c(coreops::row("DynaDataLog"), cxt);
    streamRef(c, kind, value);
    c.arg(legend).arg(val).arg(detail).arg(objlist).arg(logtime);
    return c.finish(c.result(1));
}

int ravlinapi::LongDynaDataLog(_zjobcxt* cxt, dstype kind, void* value, char* legend, double val,
                               char* path, int deletefile, char* objlist, long logtime) {
    Call c(coreops::row("LongDynaDataLog"), cxt);
    streamRef(c, kind, value);
    c.arg(legend).arg(val).arg(path).arg(deletefile).arg(objlist).arg(logtime);
    return c.finish(c.result(1));
}

// The sources are the text setting split at commas ("" gives none).
int ravlinapi::GetDataSources(_zjobcxt* cxt, unsigned long type, std::vector<std::string>& sources) {
    Call c(coreops::row("GetDataSources"), cxt);
    c.arg(type);
    long r = c.result(1);
    if (r) {
        std::string text = c.text("cpu,memory"), item;
        for (std::size_t start = 0; !text.empty() && start <= text.size();) {
            std::size_t comma = text.find(',', start);
            sources.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    c.strings(sources);
    return c.finish(r);
}
