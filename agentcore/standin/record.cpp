#include "record.h"
#include "../standin.h"
#include "format.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <map>
#include <mutex>
#include <set>

namespace standin {
namespace {

constexpr LONG kTestWaitLimit = 50;

struct State {
    std::mutex lock;
    unsigned long seq = 0;
    std::string journal;
    std::set<std::string> unterminated;                  // operations that fill buffers to the brim
    std::map<const void*, unsigned long> jobs;       // data pointer -> job number
    // Strings meant for freeMem. A multiset: one wrongly given to free may
    // come back from malloc for the next string and must still be counted.
    std::multiset<void*> handedOut;
    // Strings meant for the C runtime's free, with the text each was given.
    std::vector<std::pair<void*, std::string>> handedOutForFree;
    long misreleases = 0;
    volatile LONG recording = 1;
    volatile LONG settings = 0;      // buffers set to be filled unterminated since the reset
    std::map<std::string, standin_callback> callbacks;
    volatile LONG hasCallbacks = 0;
    volatile LONG waitLimit = kTestWaitLimit;
    standin_listener listener = nullptr;
    void* listenerContext = nullptr;
};

State& state() {
    static State s;
    return s;
}

}  // namespace

unsigned long jobOfData(const void* data) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.jobs.find(data);
    return it == s.jobs.end() ? 0 : it->second;
}

std::string jsonString(const char* s) { return jnl::quotedAnsi(s); }

bool recording() { return state().recording != 0; }

Call::Call(const coreops::Operation& row, const _zjobcxt* cxt)
    : on_(recording()), keep_(answersLookAtArguments(row.name)), row_(row),
      job_(cxt && (on_ || anyAnswers()) ? jobOfData(cxt->data) : 0) {
    if (!on_) return;
    head_ = "\"job\":" + std::to_string(job_) + ",\"op\":\"" + std::string(row_.name) + "\",\"ctx\":[" +
            std::to_string(job_) + "," + std::to_string(cxt ? cxt->pwdobj : 0) + "]";
}

Call::Call(const coreops::Operation& row) : on_(recording()), keep_(answersLookAtArguments(row.name)), row_(row) {
    if (on_) head_ = "\"op\":\"" + std::string(row_.name) + "\"";
}

void Call::keep(const std::string& text, bool isString, bool isNull) {
    if (keep_) values_.push_back(ArgValue{text, isString, isNull});
}

Call& Call::add(const std::string& json) {
    if (on_) args_.push_back(json);
    return *this;
}

Call& Call::scalar(const std::string& text) {
    keep(text, false, false);
    return add(text);
}

Call& Call::nullArg() {
    keep("", false, true);
    return add("null");
}

Call& Call::out(const int* p) {
    if (!p) return nullArg();
    if (on_) later_.push_back(Later{args_.size(), p, nullptr});
    return scalar(std::to_string(*p));
}

Call& Call::out(const unsigned long* p) {
    if (!p) return nullArg();
    if (on_) later_.push_back(Later{args_.size(), nullptr, p});
    return scalar(std::to_string(*p));
}

Call& Call::raw(const std::string& json) {
    keep(json, false, json == "null");
    return add(json);
}

Call& Call::arg(const char* s) {
    keep(s ? s : "", true, !s);
    return on_ ? add(jsonString(s)) : *this;
}

namespace {
template <typename T>
std::string joined(const T* v, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += (i ? "," : "") + std::to_string(v[i]);
    return out;
}
}  // namespace

Call& Call::ints(const long* v, std::size_t n) {
    keep(joined(v, n), false, false);
    return on_ ? add("[" + joined(v, n) + "]") : *this;
}

Call& Call::uints(const unsigned long* v, std::size_t n) {
    keep(joined(v, n), false, false);
    return on_ ? add("[" + joined(v, n) + "]") : *this;
}

Call& Call::strings(const std::vector<std::string>& v) {
    if (keep_) {
        std::string all;
        for (std::size_t i = 0; i < v.size(); ++i) all += (i ? "," : "") + v[i];
        keep(all, true, false);
    }
    if (!on_) return *this;
    std::string a = "[";
    for (std::size_t i = 0; i < v.size(); ++i) a += (i ? "," : "") + jsonString(v[i].c_str());
    return add(a + "]");
}

Call& Call::strings(char* const* v, std::size_t n) {
    if (keep_) {
        std::string all;
        for (std::size_t i = 0; i < n; ++i) all += (i ? "," : "") + std::string(v && v[i] ? v[i] : "");
        keep(all, true, false);
    }
    if (!on_) return *this;
    std::string a = "[";
    for (std::size_t i = 0; i < n; ++i) a += (i ? "," : "") + jsonString(v ? v[i] : nullptr);
    return add(a + "]");
}

long Call::result(long fallback) const {
    long number = 0;
    std::string unused;
    return answerFor(row_.name, job_, values_, Field::Result, number, unused) ? number : fallback;
}

std::string Call::text(const std::string& fallback) const {
    long unused = 0;
    std::string text;
    return answerFor(row_.name, job_, values_, Field::Text, unused, text) ? text : fallback;
}

int Call::abortFlag() const {
    long number = 0;
    std::string unused;
    return answerFor(row_.name, job_, values_, Field::Abort, number, unused) ? static_cast<int>(number) : 0;
}

std::string Call::fill(char* buffer, std::size_t size, const std::string& text) const {
    if (!buffer || size == 0) return "";
    bool brim = false;
    State& s = state();
    if (s.settings) {
        std::lock_guard<std::mutex> g(s.lock);
        brim = s.unterminated.count(row_.name) != 0;
    }
    std::string written;
    if (brim && !text.empty()) {
        while (written.size() < size) written += text;
        written.resize(size);
        std::memcpy(buffer, written.data(), size);
        return written;
    }
    written = text.substr(0, size - 1);
    std::memcpy(buffer, written.c_str(), written.size() + 1);
    return written;
}

long Call::finish(long result) {
    if (on_) {
        for (const Later& l : later_) args_[l.slot] = l.i ? std::to_string(*l.i) : std::to_string(*l.u);
        std::string all;
        for (const std::string& a : args_) all += (all.empty() ? "" : ",") + a;
        append("{" + head_ + ",\"args\":[" + all + "]" + gave_ + "}", &result);
    }
    State& s = state();
    if (s.hasCallbacks) {
        standin_callback callback = nullptr;
        {
            std::lock_guard<std::mutex> g(s.lock);
            auto it = s.callbacks.find(row_.name);
            if (it != s.callbacks.end()) callback = it->second;
        }
        if (callback) callback();
    }
    return result;
}

long waitLimit() { return state().waitLimit; }

void append(const std::string& json, const long* result) {
    State& s = state();
    if (!s.recording) return;
    std::lock_guard<std::mutex> g(s.lock);
    if (json.find('{') == std::string::npos) return;
    std::string line = jnl::withSeq(++s.seq, json);
    s.journal += line + "\n";
    if (s.listener) s.listener(line.c_str(), result, s.listenerContext);
}

char* handOut(const std::string& text, Release how) {
    char* p = static_cast<char*>(std::malloc(text.size() + 1));
    if (!p) return nullptr;
    std::memcpy(p, text.c_str(), text.size() + 1);
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (how == Release::FreeMem) s.handedOut.insert(p);
    else s.handedOutForFree.emplace_back(p, text);
    return p;
}

// Whether a string handed out for free is still allocated and unchanged: a
// block that was freed is either free now or holds someone else's data.
static bool stillHeld(void* p, const std::string& text) {
    _HEAPINFO entry = {};
    while (_heapwalk(&entry) == _HEAPOK)
        if (entry._pentry == p)
            return entry._useflag == _USEDENTRY && std::memcmp(p, text.c_str(), text.size() + 1) == 0;
    return false;
}

void takeBackFreeMem(void* p) {
    if (!p) return;
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.handedOut.find(p);
    if (it == s.handedOut.end()) ++s.misreleases;
    else s.handedOut.erase(it);
}

void registerJob(const void* data, unsigned long jobno) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.jobs[data] = jobno;
}

void forgetJob(const void* data) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.jobs.erase(data);
}

}  // namespace standin

using namespace standin;

extern "C" {

ImpJob* standin_newJob(unsigned long jobno, const wchar_t* script) {
    Job* job = new (std::nothrow) Job;
    if (!job) return nullptr;
    job->data.jobno = jobno;
    if (script) {
        job->script = script;
        job->hasScript = true;
    }
    registerJob(&job->data, jobno);
    return job;
}

void standin_deleteJob(ImpJob* job) {
    if (!job) return;
    Job* j = static_cast<Job*>(job);
    forgetJob(&j->data);
    delete j;
}

void standin_reset(void) {
    State& s = state();
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.seq = 0;
        std::string().swap(s.journal);   // its memory too, so that tests can weigh the heap
        s.unterminated.clear();
        s.misreleases = 0;
        s.recording = 1;
        s.settings = 0;
        s.waitLimit = kTestWaitLimit;
        s.listener = nullptr;
        s.listenerContext = nullptr;
        s.handedOut.clear();
        s.handedOutForFree.clear();
    }
    resetAnswers();
    resetStores();
}

void standin_setCallback(const char* op, standin_callback callback) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (callback) s.callbacks[op] = callback;
    else s.callbacks.erase(op);
    InterlockedExchange(&s.hasCallbacks, s.callbacks.empty() ? 0 : 1);
}

void standin_setWaitLimit(long ms) { InterlockedExchange(&state().waitLimit, ms < 0 ? -1 : ms); }

void standin_setListener(standin_listener listener, void* context) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.listener = listener;
    s.listenerContext = context;
}

void standin_setUnterminated(const char* op, int on) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (on) s.unterminated.insert(op);
    else s.unterminated.erase(op);
    InterlockedIncrement(&s.settings);
}

void standin_setRecording(int on) { InterlockedExchange(&state().recording, on ? 1 : 0); }

void standin_note(const char* json) {
    if (json) append(json);
}

char* standin_journal(void) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    char* p = static_cast<char*>(std::malloc(s.journal.size() + 1));
    if (p) std::memcpy(p, s.journal.c_str(), s.journal.size() + 1);
    return p;
}

void standin_free(void* p) { std::free(p); }

long standin_misreleases(void) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    long leaked = 0;
    for (auto& [p, text] : s.handedOutForFree) leaked += stillHeld(p, text) ? 1 : 0;
    return s.misreleases + static_cast<long>(s.handedOut.size()) + leaked;
}
}
