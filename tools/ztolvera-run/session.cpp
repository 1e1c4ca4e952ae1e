#include "session.h"

#include "standin.h"

namespace {
thread_local Doing tDoing;
}  // namespace

Session::Session() : origin_(std::chrono::steady_clock::now()) { GetLocalTime(&began_); }

Session::~Session() { standin_setListener(nullptr, nullptr); }

void Session::listen(std::function<void(const Seen&)> eachLine) {
    eachLine_ = std::move(eachLine);
    standin_setListener(&Session::onLine, this);
}

void Session::setDoing(const Doing& doing) { tDoing = doing; }

double Session::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin_).count();
}

void Session::onLine(const char* line, const long* result, void* context) {
    auto* self = static_cast<Session*>(context);
    Seen seen;
    seen.at = self->now();
    seen.doing = tDoing;
    seen.line = line;
    seen.hasResult = result != nullptr;
    seen.result = result ? *result : 0;
    {
        std::lock_guard<std::mutex> g(self->lock_);
        self->lines_.push_back(seen);
    }
    if (self->eachLine_) self->eachLine_(seen);
}

void Session::runStarted(unsigned long job, unsigned run) {
    RunTimes times;
    times.job = job;
    times.run = run;
    times.start = now();
    std::lock_guard<std::mutex> g(lock_);
    runs_.push_back(times);
}

void Session::runEnded(unsigned long job, unsigned run, HRESULT hr, VARIANT_BOOL ret) {
    double end = now();
    std::lock_guard<std::mutex> g(lock_);
    for (auto it = runs_.rbegin(); it != runs_.rend(); ++it) {
        if (it->job == job && it->run == run) {
            it->end = end;
            it->hr = hr;
            it->ret = ret;
            return;
        }
    }
}

std::vector<Seen> Session::lines() const {
    std::lock_guard<std::mutex> g(lock_);
    return lines_;
}

std::vector<RunTimes> Session::runs() const {
    std::lock_guard<std::mutex> g(lock_);
    return runs_;
}
