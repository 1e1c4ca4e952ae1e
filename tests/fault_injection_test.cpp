// Fault injection over a whole job lifecycle as an agent drives it: host
// creation, two jobs registered, compiled and run (calls into several method
// families, a script error, an abort), one of them run again on another
// thread (a move to a fresh engine), stopped from a third, both removed, the
// host released. Each sweep repeats the lifecycle once for every fault
// point: the N-th engine call fails with a chosen HRESULT, or the N-th
// allocation of zTolvera's own fails. Every lifecycle must give the
// contract's results with a reason in the trace for every failure, end
// without a crash or a hang, and leave no engine, script dispatch, site or
// extension object behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "classfactory.h"
#include "engine_source.h"
#include "faulty_engine.h"
#include "host_fixture.h"
#include "job_counts.h"
#include "memory.h"
#include "module.h"
#include "owners.h"
#include "process_usage.h"
#include "scpext.h"
#include "script_fixture.h"
#include "test_engine.h"
#include "ztolvera.h"

namespace {

using hostfix::hex;
using hostfix::Lines;

bool anyLine(const Lines& lines, const std::string& part) {
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

// --- the allocation fault: the N-th allocation made on an armed thread ---

struct AllocationPlan {
    long failAt = 0;
    std::atomic<long> count{0};
    std::atomic<bool> hit{false};
};
AllocationPlan g_allocations;
thread_local bool t_armed = false;

bool allocationFault(memory::Allocation) {
    if (!t_armed) return false;
    long n = ++g_allocations.count;
    if (g_allocations.failAt == 0 || n != g_allocations.failAt) return false;
    g_allocations.hit = true;
    return true;
}

// Counts (and may fail) zTolvera's allocations only while the test is inside
// a host call, never its own.
struct Armed {
    Armed() { t_armed = true; }
    ~Armed() { t_armed = false; }
};

// --- the lifecycle ---

const wchar_t kScriptA[] =
    L"Sub main()\n"
    L"  CVEXT.CreateEvent 2, \"disk low\", \"act\", \"C:\", 12.5, \"detail\", \"src\", 7, 0\n"
    L"  CVEXT.DataLog \"free\", 12.5, \"percent free\"\n"
    L"  r = CVEXT.DictionaryInsertValue(\"the last check of the disk\", \"it was fine at the time\")\n"
    L"  r = CVEXT.DictionaryRetrieveValue(\"the last check of the disk\", v)\n"
    L"  n = CVEXT.ItemCount(\"a,b,c\", \",\")\n"
    L"  m = CVEXT.GetMachName()\n"
    L"  CVEXT.ZTrace \"A \" & v & \" \" & n & \" \" & m\n"
    L"  x = 1 / 0\n"
    L"End Sub\n";
const wchar_t kScriptB[] =
    L"Sub main()\n"
    L"  s = CVEXT.CVSleep(10)\n"
    L"  CVEXT.MSActions 1, \"B event\", \"\", \"obj\", \"detail\"\n"
    L"  CVEXT.AbortScript \"obj\", \"enough\"\n"
    L"  CVEXT.ZTrace \"not reached\"\n"
    L"End Sub\n";

constexpr const char* kSteps[] = {"host", "reg", "compile", "run", "run moved", "stop", "unreg", "release"};
constexpr int kNoStep = -1;

struct Outcome {
    bool created = false;
    HRESULT reg[2] = {E_FAIL, E_FAIL};
    ULONG cookie[2] = {1, 1};
    HRESULT compile[2] = {E_FAIL, E_FAIL};
    HRESULT run[3] = {E_FAIL, E_FAIL, E_FAIL};
    VARIANT_BOOL ret[3] = {-1, -1, -1};
    HRESULT stop = E_FAIL;
    HRESULT unreg[2] = {E_FAIL, E_FAIL};
    int liveJobs = 0;                // jobs left alive after the release
    int faultStep = kNoStep;         // the step during which the fault was injected
    Lines traces;
};

// `injected` tells whether the fault has been injected so far.
template <class Injected>
Outcome lifecycle(Injected injected) {
    Outcome o;
    standin_reset();
    ImpJob* jobs[2] = {standin_newJob(71, kScriptA), standin_newJob(72, kScriptB)};
    wchar_t names[2][2] = {L"A", L"B"};
    Bstr fromJob(L"NULL");
    int step = 0;
    auto done = [&] {
        if (o.faultStep == kNoStep && injected()) o.faultStep = step;
        ++step;
    };

    ComPtr<ITolvera> host;
    {
        Armed armed;
        host.attach(createHost());
    }
    o.created = host.get() != nullptr;
    done();
    if (host) {
        for (int j = 0; j < 2; ++j) {
            vsinfo info = {71ul + j, names[j], static_cast<ULONG>(reinterpret_cast<UINT_PTR>(jobs[j]))};
            Armed armed;
            o.reg[j] = host->reg(info, &o.cookie[j]);
        }
        done();
        for (int j = 0; j < 2; ++j) {
            Armed armed;
            o.compile[j] = host->compile(o.cookie[j], fromJob.get());
        }
        done();
        for (int j = 0; j < 2; ++j) {
            Armed armed;
            o.run[j] = host->run(o.cookie[j], 71001 + 1000 * j, &o.ret[j]);
        }
        done();
        hostfix::onThread([&] {
            Armed armed;
            o.run[2] = host->run(o.cookie[0], 71002, &o.ret[2]);
        });
        done();
        hostfix::onThread([&] {
            Armed armed;
            o.stop = host->stop(o.cookie[0]);
        });
        done();
        for (int j = 0; j < 2; ++j) {
            Armed armed;
            o.unreg[j] = host->unreg(o.cookie[j]);
        }
        done();
        {
            Armed armed;
            host.reset();
        }
        done();
    }
    for (ImpJob* job : jobs) standin_deleteJob(job);
    o.liveJobs = liveJobs();
    o.traces = allTraces();
    return o;
}

bool isResult(HRESULT hr) { return hr == S_OK || hr == S_FALSE; }

// What every lifecycle must give, whatever failed inside it: 0 or 1 from
// every operation, a reason in the trace for every failure, and nothing left
// behind.
void expectSound(const Outcome& o) {
    EXPECT_EQ(moduleLockCount(), 0);
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(faults::liveObjects(), 0) << "an engine or a script dispatch was not released";
    EXPECT_EQ(winengine::liveObjects(), 0) << "a wrapper of the Windows-like engine was not released";
    EXPECT_EQ(o.liveJobs, 0) << "a job was left alive";
    if (!o.created) return;   // the class object answered E_OUTOFMEMORY
    const bool initialised = anyLine(o.traces, "CTolvera-CTolvera: init engine instance");
    if (!initialised) {
        EXPECT_TRUE(anyLine(o.traces, "CTolvera-CTolvera: error: "));
    }
    for (int j = 0; j < 2; ++j) {
        SCOPED_TRACE(j ? "job B" : "job A");
        EXPECT_TRUE(isResult(o.reg[j]) && isResult(o.compile[j]) && isResult(o.run[j]) && isResult(o.unreg[j]));
        EXPECT_EQ(o.reg[j] == S_OK, o.cookie[j] != 0);
        if (!initialised) {
            EXPECT_EQ(o.reg[j], S_FALSE);
            continue;
        }
        if (o.reg[j] != S_OK) {
            EXPECT_TRUE(anyLine(o.traces, "CTolvera-_add: "));
        }
        if (o.compile[j] != S_OK) {
            EXPECT_TRUE(anyLine(o.traces, "> failed, err="));
        }
        if (o.run[j] != S_OK) {
            EXPECT_TRUE(anyLine(o.traces, "Tolvera-run: cookie 0 not found"));
        } else if (o.ret[j] != 1) {
            EXPECT_TRUE(anyLine(o.traces, "Tolvera-run: script " + hex(o.cookie[j]) + " failed to run"));
        }
        EXPECT_EQ(o.unreg[j], S_OK);
    }
    EXPECT_TRUE(isResult(o.run[2]) && isResult(o.stop));
    if (initialised && o.reg[0] == S_OK && o.stop != S_OK) {
        EXPECT_TRUE(anyLine(o.traces, "Tolvera-stop: script <" + hex(o.cookie[0]) + "> fail with err "));
    }
}

// The clean lifecycle: A ends with its division by zero, B with its abort.
void expectClean(const Outcome& o) {
    expectSound(o);
    EXPECT_TRUE(o.created);
    for (int j = 0; j < 2; ++j) {
        EXPECT_EQ(o.reg[j], S_OK);
        EXPECT_EQ(o.compile[j], S_OK);
        EXPECT_EQ(o.run[j], S_OK);
    }
    EXPECT_EQ(o.ret[0], 0);
    EXPECT_EQ(o.ret[1], 1);
    EXPECT_EQ(o.run[2], S_OK);
    EXPECT_EQ(o.ret[2], 0);
    EXPECT_EQ(o.stop, S_OK);
    EXPECT_EQ(calls("sendScpException").size(), 2u);
    EXPECT_EQ(calls("MCAbort").size(), 1u);
}

struct FaultInjectionTest : ::testing::Test {
    static void SetUpTestSuite() {
        setUpComForTests();
        setEngineFactory(faults::createFaultyEngine);
    }
    static void TearDownTestSuite() { installTestEngine(); }
    void TearDown() override {
        faults::plan().failAt = 0;
        memory::setFaultHook(nullptr);
    }
};

// Counted engine calls of one clean lifecycle.
long engineCallsOfALifecycle(bool clones) {
    faults::Plan& p = faults::plan();
    p.failAt = 0;
    p.clones = clones;
    p.calls = 0;
    Outcome clean = lifecycle([] { return false; });
    expectClean(clean);
    return p.calls;
}

// Every engine call of the lifecycle fails once, with each of two results:
// one the host has no special meaning for, and out of memory. Twice: with
// an engine that clones and with one that does not.
TEST_F(FaultInjectionTest, EveryFailingEngineCallGivesTheContractsResultAndTrace) {
    long injected = 0;
    for (bool clones : {false, true}) {
        const long points = engineCallsOfALifecycle(clones);
        ASSERT_GT(points, 40);
        for (HRESULT hr : {static_cast<HRESULT>(0x8004ABCD), E_OUTOFMEMORY}) {
            for (long n = 1; n <= points && !HasFailure(); ++n) {
                faults::Plan& p = faults::plan();
                p.failAt = n;
                p.hr = hr;
                p.calls = 0;
                p.hit = false;
                Outcome o = lifecycle([&] { return p.hit.load(); });
                p.failAt = 0;
                SCOPED_TRACE(std::string(clones ? "cloning engine, " : "") + "call " + std::to_string(n) + " (" +
                             faults::nameOf(p.failed) + ") fails with " + hex(hr) + " during " +
                             (o.faultStep == kNoStep ? "nothing" : kSteps[o.faultStep]));
                ASSERT_TRUE(p.hit);
                ++injected;
                expectSound(o);
                // The failure shows with its own HRESULT, except where nobody
                // is told: an engine's Close when it is let go.
                const std::string step = kSteps[o.faultStep];
                if (p.failed != faults::Op::Close && step != "unreg" && step != "release") {
                    EXPECT_TRUE(anyLine(o.traces, hex(hr))) << "no trace names the failure";
                }
            }
        }
    }
    std::printf("engine faults injected and survived: %ld\n", injected);
    faults::plan().clones = false;
    expectClean(lifecycle([] { return false; }));
}

// Every allocation of zTolvera's own in the lifecycle fails once; each
// lifecycle starts with nothing loaded or cached, so the first-use paths
// (class object, type information) fail too. The sweep
// runs twice: whatever the first one left cached for good, a leak on any
// failure path grows the C runtime's heap again in the second.
TEST_F(FaultInjectionTest, EveryFailingAllocationIsAnsweredAndNothingLeaks) {
    auto fresh = [] {
        releaseClassObjects();
        releaseScpExtTypeInfo();
        standin_reset();
    };
    faults::plan().failAt = 0;
    memory::setFaultHook(allocationFault);
    g_allocations.failAt = 0;
    // The first lifecycle of the process also fills what lives as long as
    // the process (the C runtime's locale data among it).
    for (int round = 0; round < 2; ++round) {
        fresh();
        g_allocations.count = 0;
        expectClean(lifecycle([] { return false; }));
    }
    const long points = g_allocations.count;
    ASSERT_GT(points, 20);

    long injected = 0;
    SIZE_T settled = 0;
    for (int sweep = 1; sweep <= 2 && !HasFailure(); ++sweep) {
        for (long n = 1; n <= points && !HasFailure(); ++n) {
            fresh();
            g_allocations.failAt = n;
            g_allocations.count = 0;
            g_allocations.hit = false;
            Outcome o = lifecycle([] { return g_allocations.hit.load(); });
            g_allocations.failAt = 0;
            SCOPED_TRACE("allocation " + std::to_string(n) + " fails during " +
                         (o.faultStep == kNoStep ? "nothing" : kSteps[o.faultStep]));
            ASSERT_TRUE(g_allocations.hit);
            ++injected;
            expectSound(o);
        }
        fresh();
        SIZE_T now = crtHeapBytesInUse();
        if (sweep == 1) settled = now;
        else EXPECT_LE(now, settled + 64) << "the C runtime's heap grew by " << now - settled << " bytes in a sweep";
    }
    memory::setFaultHook(nullptr);
    fresh();
    expectClean(lifecycle([] { return false; }));
    std::printf("allocation faults injected and survived: %ld (%ld points, twice)\n", injected, points);
}

}  // namespace
