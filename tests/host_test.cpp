// The engine host end to end: ITolvera driven as the agent drives it, real
// VBScript in the platform's engine, script calls down to the stand-in core;
// each test states the exact journal and trace the host produced.
#include "host_fixture.h"

#include <utility>

#include "module.h"
#include "test_engine.h"

namespace {

using namespace hostfix;

TEST_F(HostTest, JobCompiledFromItsJobObjectRunsMainWithTheRunsPwdobj) {
    Job job(1, kProbeScript);
    ULONG cookie = reg(job);
    ASSERT_NE(cookie, 0u);
    EXPECT_EQ(compile(cookie), S_OK);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 1001, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    expectDetached();
    EXPECT_EQ(host->unreg(cookie), S_OK);
    const std::string c = hex(cookie);
    EXPECT_EQ(fullJournal(), (Lines{
        traceLine("Tolvera-reg: script reg with cookie " + c),
        traceLine("Tolvera-compile: script <test," + c + "> compiled"),
        traceLine("Tolvera-run: running script " + c + " .."),
        traceLine("Tolvera-run: invoking main with dispid 20000001  ..."),
        probeCall(1, 1001, "hello"),
    }));
}

TEST_F(HostTest, NullInAnyCaseTakesTheTextFromTheJobObject) {
    struct Case { const wchar_t* script; const char* reached; };
    const Case cases[] = {
        {L"NULL", "hello"}, {L"null", "hello"}, {L"nUlL", "hello"}, {nullptr, "hello"},
        {L"Sub main()\n  CVEXT.MSActions 0, \"given\", \"\", \"\", \"\"\nEnd Sub\n", "given"},
    };
    for (const Case& c : cases) {
        standin_reset();
        Job job(2, kProbeScript);
        ULONG cookie = reg(job, L"nulls");
        Bstr script(c.script);
        EXPECT_EQ(host->compile(cookie, script.get()), S_OK);
        VARIANT_BOOL ret;
        EXPECT_EQ(run(cookie, 2001, &ret), S_OK);
        EXPECT_EQ(ret, 1);
        EXPECT_EQ(calls("MSActions"), Lines{probeCall(2, 2001, c.reached)}) << c.reached;
        EXPECT_EQ(allTraces()[1], "Tolvera-compile: script <nulls," + hex(cookie) + "> compiled");
        host->unreg(cookie);
    }
}

// Script text reaches the engine and the core whole. A byte-order mark ends
// the text for the platform's engine, so the host drops it, whether the text
// came as compile's argument or from the job object; a character the C
// locale cannot show in 8 bits reaches the core as '?', the rest after it.
TEST_F(HostTest, ScriptTextReachesTheEngineAndTheCoreWhole) {
    const std::wstring marked = L"\xfeff" + std::wstring(kProbeScript);
    const wchar_t* beyondLocale = L"Sub main()\n  CVEXT.MSActions 0, \"t2 \u4e2d\u6587 end\", \"\", \"\", \"\"\nEnd Sub\n";
    struct Case { const wchar_t* jobText; const wchar_t* argument; const char* reached; };
    const Case cases[] = {
        {marked.c_str(), L"NULL", "hello"},
        {nullptr, marked.c_str(), "hello"},
        {beyondLocale, L"NULL", "t2 ?? end"},
    };
    for (const Case& c : cases) {
        standin_reset();
        Job job(4, c.jobText);
        ULONG cookie = reg(job);
        EXPECT_EQ(compile(cookie, c.argument), S_OK);
        VARIANT_BOOL ret;
        EXPECT_EQ(run(cookie, 4001, &ret), S_OK);
        EXPECT_EQ(ret, 1);
        EXPECT_EQ(calls("MSActions"), Lines{probeCall(4, 4001, c.reached)}) << c.reached;
        host->unreg(cookie);
    }
}

// Closing a job's engine releases its script's objects; what their
// Class_Terminate calls belongs to that job, with pwdobj 0, whatever other
// job the closing thread has: at unreg, at stop and at the host's release.
// An abort there ends that code (the engine it would interrupt is going).
TEST_F(HostTest, ClassTerminateAtTeardownBelongsToTheClosingJob) {
    const wchar_t* script = L"Class Probe\n  Sub Class_Terminate()\n    On Error Resume Next\n"
                            L"    CVEXT.ZTrace \"terminated\"\n    CVEXT.AbortScript\n    CVEXT.ZTrace \"after\"\n"
                            L"  End Sub\nEnd Class\nDim keep\nSub main()\n  Set keep = New Probe\nEnd Sub\n";
    enum Teardown { Unreg, Stop, Release };
    for (Teardown how : {Unreg, Stop, Release}) {
        standin_reset();
        ComPtr<ITolvera> own;
        own.attach(createHost());
        ASSERT_TRUE(own);
        Job other(70, kProbeScript), closing(71, script);
        ULONG otherCookie = 0, cookie = 0;
        ASSERT_EQ(own->reg(other.info(), &otherCookie), S_OK);
        ASSERT_EQ(own->reg(closing.info(), &cookie), S_OK);
        Bstr fromJob(L"NULL");
        ASSERT_EQ(own->compile(otherCookie, fromJob.get()), S_OK);
        ASSERT_EQ(own->compile(cookie, fromJob.get()), S_OK);
        VARIANT_BOOL ret = 0;
        ASSERT_EQ(own->run(cookie, 71001, &ret), S_OK);
        ASSERT_EQ(ret, 1);
        standin_reset();
        if (how == Unreg) own->unreg(cookie);
        else if (how == Stop) own->stop(cookie);
        else own.reset();
        EXPECT_EQ(calls("ZTrace"), Lines{probe::call("ZTrace", R"("terminated")", 71, 0)}) << "teardown " << how;
        EXPECT_EQ(calls("MCAbort").size(), 1u) << "teardown " << how;
        if (own) {
            own->unreg(cookie);
            own->unreg(otherCookie);
        }
    }
}

TEST_F(HostTest, JobObjectWithoutTextIsNothingToCompile) {
    Job job(3, nullptr);
    ULONG cookie = reg(job, nullptr);
    standin_reset();
    EXPECT_EQ(compile(cookie), S_OK);
    EXPECT_EQ(fullJournal(), Lines{traceLine("Tolvera-compile: failed to get ks script for job ?")});
    host->unreg(cookie);
}

// Script errors reach the job with the compiled flag as indicator: 0 for a
// syntax error while the job was never compiled, 1 afterwards. The line
// number is as the engine counts.
TEST_F(HostTest, ScriptErrorsReachTheJobWithTheCompiledFlag) {
    Job job(4, L"Sub main(\n");
    ULONG cookie = reg(job);
    standin_reset();
    EXPECT_EQ(compile(cookie), S_FALSE);
    std::vector<probe::ScriptError> got = probe::scriptErrors();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(probe::endsWith(got[0].text, " [Line: 0] Syntax error")) << got[0].text;
    EXPECT_EQ(got[0].indicator, 0);
    EXPECT_EQ(allTraces(), (Lines{"onScriptError: " + got[0].text,
                                  "Tolvera-compile: script <test," + hex(cookie) + "> failed, err=80020101"}));

    EXPECT_EQ(compile(cookie, L"Sub main()\n  Err.Raise 5\nEnd Sub\n"), S_OK);
    standin_reset();
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 4001, &ret), S_OK);
    EXPECT_EQ(ret, 0);
    got = probe::scriptErrors();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(probe::endsWith(got[0].text, " [Line: 1] Invalid procedure call or argument")) << got[0].text;
    EXPECT_EQ(got[0].indicator, 1);
    expectDetached();
    const std::string c = hex(cookie);
    EXPECT_EQ(allTraces(), (Lines{"Tolvera-run: running script " + c + " ..",
                                  "Tolvera-run: invoking main with dispid 20000001  ...",
                                  "onScriptError: " + got[0].text,
                                  "Tolvera-run: script " + c + " failed to run with err 80020101"}));

    host->unreg(cookie);
}

// A compile binds the job to the compiling thread for the parse: errors
// reach the job from any thread, also after a run has unbound it.
TEST_F(HostTest, CompileErrorsReachTheJobFromAnyThread) {
    Job job(14, L"Sub main(\n");
    ULONG cookie = reg(job);
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(compile(cookie), S_FALSE);
        CoUninitialize();
    }).join();
    std::vector<probe::ScriptError> got = probe::scriptErrors();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].indicator, 0);

    EXPECT_EQ(compile(cookie, kProbeScript), S_OK);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 14001, &ret), S_OK);
    standin_reset();
    EXPECT_EQ(compile(cookie, L"If Then\n"), S_FALSE);
    got = probe::scriptErrors();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].indicator, 1);
    for (const std::string& line : allTraces()) EXPECT_EQ(line.find("failed to locate"), std::string::npos) << line;
    expectDetached();   // the binding ends with the compile
    host->unreg(cookie);
}

TEST_F(HostTest, SyntaxErrorAfterACompileOnTheRegisteringThreadCarriesOne) {
    Job job(5, kProbeScript);
    ULONG cookie = reg(job);
    EXPECT_EQ(compile(cookie), S_OK);
    standin_reset();
    EXPECT_EQ(compile(cookie, L"If Then\n"), S_FALSE);
    std::vector<probe::ScriptError> got = probe::scriptErrors();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].indicator, 1);
    host->unreg(cookie);
}

// Jobs registered together on one thread all carry it; the one being
// compiled or run there is the one its errors and calls belong to.
TEST_F(HostTest, TheJobCompiledOrRunOnAThreadWinsOverNewerOnesRegisteredThere) {
    Job older(17, L"Sub main(\n"), newer(18, kProbeScript);
    ULONG a = reg(older), b = reg(newer);
    standin_reset();
    EXPECT_EQ(compile(a), S_FALSE);
    Lines sent = calls("sendScpException");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].rfind(R"({"job":17,)", 0), 0u) << sent[0];

    EXPECT_EQ(compile(a, kProbeScript), S_OK);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(a, 17001, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(17, 17001, "hello")});
    host->unreg(a);
    host->unreg(b);
}

TEST_F(HostTest, ScriptWithoutMainFailsToRunAndLeavesTheJobDetached) {
    Job job(6, L"x = 1\n");
    ULONG cookie = reg(job);
    EXPECT_EQ(compile(cookie), S_OK);
    standin_reset();
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 6001, &ret), S_OK);
    EXPECT_EQ(ret, 0);
    const std::string c = hex(cookie);
    EXPECT_EQ(allTraces(), (Lines{"Tolvera-run: running script " + c + " ..",
                                  "Tolvera-run: script " + c + " failed to run with err 80020006"}));
    expectDetached();
    host->unreg(cookie);
}

TEST_F(HostTest, UnknownCookiesFindNothing) {
    Job job(8, kProbeScript);
    ULONG stale = reg(job);
    EXPECT_EQ(host->unreg(stale), S_OK);
    for (ULONG cookie : {stale, 0ul, 0x1234ul}) {
        standin_reset();
        VARIANT_BOOL ret;
        EXPECT_EQ(compile(cookie), S_OK);
        EXPECT_EQ(run(cookie, 1, &ret), S_FALSE);
        EXPECT_EQ(ret, 0);
        EXPECT_EQ(host->stop(cookie), S_FALSE);
        EXPECT_EQ(host->unreg(cookie), S_OK);
        EXPECT_EQ(fullJournal(), (Lines{traceLine("Tolvera-compile: cookie " + hex(cookie) + " not found"),
                                        traceLine("Tolvera-run: cookie " + hex(cookie) + " not found")}));
    }
}

TEST_F(HostTest, TwoRegistrationsGiveTwoCookiesAndForgetOnlyTheOneRemoved) {
    Job first(9, kProbeScript), second(10, kProbeScript);
    ULONG a = reg(first), b = reg(second);
    EXPECT_NE(a, b);
    host->unreg(a);
    EXPECT_EQ(compile(b), S_OK);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(b, 10001, &ret), S_OK);
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(10, 10001, "hello")});
    host->unreg(b);
}

TEST_F(HostTest, StopClosesTheScriptAndLaterRunsFail) {
    Job job(11, kProbeScript);
    ULONG cookie = reg(job);
    compile(cookie);
    standin_reset();
    EXPECT_EQ(host->stop(cookie), S_OK);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 11001, &ret), S_OK);
    EXPECT_EQ(ret, 0);
    const std::string c = hex(cookie);
    EXPECT_EQ(allTraces(), (Lines{"CTolvera-stop: script <" + c + "> has been stopped",
                                  "Tolvera-run: script " + c + " failed to run with err 8000ffff"}));
    host->unreg(cookie);
}

// A closed engine refuses every thread alike: a job stopped on one thread
// does not come back to life on a fresh engine when another thread runs it.
TEST_F(HostTest, AJobStoppedOnOneThreadFailsToRunOnAnother) {
    Job job(19, kProbeScript);
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie), S_OK);
    EXPECT_EQ(host->stop(cookie), S_OK);
    standin_reset();
    VARIANT_BOOL ret = -1;
    onThread([&] { EXPECT_EQ(run(cookie, 19001, &ret), S_OK); });
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(calls("MSActions"), Lines{});
    EXPECT_EQ(allTraces(), Lines{"Tolvera-run: script " + hex(cookie) + " failed to run with err 8000ffff"});
    host->unreg(cookie);
}

// Removing the job in the middle of the list leaves the others whole: each
// is still found, runs with its own context and is removed in its turn.
TEST_F(HostTest, UnregOfTheMiddleJobLeavesTheOthersWhole) {
    Job first(41, kProbeScript), middle(42, kProbeScript), last(43, kProbeScript);
    const int cached = liveJobs();
    ULONG a = reg(first), b = reg(middle), c = reg(last);
    EXPECT_EQ(host->unreg(b), S_OK);
    for (auto [cookie, jobno] : {std::pair{a, 41ul}, std::pair{c, 43ul}}) {
        EXPECT_EQ(compile(cookie), S_OK);
        VARIANT_BOOL ret;
        EXPECT_EQ(run(cookie, jobno * 1000 + 1, &ret), S_OK);
        EXPECT_EQ(ret, 1);
    }
    EXPECT_EQ(calls("MSActions"), (Lines{probeCall(41, 41001, "hello"), probeCall(43, 43001, "hello")}));
    EXPECT_EQ(host->unreg(c), S_OK);
    EXPECT_EQ(host->unreg(a), S_OK);
    standin_reset();
    VARIANT_BOOL ret;
    for (ULONG gone : {a, b, c}) EXPECT_EQ(run(gone, 1, &ret), S_FALSE);
    EXPECT_EQ(liveJobs(), cached);
}

TEST_F(HostTest, ConfigSwitchesToStandAloneOnlyForNonZero) {
    EXPECT_EQ(host->config(0), S_OK);
    EXPECT_EQ(fullJournal(), Lines{});
    EXPECT_EQ(host->config(7), S_OK);
    EXPECT_EQ(fullJournal(), Lines{R"({"op":"setStandAlone","args":[]})"});
}

// A job that ended itself reports success; a later run of it that fails is a
// failure again, since each run starts unaborted.
TEST_F(HostTest, AbortCountsAsSuccessOnlyInTheRunThatAborted) {
    Job job(12, L"Dim n\nSub main()\n  n = n + 1\n  If n = 1 Then CVEXT.AbortScript\n  Err.Raise 5\nEnd Sub\n");
    ULONG cookie = reg(job);
    compile(cookie);
    standin_reset();
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 12001, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    for (const std::string& line : allTraces()) EXPECT_EQ(line.find("failed to run"), std::string::npos) << line;
    standin_reset();
    EXPECT_EQ(run(cookie, 12002, &ret), S_OK);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(allTraces().back(), "Tolvera-run: script " + hex(cookie) + " failed to run with err 80020101");
    host->unreg(cookie);
}

TEST_F(HostTest, ScriptsReachTheCompanionUnderBothNames) {
    Job job(15, L"Sub main()\n  CVEXT.MSActions 0, CVWIN32EXT.Echo(\"v\") & CVWINEXT.Version, \"\", \"\", \"\"\nEnd Sub\n");
    ULONG cookie = reg(job);
    compile(cookie);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 15001, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(15, 15001, "v1")});
    host->unreg(cookie);
}

// A second host leaves the first host's jobs reachable: every job finds its
// calls through the threads' activations, which belong to no host.
TEST_F(HostTest, JobsOfAnEarlierHostStayReachable) {
    Job job(16, kProbeScript);
    ULONG cookie = reg(job);
    ComPtr<ITolvera> second;
    second.attach(createHost());
    ASSERT_TRUE(second);
    EXPECT_EQ(compile(cookie), S_OK);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 16001, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(16, 16001, "hello")});
    second.reset();
    EXPECT_EQ(run(cookie, 16002, &ret), S_OK);
    EXPECT_EQ(calls("MSActions").back(), probeCall(16, 16002, "hello"));
    host->unreg(cookie);
}

TEST(UninitialisedHostTest, AnswersEveryOperationWithOneAndLogsNothing) {
    setUpComForTests();
    standin_reset();
    SetEnvironmentVariableW(L"SCPWIN32EXT_REFUSE", L"80040154");
    ComPtr<ITolvera> host;
    host.attach(createHost());
    SetEnvironmentVariableW(L"SCPWIN32EXT_REFUSE", nullptr);
    ASSERT_TRUE(host);
    EXPECT_EQ(allTraces(), (Lines{"CTolvera-CTolvera: error: 80040154 in CoCreateInstance for win32ext",
                                  "CTolvera-CTolvera: error: 80040154"}));
    standin_reset();
    Job job(13, kProbeScript);
    ULONG cookie = 77;
    EXPECT_EQ(host->reg(job.info(), &cookie), S_FALSE);
    EXPECT_EQ(cookie, 0u);
    Bstr null(L"NULL");
    EXPECT_EQ(host->config(1), S_FALSE);
    EXPECT_EQ(host->compile(1, null.get()), S_FALSE);
    VARIANT_BOOL ret = -1;
    EXPECT_EQ(host->run(1, 1, &ret), S_FALSE);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(host->stop(1), S_FALSE);
    EXPECT_EQ(host->unreg(1), S_FALSE);
    EXPECT_EQ(fullJournal(), Lines{});
    host.reset();
    EXPECT_EQ(moduleLockCount(), 0);
}

// Two jobs of one host run at the same time on two threads; every call of
// each script reaches the core with its own job's context and run.
TEST_F(HostTest, TwoJobsOnTwoThreadsKeepTheirOwnContexts) {
    const wchar_t* loop = L"Sub main()\n  For i = 1 To 200\n    CVEXT.MSActions 0, \"tick\", \"\", \"\", \"\"\n  Next\nEnd Sub\n";
    Job a(21, loop), b(22, loop);
    auto work = [&](const Job& job, ULONG pwd, VARIANT_BOOL* ret) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ULONG cookie = 0;
        host->reg(job.info(), &cookie);
        Bstr null(L"NULL");
        host->compile(cookie, null.get());
        host->run(cookie, pwd, ret);
        host->unreg(cookie);
        CoUninitialize();
    };
    VARIANT_BOOL retA = 0, retB = 0;
    std::thread ta(work, std::cref(a), 21001ul, &retA), tb(work, std::cref(b), 22001ul, &retB);
    ta.join();
    tb.join();
    EXPECT_EQ(retA, 1);
    EXPECT_EQ(retB, 1);
    Lines all = calls("MSActions");
    size_t ofA = 0, ofB = 0;
    for (const std::string& line : all) {
        if (line == probeCall(21, 21001, "tick")) ++ofA;
        else if (line == probeCall(22, 22001, "tick")) ++ofB;
        else ADD_FAILURE() << line;
    }
    EXPECT_EQ(ofA, 200u);
    EXPECT_EQ(ofB, 200u);
}

// The platform's engine belongs to the thread that gave it its site. A job
// registered on one thread and compiled, run and run again on others moves
// to a fresh engine on each new thread; its script-level globals start over.
TEST_F(HostTest, JobMovesToTheThreadThatCompilesOrRunsIt) {
    Job job(31, L"Dim n\nSub main()\n  n = n + 1\n  CVEXT.MSActions 0, \"n=\" & n, \"\", \"\", \"\"\nEnd Sub\n");
    ULONG cookie = reg(job);
    VARIANT_BOOL first = 0, second = 0, third = 0;
    onThread([&] {
        EXPECT_EQ(compile(cookie), S_OK);
        EXPECT_EQ(run(cookie, 31001, &first), S_OK);
        EXPECT_EQ(run(cookie, 31002, &second), S_OK);
    });
    onThread([&] { EXPECT_EQ(run(cookie, 31003, &third), S_OK); });
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(third, 1);
    EXPECT_EQ(calls("MSActions"), (Lines{probeCall(31, 31001, "n=1"), probeCall(31, 31002, "n=2"),
                                         probeCall(31, 31003, "n=1")}));
    for (const std::string& line : allTraces()) EXPECT_EQ(line.find("failed"), std::string::npos) << line;
    // Stopped and removed from yet another thread; everything is let go.
    onThread([&] { EXPECT_EQ(host->stop(cookie), S_OK); });
    EXPECT_EQ(host->unreg(cookie), S_OK);
    host.reset();
    EXPECT_EQ(moduleLockCount(), 0);
}

// An engine that clones from any thread (Windows') gives the job the
// template's clone; the platform's engine gives a fresh one instead.
TEST_F(HostTest, RegisteringOnAnotherThreadThanTheHostsWorks) {
    Job job(32, kProbeScript);
    ULONG cookie = 0;
    const long clones = winengine::clonesMade();
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        cookie = reg(job);
        EXPECT_EQ(compile(cookie), S_OK);
        VARIANT_BOOL ret;
        EXPECT_EQ(run(cookie, 32001, &ret), S_OK);
        EXPECT_EQ(ret, 1);
        CoUninitialize();
    }).join();
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(32, 32001, "hello")});
    EXPECT_EQ(winengine::clonesMade(), clones + (windowsLikeEngine() ? 1 : 0));
    host->unreg(cookie);
}

// The running job's engine, interrupted from another thread from inside the
// script's first ZTrace, as a watchdog would.
struct Interruption {
    ComPtr<IActiveScript> engine;
    HRESULT hr = E_FAIL;
    bool sent = false;
};
Interruption g_interruption;
constexpr SCODE kInterruptCode = static_cast<SCODE>(0x800A03E9);   // VBScript error 1001

HRESULT interrupt(IActiveScript* engine) {
    HRESULT hr = E_FAIL;
    onThread([&] {
        Bstr description(L"interrupted");
        EXCEPINFO excep = {};
        excep.scode = kInterruptCode;
        excep.bstrDescription = description.get();
        hr = engine->InterruptScriptThread(SCRIPTTHREADID_ALL, &excep, SCRIPTINTERRUPT_RAISEEXCEPTION);
    });
    return hr;
}

void interruptTheRunningJob() {
    if (std::exchange(g_interruption.sent, true)) return;
    g_interruption.engine = innermostActivation()->engine;
    g_interruption.hr = interrupt(g_interruption.engine.get());
}

// Windows' engine can be interrupted from any thread: the script's next call
// into a named item fails with the interrupter's exception, once, and under
// On Error Resume Next the script sees it in Err and goes on. An interruption
// of the engine while it executes nothing reaches no later run.
TEST_F(HostTest, AnInterruptionFromAnotherThreadFailsTheScriptsNextCallOnce) {
    if (!windowsLikeEngine()) GTEST_SKIP() << "the platform's engine cannot be interrupted";
    const wchar_t* script = L"Sub main()\n  On Error Resume Next\n  For i = 1 To 3\n    CVEXT.CVSleep 1\n"
                            L"    CVEXT.ZTrace i & \" \" & Err.Number & \" \" & Err.Description\n    Err.Clear\n"
                            L"  Next\nEnd Sub\n";
    Job job(33, script);
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie), S_OK);
    g_interruption = Interruption{};
    standin_setCallback("ZTrace", interruptTheRunningJob);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 33001, &ret), S_OK);
    standin_setCallback("ZTrace", nullptr);
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(g_interruption.hr, S_OK);
    const std::string sleep = probe::call("MCSleep", "1,0,0", 33, 33001);
    // The second CVSleep is the call that failed: it never reached the core.
    EXPECT_EQ(journal(), (Lines{sleep, probe::said("1 0 ", 33, 33001), probe::said("2 1001 interrupted", 33, 33001),
                                sleep, probe::said("3 0 ", 33, 33001)}));

    ASSERT_TRUE(g_interruption.engine);
    EXPECT_EQ(interrupt(g_interruption.engine.get()), S_OK);
    g_interruption.engine.reset();
    standin_reset();
    EXPECT_EQ(run(cookie, 33002, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(probe::reports(), (Lines{"1 0 ", "2 0 ", "3 0 "}));
    host->unreg(cookie);
}

}  // namespace
