// Helpers for end-to-end tests that let a script report its out-values: the
// script hands them to ZTrace, and the test reads them back from the core's
// journal together with the calls it expects.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "owners.h"
#include "scpext.h"
#include "script_fixture.h"

namespace probe {

using Lines = std::vector<std::string>;

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

// A call's journal line with what the operation returned rather than wrote
// (JSON, null for none).
inline std::string gave(const std::string& line, const std::string& json) {
    return line.substr(0, line.size() - 1) + ",\"gave\":" + json + "}";
}

// The journal line of the script's ZTrace of `text` (JSON-escaped).
inline std::string said(const std::string& text, unsigned long job = kJob, unsigned long pwd = kPwd) {
    return call("ZTrace", "\"" + text + "\"", job, pwd);
}

// What the script passed to ZTrace, in order, as the journal shows it.
inline std::vector<std::string> reports() { return arguments("ZTrace", "msg"); }

// The job number of a journal line, or 0 when it has none.
inline unsigned long jobOf(const std::string& line) { return jobOfLine(line); }

// A script error as the job received it: the report text and the indicator.
struct ScriptError {
    std::string text;
    int indicator = -1;
};
inline std::vector<ScriptError> scriptErrors() {
    std::vector<ScriptError> out;
    std::vector<std::string> texts = arguments("sendScpException", "text"), codes = arguments("sendScpException", "code");
    for (std::size_t i = 0; i < texts.size(); ++i) out.push_back({texts[i], std::stoi(codes[i])});
    return out;
}

using runner::endsWith;

// Fixture of the end-to-end tests: COM up, the stand-in reset, and an
// extension object of the test's own for calls without a job.
struct Test : ::testing::Test {
    void SetUp() override {
        setUpComForTests();
        standin_reset();
    }
    // The script compiled and ran to its end without a script error.
    static void expectRan(const ScriptResult& r) {
        EXPECT_EQ(r.compile, S_OK);
        EXPECT_EQ(r.run, S_OK);
        EXPECT_TRUE(traces().empty()) << traces().front();
    }
    ComPtr<IScpExt> ext{ScpExt::create()};
};

}  // namespace probe
