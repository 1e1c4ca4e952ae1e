#include "supervisor.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "child.h"
#include "handle.h"
#include "format.h"
#include "stream.h"

namespace {

// The child's pipe holds this much before a write of the child waits.
constexpr DWORD kPipeBytes = 1 << 20;
// How long the runner waits for the child between looks at the pipe.
constexpr DWORD kPollMs = 20;

// What a fault that ended the child means to a script author.
struct FaultWords {
    DWORD code;
    const char* words;
};
const FaultWords kFaults[] = {
    {EXCEPTION_ACCESS_VIOLATION, "page fault in the script engine"},
    {EXCEPTION_STACK_OVERFLOW, "stack overflow"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "illegal instruction in the script engine"},
    {EXCEPTION_PRIV_INSTRUCTION, "privileged instruction in the script engine"},
    {EXCEPTION_IN_PAGE_ERROR, "page fault in the script engine"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "integer division by zero in the script engine"},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "array bounds exceeded in the script engine"},
};

std::string faultWords(DWORD code) {
    for (const FaultWords& f : kFaults)
        if (f.code == code) return f.words;
    char text[64];
    std::snprintf(text, sizeof text, "the process ended with status 0x%08lx", static_cast<unsigned long>(code));
    return text;
}

// "run 3", "compile", "reg".
std::string where(const Doing& d) {
    return d.step == Step::Run ? "run " + std::to_string(d.run) : std::string(stepName(d.step));
}

// The runner's own command line without its program name, as the child
// gets it after --child.
std::wstring ownArguments() {
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        p = std::wcschr(p + 1, L'"');
        p = p ? p + 1 : L"";
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    return p;
}

std::wstring ownPath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, n);
}

// What the runner knows of one job beyond its Job record.
struct Tracking {
    bool started = false;        // its compile began, in whichever child
    bool busy = false;           // inside a step
    Doing step;
    double since = 0;
    std::string lastCall;        // of the step in progress
};

class Supervisor {
public:
    Supervisor(const Supervision& s, std::vector<Job>& jobs) : s_(s), jobs_(jobs), track_(jobs.size()) {}

    Ending run() {
        for (;;) {
            std::vector<unsigned long> left;
            for (std::size_t i = 0; i < jobs_.size(); ++i)
                if (!track_[i].started) left.push_back(static_cast<unsigned long>(i + 1));
            if (left.empty() || stopped()) break;
            std::size_t startedBefore = startedCount();
            if (!follow(left)) break;
            // A child that started none of its jobs would not do better again.
            if (startedCount() == startedBefore) break;
        }
        for (std::size_t i = 0; i < jobs_.size(); ++i)
            if (!track_[i].started && jobs_[i].fate.empty()) jobs_[i].fate = "not started";
        return ending_;
    }

private:
    bool stopped() const { return WaitForSingleObject(s_.stop, 0) == WAIT_OBJECT_0; }

    std::size_t startedCount() const {
        std::size_t n = 0;
        for (const Tracking& t : track_) n += t.started;
        return n;
    }

    void complain(const std::string& text) { s_.console->message("ztolvera-run: " + text + "\n"); }

    Job* job(unsigned long jobno) { return jobno >= 1 && jobno <= jobs_.size() ? &jobs_[jobno - 1] : nullptr; }

    // One child for the jobs `numbers`, followed until it has ended; false
    // when no child could be started.
    bool follow(const std::vector<unsigned long>& numbers) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        Handle readEnd, writeEnd, runner, nul, process;
        if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, kPipeBytes) ||
            !SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0) ||
            !DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), runner.put(), SYNCHRONIZE,
                             TRUE, 0)) {
            return cannotStart(GetLastError());
        }
        // The child writes nothing of its own; what the platform writes for
        // it (a crash dump, should the child's own handler not run) is dropped.
        nul = Handle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr));
        ChildSpec spec;
        spec.stream = writeEnd.get();
        spec.stop = s_.stop;
        spec.runner = runner.get();
        spec.origin = s_.session->origin().time_since_epoch().count();
        spec.jobs = numbers;
        std::wstring exe = ownPath();
        std::wstring command = L"\"" + exe + L"\" --child " + childSpecText(spec) + ownArguments();
        STARTUPINFOW si = {sizeof si};
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = si.hStdOutput = si.hStdError = nul.get();
        PROCESS_INFORMATION pi = {};
        // A group of its own: Ctrl-C reaches the runner alone.
        if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                            nullptr, &si, &pi))
            return cannotStart(GetLastError());
        CloseHandle(pi.hThread);
        process = Handle(pi.hProcess);
        // The pipe ends when the child's end of it is gone.
        writeEnd.reset();
        seqBase_ = lastSeq_;
        done_ = false;
        gaveUp_ = false;
        crash_ = Message{};
        // A child ended for a hang has said all it will; any other that did
        // not say it was done, or why it gave up, crashed.
        if (!watch(process.get(), readEnd.get()) && !done_ && !gaveUp_) ended(process.get());
        for (Tracking& t : track_) t.busy = false;
        return true;
    }

    bool cannotStart(DWORD error) {
        complain("cannot start the process that runs the jobs: error " + std::to_string(error));
        ending_.fatal = true;
        return false;
    }

    // Follows the child to its end; true when it was ended for a hang.
    bool watch(HANDLE process, HANDLE pipe) {
        for (;;) {
            bool gone = WaitForSingleObject(process, kPollMs) == WAIT_OBJECT_0;
            // Everything the child wrote is read before its end is judged.
            bool open = drain(pipe);
            if (s_.tick) s_.tick();
            if (gone || !open) {
                WaitForSingleObject(process, INFINITE);
                drain(pipe);
                return false;
            }
            if (std::size_t i = hungJob(); i < jobs_.size()) {
                // The engine offers no way to stop a script that never calls
                // back into the host: its process goes, with the other jobs' steps.
                TerminateProcess(process, 3);
                WaitForSingleObject(process, INFINITE);
                drain(pipe);
                hung(i);
                return true;
            }
        }
    }

    // Reads what the pipe holds; false once it is closed.
    bool drain(HANDLE pipe) {
        for (;;) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
            if (!available) return true;
            std::string chunk(available, '\0');
            DWORD got = 0;
            if (!ReadFile(pipe, chunk.data(), available, &got, nullptr)) return false;
            pending_.append(chunk, 0, got);
            std::size_t start = 0;
            for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1)
                take(pending_.substr(start, end - start));
            pending_.erase(0, start);
        }
    }

    void take(const std::string& text) {
        Message m;
        if (!readMessage(text, m)) return;
        Doing& d = m.seen.doing;
        Tracking* t = d.job >= 1 && d.job <= track_.size() ? &track_[d.job - 1] : nullptr;
        switch (m.kind) {
        case Message::Line: line(m.seen); break;
        case Message::Began:
            if (!t) break;
            t->busy = true;
            t->step = d;
            t->since = m.seen.at;
            t->lastCall.clear();
            if (d.step == Step::Compile) t->started = true;
            if (d.step == Step::Run) s_.session->runStarted(d.job, d.run, m.seen.at, m.slotEnd);
            break;
        case Message::RunEnded: s_.session->runEnded(d.job, d.run, m.seen.at, m.hr, m.ret); break;
        case Message::Crash: crash_ = m; break;
        case Message::Fatal:
            complain(m.text);
            ending_.fatal = true;
            gaveUp_ = true;
            break;
        case Message::Done: done_ = true; break;
        default: break;
        }
    }

    // Each child's core counts seq from 1; the journal counts on.
    void renumber(std::string& text) {
        unsigned long seq = jnl::seqOf(text);
        if (!seq) return;
        lastSeq_ = seq + seqBase_;
        text = jnl::withSeq(lastSeq_, jnl::withoutSeq(text));
    }

    void line(Seen seen) {
        renumber(seen.line);
        if (!s_.journal->write(seen.line + "\n")) ending_.journalFailed = true;
        jnl::readEntry(seen.line, seen.entry);
        const jnl::Entry& e = seen.entry;
        if (e.kind == jnl::Entry::Host) hostAnswered(e);
        else if (e.kind == jnl::Entry::Call && job(e.job)) track_[e.job - 1].lastCall = e.op;
        if (s_.eachLine) s_.eachLine(seen);
        s_.session->add(std::move(seen));
    }

    // A host line ends the step it answers.
    void hostAnswered(const jnl::Entry& e) {
        Job* j = job(e.job);
        if (!j) return;
        bool ok = e.hr == 0;
        if (e.step == "reg") j->registered = ok;
        else if (e.step == "compile") j->compiled = ok;
        else if (e.step == "run") {
            ++j->runs;
            if (ok && e.ret) ++j->succeeded;
        }
        track_[e.job - 1].busy = false;
    }

    // The job whose step has outlived --timeout, or jobs_.size().
    std::size_t hungJob() const {
        unsigned limit = s_.options->timeoutSeconds;
        double now = s_.session->now();
        for (std::size_t i = 0; limit && i < track_.size(); ++i)
            if (track_[i].busy && now - track_[i].since > limit) return i;
        return jobs_.size();
    }

    void hung(std::size_t i) {
        Job& j = jobs_[i];
        Doing at = track_[i].step;
        std::string limit = std::to_string(s_.options->timeoutSeconds) + " s";
        complain("job " + std::to_string(j.jobno) + " (" + utf8(j.name) + ") hung: " + where(at) + " still going after " +
                 limit);
        end(j, "hung in " + where(at) + " (still going after " + limit + ")", at);
        cutShort("job " + std::to_string(j.jobno) + " hung");
        ending_.hung = true;
    }

    // The child ended without saying it was done: it crashed.
    void ended(HANDLE process) {
        DWORD code = crash_.code;
        if (crash_.kind != Message::Crash) GetExitCodeProcess(process, &code);
        std::string words = faultWords(code);
        ending_.crashed = true;
        Job* j = crash_.kind == Message::Crash ? job(crash_.seen.doing.job) : nullptr;
        if (!j) {
            // Unknown which step met it: each job inside one did.
            std::size_t busy = 0;
            for (std::size_t i = 0; i < track_.size(); ++i)
                if (track_[i].busy) j = &jobs_[i], ++busy;
            if (busy != 1) j = nullptr;
        }
        if (!j) {
            complain("the process that runs the jobs crashed (" + words + ")");
            cutShort("the jobs' process crashed (" + words + ")");
            return;
        }
        Tracking& t = track_[j->jobno - 1];
        Doing at = t.busy ? t.step : crash_.seen.doing;
        std::string fate = "crashed in " + where(at) + " (" + words + ")";
        std::string after = t.busy && at.step == Step::Run
                                ? (t.lastCall.empty() ? " before any core call" : " after its core call " + t.lastCall)
                                : "";
        complain("job " + std::to_string(j->jobno) + " (" + utf8(j->name) + ") " + fate + after);
        end(*j, fate, at);
        cutShort("job " + std::to_string(j->jobno) + " crashed");
    }

    void end(Job& j, const std::string& fate, const Doing& at) {
        j.fate = fate;
        j.fateRun = at.step == Step::Run ? at.run : 0;
        if (at.step == Step::Run) ++j.runs;
        track_[j.jobno - 1].busy = false;
    }

    // Jobs inside a step when their process went, for a reason not theirs.
    void cutShort(const std::string& why) {
        for (std::size_t i = 0; i < track_.size(); ++i)
            if (track_[i].busy) end(jobs_[i], "cut short in " + where(track_[i].step) + " (" + why + ")", track_[i].step);
    }

    const Supervision& s_;
    std::vector<Job>& jobs_;
    std::vector<Tracking> track_;
    Ending ending_;
    std::string pending_;
    unsigned long seqBase_ = 0, lastSeq_ = 0;
    bool done_ = false;
    bool gaveUp_ = false;        // the child said why it could not go on
    Message crash_;
};

}  // namespace

Ending superviseJobs(const Supervision& supervision, std::vector<Job>& jobs) {
    return Supervisor(supervision, jobs).run();
}

unsigned runsDone(const std::vector<Job>& jobs) {
    unsigned n = 0;
    for (const Job& j : jobs) n += j.runs;
    return n;
}

unsigned runsPlanned(const std::vector<Job>& jobs, unsigned runs) {
    unsigned n = 0;
    // A job that a crash or a hang ended counts with the runs it had.
    for (const Job& j : jobs) n += j.fate.empty() ? runs : j.runs;
    return n;
}
