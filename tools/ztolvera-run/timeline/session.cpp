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
