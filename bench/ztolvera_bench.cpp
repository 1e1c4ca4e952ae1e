// zTolvera's benchmarks. Every figure is a ratio of two rates measured side by
// side in this one run, so that it holds on a noisy machine:
//   P1  call overhead: CVEXT.DataLog through zTolvera down to the agent core
//       against the same script loop calling a do-nothing IDispatch stub;
//       P1a the same loop run just after another job of the process ended
//       itself with CVEXT.AbortScript, against the loop without that;
//   P2  job lifecycle: reg, compile, run, unreg of a 50-line script against
//       the bare engine's create, InitNew, parse, run and close;
//   P3  scale: per-job reg/compile/run/unreg with 1,000 and with 10,000
//       jobs registered against 10, and what 10,000 jobs take of memory;
//   P4  concurrency: job lifecycles on 2 threads against the bare engine on
//       2 threads;
//   memory: private bytes per registered job beyond the engine's own.
// Results are printed and written as JSON to the file named on the command
// line (default results.json).
#include <windows.h>
#include <activscp.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_host.h"

namespace {

double seconds(const std::function<void()>& work) {
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    work();
    QueryPerformanceCounter(&b);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

// Best of several alternating rounds of the two sides, so that a burst of
// noise hits neither side alone.
std::pair<double, double> sideBySide(int rounds, const std::function<void()>& ours,
                                     const std::function<void()>& reference) {
    double best = 1e30, bestRef = 1e30;
    for (int i = 0; i < rounds; ++i) {
        best = std::min(best, seconds(ours));
        bestRef = std::min(bestRef, seconds(reference));
    }
    return {best, bestRef};
}

struct Figure {
    std::string name, unit, comparison;
    double ours, reference, ratio, target;
    bool lowerIsBetter;
    const char* ratioName = "ratio";
};

std::vector<Figure> figures;

void report(const Figure& f) {
    bool met = f.lowerIsBetter ? f.ratio <= f.target : f.ratio >= f.target;
    std::printf("%-3s %-44s zTolvera %12.1f %s  reference %12.1f %s  ratio %.3f (target %s %.2f) %s\n",
                f.name.c_str(), f.comparison.c_str(), f.ours, f.unit.c_str(), f.reference, f.unit.c_str(),
                f.ratio, f.lowerIsBetter ? "<=" : ">=", f.target, met ? "met" : "MISSED");
    std::fflush(stdout);
    figures.push_back(f);
}

std::wstring loopScript(const wchar_t* object, int calls) {
    return L"Sub main()\n  Dim i\n  For i = 1 To " + std::to_wstring(calls) + L"\n    " + object +
           L".DataLog 3, 1.5, \"x\"\n  Next\nEnd Sub\n";
}

// Fifty lines of ordinary script work, no calls out of the engine.
std::wstring fiftyLineScript() {
    std::wstring s = L"Sub main()\n  Dim a, b, c\n  a = 0\n  b = \"\"\n";
    for (int i = 0; i < 44; ++i)
        s += (i % 2 ? L"  a = a + " + std::to_wstring(i) + L"\n" : L"  b = b & \"" + std::to_wstring(i) + L"\"\n");
    s += L"  c = Len(b) + a\nEnd Sub\n";
    return s;
}

void benchCallOverhead(BenchHost& host) {
    const int calls = 100000;
    std::wstring ours = loopScript(L"CVEXT", calls), stub = loopScript(L"STUB", calls);
    auto [t, tRef] = sideBySide(
        3, [&] { host.lifecycle(ours); }, [&] { bareRun(stub, true); });
    report({"P1", "calls/s", "CVEXT.DataLog vs do-nothing IDispatch stub", calls / t, calls / tRef,
            t / tRef, 1.25, true});
    // Where the floor lies: the same loop calling a method of ScpExt that does
    // nothing (GetObjList) costs the platform's type-information dispatch and
    // nothing of zTolvera's own.
    std::wstring floor = L"Sub main()\n  Dim i, s\n  For i = 1 To " + std::to_wstring(calls) +
                         L"\n    s = CVEXT.GetObjList(\"c\", \"o\")\n  Next\nEnd Sub\n";
    std::wstring floorStub = L"Sub main()\n  Dim i, s\n  For i = 1 To " + std::to_wstring(calls) +
                             L"\n    s = STUB.GetObjList(\"c\", \"o\")\n  Next\nEnd Sub\n";
    auto [f, fRef] = sideBySide(
        3, [&] { host.lifecycle(floor); }, [&] { bareRun(floorStub, true); });
    std::printf("    floor: CVEXT.GetObjList (does nothing) %.1f calls/s vs stub %.1f calls/s, ratio %.3f: "
                "the platform's type-information dispatch\n", calls / f, calls / fRef, f / fRef);
    figures.push_back({"P1_floor", "calls/s", "CVEXT.GetObjList (no work) vs stub", calls / f, calls / fRef,
                       f / fRef, 0, true});
}

// An abort ends the run it met and leaves nothing behind that later calls
// pay for: the loop after another job's self-abort (that job still
// registered) against the loop alone, in alternating rounds. The abort and
// its job's removal are outside the timed part.
void benchCallOverheadAfterAbort(BenchHost& host) {
    const int calls = 100000;
    std::wstring loop = loopScript(L"CVEXT", calls);
    const std::wstring aborting = L"Sub main()\n  CVEXT.AbortScript\nEnd Sub\n";
    double best = 1e30, bestRef = 1e30;
    bool aborted = true;
    for (int round = 0; round < 5; ++round) {
        unsigned long cookie = host.reg(aborting, true);
        aborted = host.run(cookie) && aborted;     // an abort counts as success
        best = std::min(best, seconds([&] { host.lifecycle(loop); }));
        host.unreg(cookie);
        bestRef = std::min(bestRef, seconds([&] { host.lifecycle(loop); }));
    }
    if (!aborted) std::printf("    the aborting job's run failed: the figure does not follow an abort\n");
    report({"P1a", "calls/s", "CVEXT.DataLog after a self-abort vs without", calls / best, calls / bestRef,
            best / bestRef, 1.05, true});
}

void benchLifecycle(BenchHost& host) {
    const int jobs = 200;
    std::wstring script = fiftyLineScript();
    auto [t, tRef] = sideBySide(
        3, [&] { for (int i = 0; i < jobs; ++i) host.lifecycle(script); },
        [&] { for (int i = 0; i < jobs; ++i) bareRun(script, false); });
    report({"P2", "jobs/s", "reg/compile/run/unreg vs bare engine", jobs / t, jobs / tRef, t / tRef, 1.15, true});
}

// Committed private memory of the process, summed over its address space:
// the platform's process counters do not report private bytes here.
SIZE_T privateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (const char* p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= p) break;
        p = next;
    }
    return total;
}

// Per-job cost with `total` jobs registered against 10; with 10,000, also
// what those jobs take of a 32-bit process's 2 GiB. The registered jobs are
// compiled with the fifty-line script, the size of a usual monitoring job.
void benchScale(BenchHost& host, int total, const char* name) {
    const int jobs = 100;
    std::wstring script = loopScript(L"CVEXT", 10), registered = fiftyLineScript();
    auto lifecycles = [&] { for (int i = 0; i < jobs; ++i) host.lifecycle(script); };
    std::vector<unsigned long> few, many;
    for (int i = 0; i < 10; ++i) few.push_back(host.reg(registered, true));
    double small = 1e30, large = 1e30, regSeconds = 0;
    SIZE_T held = 0;
    // Registering many jobs takes seconds, and the machine's speed comes and
    // goes in phases: each side is timed many times per registration, the
    // small side before and after it.
    auto best = [&](double& side) {
        for (int i = 0; i < 4; ++i) side = std::min(side, seconds(lifecycles) / jobs);
    };
    for (int round = 0; round < 3; ++round) {
        best(small);
        SIZE_T before = privateBytes();
        double took = seconds([&] { for (int i = 10; i < total; ++i) many.push_back(host.reg(registered, true)); });
        if (round == 0) regSeconds = took, held = privateBytes() - before;
        best(large);
        best(large);
        for (unsigned long cookie : many) host.unreg(cookie);
        many.clear();
        best(small);
    }
    for (unsigned long cookie : few) host.unreg(cookie);
    if (host.failed()) std::printf("    %ld lifecycles failed: the figures time failures\n", host.failed());
    std::string what = "per-job cost, " + std::to_string(total / 1000) + ",000 jobs registered vs 10";
    report({name, "jobs/s", what, 1 / large, 1 / small, large / small, 1.2, true});
    if (total < 10000) return;
    const double space = 2048.0 * 1024 * 1024;
    std::printf("MEM %d registered jobs compiled with the fifty-line script take %.1f MB of private memory (%.0f "
                "bytes each), %.1f%% of a 32-bit process's 2 GiB; registering and compiling them took %.1f s\n",
                total, held / 1048576.0, double(held) / total, 100.0 * held / space, regSeconds);
    figures.push_back({"memory_10000", "bytes", "private bytes of 10,000 registered, compiled fifty-line jobs vs 2 GiB",
                       double(held), space, held / space, 0, true, "share"});
}

void benchConcurrency(BenchHost& host) {
    const int jobs = 150;
    std::wstring script = fiftyLineScript();
    auto onTwoThreads = [&](const std::function<void()>& work) {
        return seconds([&] {
            std::thread a([&] { CoInitializeEx(nullptr, COINIT_MULTITHREADED); work(); CoUninitialize(); });
            std::thread b([&] { CoInitializeEx(nullptr, COINIT_MULTITHREADED); work(); CoUninitialize(); });
            a.join();
            b.join();
        });
    };
    double best = 1e30, bestRef = 1e30;
    for (int round = 0; round < 3; ++round) {
        best = std::min(best, onTwoThreads([&] { for (int i = 0; i < jobs; ++i) host.lifecycle(script); }));
        bestRef = std::min(bestRef, onTwoThreads([&] { for (int i = 0; i < jobs; ++i) bareRun(script, false); }));
    }
    double rate = 2 * jobs / best, rateRef = 2 * jobs / bestRef;
    report({"P4", "jobs/s", "throughput on 2 threads vs bare engine", rate, rateRef, rate / rateRef, 0.9, false});
}

void benchMemory(BenchHost& host) {
    const int jobs = 500;
    std::wstring script = fiftyLineScript();
    SIZE_T before = privateBytes();
    std::vector<unsigned long> cookies;
    for (int i = 0; i < jobs; ++i) cookies.push_back(host.reg(script, true));
    double perJob = double(privateBytes() - before) / jobs;
    for (unsigned long cookie : cookies) host.unreg(cookie);

    before = privateBytes();
    std::vector<BareEngine> engines(jobs);
    for (BareEngine& e : engines) e.prepare(script);
    double perEngine = double(privateBytes() - before) / jobs;
    engines.clear();
    std::printf("MEM private bytes per registered, compiled job %.0f, per bare engine with the same script %.0f: "
                "zTolvera adds %.0f bytes per job\n", perJob, perEngine, perJob - perEngine);
    figures.push_back({"memory", "bytes", "private bytes per job vs bare engine", perJob, perEngine,
                       perJob - perEngine, 0, true, "added_per_job"});
}

void writeJson(const wchar_t* path) {
    FILE* f = _wfopen(path, L"w");
    if (!f) return;
    std::fprintf(f, "{\n");
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure& g = figures[i];
        std::fprintf(f, "  \"%s\": {\"what\": \"%s\", \"unit\": \"%s\", \"ztolvera\": %.3f, \"reference\": %.3f, "
                        "\"%s\": %.4f%s}%s\n",
                     g.name.c_str(), g.comparison.c_str(), g.unit.c_str(), g.ours, g.reference,
                     g.ratioName, g.ratio,
                     g.target == 0 ? "" : (std::string(", \"target\": ") + std::to_string(g.target)).c_str(),
                     i + 1 < figures.size() ? "," : "");
    }
    std::fprintf(f, "}\n");
    std::fclose(f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    BenchHost host;
    if (!host.ok()) {
        std::fprintf(stderr, "bench: cannot create the Tolvera host\n");
        return 1;
    }
    benchCallOverhead(host);
    benchCallOverheadAfterAbort(host);
    benchLifecycle(host);
    benchScale(host, 1000, "P3");
    benchConcurrency(host);
    benchMemory(host);
    benchScale(host, 10000, "P3_10000");
    writeJson(argc > 1 ? argv[1] : L"results.json");
    return 0;
}
