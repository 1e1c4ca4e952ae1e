// The two sides of each benchmark: zTolvera's host as the agent drives it,
// and the bare VBScript engine with a minimal site of its own.
#pragma once

#include <windows.h>
#include <activscp.h>

#include <string>

#include "owners.h"
#include "ztolvera.h"

class BenchHost {
public:
    BenchHost();
    ~BenchHost();
    bool ok() const { return static_cast<bool>(host_); }

    // Registers a job whose script text is `script`, compiled when asked.
    unsigned long reg(const std::wstring& script, bool compile);
    void unreg(unsigned long cookie);
    // One run of a registered job; its ret.
    bool run(unsigned long cookie);
    // reg, compile, run, unreg of one job.
    void lifecycle(const std::wstring& script);
    // Runs that did not succeed, so far (an abort succeeds).
    long failed() const { return failed_; }

private:
    ComPtr<ITolvera> host_;
    unsigned long nextJob_ = 1;
    volatile LONG failed_ = 0;
};

// A bare engine with a site that offers one named item, STUB: an IDispatch
// whose methods do nothing.
class BareEngine {
public:
    BareEngine() = default;
    ~BareEngine();
    BareEngine(BareEngine&&) = default;
    bool prepare(const std::wstring& script, bool withStub = false);   // create, InitNew, site, parse
    void run();                                                          // connect and call main

private:
    ComPtr<IActiveScript> engine_;
    ComPtr<IActiveScriptParse> parse_;
};

// The bare engine's whole round: create, InitNew, parse, run main, close.
void bareRun(const std::wstring& script, bool withStub);

// `Sub main` calling OBJECT.DataLog `calls` times in a loop.
std::wstring loopScript(const wchar_t* object, int calls);
// Fifty lines of ordinary script work, the size of a usual monitoring job;
// then a loop of `calls` CVEXT.DataLog calls, none by default.
std::wstring fiftyLineScript(int calls = 0);

// Committed private memory of the process, summed over its address space:
// the platform's process counters do not report private bytes here.
SIZE_T privateBytes();
SIZE_T heapBytesInUse();
