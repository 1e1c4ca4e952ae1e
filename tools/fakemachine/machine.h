// The machine the fakes answer from: parsed and checked once at activation,
// never changed after, so every script thread reads it without a lock.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace fakes {

using Json = nlohmann::ordered_json;

// The runs an entry holds in: [first, last] spans, last 0 for no end; no
// spans for every run.
struct Runs {
    std::vector<std::pair<unsigned, unsigned>> spans;
    bool contains(unsigned run) const;
};

struct Entry {
    std::wstring key;   // what entries are matched by, case folded
    Runs runs;
    bool absent = false;
};

struct WmiClass : Entry {
    std::wstring ns, cls;
    std::vector<Json> rows;   // JSON objects, properties in the order written
};

struct FileEntry : Entry {
    std::wstring path;        // as written, with "\" for "/"
    bool folder = false;
    std::wstring text;
    double modified = 0;      // a VT_DATE; 0 when not given
};

struct DriveEntry : Entry {
    std::wstring letter;      // "C:"
    double free = 0, total = 0;
};

struct RegistryEntry : Entry {
    std::wstring name;        // as written
    Json value;
    unsigned long type = 0;   // REG_SZ, REG_EXPAND_SZ or REG_DWORD
};

struct EnvironmentEntry : Entry {
    std::wstring value;
};

class Machine {
public:
    // Null with a reason when the text is not a machine.
    static std::unique_ptr<Machine> parse(const std::string& json, std::string& error);

    // Each of these is the entry that holds in `run`, null when none does
    // or the one that does is absent.
    const WmiClass* wmiClass(const std::wstring& ns, const std::wstring& cls, unsigned run) const;
    const FileEntry* file(const std::wstring& path, unsigned run) const;   // a file, not a folder
    bool folderExists(const std::wstring& path, unsigned run) const;
    const DriveEntry* drive(const std::wstring& letter, unsigned run) const;
    const RegistryEntry* registryValue(const std::wstring& key, unsigned run) const;
    const EnvironmentEntry* variable(const std::wstring& name, unsigned run) const;

    // The present files directly in a folder, and the present drives, in
    // the order first written.
    std::vector<const FileEntry*> filesIn(const std::wstring& folder, unsigned run) const;
    std::vector<const DriveEntry*> drives(unsigned run) const;

    // Whether the script reaches the real objects for "wmi", "files" or "registry".
    bool real(const std::string& kind) const;

private:
    std::vector<WmiClass> wmi_;
    std::vector<FileEntry> files_;
    std::vector<DriveEntry> drives_;
    std::vector<RegistryEntry> registry_;
    std::vector<EnvironmentEntry> environment_;
    std::vector<std::string> real_;
};

// Keys as entries are matched: upper case; paths also with "\" for "/" and
// without a trailing "\" (but "C:\" keeps its own); a registry key with its
// root in the short form (HKLM\...).
std::wstring foldCase(std::wstring text);
std::wstring pathKey(std::wstring path);
std::wstring driveKey(const std::wstring& spec);   // "c", "c:", "c:\" -> "C:"; "" when not a drive
std::wstring registryKey(const std::wstring& key); // "" when the root is unknown

// UTF-8 and UTF-16.
std::wstring wide(const std::string& utf8);
std::string utf8(const std::wstring& text);

}  // namespace fakes
