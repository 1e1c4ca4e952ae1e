// What --test hands a CI: one line per script and scenario pair, and JUnit
// XML with one test case per expectation, so that a failed one names itself
// in the CI's list of tests with what differed.
#pragma once

#include <string>
#include <vector>

#include "expectations.h"

struct PairOutcome {
    std::string name;                    // "NAME.vbs with NAME.toml", UTF-8
    std::string suite;                   // the scenario's or script's file name without its folder
    int status = 0;                      // the pair's session's exit status
    std::string trouble;                 // why the runs failed apart from the expectations, "" when they did not
    std::vector<Verdict> verdicts;
    double seconds = 0;
};

// "PASS NAME.vbs with NAME.toml: 3 expectations hold" or "FAIL ...: reason".
std::string pairLine(const PairOutcome& pair);

// A JUnit document: a testsuite per pair, a testcase per verdict, and one
// for the runs themselves, which fails when a job did.
std::string junitXml(const std::vector<PairOutcome>& pairs);

// Text as XML 1.0 takes it in content and attributes: markup escaped, and
// characters it cannot carry at all written as \xNN.
std::string escapeXml(const std::string& text);
