#include "activation.h"

#include "owners.h"

namespace {

// A slot of the thread's own, taken when the module loads. Every script-side
// call reads it, so it must cost no lock: TlsGetValue reads the thread's own
// block, several times faster here than the compiler's emulated thread_local,
// which also allocates at a thread's first use and ends the process when
// that fails.
class ThreadSlot {
public:
    ThreadSlot() : index_(TlsAlloc()) {}
    ~ThreadSlot() {
        if (ok()) TlsFree(index_);
    }
    bool ok() const { return index_ != TLS_OUT_OF_INDEXES; }
    Activation* get() const { return ok() ? static_cast<Activation*>(TlsGetValue(index_)) : nullptr; }
    void set(Activation* activation) const {
        if (ok()) TlsSetValue(index_, activation);
    }

private:
    DWORD index_;
};

ThreadSlot& slot() {
    static ThreadSlot s;
    return s;
}
// Taken at load time, before any thread can race to make it.
const ThreadSlot& g_slotAtLoad = slot();

// Jobs registered and not yet run, newest first. Only asked where a thread
// has no activation, which a script's own calls never meet.
struct Registrations {
    CriticalSection lock;
    Registration* head = nullptr;
};
Registrations& registrations() {
    static Registrations r;
    return r;
}
Registrations& g_registrationsAtLoad = registrations();

const Registration* registeredHere() {
    const DWORD self = GetCurrentThreadId();
    for (const Registration* r = registrations().head; r; r = r->next)
        if (r->thread == self) return r;
    return nullptr;
}

}  // namespace

ActivationScope::ActivationScope(Activation& activation) : activation_(activation) {
    activation_.outer = slot().get();
    slot().set(&activation_);
}

ActivationScope::~ActivationScope() { slot().set(activation_.outer); }

Activation* innermostActivation() { return slot().get(); }

bool activationsAvailable() { return slot().ok(); }

void listRegistration(Registration& registration) {
    Registrations& all = registrations();
    Lock guard(all.lock);
    if (registration.listed) return;
    registration.thread = GetCurrentThreadId();
    registration.prev = nullptr;
    registration.next = all.head;
    if (all.head) all.head->prev = &registration;
    all.head = &registration;
    registration.listed = true;
}

void unlistRegistration(Registration& registration) {
    Registrations& all = registrations();
    Lock guard(all.lock);
    if (!registration.listed) return;
    (registration.prev ? registration.prev->next : all.head) = registration.next;
    if (registration.next) registration.next->prev = registration.prev;
    registration.prev = registration.next = nullptr;
    registration.listed = false;
}

int jobRefForThread(ImpJob** jobobj, unsigned long* pwdobj) {
    if (!jobobj && !pwdobj) return 0;
    if (jobobj) *jobobj = nullptr;
    if (pwdobj) *pwdobj = 0;
    if (const Activation* a = innermostActivation()) {
        if (jobobj) *jobobj = a->jobobj;
        if (pwdobj) *pwdobj = a->pwdobj;
        return 1;
    }
    Registrations& all = registrations();
    Lock guard(all.lock);
    const Registration* r = registeredHere();
    if (!r) return 0;
    if (jobobj) *jobobj = r->jobobj;
    return 1;
}

int compiledForThread() {
    if (const Activation* a = innermostActivation()) return a->compiled ? 1 : 0;
    Registrations& all = registrations();
    Lock guard(all.lock);
    const Registration* r = registeredHere();
    return r && r->compiled.load() ? 1 : 0;
}
