// Registry-script processor: expands %name% replacements and parses the
// script into a tree of root blocks, keys and values. It touches no registry
// and needs no platform headers, so it builds and is tested (and fuzzed) on
// any host; regapply.h writes a parsed tree to the registry.
//
// Text is UTF-16 as char16_t; on Windows it is the same bytes as wchar_t.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class RegRootKey {
    ClassesRoot,      // HKCR, HKEY_CLASSES_ROOT
    CurrentUser,      // HKCU, HKEY_CURRENT_USER
    LocalMachine,     // HKLM, HKEY_LOCAL_MACHINE
    Users,            // HKU,  HKEY_USERS
    PerformanceData,  // HKPD, HKEY_PERFORMANCE_DATA
    DynData,          // HKDD, HKEY_DYN_DATA
    CurrentConfig,    // HKCC, HKEY_CURRENT_CONFIG
};

enum class RegModifier { None, ForceRemove, NoRemove, Delete };

enum class RegValueType {
    String,       // s
    MultiString,  // m: parts separated by the two characters \0
    Number,       // d: 32-bit, decimal or 0x hex
    Binary,       // b: pairs of hex digits
};

struct RegValue {
    RegValueType type = RegValueType::String;
    std::u16string text;              // s; m: every part followed by a NUL
    std::uint32_t number = 0;         // d
    std::vector<std::uint8_t> bytes;  // b
};

struct RegNamedValue {
    std::u16string name;
    RegValue value;
};

struct RegKey {
    RegModifier modifier = RegModifier::None;
    std::u16string name;
    std::optional<RegValue> defaultValue;
    std::vector<RegKey> subkeys;
    std::vector<RegNamedValue> values;
};

struct RegRootBlock {
    RegRootKey root = RegRootKey::ClassesRoot;
    std::vector<RegKey> keys;
};

struct RegScript {
    std::vector<RegRootBlock> roots;
};

enum class RegScriptError {
    None,
    UnterminatedPercent,     // a % with no closing % (or % at the end)
    ReplacementNameTooLong,  // %name% of 32 characters or more
    UnknownReplacement,      // %name% not in the replacement map
    UnexpectedEnd,           // text ended inside a block or a statement
    ExpectedRootKey,         // not one of the root key names
    ExpectedOpenBrace,
    ExpectedKeyName,
    ExpectedEquals,
    UnknownValueType,        // type letter other than s, m, d, b
    ExpectedQuotedText,      // value text must be in single quotes
    UnterminatedString,
    BadNumber,               // d value not a 32-bit decimal or 0x hex number
    BadBinary,               // b value not an even run of hex digits
    MissingValueName,        // Val without a name
    BadName,                 // empty, or holds a backslash or a NUL
    NestingTooDeep,
    ValueOnRootKey,          // Val directly inside a root block
};

// Outcome of expansion or parsing. offset and line (1-based) point into the
// text that was being read: the original text for replacement errors, the
// expanded text for grammar errors (expansion keeps line numbers as long as
// the replacements hold no line breaks).
struct RegScriptStatus {
    RegScriptError error = RegScriptError::None;
    std::size_t offset = 0;
    std::size_t line = 0;

    bool ok() const { return error == RegScriptError::None; }
};

// Names are matched without regard to ASCII letter case.
using RegReplacements = std::vector<std::pair<std::u16string, std::u16string>>;

// Deepest nesting of key blocks below a root key that the parser accepts.
inline constexpr std::size_t kRegMaxDepth = 64;

const char* RegScriptErrorText(RegScriptError error);

RegScriptStatus ExpandRegReplacements(std::u16string_view text, const RegReplacements& replacements,
                                      std::u16string& expanded);

RegScriptStatus ParseRegScript(std::u16string_view text, RegScript& script);

// Expansion then parsing; the whole script is checked before the caller
// writes anything.
RegScriptStatus ProcessRegScript(std::u16string_view text, const RegReplacements& replacements,
                                 RegScript& script);
