#include "child.h"

#include <ole2.h>

#include <cwchar>
#include <memory>

#include "agent.h"
#include "journal.h"
#include "scenario.h"
#include "script.h"
#include "standin.h"
#include "stream.h"
#include "tolvera.h"

namespace {

// What the core's waits really take with --fast: the stand-in's test limit.
constexpr long kFastWaitMs = 50;

HANDLE gStream = nullptr;

// A fault the process cannot survive (the engine's page fault, a stack
// overflow): the runner learns which job and step met it, and the process
// ends at once, without the platform's debugger and its crash dump.
LONG WINAPI onCrash(EXCEPTION_POINTERS* exception) {
    DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : 0;
    StreamOut::crash(gStream, code, Session::doing());
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The runner gone (a second Ctrl-C ended it), nothing is left to tell.
DWORD WINAPI watchRunner(void* runner) {
    WaitForSingleObject(static_cast<HANDLE>(runner), INFINITE);
    TerminateProcess(GetCurrentProcess(), 1);
    return 0;
}

void applySettings(const std::vector<CoreSetting>& settings) {
    for (const CoreSetting& s : settings) {
        switch (s.kind) {
        case CoreSetting::Result: standin_setResult(s.op.c_str(), s.value); break;
        case CoreSetting::Text: standin_setText(s.op.c_str(), s.text.c_str()); break;
        case CoreSetting::Abort: standin_setAbort(s.op.c_str(), static_cast<int>(s.value)); break;
        }
    }
}

struct Listening {
    StreamOut* out;
    const Session* session;
};

void onLine(const char* line, const long* result, void* context) {
    auto* self = static_cast<Listening*>(context);
    Seen seen;
    seen.at = self->session->now();
    seen.doing = Session::doing();
    seen.line = line;
    seen.hasResult = result != nullptr;
    seen.result = result ? *result : 0;
    self->out->line(seen);
}

bool number(const std::wstring& text, unsigned long long& value) {
    if (text.empty() || text.size() > 20) return false;
    wchar_t* end = nullptr;
    value = std::wcstoull(text.c_str(), &end, 10);
    return *end == 0 && iswdigit(text[0]);
}

}  // namespace

std::wstring childSpecText(const ChildSpec& spec) {
    auto handle = [](HANDLE h) { return std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(h))); };
    std::wstring text = handle(spec.stream) + L":" + handle(spec.stop) + L":" + handle(spec.runner) + L":" +
                        std::to_wstring(spec.origin) + L":";
    for (std::size_t i = 0; i < spec.jobs.size(); ++i) text += (i ? L"," : L"") + std::to_wstring(spec.jobs[i]);
    return text;
}

bool parseChildSpec(const std::wstring& text, ChildSpec& spec) {
    std::vector<std::wstring> parts;
    for (std::size_t start = 0;;) {
        std::size_t colon = text.find(L':', start);
        parts.push_back(text.substr(start, colon == std::wstring::npos ? std::wstring::npos : colon - start));
        if (colon == std::wstring::npos) break;
        start = colon + 1;
    }
    if (parts.size() != 5) return false;
    unsigned long long v[4];
    for (int i = 0; i < 4; ++i)
        if (!number(parts[i], v[i])) return false;
    spec.stream = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(v[0]));
    spec.stop = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(v[1]));
    spec.runner = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(v[2]));
    spec.origin = static_cast<long long>(v[3]);
    spec.jobs.clear();
    for (std::size_t start = 0; start < parts[4].size();) {
        std::size_t comma = parts[4].find(L',', start);
        unsigned long long job = 0;
        if (!number(parts[4].substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start), job))
            return false;
        spec.jobs.push_back(static_cast<unsigned long>(job));
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    return true;
}

int runChild(const Options& options, const Scenario& scenario, const ChildSpec& spec) {
    gStream = spec.stream;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(onCrash);
    // Ctrl-C is the runner's to answer: it sets `stop`.
    SetConsoleCtrlHandler(nullptr, TRUE);
    if (HANDLE watch = CreateThread(nullptr, 0, watchRunner, spec.runner, 0, nullptr)) CloseHandle(watch);

    StreamOut out(spec.stream);
    Session session{Session::Clock::time_point(Session::Clock::duration(spec.origin))};
    std::vector<Job> jobs;
    std::vector<std::wstring> texts;
    for (unsigned long jobno : spec.jobs) {
        std::wstring text, error;
        if (jobno == 0 || jobno > options.scripts.size() || !readScript(options.scripts[jobno - 1], text, error)) {
            out.fatal("cannot read the script of job " + std::to_string(jobno) + " again: " + utf8(error));
            return 1;
        }
        Job job;
        job.jobno = jobno;
        job.name = jobNameOf(options.scripts[jobno - 1]);
        jobs.push_back(std::move(job));
        texts.push_back(std::move(text));
    }

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    standin_reset();
    applyScenario(scenario);
    applySettings(options.settings);
    standin_setWaitLimit(options.fast ? kFastWaitMs : -1);
    Listening listening{&out, &session};
    standin_setListener(&onLine, &listening);
    for (std::size_t i = 0; i < jobs.size(); ++i) jobs[i].object = standin_newJob(jobs[i].jobno, texts[i].c_str());

    ComPtr<ITolvera> host;
    std::wstring error;
    if (HRESULT hr = createTolvera(host, error); FAILED(hr)) {
        out.fatal("no Tolvera host: " + utf8(error));
        return 1;
    }
    if (options.standalone) host->config(1);

    Drive drive;
    drive.host = host.get();
    drive.stop = spec.stop;
    drive.began = [&](const Doing& doing, Session::Clock::time_point slotEnd) {
        double end = slotEnd == Session::Clock::time_point() ? -1
                                                             : std::chrono::duration<double>(slotEnd - session.origin()).count();
        out.began(doing, session.now(), end);
    };
    LostWorker lost;
    if (!driveJobs(drive, jobs, options, lost)) {
        // The platform ended a worker inside the engine: what it held is gone.
        StreamOut::crash(spec.stream, lost.code, Doing{lost.jobno, lost.step, lost.run});
        TerminateProcess(GetCurrentProcess(), lost.code);
    }
    // The host goes first, so that its teardown is in the journal too.
    host.reset();
    for (Job& job : jobs) standin_deleteJob(job.object);
    standin_setListener(nullptr, nullptr);
    out.done();
    CoUninitialize();
    return 0;
}
