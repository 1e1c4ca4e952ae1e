// ztolvera-run: runs VBScript files as jobs of an agent in miniature, through
// zTolvera.dll and the stand-in agent core, and reports what the core got.
#include <windows.h>
#include <ole2.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "agent.h"
#include "calls.h"
#include "check.h"
#include "console.h"
#include "journal.h"
#include "options.h"
#include "report.h"
#include "script.h"
#include "session.h"
#include "standin.h"
#include "story.h"
#include "tolvera.h"

namespace {

enum Status { AllSucceeded = 0, SomeFailed = 1, UsageError = 2, Hung = 3 };

// What the core's waits really take with --fast: the stand-in's test limit.
constexpr long kFastWaitMs = 50;
// A status line once the jobs have taken this long (quick sessions need
// none), and without a console at most this often.
constexpr double kStatusAfterSeconds = 1;
constexpr double kPlainStatusSeconds = 5;

void say(std::FILE* to, const std::wstring& text) {
    std::string bytes = utf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), to);
    std::fflush(to);
}

void complain(const std::wstring& text) { say(stderr, L"ztolvera-run: " + text + L"\n"); }

void applySettings(const std::vector<CoreSetting>& settings) {
    for (const CoreSetting& s : settings) {
        switch (s.kind) {
        case CoreSetting::Result: standin_setResult(s.op.c_str(), s.value); break;
        case CoreSetting::Text: standin_setText(s.op.c_str(), s.text.c_str()); break;
        case CoreSetting::Abort: standin_setAbort(s.op.c_str(), static_cast<int>(s.value)); break;
        }
    }
}

std::string summary(const Job& job, const JobCounts& counts) {
    const char* state = !job.registered ? "not registered" : job.compiled ? "compiled" : "not compiled";
    return "job " + std::to_string(job.jobno) + " " + utf8(job.name) + ": " + state + ", runs " +
           std::to_string(job.runs) + ", succeeded " + std::to_string(job.succeeded) + ", script errors " +
           std::to_string(counts.scriptErrors) + ", core calls " + std::to_string(counts.coreCalls) + "\n";
}

bool writeJournal(JournalTarget& journal, const Options& options) {
    if (journal.write(currentJournal())) return true;
    complain(L"cannot write the journal " + options.journal);
    return false;
}

// Ctrl-C: the first lets the runs in progress end and the runner write its
// journal and report; the second ends the process at once (the default).
HANDLE gStop = nullptr;
Console* gConsole = nullptr;

BOOL WINAPI onControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (WaitForSingleObject(gStop, 0) == WAIT_OBJECT_0) return FALSE;
    SetEvent(gStop);
    if (gConsole) gConsole->message("ztolvera-run: stopping after the runs in progress (Ctrl-C again ends at once)\n");
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
    StatusLine(Console& console, const Session& session, const Progress& progress, std::size_t jobs, bool endless)
        : console_(console), session_(session), progress_(progress), jobs_(jobs), endless_(endless) {}

    void tick() {
        double now = session_.now();
        if (now < kStatusAfterSeconds) return;
        unsigned done = progress_.done;
        std::string text = "ztolvera-run: " + std::to_string(jobs_) + (jobs_ == 1 ? " job, " : " jobs, ") +
                           std::to_string(done) + (endless_ ? "" : " of " + std::to_string(progress_.planned.load())) +
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
    const Progress& progress_;
    std::size_t jobs_;
    bool endless_;
    unsigned lastDone_ = 0;
    double lastPlain_ = 0;
};

std::wstring commandLine(int argc, wchar_t** argv) {
    std::wstring line = L"ztolvera-run";
    for (int i = 1; i < argc; ++i) line += L" " + std::wstring(argv[i]);
    return line;
}

bool writeReport(JournalTarget& target, const Options& options, const ReportFacts& facts) {
    if (target.write(reportHtml(facts))) return true;
    complain(L"cannot write the report " + options.report);
    return false;
}

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

    std::vector<Job> jobs;
    std::vector<std::wstring> texts;
    for (const std::wstring& path : options.scripts) {
        std::wstring text;
        if (!readScript(path, text, error)) {
            complain(L"cannot read " + path + L": " + error);
            return UsageError;
        }
        texts.push_back(std::move(text));
        Job job;
        job.jobno = static_cast<unsigned long>(jobs.size() + 1);
        job.name = jobNameOf(path);
        jobs.push_back(std::move(job));
    }
    if (options.check) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        return checkFiles(options.scripts, texts);
    }
    // Both files are opened now, so that an unwritable one is a usage error
    // before any job runs.
    JournalTarget journal, report;
    if (options.hasJournal && !journal.open(options.journal, error)) {
        complain(L"cannot write the journal " + options.journal + L": " + error);
        return UsageError;
    }
    if (options.hasReport && !report.open(options.report, error)) {
        complain(L"cannot write the report " + options.report + L": " + error);
        return UsageError;
    }
    // With the journal on standard output, the summaries step aside.
    Console console(journal.toStandardOutput());
    gConsole = &console;
    gStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onControl, TRUE);

    Session session;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    standin_reset();
    applySettings(options.settings);
    standin_setWaitLimit(options.fast ? kFastWaitMs : -1);
    std::function<void(const Seen&)> eachLine;
    if (options.calls)
        eachLine = [&console](const Seen& seen) {
            if (std::string line = callLine(seen); !line.empty()) console.summary(line);
        };
    session.listen(eachLine);
    for (std::size_t i = 0; i < jobs.size(); ++i) jobs[i].object = standin_newJob(jobs[i].jobno, texts[i].c_str());

    ComPtr<ITolvera> host;
    if (HRESULT hr = createTolvera(host, error); FAILED(hr)) {
        complain(L"no Tolvera host: " + error);
        writeJournal(journal, options);
        return SomeFailed;
    }
    if (options.standalone) host->config(1);
    if (!options.quiet)
        for (const std::string& line : findingsBeforeRun(options.scripts, texts)) console.message(line);

    Progress progress;
    bool endless = options.everySeconds > 0 && !options.runsGiven;
    StatusLine status(console, session, progress, jobs.size(), endless);
    bool showStatus = !options.quiet;
    Drive drive;
    drive.host = host.get();
    drive.session = &session;
    drive.progress = &progress;
    drive.stop = gStop;
    if (showStatus) drive.tick = [&status] { status.tick(); };

    ReportFacts facts;
    facts.commandLine = utf8(commandLine(argc, argv));
    facts.began = session.began();
    Hang hang;
    if (!driveJobs(drive, jobs, options, hang)) {
        console.clearStatus();
        std::wstring step = hang.step == std::string("run") ? L"run " + std::to_wstring(hang.run)
                                                            : std::wstring(hang.step, hang.step + std::strlen(hang.step));
        complain(L"job " + std::to_wstring(hang.jobno) + L" (" + hang.name + L") hung: " + step +
                 L" still going after " + std::to_wstring(options.timeoutSeconds) + L" s");
        writeJournal(journal, options);
        if (options.hasReport) {
            facts.seconds = session.now();
            facts.jobs = tellStories(jobs, texts, session);
            writeReport(report, options, facts);
        }
        // A worker is still inside the engine: nothing may be released.
        TerminateProcess(GetCurrentProcess(), Hung);
        return Hung;
    }
    console.clearStatus();
    // The host goes first, so that its teardown is in the journal too.
    host.reset();
    for (Job& job : jobs) standin_deleteJob(job.object);
    facts.seconds = session.now();

    bool ok = writeJournal(journal, options);
    auto counts = countByJob(currentJournal());
    facts.jobs = tellStories(jobs, texts, session);
    Status result = ok ? AllSucceeded : SomeFailed;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const Job& job = jobs[i];
        // A script error is a failure even where the run still set ret.
        if (!job.compiled || job.succeeded != job.runs || counts[job.jobno].scriptErrors) result = SomeFailed;
        if (options.quiet) continue;
        console.summary(summary(job, counts[job.jobno]));
        for (const std::string& line : problemLines(facts.jobs[i])) console.message(line);
    }
    if (options.hasReport && !writeReport(report, options, facts)) result = SomeFailed;
    standin_setListener(nullptr, nullptr);
    CoUninitialize();
    return result;
}
