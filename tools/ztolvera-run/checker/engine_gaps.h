// What the platform's VBScript engine, measured under Wine, lacks or does
// differently from the engine on the agent's machines. One table: the
// checker warns from it, README lists it, and a test runs every probe
// through the runner so that an entry which stops being true fails the
// build instead of misleading script authors.
#pragma once

#include <string>
#include <vector>

struct EngineGap {
    enum Kind {
        MissingBuiltin,    // `name` is not there; calling it fails
        ReDimOfEmptyDim,   // ReDim of an array declared `Dim a()`
        ReDimUndeclared,   // ReDim of a name that no Dim declared
        LongProcedure,     // a procedure of `limit` statements or more does not compile
        BareCrLines,       // lines that end in a CR alone are not counted
        DeepNesting,       // blocks that open with `name` nested more than `limit` levels deep do not compile
        Undeclared,        // an undeclared name under Option Explicit
        RunTimeOnly,       // shows only while the script runs: no static check
    };
    Kind kind;
    const wchar_t* name;     // the built-in, or a short name of the gap
    const char* effect;      // what the script author meets, in words
    const wchar_t* probe;    // a script whose run shows the gap; "@" is `repeated` `limit` times, "~" `closing` as often
    const char* shows;       // what the runner prints for that probe's job (null: the jobs' process dies)
    const wchar_t* repeated = nullptr;
    unsigned limit = 0;
    const wchar_t* closing = nullptr;
};

const std::vector<EngineGap>& engineGaps();

// The probe's script text with its repetitions written out.
std::wstring probeText(const EngineGap& gap);
