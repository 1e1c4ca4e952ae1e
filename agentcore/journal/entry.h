// One journal line as its readers take it: the runner's timeline, the calls
// log, the report, the expectations and the tests' fixtures read every line
// through readEntry, and nowhere else.
#pragma once

#include <string>
#include <string_view>

#include "coreops.h"
#include "json.h"

namespace jnl {

struct Entry {
    enum Kind {
        Other,           // a line of no kind below
        Call,            // a core call (with or without the job context)
        ScriptError,     // sendScpException: a script error reported to the job
        Trace,           // a trace line
        Host,            // the runner's note of a host operation
        Fake,            // a call of a script on the fake machine (op "TextStream.ReadLine")
    };
    Kind kind = Other;
    unsigned long seq = 0;
    unsigned long job = 0;            // the line's job, 0 for none
    bool hasContext = false;          // a call made with a job context
    unsigned long pwdobj = 0;         // the context's pwdobj
    std::string op;                   // Call, ScriptError, Fake
    const coreops::Operation* row = nullptr;   // the operation's row, null for one not in the table
    Json args = Json::array();        // in the row's order
    bool hasGave = false;             // MCGetVirDataItem: the item it returned; Fake: its answer
    Json gave;
    std::string failed;               // Fake: the error it raised instead of an answer
    unsigned fakeRun = 0;             // Fake: the run of the job that made it
    std::string trace;                // Trace: the text
    int mask = 0;                     // Trace: a mask other than zTolvera's, 0 for its own
    std::string step;                 // Host: "reg", "compile", "run", "stop", "unreg"
    long hr = 0;                      // Host
    bool hasRet = false;              // Host: a run's ret
    long ret = 0;

    // The argument of the parameter `name` of the operation's row; null
    // when the row has no such parameter or the line no such argument.
    const Json* arg(std::string_view name) const;
    // The run of the call's own job that its context names (for a fake's
    // call, the run it was made in), 0 for none.
    unsigned run() const;
};

// False for a line that is not a JSON object.
bool readEntry(const std::string& text, Entry& entry);

}  // namespace jnl
