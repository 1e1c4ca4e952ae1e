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
// The status of a child ended by a second Ctrl-C (never read: the runner
// knows why it ended the child).
constexpr UINT kAbortedChild = 130;

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

class Supervisor {
public:
    Supervisor(const Supervision& s, Timeline& timeline) : s_(s), timeline_(timeline), jobs_(timeline.jobs()) {}

    Ending run() {
        for (;;) {
            std::vector<unsigned long> left;
            for (const JobRecord& j : jobs_)
                if (!j.started) left.push_back(j.jobno);
            if (left.empty() || stopped() || ending_.interrupted) break;
            std::size_t startedBefore = startedCount();
            if (!follow(left)) break;
            // A child that started none of its jobs would not do better again.
            if (startedCount() == startedBefore) break;
        }
        timeline_.notStarted();
        return ending_;
    }

private:
    bool stopped() const { return WaitForSingleObject(s_.stop, 0) == WAIT_OBJECT_0; }

    std::size_t startedCount() const {
        std::size_t n = 0;
        for (const JobRecord& j : jobs_) n += j.started;
        return n;
    }

    void complain(const std::string& text) { s_.console->message("ztolvera-run: " + text + "\n"); }

    // One child for the jobs `numbers`, followed until it has ended; false
    // when no child could be started.
    bool follow(const std::vector<unsigned long>& numbers) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        Handle readEnd, writeEnd, workIn, workOut, runner, nul, process;
        if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, kPipeBytes) ||
            !SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0) ||
            !CreatePipe(workIn.put(), workOut.put(), &inherit, kPipeBytes) ||
            !SetHandleInformation(workOut.get(), HANDLE_FLAG_INHERIT, 0) ||
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
        std::wstring exe = ownPath();
        std::wstring command = L"\"" + exe + L"\" --child " + childSpecText(spec) + ownArguments();
        STARTUPINFOW si = {sizeof si};
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = workIn.get();
        si.hStdOutput = si.hStdError = nul.get();
        PROCESS_INFORMATION pi = {};
        // A group of its own: Ctrl-C reaches the runner alone.
        if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                            nullptr, &si, &pi))
            return cannotStart(GetLastError());
        CloseHandle(pi.hThread);
        process = Handle(pi.hProcess);
        // The child reads its work before anything else: a text beyond the
        // pipe's size waits for it here.
        workIn.reset();
        handOver(workOut.get(), numbers);
        workOut.reset();
        // The pipe ends when the child's end of it is gone.
        writeEnd.reset();
        seqBase_ = lastSeq_;
        done_ = false;
        gaveUp_ = false;
        crash_ = Message{};
        // A child ended for a hang has said all it will; any other that did
        // not say it was done, or why it gave up, crashed.
        if (!watch(process.get(), readEnd.get()) && !done_ && !gaveUp_) ended(process.get());
        for (JobRecord& j : jobs_) j.busy = false;
        return true;
    }

    void handOver(HANDLE to, const std::vector<unsigned long>& numbers) {
        ChildWork work;
        work.scenario = *s_.scenario;
        work.scenario.expectations.clear();
        work.runs = s_.options->runs;
        work.threads = s_.options->threads;
        work.fast = s_.options->fast;
        work.everySeconds = s_.options->everySeconds;
        for (unsigned long jobno : numbers)
            work.jobs.push_back(ChildWork::JobText{jobno, jobs_[jobno - 1].name, (*s_.texts)[jobno - 1]});
        std::string text = childWorkText(work);
        DWORD written = 0;
        WriteFile(to, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    bool cannotStart(DWORD error) {
        complain("cannot start the process that runs the jobs: error " + std::to_string(error));
        ending_.fatal = true;
        return false;
    }

    // Follows the child to its end; true when it was ended for a hang or
    // by the user.
    bool watch(HANDLE process, HANDLE pipe) {
        for (;;) {
            if (s_.abort && WaitForSingleObject(s_.abort, 0) == WAIT_OBJECT_0) {
                // The jobs' process goes at once; what it told so far stays.
                TerminateProcess(process, kAbortedChild);
                WaitForSingleObject(process, INFINITE);
                drain(pipe);
                timeline_.cutShort("interrupted");
                ending_.interrupted = true;
                return true;
            }
            bool gone = WaitForSingleObject(process, kPollMs) == WAIT_OBJECT_0;
            // Everything the child wrote is read before its end is judged.
            bool open = drain(pipe);
            if (s_.tick) s_.tick();
            if (gone || !open) {
                WaitForSingleObject(process, INFINITE);
                drain(pipe);
                return false;
            }
            if (JobRecord* j = hungJob()) {
                // The engine offers no way to stop a script that never calls
                // back into the host: its process goes, with the other jobs' steps.
                TerminateProcess(process, 3);
                WaitForSingleObject(process, INFINITE);
                drain(pipe);
                hung(*j);
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
        switch (m.kind) {
        case Message::Line: line(m.seen); break;
        case Message::Began: timeline_.began(m.seen.doing, m.seen.at, m.slotEnd); break;
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
        timeline_.line(seen);
        if (s_.eachLine) s_.eachLine(seen);
        s_.session->add(std::move(seen));
    }

    // The job whose step has outlived --timeout, or null.
    JobRecord* hungJob() {
        unsigned limit = s_.options->timeoutSeconds;
        double now = s_.session->now();
        for (JobRecord& j : jobs_)
            if (limit && j.busy && now - j.since > limit) return &j;
        return nullptr;
    }

    void hung(JobRecord& j) {
        std::string limit = std::to_string(s_.options->timeoutSeconds) + " s";
        std::string at = whereIn(j.step);
        complain("job " + std::to_string(j.jobno) + " (" + j.name + ") hung: " + at + " still going after " + limit);
        timeline_.cut(j.jobno, "hung in " + at + " (still going after " + limit + ")");
        timeline_.cutShort("job " + std::to_string(j.jobno) + " hung");
        ending_.hung = true;
    }

    // The child ended without saying it was done: it crashed.
    void ended(HANDLE process) {
        DWORD code = crash_.code;
        if (crash_.kind != Message::Crash) GetExitCodeProcess(process, &code);
        std::string words = faultWords(code);
        ending_.crashed = true;
        JobRecord* j = crash_.kind == Message::Crash ? timeline_.job(crash_.seen.doing.job) : nullptr;
        if (!j) {
            // Unknown which step met it: each job inside one did.
            std::size_t busy = 0;
            for (JobRecord& b : jobs_)
                if (b.busy) j = &b, ++busy;
            if (busy != 1) j = nullptr;
        }
        if (!j) {
            complain("the process that runs the jobs crashed (" + words + ")");
            timeline_.cutShort("the jobs' process crashed (" + words + ")");
            return;
        }
        if (!j->busy) j->step = crash_.seen.doing;
        bool inRun = j->busy && j->step.step == Step::Run;
        std::string fate = "crashed in " + whereIn(j->step) + " (" + words + ")";
        std::string after = inRun ? (j->lastCall.empty() ? " before any core call" : " after its core call " + j->lastCall) : "";
        complain("job " + std::to_string(j->jobno) + " (" + j->name + ") " + fate + after);
        timeline_.cut(j->jobno, fate);
        timeline_.cutShort("job " + std::to_string(j->jobno) + " crashed");
    }

    const Supervision& s_;
    Timeline& timeline_;
    std::vector<JobRecord>& jobs_;
    Ending ending_;
    std::string pending_;
    unsigned long seqBase_ = 0, lastSeq_ = 0;
    bool done_ = false;
    bool gaveUp_ = false;        // the child said why it could not go on
    Message crash_;
};

}  // namespace

Ending superviseJobs(const Supervision& supervision, Timeline& timeline) {
    return Supervisor(supervision, timeline).run();
}
