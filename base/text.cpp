#include "text.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

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
