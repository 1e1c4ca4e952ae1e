// The journal's format, as the stand-in core writes it and every reader
// expects it: JSON Lines, one object per line, "seq" first. What is not
// plain JSON is decided here once: a double that is not finite is written
// as printf writes it (nan, inf, -inf), and a run's pwdobj is its job's
// number times 1000 plus the run.
#pragma once

#include <string>

namespace jnl {

// The words a non-finite double is written as, and the value each reads as.
struct NonFinite {
    const char* word;
    double value;
};
extern const NonFinite kNonFinite[4];

// A double as the journal shows it: always with a decimal point (80.0, not
// 80 or 8e+01), the shortest text that reads back the same value, or one of
// the words above.
std::string number(double v);

// A string as the journal shows it: quoted, every character outside
// printable ASCII escaped (\n, \r, \t, or \uXXXX of UTF-16), up to its
// first NUL. The core's strings are in the ANSI code page; what a reader
// took from a line is UTF-8; null is the journal's null.
std::string quoted(const std::wstring& text);
std::string quotedAnsi(const char* text);
std::string quotedUtf8(const std::string& text);

// pwdobj of run `run` of job `jobno`, and back: the run of `jobno` that
// `pwdobj` names, 0 when it names none (a call outside a run, pwdobj 0).
constexpr unsigned long kRunsPerJob = 1000;
constexpr unsigned long pwdobjOf(unsigned long jobno, unsigned run) { return jobno * kRunsPerJob + run; }
unsigned runOf(unsigned long jobno, unsigned long pwdobj);
// The job a pwdobj belongs to.
constexpr unsigned long jobOf(unsigned long pwdobj) { return pwdobj / kRunsPerJob; }

// `{"seq":N,` in front of the members of `object` ("{...}"); and a line
// without its seq, for readers that compare content and order only.
std::string withSeq(unsigned long seq, const std::string& object);
std::string withoutSeq(const std::string& line);
// The seq of a line, 0 for a line without one.
unsigned long seqOf(const std::string& line);

// The runner's note of a host operation: {"job":J,"host":"STEP","hr":HR},
// a run with "ret":R.
std::string hostNote(unsigned long jobno, const char* step, long hr);
std::string runNote(unsigned long jobno, long hr, long ret);

}  // namespace jnl
