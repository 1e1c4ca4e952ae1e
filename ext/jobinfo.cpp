// Job information and utilities.
#include "scpext.h"

#include <cstring>
#include <cwchar>
#include <optional>

#include "args.h"
#include "corestring.h"
#include "owners.h"

namespace {

// The core's fixed-size answer buffers; it is not told their size.
constexpr std::size_t kMachNameSize = 256;
constexpr std::size_t kMoidSize = 80;
constexpr std::size_t kVersionSize = 40;

// The numeric getters' failure value: all 32 bits set.
constexpr unsigned long kNoValue = 0xFFFFFFFFul;

// Names under which GetSecurityContext hands its two values to the core.
// The core takes them as writable texts, so each call hands it copies of
// its own rather than buffers that every thread shares.
constexpr char kLabelName[] = "label";
constexpr char kSubLabelName[] = "sub-label";

// A zero-filled buffer for the core to write a terminated text into. The
// last byte is forced back to NUL after the call, so that a core that fills
// the buffer to the brim is still read only within it.
template <std::size_t Size>
struct AnswerBuffer {
    char text[Size] = {};
    char* get() { return text; }
    const char* read() { text[Size - 1] = '\0'; return text; }
};

// The numeric getters: 0 unless the calling job has the number; all 32 bits
// set is the core's way of saying it has none.
template <class Get>
HRESULT numberFromCore(std::optional<_zjobcxt> cxt, long* out, Get get) {
    if (!out) return E_POINTER;
    *out = 0;
    if (!cxt) return S_FALSE;
    unsigned long value = get(&*cxt);
    if (value == kNoValue) return S_FALSE;
    *out = static_cast<long>(value);
    return S_OK;
}

// GetVersion and MCVersion: the core writes the version text into a
// 40-byte buffer; on failure the script's variable keeps its value.
HRESULT versionQuery(ravlinapi* core, _zjobcxt cxt, char* component, int fullpath, VARIANT* verstr) {
    AnswerBuffer<kVersionSize> version;
    if (!core->MCVersion(&cxt, component, version.get(), fullpath)) return S_FALSE;
    return SetVariantResult(verstr, ValueKind::String, version.read()) ? S_OK : S_FALSE;
}

// GetContextEx and GetSecurityContext: one value name looked up under a
// label and a sub-label; the core allocates the value, freeMem releases it.
HRESULT contextQuery(ravlinapi* core, _zjobcxt cxt, char* label, char* labval, char* sublab, char* subval,
                     char* name, VARIANT* out) {
    CoreString value(core);
    if (!core->GetContextEx(&cxt, label, labval, sublab, subval, 1, &name, value.put())) return S_FALSE;
    return SetVariantResult(out, ValueKind::String, value.get()) ? S_OK : S_FALSE;
}

}  // namespace

STDMETHODIMP ScpExt::setStandAlone() {
    if (core_) core_->setStandAlone();
    return S_OK;
}

STDMETHODIMP ScpExt::GetAgentInfo(VARIANT* prodtype, VARIANT* verstr, VARIANT* idir) {
    if (!core_) return S_FALSE;
    char *type = nullptr, *version = nullptr, *dir = nullptr;
    int r = core_->GetAgentInfo(&type, &version, &dir);
    // These three come from the C runtime heap, not from the core's
    // allocator: they go back through free, never freeMem.
    CrtPtr<char> typeOwner(type), versionOwner(version), dirOwner(dir);
    if (!r) return S_FALSE;
    int stored = SetVariantResult(prodtype, ValueKind::String, type);
    stored &= SetVariantResult(verstr, ValueKind::String, version);
    stored &= SetVariantResult(idir, ValueKind::String, dir);
    return stored ? S_OK : S_FALSE;
}

STDMETHODIMP ScpExt::GetJobID(long* jobid) {
    return numberFromCore(jobContext(), jobid, [&](_zjobcxt* cxt) { return core_->GetJobID(cxt); });
}

// The script interval is the job's collection interval under its older name.
STDMETHODIMP ScpExt::GetScriptInterval(long* intv) { return GetKPInterval(intv); }

STDMETHODIMP ScpExt::GetMachName(BSTR* machname) {
    if (!machname) return E_POINTER;
    *machname = nullptr;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    AnswerBuffer<kMachNameSize> name;
    if (!core_->GetMachName(&*cxt, name.get())) return S_FALSE;
    *machname = toBstr(name.read());
    return *machname ? S_OK : S_FALSE;
}

STDMETHODIMP ScpExt::GetTempFileName(BSTR pathname, BSTR prefix, long uniqid, BSTR* filename) {
    ArgString path(pathname), start(prefix);
    if (!filename) return E_POINTER;
    // An out-parameter: the script's variable reads Empty when no name came.
    *filename = nullptr;
    // MAX_PATH bytes: all the platform ever writes. With a unique number of
    // 0 the platform picks one and creates the empty file itself.
    char name[MAX_PATH] = {};
    if (!GetTempFileNameA(path, start, static_cast<UINT>(uniqid), name)) return S_FALSE;
    if (name[0]) *filename = toBstr(name);
    return S_OK;
}

STDMETHODIMP ScpExt::GetVersion(BSTR file, VARIANT* verstr) {
    ArgString name(file);
    // A path asks the core for that file's version; a plain name for a
    // component's. Looked up in the script's own text, so "NULL" is plain.
    int fullpath = file && std::wcschr(file, L'\\') ? 1 : 0;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return versionQuery(core_, *cxt, name, fullpath, verstr);
}

// The older name of MCGetMOID.
STDMETHODIMP ScpExt::GetProgID(BSTR progid, BSTR scriptver, BSTR* outid) { return MCGetMOID(progid, scriptver, outid); }

STDMETHODIMP ScpExt::IterationCount(long* curiter) {
    return numberFromCore(jobContext(), curiter, [&](_zjobcxt* cxt) { return core_->IterationCount(cxt); });
}

// Parameters are not kept by this agent: every name reads as Empty.
STDMETHODIMP ScpExt::GetParameter(BSTR name, VARIANT* val) {
    return S_OK;
}

STDMETHODIMP ScpExt::GetSecurityContext(BSTR label, BSTR sublab, BSTR valname, VARIANT* val, VARIANT_BOOL* ret) {
    ArgString labelValue(label), subValue(sublab), name(valname);
    if (!ret) return E_POINTER;
    *ret = 0;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    char labelName[sizeof kLabelName], subLabelName[sizeof kSubLabelName];
    std::memcpy(labelName, kLabelName, sizeof kLabelName);
    std::memcpy(subLabelName, kSubLabelName, sizeof kSubLabelName);
    HRESULT hr = contextQuery(core_, *cxt, labelName, labelValue, subLabelName, subValue, name, val);
    // 1, not VARIANT_TRUE: scripts test it for truth, never against True.
    if (hr == S_OK) *ret = 1;
    return hr;
}

STDMETHODIMP ScpExt::ZTrace(BSTR msg) {
    ArgString text(msg);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return hresultOf(core_->ZTrace(&*cxt, text));
}

STDMETHODIMP ScpExt::MCVersion(BSTR component, VARIANT* verstr, VARIANT_BOOL fullpath) {
    ArgString name(component);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return versionQuery(core_, *cxt, name, flagArg(fullpath), verstr);
}

STDMETHODIMP ScpExt::GetKPInterval(long* intv) {
    return numberFromCore(jobContext(), intv, [&](_zjobcxt* cxt) { return core_->GetKPInterval(cxt); });
}

STDMETHODIMP ScpExt::GetContextEx(BSTR label, BSTR labval, BSTR sublab, BSTR subval, BSTR cname, VARIANT* cval) {
    ArgString labelName(label), labelValue(labval), subName(sublab), subValue(subval), name(cname);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    return contextQuery(core_, *cxt, labelName, labelValue, subName, subValue, name, cval);
}

STDMETHODIMP ScpExt::MCGetMOID(BSTR progid, BSTR ver, BSTR* outid) {
    ArgString program(progid), version(ver);
    if (!outid) return E_POINTER;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    // On failure the out-parameter keeps what it held.
    AnswerBuffer<kMoidSize> id;
    if (!core_->MCGetMOID(&*cxt, program, version, id.get())) return S_FALSE;
    BSTR text = toBstr(id.read());
    if (!text) return S_FALSE;
    *outid = text;
    return S_OK;
}

STDMETHODIMP ScpExt::EventXMLToPlainText(BSTR xmlStr, VARIANT* plainText, long* retCode) {
    if (!plainText) return S_FALSE;
    VariantClear(plainText);
    // Out of memory for the standard strings: S_FALSE, plainText Empty.
    return withoutThrowing(S_FALSE, [&] {
        std::string xml = toAnsi(xmlStr);
        auto cxt = jobContext();
        if (!cxt) return S_FALSE;
        std::string plain;
        long r = core_->EventXMLToPlainText(&*cxt, xml, plain);
        if (retCode) *retCode = r;
        // The text goes back whatever the core answered: a failed conversion
        // still shows as a string, and its reason is in retCode.
        if (BSTR text = ansiToBstr(plain)) {
            V_VT(plainText) = VT_BSTR;
            V_BSTR(plainText) = text;
        }
        return S_OK;
    });
}

STDMETHODIMP ScpExt::cvDiffDateFromString(BSTR date, BSTR szDate, long* ret) {
    ArgString first(date), second(szDate);
    if (!ret) return E_POINTER;
    *ret = 0;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    // The difference, or the core's error value: either is the script's answer.
    *ret = core_->DiffDateFromString(&*cxt, first, second);
    return S_OK;
}
