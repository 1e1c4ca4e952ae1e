// The runner's part of the journal: host operations as notes in the stand-in
// core's journal, and where the journal goes.
#pragma once

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "session.h"

// {"job":J,"host":"OP","hr":HR}; run adds "ret":R.
void noteHost(unsigned long job, const char* op, HRESULT hr);
void noteRun(unsigned long job, HRESULT hr, VARIANT_BOOL ret);

// Where the journal goes: a file, standard output ("-"), or nowhere.
class JournalTarget {
public:
    JournalTarget() = default;
    ~JournalTarget();
    JournalTarget(const JournalTarget&) = delete;
    JournalTarget& operator=(const JournalTarget&) = delete;

    // Opens (creates or truncates) the file now, so that an unwritable
    // journal is a usage error before any job runs.
    bool open(const std::wstring& path, std::wstring& error);
    bool toStandardOutput() const { return file_ == stdout; }
    // Writes and flushes; false once any write has failed.
    bool write(const std::string& text);
    // Why the first failed write failed ("No space left on device").
    const std::wstring& failure() const { return failure_; }

private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::wstring failure_;
};

// A call of the script that the host refused without reaching the core,
// because its run was being ended (an abort or a stop on an engine that
// cannot be interrupted): from the trace line "ScpExt-NAME: call refused,
// run PWDOBJ is being ended". Job and run come from the pwdobj.
struct RefusedCall {
    std::string member;
    unsigned long jobno = 0;
    unsigned run = 0;
};
bool refusedCall(const std::string& trace, RefusedCall& call);
