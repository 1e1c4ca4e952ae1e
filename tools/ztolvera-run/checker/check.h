// The checker: what can be seen in a script's text before it runs. Calls of
// CVEXT and CVFLEXT (also inside With blocks and through Set aliases) are
// held against the members of the registered type library; uses of what
// the platform's engine lacks against the measured list of its gaps; and a
// few contract notes. Every finding is on the line and column an editor
// shows, also in branches that a run never takes.
#pragma once

#include <string>
#include <vector>

#include "members.h"

struct Finding {
    unsigned line = 0, column = 0;
    bool error = false;       // the call fails (or the engine refuses the text); otherwise a warning
    std::string message;      // UTF-8
};

std::vector<Finding> checkScript(const std::wstring& text, const Members& members);

// "file:line:column: error: message\n", as compilers write it.
std::string findingLine(const std::wstring& file, const Finding& finding);

// For an error that the engine reported as 438 or 450 on `line` (1-based):
// the extension members called there, in words from the type library
// ("CVEXT.ItemCount(list, delim) As Long takes 2 arguments, given 3").
// Empty when the line calls none.
std::string explainMemberError(const std::wstring& text, unsigned line, const Members& members);

// --check FILE...: every file's findings on standard output, nothing run.
// Exit status 1 when any finding is an error or the type library cannot be
// read, 0 otherwise.
int checkFiles(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& texts);

// The same findings as lines for standard error before the jobs run; a run
// goes on whatever they say.
std::vector<std::string> findingsBeforeRun(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& texts);
