#include "args.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include "memory.h"
#include "owners.h"

namespace {
// "NULL" in any letter case. Only ASCII letters fold to N, U and L, so this
// answers exactly as the C library's case-insensitive comparison does.
bool isNullText(const wchar_t* t) {
    auto is = [](wchar_t c, wchar_t upper) { return c == upper || c == upper + 32; };
    return is(t[0], L'N') && is(t[1], L'U') && is(t[2], L'L') && is(t[3], L'L') && t[4] == 0;
}
}  // namespace

ArgString::ArgString(BSTR text) {
    if (!text || isNullText(text)) return;
    text_ = toMultiByte(text);
}

ArgString::~ArgString() { std::free(text_); }

VariantValue ReadVariantValue(const VARIANT* v, ValueKind kind) {
    VariantValue out;
    if (!v) return out;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT)) {
        v = V_VARIANTREF(v);
        if (!v) return out;
    }
    VARTYPE vt = V_VT(v);
    if (vt & VT_ARRAY) return out;
    bool byref = (vt & VT_BYREF) != 0;
    switch (vt & VT_TYPEMASK) {
    case VT_I2:
        if (kind != ValueKind::Long && kind != ValueKind::ULong) return out;
        if (byref && !V_I2REF(v)) return out;
        out.number = static_cast<long>(static_cast<uint16_t>(byref ? *V_I2REF(v) : V_I2(v)));
        break;
    case VT_I4:
        if (kind != ValueKind::Long && kind != ValueKind::ULong) return out;
        if (byref && !V_I4REF(v)) return out;
        out.number = byref ? *V_I4REF(v) : V_I4(v);
        break;
    case VT_R8:
        if (kind != ValueKind::Double) return out;
        if (byref && !V_R8REF(v)) return out;
        out.real = byref ? *V_R8REF(v) : V_R8(v);
        break;
    case VT_BSTR:
        if (kind != ValueKind::String) return out;
        if (byref && !V_BSTRREF(v)) return out;
        out.text = byref ? *V_BSTRREF(v) : V_BSTR(v);
        if (!out.text) return out;
        break;
    default:
        return out;
    }
    out.accepted = true;
    return out;
}

int SetVariantResult(VARIANT* target, ValueKind kind, long number) {
    if (!target) return 0;
    VariantClear(target);
    if (kind != ValueKind::Long && kind != ValueKind::ULong) return 0;
    V_VT(target) = VT_I4;
    V_I4(target) = number;
    return 1;
}

int SetVariantResult(VARIANT* target, ValueKind kind, double real) {
    if (!target) return 0;
    VariantClear(target);
    if (kind != ValueKind::Double) return 0;
    V_VT(target) = VT_R8;
    V_R8(target) = real;
    return 1;
}

int SetVariantResult(VARIANT* target, ValueKind kind, const char* text) {
    if (!target) return 0;
    VariantClear(target);
    if (kind != ValueKind::String) return 0;
    BSTR b = toBstr(text);
    if (!b) return 0;
    V_VT(target) = VT_BSTR;
    V_BSTR(target) = b;
    return 1;
}
