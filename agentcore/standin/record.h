// The stand-in core's journal and settings, shared by every operation.
#pragma once

#include "../coreops.h"
#include "../ravlin.h"
#include "answers.h"
#include "format.h"

#include <cstddef>
#include <string>
#include <vector>

namespace standin {

// The stand-in's job object: a number, a script text and a data block whose
// address is the job's data pointer.
struct Job : ImpJob {
    struct Data {
        unsigned long jobno;
    };
    Data data;
    std::wstring script;
    bool hasScript = false;
};

// Number of the job whose data pointer `data` is, or 0 when it is none.
unsigned long jobOfData(const void* data);

std::string jsonString(const char* s);             // an ANSI string as the journal shows it, or null

// One call as the journal shows it, recorded from the operation's row:
// arguments are added in the row's order; an out-value is read when the
// call finishes, so the line shows it as it holds when the call returns.
// finish() appends the line and returns the result.
class Call {
public:
    Call(const coreops::Operation& row, const _zjobcxt* cxt);
    explicit Call(const coreops::Operation& row);   // an operation without job context

    // Formatting is skipped while journaling is off, unless the operation's
    // answers depend on its arguments.
    Call& arg(int v) { return scalar(std::to_string(v)); }
    Call& arg(long v) { return scalar(std::to_string(v)); }
    Call& arg(unsigned long v) { return scalar(std::to_string(v)); }
    Call& arg(double v) { return on_ || keep_ ? scalar(jnl::number(v)) : *this; }
    Call& arg(const char* s);
    Call& arg(const std::string& s) { return arg(s.c_str()); }
    Call& ints(const long* v, std::size_t n);
    Call& uints(const unsigned long* v, std::size_t n);
    Call& strings(char* const* v, std::size_t n);
    Call& strings(const std::vector<std::string>& v);
    // An out- or in/out-pointer: answers compare the value it holds now, the
    // journal shows the one it holds when the call finishes (null for a null
    // pointer).
    Call& out(const int* p);
    Call& out(const unsigned long* p);
    // An argument already in the journal's form (a VARIANT, a list of pairs).
    Call& raw(const std::string& json);

    // The job of the call's context, 0 for none.
    unsigned long job() const { return job_; }

    // The settings of this operation, or the given defaults.
    long result(long fallback) const;
    std::string text(const std::string& fallback) const;
    int abortFlag() const;

    // Copies `text` into a caller's buffer of `size` bytes the way the agent
    // core fills its fixed-size buffers: cut to fit and terminated, or, where
    // the operation is set to fill its buffers unterminated, repeated up to
    // the buffer's last byte without a NUL. Returns the text as written, for
    // the journal, which never reads the caller's buffer itself.
    std::string fill(char* buffer, std::size_t size, const std::string& text) const;

    // What an operation hands back as its return value rather than through
    // a parameter (an item's text): the line's "gave" member.
    Call& gave(const char* text) { if (on_) gave_ = ",\"gave\":" + jsonString(text); return *this; }

    long finish(long result);

private:
    Call& scalar(const std::string& text);
    Call& add(const std::string& json);        // to the journal line
    Call& nullArg();
    void keep(const std::string& text, bool isString, bool isNull);

    struct Later {                 // an out-value, read when the call finishes
        std::size_t slot;
        const int* i;
        const unsigned long* u;
    };

    bool on_;                      // journaling on when the call began
    bool keep_;                    // arguments kept for the answers' patterns
    const coreops::Operation& row_;
    unsigned long job_ = 0;
    std::vector<ArgValue> values_;
    std::string head_;
    std::vector<std::string> args_;
    std::vector<Later> later_;
    std::string gave_;
};

// Appends a line: `json` is an object; seq is put in front of its members.
// `result` is the integer result of the core call the line records, if any.
void append(const std::string& json, const long* result = nullptr);

// How long the waits really sleep at most, in ms; negative for no limit.
long waitLimit();

// Strings handed out by the core on the C runtime heap. Those meant for
// freeMem are tracked, so that a release through the wrong function shows:
// one given to free never comes back, and freeMem of any other pointer is
// counted at once.
enum class Release { FreeMem, CrtFree };
char* handOut(const std::string& text, Release how);
void takeBackFreeMem(void* p);

void resetStores();                                  // defined by the families with stores
void resetObjects();

}  // namespace standin
