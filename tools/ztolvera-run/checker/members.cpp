#include "members.h"

#include <oleauto.h>

#include <algorithm>

#include "distance.h"
#include "owners.h"
#include "tolvera.h"
#include "ztolvera.h"

namespace {

wchar_t lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring typeName(const TYPEDESC& t) {
    switch (t.vt) {
    case VT_BSTR: return L"String";
    case VT_I2: return L"Integer";
    case VT_I4: case VT_INT: return L"Long";
    case VT_R8: return L"Double";
    case VT_BOOL: return L"Boolean";
    case VT_VARIANT: return L"Variant";
    case VT_PTR: return t.lptdesc ? typeName(*t.lptdesc) : L"Variant";
    default: return L"Variant";
    }
}

// The type information that a dual interface's dispatch goes through: the
// interface itself, with its [retval] and [optional] flags.
HRESULT interfaceInfo(ITypeLib* library, ComPtr<ITypeInfo>& info) {
    ComPtr<ITypeInfo> found;
    HRESULT hr = library->GetTypeInfoOfGuid(IID_IScpExt, found.put());
    if (FAILED(hr)) return hr;
    TYPEATTR* attr = nullptr;
    if (FAILED(hr = found->GetTypeAttr(&attr))) return hr;
    TYPEKIND kind = attr->typekind;
    found->ReleaseTypeAttr(attr);
    if (kind != TKIND_DISPATCH) {
        info = found;
        return S_OK;
    }
    HREFTYPE ref = 0;
    if (FAILED(hr = found->GetRefTypeOfImplType(-1, &ref))) return hr;
    return found->GetRefTypeInfo(ref, info.put());
}

bool readMember(ITypeInfo* info, UINT index, Member& member) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(index, &f))) return false;
    BSTR names[64] = {};
    UINT count = 0;
    UINT want = std::min<UINT>(64, static_cast<UINT>(f->cParams) + 1);
    bool ok = SUCCEEDED(info->GetNames(f->memid, names, want, &count)) && count > 0;
    if (ok) {
        member.name = names[0];
        for (SHORT i = 0; i < f->cParams; ++i) {
            const ELEMDESC& e = f->lprgelemdescParam[i];
            USHORT flags = e.paramdesc.wParamFlags;
            if (flags & PARAMFLAG_FRETVAL) {
                member.returns = typeName(e.tdesc);
                if (static_cast<UINT>(i) + 1 < count) member.returnName = names[i + 1];
                continue;
            }
            if (flags & PARAMFLAG_FLCID) continue;
            MemberParam p;
            p.name = static_cast<UINT>(i) + 1 < count ? names[i + 1] : L"arg" + std::to_wstring(i + 1);
            p.type = typeName(e.tdesc);
            p.optional = (flags & PARAMFLAG_FOPT) || i >= f->cParams - f->cParamsOpt;
            p.byRef = e.tdesc.vt == VT_PTR;
            if ((flags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
                Variant text;
                if (SUCCEEDED(VariantChangeType(&text, &e.paramdesc.pparamdescex->varDefaultValue, 0, VT_BSTR)))
                    p.defaultValue = V_BSTR(&text) ? V_BSTR(&text) : L"";
                if (p.defaultValue.empty()) p.defaultValue = L"\"\"";
            }
            member.params.push_back(std::move(p));
        }
        if (f->invkind == INVOKE_PROPERTYGET && member.returns.empty()) member.returns = typeName(f->elemdescFunc.tdesc);
    }
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);   // GetNames hands out one BSTR per name
    info->ReleaseFuncDesc(f);
    return ok;
}

std::wstring lowered(std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), lower);
    return s;
}

std::size_t distance(const std::wstring& a, const std::wstring& b) { return editDistance(lowered(a), lowered(b)); }

}  // namespace

std::size_t Member::required() const {
    return static_cast<std::size_t>(std::count_if(params.begin(), params.end(), [](const MemberParam& p) { return !p.optional; }));
}

std::wstring Member::signature() const {
    std::wstring s = name + L"(";
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (i) s += L", ";
        s += params[i].optional ? L"[" + params[i].name + L"]" : params[i].name;
    }
    s += L")";
    if (!returns.empty()) s += L" As " + returns;
    return s;
}

bool loadMembers(Members& members, std::wstring& error) {
    members.clear();
    ComPtr<ITypeLib> library;
    // The library of the DLL the jobs run on, never one registered elsewhere.
    HRESULT hr = LoadTypeLibEx(serverPath().c_str(), REGKIND_NONE, library.put());
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(hr)) hr = interfaceInfo(library.get(), info);
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(hr)) hr = info->GetTypeAttr(&attr);
    if (FAILED(hr)) {
        wchar_t hex[16];
        swprintf(hex, 16, L"0x%08lx", static_cast<unsigned long>(hr));
        error = L"no type library of zTolvera to check against: " + std::wstring(hex);
        return false;
    }
    WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < functions; ++i) {
        Member m;
        if (readMember(info.get(), i, m)) members.push_back(std::move(m));
    }
    if (members.empty()) error = L"the type library of zTolvera lists no members of IScpExt";
    return !members.empty();
}

const Members& serverMembers(std::wstring* error) {
    static std::wstring why;
    static const Members members = [] {
        Members m;
        loadMembers(m, why);
        return m;
    }();
    if (error) *error = why;
    return members;
}

const Member* findMember(const Members& members, const std::wstring& name) {
    for (const Member& m : members) {
        if (m.name.size() != name.size()) continue;
        if (distance(m.name, name) == 0) return &m;
    }
    return nullptr;
}

std::vector<std::wstring> nearestNames(const Members& members, const std::wstring& name) {
    // Within a third of the name's letters (at least two edits).
    std::size_t within = std::max<std::size_t>(2, name.size() / 3), best = within + 1;
    std::vector<std::wstring> out;
    for (const Member& m : members) {
        std::size_t d = distance(m.name, name);
        if (d > within) continue;
        if (d < best) {
            best = d;
            out.clear();
        }
        if (d == best && out.size() < 3) out.push_back(m.name);
    }
    return out;
}
