// The platform's own judgement of a script's syntax: the text is compiled
// in a fresh engine that is never started, so its global code does not run
// and nothing of the host is reached, and whatever the engine refuses is
// reported as the engine reports it when the agent compiles the job.
#pragma once

#include <string>

struct EngineVerdict {
    bool refused = false;
    unsigned line = 0, column = 0;   // 1-based, as the engine counts lines (a CR alone ends none)
    std::wstring text;               // the engine's text, or what the error is in words where it gave none
};

EngineVerdict compileInEngine(const std::wstring& text);
