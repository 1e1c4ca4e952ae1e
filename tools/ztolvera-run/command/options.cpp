#include "options.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "distance.h"
#include "operations.h"
#include "script.h"

const wchar_t kUsage[] =
    L"usage: ztolvera-run [options] script.vbs...   (options as --runs 3 or --runs=3)\n"
    L"       ztolvera-run --check script.vbs...\n"
    L"       ztolvera-run --test [--junit FILE.xml] [folder|script.vbs...]\n"
    L"  --check             only check the scripts against the type library and the\n"
    L"                      engine's known gaps: file:line:column: error|warning: ...\n"
    L"                      (exit 1 on errors); runs nothing\n"
    L"  --test              run each NAME.vbs under each of its scenarios (NAME.toml,\n"
    L"                      NAME.*.toml) and print PASS or FAIL per pair (default: the\n"
    L"                      current folder); exit by the worst pair; --report writes\n"
    L"                      one report of every pair\n"
    L"  --junit FILE.xml    with --test, one JUnit test case per expectation\n"
    L"  --runs N            run each job N times (0-999, default 1; with --every,\n"
    L"                      until Ctrl-C, at most 999)\n"
    L"  --every SECONDS     start a job's runs SECONDS apart, as the agent does with a\n"
    L"                      job's interval (0.01-86400, decimals allowed)\n"
    L"  --fast              cut the core's waits (CVSleep and the like) to 50 ms\n"
    L"  --threads N         compile and run the jobs on N worker threads (1-32, default 1;\n"
    L"                      with --every, one per job)\n"
    L"  --timeout SECONDS   report a step still going after SECONDS as hung (exit 3)\n"
    L"  --standalone        put the host into stand-alone mode (config 1)\n"
    L"  --scenario FILE     answers of the core per argument and run, its stores'\n"
    L"                      starting content and expectations, from a TOML file\n"
    L"  --set OP=INT        integer result of core operation OP (--list-ops names them)\n"
    L"  --set OP.text=TEXT  text that OP writes or returns\n"
    L"  --set OP.abort=N    abort flag that the wait OP reports\n"
    L"  --list-ops          list the core's operations and what each answers\n"
    L"  --list-methods      list the methods of CVEXT that a script calls\n"
    L"  --help METHOD       a method's parameters, defaults and result, and its pitfalls\n"
    L"  --calls             log every core call as it happens: job, run, operation,\n"
    L"                      arguments, result\n"
    L"  --trace             print each CVEXT.ZTrace line of the scripts as it happens\n"
    L"                      (with --calls, the calls log has them already)\n"
    L"  --journal FILE      write the journal (JSON Lines) to FILE, - for standard output\n"
    L"  --report FILE.html  write a report with the runs, errors, events and a chart\n"
    L"                      of each data stream, one self-contained HTML file\n"
    L"  --quiet             no summary lines, no status line\n"
    L"Script files may be UTF-8, UTF-16 with its mark or ANSI; names may hold * and ?.\n"
    L"Exit status: 0 all compiled and every run succeeded, 1 otherwise, 2 usage or\n"
    L"unreadable file or scenario (the other files still run), 3 a run hung, 4 a job\n"
    L"crashed the script engine, 5 an expectation of the scenario failed, 130 ended by\n"
    L"a second Ctrl-C, 143 by a closed console (after the summaries and the report).\n";

namespace {

// A whole-string decimal integer within [low, high].
bool parseNumber(const std::wstring& text, long low, long high, long& value) {
    if (text.empty() || text.size() > 11) return false;
    wchar_t* end = nullptr;
    long long v = std::wcstoll(text.c_str(), &end, 10);
    if (*end || iswspace(text[0]) || v < low || v > high) return false;
    value = static_cast<long>(v);
    return true;
}

// A whole-string decimal number of seconds within [low, high].
bool parseSeconds(const std::wstring& text, double low, double high, double& value) {
    if (text.empty() || text.size() > 16 || iswspace(text[0])) return false;
    for (wchar_t c : text)
        if (!iswdigit(c) && c != L'.') return false;
    wchar_t* end = nullptr;
    double v = std::wcstod(text.c_str(), &end);
    if (*end || !(v >= low && v <= high)) return false;
    value = v;
    return true;
}

// Every option the runner takes, for the nearest one to a misspelling.
const wchar_t* const kOptionNames[] = {
    L"--check", L"--runs", L"--every", L"--fast", L"--threads", L"--timeout", L"--standalone", L"--scenario",
    L"--set", L"--list-ops", L"--list-methods", L"--calls", L"--trace", L"--test", L"--junit", L"--journal",
    L"--report", L"--quiet", L"--help",
};

// A method's name as a script writes it after "CVEXT.", not a file name.
bool isMethodName(const std::wstring& name) {
    if (name.empty() || !iswalpha(name[0])) return false;
    for (wchar_t c : name)
        if (!(iswalnum(c) && c < 0x80) && c != L'_') return false;
    return true;
}

std::wstring unknownOption(const std::wstring& arg) {
    std::wstring nearest;
    std::size_t best = 4;
    for (const wchar_t* name : kOptionNames)
        if (std::size_t d = editDistance(arg, std::wstring(name)); d < best) best = d, nearest = name;
    return L"unknown option " + arg + (nearest.empty() ? L"" : L" (did you mean " + nearest + L"?)");
}

bool isOpName(const std::wstring& op) {
    if (op.empty()) return false;
    for (wchar_t c : op)
        if (!(iswalnum(c) && c < 0x80) && c != L'_') return false;
    return true;
}

std::wstring widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool parseSetting(const std::wstring& spec, CoreSetting& setting, std::wstring& error) {
    std::size_t eq = spec.find(L'=');
    if (eq == std::wstring::npos) {
        error = L"--set needs OP=INT, OP.text=TEXT or OP.abort=N, not \"" + spec + L"\"";
        return false;
    }
    std::wstring key = spec.substr(0, eq), value = spec.substr(eq + 1);
    std::wstring op = key, field = L"result";
    if (std::size_t dot = key.find(L'.'); dot != std::wstring::npos) {
        op = key.substr(0, dot);
        field = key.substr(dot + 1);
    }
    if (!isOpName(op) || !isOpName(field)) {
        error = L"--set " + key + L": \"" + op + L"\" is not an operation name";
        return false;
    }
    setting.op = ansi(op);
    const coreops::Operation* known = findOperation(setting.op);
    std::string why;
    if (!known) why = unknownOperation(setting.op);
    else if (field == L"result") setting.kind = CoreSetting::Result;
    else if (checkField(*known, ansi(field), why)) setting.kind = field == L"text" ? CoreSetting::Text : CoreSetting::Abort;
    if (!why.empty()) {
        error = L"--set " + key + L": " + widened(why);
        return false;
    }
    if (setting.kind == CoreSetting::Text) {
        setting.text = ansi(value);
        return true;
    }
    if (!parseNumber(value, LONG_MIN, LONG_MAX, setting.value)) {
        error = L"--set " + key + L": \"" + value + L"\" is not an integer";
        return false;
    }
    return true;
}

}  // namespace

bool parseOptions(int argc, const wchar_t* const* argv, Options& options, std::wstring& error) {
    struct Count { const wchar_t* name; unsigned* target; long low, high; };
    const Count counts[] = {
        {L"--runs", &options.runs, 0, kMaxRuns},
        {L"--threads", &options.threads, 1, kMaxThreads},
        {L"--timeout", &options.timeoutSeconds, 1, kMaxTimeout},
    };
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (!onlyFiles && arg == L"/?") { options.help = true; return true; }
        if (onlyFiles || arg.empty() || arg[0] != L'-' || arg == L"-") {
            options.scripts.push_back(arg);
            continue;
        }
        if (arg == L"--") { onlyFiles = true; continue; }
        // --runs=3 as well as --runs 3.
        std::wstring given;
        bool valueGiven = false;
        if (std::size_t eq = arg.find(L'='); arg.rfind(L"--", 0) == 0 && eq != std::wstring::npos) {
            given = arg.substr(eq + 1);
            arg.resize(eq);
            valueGiven = true;
        }
        bool takesValue = arg == L"--set" || arg == L"--journal" || arg == L"--report" || arg == L"--every" ||
                          arg == L"--scenario" || arg == L"--child" || arg == L"--junit";
        for (const Count& c : counts) takesValue |= arg == c.name;
        if (valueGiven && !takesValue && arg != L"--help") {
            error = std::find(std::begin(kOptionNames), std::end(kOptionNames), arg) != std::end(kOptionNames)
                        ? arg + L" takes no value"
                        : unknownOption(arg);
            return false;
        }
        if (arg == L"--help" && (valueGiven || (i + 1 < argc && isMethodName(argv[i + 1])))) {
            options.helpMethod = valueGiven ? given : argv[i + 1];
            if (!isMethodName(options.helpMethod)) {
                error = L"--help takes a method name, not \"" + options.helpMethod + L"\"";
                return false;
            }
            return true;
        }
        if (arg == L"--help" || arg == L"-h") { options.help = true; return true; }
        if (arg == L"--list-methods") { options.listMethods = true; return true; }
        if (arg == L"--standalone") { options.standalone = true; continue; }
        if (arg == L"--quiet") { options.quiet = true; continue; }
        if (arg == L"--fast") { options.fast = true; continue; }
        if (arg == L"--calls") { options.calls = true; continue; }
        if (arg == L"--trace") { options.trace = true; continue; }
        if (arg == L"--check") { options.check = true; continue; }
        if (arg == L"--test") { options.test = true; continue; }
        if (arg == L"--list-ops") { options.listOps = true; return true; }

        if (!takesValue) {
            error = unknownOption(arg);
            return false;
        }
        if (!valueGiven && i + 1 >= argc) {
            error = arg + L" needs a value";
            return false;
        }
        std::wstring value = valueGiven ? given : argv[++i];
        // The options that name a file to write.
        struct FileOption {
            const wchar_t* name;
            bool Options::*given;
            std::wstring Options::*path;
        };
        static const FileOption kFiles[] = {{L"--journal", &Options::hasJournal, &Options::journal},
                                            {L"--report", &Options::hasReport, &Options::report},
                                            {L"--junit", &Options::hasJunit, &Options::junit}};
        const FileOption* file = nullptr;
        for (const FileOption& f : kFiles)
            if (arg == f.name) file = &f;
        if (file) {
            if (value.empty()) {
                error = arg + L" needs a file name";
                return false;
            }
            options.*file->given = true;
            options.*file->path = value;
        } else if (arg == L"--child") {
            options.child = value;
        } else if (arg == L"--scenario") {
            if (value.empty()) { error = L"--scenario needs a file name"; return false; }
            // Two files' answers and expectations would have to be merged by
            // rules nobody could guess from the command line.
            if (options.hasScenario) {
                error = L"--scenario is given twice (" + options.scenario + L", " + value +
                        L"): one scenario per session; --test runs a script under each of its scenarios";
                return false;
            }
            options.hasScenario = true;
            options.scenario = value;
        } else if (arg == L"--every") {
            if (!parseSeconds(value, kMinEvery, kMaxEvery, options.everySeconds)) {
                error = L"--every takes seconds from 0.01 to 86400, not \"" + value + L"\"";
                return false;
            }
        } else if (arg == L"--set") {
            CoreSetting setting;
            if (!parseSetting(value, setting, error)) return false;
            options.settings.push_back(setting);
        } else {
            for (const Count& c : counts) {
                long v = 0;
                if (arg != c.name) continue;
                if (!parseNumber(value, c.low, c.high, v)) {
                    error = arg + L" takes a whole number from " + std::to_wstring(c.low) + L" to " +
                            std::to_wstring(c.high) + L", not \"" + value + L"\"";
                    return false;
                }
                *c.target = static_cast<unsigned>(v);
                if (c.target == &options.runs) options.runsGiven = true;
                if (c.target == &options.threads) options.threadsGiven = true;
            }
        }
    }
    if (options.hasJunit && !options.test) {
        error = L"--junit goes with --test";
        return false;
    }
    if (options.test && options.hasScenario) {
        error = L"--test takes each script's scenarios from beside it, not --scenario";
        return false;
    }
    if (options.test && options.hasJournal) {
        error = L"--test writes no journal: run a failing pair alone with --journal";
        return false;
    }
    if (options.test && options.scripts.empty()) options.scripts.push_back(L".");
    if (options.scripts.empty()) {
        error = L"no script file given";
        return false;
    }
    if (options.everySeconds > 0 && !options.runsGiven) options.runs = kMaxRuns;
    if (options.everySeconds > 0 && !options.threadsGiven)
        options.threads = static_cast<unsigned>(std::min<std::size_t>(options.scripts.size(), kMaxThreads));
    return true;
}
