#include "script.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

// Script files are small; anything beyond this is not a script.
constexpr DWORD kMaxScriptBytes = 16 * 1024 * 1024;

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

}  // namespace

bool decodeScript(const std::string& bytes, std::wstring& text, std::wstring& error, bool* ansi) {
    text.clear();
    if (ansi) *ansi = false;
    if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFE\xFF") == 0) {
        error = L"UTF-16 big-endian text is not supported; save it as UTF-8 or UTF-16LE";
        return false;
    }
    if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (bytes.size() % 2) {
            error = L"UTF-16LE text with an odd number of bytes";
            return false;
        }
        text.resize((bytes.size() - 2) / 2);
        std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    } else {
        std::size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        int size = static_cast<int>(bytes.size() - skip);
        if (size > 0) {
            const char* start = bytes.data() + skip;
            UINT page = CP_UTF8;
            DWORD flags = MB_ERR_INVALID_CHARS;
            int n = MultiByteToWideChar(page, flags, start, size, nullptr, 0);
            // A mark says UTF-8; without one, bytes that are not UTF-8 are
            // the system's code page, every byte of which maps to a character.
            if (n <= 0 && !skip) {
                page = CP_ACP;
                flags = 0;
                n = MultiByteToWideChar(page, flags, start, size, nullptr, 0);
                if (ansi) *ansi = true;
            }
            if (n <= 0) {
                error = L"not UTF-8 text, though it starts with the UTF-8 byte-order mark";
                return false;
            }
            text.resize(n);
            MultiByteToWideChar(page, flags, start, size, text.data(), n);
        }
    }
    if (text.find(L'\0') != std::wstring::npos) {
        error = L"contains NUL characters (UTF-16 without a byte-order mark?)";
        text.clear();
        return false;
    }
    return true;
}

bool readScript(const std::wstring& path, std::wstring& text, std::wstring& error, bool* ansi) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = L"is a folder, not a script file";
        return false;
    }
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        error = systemMessage(GetLastError());
        return false;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size)) {
        error = systemMessage(GetLastError());
        return false;
    }
    if (size.QuadPart > kMaxScriptBytes) {
        error = L"larger than " + std::to_wstring(kMaxScriptBytes / (1024 * 1024)) + L" MB";
        return false;
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
        error = systemMessage(GetLastError());
        return false;
    }
    if (got != bytes.size()) {
        error = L"could not be read to its end";
        return false;
    }
    return decodeScript(bytes, text, error, ansi);
}

std::vector<std::wstring> expandWildcards(std::vector<std::wstring>& paths) {
    std::vector<std::wstring> expanded, unmatched;
    for (const std::wstring& path : paths) {
        if (path.find_first_of(L"*?") == std::wstring::npos) {
            expanded.push_back(path);
            continue;
        }
        std::size_t slash = path.find_last_of(L"\\/:");
        std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
        std::vector<std::wstring> matches;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(path.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) matches.push_back(folder + found.cFileName);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        if (matches.empty()) unmatched.push_back(path);
        std::sort(matches.begin(), matches.end(), [](const std::wstring& a, const std::wstring& b) {
            return _wcsicmp(a.c_str(), b.c_str()) < 0;
        });
        expanded.insert(expanded.end(), matches.begin(), matches.end());
    }
    paths = std::move(expanded);
    return unmatched;
}

std::wstring systemMessage(unsigned long code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L'.' || message.back() == L' '))
        message.pop_back();
    return message;
}

std::wstring jobNameOf(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/:");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

namespace {
std::string narrowed(const std::wstring& text, UINT codePage) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}
}  // namespace

std::string utf8(const std::wstring& text) { return narrowed(text, CP_UTF8); }
std::string ansi(const std::wstring& text) { return narrowed(text, CP_ACP); }

std::wstring fromUtf8(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}
