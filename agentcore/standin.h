// Control interface of the stand-in agent core (Ravlin.dll built by this
// project). Tests and the script runner create job objects, set what the
// core answers, and read back the journal of everything the core received.
//
// The journal is JSON Lines, one object per event, in the order events
// happened (seq counts from 1 after each reset):
//   core call     {"seq":N,"job":J,"op":"NAME","ctx":[J,PWD],"args":[...]}
//   no-job call   {"seq":N,"op":"NAME","args":[...]}
//   trace line    {"seq":N,"trace":"TEXT"}            (final line end removed)
//   script error  {"seq":N,"job":J,"op":"sendScpException","args":["TEXT",IND]}
//   runner notes  whatever standin_note was given, with seq put in front
// J is the job number given to standin_newJob; the first word of a job
// context is shown as the number of the job whose data pointer it carries.
// Arguments appear in the order of the operation's row in coreops.h
// (which also says what each answers), every one of them:
// integers, doubles (always with a decimal point), strings (null for null
// pointers), arrays and filled vectors as arrays, out-buffers as the text the
// core wrote into them ("" when it wrote none), out-integers such as abort
// flags as the value they hold when the call returns (null for a null
// pointer), result pointers as the text the core gave (null for a null
// pointer or when it gave none).
#pragma once

#include "ravlin.h"

extern "C" {

// A job object with the given number and script text (which may be null).
RAVLIN_API ImpJob* standin_newJob(unsigned long jobno, const wchar_t* script);
RAVLIN_API void standin_deleteJob(ImpJob* job);

// Forgets the journal, every setting and answer, the runs begun and every
// store (dictionary, exports, objects' items, locks); seq starts again at 1.
RAVLIN_API void standin_reset(void);

// What operation `op` answers from now on, for every call: its integer
// result, the text it writes or returns, and the abort flag a wait reports.
RAVLIN_API void standin_setResult(const char* op, long result);
RAVLIN_API void standin_setText(const char* op, const char* text);
RAVLIN_API void standin_setAbort(const char* op, int flag);

// An answer that holds only for some calls of `op`: those whose arguments
// match every pattern ('*' any run of characters, '?' one; a number matches
// the same number; "null" a null pointer), made in a run of the job from
// firstRun to lastRun (0: no bound). Of all answers that match a call, the
// one added or set last decides each of its fields. 0 for an operation or
// parameter the stand-in does not have.
typedef struct standin_answer {
    const char* op;
    unsigned firstRun, lastRun;
    unsigned long matchCount;
    const char* const* matchParams;
    const char* const* matchValues;
    int hasResult;
    long result;
    const char* text;                 // null: the answer sets no text
    int hasAbort;
    int abort;
    int ignoreCase;                   // the patterns match letters of either case
} standin_answer;
RAVLIN_API int standin_addAnswer(const standin_answer* answer);

// Whether `text` matches `pattern` as the answers' patterns and the
// dictionary's match: '*' any run of characters, '?' one.
RAVLIN_API int standin_matches(const char* pattern, const char* text);

// The agent starts run `run` (1, 2, ...) of job `jobno`: the runs of answers
// count from here, and IterationCount answers `run`.
RAVLIN_API void standin_beginRun(unsigned long jobno, unsigned run);

// Starting content of the stores, which every job of the session shares: a
// name in the dictionary, a value in the export store (copied), the items
// of a virtual data object.
RAVLIN_API void standin_seedDictionary(const char* name, const char* value);
RAVLIN_API int standin_seedExport(const char* name, const VARIANT* value);
RAVLIN_API void standin_setObjectItems(const char* objname, const char* const* items, unsigned long count);
// Whether `op` fills its fixed-size answer buffer to the last byte, its text
// repeated, without a terminating NUL (off after a reset), as a core may
// that writes exactly the buffer's size.
RAVLIN_API void standin_setUnterminated(const char* op, int on);

// A function of the caller's that operation `op` calls once it has done its
// work, on the calling thread, as an agent that reacts inside a script's call
// would (null: none). Kept across resets until replaced.
typedef void (*standin_callback)(void);
RAVLIN_API void standin_setCallback(const char* op, standin_callback callback);

// Whether calls, trace lines and script errors are journaled (on after a
// reset). Benchmarks turn it off so that they time zTolvera, not the journal.
RAVLIN_API void standin_setRecording(int on);

// Longest time in milliseconds that MCSleep and the MCWaitFor operations
// really wait: 50 after a reset, so that tests stay fast; -1 for no limit,
// so that a script waits as long as it asked.
RAVLIN_API void standin_setWaitLimit(long ms);

// Called with every journal line as it is appended (seq included, line end not),
// on the thread whose call caused it, in seq order. `result` points to the
// integer result of a core call and is null for every other line. It runs
// under the journal's lock and must not call back into the stand-in. Null
// stops it; a reset stops it too.
typedef void (*standin_listener)(const char* line, const long* result, void* context);
RAVLIN_API void standin_setListener(standin_listener listener, void* context);

// Appends a line of the caller's: a JSON object without its braces' seq,
// for example "{\"job\":1,\"host\":\"reg\",\"hr\":0}".
RAVLIN_API void standin_note(const char* json);

// The journal so far as JSON Lines; release it with standin_free.
RAVLIN_API char* standin_journal(void);
RAVLIN_API void standin_free(void* p);

// Number of releases that went through the wrong function (a string of
// GetContextEx or MCGetVirDataItem given to free, or one of GetAgentInfo
// given to freeMem), and of strings never released: for GetAgentInfo's,
// those still allocated and unchanged on the C runtime heap now.
RAVLIN_API long standin_misreleases(void);
}
