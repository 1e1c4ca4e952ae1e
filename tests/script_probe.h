// Helpers for end-to-end tests that let a script report its out-values: the
// script hands them to ZTrace, and the test reads them back from the core's
// journal together with the calls it expects.
#pragma once

#include <string>
#include <vector>

#include "script_fixture.h"

namespace probe {

constexpr unsigned long kJob = 3;
constexpr unsigned long kPwd = 3003;

inline ScriptResult runMain(const std::wstring& body, unsigned long job = kJob, unsigned long pwd = kPwd) {
    return runScript(L"Sub main()\n" + body + L"\nEnd Sub\n", job, pwd);
}

// A journal line of a core call with a job context.
inline std::string call(const std::string& op, const std::string& args, unsigned long job = kJob,
                        unsigned long pwd = kPwd) {
    std::string j = std::to_string(job);
    return "{\"job\":" + j + ",\"op\":\"" + op + "\",\"ctx\":[" + j + "," + std::to_string(pwd) +
           "],\"args\":[" + args + "]}";
}

// What the script passed to ZTrace, in order, as the journal shows it.
inline std::vector<std::string> reports() {
    std::vector<std::string> out;
    const std::string head = "\"op\":\"ZTrace\"";
    const std::string open = "\"args\":[\"";
    for (const std::string& line : journal()) {
        if (line.find(head) == std::string::npos) continue;
        std::size_t start = line.find(open);
        if (start == std::string::npos || line.size() < start + open.size() + 3) continue;
        start += open.size();
        out.push_back(line.substr(start, line.size() - 3 - start));   // up to "]}
    }
    return out;
}

// The job number of a journal line, or 0 when it has none.
inline unsigned long jobOf(const std::string& line) {
    const std::string key = "\"job\":";
    std::size_t at = line.find(key);
    return at == std::string::npos ? 0 : std::stoul(line.substr(at + key.size()));
}

}  // namespace probe
