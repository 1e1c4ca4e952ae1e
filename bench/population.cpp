#include "population.h"

#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "bench_host.h"
#include "rounds.h"

// The protocol is one line each way: the process says "ready HELD SECONDS"
// once set up (or "failed"), answers "turn N" and "same N" with "SECONDS
// FAILED", and ends when its input closes.

Population::Population(int total) : total_(total), process_(L"--population " + std::to_wstring(total)) {}

bool Population::ready() {
    std::string line;
    return process_.receive(line) &&
           std::sscanf(line.c_str(), "ready %lf %lf", &heldBytes_, &registerSeconds_) == 2;
}

double Population::round(Runs which, int runs) {
    std::string line;
    double took = 0;
    long failed = 0;
    if (process_.send((which == Runs::InTurn ? "turn " : "same ") + std::to_string(runs)) &&
        process_.receive(line))
        std::sscanf(line.c_str(), "%lf %ld", &took, &failed);
    failedRuns_ += failed;
    return took;
}

int servePopulation(int total) {
    BenchHost host;
    if (!host.ok()) {
        std::printf("failed\n");
        return 1;
    }
    const std::wstring script = fiftyLineScript(10);
    std::vector<unsigned long> jobs = {host.reg(script, true)};
    SIZE_T before = privateBytes();
    double took = seconds([&] {
        std::thread registering([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 2; i < total; ++i) jobs.push_back(host.reg(script, true));
            CoUninitialize();
        });
        registering.join();
    });
    double held = double(privateBytes() - before);
    jobs.push_back(host.reg(script, true));
    std::printf("ready %.0f %.3f\n", held, took);
    std::fflush(stdout);

    std::size_t next = 0;    // in turn: the job that ran longest ago
    char line[64], which[8];
    int runs = 0;
    while (std::fgets(line, sizeof line, stdin) && std::sscanf(line, "%7s %d", which, &runs) == 2) {
        bool inTurn = std::strcmp(which, "turn") == 0;
        long failedBefore = host.failed();
        double round = seconds([&] {
            for (int i = 0; i < runs; ++i) {
                if (inTurn) {
                    host.run(jobs[next]);
                    next = (next + 1) % jobs.size();
                } else {
                    host.run(i % 2 ? jobs.back() : jobs.front());
                }
            }
        });
        std::printf("%.9f %ld\n", round, host.failed() - failedBefore);
        std::fflush(stdout);
    }
    for (unsigned long cookie : jobs) host.unreg(cookie);
    return 0;
}
