// Scenarios (--scenario FILE): what the stand-in core answers per operation,
// by default, by argument and by run; the starting content of its shared
// stores; the machine the fakes answer for; and what the scripts are
// expected to do. A TOML file, read with
// toml++; every operation, parameter, answer and key is checked, and a
// misspelt one is an error naming the nearest valid name.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Runs 3 (first 3, last 3), 3- (first 3, open) or 2-4.
struct RunRange {
    unsigned first = 0;
    unsigned last = 0;           // 0: no end
    bool given = false;
    bool contains(unsigned run) const { return run >= first && (!last || run <= last); }
    std::string words() const;   // "run 3", "runs 3 and later", "runs 2-4"
};

// What a scenario's runs = ... says: 3, "1,3", "2-4", "5-" or a mix ("1,4-").
struct RunList {
    std::vector<RunRange> spans;
    bool given = false;
    bool contains(unsigned run) const;
    std::string words() const;   // a single span in its own words, several as "each of runs 1, 3, 5 on"
};

using Patterns = std::vector<std::pair<std::string, std::string>>;   // parameter, pattern

struct ScenarioAnswer {
    std::string op;
    RunRange runs;
    Patterns match;              // core strings: the ANSI code page
    std::optional<long> result;
    std::optional<std::string> text;
    std::optional<int> abort;
    bool ignoreCase = false;     // its patterns match letters of either case
};

struct ExportSeed {
    enum Kind { Text, Integer, Real, Boolean };
    std::string name;
    Kind kind = Text;
    std::string text;
    long integer = 0;
    double real = 0;
    bool boolean = false;
};

struct Expectation {
    enum Kind { Event, Data, Abort, ScriptError, Calls };
    Kind kind = Event;
    unsigned number = 0;          // 1, 2, ... in the file's order
    std::string job;              // job names it applies to (pattern), "" all
    RunList runs;                 // given: checked in each of these runs; else over the session
    std::optional<unsigned> count, atLeast, atMost;
    bool ignoreCase = false;      // its patterns match letters of either case
    std::optional<long> severityLow, severityHigh;
    std::optional<std::string> message, objects;       // patterns, UTF-8
    std::optional<std::string> stream, series;
    std::optional<double> min, max;
    std::string op;               // a core operation, or a fake's member ("TextStream.ReadLine")
    bool fake = false;            // op is a member of the fake machine
    Patterns match;               // UTF-8, as the journal reads back
    std::optional<std::string> answer;   // a fake's call: what it answered (pattern)
};

struct Scenario {
    std::vector<ScenarioAnswer> answers;
    std::vector<std::pair<std::string, std::string>> dictionary;
    std::vector<ExportSeed> exports;
    std::vector<std::pair<std::string, std::vector<std::string>>> objects;
    std::vector<Expectation> expectations;
    // How the session runs, unless the command line says otherwise.
    std::optional<unsigned> runs;
    bool fast = false;
    std::optional<double> everySeconds;
    // The [machine] sections as the fake machine takes them (one JSON
    // document); empty when the scenario fakes nothing of the machine.
    std::string machine;
};

// False with "FILE:LINE: what is wrong" in `error`.
bool parseScenario(const std::string& text, const std::string& source, Scenario& scenario, std::string& error);
bool loadScenario(const std::wstring& path, Scenario& scenario, std::string& error);

// Hands answers and starting content to the stand-in core, after its reset
// and before --set, which thus overrides the file.
void applyScenario(const Scenario& scenario);
