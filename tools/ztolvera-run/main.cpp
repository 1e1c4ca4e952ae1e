// ztolvera-run: runs VBScript files as jobs of an agent in miniature, through
// zTolvera.dll and the stand-in agent core, and reports what the core got.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "calls.h"
#include "check.h"
#include "child.h"
#include "console.h"
#include "expectations.h"
#include "journal.h"
#include "junit.h"
#include "members.h"
#include "methods.h"
#include "operations.h"
#include "options.h"
#include "pairs.h"
#include "report.h"
#include "scenario.h"
#include "script.h"
#include "session.h"
#include "story.h"
#include "supervisor.h"
#include "timeline.h"
#include "tolvera.h"

namespace {

enum Status { AllSucceeded = 0, SomeFailed = 1, UsageError = 2, Hung = 3, Crashed = 4, ExpectationFailed = 5 };

// A status line once the jobs have taken this long (quick sessions need
// none), and without a console at most this often.
constexpr double kStatusAfterSeconds = 1;
constexpr double kPlainStatusSeconds = 5;
// The report file is rewritten as runs end, at most this often.
constexpr double kReportEverySeconds = 1;

void say(std::FILE* to, const std::wstring& text) {
    std::string bytes = utf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), to);
    std::fflush(to);
}

void complain(const std::wstring& text) { say(stderr, L"ztolvera-run: " + text + L"\n"); }

std::string summary(const JobStory& story) {
    return "job " + std::to_string(story.jobno) + " " + story.name + ": " + story.state + ", runs " +
           std::to_string(story.runs.size()) + ", succeeded " + std::to_string(story.succeeded) + ", script errors " +
           std::to_string(story.scriptErrors) + ", core calls " + std::to_string(story.coreCalls) + "\n";
}

// The session's exit status, from the same records the summaries and the
// report read.
Status exitStatus(const Ending& ending, const std::vector<JobStory>& jobs, const std::vector<Verdict>& verdicts,
                  bool reportFailed) {
    if (ending.crashed) return Crashed;
    if (ending.hung) return Hung;
    if (std::any_of(verdicts.begin(), verdicts.end(), [](const Verdict& v) { return !v.holds; })) return ExpectationFailed;
    bool failed = ending.fatal || ending.journalFailed || reportFailed ||
                  std::any_of(jobs.begin(), jobs.end(), [](const JobStory& j) { return j.failed; });
    return failed ? SomeFailed : AllSucceeded;
}

// Ctrl-C: the first lets the runs in progress end and the runner write its
// journal and report; the second ends the runs in progress at once, and the
// runner writes the summaries and the report of what finished and ends with
// 130, as a shell reports an interrupted program. A closed console, a logoff
// or a shutdown does the same with 143 (a terminated program), within the
// seconds the platform grants before it ends the process itself.
constexpr int kInterruptedStatus = 130;
constexpr int kTerminatedStatus = 143;
constexpr DWORD kCloseGraceMs = 4000;

HANDLE gStop = nullptr;
HANDLE gAbort = nullptr;
HANDLE gFinished = nullptr;           // the report and the summaries are out
volatile LONG gEndStatus = 0;         // the status an interruption asks for, 0 for none
Console* gConsole = nullptr;

BOOL WINAPI onControl(DWORD type) {
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        InterlockedCompareExchange(&gEndStatus, kTerminatedStatus, 0);
        SetEvent(gStop);
        SetEvent(gAbort);
        // Returning lets the platform end the process: not before the
        // runner has written what it has.
        WaitForSingleObject(gFinished, kCloseGraceMs);
        return TRUE;
    }
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (WaitForSingleObject(gStop, 0) != WAIT_OBJECT_0) {
        SetEvent(gStop);
        if (gConsole) gConsole->message("ztolvera-run: stopping after the runs in progress (Ctrl-C again ends them now)\n");
        return TRUE;
    }
    if (InterlockedCompareExchange(&gEndStatus, kInterruptedStatus, 0) == 0 && gConsole)
        gConsole->message("ztolvera-run: ending the runs in progress now\n");
    SetEvent(gAbort);
    return TRUE;
}

std::string clock(double seconds) {
    unsigned long s = static_cast<unsigned long>(seconds);
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%lu:%02lu", s / 60, s % 60);
    return text;
}

class StatusLine {
public:
    StatusLine(Console& console, const Session& session, const Timeline& timeline, unsigned runs, bool endless)
        : console_(console), session_(session), timeline_(timeline), runs_(runs), endless_(endless) {}

    void tick() {
        double now = session_.now();
        if (now < kStatusAfterSeconds) return;
        unsigned done = timeline_.runsDone();
        std::size_t n = timeline_.jobs().size();
        std::string text = "ztolvera-run: " + std::to_string(n) + (n == 1 ? " job, " : " jobs, ") +
                           std::to_string(done) + (endless_ ? "" : " of " + std::to_string(timeline_.runsPlanned(runs_))) +
                           " runs done, " + clock(now) + " elapsed" + (endless_ ? ", Ctrl-C ends" : "");
        if (console_.terminal()) {
            console_.status(text);
        } else if (done != lastDone_ && now - lastPlain_ >= kPlainStatusSeconds) {
            console_.status(text);
            lastDone_ = done;
            lastPlain_ = now;
        }
    }

private:
    Console& console_;
    const Session& session_;
    const Timeline& timeline_;
    unsigned runs_;
    bool endless_;
    unsigned lastDone_ = 0;
    double lastPlain_ = 0;
};

// What the summaries, the report and the exit status read, from the
// timeline as it stands (the report is refreshed while jobs still run).
struct Findings {
    std::vector<JobStory> jobs;
    std::vector<Verdict> verdicts;
};

Findings findings(const Scenario& scenario, const Timeline& timeline, const std::vector<std::wstring>& texts,
                  const Session& session) {
    // Script errors that the scenario asks for are the script doing right.
    bool errorsExpected = std::any_of(scenario.expectations.begin(), scenario.expectations.end(), [](const Expectation& e) {
        return e.kind == Expectation::ScriptError && !(e.count && *e.count == 0) && !(e.atMost && *e.atMost == 0);
    });
    Findings f;
    f.jobs = tellStories(timeline, texts, session, errorsExpected);
    f.verdicts = checkExpectations(scenario.expectations, f.jobs, session.lines());
    return f;
}

std::wstring commandLine(int argc, wchar_t** argv) {
    std::wstring line = L"ztolvera-run";
    for (int i = 1; i < argc; ++i) line += L" " + std::wstring(argv[i]);
    return line;
}

// What a session leaves for --test besides its status.
struct SessionOutcome {
    std::string trouble;                 // a usage error, or the jobs' failures in short
    std::vector<Verdict> verdicts;
    std::vector<JobStory> jobs;
    SYSTEMTIME began = {};
};

// The scenario's runs, fast and every, where the command line gave none.
void takeShape(Options& options, const Scenario& scenario) {
    if (scenario.runs && !options.runsGiven) options.runs = *scenario.runs, options.runsGiven = true;
    options.fast = options.fast || scenario.fast;
    if (scenario.everySeconds && options.everySeconds == 0) {
        options.everySeconds = *scenario.everySeconds;
        if (!options.runsGiven) options.runs = kMaxRuns;
        if (!options.threadsGiven)
            options.threads = static_cast<unsigned>(std::min<std::size_t>(options.scripts.size(), kMaxThreads));
    }
}

// Why the jobs failed the session, in one line: the first failed job's
// state and its first problem.
std::string troubleOf(const std::vector<JobStory>& jobs) {
    for (const JobStory& story : jobs) {
        if (!story.failed) continue;
        // A problem line names its job and runs already.
        std::vector<std::string> problems = problemLines(story);
        if (problems.empty()) return "job " + std::to_string(story.jobno) + " " + story.name + " " + story.state;
        std::string first = problems.front();
        while (!first.empty() && (first.back() == '\n' || first.back() == '\r')) first.pop_back();
        return first;
    }
    return "";
}

int runSession(Options& options, const std::wstring& line, SessionOutcome& outcome);
int runTests(const Options& options, const std::wstring& line);

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Output is UTF-8 with plain line ends, whatever the console does.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    Options options;
    std::wstring error;
    if (!parseOptions(argc, argv, options, error)) {
        complain(error);
        say(stderr, argc > 1 ? L"'ztolvera-run --help' lists the options\n" : kUsage);
        return UsageError;
    }
    if (options.help) {
        say(stdout, kUsage);
        return AllSucceeded;
    }
    // cmd.exe hands "*.vbs" over as typed; the child sees the same files.
    std::vector<std::wstring> unmatched = expandWildcards(options.scripts);
    if (options.everySeconds > 0 && !options.threadsGiven)
        options.threads = static_cast<unsigned>(std::clamp<std::size_t>(options.scripts.size(), 1, kMaxThreads));
    options.unmatched = std::move(unmatched);
    if (options.listMethods || !options.helpMethod.empty()) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        std::wstring why;
        const Members& members = serverMembers(&why);
        if (members.empty()) {
            complain(why);
            return SomeFailed;
        }
        if (options.listMethods) {
            std::string list = methodsList(members);
            std::fwrite(list.data(), 1, list.size(), stdout);
            return AllSucceeded;
        }
        const Member* member = findMember(members, options.helpMethod);
        if (!member) {
            std::wstring nearest;
            for (const std::wstring& name : nearestNames(members, options.helpMethod))
                nearest += (nearest.empty() ? L" (did you mean " : L" or ") + name;
            complain(L"CVEXT has no method " + options.helpMethod + (nearest.empty() ? L"" : nearest + L"?)") +
                     L"; --list-methods lists them");
            return UsageError;
        }
        std::string help = methodHelp(*member);
        std::fwrite(help.data(), 1, help.size(), stdout);
        return AllSucceeded;
    }
    if (options.listOps) {
        std::string list = operationsList();
        std::fwrite(list.data(), 1, list.size(), stdout);
        return AllSucceeded;
    }
    // The child takes the scenario and the scripts as the runner read them.
    if (!options.child.empty()) {
        ChildSpec spec;
        return parseChildSpec(options.child, spec) ? runChild(options, spec) : UsageError;
    }
    if (options.test) return runTests(options, commandLine(argc, argv));
    SessionOutcome outcome;
    return runSession(options, commandLine(argc, argv), outcome);
}

namespace {

int runSession(Options& options, const std::wstring& line, SessionOutcome& outcome) {
    std::wstring error;
    // Read before any job runs, so that a faulty scenario is a usage error.
    Scenario scenario;
    if (std::string why; options.hasScenario && !loadScenario(options.scenario, scenario, why)) {
        say(stderr, L"ztolvera-run: ");
        std::fwrite((why + "\n").data(), 1, why.size() + 1, stderr);
        outcome.trouble = why;
        return UsageError;
    }
    takeShape(options, scenario);

    // A file that cannot be read is named and left out: the others still
    // run, and the session ends with the usage error's status at least.
    bool unreadable = !options.unmatched.empty();
    for (const std::wstring& pattern : options.unmatched) complain(L"no file matches " + pattern);
    std::vector<std::wstring> paths, texts;
    std::vector<std::string> names;
    for (const std::wstring& path : options.scripts) {
        std::wstring text;
        bool ansi = false;
        if (!readScript(path, text, error, &ansi)) {
            complain(L"cannot read " + path + L": " + error);
            outcome.trouble = utf8(L"cannot read " + path + L": " + error);
            unreadable = true;
            continue;
        }
        if (ansi) complain(L"note: " + path + L" is not UTF-8; read as ANSI (code page " + std::to_wstring(GetACP()) + L")");
        paths.push_back(path);
        texts.push_back(std::move(text));
        names.push_back(utf8(jobNameOf(path)));
    }
    if (texts.empty()) return UsageError;
    if (options.check) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        return std::max<int>(checkFiles(paths, texts), unreadable ? UsageError : AllSucceeded);
    }
    // Both files are opened now, so that an unwritable one is a usage error
    // before any job runs.
    JournalTarget journal;
    if (options.hasJournal && !journal.open(options.journal, error)) {
        complain(L"cannot write the journal " + options.journal + L": " + error);
        return UsageError;
    }
    ReportFile report;
    if (options.hasReport && !report.open(options.report, error)) {
        complain(L"cannot write the report " + options.report + L": " + error);
        return UsageError;
    }
    // With the journal on standard output, the summaries step aside.
    Console console(journal.toStandardOutput());
    gConsole = &console;
    // Inherited by the jobs' process, which starts nothing new once it is
    // set; one for all the sessions of --test, so that Ctrl-C ends them all.
    if (!gStop) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        gStop = CreateEventW(&inherit, TRUE, FALSE, nullptr);
        gAbort = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        gFinished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(onControl, TRUE);
    }

    Session session;
    ReportFacts facts;
    facts.commandLine = utf8(line);
    facts.server = utf8(serverIdentity());
    facts.began = session.began();
    Timeline timeline(names);
    StatusLine status(console, session, timeline, options.runs, options.everySeconds > 0 && !options.runsGiven);

    Supervision supervision;
    supervision.options = &options;
    supervision.scenario = &scenario;
    supervision.texts = &texts;
    supervision.session = &session;
    supervision.journal = &journal;
    supervision.console = &console;
    supervision.stop = gStop;
    supervision.abort = gAbort;
    if (options.calls || options.trace)
        supervision.eachLine = [&console, &options](const Seen& seen) {
            std::string line = options.calls ? callLine(seen) : traceLine(seen);
            if (!line.empty()) console.summary(line);
        };
    // The report on disk follows the runs, so that a session killed without
    // warning leaves the report of the runs it finished.
    unsigned reportedRuns = 0;
    double reportedAt = 0;
    std::wstring reportError;
    bool reportFailed = false;
    auto gather = [&] {
        Findings f = findings(scenario, timeline, texts, session);
        facts.jobs = std::move(f.jobs);
        facts.verdicts = std::move(f.verdicts);
        facts.seconds = session.now();
    };
    auto writeReport = [&] {
        reportedRuns = timeline.runsDone();
        reportedAt = session.now();
        if (report.write(reportHtml(facts), reportError)) return;
        if (!reportFailed) complain(L"cannot write the report " + options.report + L": " + reportError);
        reportFailed = true;
    };
    supervision.tick = [&] {
        if (!options.quiet) status.tick();
        if (options.hasReport && timeline.runsDone() != reportedRuns && session.now() - reportedAt >= kReportEverySeconds) {
            gather();
            writeReport();
        }
    };
    // The type library is read in this process: the findings come before
    // the jobs' process starts, and the error lines' hints after it ended.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!options.quiet)
        for (const std::string& line : findingsBeforeRun(paths, texts)) console.message(line);
    Ending ending = superviseJobs(supervision, timeline);
    console.clearStatus();
    if (ending.journalFailed) complain(L"cannot write the journal " + options.journal + L": " + journal.failure());

    gather();
    if (!options.quiet) {
        if (!facts.server.empty()) console.summary(facts.server + "\n");
        for (const JobStory& story : facts.jobs) {
            console.summary(summary(story));
            for (const std::string& line : problemLines(story)) console.message(line);
            for (const std::string& line : overrunLines(story)) console.message(line);
        }
        for (const Verdict& v : facts.verdicts) {
            console.summary(verdictLine(v));
            for (const std::string& line : failureLines(v)) console.message(line);
        }
    }
    if (options.hasReport) writeReport();
    gConsole = nullptr;
    SetEvent(gFinished);
    Status ended = exitStatus(ending, facts.jobs, facts.verdicts, reportFailed);
    if (unreadable && (ended == AllSucceeded || ended == SomeFailed)) ended = UsageError;
    outcome.trouble = troubleOf(facts.jobs);
    if (outcome.trouble.empty() && ended != AllSucceeded && ended != ExpectationFailed)
        outcome.trouble = ending.fatal ? "the jobs could not be run" : "the session failed";
    outcome.verdicts = std::move(facts.verdicts);
    outcome.jobs = std::move(facts.jobs);
    outcome.began = facts.began;
    if (LONG interrupted = gEndStatus) return interrupted;
    return ended;
}

// How bad a pair's status is, for the status of --test: a crash, a hang, a
// file that could not be used, a failed expectation, a failed job.
int badness(int status) {
    switch (status) {
    case AllSucceeded: return 0;
    case SomeFailed: return 1;
    case ExpectationFailed: return 2;
    case UsageError: return 3;
    case Hung: return 4;
    case Crashed: return 5;
    }
    return 5;
}

// Each pair is a session of its own, quiet but for its PASS or FAIL line,
// with the runs and speed its scenario asks for unless the command line
// says otherwise (a scenario that asks for no runs gets one).
int runTests(const Options& options, const std::wstring& line) {
    std::vector<TestPair> pairs;
    std::wstring error;
    if (!findPairs(options.scripts, pairs, error)) {
        complain(error);
        return UsageError;
    }
    // Opened first, so that an unwritable file is a usage error before any job runs.
    JournalTarget junit;
    ReportFile report;
    if (options.hasJunit && !junit.open(options.junit, error)) {
        complain(L"cannot write the JUnit file " + options.junit + L": " + error);
        return UsageError;
    }
    if (options.hasReport && !report.open(options.report, error)) {
        complain(L"cannot write the report " + options.report + L": " + error);
        return UsageError;
    }
    // One report of every pair: each pair's job is a job of its own in it,
    // numbered in the order the pairs ran and named as its line.
    ReportFacts facts;
    facts.commandLine = utf8(line);
    facts.server = utf8(serverIdentity());
    if (!facts.server.empty()) say(stdout, serverIdentity() + L"\n");
    ULONGLONG sessionBegan = GetTickCount64();
    std::vector<PairOutcome> outcomes;
    int worst = AllSucceeded;
    for (const TestPair& pair : pairs) {
        if (gStop && WaitForSingleObject(gStop, 0) == WAIT_OBJECT_0) break;
        Options one = options;
        one.test = false;
        one.quiet = true;
        one.scripts = {pair.script};
        one.hasScenario = !pair.scenario.empty();
        one.scenario = pair.scenario;
        one.hasReport = false;
        if (!options.runsGiven) one.runs = 1;
        if (!options.threadsGiven) one.threads = 1;
        SessionOutcome session;
        ULONGLONG began = GetTickCount64();
        PairOutcome outcome;
        outcome.status = runSession(one, line + L" [" + pairName(pair) + L"]", session);
        outcome.seconds = (GetTickCount64() - began) / 1000.0;
        outcome.name = utf8(pairName(pair));
        outcome.suite = utf8(pairSuite(pair));
        outcome.trouble = session.trouble;
        outcome.verdicts = std::move(session.verdicts);
        if (outcomes.empty()) facts.began = session.began;
        for (JobStory& story : session.jobs) {
            unsigned long jobno = facts.jobs.size() + 1;
            for (const Verdict& v : outcome.verdicts) {
                if (v.jobno != story.jobno) continue;
                facts.verdicts.push_back(v);
                facts.verdicts.back().jobno = jobno;
            }
            story.jobno = jobno;
            story.name = outcome.name;
            facts.jobs.push_back(std::move(story));
        }
        std::string text = pairLine(outcome);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        if (badness(outcome.status) > badness(worst)) worst = outcome.status;
        outcomes.push_back(std::move(outcome));
    }
    std::size_t passed = std::count_if(outcomes.begin(), outcomes.end(), [](const PairOutcome& o) { return o.status == 0; });
    say(stdout, std::to_wstring(passed) + L" of " + std::to_wstring(pairs.size()) + L" pairs passed" +
                    (outcomes.size() < pairs.size() ? L", " + std::to_wstring(pairs.size() - outcomes.size()) + L" not run (stopped)" : L"") +
                    L"\n");
    if (outcomes.size() < pairs.size() && worst == AllSucceeded) worst = SomeFailed;
    facts.seconds = (GetTickCount64() - sessionBegan) / 1000.0;
    if (options.hasReport && !report.write(reportHtml(facts), error)) {
        complain(L"cannot write the report " + options.report + L": " + error);
        if (worst == AllSucceeded) worst = SomeFailed;
    }
    if (options.hasJunit && !junit.write(junitXml(outcomes))) {
        complain(L"cannot write the JUnit file " + options.junit);
        if (worst == AllSucceeded) worst = SomeFailed;
    }
    return worst;
}

}  // namespace
