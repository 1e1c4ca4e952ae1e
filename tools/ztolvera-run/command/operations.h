// The core's operations as the runner's scenarios and --set name them,
// checked against the core's table (coreops.h): every name a script
// author writes is one the core has, or an error that names the nearest one.
#pragma once

#include <string>
#include <vector>

#include "coreops.h"

// The operation named exactly `name` that the core answers, or null.
const coreops::Operation* findOperation(const std::string& name);

// The operation's parameters' names, in the journal's order.
std::vector<std::string> parametersOf(const coreops::Operation& op);

// Of `candidates`, the one nearest to `name` (letter case ignored), "" when
// none is near enough to be what was meant.
std::string nearestName(const std::string& name, const std::vector<std::string>& candidates);

// "unknown key "txt" in WHERE" and, where one is near, "; did you mean ...?".
std::string unknownName(const char* what, const std::string& name, const std::vector<std::string>& candidates,
                        const std::string& where = "");
std::vector<std::string> operationNames();
// The same for an operation, which also knows the script methods whose
// operation has another name (GetObjItemCnt is MCGetVirDataItemCnt).
std::string unknownOperation(const std::string& name);

// The core operation that the script method `name` (spelt exactly) calls
// under another name, "" for any other name.
std::string operationOfMethod(const std::string& name);

// Whether `op` has an answer of the field ("result", "text", "abort"); where
// not, `error` says so and which fields it has.
bool checkField(const coreops::Operation& op, const std::string& field, std::string& error);

// What --list-ops prints: each operation, its parameters and its answers.
std::string operationsList();
