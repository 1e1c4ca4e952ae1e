#include "args.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include "memory.h"
#include "owners.h"

namespace {
// The C runtime's conversion for the current locale, one character at a
// time: a character the locale cannot represent becomes '?' and the text
// goes on. `put` takes each character's bytes and answers false to end the
// text there.
template <class Put>
void eachLocaleCharacter(const wchar_t* text, Put&& put) {
    char bytes[MB_LEN_MAX];
    std::mbstate_t state{};
    for (; *text; ++text) {
        std::size_t size = std::wcrtomb(bytes, *text, &state);
        if (size == static_cast<std::size_t>(-1)) {
            bytes[0] = '?';
            size = 1;
            state = {};
        }
        if (!put(bytes, size)) return;
    }
}
}  // namespace

char* toMultiByte(const wchar_t* text) {
    std::size_t n = text ? std::wcslen(text) : 0;
    auto* buffer = static_cast<char*>(memory::allocateZeroed(2 * n + 1, 1));
    if (!buffer || !n) return buffer;
    // Within 2n bytes; a character that no longer fits ends the text, whole.
    std::size_t used = 0;
    eachLocaleCharacter(text, [&](const char* bytes, std::size_t size) {
        if (used + size > 2 * n) return false;
        std::memcpy(buffer + used, bytes, size);
        used += size;
        return true;
    });
    return buffer;
}

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

std::string toLocaleText(const wchar_t* text) {
    if (!text) return "(null)";
    std::string out;
    eachLocaleCharacter(text, [&out](const char* bytes, std::size_t size) {
        out.append(bytes, size);
        return true;
    });
    return out;
}

BSTR toBstr(const char* text) {
    std::size_t length = text ? std::strlen(text) : 0;
    CrtPtr<wchar_t> wide(static_cast<wchar_t*>(memory::allocateZeroed(length + 1, sizeof(wchar_t))));
    if (!wide) return nullptr;
    if (length) std::mbstowcs(wide.get(), text, length + 1);
    return memory::allocBstr(wide.get());
}

std::string toAnsi(BSTR text) {
    if (!text || !*text) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

BSTR ansiToBstr(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = memory::allocBstrLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
    if (out && n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out, n);
    return out;
}
