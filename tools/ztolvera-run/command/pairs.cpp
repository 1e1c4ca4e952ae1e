#include "pairs.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace {

std::wstring lower(std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return s;
}

bool endsWith(const std::wstring& name, const std::wstring& tail) {
    return name.size() >= tail.size() && lower(name.substr(name.size() - tail.size())) == tail;
}

std::wstring fileName(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring folderOf(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
}

// The names in `folder` (ending in a separator, or "") that match `mask`, sorted.
std::vector<std::wstring> namesIn(const std::wstring& folder, const std::wstring& mask) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + mask).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) { return lower(a) < lower(b); });
    return names;
}

// NAME.toml first, then NAME.*.toml in name order. The mask's match of the
// short names is not trusted: the stem is compared whole.
void pairScript(const std::wstring& folder, const std::wstring& script, std::vector<TestPair>& pairs) {
    std::wstring stem = script.substr(0, script.size() - 4);
    std::vector<std::wstring> scenarios;
    for (const std::wstring& name : namesIn(folder, stem + L"*.toml")) {
        std::wstring low = lower(name);
        if (low == lower(stem) + L".toml") scenarios.insert(scenarios.begin(), name);
        else if (low.rfind(lower(stem) + L".", 0) == 0 && endsWith(low, L".toml")) scenarios.push_back(name);
    }
    if (scenarios.empty()) pairs.push_back(TestPair{folder + script, L""});
    for (const std::wstring& scenario : scenarios) pairs.push_back(TestPair{folder + script, folder + scenario});
}

}  // namespace

bool findPairs(const std::vector<std::wstring>& given, std::vector<TestPair>& pairs, std::wstring& error) {
    for (std::wstring path : given) {
        // cmd.exe completes a folder as "C:\dir\", which the C runtime hands
        // over as C:\dir" (the backslash escapes the quote).
        if (!path.empty() && path.back() == L'"') path.back() = L'\\';
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            error = path + L": no such folder or script";
            return false;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
            std::vector<std::wstring> scripts;
            for (const std::wstring& name : namesIn(path, L"*.vbs"))
                if (endsWith(name, L".vbs")) scripts.push_back(name);
            if (scripts.empty()) {
                error = path + L": a folder without .vbs scripts";
                return false;
            }
            for (const std::wstring& script : scripts) pairScript(path, script, pairs);
        } else if (endsWith(path, L".vbs")) {
            pairScript(folderOf(path), fileName(path), pairs);
        } else {
            error = path + L": --test takes folders and .vbs scripts (their scenarios are found beside them)";
            return false;
        }
    }
    return true;
}

std::wstring pairName(const TestPair& pair) {
    return fileName(pair.script) + (pair.scenario.empty() ? L"" : L" with " + fileName(pair.scenario));
}

std::wstring pairSuite(const TestPair& pair) { return fileName(pair.scenario.empty() ? pair.script : pair.scenario); }
