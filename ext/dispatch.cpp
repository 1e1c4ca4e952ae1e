// ScpExt's IDispatch: served from the IScpExt type information of the
// registered type library, loaded once and kept until the module unloads.
#include "scpext.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "abort.h"
#include "owners.h"

namespace {

constexpr DISPID kFirstMethod = 1;
constexpr DISPID kLastMethod = 75;
// The library is registered under its own locale, U.S. English.
constexpr LCID kLibraryLocale = 0x409;

// Optional real parameters are declared in the type library without their
// default: the IDL compiler cannot store a real default value. Every such
// parameter's declared default is -1.0, and the object supplies it, so that a
// script that leaves one out sees the same value a stored default would give.
constexpr double kRealDefault = -1.0;

// The arguments Invoke supplies for left-out trailing parameters of one
// method: the stored default of each, or the real default above.
struct Defaults {
    UINT params = 0;                 // script-visible parameters (without retval)
    bool needed = false;             // some optional real parameter lacks a stored default
    std::vector<VARIANT> values;     // one per parameter; VT_EMPTY where there is none
};

// The method names, sorted without regard to case. The engine asks for a
// method's identifier at every call, and the type information's own lookup
// costs several times the call itself.
using NameTable = std::vector<std::pair<std::wstring, DISPID>>;

struct TypeInfoCache {
    CriticalSection lock;
    std::atomic<bool> loaded{false};     // info, defaults and names are fixed once set
    ComPtr<ITypeInfo> info;
    std::array<Defaults, kLastMethod + 1> defaults;
    NameTable names;
};

TypeInfoCache& cache() {
    static TypeInfoCache c;
    return c;
}

void readDefaults(ITypeInfo* info, std::array<Defaults, kLastMethod + 1>& table) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(info->GetFuncDesc(i, &fd))) continue;
        if (fd->memid >= kFirstMethod && fd->memid <= kLastMethod) {
            Defaults& d = table[fd->memid];
            d.params = fd->cParams;
            if (d.params && (fd->lprgelemdescParam[d.params - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL))
                --d.params;
            d.values.resize(d.params);
            for (UINT p = 0; p < d.params; ++p) {
                const ELEMDESC& e = fd->lprgelemdescParam[p];
                VARIANT& v = d.values[p];
                VariantInit(&v);
                USHORT pflags = e.paramdesc.wParamFlags;
                if ((pflags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
                    VariantCopy(&v, &e.paramdesc.pparamdescex->varDefaultValue);
                } else if ((pflags & PARAMFLAG_FOPT) && e.tdesc.vt == VT_R8) {
                    V_VT(&v) = VT_R8;
                    V_R8(&v) = kRealDefault;
                    d.needed = true;
                }
            }
        }
        info->ReleaseFuncDesc(fd);
    }
    info->ReleaseTypeAttr(attr);
}

// Method names are ASCII; folding only ASCII letters is exact for them and
// keeps the lookup free of the C runtime's locale.
int compareNoCase(const wchar_t* a, const wchar_t* b) {
    auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; };
    for (;; ++a, ++b) {
        wchar_t x = fold(*a), y = fold(*b);
        if (x != y || !x) return x < y ? -1 : x > y ? 1 : 0;
    }
}

bool lessNoCase(const std::pair<std::wstring, DISPID>& a, const std::pair<std::wstring, DISPID>& b) {
    return compareNoCase(a.first.c_str(), b.first.c_str()) < 0;
}

void readNames(ITypeInfo* info, NameTable& names) {
    for (DISPID id = kFirstMethod; id <= kLastMethod; ++id) {
        Bstr name;
        UINT count = 0;
        if (SUCCEEDED(info->GetNames(id, name.put(), 1, &count)) && count == 1) names.emplace_back(name.get(), id);
    }
    std::sort(names.begin(), names.end(), lessNoCase);
}

// The cached IScpExt type information; it stays alive until the module
// unloads, so callers use it without a reference of their own.
HRESULT typeInfo(ITypeInfo** out) {
    TypeInfoCache& c = cache();
    if (c.loaded.load(std::memory_order_acquire)) {
        *out = c.info.get();
        return S_OK;
    }
    Lock guard(c.lock);
    if (!c.info) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadRegTypeLib(LIBID_ZTOLVERALib, 1, 0, kLibraryLocale, lib.put());
        if (FAILED(hr)) return hr;
        ComPtr<ITypeInfo> info;
        hr = lib->GetTypeInfoOfGuid(__uuidof(IScpExt), info.put());
        if (FAILED(hr)) return hr;
        try {
            readDefaults(info.get(), c.defaults);
            readNames(info.get(), c.names);
        } catch (const std::bad_alloc&) {
            // Tried again at the next call, from the start.
            c.names.clear();
            for (Defaults& d : c.defaults) {
                for (VARIANT& v : d.values) VariantClear(&v);
                d = Defaults{};
            }
            return E_OUTOFMEMORY;
        }
        c.info = info;
        c.loaded.store(true, std::memory_order_release);
    }
    *out = c.info.get();
    return S_OK;
}

// What a script passes for an argument it leaves out between others
// ("a, , b"); without a stored default the type information would hand its
// bits to a real parameter as a number.
bool isLeftOut(const VARIANT& v) { return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND; }

// Positional arguments arrive last first; a call that leaves out parameters,
// trailing or between others, is given their defaults in the same order.
class CompletedArgs {
public:
    CompletedArgs(const DISPPARAMS* given, const Defaults& d) : params_(*given) {
        if (!d.needed || given->cNamedArgs != 0 || given->cArgs > d.params) return;
        bool leftOut = given->cArgs < d.params;
        for (UINT i = 0; i < given->cArgs && !leftOut; ++i) leftOut = isLeftOut(given->rgvarg[i]);
        if (!leftOut) return;
        args_.resize(d.params);
        for (UINT i = 0; i < d.params; ++i) {
            UINT slot = d.params - 1 - i;
            if (i < given->cArgs && !isLeftOut(given->rgvarg[given->cArgs - 1 - i]))
                args_[slot] = given->rgvarg[given->cArgs - 1 - i];
            else if (V_VT(&d.values[i]) != VT_EMPTY) args_[slot] = d.values[i];
            else {
                V_VT(&args_[slot]) = VT_ERROR;
                V_ERROR(&args_[slot]) = DISP_E_PARAMNOTFOUND;
            }
        }
        params_.rgvarg = args_.data();
        params_.cArgs = d.params;
    }
    DISPPARAMS* get() { return &params_; }

private:
    DISPPARAMS params_;
    std::vector<VARIANT> args_;      // shallow copies: the caller and the table own the values
};

}  // namespace

void releaseScpExtTypeInfo() {
    TypeInfoCache& c = cache();
    Lock guard(c.lock);
    c.loaded.store(false, std::memory_order_release);
    c.info.reset();
    c.names.clear();
    for (Defaults& d : c.defaults) {
        for (VARIANT& v : d.values) VariantClear(&v);
        d = Defaults{};
    }
}

STDMETHODIMP ScpExt::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP ScpExt::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* ti = nullptr;
    HRESULT hr = typeInfo(&ti);
    if (FAILED(hr)) return hr;
    ti->AddRef();
    *info = ti;
    return S_OK;
}

STDMETHODIMP ScpExt::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_INVALIDARG;
    ITypeInfo* ti = nullptr;
    HRESULT hr = typeInfo(&ti);
    if (FAILED(hr)) return hr;
    // Named arguments are resolved by the type information itself.
    if (count != 1 || !names[0]) return ti->GetIDsOfNames(names, count, ids);
    const NameTable& table = cache().names;
    auto it = std::lower_bound(table.begin(), table.end(), names[0], [](const auto& entry, const wchar_t* name) {
        return compareNoCase(entry.first.c_str(), name) < 0;
    });
    if (it == table.end() || compareNoCase(it->first.c_str(), names[0]) != 0) {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = it->second;
    return S_OK;
}

STDMETHODIMP ScpExt::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (id < kFirstMethod || id > kLastMethod) return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_INVALIDARG;
    ITypeInfo* ti = nullptr;
    HRESULT hr = typeInfo(&ti);
    if (FAILED(hr)) return hr;
    try {
        CompletedArgs args(params, cache().defaults[id]);
        return dispatchWithinRun(id, params, excep, [&] {
            return ti->Invoke(static_cast<IScpExt*>(this), id, flags, args.get(), result, excep, argErr);
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
