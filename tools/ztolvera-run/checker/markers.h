// The comment markers that silence the checker's rules, one reader of them:
//   ' ztolvera: ignore RULE[, RULE...]         on the marker's line
//   ' ztolvera: ignore-file RULE[, RULE...]    anywhere in the file
// A marker counts only in a comment, after a quote mark that no string holds.
#pragma once

#include <map>
#include <set>
#include <string>

struct Silenced {
    std::map<unsigned, std::set<std::string>> lines;   // by 1-based line, as the tokenizer counts
    std::set<std::string> file;

    bool silences(const char* rule, unsigned line) const;
};

Silenced silencedRules(const std::wstring& text);
