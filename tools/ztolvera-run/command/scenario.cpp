#include "scenario.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include "fakeops.h"
#include "json.h"
#include "operations.h"
#include "options.h"
#include "owners.h"
#include "script.h"
#include "standin.h"

namespace {

const std::vector<std::string> kTopKeys = {"runs", "fast", "every", "answers", "objects", "dictionary", "exports", "expect",
                                           "machine"};
const std::vector<std::string> kAnswerKeys = {"result", "text", "abort", "when"};
const std::vector<std::string> kWhenKeys = {"result", "text", "abort", "runs", "match", "ignore_case"};
const std::vector<std::string> kExpectKinds = {"event", "data", "abort", "script_error", "calls"};
const std::vector<std::string> kCountKeys = {"job", "runs", "count", "at_least", "at_most", "ignore_case"};

// The machine's sections: each a list of tables with these keys, the first
// of which every entry needs; "real" names the fakes that stay real.
struct MachineSection {
    const char* name;
    std::vector<std::string> keys;
};
const MachineSection kMachineSections[] = {
    {"wmi", {"class", "namespace", "runs", "rows", "absent"}},
    {"files", {"path", "runs", "text", "lines", "modified", "absent", "folder"}},
    {"drives", {"letter", "runs", "free", "total", "absent"}},
    {"registry", {"key", "runs", "value", "type", "absent"}},
    {"environment", {"name", "runs", "value", "absent"}},
};
const std::vector<std::string> kRealFakes = {"wmi", "files", "registry"};
const std::vector<std::string> kRegistryTypes = {"REG_SZ", "REG_EXPAND_SZ", "REG_DWORD"};

// Which keys each kind of expectation takes besides kCountKeys.
std::vector<std::string> keysOf(Expectation::Kind kind) {
    switch (kind) {
    case Expectation::Event: return {"severity", "message", "objects"};
    case Expectation::Data: return {"stream", "series", "min", "max"};
    case Expectation::Abort: return {"severity", "message", "objects"};
    case Expectation::ScriptError: return {"message"};
    case Expectation::Calls: return {"op", "match", "answer"};
    }
    return {};
}

// UTF-8 of the file to the core's 8-bit strings.
std::string toAnsi(const std::string& text) { return ansi(fromUtf8(text)); }

class Reader {
public:
    Reader(const std::string& source, Scenario& scenario) : source_(source), scenario_(scenario) {}

    bool read(const toml::table& root) {
        if (!onlyKeys(root, kTopKeys, "the scenario")) return false;
        if (!session(root)) return false;
        if (auto* t = root["answers"].as_table(); t && !answers(*t)) return false;
        if (root.contains("answers") && !root["answers"].as_table()) return fail(*root.get("answers"), "answers must be a table");
        if (auto* t = root["objects"].as_table(); t && !objects(*t)) return false;
        if (auto* t = root["dictionary"].as_table(); t && !dictionary(*t)) return false;
        if (auto* t = root["exports"].as_table(); t && !exports(*t)) return false;
        if (auto* t = root["expect"].as_table(); t && !expectations(*t)) return false;
        if (auto* t = root["machine"].as_table(); t && !machine(*t)) return false;
        for (const char* key : {"objects", "dictionary", "exports", "expect", "machine"})
            if (root.contains(key) && !root[key].as_table()) return fail(*root.get(key), std::string(key) + " must be a table");
        // Numbered in the order they stand in the file.
        std::stable_sort(lines_.begin(), lines_.end());
        for (std::size_t i = 0; i < lines_.size(); ++i) scenario_.expectations[lines_[i].second].number = static_cast<unsigned>(i + 1);
        std::sort(scenario_.expectations.begin(), scenario_.expectations.end(),
                  [](const Expectation& a, const Expectation& b) { return a.number < b.number; });
        return true;
    }

    const std::string& error() const { return error_; }

private:
    bool fail(const toml::node& at, const std::string& message) {
        error_ = source_ + ":" + std::to_string(at.source().begin.line) + ": " + message;
        return false;
    }

    bool onlyKeys(const toml::table& t, const std::vector<std::string>& allowed, const std::string& where) {
        for (auto&& [key, node] : t) {
            std::string k(key.str());
            if (std::find(allowed.begin(), allowed.end(), k) == allowed.end())
                return fail(node, unknownName("key", k, allowed, "in " + where));
        }
        return true;
    }

    bool text(const toml::node& n, const std::string& what, std::string& out) {
        if (auto s = n.value_exact<std::string>()) return out = *s, true;
        return fail(n, what + " must be a string");
    }

    bool integer(const toml::node& n, const std::string& what, long low, long high, long& out) {
        auto v = n.value_exact<int64_t>();
        if (!v && n.is_boolean()) v = *n.value_exact<bool>() ? 1 : 0;
        if (!v || *v < low || *v > high)
            return fail(n, what + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        out = static_cast<long>(*v);
        return true;
    }

    bool flag(const toml::node& n, const std::string& what, bool& out) {
        if (auto b = n.value_exact<bool>()) return out = *b, true;
        return fail(n, what + " must be true or false");
    }

    bool real(const toml::node& n, const std::string& what, double& out) {
        if (auto v = n.value<double>(); v && (n.is_integer() || n.is_floating_point())) return out = *v, true;
        return fail(n, what + " must be a number");
    }

    // runs, fast and every: the session's shape, which the command line overrides.
    bool session(const toml::table& root) {
        long v = 0;
        if (const toml::node* n = root.get("runs")) {
            if (!integer(*n, "runs", 1, kMaxRuns, v)) return false;
            scenario_.runs = static_cast<unsigned>(v);
        }
        if (const toml::node* n = root.get("fast"); n && !flag(*n, "fast", scenario_.fast)) return false;
        if (const toml::node* n = root.get("every")) {
            double d = 0;
            if (!real(*n, "every", d)) return false;
            if (!(d >= kMinEvery && d <= kMaxEvery)) return fail(*n, "every takes seconds from 0.01 to 86400");
            scenario_.everySeconds = d;
        }
        return true;
    }

    // 3, or a string of spans separated by commas: "3", "3-", "2-4", "1,3,5-".
    bool runList(const toml::node& n, RunList& list) {
        const char* form = "runs must be a run number or a string like \"3\", \"1,3\", \"3-\" or \"2-4\"";
        list.given = true;
        if (auto v = n.value_exact<int64_t>()) {
            if (*v < 1 || *v > kMaxRuns) return fail(n, form);
            RunRange one;
            one.given = true;
            one.first = one.last = static_cast<unsigned>(*v);
            list.spans.push_back(one);
            return true;
        }
        auto s = n.value_exact<std::string>();
        if (!s) return fail(n, form);
        const char* p = s->c_str();
        for (;;) {
            while (*p == ' ') ++p;
            char* end = nullptr;
            long first = std::strtol(p, &end, 10), last = first;
            if (end == p || first < 1) return fail(n, form);
            if (*end == '-') {
                const char* rest = end + 1;
                if (*rest >= '0' && *rest <= '9') {
                    last = std::strtol(rest, &end, 10);
                    if (last < first) return fail(n, form);
                } else {
                    last = 0, end = const_cast<char*>(rest);
                }
            }
            while (*end == ' ') ++end;
            if (first > static_cast<long>(kMaxRuns) || last > static_cast<long>(kMaxRuns)) return fail(n, form);
            RunRange span;
            span.given = true;
            span.first = static_cast<unsigned>(first);
            span.last = static_cast<unsigned>(last);
            list.spans.push_back(span);
            if (!*end) return true;
            if (*end != ',') return fail(n, form);
            p = end + 1;
        }
    }

    // An operation by the core's name or by the script method's that calls
    // it (GetObjItemCnt for MCGetVirDataItemCnt), spelt exactly either way.
    const coreops::Operation* operation(const toml::node& at, const std::string& name) {
        const coreops::Operation* op = findOperation(name);
        if (!op) op = findOperation(operationOfMethod(name));
        if (!op) fail(at, unknownOperation(name));
        return op;
    }

    // A pattern as a string, or a number written as the journal writes it.
    bool patternOf(const toml::node& value, const std::string& param, std::string& pattern) {
        if (auto s = value.value_exact<std::string>()) pattern = *s;
        else if (auto i = value.value_exact<int64_t>()) pattern = std::to_string(*i);
        else if (auto d = value.value_exact<double>()) pattern = std::to_string(*d);
        else return fail(value, "the pattern for " + param + " must be a string or a number");
        return true;
    }

    // { param = "pattern", ... }: parameters of `op`, patterns as strings or numbers.
    bool patterns(const toml::node& n, const coreops::Operation& op, Patterns& out, bool ansi) {
        const toml::table* t = n.as_table();
        if (!t) return fail(n, "match must be a table of parameter = pattern");
        std::vector<std::string> params = parametersOf(op);
        for (auto&& [key, value] : *t) {
            std::string k(key.str());
            if (std::find(params.begin(), params.end(), k) == params.end())
                return fail(value, unknownName("parameter", k, params, std::string("of ") + op.name));
            std::string pattern;
            if (!patternOf(value, k, pattern)) return false;
            out.emplace_back(k, ansi && value.is_string() ? toAnsi(pattern) : pattern);
        }
        return true;
    }

    // { param = "pattern", ... } of a fake's member, parameters named as its table names them.
    bool fakePatterns(const toml::node& n, const fakes::Member& member, Patterns& out) {
        const toml::table* t = n.as_table();
        if (!t) return fail(n, "match must be a table of parameter = pattern");
        std::vector<std::string> params = fakeParameters(member);
        for (auto&& [key, value] : *t) {
            std::string k(key.str());
            int i = fakeParameterIndex(member, k);
            if (i < 0) return fail(value, unknownName("parameter", k, params, "of " + fakeMemberName(member)));
            std::string pattern;
            if (!patternOf(value, k, pattern)) return false;
            out.emplace_back(params[static_cast<std::size_t>(i)], pattern);
        }
        return true;
    }

    bool fields(const toml::table& t, const coreops::Operation& op, ScenarioAnswer& a) {
        std::string why;
        for (const char* field : {"result", "text", "abort"}) {
            const toml::node* n = t.get(field);
            if (!n) continue;
            if (!checkField(op, field, why)) return fail(*n, why);
            long v = 0;
            std::string s;
            if (field[0] == 'r') {
                if (!integer(*n, "result", LONG_MIN, LONG_MAX, v)) return false;
                a.result = v;
            } else if (field[0] == 't') {
                if (!text(*n, "text", s)) return false;
                a.text = toAnsi(s);
            } else {
                if (!integer(*n, "abort", INT_MIN, INT_MAX, v)) return false;
                a.abort = static_cast<int>(v);
            }
        }
        return true;
    }

    bool answers(const toml::table& all) {
        for (auto&& [key, node] : all) {
            const coreops::Operation* op = operation(node, std::string(key.str()));
            if (!op) return false;
            std::string name = op->name;
            const toml::table* t = node.as_table();
            if (!t) return fail(node, "answers." + name + " must be a table");
            if (!onlyKeys(*t, kAnswerKeys, "answers." + name)) return false;
            ScenarioAnswer plain;
            plain.op = name;
            if (!fields(*t, *op, plain)) return false;
            if (plain.result || plain.text || plain.abort) scenario_.answers.push_back(plain);
            const toml::node* when = t->get("when");
            if (!when) continue;
            const toml::array* list = when->as_array();
            if (!list) return fail(*when, "when must be a list of tables ([[answers." + name + ".when]])");
            for (const toml::node& item : *list) {
                const toml::table* w = item.as_table();
                if (!w) return fail(item, "each when must be a table");
                if (!onlyKeys(*w, kWhenKeys, "answers." + name + ".when")) return false;
                ScenarioAnswer a;
                a.op = name;
                RunList runs;
                if (const toml::node* r = w->get("runs"); r && !runList(*r, runs)) return false;
                if (const toml::node* m = w->get("match"); m && !patterns(*m, *op, a.match, true)) return false;
                if (const toml::node* c = w->get("ignore_case"); c && !flag(*c, "ignore_case", a.ignoreCase)) return false;
                if (!fields(*w, *op, a)) return false;
                if (!a.result && !a.text && !a.abort) return fail(item, "this when answers nothing (no result, text or abort)");
                // The core takes one span per answer: a list is one answer each.
                if (runs.spans.empty()) runs.spans.push_back(RunRange{});
                for (const RunRange& span : runs.spans) {
                    a.runs = span;
                    scenario_.answers.push_back(a);
                }
            }
        }
        return true;
    }

    bool objects(const toml::table& t) {
        for (auto&& [key, node] : t) {
            const toml::array* list = node.as_array();
            if (!list) return fail(node, "objects." + std::string(key.str()) + " must be a list of strings");
            std::vector<std::string> items;
            for (const toml::node& item : *list) {
                std::string s;
                if (!text(item, "each item", s)) return false;
                items.push_back(toAnsi(s));
            }
            scenario_.objects.emplace_back(toAnsi(std::string(key.str())), items);
        }
        return true;
    }

    bool dictionary(const toml::table& t) {
        for (auto&& [key, node] : t) {
            std::string s;
            if (!text(node, "dictionary." + std::string(key.str()), s)) return false;
            scenario_.dictionary.emplace_back(toAnsi(std::string(key.str())), toAnsi(s));
        }
        return true;
    }

    bool exports(const toml::table& t) {
        for (auto&& [key, node] : t) {
            ExportSeed e;
            e.name = toAnsi(std::string(key.str()));
            if (auto s = node.value_exact<std::string>()) e.kind = ExportSeed::Text, e.text = *s;
            else if (auto b = node.value_exact<bool>()) e.kind = ExportSeed::Boolean, e.boolean = *b;
            else if (auto i = node.value_exact<int64_t>(); i && *i >= LONG_MIN && *i <= LONG_MAX)
                e.kind = ExportSeed::Integer, e.integer = static_cast<long>(*i);
            else if (auto d = node.value_exact<double>()) e.kind = ExportSeed::Real, e.real = *d;
            else return fail(node, "exports." + e.name + " must be a string, a whole number, a number or true/false");
            scenario_.exports.push_back(e);
        }
        return true;
    }

    // [machine] and its sections, as the fake machine takes them: one JSON
    // document, each entry with its runs as [first, last] spans.
    bool machine(const toml::table& all) {
        std::vector<std::string> names = {"real"};
        for (const MachineSection& m : kMachineSections) names.push_back(m.name);
        if (!onlyKeys(all, names, "machine")) return false;
        Json doc = Json::object();
        for (auto&& [key, node] : all) {
            std::string name(key.str());
            if (name == "real") {
                const toml::array* list = node.as_array();
                if (!list) return fail(node, "machine.real must be a list such as [\"registry\"]");
                Json real = Json::array();
                for (const toml::node& item : *list) {
                    std::string fake;
                    if (!text(item, "each of machine.real", fake)) return false;
                    if (std::find(kRealFakes.begin(), kRealFakes.end(), fake) == kRealFakes.end())
                        return fail(item, unknownName("fake", fake, kRealFakes, "in machine.real"));
                    real.push_back(fake);
                }
                doc["real"] = real;
                continue;
            }
            const MachineSection& section =
                *std::find_if(std::begin(kMachineSections), std::end(kMachineSections),
                              [&](const MachineSection& m) { return name == m.name; });
            const toml::array* list = node.as_array();
            if (!list) return fail(node, "machine." + name + " must be a list of tables ([[machine." + name + "]])");
            Json entries = Json::array();
            for (const toml::node& item : *list) {
                const toml::table* t = item.as_table();
                if (!t) return fail(item, "each machine." + name + " must be a table");
                Json entry;
                if (!machineEntry(*t, section, entry)) return false;
                entries.push_back(entry);
            }
            doc[name] = entries;
        }
        scenario_.machine = jsonLine(doc);
        return true;
    }

    bool machineEntry(const toml::table& t, const MachineSection& section, Json& entry) {
        const std::string where = std::string("machine.") + section.name;
        if (!onlyKeys(t, section.keys, where)) return false;
        const std::string& first = section.keys.front();
        if (!t.get(first)) return fail(t, "each " + where + " needs " + first);
        if (t.get("text") && t.get("lines")) return fail(*t.get("lines"), "text and lines say the same: give one of them");
        entry = Json::object();
        for (auto&& [key, node] : t) {
            std::string k(key.str());
            std::string s;
            if (k == "runs") {
                RunList runs;
                if (!runList(node, runs)) return false;
                Json spans = Json::array();
                for (const RunRange& r : runs.spans) spans.push_back(Json::array({r.first, r.last}));
                entry["runs"] = spans;
            } else if (k == "absent" || k == "folder") {
                bool b = false;
                if (!flag(node, k, b)) return false;
                entry[k] = b;
            } else if (k == "rows") {
                const toml::array* rows = node.as_array();
                if (!rows) return fail(node, "rows must be a list of tables of property = value");
                Json list = Json::array();
                for (const toml::node& row : *rows) {
                    const toml::table* r = row.as_table();
                    if (!r) return fail(row, "each row must be a table of property = value");
                    Json props = Json::object();
                    for (auto&& [prop, value] : *r) {
                        Json v;
                        if (!machineValue(value, "property " + std::string(prop.str()), v)) return false;
                        props[std::string(prop.str())] = v;
                    }
                    list.push_back(props);
                }
                entry["rows"] = list;
            } else if (k == "lines") {
                const toml::array* lines = node.as_array();
                if (!lines) return fail(node, "lines must be a list of strings");
                std::string all;
                for (const toml::node& line : *lines) {
                    if (!text(line, "each line", s)) return false;
                    all += s + "\r\n";
                }
                entry["text"] = all;
            } else if (k == "modified") {
                if (auto d = node.value_exact<toml::date_time>()) {
                    char when[32];
                    std::snprintf(when, sizeof when, "%04d-%02u-%02u %02u:%02u:%02u", d->date.year, d->date.month,
                                  d->date.day, d->time.hour, d->time.minute, d->time.second);
                    entry[k] = when;
                } else if (!text(node, k + " (a date and time)", s)) {
                    return false;
                } else {
                    entry[k] = s;
                }
            } else if (k == "free" || k == "total") {
                double d = 0;
                if (!real(node, k, d)) return false;
                if (d < 0) return fail(node, k + " cannot be negative");
                entry[k] = d;
            } else if (k == "value") {
                Json v;
                if (!machineValue(node, "value", v)) return false;
                entry[k] = v;
            } else if (k == "type") {
                if (!text(node, k, s)) return false;
                if (std::find(kRegistryTypes.begin(), kRegistryTypes.end(), s) == kRegistryTypes.end())
                    return fail(node, unknownName("registry type", s, kRegistryTypes, "in " + where));
                entry[k] = s;
            } else {
                if (!text(node, k, s)) return false;
                entry[k] = s;
            }
        }
        return true;
    }

    // A property's or value's content: a string, a number or true/false.
    bool machineValue(const toml::node& n, const std::string& what, Json& out) {
        if (auto s = n.value_exact<std::string>()) out = *s;
        else if (auto b = n.value_exact<bool>()) out = *b;
        else if (auto i = n.value_exact<int64_t>()) out = *i;
        else if (auto d = n.value_exact<double>()) out = *d;
        else return fail(n, what + " must be a string, a number or true/false");
        return true;
    }

    bool expectations(const toml::table& all) {
        if (!onlyKeys(all, kExpectKinds, "expect")) return false;
        for (auto&& [key, node] : all) {
            std::string kind(key.str());
            const toml::array* list = node.as_array();
            if (!list) return fail(node, "expect." + kind + " must be a list of tables ([[expect." + kind + "]])");
            for (const toml::node& item : *list) {
                const toml::table* t = item.as_table();
                if (!t) return fail(item, "each expect." + kind + " must be a table");
                Expectation e;
                e.kind = static_cast<Expectation::Kind>(std::find(kExpectKinds.begin(), kExpectKinds.end(), kind) - kExpectKinds.begin());
                if (!expectation(*t, kind, e)) return false;
                lines_.emplace_back(item.source().begin.line, scenario_.expectations.size());
                scenario_.expectations.push_back(e);
            }
        }
        return true;
    }

    bool expectation(const toml::table& t, const std::string& kind, Expectation& e) {
        std::vector<std::string> allowed = kCountKeys, own = keysOf(e.kind);
        allowed.insert(allowed.end(), own.begin(), own.end());
        if (!onlyKeys(t, allowed, "expect." + kind)) return false;
        long v = 0;
        std::string s;
        for (auto&& [key, node] : t) {
            std::string k(key.str());
            if (k == "job") { if (!text(node, k, e.job)) return false; }
            else if (k == "runs") { if (!runList(node, e.runs)) return false; }
            else if (k == "ignore_case") { if (!flag(node, k, e.ignoreCase)) return false; }
            else if (k == "count" || k == "at_least" || k == "at_most") {
                if (!integer(node, k, 0, LONG_MAX, v)) return false;
                (k == "count" ? e.count : k == "at_least" ? e.atLeast : e.atMost) = static_cast<unsigned>(v);
            } else if (k == "severity") {
                if (const toml::array* range = node.as_array()) {
                    long low = 0, high = 0;
                    if (range->size() != 2 || !integer(*range->get(0), "severity", LONG_MIN, LONG_MAX, low) ||
                        !integer(*range->get(1), "severity", LONG_MIN, LONG_MAX, high))
                        return error_.empty() ? fail(node, "severity must be a number or [lowest, highest]") : false;
                    e.severityLow = low, e.severityHigh = high;
                } else {
                    if (!integer(node, "severity", LONG_MIN, LONG_MAX, v)) return false;
                    e.severityLow = e.severityHigh = v;
                }
            } else if (k == "message" || k == "objects" || k == "stream" || k == "series") {
                if (!text(node, k, s)) return false;
                (k == "message" ? e.message : k == "objects" ? e.objects : k == "stream" ? e.stream : e.series) = s;
            } else if (k == "min" || k == "max") {
                double d = 0;
                if (!real(node, k, d)) return false;
                (k == "min" ? e.min : e.max) = d;
            } else if (k == "op") {
                if (!text(node, k, e.op)) return false;
                if (e.op.find('.') != std::string::npos) {
                    const fakes::Member* m = findFakeMember(e.op);
                    if (!m) return fail(node, unknownName("member of the fake machine", e.op, fakeMemberNames(), ""));
                    e.op = fakeMemberName(*m);
                    e.fake = true;
                } else {
                    const coreops::Operation* op = operation(node, e.op);
                    if (!op) return false;
                    e.op = op->name;
                }
            } else if (k == "answer") {
                if (!text(node, k, s)) return false;
                e.answer = s;
            }
        }
        if (e.kind == Expectation::Calls) {
            const toml::node* op = t.get("op");
            if (!op) return fail(t, "expect.calls needs op, the core operation or fake member to count");
            if (e.answer && !e.fake) return fail(*t.get("answer"), "answer is what a fake answered: op must name a fake's member");
            const toml::node* m = t.get("match");
            if (m && e.fake && !fakePatterns(*m, *findFakeMember(e.op), e.match)) return false;
            if (m && !e.fake && !patterns(*m, *findOperation(e.op), e.match, false)) return false;
        }
        if (e.count && (e.atLeast || e.atMost)) return fail(t, "count is exact: it goes without at_least and at_most");
        return contradictions(t, e);
    }

    // An expectation that no session could meet is a mistake of the file,
    // not a verdict to hand down after the runs.
    bool contradictions(const toml::table& t, const Expectation& e) {
        auto at = [&](const char* key) -> const toml::node& { return t.get(key) ? *t.get(key) : static_cast<const toml::node&>(t); };
        if (e.atLeast && e.atMost && *e.atLeast > *e.atMost)
            return fail(at("at_most"), "at_least = " + std::to_string(*e.atLeast) + " and at_most = " +
                                           std::to_string(*e.atMost) + " can never both hold");
        if (e.min && e.max && *e.min > *e.max)
            return fail(at("max"), "min = " + number(*e.min) + " and max = " + number(*e.max) + " can never both hold");
        if (e.severityLow && e.severityHigh && *e.severityLow > *e.severityHigh)
            return fail(at("severity"), "severity [" + std::to_string(*e.severityLow) + ", " +
                                            std::to_string(*e.severityHigh) + "] is empty: the lowest is above the highest");
        return true;
    }

    static std::string number(double d) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", d);
        return text;
    }

    std::string source_;
    Scenario& scenario_;
    std::string error_;
    std::vector<std::pair<std::size_t, std::size_t>> lines_;   // line in the file, expectation
};

}  // namespace

bool RunList::contains(unsigned run) const {
    return std::any_of(spans.begin(), spans.end(), [run](const RunRange& r) { return r.contains(run); });
}

std::string RunList::words() const {
    if (!given) return "the session";
    if (spans.size() == 1) return spans.front().words();
    std::string text = "each of runs ";
    for (const RunRange& r : spans) {
        if (&r != &spans.front()) text += ", ";
        text += std::to_string(r.first);
        if (!r.last) text += " on";
        else if (r.last != r.first) text += "-" + std::to_string(r.last);
    }
    return text;
}

std::string RunRange::words() const {
    if (!given) return "the session";
    if (first == last) return "run " + std::to_string(first);
    if (!last) return first == 1 ? "every run" : "each run from " + std::to_string(first) + " on";
    return "each of runs " + std::to_string(first) + "-" + std::to_string(last);
}

bool parseScenario(const std::string& text, const std::string& source, Scenario& scenario, std::string& error) {
    try {
        toml::table root = toml::parse(text, source);
        Reader reader(source, scenario);
        if (reader.read(root)) return true;
        error = reader.error();
    } catch (const toml::parse_error& e) {
        error = source + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    } catch (const std::exception& e) {
        error = source + ": " + e.what();
    }
    return false;
}

bool loadScenario(const std::wstring& path, Scenario& scenario, std::string& error) {
    // Read as script files are: UTF-8, or UTF-16LE with its mark.
    std::wstring text, why;
    if (!readScript(path, text, why)) {
        error = "cannot read the scenario " + utf8(path) + ": " + utf8(why);
        return false;
    }
    return parseScenario(utf8(text), utf8(jobNameOf(path)), scenario, error);
}

void applyScenario(const Scenario& scenario) {
    for (const auto& [name, items] : scenario.objects) {
        std::vector<const char*> list;
        for (const std::string& item : items) list.push_back(item.c_str());
        standin_setObjectItems(name.c_str(), list.data(), static_cast<unsigned long>(list.size()));
    }
    for (const auto& [name, value] : scenario.dictionary) standin_seedDictionary(name.c_str(), value.c_str());
    for (const ExportSeed& e : scenario.exports) {
        Variant v;
        switch (e.kind) {
        case ExportSeed::Text: {
            std::wstring wide = fromUtf8(e.text);
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
            break;
        }
        case ExportSeed::Integer: V_VT(&v) = VT_I4; V_I4(&v) = e.integer; break;
        case ExportSeed::Real: V_VT(&v) = VT_R8; V_R8(&v) = e.real; break;
        case ExportSeed::Boolean: V_VT(&v) = VT_BOOL; V_BOOL(&v) = e.boolean ? VARIANT_TRUE : VARIANT_FALSE; break;
        }
        standin_seedExport(e.name.c_str(), &v);
    }
    for (const ScenarioAnswer& a : scenario.answers) {
        std::vector<const char*> params, values;
        for (const auto& [param, pattern] : a.match) params.push_back(param.c_str()), values.push_back(pattern.c_str());
        standin_answer given = {};
        given.op = a.op.c_str();
        given.firstRun = a.runs.first;
        given.lastRun = a.runs.last;
        given.matchCount = static_cast<unsigned long>(params.size());
        given.matchParams = params.data();
        given.matchValues = values.data();
        given.hasResult = a.result.has_value();
        given.result = a.result.value_or(0);
        given.text = a.text ? a.text->c_str() : nullptr;
        given.hasAbort = a.abort.has_value();
        given.abort = a.abort.value_or(0);
        given.ignoreCase = a.ignoreCase;
        standin_addAnswer(&given);
    }
}
