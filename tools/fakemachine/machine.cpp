#include "machine.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>

namespace fakes {

bool Runs::contains(unsigned run) const {
    if (spans.empty()) return true;
    for (auto& [first, last] : spans)
        if (run >= first && (last == 0 || run <= last)) return true;
    return false;
}

std::wstring wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    if (n) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    if (n) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring foldCase(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring pathKey(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    while (path.size() > 1 && path.back() == L'\\' && !(path.size() == 3 && path[1] == L':')) path.pop_back();
    return foldCase(path);
}

std::wstring driveKey(const std::wstring& spec) {
    std::wstring s = spec;
    if (s.size() >= 2 && s[1] == L':' && (s.size() == 2 || (s.size() == 3 && (s[2] == L'\\' || s[2] == L'/'))))
        s = s.substr(0, 1);
    if (s.size() != 1 || !iswalpha(s[0])) return L"";
    return foldCase(s) + L":";
}

namespace {

// The registry's roots as scripts write them, and the short form keys are matched in.
struct Root { const wchar_t* longName; const wchar_t* shortName; };
constexpr Root kRoots[] = {
    {L"HKEY_LOCAL_MACHINE", L"HKLM"}, {L"HKEY_CURRENT_USER", L"HKCU"}, {L"HKEY_CLASSES_ROOT", L"HKCR"},
    {L"HKEY_USERS", L"HKU"},          {L"HKEY_CURRENT_CONFIG", L"HKCC"},
};

}  // namespace

std::wstring registryKey(const std::wstring& key) {
    std::wstring k = foldCase(key);
    std::size_t slash = k.find(L'\\');
    std::wstring root = k.substr(0, slash), rest = slash == std::wstring::npos ? L"" : k.substr(slash);
    for (const Root& r : kRoots)
        if (root == r.longName || root == r.shortName) return r.shortName + rest;
    return L"";
}

namespace {

// The entry of `entries` for `key` that holds in `run`: the last one written.
template <class T>
const T* holding(const std::vector<T>& entries, const std::wstring& key, unsigned run) {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (it->key == key && it->runs.contains(run)) return it->absent ? nullptr : &*it;
    return nullptr;
}

// Of each key, in the order first written, the entry that holds in `run`.
template <class T>
std::vector<const T*> allHolding(const std::vector<T>& entries, unsigned run) {
    std::vector<const T*> out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        bool seen = false;
        for (std::size_t j = 0; j < i && !seen; ++j) seen = entries[j].key == entries[i].key;
        if (seen) continue;
        if (const T* e = holding(entries, entries[i].key, run)) out.push_back(e);
    }
    return out;
}

// Reading one section's entries, each failure a reason naming where it is.
struct Reader {
    std::string& error;

    bool fail(const std::string& where, const std::string& what) {
        error = where + ": " + what;
        return false;
    }
    bool text(const Json& e, const char* name, const std::string& where, std::wstring& out, bool required) {
        auto it = e.find(name);
        if (it == e.end()) return required ? fail(where, std::string("\"") + name + "\" is missing") : true;
        if (!it->is_string()) return fail(where, std::string("\"") + name + "\" must be a string");
        out = wide(it->get<std::string>());
        return true;
    }
    bool flag(const Json& e, const char* name, const std::string& where, bool& out) {
        auto it = e.find(name);
        if (it == e.end()) return true;
        if (!it->is_boolean()) return fail(where, std::string("\"") + name + "\" must be true or false");
        out = it->get<bool>();
        return true;
    }
    bool number(const Json& e, const char* name, const std::string& where, double& out) {
        auto it = e.find(name);
        if (it == e.end()) return true;
        if (!it->is_number()) return fail(where, std::string("\"") + name + "\" must be a number");
        out = it->get<double>();
        return true;
    }
    bool runs(const Json& e, const std::string& where, Runs& out) {
        auto it = e.find("runs");
        if (it == e.end()) return true;
        if (!it->is_array()) return fail(where, "\"runs\" must be a list of [first, last] spans");
        for (auto& span : *it) {
            if (!span.is_array() || span.size() != 2 || !span[0].is_number_unsigned() || !span[1].is_number_unsigned())
                return fail(where, "\"runs\" must be a list of [first, last] spans of run numbers");
            unsigned first = span[0].get<unsigned>(), last = span[1].get<unsigned>();
            if (first == 0 || (last != 0 && last < first))
                return fail(where, "a span of \"runs\" must start at run 1 or later and not end before it starts");
            out.spans.emplace_back(first, last);
        }
        return true;
    }
    bool common(const Json& e, const std::string& where, Entry& out) {
        if (!e.is_object()) return fail(where, "must be an object");
        return runs(e, where, out.runs) && flag(e, "absent", where, out.absent);
    }
    // "YYYY-MM-DD HH:MM:SS" (or only the date) as a VT_DATE.
    bool date(const Json& e, const std::string& where, double& out) {
        std::wstring text;
        if (!this->text(e, "modified", where, text, false) || text.empty()) return error.empty();
        SYSTEMTIME t = {};
        unsigned y, mo, d, h = 0, mi = 0, s = 0;
        char tail;
        std::string t8 = utf8(text);
        int n = std::sscanf(t8.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &tail);
        if ((n != 3 && n != 6) || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
            return fail(where, "\"modified\" must read YYYY-MM-DD HH:MM:SS");
        t.wYear = WORD(y), t.wMonth = WORD(mo), t.wDay = WORD(d), t.wHour = WORD(h), t.wMinute = WORD(mi), t.wSecond = WORD(s);
        if (!SystemTimeToVariantTime(&t, &out)) return fail(where, "\"modified\" is not a date");
        return true;
    }
};

// The members a section's entries may have; any other is a mistake worth naming.
bool onlyKnown(Reader& r, const Json& e, const std::string& where, std::initializer_list<const char*> known) {
    for (auto& [name, value] : e.items()) {
        bool ok = false;
        for (const char* k : known) ok = ok || name == k;
        if (!ok) return r.fail(where, "unknown member \"" + name + "\"");
    }
    return true;
}

bool readWmi(Reader& r, const Json& e, const std::string& where, WmiClass& out) {
    if (!r.common(e, where, out) || !onlyKnown(r, e, where, {"namespace", "class", "runs", "absent", "rows"}) ||
        !r.text(e, "class", where, out.cls, true))
        return false;
    out.ns = L"root\\cimv2";
    if (!r.text(e, "namespace", where, out.ns, false)) return false;
    out.key = pathKey(out.ns) + L":" + foldCase(out.cls);
    auto rows = e.find("rows");
    if (rows == e.end()) return true;
    if (!rows->is_array()) return r.fail(where, "\"rows\" must be a list of objects");
    for (auto& row : *rows) {
        if (!row.is_object()) return r.fail(where, "\"rows\" must be a list of objects");
        for (auto& [name, value] : row.items())
            if (value.is_structured()) return r.fail(where, "property \"" + name + "\" must be a string, number, boolean or null");
        out.rows.push_back(row);
    }
    return true;
}

bool readFile(Reader& r, const Json& e, const std::string& where, FileEntry& out) {
    if (!r.common(e, where, out) ||
        !onlyKnown(r, e, where, {"path", "runs", "absent", "folder", "text", "modified"}) ||
        !r.text(e, "path", where, out.path, true) || !r.flag(e, "folder", where, out.folder) ||
        !r.text(e, "text", where, out.text, false) || !r.date(e, where, out.modified))
        return false;
    if (out.path.empty()) return r.fail(where, "\"path\" is empty");
    for (wchar_t& c : out.path)
        if (c == L'/') c = L'\\';
    out.key = pathKey(out.path);
    if (out.folder && (e.contains("text") || e.contains("modified")))
        return r.fail(where, "a folder has no \"text\" or \"modified\"");
    return true;
}

bool readDrive(Reader& r, const Json& e, const std::string& where, DriveEntry& out) {
    if (!r.common(e, where, out) || !onlyKnown(r, e, where, {"letter", "runs", "absent", "free", "total"}) ||
        !r.text(e, "letter", where, out.letter, true) || !r.number(e, "free", where, out.free) ||
        !r.number(e, "total", where, out.total))
        return false;
    out.key = out.letter = driveKey(out.letter);
    if (out.key.empty()) return r.fail(where, "\"letter\" must be a drive letter such as \"C:\"");
    return true;
}

bool readRegistry(Reader& r, const Json& e, const std::string& where, RegistryEntry& out) {
    if (!r.common(e, where, out) || !onlyKnown(r, e, where, {"key", "runs", "absent", "value", "type"}) ||
        !r.text(e, "key", where, out.name, true))
        return false;
    out.key = registryKey(out.name);
    if (out.key.empty()) return r.fail(where, "\"key\" must start with a root such as HKLM\\");
    std::wstring type;
    if (!r.text(e, "type", where, type, false)) return false;
    auto value = e.find("value");
    if (value == e.end() && !out.absent) return r.fail(where, "\"value\" is missing");
    // Checked where it lies: copying a list or object nested deep enough
    // would recurse past the stack. Only a plain value is kept.
    const Json none;
    const Json& v = value == e.end() ? none : *value;
    if (type.empty()) type = v.is_number_integer() ? L"REG_DWORD" : L"REG_SZ";
    if (type == L"REG_SZ" || type == L"REG_EXPAND_SZ") {
        out.type = type == L"REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
        if (!out.absent && !v.is_string()) return r.fail(where, "a " + utf8(type) + " value must be a string");
    } else if (type == L"REG_DWORD") {
        out.type = REG_DWORD;
        if (!out.absent && !(v.is_number_integer() && v.get<long long>() >= 0 && v.get<long long>() <= 0xFFFFFFFFLL))
            return r.fail(where, "a REG_DWORD value must be an integer from 0 to 4294967295");
    } else {
        return r.fail(where, "\"type\" must be REG_SZ, REG_EXPAND_SZ or REG_DWORD");
    }
    if (!v.is_structured()) out.value = v;
    return true;
}

bool readVariable(Reader& r, const Json& e, const std::string& where, EnvironmentEntry& out) {
    std::wstring name;
    if (!r.common(e, where, out) || !onlyKnown(r, e, where, {"name", "runs", "absent", "value"}) ||
        !r.text(e, "name", where, name, true) || !r.text(e, "value", where, out.value, !out.absent))
        return false;
    if (name.empty() || name.find(L'%') != std::wstring::npos) return r.fail(where, "\"name\" must be a variable name");
    out.key = foldCase(name);
    return true;
}

template <class T, class Read>
bool readSection(Reader& r, const Json& doc, const char* name, std::vector<T>& out, Read read) {
    auto it = doc.find(name);
    if (it == doc.end()) return true;
    if (!it->is_array()) return r.fail(name, "must be a list");
    for (std::size_t i = 0; i < it->size(); ++i) {
        out.emplace_back();
        if (!read(r, (*it)[i], std::string(name) + "[" + std::to_string(i) + "]", out.back())) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<Machine> Machine::parse(const std::string& text, std::string& error) {
    error.clear();
    Json doc = Json::parse(text, nullptr, false);
    if (doc.is_discarded()) {
        error = "the machine is not JSON";
        return nullptr;
    }
    if (!doc.is_object()) {
        error = "the machine must be a JSON object";
        return nullptr;
    }
    auto m = std::make_unique<Machine>();
    Reader r{error};
    if (!onlyKnown(r, doc, "the machine", {"wmi", "files", "drives", "registry", "environment", "real"}) ||
        !readSection(r, doc, "wmi", m->wmi_, readWmi) || !readSection(r, doc, "files", m->files_, readFile) ||
        !readSection(r, doc, "drives", m->drives_, readDrive) ||
        !readSection(r, doc, "registry", m->registry_, readRegistry) ||
        !readSection(r, doc, "environment", m->environment_, readVariable))
        return nullptr;
    if (auto real = doc.find("real"); real != doc.end()) {
        if (!real->is_array()) return r.fail("real", "must be a list"), nullptr;
        for (auto& kind : *real) {
            std::string k = kind.is_string() ? kind.get<std::string>() : "";
            if (k != "wmi" && k != "files" && k != "registry")
                return r.fail("real", "each must be \"wmi\", \"files\" or \"registry\""), nullptr;
            m->real_.push_back(k);
        }
    }
    return m;
}

const WmiClass* Machine::wmiClass(const std::wstring& ns, const std::wstring& cls, unsigned run) const {
    return holding(wmi_, pathKey(ns) + L":" + foldCase(cls), run);
}

const FileEntry* Machine::file(const std::wstring& path, unsigned run) const {
    const FileEntry* f = holding(files_, pathKey(path), run);
    return f && !f->folder ? f : nullptr;
}

bool Machine::folderExists(const std::wstring& path, unsigned run) const {
    std::wstring key = pathKey(path);
    if (key.empty()) return false;   // "" is no folder's path
    if (const FileEntry* f = holding(files_, key, run)) return f->folder;
    // A folder also exists where a present entry lies somewhere below it.
    std::wstring below = key.back() == L'\\' ? key : key + L"\\";
    for (const FileEntry* f : allHolding(files_, run))
        if (f->key.size() > below.size() && f->key.compare(0, below.size(), below) == 0) return true;
    return false;
}

std::vector<const FileEntry*> Machine::filesIn(const std::wstring& folder, unsigned run) const {
    std::wstring key = pathKey(folder);
    std::vector<const FileEntry*> out;
    if (key.empty()) return out;
    std::wstring below = key.back() == L'\\' ? key : key + L"\\";
    for (const FileEntry* f : allHolding(files_, run))
        if (!f->folder && f->key.size() > below.size() && f->key.compare(0, below.size(), below) == 0 &&
            f->key.find(L'\\', below.size()) == std::wstring::npos)
            out.push_back(f);
    return out;
}

const DriveEntry* Machine::drive(const std::wstring& letter, unsigned run) const {
    return holding(drives_, driveKey(letter), run);
}

std::vector<const DriveEntry*> Machine::drives(unsigned run) const { return allHolding(drives_, run); }

const RegistryEntry* Machine::registryValue(const std::wstring& key, unsigned run) const {
    return holding(registry_, registryKey(key), run);
}

const EnvironmentEntry* Machine::variable(const std::wstring& name, unsigned run) const {
    return holding(environment_, foldCase(name), run);
}

bool Machine::real(const std::string& kind) const {
    for (auto& k : real_)
        if (k == kind) return true;
    return false;
}

}  // namespace fakes
