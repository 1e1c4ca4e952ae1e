// What --test runs: each script with each of its scenarios, found beside it
// by name (NAME.vbs with NAME.toml and NAME.*.toml), so that a folder of
// scripts and scenarios is a test suite without a list to keep.
#pragma once

#include <string>
#include <vector>

struct TestPair {
    std::wstring script;
    std::wstring scenario;      // "" for a script without one: it runs plainly
};

// The pairs of the folders and scripts given, in name order within each
// folder. False with `error` for a name that is neither, or a folder
// without scripts.
bool findPairs(const std::vector<std::wstring>& given, std::vector<TestPair>& pairs, std::wstring& error);

// "NAME.vbs with NAME.full.toml" (file names only).
std::wstring pairName(const TestPair& pair);
// The scenario's file name, or the script's for a script without one.
std::wstring pairSuite(const TestPair& pair);
