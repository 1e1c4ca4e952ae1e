// Waits, the jobs' critical section and counted locks: from VBScript through
// ScpExt down to what the stand-in core received and answered.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "bound_job.h"
#include "script_probe.h"

namespace {

using probe::Lines;
using probe::call;
using probe::reports;
using probe::runMain;

using WaitsTest = probe::Test;

TEST_F(WaitsTest, WaitResultsMapToWhatTheScriptSees) {
    struct Case { long core; int abort; const char* seen; };
    const Case cases[] = {
        {0, 0, "-1"},      // failed
        {-1, 0, "0"},      // timed out
        {1, 0, "1"},
        {258, 0, "258"},   // any other result passes unchanged
        {1, 1, "-1"},      // an abort outweighs every result
        {-1, 1, "-1"},
    };
    for (const Case& c : cases) {
        standin_reset();
        for (const char* op : {"MCWaitForObject", "MCWaitForObjectOffline"}) {
            standin_setResult(op, c.core);
            standin_setAbort(op, c.abort);
        }
        ScriptResult r = runMain(L"CVEXT.ZTrace CStr(CVEXT.WaitForObject(12, 30, True))\n"
                                 L"CVEXT.ZTrace CStr(CVEXT.WaitForObjectEx(13, 40))");
        ASSERT_EQ(r.run, S_OK) << c.core;
        EXPECT_EQ(reports(), (Lines{c.seen, c.seen})) << c.core << " abort " << c.abort;
        // The interval comes before the handle, the abort flag after the
        // noabort flag; only WaitForObject passes the trailing 0.
        const std::string flag = std::to_string(c.abort);
        EXPECT_EQ(calls("MCWaitForObject"), (Lines{call("MCWaitForObject", "30,12,-1," + flag + ",0")}));
        EXPECT_EQ(calls("MCWaitForObjectOffline"), (Lines{call("MCWaitForObjectOffline", "40,13,0," + flag)}));
    }
}

TEST_F(WaitsTest, InvalidHandleRaisesAScriptErrorOnlyWhenAJobRuns) {
    for (const wchar_t* wait : {L"WaitForObject", L"WaitForObjectEx"}) {
        standin_reset();
        ScriptResult r = runMain(std::wstring(L"x = CVEXT.") + wait + L"(-1, 10)\nCVEXT.ZTrace \"went on\"");
        EXPECT_TRUE(FAILED(r.run));
        EXPECT_EQ(traces().size(), 1u);   // the script error
        EXPECT_TRUE(calls("MCWaitForObject").empty());
        EXPECT_TRUE(calls("MCWaitForObjectOffline").empty());
        EXPECT_TRUE(reports().empty());
    }
    long ret = 99;
    {
        BoundJob job(4);
        EXPECT_EQ(ext->WaitForObject(-1, 10, VARIANT_FALSE, &ret), E_INVALIDARG);
        EXPECT_EQ(ret, 0);
        EXPECT_EQ(ext->WaitForObjectEx(-1, 10, VARIANT_FALSE, &ret), E_INVALIDARG);
    }
    // The job lookup comes first: without a job the handle is not looked at.
    standin_reset();
    ret = 99;
    EXPECT_EQ(ext->WaitForObject(-1, 10, VARIANT_FALSE, &ret), S_FALSE);
    EXPECT_EQ(ret, 0);
    ret = 99;
    EXPECT_EQ(ext->WaitForObjectEx(5, 10, VARIANT_FALSE, &ret), S_FALSE);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(journal(), Lines{});
}

TEST_F(WaitsTest, SleepReportsAFullSleepOrAnAbort) {
    standin_setResult("MCSleep", 0);   // the core's own result is ignored
    ScriptResult r = runMain(L"CVEXT.ZTrace CStr(CVEXT.CVSleep(20))\n"
                             L"CVEXT.ZTrace CStr(CVEXT.CVSleep(5, True))");
    ASSERT_EQ(r.run, S_OK);
    EXPECT_EQ(reports(), (Lines{"1", "1"}));
    EXPECT_EQ(calls("MCSleep"), (Lines{call("MCSleep", "20,0,0"), call("MCSleep", "5,-1,0")}));

    standin_reset();
    standin_setAbort("MCSleep", 1);
    r = runMain(L"CVEXT.ZTrace CStr(CVEXT.CVSleep(1000))\nCVEXT.CVSleep 10");
    EXPECT_EQ(reports(), (Lines{"-1"}));
    // The abort flag as the core left it.
    EXPECT_EQ(calls("MCSleep"), (Lines{call("MCSleep", "1000,0,1"), call("MCSleep", "10,0,1")}));

    long ret = 99;
    EXPECT_EQ(ext->CVSleep(10, VARIANT_FALSE, &ret), S_FALSE);
    EXPECT_EQ(ret, 0);
}

TEST_F(WaitsTest, EnterCriticalSectionAnswers) {
    struct Case { long core; int abort; HRESULT hr; long ret; };
    const Case cases[] = {
        {1, 0, S_OK, 0},       // entered
        {0, 0, S_FALSE, 1},    // the core failed
        {1, 1, S_OK, -1},      // aborted: the flag does not change the HRESULT
        {0, 1, S_FALSE, -1},
    };
    BoundJob job(4, 4004);
    for (const Case& c : cases) {
        standin_reset();
        standin_setResult("MCEnterCS", c.core);
        standin_setAbort("MCEnterCS", c.abort);
        long ret = 99;
        EXPECT_EQ(ext->MCEnterCS(&ret), c.hr) << c.core << " abort " << c.abort;
        EXPECT_EQ(ret, c.ret) << c.core << " abort " << c.abort;
        EXPECT_EQ(journal(), (Lines{call("MCEnterCS", std::to_string(c.abort), 4, 4004)}));
    }
    standin_reset();
    long ret = 99;
    ASSERT_EQ(ext->MCEnterCS(&ret), S_OK);
    EXPECT_EQ(ext->MCExitCS(), S_OK);
    EXPECT_EQ(ext->MCExitCS(), S_FALSE);   // the core refuses to leave a section not entered
}

TEST_F(WaitsTest, CriticalSectionWithoutAJobIsNotAskedFor) {
    long ret = 99;
    EXPECT_EQ(ext->MCEnterCS(&ret), S_FALSE);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(ext->MCExitCS(), S_FALSE);
    EXPECT_EQ(journal(), Lines{});
}

TEST_F(WaitsTest, TwoJobsOnTwoThreadsNeverShareTheCriticalSection) {
    const std::wstring body = L"For i = 1 To 5\n"
                              L"  CVEXT.MCEnterCS\n"
                              L"  CVEXT.CVSleep 5\n"
                              L"  CVEXT.ZTrace \"inside\"\n"
                              L"  CVEXT.MCExitCS\n"
                              L"Next";
    ScriptResult first, second;
    std::thread a([&] { first = runMain(body, 1, 1001); });
    std::thread b([&] { second = runMain(body, 2, 2002); });
    a.join();
    b.join();
    ASSERT_EQ(first.run, S_OK);
    ASSERT_EQ(second.run, S_OK);

    unsigned long holder = 0;
    int entries[3] = {};
    for (const std::string& line : journal()) {
        unsigned long job = probe::jobOf(line);
        if (line.find("\"op\":\"MCEnterCS\"") != std::string::npos) {
            EXPECT_EQ(holder, 0u) << "job " << job << " entered while job " << holder << " was inside";
            holder = job;
            ++entries[job % 3];
        } else if (line.find("\"op\":\"MCExitCS\"") != std::string::npos) {
            EXPECT_EQ(holder, job);
            holder = 0;
        } else if (job) {
            EXPECT_EQ(holder, job) << line;
        }
    }
    EXPECT_EQ(entries[1], 5);
    EXPECT_EQ(entries[2], 5);
}

TEST_F(WaitsTest, LockComponentsConvertLikeNumbersWithoutTouchingTheScriptsVariables) {
    ScriptResult r = runMain(L"c = \"12\"\n"
                             L"CVEXT.ZTrace CStr(CVEXT.AcquireLock(c)) & \" \" & TypeName(c)\n"
                             L"old = 0.9\n"
                             L"rc = CVEXT.SampleLock(c, old, n)\n"
                             L"CVEXT.ZTrace rc & \" \" & n & \" \" & TypeName(n) & \" \" & TypeName(c) & \" \" & old\n"
                             L"rc = CVEXT.SampleLock(12, 1, n)\n"
                             L"CVEXT.ZTrace rc & \" \" & n & \" \" & TypeName(n)");
    ASSERT_EQ(r.run, S_OK);
    EXPECT_EQ(reports(), (Lines{"1 String", "1 1 Double String 0.9", "0 1 Double"}));
    EXPECT_EQ(calls("AcquireLock"), (Lines{call("AcquireLock", "12")}));
    // Arguments: component, old count, and the count the core reported.
    EXPECT_EQ(calls("SampleLock"), (Lines{call("SampleLock", "12,0,1"), call("SampleLock", "12,1,1")}));
    EXPECT_EQ(traces(), Lines{});
}

TEST_F(WaitsTest, OldLockCountIsTruncatedToItsLow32Bits) {
    struct Case { const wchar_t* old; const char* passed; };
    const Case cases[] = {
        {L"3.9", "3"},
        {L"-3.9", "4294967293"},
        {L"-1.5", "4294967295"},
        {L"\"7\"", "7"},
        {L"4294967297", "1"},
        {L"1E+300", "0"},      // a multiple of 2^32
        {L"True", "4294967295"},
    };
    for (const Case& c : cases) {
        standin_reset();
        runMain(std::wstring(L"CVEXT.SampleLock 5, ") + c.old + L", n");
        EXPECT_EQ(calls("SampleLock"), (Lines{call("SampleLock", std::string("5,") + c.passed + ",0")}))
            << std::string(c.old, c.old + wcslen(c.old));
    }
}

TEST_F(WaitsTest, UnconvertibleLockArgumentsAreTracedAndRefused) {
    ScriptResult r = runMain(L"n = \"before\"\n"
                             L"CVEXT.SampleLock \"twelve\", 1, n\n"
                             L"CVEXT.SampleLock 12, \"many\", n\n"
                             L"CVEXT.ZTrace TypeName(n) & \" \" & n\n"
                             L"CVEXT.ZTrace CStr(CVEXT.AcquireLock(\"twelve\"))");
    ASSERT_EQ(r.run, S_OK);
    EXPECT_EQ(traces(), (Lines{
        "ScpExt-SampleLock: component parameter cannot be converted to an unsigned long.",
        "ScpExt-SampleLock: oldLockCount parameter cannot be converted to a double.",
        "ScpExt-AcquireLock: component parameter cannot be converted to an unsigned long.",
    }));
    EXPECT_EQ(reports(), (Lines{"String before", "0"}));
    EXPECT_TRUE(calls("SampleLock").empty());
    EXPECT_TRUE(calls("AcquireLock").empty());
}

TEST_F(WaitsTest, LocksWithoutAJobWriteNothing) {
    Variant component, old, count;
    V_VT(&component) = VT_I4;
    V_I4(&component) = 12;
    V_VT(&old) = VT_I4;
    V_I4(&old) = 0;
    V_VT(&count) = VT_I4;
    V_I4(&count) = 77;
    long rc = 99;
    EXPECT_EQ(ext->SampleLock(component, old, &count, &rc), S_FALSE);
    EXPECT_EQ(rc, 99);
    EXPECT_EQ(V_VT(&count), VT_I4);
    EXPECT_EQ(V_I4(&count), 77);
    EXPECT_EQ(ext->AcquireLock(component, &rc), S_FALSE);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(journal(), Lines{});
}

}  // namespace
