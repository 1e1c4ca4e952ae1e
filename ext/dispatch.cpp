// ScpExt's IDispatch: served from the IScpExt type information of the DLL's
// own type library, loaded once and kept until the module unloads.
#include "scpext.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "abort.h"
#include "module.h"
#include "owners.h"

namespace {

constexpr DISPID kFirstMethod = 1;
constexpr DISPID kLastMethod = 75;

// The method names, sorted without regard to case. The engine asks for a
// method's identifier at every call, and the type information's own lookup
// costs several times the call itself.
using NameTable = std::vector<std::pair<std::wstring, DISPID>>;

struct TypeInfoCache {
    CriticalSection lock;
    std::atomic<bool> loaded{false};     // info and names are fixed once set
    ComPtr<ITypeInfo> info;
    NameTable names;
};

TypeInfoCache& cache() {
    static TypeInfoCache c;
    return c;
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
        HRESULT hr = loadTypeLibrary(lib.put());
        if (FAILED(hr)) return hr;
        ComPtr<ITypeInfo> info;
        hr = lib->GetTypeInfoOfGuid(__uuidof(IScpExt), info.put());
        if (FAILED(hr)) return hr;
        try {
            readNames(info.get(), c.names);
        } catch (const std::bad_alloc&) {
            // Tried again at the next call, from the start.
            c.names.clear();
            return E_OUTOFMEMORY;
        }
        c.info = info;
        c.loaded.store(true, std::memory_order_release);
    }
    *out = c.info.get();
    return S_OK;
}

}  // namespace

void releaseScpExtTypeInfo() {
    TypeInfoCache& c = cache();
    Lock guard(c.lock);
    c.loaded.store(false, std::memory_order_release);
    c.info.reset();
    c.names.clear();
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
    // The type information applies the library's defaults, real ones
    // included, and answers wrong argument counts itself.
    return dispatchWithinRun(id, params, excep, ti, [&] {
        return ti->Invoke(static_cast<IScpExt*>(this), id, flags, params, result, excep, argErr);
    });
}
