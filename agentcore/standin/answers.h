// What the stand-in's operations answer: the table of operations with their
// parameters, and the answers set for them, each for every call or only for
// calls whose arguments and run match.
#pragma once

#include <string>
#include <vector>

namespace standin {

// An argument as the answers compare it: a string's text, a number as
// written, a list's elements joined by commas; null for a null pointer.
struct ArgValue {
    std::string text;
    bool isString = false;
    bool isNull = false;
};

enum class Field { Result, Text, Abort };

// Whether any answer of `op` depends on its arguments, so that the call
// must keep them for the lookup.
bool answersLookAtArguments(const char* op);

// The answer of the last setting of `op` that sets `field` and matches the
// call (its arguments so far and the run of `job`). False when none does.
bool answerFor(const char* op, unsigned long job, const std::vector<ArgValue>& args, Field field,
               long& number, std::string& text);

// Whether any answer was set since the reset (the calls' fast path).
bool anyAnswers();

// The run the agent started last for `job`, 0 before its first.
unsigned currentRun(unsigned long job);

void resetAnswers();

// '*' stands for any run of characters, '?' for one.
bool globMatch(const char* pattern, const char* text);

}  // namespace standin
