// The script engine every host of this test process runs its jobs in: the
// platform's, or with ZTOLVERA_TEST_ENGINE=windows the engine that behaves as
// the Active Scripting documentation describes (tests/windows_engine.h), so
// that the host's paths for an engine that clones and can be interrupted
// from any thread run too. CTest runs the suites marked BOTH_ENGINES once
// with each.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine_source.h"
#include "windows_engine.h"

inline bool windowsLikeEngine() {
    static const bool chosen = [] {
        const char* name = std::getenv("ZTOLVERA_TEST_ENGINE");
        if (!name || !*name) return false;
        if (!std::strcmp(name, "windows")) return true;
        std::fprintf(stderr, "ZTOLVERA_TEST_ENGINE=%s is no engine (only \"windows\"); the platform's is used\n", name);
        return false;
    }();
    return chosen;
}

// Null: the platform's engine.
inline EngineFactory testEngineFactory() { return windowsLikeEngine() ? winengine::createWindowsEngine : nullptr; }

// Gives the process's hosts the test engine, also after a test put a
// factory of its own in between.
inline void installTestEngine() { setEngineFactory(testEngineFactory()); }
