#include "fake.h"

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <new>

#include "members.h"

namespace fakes {

namespace {

constexpr std::size_t kMemberCount = sizeof kMembers / sizeof kMembers[0];
// Names outside the table get dispids from here on, one per name for the
// whole process, so that the same name always gets the same dispid.
constexpr DISPID kFirstUntabled = 0x10000;

CriticalSection& namesLock() {
    static CriticalSection lock;
    return lock;
}
struct UntabledName {
    std::wstring folded;
    std::string spelling;   // as the script first wrote it
};
std::vector<UntabledName>& untabledNames() {
    static std::vector<UntabledName> names;
    return names;
}

DISPID untabledId(const std::wstring& name) {
    std::wstring folded = foldCase(name);
    Lock lock(namesLock());
    auto& names = untabledNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].folded == folded) return kFirstUntabled + DISPID(i);
    names.push_back({folded, utf8(name)});
    return kFirstUntabled + DISPID(names.size() - 1);
}

bool hasMember(const char* object, const char* name) {
    for (const Member& m : kMembers)
        if (!std::strcmp(m.object, object) && !std::strcmp(m.name, name)) return true;
    return false;
}

bool takesNoArguments(const char* object, const std::string& member) {
    for (const Member& m : kMembers)
        if (!std::strcmp(m.object, object) && member == m.name) return m.params[0] == nullptr;
    return false;
}

// The script sees the error as Err.Number, Err.Description and Err.Source.
HRESULT raise(const ScriptError& e, EXCEPINFO* excep) {
    if (!excep) return e.scode;
    *excep = {};
    excep->scode = e.scode;
    excep->bstrDescription = SysAllocString(e.description.c_str());
    excep->bstrSource = SysAllocString(e.source.c_str());
    return DISP_E_EXCEPTION;
}

// The member a dispid stands for on `object`; empty for none.
std::string memberFor(const char* object, DISPID id) {
    if (id == DISPID_VALUE) {
        for (const char* name : {"Item", "Value"})
            if (hasMember(object, name)) return name;
        return "(default)";
    }
    if (id == DISPID_NEWENUM) return "_NewEnum";
    if (id >= 1 && std::size_t(id) <= kMemberCount) return kMembers[id - 1].name;
    if (id >= kFirstUntabled) {
        Lock lock(namesLock());
        auto& names = untabledNames();
        if (std::size_t(id - kFirstUntabled) < names.size()) return names[id - kFirstUntabled].spelling;
    }
    return "";
}

// A date as the journal shows it.
std::string dateText(double date) {
    SYSTEMTIME t = {};
    if (!VariantTimeToSystemTime(date, &t)) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

Json journalValue(const VARIANT& v) {
    switch (V_VT(&v)) {
    case VT_EMPTY: case VT_NULL: case VT_ERROR: return nullptr;
    case VT_BSTR: return utf8(V_BSTR(&v) ? V_BSTR(&v) : L"");
    case VT_BOOL: return V_BOOL(&v) != VARIANT_FALSE;
    case VT_DATE: return dateText(V_DATE(&v));
    case VT_DISPATCH: case VT_UNKNOWN: return "object";
    default: break;
    }
    Variant number;
    if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&v), 0, VT_R8))) return "?";
    double d = V_R8(&number);
    // Range first: converting a double out of range to an integer is undefined.
    if (d > -9e15 && d < 9e15 && d == double(static_cast<long long>(d))) return static_cast<long long>(d);
    return d;
}

}  // namespace

ScriptError notFaked(const std::string& object, const std::string& member) {
    return {E_NOTIMPL, wide(object + "." + member + " is not faked"), L"ztolvera-fakes"};
}

ScriptError runtimeError(int number, const wchar_t* description) {
    return {MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number), description, L"Microsoft VBScript runtime error"};
}

bool sameName(const std::string& a, const char* b) { return _stricmp(a.c_str(), b) == 0; }

Args::Args(const DISPPARAMS* params) {
    if (!params) return;
    for (UINT i = params->cArgs; i-- > 0;) {
        values_.emplace_back();
        if (FAILED(VariantCopyInd(&values_.back(), &params->rgvarg[i]))) throw std::bad_alloc();
    }
}

bool Args::given(std::size_t i) const { return i < values_.size() && V_VT(&values_[i]) != VT_ERROR; }

bool Args::text(std::size_t i, std::wstring& out) const {
    if (!given(i)) return false;
    Variant v;
    if (FAILED(VariantChangeType(&v, source(i), 0, VT_BSTR))) return false;
    out.assign(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
    return true;
}

bool Args::integer(std::size_t i, long& out) const {
    Variant v;
    if (!given(i) || FAILED(VariantChangeType(&v, source(i), 0, VT_I4))) return false;
    out = V_I4(&v);
    return true;
}

bool Args::boolean(std::size_t i, bool& out) const {
    Variant v;
    if (!given(i) || FAILED(VariantChangeType(&v, source(i), 0, VT_BOOL))) return false;
    out = V_BOOL(&v) != VARIANT_FALSE;
    return true;
}

Json Args::journal() const {
    Json out = Json::array();
    for (auto& v : values_) out.push_back(journalValue(v));
    return out;
}

void Reply::text(const std::wstring& value) {
    result_.clear();
    V_VT(&result_) = VT_BSTR;
    V_BSTR(&result_) = SysAllocStringLen(value.data(), UINT(value.size()));
    if (!V_BSTR(&result_)) throw std::bad_alloc();
    answer_ = utf8(value);
}

void Reply::number(double value) {
    result_.clear();
    if (value >= -2147483648.0 && value <= 2147483647.0 && value == double(LONG(value))) {
        V_VT(&result_) = VT_I4;
        V_I4(&result_) = LONG(value);
        answer_ = V_I4(&result_);
    } else {
        V_VT(&result_) = VT_R8;
        V_R8(&result_) = value;
        answer_ = value;
    }
}

void Reply::boolean(bool value) {
    result_.clear();
    V_VT(&result_) = VT_BOOL;
    V_BOOL(&result_) = value ? VARIANT_TRUE : VARIANT_FALSE;
    answer_ = value;
}

void Reply::date(double value) {
    result_.clear();
    V_VT(&result_) = VT_DATE;
    V_DATE(&result_) = value;
    answer_ = dateText(value);
}

void Reply::nothing() {
    result_.clear();
    answer_ = nullptr;
}

void Reply::value(const Json& v) {
    if (v.is_string()) return text(wide(v.get<std::string>()));
    if (v.is_boolean()) return boolean(v.get<bool>());
    if (v.is_number_integer()) return number(double(v.get<long long>()));
    if (v.is_number()) {
        result_.clear();
        V_VT(&result_) = VT_R8;
        V_R8(&result_) = v.get<double>();
        answer_ = v;
        return;
    }
    result_.clear();
    V_VT(&result_) = VT_NULL;
    answer_ = nullptr;
}

void Reply::object(IUnknown* object, const char* name) {
    result_.clear();
    ComPtr<IDispatch> dispatch;
    if (object && SUCCEEDED(object->QueryInterface(IID_IDispatch, dispatch.putVoid()))) {
        V_VT(&result_) = VT_DISPATCH;
        V_DISPATCH(&result_) = dispatch.detach();
    } else if (object) {
        V_VT(&result_) = VT_UNKNOWN;
        V_UNKNOWN(&result_) = object;
        object->AddRef();
    }
    if (object) object->Release();
    answer_ = name;
}

void journalCall(const char* object, const std::string& member, const Where& at, const Json& args, const Reply& reply) {
    Json line = Json::object();
    line["job"] = at.job;
    line["run"] = at.run;
    line["fake"] = std::string(object) + "." + member;
    line["args"] = args;
    if (reply.failed())
        line["error"] = utf8(reply.error().description);
    else
        line["answer"] = reply.answer();
    journalLine(line.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void give(Reply& reply, Fake* object) {
    if (!object) throw std::bad_alloc();
    reply.object(object, object->objectName());
}

Fake::~Fake() {
    if (marshaler_) marshaler_->Release();
}

HRESULT Fake::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    // Free-threaded: another apartment calls the object directly, as the
    // machine it reads never changes.
    if (iid == IID_IMarshal) {
        if (!marshaler_) {
            IUnknown* made = nullptr;
            if (FAILED(CoCreateFreeThreadedMarshaler(static_cast<IDispatch*>(this), &made))) return E_NOINTERFACE;
            if (InterlockedCompareExchangePointer(reinterpret_cast<void**>(&marshaler_), made, nullptr)) made->Release();
        }
        return marshaler_->QueryInterface(iid, out);
    }
    return E_NOINTERFACE;
}

HRESULT Fake::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT Fake::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

// Every name gets a dispid: a member not in the table fails only when
// called, with its name in the error, as a script author needs to see it.
HRESULT Fake::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    try {
        for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        std::string name = utf8(names[0] ? names[0] : L"");
        ids[0] = DISPID_UNKNOWN;
        for (std::size_t m = 0; m < kMemberCount; ++m)
            if (!std::strcmp(kMembers[m].object, object_) && sameName(name, kMembers[m].name)) ids[0] = DISPID(m + 1);
        if (ids[0] == DISPID_UNKNOWN) ids[0] = untabledId(names[0] ? names[0] : L"");
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Fake::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                     UINT*) {
    try {
        std::string member = memberFor(object_, id);
        if (member.empty()) return DISP_E_MEMBERNOTFOUND;
        // Arguments given to a member that takes none go to the default
        // member of what it gives, as in Properties_("Name") or Files("a.log").
        DISPPARAMS none = {};
        bool forwards = params && params->cArgs > 0 && takesNoArguments(object_, member) &&
                        !(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));
        Args args(forwards ? &none : params);
        Reply reply;
        Call call{member, where(), args, reply};
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
            notFakedCall(call);
        else
            answer(call);

        journalCall(object_, member, call.at, args.journal(), reply);

        if (reply.failed()) return raise(reply.error(), excep);
        VARIANT& given = reply.result();
        if (forwards) {
            if (V_VT(&given) != VT_DISPATCH) return DISP_E_BADPARAMCOUNT;
            return V_DISPATCH(&given)->Invoke(DISPID_VALUE, IID_NULL, 0, flags, params, result, excep, nullptr);
        }
        if (result) reply.result().moveTo(result);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

namespace {

class Enumerator : public Counted<IEnumVARIANT> {
public:
    Enumerator(std::vector<ComPtr<IDispatch>> items, std::size_t at) : items_(std::move(items)), at_(at) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IEnumVARIANT) return E_NOINTERFACE;
        *out = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
        if (!out && count) return E_POINTER;
        ULONG n = 0;
        for (; n < count && at_ < items_.size(); ++n, ++at_) {
            VariantInit(&out[n]);
            V_VT(&out[n]) = VT_DISPATCH;
            V_DISPATCH(&out[n]) = items_[at_].get();
            items_[at_]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        std::size_t left = items_.size() - at_;
        at_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        at_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = make<Enumerator>(items_, at_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::vector<ComPtr<IDispatch>> items_;
    std::size_t at_;
};

}  // namespace

IEnumVARIANT* makeEnumerator(std::vector<ComPtr<IDispatch>> items) { return make<Enumerator>(std::move(items), 0); }

void giveEnumerator(Reply& reply, std::vector<ComPtr<IDispatch>> items) {
    IEnumVARIANT* e = makeEnumerator(std::move(items));
    if (!e) throw std::bad_alloc();
    reply.object(e, "IEnumVARIANT");
}

}  // namespace fakes
