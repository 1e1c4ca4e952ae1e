// The engine host driven as the agent drives it: a host of the test's own,
// job objects of the stand-in core, and the journal lines the host leaves.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "owners.h"
#include "script_probe.h"
#include "activation.h"
#include "job_counts.h"
#include "ztolvera.h"

namespace hostfix {

using Lines = std::vector<std::string>;

inline std::string hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%lx", value);
    return text;
}

inline std::string traceLine(const std::string& text) { return R"({"trace":")" + text + R"("})"; }

// The journal line of the probe scripts' call: MSActions 0, text, "", "", "".
inline std::string probeCall(unsigned long job, unsigned long pwd, const std::string& text) {
    std::string j = std::to_string(job);
    return R"({"job":)" + j + R"(,"op":"MSActions","ctx":[)" + j + "," + std::to_string(pwd) + R"(],"args":[0,")" +
           text + R"(","","","",-1.0,0,null,null]})";
}

inline constexpr wchar_t kProbeScript[] = L"Sub main()\n  CVEXT.MSActions 0, \"hello\", \"\", \"\", \"\"\nEnd Sub\n";

// A job object of the stand-in core, gone with the test.
class Job {
public:
    Job(unsigned long jobno, const wchar_t* script) : job_(standin_newJob(jobno, script)), jobno_(jobno) {}
    ~Job() { standin_deleteJob(job_); }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    vsinfo info(const wchar_t* name = L"test") const {
        return {jobno_, const_cast<LPWSTR>(name), static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(job_))};
    }

private:
    ImpJob* job_;
    unsigned long jobno_;
};

// Runs `step` on a thread of its own, in the multithreaded apartment.
template <class Step>
void onThread(Step&& step) {
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        step();
        CoUninitialize();
    }).join();
}

struct HostTest : ::testing::Test {
    void SetUp() override {
        setUpComForTests();
        host.attach(createHost());
        ASSERT_TRUE(host);
        standin_reset();
    }
    ULONG reg(const Job& job, const wchar_t* name = L"test") {
        ULONG cookie = 0;
        EXPECT_EQ(host->reg(job.info(name), &cookie), S_OK);
        return cookie;
    }
    HRESULT compile(ULONG cookie, const wchar_t* text = L"NULL") {
        Bstr script(text);
        return host->compile(cookie, script.get());
    }
    HRESULT run(ULONG cookie, ULONG pwdobj, VARIANT_BOOL* ret) {
        *ret = -1;
        return host->run(cookie, pwdobj, ret);
    }
    // No job is bound to the calling thread, and no run's pwdobj is left.
    static void expectDetached() {
        ImpJob* bound = nullptr;
        unsigned long pwd = 1;
        EXPECT_EQ(jobRefForThread(&bound, &pwd), 0);
        EXPECT_EQ(pwd, 0u);
    }
    ComPtr<ITolvera> host;
};

}  // namespace hostfix
