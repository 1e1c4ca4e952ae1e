// Every line zTolvera writes goes to the agent's trace log with one mask.
#pragma once

#include "ravlin.h"

inline constexpr int kTraceMask = 67;

template <class... Args>
void trace(const char* format, Args... args) {
    TraceMgr.logAdmTrace(kTraceMask, format, args...);
}
