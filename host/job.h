// One registered job: its engine, its compiled texts, what it is doing now
// and the agent's job object, in one record under one lock. The host's
// table holds it by cookie; every operation on the job holds a JobRef, and
// its compile, run and close are steps (JobStep) of which at most one is in
// progress at a time.
#pragma once

#include <windows.h>
#include <activscp.h>

#include <atomic>
#include <optional>
#include <string>
#include <utility>

#include "activation.h"
#include "job_counts.h"
#include "owners.h"
#include "ravlin.h"

class ScpExt;
class JobRef;

// One text a job compiled successfully; a job keeps all of them, oldest
// first, so that a fresh engine can be given the whole script again.
struct CompiledText {
    CrtPtr<wchar_t> text;
    CompiledText* next = nullptr;
};

class Job {
public:
    enum class Step { Idle, Compile, Run, Close };

    // A job whose engine was made on the calling thread, which it then
    // answers on until it first runs; null without memory. `ext` is the
    // host's extension object, which outlives the host's jobs.
    // The engine and its parse interface pass to the job only when it is made.
    static JobRef create(ULONG cookie, unsigned long jobid, const wchar_t* name, ImpJob* jobobj,
                         ComPtr<IActiveScript>& engine, ComPtr<IActiveScriptParse>& parse, ScpExt* ext);

    ULONG cookie() const { return cookie_; }
    ImpJob* jobobj() const { return jobobj_; }
    // The agent's name for the job, "?" when it gave none.
    const std::wstring& name() const { return name_; }

    // Unreg or the host's release let go of the job: no compile or run may
    // begin any more, since nothing could stop it.
    void unlist();
    // Asks the step in progress, on any thread, to end: marks its code
    // ending, so each of its later calls into ScpExt is refused, and asks the
    // engine to interrupt it. Answers the step, Idle when none was going,
    // and its thread.
    std::pair<Step, DWORD> askToEnd();
    void markCompiled();
    // stop closed the engine's script state; a closed engine refuses every
    // thread alike, and that refusal stands.
    void markStopped();

private:
    friend class JobRef;
    friend class JobStep;
    Job(ULONG cookie, unsigned long jobid, std::wstring name, ImpJob* jobobj, ScpExt* ext);
    ~Job();
    // Closes the engine with its objects' Class_Terminate bound to the job.
    void tearDown();
    // Closes and releases `engine`, its objects' Class_Terminate bound to
    // the job as a close of its own, nested in whatever the thread runs.
    void letGoOfEngine(ComPtr<IActiveScriptParse>& parse, ComPtr<IActiveScript>& engine, bool compiled);

    const ULONG cookie_;
    const unsigned long jobid_;
    const std::wstring name_;
    ImpJob* const jobobj_;          // the agent's, not owned
    ScpExt* const ext_;
    std::atomic<long> refs_{1};
    Registration registration_;

    CriticalSection lock_;          // everything below
    ComPtr<IActiveScript> engine_;
    ComPtr<IActiveScriptParse> parse_;
    DWORD engineThread_ = 0;        // the thread that gave the engine its site
    Step step_ = Step::Idle;
    DWORD stepThread_ = 0;
    Activation* activation_ = nullptr;  // the step's code, on the step's thread
    bool compiled_ = false;
    bool stopped_ = false;          // stop closed the engine's script state
    bool unlisted_ = false;
    // Read and written only by the step in progress (and the destructor).
    CompiledText* texts_ = nullptr;
    CompiledText* lastText_ = nullptr;
};

// A counted hold on a job, empty when no job was found. The last hold to go
// tears the job down on its own thread.
class JobRef {
public:
    JobRef() = default;
    explicit JobRef(Job* adopted) : job_(adopted) {}
    ~JobRef() { reset(); }
    JobRef(JobRef&& other) noexcept : job_(std::exchange(other.job_, nullptr)) {}
    JobRef& operator=(JobRef&& other) noexcept {
        if (this != &other) {
            reset();
            job_ = std::exchange(other.job_, nullptr);
        }
        return *this;
    }
    // Another hold on a job known to be held.
    static JobRef share(Job* held);

    Job* get() const { return job_; }
    Job* operator->() const { return job_; }
    Job& operator*() const { return *job_; }
    explicit operator bool() const { return job_ != nullptr; }
    void reset();
    Job* release() { return std::exchange(job_, nullptr); }

private:
    Job* job_ = nullptr;
};

// A compile, run or close of a job: begun under the job's lock only when no
// other step is in progress and (but for a close) the job is still listed,
// with the step's activation pushed on the calling thread; ended, its
// activation popped, when it goes. While it lives only it uses and replaces
// the job's engine and reads its texts.
class JobStep {
public:
    enum class Refusal { None, Removed, Busy };

    JobStep(Job& job, Job::Step kind, Activation& activation);
    ~JobStep();
    JobStep(const JobStep&) = delete;
    JobStep& operator=(const JobStep&) = delete;

    Refusal refusal() const { return refusal_; }
    // With Busy: the step in progress and its thread.
    Job::Step busyWith() const { return busyWith_; }
    DWORD busyOn() const { return busyOn_; }

    Job& job() const { return job_; }
    Activation& activation() const { return activation_; }
    IActiveScript* engine() const { return engine_.get(); }
    IActiveScriptParse* parse() const { return parse_.get(); }
    // Where the engine belongs to another thread: true when the engine's
    // refusal `hr` is that and the job's engine may be replaced here.
    bool refusedAsForeign(HRESULT hr) const;
    // The job's engine and texts, for a move to a fresh engine on this thread.
    const CompiledText* texts() const { return job_.texts_; }
    void replaceEngine(ComPtr<IActiveScript> engine, ComPtr<IActiveScriptParse> parse);
    // Keeps a text the step compiled, among the job's texts.
    void keepText(CompiledText* text);

private:
    Job& job_;
    Activation& activation_;
    Refusal refusal_ = Refusal::None;
    Job::Step busyWith_ = Job::Step::Idle;
    DWORD busyOn_ = 0;
    ComPtr<IActiveScript> engine_;
    ComPtr<IActiveScriptParse> parse_;
    std::optional<ActivationScope> scope_;
};
