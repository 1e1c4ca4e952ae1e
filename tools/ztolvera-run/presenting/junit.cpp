#include "junit.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", s);
    return text;
}

const Verdict* firstFailed(const PairOutcome& pair) {
    auto it = std::find_if(pair.verdicts.begin(), pair.verdicts.end(), [](const Verdict& v) { return !v.holds; });
    return it == pair.verdicts.end() ? nullptr : &*it;
}

std::string verdictName(const Verdict& v) {
    return "job " + std::to_string(v.jobno) + " expect " + std::to_string(v.number) + ": " + v.what;
}

}  // namespace

std::string escapeXml(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string pairLine(const PairOutcome& pair) {
    std::size_t failed = std::count_if(pair.verdicts.begin(), pair.verdicts.end(), [](const Verdict& v) { return !v.holds; });
    if (pair.status == 0) {
        std::size_t n = pair.verdicts.size();
        return "PASS " + pair.name + ": " +
               (n ? std::to_string(n) + (n == 1 ? " expectation holds" : " expectations hold") : "every run succeeded") + "\n";
    }
    std::string reason = pair.trouble;
    if (const Verdict* v = firstFailed(pair)) {
        std::string what = "expect " + std::to_string(v->number) + " failed (" + v->what + ")" +
                           (v->failures.empty() ? "" : ": " + v->failures.front());
        if (failed > 1)
            what += "; and " + std::to_string(failed - 1) + (failed == 2 ? " more expectation" : " more expectations") + " failed";
        reason = reason.empty() ? what : reason + "; " + what;
    }
    return "FAIL " + pair.name + ": " + (reason.empty() ? "exit status " + std::to_string(pair.status) : reason) + "\n";
}

std::string junitXml(const std::vector<PairOutcome>& pairs) {
    std::size_t tests = 0, failures = 0;
    std::string suites;
    for (const PairOutcome& pair : pairs) {
        std::size_t failed = pair.trouble.empty() ? 0 : 1;
        std::string cases = "    <testcase classname=\"" + escapeXml(pair.suite) + "\" name=\"the runs\" time=\"" +
                            seconds(pair.seconds) + "\"";
        cases += pair.trouble.empty()
                     ? "/>\n"
                     : ">\n      <failure message=\"" + escapeXml(pair.trouble) + "\" type=\"runs\">" +
                           escapeXml(pair.trouble) + "</failure>\n    </testcase>\n";
        for (const Verdict& v : pair.verdicts) {
            cases += "    <testcase classname=\"" + escapeXml(pair.suite) + "\" name=\"" + escapeXml(verdictName(v)) +
                     "\" time=\"0\"";
            if (v.holds) {
                cases += "/>\n";
                continue;
            }
            ++failed;
            std::string body;
            for (const std::string& f : v.failures) body += f + "\n";
            cases += ">\n      <failure message=\"" + escapeXml(v.failures.empty() ? v.what : v.failures.front()) +
                     "\" type=\"expectation\">" + escapeXml(body) + "</failure>\n    </testcase>\n";
        }
        std::size_t count = pair.verdicts.size() + 1;
        tests += count;
        failures += failed;
        suites += "  <testsuite name=\"" + escapeXml(pair.name) + "\" tests=\"" + std::to_string(count) +
                  "\" failures=\"" + std::to_string(failed) + "\" errors=\"0\" time=\"" + seconds(pair.seconds) + "\">\n" +
                  cases + "  </testsuite>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"ztolvera-run --test\" tests=\"" +
           std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\">\n" + suites + "</testsuites>\n";
}
