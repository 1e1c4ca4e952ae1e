// The trace lines that someone reads back (the script runner, the tests),
// each a named format that the writer traces with and the reader matches
// with the same text, so that the wording cannot drift apart.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace traceformat {

// A call of the script's method %s that the host refused without the core,
// its run (pwdobj %lu) being ended.
inline constexpr char kCallRefused[] = "ScpExt-%s: call refused, run %lu is being ended\n";
// The engine refused to run job %x (the cookie) with the HRESULT %x.
inline constexpr char kRunFailed[] = "Tolvera-run: script %x failed to run with err %x\n";
// The engine refused the text of job <name,cookie> with the HRESULT %x.
inline constexpr char kCompileFailed[] = "Tolvera-compile: script <%s,%x> failed, err=%x\n";

// The host's own lines begin with one of these; the extension object's
// ("ScpExt-...") and the script's do not.
inline constexpr const char* kHostPrefixes[] = {"Tolvera-", "CTolvera-"};

inline bool isHostLine(const std::string& line) {
    for (const char* prefix : kHostPrefixes)
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

// Whether `line` (its final line end removed) is one of `format`, and what
// stood for each conversion: %s takes everything up to the text that
// follows it, %x hex digits, %lu decimal digits.
inline bool matches(const char* format, const std::string& line, std::vector<std::string>& fields) {
    fields.clear();
    std::size_t at = 0;
    for (const char* f = format; *f;) {
        if (*f == '\n' && !f[1]) break;
        if (*f != '%') {
            if (at >= line.size() || line[at] != *f) return false;
            ++at, ++f;
            continue;
        }
        ++f;
        if (*f == 'l') ++f;
        char conversion = *f++;
        std::size_t start = at;
        if (conversion == 's') {
            std::size_t end = *f && *f != '\n' ? line.find(*f, at) : line.size();
            if (end == std::string::npos) return false;
            at = end;
        } else {
            auto digit = [&](unsigned char c) { return conversion == 'x' ? std::isxdigit(c) != 0 : std::isdigit(c) != 0; };
            while (at < line.size() && digit(static_cast<unsigned char>(line[at]))) ++at;
            if (at == start) return false;
        }
        fields.push_back(line.substr(start, at - start));
    }
    return at == line.size();
}

}  // namespace traceformat
