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
#include "journal.h"
#include "options.h"
#include "script.h"
#include "standin.h"
#include "tolvera.h"

namespace {

enum Status { AllSucceeded = 0, SomeFailed = 1, UsageError = 2, Hung = 3 };

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

std::wstring summary(const Job& job, const JobCounts& counts) {
    const wchar_t* state = !job.registered ? L"not registered" : job.compiled ? L"compiled" : L"not compiled";
    return L"job " + std::to_wstring(job.jobno) + L" " + job.name + L": " + state + L", runs " +
           std::to_wstring(job.runs) + L", succeeded " + std::to_wstring(job.succeeded) + L", script errors " +
           std::to_wstring(counts.scriptErrors) + L", core calls " + std::to_wstring(counts.coreCalls) + L"\n";
}

bool writeJournal(JournalTarget& journal, const Options& options) {
    if (journal.write(currentJournal())) return true;
    complain(L"cannot write the journal " + options.journal);
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
    JournalTarget journal;
    if (options.hasJournal && !journal.open(options.journal, error)) {
        complain(L"cannot write the journal " + options.journal + L": " + error);
        return UsageError;
    }
    // With the journal on standard output, the summaries step aside.
    std::FILE* summaries = journal.toStandardOutput() ? stderr : stdout;

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    standin_reset();
    applySettings(options.settings);
    for (std::size_t i = 0; i < jobs.size(); ++i) jobs[i].object = standin_newJob(jobs[i].jobno, texts[i].c_str());

    ComPtr<ITolvera> host;
    if (HRESULT hr = createTolvera(host, error); FAILED(hr)) {
        complain(L"no Tolvera host: " + error);
        writeJournal(journal, options);
        return SomeFailed;
    }
    if (options.standalone) host->config(1);

    Hang hang;
    if (!driveJobs(host.get(), jobs, options, hang)) {
        std::wstring step = hang.step == std::string("run") ? L"run " + std::to_wstring(hang.run)
                                                            : std::wstring(hang.step, hang.step + std::strlen(hang.step));
        complain(L"job " + std::to_wstring(hang.jobno) + L" (" + hang.name + L") hung: " + step +
                 L" still going after " + std::to_wstring(options.timeoutSeconds) + L" s");
        writeJournal(journal, options);
        // A worker is still inside the engine: nothing may be released.
        TerminateProcess(GetCurrentProcess(), Hung);
        return Hung;
    }
    // The host goes first, so that its teardown is in the journal too.
    host.reset();
    for (Job& job : jobs) standin_deleteJob(job.object);

    bool ok = writeJournal(journal, options);
    auto counts = countByJob(currentJournal());
    Status status = ok ? AllSucceeded : SomeFailed;
    for (const Job& job : jobs) {
        if (!job.compiled || job.succeeded != options.runs) status = SomeFailed;
        if (!options.quiet) say(summaries, summary(job, counts[job.jobno]));
    }
    CoUninitialize();
    return status;
}
