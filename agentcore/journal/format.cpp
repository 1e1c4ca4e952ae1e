#include "format.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace jnl {

// "-nan" before "nan", so that a reader trying them in order takes the longer.
const NonFinite kNonFinite[4] = {
    {"-nan", -std::numeric_limits<double>::quiet_NaN()},
    {"nan", std::numeric_limits<double>::quiet_NaN()},
    {"-inf", -std::numeric_limits<double>::infinity()},
    {"inf", std::numeric_limits<double>::infinity()},
};

std::string number(double v) {
    if (std::isnan(v)) return std::signbit(v) ? kNonFinite[0].word : kNonFinite[1].word;
    if (std::isinf(v)) return v < 0 ? kNonFinite[2].word : kNonFinite[3].word;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    // Written out in full where %g would only shorten it with an exponent.
    for (int prec = 1; prec <= 17; ++prec) {
        std::snprintf(buf, sizeof buf, "%.*g", prec, v);
        bool plain = !std::strchr(buf, 'e') || std::fabs(v) >= 1e17 || std::fabs(v) < 1e-4;
        if (plain && std::strtod(buf, nullptr) == v) break;
    }
    std::string s = buf;
    if (s.find_first_of(".eE") == std::string::npos) s += ".0";
    return s;
}

std::string quoted(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == 0) break;
        if (c == L'"') out += "\\\"";
        else if (c == L'\\') out += "\\\\";
        else if (c == L'\n') out += "\\n";
        else if (c == L'\r') out += "\\r";
        else if (c == L'\t') out += "\\t";
        else if (c < 0x20 || c > 0x7e) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
            out += esc;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

namespace {
std::wstring widened(const char* text, int length, UINT codePage) {
    int n = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    std::wstring w(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, text, length, w.data(), n);
    return w;
}
}  // namespace

std::string quotedAnsi(const char* text) { return text ? quoted(widened(text, -1, CP_ACP)) : "null"; }

std::string quotedUtf8(const std::string& text) {
    return quoted(widened(text.data(), static_cast<int>(text.size()), CP_UTF8));
}

unsigned runOf(unsigned long jobno, unsigned long pwdobj) {
    if (jobOf(pwdobj) != jobno) return 0;
    return static_cast<unsigned>(pwdobj % kRunsPerJob);
}

std::string withSeq(unsigned long seq, const std::string& object) {
    std::size_t open = object.find('{');
    if (open == std::string::npos) return {};
    std::size_t body = object.find_first_not_of(' ', open + 1);
    bool empty = body == std::string::npos || object[body] == '}';
    return "{\"seq\":" + std::to_string(seq) + (empty ? "" : ",") + (empty ? "}" : object.substr(body));
}

namespace {
constexpr char kSeq[] = "{\"seq\":";
}

std::string withoutSeq(const std::string& line) {
    std::size_t comma = line.find(',');
    if (line.rfind(kSeq, 0) != 0 || comma == std::string::npos) return line;
    return "{" + line.substr(comma + 1);
}

unsigned long seqOf(const std::string& line) {
    if (line.rfind(kSeq, 0) != 0) return 0;
    return std::strtoul(line.c_str() + sizeof kSeq - 1, nullptr, 10);
}

std::string hostNote(unsigned long jobno, const char* step, long hr) {
    return "{\"job\":" + std::to_string(jobno) + ",\"host\":\"" + step + "\",\"hr\":" + std::to_string(hr) + "}";
}

std::string runNote(unsigned long jobno, long hr, long ret) {
    return "{\"job\":" + std::to_string(jobno) + ",\"host\":\"run\",\"hr\":" + std::to_string(hr) +
           ",\"ret\":" + std::to_string(ret) + "}";
}

}  // namespace jnl
