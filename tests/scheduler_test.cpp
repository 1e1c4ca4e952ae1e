// The host as an agent's scheduler leans on it: a control thread stops and
// recompiles jobs while workers run them, jobs move between threads (also
// while their own thread compiles more of them), cookies outlive their
// jobs, memory runs out inside a script's call, and an aborted script under
// On Error Resume Next keeps waiting.
#include "host_fixture.h"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>

#include "bound_job.h"
#include "classfactory.h"
#include "engine_source.h"
#include "faulty_engine.h"
#include "memory.h"
#include "module.h"
#include "outer_unknown.h"
#include "scpext.h"
#include "test_engine.h"
#include "test_points.h"

namespace {

using namespace hostfix;

// Waits until the core has seen `op` at least `count` times (a few seconds
// at most).
bool waitForCalls(const std::string& op, std::size_t count) {
    for (int i = 0; i < 500; ++i) {
        if (calls(op).size() >= count) return true;
        Sleep(10);
    }
    return false;
}

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Steps in once from a test point, as another thread of the agent letting
// go of the job (unreg) or of the whole host at that moment.
struct LetGoOnce {
    static inline ComPtr<ITolvera>* host = nullptr;
    static inline bool wholeHost = false;
    static inline int stepped = 0;
    static void arm(ComPtr<ITolvera>& of, bool whole) {
        host = &of;
        wholeHost = whole;
        stepped = 0;
    }
    static void step(ULONG cookie) {
        if (stepped++) return;
        onThread([cookie] {
            if (wholeHost)
                host->reset();
            else
                (*host)->unreg(cookie);
        });
    }
};

// On a worker of its own, a job is registered, compiled and run once (from
// then on the engine runs global code at the parse), then compiled again
// with `text` through `agent`, which the test may let go of meanwhile;
// `compiled` is that compile's answer once joined.
struct RecompileOnWorker {
    RecompileOnWorker(HostTest& test, ITolvera* agent, const Job& job, ULONG pwdobj, const wchar_t* text)
        : worker([&test, agent, &job, pwdobj, text, this] {
              CoInitializeEx(nullptr, COINIT_MULTITHREADED);
              cookie = test.reg(job);
              VARIANT_BOOL ret;
              EXPECT_EQ(test.compile(cookie), S_OK);
              EXPECT_EQ(test.run(cookie, pwdobj, &ret), S_OK);
              Bstr script(text);
              compiled = agent->compile(cookie, script.get());
              CoUninitialize();
          }) {}
    ~RecompileOnWorker() { join(); }
    void join() {
        if (worker.joinable()) worker.join();
    }
    // The recompile's global code has reached the core (joined if not).
    bool globalCodeRuns() {
        if (waitForCalls("MCSleep", 1)) return true;
        join();
        return false;
    }

    ULONG cookie = 0;
    HRESULT compiled = E_FAIL;
    std::thread worker;
};

// A wait loop as monitoring scripts write them, bounded so that a test that
// fails to end it still ends: `rounds` sleeps of 20 ms, then a last call.
std::wstring waitLoop(int rounds) {
    return L"Sub main()\n  Dim n\n  Do While CVEXT.CVSleep(20) = 1\n    n = n + 1\n    If n = " +
           std::to_wstring(rounds) + L" Then Exit Do\n  Loop\n  CVEXT.MSActions 0, \"loop ended\", \"\", \"\", \"\"\nEnd Sub\n";
}

// Runs the job on a worker thread of its own until `join`.
class Worker {
public:
    Worker(ITolvera* host, ULONG cookie, ULONG pwdobj) {
        thread_ = std::thread([this, host, cookie, pwdobj] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            result = host->run(cookie, pwdobj, &ret);
            CoUninitialize();
        });
    }
    void join() { thread_.join(); }
    HRESULT result = E_FAIL;
    VARIANT_BOOL ret = -1;

private:
    std::thread thread_;
};

// The agent ends a hung job with stop from its scheduler thread while the
// run goes on on a worker. The run ends at its next call into CVEXT (the
// engine may also interrupt it before), as a failed run (it did not abort
// itself); stop does not close an engine under a run and answers busy. Once
// the run is over stop closes the job, a later run fails on the closed
// engine, and unreg lets everything go.
TEST_F(HostTest, StopFromAnotherThreadEndsARunningJob) {
    Job job(51, waitLoop(400).c_str());
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie), S_OK);
    const std::string c = hex(cookie);
    standin_reset();
    Worker worker(host.get(), cookie, 51001);
    ASSERT_TRUE(waitForCalls("MCSleep", 1));
    EXPECT_EQ(host->stop(cookie), S_FALSE);
    worker.join();
    EXPECT_EQ(worker.result, S_OK);
    EXPECT_EQ(worker.ret, 0);
    EXPECT_LT(calls("MCSleep").size(), 50u);
    EXPECT_EQ(calls("MSActions"), Lines{});
    Lines traces = allTraces();
    EXPECT_TRUE(contains(traces, "Tolvera-stop: script <" + c + "> fail with err 800700aa"));
    EXPECT_EQ(traces.back().rfind("Tolvera-run: script " + c + " failed to run with err ", 0), 0u) << traces.back();
    for (const std::string& line : traces) EXPECT_EQ(line.find("onScriptError"), std::string::npos) << line;
    expectDetached();

    standin_reset();
    EXPECT_EQ(host->stop(cookie), S_OK);
    EXPECT_EQ(host->stop(cookie), S_OK);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 51002, &ret), S_OK);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(allTraces(), (Lines{"CTolvera-stop: script <" + c + "> has been stopped",
                                  "CTolvera-stop: script <" + c + "> has been stopped",
                                  "Tolvera-run: script " + c + " failed to run with err 8000ffff"}));
    EXPECT_EQ(host->unreg(cookie), S_OK);
    host.reset();
    EXPECT_EQ(moduleLockCount(), 0);
}

// A script under On Error Resume Next goes on past the end of its run, on an
// engine that lets it handle the interruption as on one that swallows the
// marker. Once stop has returned, no call of it reaches the core but the
// one it was in at that moment, and the run counts as stopped (ret 0), not
// as the success main's return would say.
TEST_F(HostTest, AStoppedRunThatGoesOnReachesTheCoreNoMore) {
    Job job(84, L"Sub main()\n  On Error Resume Next\n  For n = 1 To 40\n    CVEXT.CVSleep 20\n"
                L"    CVEXT.ZTrace \"tick\"\n  Next\n  CVEXT.ZTrace \"loop ended\"\nEnd Sub\n");
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie), S_OK);
    standin_reset();
    Worker worker(host.get(), cookie, 84001);
    ASSERT_TRUE(waitForCalls("MCSleep", 1));
    EXPECT_EQ(host->stop(cookie), S_FALSE);
    const std::size_t atStop = calls("MCSleep").size() + calls("ZTrace").size();
    worker.join();
    EXPECT_EQ(worker.result, S_OK);
    EXPECT_EQ(worker.ret, 0);
    EXPECT_LE(calls("MCSleep").size() + calls("ZTrace").size(), atStop + 1);
    for (const std::string& line : calls("ZTrace")) EXPECT_EQ(line.find("loop ended"), std::string::npos);
    const Lines traces = allTraces();
    EXPECT_TRUE(contains(traces, "Tolvera-run: script " + hex(cookie) + " failed to run with err 80004004"));
    EXPECT_TRUE(contains(traces, "ScpExt-ZTrace: call refused, run 84001 is being ended"));
    host->unreg(cookie);
}

// An agent that lets go of a job while its run hangs on a worker: by unreg,
// or by releasing the whole host as it shuts down. The run is asked to end
// as by stop, and ends at its next call into CVEXT; the job (and the host)
// go when the run is over, on the worker, and nothing is freed under it.
TEST_F(HostTest, LettingGoOfAJobDuringItsRunEndsTheRunFirst) {
    for (bool wholeHost : {false, true}) {
        SCOPED_TRACE(wholeHost ? "host released" : "unreg");
        Job job(81, waitLoop(400).c_str());
        ULONG cookie = reg(job);
        ASSERT_EQ(compile(cookie), S_OK);
        const int jobs = liveJobs();
        standin_reset();
        Worker worker(host.get(), cookie, 81001);
        ASSERT_TRUE(waitForCalls("MCSleep", 1));
        if (wholeHost)
            host.reset();
        else
            EXPECT_EQ(host->unreg(cookie), S_OK);
        worker.join();
        EXPECT_EQ(worker.result, S_OK);
        EXPECT_EQ(worker.ret, 0);
        EXPECT_LT(calls("MCSleep").size(), 50u);
        EXPECT_EQ(calls("MSActions"), Lines{});
        EXPECT_EQ(liveJobs(), jobs - 1);
        EXPECT_EQ(busyJobs(), 0);
    }
    EXPECT_EQ(moduleLockCount(), 0);
}

// A watchdog stops a run that waits in MCEnterCS for the section another
// job's run holds. Once the holder leaves, the stopped run enters it and is
// ended there: its own MCExitCS never comes, so the host leaves the section
// for it when the run is over, and the next job gets in.
TEST_F(HostTest, ARunStoppedWhileItWaitsForTheCriticalSectionLeavesItFree) {
    const wchar_t* holds = L"Sub main()\n  CVEXT.MCEnterCS\n  n = 0\n  Do While n < 10\n    CVEXT.CVSleep 20\n"
                           L"    n = n + 1\n  Loop\n  CVEXT.MCExitCS\nEnd Sub\n";
    const wchar_t* enters = L"Sub main()\n  CVEXT.MCEnterCS\n  CVEXT.ZTrace \"inside\"\n  CVEXT.MCExitCS\nEnd Sub\n";
    const wchar_t* waits = L"Sub main()\n  CVEXT.ZTrace \"waiting\"\n  CVEXT.MCEnterCS\n  CVEXT.ZTrace \"inside\"\n"
                           L"  CVEXT.MCExitCS\nEnd Sub\n";
    Job holder(65, holds), waiter(66, waits), next(67, enters);
    ULONG holderCookie = reg(holder), waiterCookie = reg(waiter), nextCookie = reg(next);
    for (ULONG cookie : {holderCookie, waiterCookie, nextCookie}) ASSERT_EQ(compile(cookie), S_OK);
    standin_reset();
    Worker holding(host.get(), holderCookie, 65001);
    ASSERT_TRUE(waitForCalls("MCSleep", 1));
    Worker waiting(host.get(), waiterCookie, 66001);
    // Its run has begun (on a loaded machine its move to a fresh engine alone
    // may take longer than any fixed pause) and is about to enter.
    ASSERT_TRUE(waitForCalls("ZTrace", 1));
    Sleep(50);                                        // inside MCEnterCS by now
    EXPECT_EQ(host->stop(waiterCookie), S_FALSE);     // busy: the run is asked to end
    holding.join();
    waiting.join();
    EXPECT_EQ(holding.ret, 1);
    EXPECT_EQ(waiting.ret, 0);

    // The next job's run would wait for good in a section nobody leaves.
    std::promise<VARIANT_BOOL> nextRun;
    std::future<VARIANT_BOOL> nextRet = nextRun.get_future();
    std::thread([&nextRun, agent = host.get(), nextCookie] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        VARIANT_BOOL ret = -1;
        agent->run(nextCookie, 67001, &ret);
        nextRun.set_value(ret);
        CoUninitialize();
    }).detach();
    ASSERT_EQ(nextRet.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the section was left held";
    EXPECT_EQ(nextRet.get(), 1);
    EXPECT_EQ(calls("ZTrace"), (Lines{probe::call("ZTrace", R"("waiting")", 66, 66001),
                                      probe::call("ZTrace", R"("inside")", 67, 67001)}));
    EXPECT_EQ(calls("MCExitCS"), (Lines{probe::call("MCExitCS", "", 65, 65001), probe::call("MCExitCS", "", 66, 66001),
                                        probe::call("MCExitCS", "", 67, 67001)}));
    EXPECT_TRUE(contains(allTraces(), "ScpExt-MCExitCS: run 66001 ended inside the critical section; left it for the run"));
    for (ULONG cookie : {holderCookie, waiterCookie, nextCookie}) host->unreg(cookie);
}

// The agent lets go of a job (unreg, or the whole host at shutdown) from
// another thread just as a run of it has found the job and not yet begun.
// The run must not start: nothing could stop or release it any more. It is
// refused, and nothing of its script reaches the core.
TEST_F(HostTest, ARunOvertakenByUnregOrReleaseBeforeItBeginsIsRefused) {
    for (bool wholeHost : {false, true}) {
        SCOPED_TRACE(wholeHost ? "host released" : "unreg");
        if (!host) host.attach(createHost());
        Job job(86, waitLoop(20).c_str());
        ULONG cookie = reg(job);
        ASSERT_EQ(compile(cookie), S_OK);
        const int jobs = liveJobs();
        standin_reset();
        LetGoOnce::arm(host, wholeHost);
        setRunFoundHook(LetGoOnce::step);
        ITolvera* agent = host.get();
        VARIANT_BOOL ret = -1;
        EXPECT_EQ(agent->run(cookie, 86001, &ret), S_FALSE);
        setRunFoundHook(nullptr);
        EXPECT_EQ(LetGoOnce::stepped, 1);
        EXPECT_EQ(ret, 0);
        EXPECT_EQ(calls("MCSleep"), Lines{});
        EXPECT_EQ(calls("MSActions"), Lines{});
        EXPECT_TRUE(contains(allTraces(), "Tolvera-run: script " + hex(cookie) + " is being removed"));
        EXPECT_EQ(liveJobs(), jobs - 1);
        EXPECT_EQ(busyJobs(), 0);
        expectDetached();
    }
    EXPECT_EQ(moduleLockCount(), 0);
}

// The same for a compile: the agent lets go of the job (or the whole host)
// from another thread just as a compile has found it. The job has run once,
// so the engine would run the new text's global code at the parse, where
// no stop could reach it any more: the compile is refused before it holds
// the engine, and none of that code reaches the core.
TEST_F(HostTest, ACompileOvertakenByUnregOrReleaseBeforeItBeginsIsRefused) {
    const wchar_t* waits = L"n = 0\nDo While CVEXT.CVSleep(20) = 1\n  n = n + 1\n  If n = 5 Then Exit Do\nLoop\n"
                           L"CVEXT.ZTrace \"loop ended\"\n";
    for (bool wholeHost : {false, true}) {
        SCOPED_TRACE(wholeHost ? "host released" : "unreg");
        if (!host) host.attach(createHost());
        Job job(88, kProbeScript);
        ULONG cookie = reg(job);
        ASSERT_EQ(compile(cookie), S_OK);
        VARIANT_BOOL ret;
        ASSERT_EQ(run(cookie, 88001, &ret), S_OK);
        const int jobs = liveJobs();
        standin_reset();
        LetGoOnce::arm(host, wholeHost);
        setCompileFoundHook(LetGoOnce::step);
        ITolvera* agent = host.get();
        Bstr text(waits);
        EXPECT_EQ(agent->compile(cookie, text.get()), S_FALSE);
        setCompileFoundHook(nullptr);
        EXPECT_EQ(LetGoOnce::stepped, 1);
        EXPECT_EQ(calls("MCSleep"), Lines{});
        EXPECT_EQ(calls("ZTrace"), Lines{});
        EXPECT_EQ(liveJobs(), jobs - 1);
        EXPECT_EQ(busyJobs(), 0);
        expectDetached();
    }
    EXPECT_EQ(moduleLockCount(), 0);
}

// A job stopped by a thread that is itself running it (the agent reacting
// inside one of the script's calls): the engine cannot be closed under its
// own running script, so stop answers that it is busy, and the run ends at
// the script's next call.
TEST_F(HostTest, StopFromInsideTheRunEndsItWithoutClosingTheEngine) {
    Job job(54, L"Sub main()\n  CVEXT.ZTrace \"before\"\n  CVEXT.ZTrace \"after\"\nEnd Sub\n");
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie), S_OK);
    // The stand-in calls back into the host from inside ZTrace, as an agent may.
    static ITolvera* t_host;
    static ULONG t_cookie;
    static HRESULT t_stopped;
    t_host = host.get();
    t_cookie = cookie;
    t_stopped = E_FAIL;
    standin_setCallback("ZTrace", [] { t_stopped = t_host->stop(t_cookie); });
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 54001, &ret), S_OK);
    standin_setCallback("ZTrace", nullptr);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(t_stopped, S_FALSE);
    EXPECT_EQ(calls("ZTrace").size(), 1u);
    const std::string c = hex(cookie);
    Lines traces = allTraces();
    EXPECT_TRUE(contains(traces, "Tolvera-stop: script <" + c + "> fail with err 800700aa"));
    // Nothing was closed: the job runs again.
    standin_reset();
    EXPECT_EQ(run(cookie, 54002, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(calls("ZTrace").size(), 2u);
    host->unreg(cookie);
}

// An abort or a stop ends the run it met and nothing after it: the job's
// next compile runs its global code with the job's own context, unrefused.
TEST_F(HostTest, ARunEndedByAnAbortOrAStopLeavesTheNextCompileClean) {
    static ITolvera* t_host;
    static ULONG t_cookie;
    t_host = host.get();
    struct Case { const wchar_t* script; bool stopInside; };
    const Case cases[] = {
        {L"Sub main()\n  CVEXT.AbortScript\n  CVEXT.ZTrace \"late\"\nEnd Sub\n", false},
        {L"Sub main()\n  CVEXT.ZTrace \"before\"\n  CVEXT.ZTrace \"late\"\nEnd Sub\n", true},
    };
    for (const Case& c : cases) {
        standin_reset();
        Job job(61, c.script);
        ULONG cookie = reg(job);
        ASSERT_EQ(compile(cookie), S_OK);
        t_cookie = cookie;
        if (c.stopInside) standin_setCallback("ZTrace", [] { t_host->stop(t_cookie); });
        VARIANT_BOOL ret;
        EXPECT_EQ(run(cookie, 61001, &ret), S_OK);
        standin_setCallback("ZTrace", nullptr);
        EXPECT_EQ(ret, c.stopInside ? 0 : 1);
        standin_reset();
        EXPECT_EQ(compile(cookie, L"CVEXT.ZTrace \"global\"\n"), S_OK) << (c.stopInside ? "stop" : "abort");
        EXPECT_EQ(calls("ZTrace"), Lines{probe::call("ZTrace", R"("global")", 61, 0)});
        EXPECT_EQ(allTraces().back(), "Tolvera-compile: script <test," + hex(cookie) + "> compiled");
        // And the next run is a run of its own again.
        standin_reset();
        EXPECT_EQ(run(cookie, 61002, &ret), S_OK);
        EXPECT_EQ(ret, 1);
        host->unreg(cookie);
    }
}

// The agent registers a new job from inside a script's call, on the thread
// that runs the script: the rest of the run's calls still carry the running
// job's context, not the new job's.
TEST_F(HostTest, AJobRegisteredFromInsideARunLeavesTheRunItsCalls) {
    Job running(59, L"Sub main()\n  CVEXT.ZTrace \"before\"\n  CVEXT.ZTrace \"after\"\nEnd Sub\n");
    static Job* t_newJob;
    static ITolvera* t_agent;
    static ULONG t_newCookie;
    Job added(60, kProbeScript);
    t_newJob = &added;
    t_agent = host.get();
    t_newCookie = 0;
    ULONG cookie = reg(running);
    ASSERT_EQ(compile(cookie), S_OK);
    standin_setCallback("ZTrace", [] {
        if (!t_newCookie) t_agent->reg(t_newJob->info(), &t_newCookie);
    });
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 59001, &ret), S_OK);
    standin_setCallback("ZTrace", nullptr);
    EXPECT_EQ(ret, 1);
    EXPECT_NE(t_newCookie, 0u);
    EXPECT_EQ(calls("ZTrace"), (Lines{probe::call("ZTrace", R"("before")", 59, 59001),
                                      probe::call("ZTrace", R"("after")", 59, 59001)}));
    host->unreg(t_newCookie);
    host->unreg(cookie);
}

// The same when, since the run began, another thread has put a job of its
// own at the head of the cache: the run is still where its thread's lookups
// meet it, and the job registered inside its call ranks behind it.
TEST_F(HostTest, AJobRegisteredFromInsideARunRanksBehindItWhateverHeadsTheCache) {
    Job running(62, L"Sub main()\n  CVEXT.ZTrace \"before\"\n  CVEXT.ZTrace \"after\"\nEnd Sub\n");
    static Job* t_elsewhere;
    static Job* t_inside;
    static ITolvera* t_agent;
    static ULONG t_elsewhereCookie, t_insideCookie;
    Job elsewhere(63, kProbeScript), inside(64, kProbeScript);
    t_elsewhere = &elsewhere;
    t_inside = &inside;
    t_agent = host.get();
    t_elsewhereCookie = t_insideCookie = 0;
    ULONG cookie = reg(running);
    ASSERT_EQ(compile(cookie), S_OK);
    standin_setCallback("ZTrace", [] {
        if (t_insideCookie) return;
        onThread([] { t_agent->reg(t_elsewhere->info(), &t_elsewhereCookie); });
        t_agent->reg(t_inside->info(), &t_insideCookie);
    });
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 62001, &ret), S_OK);
    standin_setCallback("ZTrace", nullptr);
    EXPECT_EQ(ret, 1);
    ASSERT_NE(t_elsewhereCookie, 0u);
    ASSERT_NE(t_insideCookie, 0u);
    EXPECT_EQ(calls("ZTrace"), (Lines{probe::call("ZTrace", R"("before")", 62, 62001),
                                      probe::call("ZTrace", R"("after")", 62, 62001)}));
    host->unreg(t_insideCookie);
    host->unreg(t_elsewhereCookie);
    host->unreg(cookie);
}

// A watchdog stops a job while the job's recompiled global code is inside a
// call on another thread: that code ends there, its calls so far carried
// its own job, and an abort it made still ends it. (Global code runs at
// the parse only once the job has run: before, the engine keeps it for the
// first run.)
TEST_F(HostTest, AStopDuringACompileNeitherMovesItsCallsNorLiftsItsAbort) {
    static ITolvera* t_host;
    static ULONG t_cookie;
    static int t_calls;
    t_host = host.get();
    Job job(70, kProbeScript), other(71, kProbeScript);
    ULONG otherCookie = reg(other);            // another job of this thread
    t_cookie = reg(job);
    VARIANT_BOOL ret;
    ASSERT_EQ(compile(t_cookie), S_OK);
    ASSERT_EQ(run(t_cookie, 70001, &ret), S_OK);

    standin_reset();
    t_calls = 0;
    standin_setCallback("ZTrace", [] {
        if (!t_calls++) onThread([] { t_host->stop(t_cookie); });
    });
    // The stop ends the compile's global code at its next call, as it ends
    // a run; what came before it is the job's own.
    EXPECT_EQ(compile(t_cookie, L"CVEXT.ZTrace \"one\"\nCVEXT.ZTrace \"two\"\n"), S_FALSE);
    standin_setCallback("ZTrace", nullptr);
    EXPECT_EQ(calls("ZTrace"), (Lines{probe::call("ZTrace", R"("one")", 70, 0)}));

    // Under On Error Resume Next the global code goes on past its abort, each
    // later call refused (the waits still take their time); the watchdog's
    // stop in the middle of that second must not let them through again.
    standin_reset();
    std::thread watchdog([] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (waitForCalls("MCAbort", 1)) {
            Sleep(300);
            t_host->stop(t_cookie);
        }
        CoUninitialize();
    });
    EXPECT_EQ(compile(t_cookie, L"On Error Resume Next\nCVEXT.AbortScript \"obj\", \"giving up\"\nt = Timer\n"
                                L"Do While Timer - t < 1\n  CVEXT.CVSleep 100\nLoop\nCVEXT.ZTrace \"late\"\n"),
              S_OK);
    watchdog.join();
    EXPECT_EQ(calls("MCAbort").size(), 1u);
    EXPECT_EQ(calls("MCSleep"), Lines{});
    EXPECT_EQ(calls("ZTrace"), Lines{});
    host->unreg(t_cookie);
    host->unreg(otherCookie);
}

// Inside a run's call the agent recompiles another job, and inside that
// job's global code registers a third: the run's later calls stay the run's.
TEST_F(HostTest, AJobRegisteredInsideACompileInsideARunLeavesTheRunItsCalls) {
    static ITolvera* t_host;
    static ULONG t_compiled, t_added;
    static Job* t_job;
    static int t_step;
    t_host = host.get();
    Job running(73, L"Sub main()\n  CVEXT.ZTrace \"before\"\n  CVEXT.ZTrace \"after\"\nEnd Sub\n");
    Job compiled(74, kProbeScript), added(75, kProbeScript);
    t_job = &added;
    ULONG cookie = reg(running);
    ASSERT_EQ(compile(cookie), S_OK);
    t_compiled = reg(compiled);
    VARIANT_BOOL ret;
    ASSERT_EQ(compile(t_compiled), S_OK);
    ASSERT_EQ(run(t_compiled, 74001, &ret), S_OK);
    t_added = 0;
    t_step = 0;
    standin_reset();
    standin_setCallback("ZTrace", [] {
        int step = t_step++;
        if (step == 0) {
            Bstr text(L"CVEXT.ZTrace \"c\"\n");
            t_host->compile(t_compiled, text.get());
        } else if (step == 1) {
            t_host->reg(t_job->info(), &t_added);
        }
    });
    EXPECT_EQ(run(cookie, 73001, &ret), S_OK);
    standin_setCallback("ZTrace", nullptr);
    EXPECT_EQ(calls("ZTrace"), (Lines{probe::call("ZTrace", R"("before")", 73, 73001),
                                      probe::call("ZTrace", R"("c")", 74, 0),
                                      probe::call("ZTrace", R"("after")", 73, 73001)}));
    host->unreg(t_added);
    host->unreg(t_compiled);
    host->unreg(cookie);
}

// A stop from inside a compile's own global code, on the compiling thread,
// ends that code as it ends a run: closing the engine under its parse
// faults the platform's engine, so stop answers busy and closes nothing;
// the global code ends at its next call, and the compile fails.
TEST_F(HostTest, StopFromInsideACompilesGlobalCodeLeavesTheEngineAlone) {
    static ITolvera* t_host;
    static ULONG t_cookie;
    static HRESULT t_stopped;
    t_host = host.get();
    Job job(80, kProbeScript);
    t_cookie = reg(job);
    VARIANT_BOOL ret;
    ASSERT_EQ(compile(t_cookie), S_OK);
    ASSERT_EQ(run(t_cookie, 80001, &ret), S_OK);   // global code now runs at the parse
    standin_reset();
    t_stopped = E_FAIL;
    standin_setCallback("ZTrace", [] { t_stopped = t_host->stop(t_cookie); });
    EXPECT_EQ(compile(t_cookie, L"CVEXT.ZTrace \"one\"\nCVEXT.ZTrace \"two\"\n"), S_FALSE);
    standin_setCallback("ZTrace", nullptr);
    EXPECT_EQ(t_stopped, S_FALSE);
    EXPECT_EQ(calls("ZTrace"), (Lines{probe::call("ZTrace", R"("one")", 80, 0)}));
    EXPECT_TRUE(contains(allTraces(), "Tolvera-stop: script <" + hex(t_cookie) + "> fail with err 800700aa"));
    EXPECT_EQ(host->stop(t_cookie), S_OK);       // afterwards it closes
    host->unreg(t_cookie);
}

// A compile whose global code hangs in the agent's waits (the job has run
// once, so the engine runs global code at the parse) is ended as a run is:
// a watchdog's stop, an unreg or the host's release on another thread ends
// it at its next call into CVEXT. The compile fails without a script error.
TEST_F(HostTest, ACompileWhoseGlobalCodeHangsEndsAtStopUnregOrRelease) {
    const wchar_t* hang = L"n = 0\nDo While CVEXT.CVSleep(20) = 1\n  n = n + 1\n  If n = 200 Then Exit Do\nLoop\n"
                          L"CVEXT.ZTrace \"loop ended\"\n";
    enum How { Stop, Unreg, Release };
    for (How how : {Stop, Unreg, Release}) {
        SCOPED_TRACE(how == Stop ? "stop" : how == Unreg ? "unreg" : "release");
        if (!host) host.attach(createHost());
        ITolvera* agent = host.get();
        Job job(87, kProbeScript);
        const int jobs = liveJobs();
        standin_reset();
        RecompileOnWorker worker(*this, agent, job, 87001, hang);
        if (!worker.globalCodeRuns()) FAIL() << "the compile's global code did not run";
        const ULONG cookie = worker.cookie;
        if (how == Stop) EXPECT_EQ(agent->stop(cookie), S_FALSE);   // the engine is busy on the worker
        if (how == Unreg) EXPECT_EQ(agent->unreg(cookie), S_OK);
        if (how == Release) host.reset();
        worker.join();
        EXPECT_EQ(worker.compiled, S_FALSE);
        EXPECT_LT(calls("MCSleep").size(), 50u) << "the compile was not asked to end";
        EXPECT_EQ(calls("ZTrace"), Lines{});
        Lines traces = allTraces();
        const std::string failed = "Tolvera-compile: script <test," + hex(cookie) + "> failed, err=";
        EXPECT_TRUE(std::any_of(traces.begin(), traces.end(),
                                [&](const std::string& line) { return line.rfind(failed, 0) == 0; }));
        for (const std::string& line : traces) EXPECT_EQ(line.find("onScriptError"), std::string::npos) << line;
        if (how == Stop) {
            EXPECT_EQ(agent->stop(cookie), S_OK);
            agent->unreg(cookie);
        }
        EXPECT_EQ(liveJobs(), jobs);
        EXPECT_EQ(busyJobs(), 0);
    }
    EXPECT_EQ(moduleLockCount(), 0);
}

// A run of a job asked for on another thread while the job's recompiled
// global code hangs on a worker is refused before it binds the job to its
// own thread: that code keeps its job, so its calls carry it and the
// agent's unreg still ends it at its next call into CVEXT.
TEST_F(HostTest, ARunDuringAHungCompileIsRefusedAndLeavesItEndable) {
    const wchar_t* hang = L"n = 0\nDo While n < 100\n  CVEXT.CVSleep 20\n  n = n + 1\nLoop\n"
                          L"CVEXT.ZTrace \"loop ended\"\n";
    ITolvera* agent = host.get();
    Job job(89, kProbeScript);
    RecompileOnWorker worker(*this, agent, job, 89001, hang);
    if (!worker.globalCodeRuns()) FAIL() << "the compile's global code did not run";
    const ULONG cookie = worker.cookie;
    VARIANT_BOOL ret = -1;
    EXPECT_EQ(agent->run(cookie, 89002, &ret), S_FALSE);
    EXPECT_EQ(ret, 0);
    EXPECT_TRUE(contains(allTraces(), "Tolvera-run: script " + hex(cookie) + " is compiling on another thread"));
    EXPECT_EQ(agent->unreg(cookie), S_OK);
    worker.join();
    EXPECT_EQ(worker.compiled, S_FALSE);
    EXPECT_LT(calls("MCSleep").size(), 50u) << "the compile was not asked to end";
    EXPECT_EQ(calls("ZTrace"), Lines{});
    for (const std::string& line : calls("MCSleep")) EXPECT_NE(line.find(R"("ctx":[89,)"), std::string::npos) << line;
    EXPECT_EQ(busyJobs(), 0);
}

// The scheduler recompiles a job while a worker runs it: the compile is
// refused before it reaches the engine (the job is busy) and the run goes on
// untouched to its end. Afterwards the same compile works.
TEST_F(HostTest, CompileFromAnotherThreadDuringARunIsRefusedAndTheRunGoesOn) {
    Job job(52, waitLoop(15).c_str());
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie), S_OK);
    const std::string c = hex(cookie);
    standin_reset();
    Worker worker(host.get(), cookie, 52001);
    ASSERT_TRUE(waitForCalls("MCSleep", 1));
    const wchar_t* extra = L"Sub extra()\nEnd Sub\n";
    EXPECT_EQ(compile(cookie, extra), S_FALSE);
    EXPECT_EQ(host->stop(cookie + 1000000), S_FALSE);   // a cookie never issued: nothing happens
    worker.join();
    EXPECT_EQ(worker.result, S_OK);
    EXPECT_EQ(worker.ret, 1);
    EXPECT_EQ(calls("MCSleep").size(), 15u);
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(52, 52001, "loop ended")});
    EXPECT_TRUE(contains(allTraces(), "Tolvera-compile: script <test," + c + "> failed, err=800700aa"));

    EXPECT_EQ(compile(cookie, extra), S_OK);
    VARIANT_BOOL ret;
    EXPECT_EQ(run(cookie, 52002, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    host->unreg(cookie);
}

// The scheduler compiles a job that was registered on a worker's thread
// while another job runs on that worker. The compile gives the job its
// registering thread back afterwards; every call of the run going on there
// must still carry the running job's context, none the compiled job's.
TEST_F(HostTest, CompilingAnotherJobOfTheRunningThreadLeavesTheRunItsCalls) {
    Job idle(57, kProbeScript), busy(58, waitLoop(10).c_str());
    ULONG idleCookie = 0;
    VARIANT_BOOL ret = -1;
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        idleCookie = reg(idle);
        ULONG busyCookie = reg(busy);
        EXPECT_EQ(compile(busyCookie), S_OK);
        EXPECT_EQ(run(busyCookie, 58001, &ret), S_OK);
        host->unreg(busyCookie);
        CoUninitialize();
    });
    ASSERT_TRUE(waitForCalls("MCSleep", 1));
    EXPECT_EQ(compile(idleCookie, L"Sub extra()\nEnd Sub\n"), S_OK);
    worker.join();
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(calls("MCSleep"), Lines(10, probe::call("MCSleep", "20,0,0", 58, 58001)));
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(58, 58001, "loop ended")});
    host->unreg(idleCookie);
}

// A job compiled in pieces on one thread and run on another gets all of its
// pieces on the fresh engine, in order; a piece that failed to compile is
// not among them.
TEST_F(HostTest, EveryCompiledPieceMovesWithTheJob) {
    Job job(53, nullptr);
    ULONG cookie = reg(job);
    onThread([&] {
        EXPECT_EQ(compile(cookie, L"Function greeting()\n  greeting = \"from piece one\"\nEnd Function\n"), S_OK);
        EXPECT_EQ(compile(cookie, L"If Then\n"), S_FALSE);
        EXPECT_EQ(compile(cookie, L"Sub main()\n  CVEXT.MSActions 0, greeting() & \" and two\", \"\", \"\", \"\"\nEnd Sub\n"),
                  S_OK);
    });
    standin_reset();
    VARIANT_BOOL ret = -1;
    onThread([&] { EXPECT_EQ(run(cookie, 53001, &ret), S_OK); });
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(53, 53001, "from piece one and two")});
    EXPECT_EQ(probe::scriptErrors().size(), 0u);
    host->unreg(cookie);
}

// Work a worker hands to the job's own thread and waits for: the test's
// thread serves it until the worker says it is done.
class Handover {
public:
    void toOwner(std::function<void()> task) {
        std::unique_lock<std::mutex> lock(mutex_);
        task_ = std::move(task);
        changed_.notify_all();
        changed_.wait(lock, [&] { return !task_; });
    }
    void done() {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }
    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return done_ || task_; });
            if (!task_) return;
            task_();
            task_ = nullptr;
            changed_.notify_all();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> task_;
    bool done_ = false;
};

// Engines that let a test step in before their calls.
struct SteppedHostTest : HostTest {
    void SetUp() override {
        setUpComForTests();   // installs the process's engine first, which this one wraps
        setEngineFactory(faults::createFaultyEngine);
        HostTest::SetUp();
    }
    void TearDown() override {
        host.reset();
        faults::plan().beforeCall = nullptr;
        installTestEngine();
    }
};

constexpr wchar_t kMainScript[] = L"Sub main()\n  CVEXT.MSActions 0, \"main\", \"\", \"\", \"\"\nEnd Sub\n";

// A run on a worker moves the job to a fresh engine there; while the move
// parses the job's text, the job's own thread compiles another piece. The
// compile is refused (the job's run is in progress) before it reaches
// either engine, so none of its code runs anywhere, and the run goes on
// whole. Afterwards the same piece compiles.
TEST_F(SteppedHostTest, ACompileDuringARunsMoveIsRefusedAndTheRunGoesOn) {
    Job job(60, nullptr);
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie, kMainScript), S_OK);
    standin_reset();
    const wchar_t* piece = L"CVEXT.MSActions 0, \"piece\", \"\", \"\", \"\"\n";
    const DWORD owner = GetCurrentThreadId();
    Handover handover;
    HRESULT compiled = E_FAIL;
    faults::plan().beforeCall = [&](faults::Op op) {
        if (op != faults::Op::ParseScriptText || GetCurrentThreadId() == owner || compiled != E_FAIL) return;
        handover.toOwner([&] { compiled = compile(cookie, piece); });
    };
    VARIANT_BOOL ret = -1;
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(run(cookie, 60001, &ret), S_OK);
        handover.done();
        CoUninitialize();
    });
    handover.serve();
    worker.join();
    faults::plan().beforeCall = nullptr;
    EXPECT_EQ(compiled, S_FALSE);
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(calls("MSActions"), Lines{probeCall(60, 60001, "main")});
    EXPECT_TRUE(contains(allTraces(), "Tolvera-compile: script <test," + hex(cookie) + "> failed, err=800700aa"));

    EXPECT_EQ(compile(cookie, piece), S_OK);
    standin_reset();
    EXPECT_EQ(run(cookie, 60002, &ret), S_OK);
    EXPECT_EQ(ret, 1);
    EXPECT_EQ(calls("MSActions"), (Lines{probeCall(60, 60002, "piece"), probeCall(60, 60002, "main")}));
    host->unreg(cookie);
}

// The agent compiles a job on the job's own engine thread just as a run of
// it starts on another thread, over a range of start offsets that sweeps
// each across the other's steps (the run's start, its move to a fresh
// engine, main, its end). The job has run once, so the engine runs a new
// text's global code at the parse. Whichever comes first, the other is
// refused as a whole or goes after it: no call is booked to another job of
// the compiling thread, the global code runs at most once in each engine
// (the compile's, and the fresh one a move starts), and a run that is not
// refused runs.
TEST_F(HostTest, ACompileRacingARunOfItsJobNeverLandsElsewhereNorLosesTheRun) {
    const wchar_t* main = L"Sub main()\n  CVEXT.ZTrace \"main\"\nEnd Sub\n";
    const wchar_t* global = L"CVEXT.ZTrace \"global\"\n";
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto spinUntil = [](LONGLONG when) {
        LARGE_INTEGER now;
        do QueryPerformanceCounter(&now);
        while (now.QuadPart < when);
    };
    int refusedRuns = 0, refusedCompiles = 0;
    constexpr int kAttempts = 200;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        Job job(91, nullptr), other(90, kProbeScript);
        ULONG cookie = reg(job);
        ASSERT_EQ(compile(cookie, main), S_OK);
        VARIANT_BOOL ret = -1;
        ASSERT_EQ(run(cookie, 91999, &ret), S_OK);
        // Registered after it on this thread: any call of the job's code that
        // ran outside its own activation here would be booked to this one.
        ULONG otherCookie = reg(other);
        standin_reset();
        // Offsets from -1 ms to +1 ms of the run's start against the compile's.
        const LONGLONG offset = frequency.QuadPart * (attempt % 41 - 20) / 20000;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const LONGLONG start = now.QuadPart + frequency.QuadPart / 200;
        HRESULT ran = E_FAIL;
        std::thread worker([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            spinUntil(start + offset);
            ran = run(cookie, 91000 + attempt, &ret);
            CoUninitialize();
        });
        spinUntil(start);
        HRESULT compiled = compile(cookie, global);
        worker.join();

        const unsigned long pwd = 91000 + attempt;
        const std::string mainCall = probe::call("ZTrace", R"("main")", 91, pwd);
        const std::string compiledCall = probe::call("ZTrace", R"("global")", 91, 0);
        const std::string movedCall = probe::call("ZTrace", R"("global")", 91, pwd);
        const Lines traced = calls("ZTrace");
        for (const std::string& line : traced)
            EXPECT_TRUE(line == mainCall || line == compiledCall || line == movedCall) << line;
        EXPECT_LE(std::count(traced.begin(), traced.end(), compiledCall), 1);
        EXPECT_LE(std::count(traced.begin(), traced.end(), movedCall), 1);
        const Lines traces = allTraces();
        if (ran == S_OK) {
            EXPECT_EQ(ret, 1);
            EXPECT_EQ(std::count(traced.begin(), traced.end(), mainCall), 1);
        } else {
            ++refusedRuns;
            EXPECT_EQ(ran, S_FALSE);
            EXPECT_EQ(std::count(traced.begin(), traced.end(), mainCall), 0);
            EXPECT_TRUE(contains(traces, "Tolvera-run: script " + hex(cookie) + " is compiling on another thread"));
        }
        if (compiled != S_OK) {
            ++refusedCompiles;
            EXPECT_EQ(std::count(traced.begin(), traced.end(), compiledCall), 0) << "a refused compile ran its code";
            EXPECT_EQ(std::count(traced.begin(), traced.end(), movedCall), 0) << "a refused compile's text was kept";
            EXPECT_TRUE(contains(traces, "Tolvera-compile: script <test," + hex(cookie) + "> failed, err=800700aa"));
        }
        host->unreg(otherCookie);
        host->unreg(cookie);
        if (HasFailure()) break;
    }
    std::printf("%d attempts: %d runs refused, %d compiles refused\n", kAttempts, refusedRuns, refusedCompiles);
}

// A worker runs a job the moment the scheduler's compile of it has answered
// on another thread (the listener holds the compile's last trace line until
// the run has begun). The run is one of a compiled job: its script error
// reaches the job with the indicator of a compiled job.
TEST_F(HostTest, ARunJustAfterACompileOnAnotherThreadIsARunOfACompiledJob) {
    Job job(96, L"Sub main()\n  x = 1 / 0\nEnd Sub\n");
    ULONG cookie = reg(job);
    struct Race {
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        bool held = false;
    } race;
    VARIANT_BOOL ret = -1;
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        WaitForSingleObject(race.go, 10000);
        run(cookie, 96001, &ret);
        CoUninitialize();
    });
    standin_setListener(
        [](const char* line, const long*, void* context) {
            auto* r = static_cast<Race*>(context);
            if (r->held || !std::strstr(line, "> compiled")) return;
            r->held = true;
            SetEvent(r->go);
            for (int i = 0; i < 1000 && busyJobs() == 0; ++i) Sleep(1);
        },
        &race);
    EXPECT_EQ(compile(cookie), S_OK);
    standin_setListener(nullptr, nullptr);
    SetEvent(race.go);
    worker.join();
    CloseHandle(race.go);
    EXPECT_TRUE(race.held);
    EXPECT_EQ(ret, 0);
    const std::vector<probe::ScriptError> errors = probe::scriptErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].indicator, 1) << errors[0].text;
    host->unreg(cookie);
}

// A job whose global code made an object with a Class_Terminate that aborts,
// run on one worker and then on another: the move to the second worker's
// engine lets go of the first one, whose objects end there, and the job's
// last hold lets go of the second engine on a thread it does not belong to,
// where the engine refuses Close and ends its objects in its last Release.
// Each ending is a close of the job's own (pwdobj 0): its abort ends the
// Class_Terminate, not the run that moved, whose main still runs; and
// nothing calls the engine after the host's last Release of it (the wrapper
// engine here has let go of the engine inside by then).
TEST_F(SteppedHostTest, ObjectsOfAnEngineLetGoOfEndAsACloseOfTheirOwn) {
    Job job(95, L"Class T\n  Private Sub Class_Terminate()\n    CVEXT.AbortScript \"o\", \"ended\"\n"
                L"    CVEXT.ZTrace \"after the abort\"\n  End Sub\nEnd Class\nDim g\nSet g = New T\n"
                L"Sub main()\n  CVEXT.ZTrace \"main\"\nEnd Sub\n");
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie), S_OK);
    standin_reset();
    VARIANT_BOOL first = -1, second = -1;
    onThread([&] { EXPECT_EQ(run(cookie, 95001, &first), S_OK); });
    onThread([&] { EXPECT_EQ(run(cookie, 95002, &second), S_OK); });
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(host->unreg(cookie), S_OK);
    const std::string aborted = probe::call("MCAbort", R"(-1,"o","ended",1,-1,1,null,null)", 95, 0);
    EXPECT_EQ(calls("MCAbort"), (Lines{aborted, aborted}));
    EXPECT_EQ(calls("ZTrace"), (Lines{probe::call("ZTrace", R"("main")", 95, 95001),
                                      probe::call("ZTrace", R"("main")", 95, 95002)}));
    expectDetached();
}

// A watchdog's stop and the job thread's unreg overlap: the job stays whole
// until stop is done with it, and the last of the two closes its engine.
TEST_F(SteppedHostTest, AnUnregDuringAStopLeavesTheJobToTheStop) {
    Job job(82, nullptr);
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie, kMainScript), S_OK);
    HRESULT unregistered = E_FAIL;
    std::vector<DWORD> closedOn;
    bool stepped = false;
    faults::plan().beforeCall = [&](faults::Op op) {
        if (op == faults::Op::Close) closedOn.push_back(GetCurrentThreadId());
        if (op != faults::Op::SetScriptState || stepped) return;
        stepped = true;
        onThread([&] { unregistered = host->unreg(cookie); });
    };
    EXPECT_EQ(host->stop(cookie), S_OK);
    faults::plan().beforeCall = nullptr;
    EXPECT_TRUE(stepped);
    EXPECT_EQ(unregistered, S_OK);
    EXPECT_EQ(closedOn, std::vector<DWORD>{GetCurrentThreadId()});
    EXPECT_EQ(host->stop(cookie), S_FALSE);
}

// A cookie that was handed out and removed never names another job, even
// when the new job's entry takes the old one's place in memory: late
// operations with it find nothing and leave the new job alone.
TEST_F(HostTest, StaleCookiesFindNothingAfterTheirJobIsGone) {
    Job old(55, kProbeScript), fresh(56, kProbeScript);
    for (int round = 0; round < 10; ++round) {
        ULONG stale = reg(old);
        EXPECT_EQ(host->unreg(stale), S_OK);
        ULONG cookie = reg(fresh);
        ASSERT_NE(cookie, stale);
        standin_reset();
        VARIANT_BOOL ret;
        EXPECT_EQ(compile(stale), S_OK);
        EXPECT_EQ(run(stale, 1, &ret), S_FALSE);
        EXPECT_EQ(host->stop(stale), S_FALSE);
        EXPECT_EQ(host->unreg(stale), S_OK);
        EXPECT_EQ(fullJournal(), (Lines{traceLine("Tolvera-compile: cookie " + hex(stale) + " not found"),
                                        traceLine("Tolvera-run: cookie " + hex(stale) + " not found")}));
        EXPECT_EQ(compile(cookie), S_OK);
        EXPECT_EQ(run(cookie, 56001, &ret), S_OK);
        EXPECT_EQ(ret, 1);
        EXPECT_EQ(calls("MSActions"), Lines{probeCall(56, 56001, "hello")});
        host->unreg(cookie);
    }
}

// Every allocation of zTolvera's own fails while it lives.
struct OutOfMemory {
    OutOfMemory() { memory::setFaultHook([](memory::Allocation) { return true; }); }
    ~OutOfMemory() { memory::setFaultHook(nullptr); }
};

// Out of memory inside a script's call never escapes as an exception: the
// methods whose texts become standard strings answer S_FALSE with nothing
// sent to the core and their out-values Empty; an ArgString method still
// calls the core, with null for the text it could not copy.
TEST(OutOfMemoryTest, ScriptCallsDegradeInsteadOfThrowing) {
    setUpComForTests();
    standin_reset();
    ComPtr<IScpExt> ext(ScpExt::create());
    ASSERT_TRUE(ext);
    BoundJob job(61, 61001);
    // Longer than any text kept inside a string object itself.
    Bstr name(L"a dictionary name longer than sixteen characters"), value(L"a value just as long as the name");
    long code = -7;
    Variant out, tuples;
    HRESULT insert, retrieve, remove, pattern, xml;
    {
        OutOfMemory none;
        insert = ext->DictionaryInsertValue(name.get(), value.get(), &code);
        retrieve = ext->DictionaryRetrieveValue(name.get(), &out, &code);
        remove = ext->DictionaryRemoveValue(name.get(), &code);
        pattern = ext->DictionaryRetrieveByPattern(name.get(), &tuples, &code);
        xml = ext->EventXMLToPlainText(name.get(), &out, &code);
    }
    EXPECT_EQ(insert, S_FALSE);
    EXPECT_EQ(retrieve, S_FALSE);
    EXPECT_EQ(remove, S_FALSE);
    EXPECT_EQ(pattern, S_FALSE);
    EXPECT_EQ(xml, S_FALSE);
    EXPECT_EQ(code, -7);
    EXPECT_EQ(V_VT(&out), VT_EMPTY);
    EXPECT_EQ(V_VT(&tuples), VT_EMPTY);
    EXPECT_EQ(journal(), Lines{});

    Bstr message(L"hello");
    {
        OutOfMemory none;
        EXPECT_EQ(ext->MSActions(0, message.get(), message.get(), message.get(), message.get(), 1.5), S_OK);
    }
    EXPECT_EQ(journal(), Lines{probe::call("MSActions", "0,null,null,null,null,1.5,0,null,null", 61, 61001)});
}

// CPU time the calling thread has used, in seconds.
double threadSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// Under On Error Resume Next the platform's engine swallows the abort
// marker, and the script goes on past every refused call. Its wait loop must
// still wait: each CVSleep of the ended run takes its interval (without
// reaching the core) instead of returning at once into a busy spin.
TEST(AbortedRunTest, AWaitLoopAfterAnAbortTakesItsIntervals) {
    setUpComForTests();
    standin_reset();
    const std::wstring body =
        L"  On Error Resume Next\n"
        L"  CVEXT.AbortScript \"obj\", \"giving up\"\n"
        L"  t = Timer\n"
        L"  Do While Timer - t < 1\n"
        L"    CVEXT.CVSleep 100\n"
        L"  Loop\n"
        L"  CVEXT.ZTrace \"after the loop\"\n";
    ULONGLONG wallStart = GetTickCount64();
    double cpuStart = threadSeconds();
    ScriptResult r = probe::runMain(body, 62, 62001);
    double cpu = threadSeconds() - cpuStart;
    double wall = double(GetTickCount64() - wallStart) / 1000;
    EXPECT_EQ(r.ret, 1);
    EXPECT_GE(wall, 0.9);
    EXPECT_LT(cpu, 0.25 * wall) << "cpu " << cpu << " s in " << wall << " s";
    EXPECT_EQ(calls("MCAbort").size(), 1u);
    EXPECT_EQ(calls("MCSleep"), Lines{});
    EXPECT_EQ(calls("ZTrace"), Lines{});
}

// A scheduler that starts a job again while its last run hangs on a worker:
// the second run is refused, and leaves the first run its context and its
// place as the run that stop ends.
TEST_F(HostTest, ASecondRunDuringAHungRunLeavesTheFirstStoppable) {
    Job job(84, waitLoop(400).c_str());
    ULONG cookie = reg(job);
    ASSERT_EQ(compile(cookie), S_OK);
    standin_reset();
    Worker first(host.get(), cookie, 84001);
    ASSERT_TRUE(waitForCalls("MCSleep", 1));
    VARIANT_BOOL ret = -1;
    onThread([&] { EXPECT_EQ(run(cookie, 84002, &ret), S_FALSE); });
    EXPECT_EQ(ret, 0);
    const std::size_t before = calls("MCSleep").size();
    EXPECT_TRUE(waitForCalls("MCSleep", before + 2)) << "the first run's calls no longer reach the core";
    EXPECT_EQ(host->stop(cookie), S_FALSE);
    first.join();
    EXPECT_EQ(first.ret, 0) << "the hung run was not the one stop ended";
    EXPECT_LT(calls("MCSleep").size(), before + 50) << "stop did not reach the hung run";
    for (const std::string& line : calls("MCSleep"))
        EXPECT_NE(line.find("\"ctx\":[84,84001]"), std::string::npos) << line;
    host->unreg(cookie);
}


// An aggregated host let go while a run hangs on a worker: as for a host of
// its own, the run is asked to end and the host stays until it is over.
TEST_F(HostTest, AnAggregatedHostReleasedDuringARunOutlivesIt) {
    host.reset();
    Outer outer;
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_Tolvera, IID_IClassFactory, factory.putVoid()), S_OK);
        IUnknown* inner = nullptr;
        ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
        outer.inner = inner;
    }
    ITolvera* agg = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_ITolvera, reinterpret_cast<void**>(&agg)), S_OK);
    Job job(85, waitLoop(400).c_str());
    ULONG cookie = 0;
    ASSERT_EQ(agg->reg(job.info(), &cookie), S_OK);
    Bstr fromJob(L"NULL");
    ASSERT_EQ(agg->compile(cookie, fromJob.get()), S_OK);
    standin_reset();
    Worker worker(agg, cookie, 85001);
    ASSERT_TRUE(waitForCalls("MCSleep", 1));
    agg->Release();
    const LONG locks = moduleLockCount();
    outer.inner->Release();     // the controlling object goes, and lets go of its inner one
    outer.inner = nullptr;
    EXPECT_EQ(moduleLockCount(), locks) << "the host was destroyed under its run";
    worker.join();
    EXPECT_LT(calls("MCSleep").size(), 50u) << "the run was not asked to end";
    EXPECT_EQ(moduleLockCount(), 0);
}

}  // namespace
