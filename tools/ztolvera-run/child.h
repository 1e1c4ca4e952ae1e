// The process that runs the jobs. The runner starts it as the same program
// with the hidden option --child SPEC and watches it: the child tells every
// journal line, step and run as it happens (stream.h) and writes nothing
// else, so a crash of the engine takes with it only what had not happened.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "options.h"
#include "scenario.h"

struct ChildSpec {
    HANDLE stream = nullptr;     // write end of the runner's pipe
    HANDLE stop = nullptr;       // set by the runner: no further job or run starts
    HANDLE runner = nullptr;     // the runner's process: the child ends with it
    long long origin = 0;        // the runner's session clock, in steady_clock ticks
    std::vector<unsigned long> jobs;  // job numbers (1-based places in the scripts) to run
};

// "STREAM:STOP:RUNNER:ORIGIN:JOB,JOB,..."; handles as inherited numbers.
std::wstring childSpecText(const ChildSpec& spec);
bool parseChildSpec(const std::wstring& text, ChildSpec& spec);

// The child's whole life: its exit status means nothing to the runner,
// which reads how things ended from the stream.
int runChild(const Options& options, const Scenario& scenario, const ChildSpec& spec);
