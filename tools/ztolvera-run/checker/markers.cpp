#include "markers.h"

bool Silenced::silences(const char* rule, unsigned line) const {
    if (!*rule) return false;
    if (file.count(rule)) return true;
    auto at = lines.find(line);
    return at != lines.end() && at->second.count(rule);
}

Silenced silencedRules(const std::wstring& text) {
    static const std::wstring kMarker = L"ztolvera:";
    Silenced out;
    unsigned line = 1;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t to = text.find_first_of(L"\r\n", from);
        if (to == std::wstring::npos) to = text.size();
        std::wstring s = text.substr(from, to - from);
        // The marker counts in a comment only: after a quote mark that no string holds.
        bool inString = false;
        std::size_t comment = std::wstring::npos;
        for (std::size_t k = 0; k < s.size() && comment == std::wstring::npos; ++k) {
            if (s[k] == L'"') inString = !inString;
            else if (s[k] == L'\'' && !inString) comment = k;
        }
        std::size_t at = comment == std::wstring::npos ? comment : s.find(kMarker, comment);
        if (at != std::wstring::npos) {
            std::wstring rest = s.substr(at + kMarker.size());
            std::size_t word = rest.find_first_not_of(L" \t");
            std::size_t wordEnd = word == std::wstring::npos ? word : rest.find_first_of(L" \t", word);
            std::wstring verb = word == std::wstring::npos ? L"" : rest.substr(word, wordEnd - word);
            std::set<std::string>* into = verb == L"ignore" ? &out.lines[line] : verb == L"ignore-file" ? &out.file : nullptr;
            if (into && wordEnd != std::wstring::npos) {
                std::wstring names = rest.substr(wordEnd);
                std::string name;
                for (wchar_t c : names + L",") {
                    if (c == L',' || c == L' ' || c == L'\t') {
                        if (!name.empty()) into->insert(name);
                        name.clear();
                    } else {
                        name += static_cast<char>(c < 0x80 ? c : '?');
                    }
                }
            }
        }
        if (to == text.size()) break;
        from = to + (text[to] == L'\r' && to + 1 < text.size() && text[to + 1] == L'\n' ? 2 : 1);
        ++line;
    }
    return out;
}
