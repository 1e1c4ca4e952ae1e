// Command line of ztolvera-run.
#pragma once

#include <string>
#include <vector>

#include "format.h"

// What a core operation answers from now on (standin_setResult, _setText,
// _setAbort), from --set OP=INT, --set OP.text=TEXT, --set OP.abort=N. OP is
// an operation of the core as the journal names it, not a script method.
struct CoreSetting {
    enum Kind { Result, Text, Abort };
    Kind kind = Result;
    std::string op;
    long value = 0;
    std::string text;     // ANSI code page, as the core's strings are
};

struct Options {
    unsigned runs = 1;
    unsigned threads = 1;
    unsigned timeoutSeconds = 0;    // 0: no limit
    bool runsGiven = false;
    bool threadsGiven = false;
    double everySeconds = 0;        // 0: each job's runs back to back
    bool fast = false;              // waits of the core cut short
    bool calls = false;             // the calls log
    bool trace = false;             // the scripts' ZTrace lines as they happen
    bool standalone = false;
    bool quiet = false;
    bool help = false;
    bool check = false;             // only the checker's findings, nothing run
    bool listOps = false;           // print the core's operations and what each answers
    bool listMethods = false;       // print CVEXT's methods from the type library
    std::wstring helpMethod;        // --help METHOD: that method's parameters and result
    bool hasScenario = false;
    std::wstring scenario;          // a scenario file (scenario.h)
    bool hasJournal = false;
    std::wstring journal;           // L"-": standard output
    bool hasReport = false;
    std::wstring report;
    bool test = false;              // --test: each script with its scenarios, PASS/FAIL per pair
    bool hasJunit = false;
    std::wstring junit;             // JUnit XML of --test
    std::vector<CoreSetting> settings;
    std::vector<std::wstring> scripts;
    std::vector<std::wstring> unmatched;   // patterns among the scripts that matched no file (expandWildcards)
    std::wstring child;             // --child SPEC: this process runs the jobs for its runner
};

// Limits that keep every run's pwdobj (job*1000 + run) distinct and the
// worker count within what one wait can watch.
constexpr unsigned kMaxRuns = jnl::kRunsPerJob - 1;
constexpr unsigned kMaxThreads = 32;
constexpr unsigned kMaxTimeout = 86400;
constexpr double kMinEvery = 0.01;
constexpr double kMaxEvery = 86400;

// Parses argv[1..]; false with a message in `error` on a usage error. With
// --every and no --runs, runs is kMaxRuns: the jobs run until interrupted;
// with --every and no --threads, each job has a worker of its own (up to
// kMaxThreads), so that one job's runs do not hold back another's.
bool parseOptions(int argc, const wchar_t* const* argv, Options& options, std::wstring& error);

extern const wchar_t kUsage[];
