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
};

// "STREAM:STOP:RUNNER:ORIGIN"; handles as inherited numbers.
std::wstring childSpecText(const ChildSpec& spec);
bool parseChildSpec(const std::wstring& text, ChildSpec& spec);

// What the runner hands the child on its standard input, one JSON line: the
// scenario's answers and stores as the runner parsed them, and each job's
// name and script text as the runner read them. Every file is read once,
// in the runner, so that the child cannot read one differently.
struct ChildWork {
    Scenario scenario;               // its answers and stores; the expectations stay with the runner
    struct JobText {
        unsigned long jobno = 0;
        std::string name;            // UTF-8
        std::wstring text;
    };
    std::vector<JobText> jobs;
    // The session's plan as the runner settled it from its command line and
    // the scenario, which the child's own command line cannot tell.
    unsigned runs = 1;
    unsigned threads = 1;
    bool fast = false;
    double everySeconds = 0;
};
std::string childWorkText(const ChildWork& work);
bool readChildWork(const std::string& text, ChildWork& work);

// The child's whole life: its exit status means nothing to the runner,
// which reads how things ended from the stream. The work comes on standard
// input.
int runChild(const Options& options, const ChildSpec& spec);
