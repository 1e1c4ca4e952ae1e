// zTolvera's benchmarks. Every timed figure is a ratio of two sides measured
// in this one run, in many short interleaved rounds (rounds.h), so that two
// runs in a row give the same figure on a shared machine:
//   P1  call overhead: runs of a compiled job whose loop calls CVEXT.DataLog
//       down to the agent core against runs of a bare engine whose same loop
//       calls a do-nothing IDispatch stub;
//       P1a the same loop run just after another job of the process ended
//       itself with CVEXT.AbortScript, against the loop without that;
//   P2  job lifecycle: reg, compile, run, unreg of a 50-line script against
//       the bare engine's create, InitNew, parse, run and close;
//   P3  scale: the cost of a run and of its calls with 1,000 and with 10,000
//       jobs registered against 10, the same two jobs run over and over,
//       and with 10,000 every job run in turn (population.h); and what
//       10,000 jobs take of memory;
//   P4  concurrency: job lifecycles on 2 threads against the bare engine on
//       2 threads;
//   memory: private bytes per registered job beyond the engine's own.
// Results are printed and written as JSON to the file named on the command
// line (default results.json).
#include <windows.h>
#include <activscp.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_host.h"
#include "population.h"
#include "rounds.h"

namespace {

struct Figure {
    std::string name, comparison, unit;
    double target = 0;              // 0: none
    bool lowerIsBetter = true;
    const char* ratioName = "ratio";
    double ours = 0, reference = 0; // rates, or bytes
    // The per-round ratios; with a count of 0, one value measured once.
    Spread ratio;
};

std::vector<Figure> figures;

void report(const Figure& f) {
    std::printf("%-13s %-48s zTolvera %10.1f %-7s reference %10.1f %-7s %s %.3f", f.name.c_str(),
                f.comparison.c_str(), f.ours, f.unit.c_str(), f.reference, f.unit.c_str(), f.ratioName,
                f.ratio.median);
    if (f.ratio.count)
        std::printf(" (IQR %.3f-%.3f, range %.3f-%.3f, %d pairs)", f.ratio.q1, f.ratio.q3, f.ratio.min, f.ratio.max,
                    f.ratio.count);
    if (f.target) {
        bool met = f.lowerIsBetter ? f.ratio.median <= f.target : f.ratio.median >= f.target;
        std::printf(" target %s %.2f %s", f.lowerIsBetter ? "<=" : ">=", f.target, met ? "met" : "MISSED");
    }
    std::printf("\n");
    std::fflush(stdout);
    figures.push_back(f);
}

// The one way a timed figure is taken: `pairs` interleaved pairs of rounds,
// each doing `work` units (calls, runs, jobs) on its side. The rates are
// those of the median rounds; the ratio is the median of the pairs' ratios.
void compare(Figure f, int pairs, double work, const std::function<double()>& ours,
             const std::function<double()>& reference) {
    Rounds rounds = interleave(pairs, ours, reference);
    f.ours = work / spreadOf(rounds.ours).median;
    f.reference = work / spreadOf(rounds.reference).median;
    f.ratio = f.lowerIsBetter ? rounds.costRatio() : rounds.throughputRatio();
    report(f);
}

// Many short rounds rather than a few long ones: a pair of rounds that
// lasts a few tens of milliseconds sees one phase of the machine, and the
// median over hundreds of pairs is the same from one run to the next.
constexpr int kPairs = 301;

// The cost of a call, apart from what a job's lifecycle costs: runs of a job
// compiled once against runs of a bare engine that parsed the script once.
void benchCallOverhead(BenchHost& host) {
    const int calls = 5000;
    auto callCost = [&](Figure figure, const std::wstring& ours, const std::wstring& stub) {
        unsigned long job = host.reg(ours, true);
        BareEngine engine;
        engine.prepare(stub, true);
        compare(figure, kPairs, calls, [&] { return seconds([&] { host.run(job); }); },
                [&] { return seconds([&] { engine.run(); }); });
        host.unreg(job);
    };
    callCost({"P1", "CVEXT.DataLog vs do-nothing IDispatch stub", "calls/s", 1.25}, loopScript(L"CVEXT", calls),
             loopScript(L"STUB", calls));
    // Where the floor lies: the same loop calling a method of ScpExt that does
    // nothing (GetObjList) costs the platform's type-information dispatch and
    // nothing of zTolvera's own.
    auto getObjList = [&](const wchar_t* object) {
        return L"Sub main()\n  Dim i, s\n  For i = 1 To " + std::to_wstring(calls) + L"\n    s = " + object +
               L".GetObjList(\"c\", \"o\")\n  Next\nEnd Sub\n";
    };
    callCost({"P1_floor", "CVEXT.GetObjList (no work) vs stub", "calls/s"}, getObjList(L"CVEXT"),
             getObjList(L"STUB"));
}

// An abort ends the run it met and leaves nothing behind that later calls
// pay for: a run of the loop just after another job's self-abort (that job
// still registered) against a run of the same loop without. The abort and
// its job's removal are outside the timed part.
void benchCallOverheadAfterAbort(BenchHost& host) {
    const int calls = 5000;
    unsigned long loop = host.reg(loopScript(L"CVEXT", calls), true);
    const std::wstring aborting = L"Sub main()\n  CVEXT.AbortScript\nEnd Sub\n";
    bool aborted = true;
    compare({"P1a", "CVEXT.DataLog after a self-abort vs without", "calls/s", 1.05}, kPairs, calls,
            [&] {
                unsigned long cookie = host.reg(aborting, true);
                aborted = host.run(cookie) && aborted;     // an abort counts as success
                double took = seconds([&] { host.run(loop); });
                host.unreg(cookie);
                return took;
            },
            [&] { return seconds([&] { host.run(loop); }); });
    host.unreg(loop);
    if (!aborted) std::printf("              the aborting job's run failed: the figure does not follow an abort\n");
}

void benchLifecycle(BenchHost& host) {
    const int jobs = 40;
    std::wstring script = fiftyLineScript();
    compare({"P2", "reg/compile/run/unreg vs bare engine", "jobs/s", 1.15}, kPairs, jobs,
            [&] { return seconds([&] { for (int i = 0; i < jobs; ++i) host.lifecycle(script); }); },
            [&] { return seconds([&] { for (int i = 0; i < jobs; ++i) bareRun(script, false); }); });
}

// Seconds that `work` takes on two threads at once.
double onTwoThreads(const std::function<void()>& work) {
    return seconds([&] {
        auto thread = [&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            work();
            CoUninitialize();
        };
        std::thread a(thread), b(thread);
        a.join();
        b.join();
    });
}

void benchConcurrency(BenchHost& host) {
    const int jobs = 40;   // per thread
    std::wstring script = fiftyLineScript();
    compare({"P4", "throughput on 2 threads vs bare engine", "jobs/s", 0.9, false}, kPairs, 2 * jobs,
            [&] { return onTwoThreads([&] { for (int i = 0; i < jobs; ++i) host.lifecycle(script); }); },
            [&] { return onTwoThreads([&] { for (int i = 0; i < jobs; ++i) bareRun(script, false); }); });
}

// Private bytes per job of `jobs` registered, compiled jobs ("host") or of
// `jobs` bare engines that parsed the same script ("bare"), counted in a
// process of their own after a first one has loaded what all of them share:
// in the bench's own process, what earlier figures freed would be reused and
// the count would depend on what ran before.
int serveFootprint(const std::wstring& side, int jobs) {
    std::wstring script = fiftyLineScript();
    double held = 0, inUse = 0;
    if (side == L"host") {
        BenchHost host;
        if (!host.ok()) return 1;
        std::vector<unsigned long> cookies;
        cookies.reserve(jobs + 1);
        cookies.push_back(host.reg(script, true));
        SIZE_T before = privateBytes(), heapBefore = heapBytesInUse();
        for (int i = 0; i < jobs; ++i) cookies.push_back(host.reg(script, true));
        held = double(privateBytes() - before);
        inUse = double(heapBytesInUse() - heapBefore);
        for (unsigned long cookie : cookies) host.unreg(cookie);
    } else {
        std::vector<BareEngine> engines(jobs + 1);
        engines[0].prepare(script);
        SIZE_T before = privateBytes(), heapBefore = heapBytesInUse();
        for (int i = 1; i <= jobs; ++i) engines[i].prepare(script);
        held = double(privateBytes() - before);
        inUse = double(heapBytesInUse() - heapBefore);
    }
    std::printf("%.1f %.1f\n", held / jobs, inUse / jobs);
    return 0;
}

// Private bytes and heap bytes in use per job.
struct Footprint {
    double held = 0, inUse = 0;
};

Footprint footprint(const wchar_t* side, int jobs) {
    ChildProcess child(std::wstring(L"--footprint ") + side + L" " + std::to_wstring(jobs));
    std::string line;
    Footprint f;
    if (child.receive(line)) std::sscanf(line.c_str(), "%lf %lf", &f.held, &f.inUse);
    return f;
}

void benchMemory() {
    const int jobs = 1000;
    const Footprint job = footprint(L"host", jobs), engine = footprint(L"bare", jobs);
    std::printf("MEM           private bytes per registered, compiled job %.0f, per bare engine with the same script "
                "%.0f: zTolvera adds %.0f bytes per job\n", job.held, engine.held, job.held - engine.held);
    std::printf("MEM           heap bytes in use per registered, compiled job %.0f, per bare engine %.0f: zTolvera "
                "adds %.0f bytes per job\n", job.inUse, engine.inUse, job.inUse - engine.inUse);
    auto added = [](const char* name, const char* what, double ours, double reference) {
        Figure f{name, what, "bytes"};
        f.ratioName = "added_per_job";
        f.ours = ours;
        f.reference = reference;
        f.ratio.median = ours - reference;
        figures.push_back(f);
    };
    added("memory", "private bytes per job vs bare engine", job.held, engine.held);
    added("memory_in_use", "heap bytes in use per job vs bare engine", job.inUse, engine.inUse);
}

// P3: the same rounds in a process with `large` jobs registered and in one
// with ten.
void compareScale(Population& ten, Population& large, Runs which, const std::string& name, double target) {
    const int runs = 200;
    std::string what = "cost of a run, " + std::to_string(large.total() / 1000) + ",000 jobs vs 10" +
                       (which == Runs::InTurn ? ", all in turn" : ", same two");
    compare({name, what, "runs/s", target}, kPairs, runs, [&] { return large.round(which, runs); },
            [&] { return ten.round(which, runs); });
}

void benchScale() {
    Population ten(10), thousand(1000), many(10000);   // set up side by side, before any round
    if (!ten.ready() || !thousand.ready() || !many.ready()) {
        std::printf("P3            a population's process could not register its jobs: no figure\n");
        return;
    }
    compareScale(ten, thousand, Runs::SameTwo, "P3", 1.05);
    compareScale(ten, many, Runs::SameTwo, "P3_10000", 1.05);
    // Jobs run in turn also meet engines gone cold in the processor's
    // caches, which costs about 1.05 with lookups that do not depend on the
    // number of jobs. A list that moves each job it finds to its front shows
    // only here (1.8 with the cache's entry lookup made so).
    compareScale(ten, many, Runs::InTurn, "P3_10000_turn", 1.15);
    if (!ten.ok() || !thousand.ok() || !many.ok())
        std::printf("              a population's process stopped answering: the figures above mean nothing\n");
    long failed = ten.failedRuns() + thousand.failedRuns() + many.failedRuns();
    if (failed) std::printf("              %ld measured runs failed: the figures time failures\n", failed);

    // Held is counted over the jobs between the first and the last.
    const double space = 2048.0 * 1024 * 1024, perJob = many.heldBytes() / (many.total() - 2),
                 held = perJob * many.total();
    std::printf("MEM           %d registered jobs compiled with the fifty-line script take %.1f MB of private memory "
                "(%.0f bytes each), %.1f%% of a 32-bit process's 2 GiB; registering and compiling them took "
                "%.1f s\n", many.total(), held / 1048576.0, perJob, 100.0 * held / space, many.registerSeconds());
    Figure f{"memory_10000", "private bytes of 10,000 registered, compiled fifty-line jobs vs 2 GiB", "bytes"};
    f.ratioName = "share";
    f.ours = held;
    f.reference = space;
    f.ratio.median = held / space;
    figures.push_back(f);
}

void writeJson(const wchar_t* path) {
    FILE* f = _wfopen(path, L"w");
    if (!f) return;
    std::fprintf(f, "{\n");
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure& g = figures[i];
        std::fprintf(f, "  \"%s\": {\"what\": \"%s\", \"unit\": \"%s\", \"ztolvera\": %.3f, \"reference\": %.3f, "
                        "\"%s\": %.4f", g.name.c_str(), g.comparison.c_str(), g.unit.c_str(), g.ours, g.reference,
                     g.ratioName, g.ratio.median);
        if (g.ratio.count)
            std::fprintf(f, ", \"q1\": %.4f, \"q3\": %.4f, \"min\": %.4f, \"max\": %.4f, \"pairs\": %d", g.ratio.q1,
                         g.ratio.q3, g.ratio.min, g.ratio.max, g.ratio.count);
        if (g.target) std::fprintf(f, ", \"target\": %.2f", g.target);
        std::fprintf(f, "}%s\n", i + 1 < figures.size() ? "," : "");
    }
    std::fprintf(f, "}\n");
    std::fclose(f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (argc > 2 && std::wstring(argv[1]) == L"--population") return servePopulation(_wtoi(argv[2]));
    if (argc > 3 && std::wstring(argv[1]) == L"--footprint") return serveFootprint(argv[2], _wtoi(argv[3]));
    BenchHost host;
    if (!host.ok()) {
        std::fprintf(stderr, "bench: cannot create the Tolvera host\n");
        return 1;
    }
    benchCallOverhead(host);
    benchCallOverheadAfterAbort(host);
    benchLifecycle(host);
    benchConcurrency(host);
    benchMemory();
    if (host.failed()) std::printf("              %ld runs failed: the figures time failures\n", host.failed());
    benchScale();
    writeJson(argc > 1 ? argv[1] : L"results.json");
    return 0;
}
