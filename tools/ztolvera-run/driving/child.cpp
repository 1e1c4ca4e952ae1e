#include "child.h"

#include <ole2.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <memory>

#include "agent.h"
#include "journal.h"
#include "machine.h"
#include "script.h"
#include "scenario.h"
#include "json.h"
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
    return handle(spec.stream) + L":" + handle(spec.stop) + L":" + handle(spec.runner) + L":" + std::to_wstring(spec.origin);
}

bool parseChildSpec(const std::wstring& text, ChildSpec& spec) {
    std::vector<std::wstring> parts;
    for (std::size_t start = 0;;) {
        std::size_t colon = text.find(L':', start);
        parts.push_back(text.substr(start, colon == std::wstring::npos ? std::wstring::npos : colon - start));
        if (colon == std::wstring::npos) break;
        start = colon + 1;
    }
    if (parts.size() != 4) return false;
    unsigned long long v[4];
    for (int i = 0; i < 4; ++i)
        if (!number(parts[i], v[i])) return false;
    spec.stream = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(v[0]));
    spec.stop = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(v[1]));
    spec.runner = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(v[2]));
    spec.origin = static_cast<long long>(v[3]);
    return true;
}

namespace {

// The core's strings are bytes of the ANSI code page: they travel as
// lists of bytes, so that no conversion touches them.
Json bytes(const std::string& s) { return Json(std::vector<unsigned char>(s.begin(), s.end())); }
std::string unbytes(const Json* v) {
    std::string s;
    if (v && v->is_array())
        for (const Json& b : *v) s += static_cast<char>(b.is_number_unsigned() ? b.get<unsigned>() : 0);
    return s;
}

std::string readAll(HANDLE from) {
    std::string all;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(from, chunk, sizeof chunk, &got, nullptr) && got) all.append(chunk, got);
    return all;
}

}  // namespace

std::string childWorkText(const ChildWork& work) {
    const Scenario& sc = work.scenario;
    Json answers = Json::array(), dictionary = Json::array(), exports = Json::array(), objects = Json::array(),
         jobs = Json::array();
    for (const ScenarioAnswer& a : sc.answers) {
        Json match = Json::array();
        for (const auto& [param, pattern] : a.match) match.push_back(Json::array({param, bytes(pattern)}));
        Json j{{"op", a.op}, {"first", a.runs.first}, {"last", a.runs.last}, {"match", match}};
        if (a.result) j["result"] = *a.result;
        if (a.text) j["text"] = bytes(*a.text);
        if (a.abort) j["abort"] = *a.abort;
        if (a.ignoreCase) j["ignore_case"] = true;
        answers.push_back(j);
    }
    for (const auto& [name, value] : sc.dictionary) dictionary.push_back(Json::array({bytes(name), bytes(value)}));
    for (const ExportSeed& e : sc.exports)
        exports.push_back(Json{{"name", bytes(e.name)}, {"kind", e.kind}, {"text", e.text}, {"integer", e.integer},
                               {"real", e.real}, {"boolean", e.boolean}});
    for (const auto& [name, items] : sc.objects) {
        Json list = Json::array();
        for (const std::string& item : items) list.push_back(bytes(item));
        objects.push_back(Json::array({bytes(name), list}));
    }
    for (const ChildWork::JobText& j : work.jobs)
        jobs.push_back(Json{{"job", j.jobno}, {"name", j.name}, {"text", utf8(j.text)}});
    return jsonLine(Json{{"answers", answers}, {"dictionary", dictionary}, {"exports", exports}, {"objects", objects},
                         {"jobs", jobs}, {"runs", work.runs}, {"threads", work.threads}, {"fast", work.fast},
                         {"every", work.everySeconds}, {"machine", sc.machine}}) +
           "\n";
}

bool readChildWork(const std::string& text, ChildWork& work) {
    Json all;
    if (!parseJson(text, all) || !all.is_object()) return false;
    work = ChildWork{};
    Scenario& sc = work.scenario;
    auto each = [&](const char* name, auto take) {
        if (const Json* list = member(all, name); list && list->is_array())
            for (const Json& item : *list) take(item);
    };
    each("answers", [&](const Json& j) {
        ScenarioAnswer a;
        a.op = textOf(member(j, "op"));
        a.runs.first = static_cast<unsigned>(integerOf(member(j, "first")));
        a.runs.last = static_cast<unsigned>(integerOf(member(j, "last")));
        if (const Json* match = member(j, "match"); match && match->is_array())
            for (const Json& m : *match) a.match.emplace_back(textOf(element(&m, 0)), unbytes(element(&m, 1)));
        if (const Json* r = member(j, "result")) a.result = integerOf(r);
        if (const Json* t = member(j, "text")) a.text = unbytes(t);
        if (const Json* b = member(j, "abort")) a.abort = static_cast<int>(integerOf(b));
        const Json* c = member(j, "ignore_case");
        a.ignoreCase = c && c->is_boolean() && c->get<bool>();
        sc.answers.push_back(a);
    });
    each("dictionary", [&](const Json& j) { sc.dictionary.emplace_back(unbytes(element(&j, 0)), unbytes(element(&j, 1))); });
    each("exports", [&](const Json& j) {
        ExportSeed e;
        e.name = unbytes(member(j, "name"));
        e.kind = static_cast<ExportSeed::Kind>(integerOf(member(j, "kind")));
        e.text = textOf(member(j, "text"));
        e.integer = integerOf(member(j, "integer"));
        e.real = numberOf(member(j, "real"));
        const Json* b = member(j, "boolean");
        e.boolean = b && b->is_boolean() && b->get<bool>();
        sc.exports.push_back(e);
    });
    each("objects", [&](const Json& j) {
        std::vector<std::string> items;
        if (const Json* list = element(&j, 1); list && list->is_array())
            for (const Json& item : *list) items.push_back(unbytes(&item));
        sc.objects.emplace_back(unbytes(element(&j, 0)), items);
    });
    work.runs = static_cast<unsigned>(integerOf(member(all, "runs")));
    work.threads = static_cast<unsigned>(integerOf(member(all, "threads")));
    const Json* fast = member(all, "fast");
    work.fast = fast && fast->is_boolean() && fast->get<bool>();
    work.everySeconds = numberOf(member(all, "every"));
    sc.machine = textOf(member(all, "machine"));
    each("jobs", [&](const Json& j) {
        work.jobs.push_back(ChildWork::JobText{static_cast<unsigned long>(integerOf(member(j, "job"))),
                                               textOf(member(j, "name")), fromUtf8(textOf(member(j, "text")))});
    });
    return true;
}

int runChild(const Options& options, const ChildSpec& spec) {
    gStream = spec.stream;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(onCrash);
    // Ctrl-C is the runner's to answer: it sets `stop`.
    SetConsoleCtrlHandler(nullptr, TRUE);
    if (HANDLE watch = CreateThread(nullptr, 0, watchRunner, spec.runner, 0, nullptr)) CloseHandle(watch);

    StreamOut out(spec.stream);
    Session session{Session::Clock::time_point(Session::Clock::duration(spec.origin))};
    ChildWork work;
    if (!readChildWork(readAll(GetStdHandle(STD_INPUT_HANDLE)), work)) {
        out.fatal("the runner handed over no work");
        return 1;
    }
    std::vector<Job> jobs;
    for (const ChildWork::JobText& given : work.jobs) {
        Job job;
        job.jobno = given.jobno;
        job.name = fromUtf8(given.name);
        jobs.push_back(std::move(job));
    }

    Options plan = options;
    plan.runs = work.runs;
    plan.threads = work.threads ? work.threads : 1;
    plan.fast = work.fast;
    plan.everySeconds = work.everySeconds;

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Before any worker thread: they inherit the context that fakes the machine.
    if (!work.scenario.machine.empty()) {
        std::string why;
        if (!fakeMachine(work.scenario.machine, why)) {
            out.fatal("no fake machine: " + why);
            return 1;
        }
    }
    standin_reset();
    // A job's interval is its schedule, as the agent's would be, unless the
    // scenario answers otherwise.
    if (plan.everySeconds > 0) {
        standin_answer interval = {};
        interval.op = "GetKPInterval";
        interval.hasResult = 1;
        interval.result = std::max(1L, std::lround(plan.everySeconds));
        standin_addAnswer(&interval);
    }
    applyScenario(work.scenario);
    applySettings(plan.settings);
    standin_setWaitLimit(plan.fast ? kFastWaitMs : -1);
    Listening listening{&out, &session};
    standin_setListener(&onLine, &listening);
    for (std::size_t i = 0; i < jobs.size(); ++i) jobs[i].object = standin_newJob(jobs[i].jobno, work.jobs[i].text.c_str());

    ComPtr<ITolvera> host;
    std::wstring error;
    if (HRESULT hr = createTolvera(host, error); FAILED(hr)) {
        out.fatal("no Tolvera host: " + utf8(error));
        return 1;
    }
    if (plan.standalone) host->config(1);

    Drive drive;
    drive.host = host.get();
    drive.stop = spec.stop;
    drive.began = [&](const Doing& doing, Session::Clock::time_point slotEnd) {
        double end = slotEnd == Session::Clock::time_point() ? -1
                                                             : std::chrono::duration<double>(slotEnd - session.origin()).count();
        out.began(doing, session.now(), end);
    };
    LostWorker lost;
    if (!driveJobs(drive, jobs, plan, lost)) {
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
