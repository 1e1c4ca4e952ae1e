#include "job.h"

#include <new>

#include "abort_marker.h"
#include "scpext.h"

namespace {

std::atomic<int> g_alive{0};
std::atomic<int> g_busy{0};

// What the engine answers on a thread it does not belong to.
constexpr HRESULT kForeignThread = E_UNEXPECTED;

}  // namespace

// --- the job ---

JobRef Job::create(ULONG cookie, unsigned long jobid, const wchar_t* name, ImpJob* jobobj,
                   ComPtr<IActiveScript>& engine, ComPtr<IActiveScriptParse>& parse, ScpExt* ext) {
    Job* job = nullptr;
    try {
        job = new Job(cookie, jobid, name && *name ? name : L"?", jobobj, ext);
    } catch (const std::bad_alloc&) {
        return JobRef();
    }
    job->engine_ = std::move(engine);
    job->parse_ = std::move(parse);
    job->engineThread_ = GetCurrentThreadId();
    listRegistration(job->registration_);
    return JobRef(job);
}

Job::Job(ULONG cookie, unsigned long jobid, std::wstring name, ImpJob* jobobj, ScpExt* ext)
    : cookie_(cookie), jobid_(jobid), name_(std::move(name)), jobobj_(jobobj), ext_(ext) {
    registration_.jobobj = jobobj;
    ++g_alive;
}

Job::~Job() {
    unlistRegistration(registration_);
    while (CompiledText* text = texts_) {
        texts_ = text->next;
        delete text;
    }
    --g_alive;
}

// The last hold is gone, so no step is in progress and none can begin.
void Job::tearDown() {
    letGoOfEngine(parse_, engine_, compiled_);
    delete this;
}

// The engine's objects end in its Close or, where the engine refuses this
// thread, in its last Release; their Class_Terminate is a close of the job's
// own, also when the engine goes in the middle of a run's move. Once the
// last Release is under way the engine must not be called any more, so an
// abort there marks the code ending without interrupting it.
void Job::letGoOfEngine(ComPtr<IActiveScriptParse>& parse, ComPtr<IActiveScript>& engine, bool compiled) {
    Activation closing;
    closing.jobobj = jobobj_;
    closing.kind = ActivationKind::Close;
    closing.compiled = compiled;
    closing.engine = engine.get();
    ActivationScope scope(closing);
    parse.reset();
    if (engine) engine->Close();
    closing.engine = nullptr;
    engine.reset();
    if (closing.heldSections && ext_) ext_->leaveSectionsOf(closing);
}

void Job::unlist() {
    Lock guard(lock_);
    unlisted_ = true;
}

// The mark and the interruption are made under the job's lock, so both meet
// the step seen and never the next one: a step ends only under this lock.
std::pair<Job::Step, DWORD> Job::askToEnd() {
    Lock guard(lock_);
    if (step_ == Step::Idle) return {Step::Idle, 0};
    if (activation_) activation_->ending = true;
    if (engine_) {
        EXCEPINFO marker = abortMarker();
        engine_->InterruptScriptThread(SCRIPTTHREADID_ALL, &marker, SCRIPTINTERRUPT_RAISEEXCEPTION);
    }
    return {step_, stepThread_};
}

void Job::markCompiled() {
    Lock guard(lock_);
    compiled_ = true;
    registration_.compiled = true;
}

void Job::markStopped() {
    Lock guard(lock_);
    stopped_ = true;
}

int liveJobs() { return g_alive.load(); }
int busyJobs() { return g_busy.load(); }

// --- holds ---

JobRef JobRef::share(Job* held) {
    ++held->refs_;
    return JobRef(held);
}

void JobRef::reset() {
    if (Job* job = std::exchange(job_, nullptr))
        if (--job->refs_ == 0) job->tearDown();
}

// --- steps ---

JobStep::JobStep(Job& job, Job::Step kind, Activation& activation) : job_(job), activation_(activation) {
    {
        Lock guard(job.lock_);
        if (kind != Job::Step::Close && job.unlisted_) {
            refusal_ = Refusal::Removed;
            return;
        }
        if (job.step_ != Job::Step::Idle) {
            refusal_ = Refusal::Busy;
            busyWith_ = job.step_;
            busyOn_ = job.stepThread_;
            return;
        }
        job.step_ = kind;
        job.stepThread_ = GetCurrentThreadId();
        job.activation_ = &activation;
        activation.jobobj = job.jobobj_;
        activation.compiled = job.compiled_;
        engine_ = job.engine_;
        parse_ = job.parse_;
        activation.engine = engine_.get();
        ++g_busy;
    }
    // From its first run on, the job answers on the thread it runs on only.
    if (kind == Job::Step::Run) unlistRegistration(job.registration_);
    scope_.emplace(activation);
}

JobStep::~JobStep() {
    if (refusal_ != Refusal::None) return;
    // Code ended inside the agent's critical section would hold it for good.
    if (activation_.heldSections && job_.ext_) job_.ext_->leaveSectionsOf(activation_);
    {
        Lock guard(job_.lock_);
        job_.step_ = Job::Step::Idle;
        job_.stepThread_ = 0;
        job_.activation_ = nullptr;
        --g_busy;
    }
    scope_.reset();
    // An engine this step outlived is let go here, on its own thread.
}

bool JobStep::refusedAsForeign(HRESULT hr) const {
    if (hr != kForeignThread) return false;
    Lock guard(job_.lock_);
    return !job_.stopped_ && job_.engineThread_ != GetCurrentThreadId();
}

void JobStep::replaceEngine(ComPtr<IActiveScript> engine, ComPtr<IActiveScriptParse> parse) {
    {
        Lock guard(job_.lock_);
        std::swap(job_.engine_, engine);
        std::swap(job_.parse_, parse);
        job_.engineThread_ = GetCurrentThreadId();
        engine_ = job_.engine_;
        parse_ = job_.parse_;
    }
    activation_.engine = engine_.get();
    // The old engine refuses Close here; its last Release, from any thread,
    // still closes it and lets go of the site and the named items' objects.
    job_.letGoOfEngine(parse, engine, activation_.compiled);
}

void JobStep::keepText(CompiledText* text) {
    (job_.lastText_ ? job_.lastText_->next : job_.texts_) = text;
    job_.lastText_ = text;
}
