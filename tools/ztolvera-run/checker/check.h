// The checker: what can be seen in a script's text before it runs. Calls of
// CVEXT and CVFLEXT (also inside With blocks and through Set aliases) are
// held against the members of zTolvera.dll's type library; uses of what
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
    const char* rule = "";    // a warning's rule, which a marker in the script can silence
};

// The engine's refusal first (at the engine's line, in its words), then the
// checker's own findings in the order of the text. A warning is left out
// where a comment marker silences its rule:
//   ' ztolvera: ignore RULE[, RULE...]         on the marker's line
//   ' ztolvera: ignore-file RULE[, RULE...]    anywhere in the file
std::vector<Finding> checkScript(const std::wstring& text, const Members& members);

// "file:line:column: warning: message [rule]\n", as compilers write it.
std::string findingLine(const std::wstring& file, const Finding& finding);

// For an error that the engine reported as 438 or 450 on `line` (1-based):
// the extension calls there that the type library refuses, in its words
// ("CVEXT.ItemCount takes 2 arguments, given 3: ItemCount(list, delim) As
// Long"). Empty when every extension call on the line fits its member.
std::string explainMemberError(const std::wstring& text, unsigned line, const Members& members);

// --check FILE...: every file's findings on standard output, nothing run.
// Exit status 1 when any finding is an error or the type library cannot be
// read, 0 otherwise.
int checkFiles(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& texts);

// The same findings as lines for standard error before the jobs run; a run
// goes on whatever they say.
std::vector<std::string> findingsBeforeRun(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& texts);
