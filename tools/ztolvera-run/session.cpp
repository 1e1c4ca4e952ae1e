#include "session.h"

namespace {

thread_local Doing tDoing;

const char* const kStepNames[] = {"", "reg", "compile", "run", "stop", "unreg"};

}  // namespace

const char* stepName(Step step) { return kStepNames[static_cast<int>(step)]; }

Step stepNamed(const std::string& name) {
    for (int i = 1; i < static_cast<int>(std::size(kStepNames)); ++i)
        if (name == kStepNames[i]) return static_cast<Step>(i);
    return Step::None;
}

Session::Session() : Session(Clock::now()) {}

Session::Session(Clock::time_point origin) : origin_(origin) { GetLocalTime(&began_); }

void Session::setDoing(const Doing& doing) { tDoing = doing; }

const Doing& Session::doing() { return tDoing; }

double Session::now() const { return std::chrono::duration<double>(Clock::now() - origin_).count(); }

void Session::runStarted(unsigned long job, unsigned run, double at, double slotEnd) {
    RunTimes times;
    times.slotEnd = slotEnd;
    times.job = job;
    times.run = run;
    times.start = at;
    runs_.push_back(times);
}

void Session::runEnded(unsigned long job, unsigned run, double at, HRESULT hr, VARIANT_BOOL ret) {
    for (auto it = runs_.rbegin(); it != runs_.rend(); ++it) {
        if (it->job == job && it->run == run) {
            it->end = at;
            it->hr = hr;
            it->ret = ret;
            return;
        }
    }
}
