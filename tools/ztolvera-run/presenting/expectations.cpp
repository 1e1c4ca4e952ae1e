#include "expectations.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "fakeops.h"
#include "operations.h"
#include "report.h"
#include "script.h"
#include "standin.h"

namespace {

// A call the journal recorded with a job's context, or a call of the fake
// machine; run 0 outside a run.
struct CallSeen {
    unsigned run = 0;
    const jnl::Entry* entry;
    const std::string& op() const { return entry->op; }
    // A missing argument reads as the parameter's absence ("null" to a pattern).
    const Json& arg(const char* name) const {
        static const Json none;
        const Json* a = entry->arg(name);
        if (entry->kind == jnl::Entry::Fake)
            if (const fakes::Member* m = findFakeMember(entry->op))
                if (int i = fakeParameterIndex(*m, name); i >= 0) a = element(&entry->args, static_cast<std::size_t>(i));
        return a ? *a : none;
    }
};

std::map<unsigned long, std::vector<CallSeen>> callsByJob(const std::vector<Seen>& lines) {
    std::map<unsigned long, std::vector<CallSeen>> calls;
    for (const Seen& seen : lines) {
        const jnl::Entry& e = seen.entry;
        if ((!e.hasContext && e.kind != jnl::Entry::Fake) || !e.job) continue;
        calls[e.job].push_back(CallSeen{e.run(), &e});
    }
    return calls;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

// UTF-8 folded to lower case letter by letter, not byte by byte.
std::string lower(const std::string& s) {
    std::wstring w = fromUtf8(s);
    const int n = static_cast<int>(w.size());
    if (n) LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, w.c_str(), n, w.data(), n);
    return utf8(w);
}

// Patterns match letters as written, or of either case with ignore_case.
bool globMatches(const Expectation& e, const std::string& pattern, const std::string& text) {
    return e.ignoreCase ? standin_matches(lower(pattern).c_str(), lower(text).c_str())
                        : standin_matches(pattern.c_str(), text.c_str());
}

bool matches(const Expectation& e, const std::optional<std::string>& pattern, const std::string& text) {
    return !pattern || globMatches(e, *pattern, text);
}

// An argument as a pattern reads it: a string's text, a number as the
// stand-in writes it, lists joined by commas.
std::string argText(const Json& arg) {
    if (arg.is_string()) return arg.get<std::string>();
    if (arg.is_null()) return "null";
    if (arg.is_array()) {
        std::string all;
        for (const Json& item : arg) all += (all.empty() ? "" : ",") + argText(item);
        return all;
    }
    return arg.dump();
}

bool argMatches(const Expectation& e, const Json& arg, const std::string& pattern) {
    if (arg.is_number()) {
        char* end = nullptr;
        double want = std::strtod(pattern.c_str(), &end);
        if (!pattern.empty() && end && *end == '\0') return arg.get<double>() == want;
    }
    return globMatches(e, pattern, argText(arg));
}

// A fake's answer as the script sees it: True and False in words.
std::string answerText(const Json& answer) {
    if (answer.is_boolean()) return answer.get<bool>() ? "True" : "False";
    return argText(answer);
}

std::string callWords(const CallSeen& c) {
    std::string args;
    for (const Json& a : c.entry->args) args += (args.empty() ? "" : ", ") + (a.is_string() ? quoted(a.get<std::string>()) : a.dump());
    std::string words = c.op() + "(" + args + ")";
    if (c.entry->kind != jnl::Entry::Fake) return words;
    if (!c.entry->failed.empty()) return words + " raised " + quoted(c.entry->failed);
    if (c.entry->hasGave) return words + " answered " + (c.entry->gave.is_string() ? quoted(c.entry->gave.get<std::string>()) : answerText(c.entry->gave));
    return words;
}

// Something the expectation counts or passes over: in which run, how it
// reads, whether it matches, and for data points whether its value is in range.
struct Item {
    unsigned run = 0;
    std::string words;
    bool matches = false;
    bool inRange = true;
};

std::string severityWords(const Expectation& e) {
    if (!e.severityLow) return "";
    if (*e.severityLow == *e.severityHigh) return " of severity " + std::to_string(*e.severityLow);
    return " of severity " + std::to_string(*e.severityLow) + " to " + std::to_string(*e.severityHigh);
}

bool severityMatches(const Expectation& e, long sev) {
    return !e.severityLow || (sev >= *e.severityLow && sev <= *e.severityHigh);
}

std::string rangeWords(const Expectation& e) {
    if (e.min && e.max) return ", each between " + number(*e.min) + " and " + number(*e.max);
    if (e.min) return ", each at least " + number(*e.min);
    if (e.max) return ", each at most " + number(*e.max);
    return "";
}

std::string subject(const Expectation& e) {
    std::string s;
    switch (e.kind) {
    case Expectation::Event: s = "events" + severityWords(e); break;
    case Expectation::Abort: s = "aborts (MCAbort)" + severityWords(e); break;
    case Expectation::ScriptError: s = "script errors"; break;
    case Expectation::Data:
        s = "data points" + (e.stream ? " in stream " + quoted(*e.stream) : std::string()) +
            (e.series ? " of series " + quoted(*e.series) : std::string());
        break;
    case Expectation::Calls:
        s = "calls of " + e.op;
        for (const auto& [param, pattern] : e.match) s += (&param == &e.match.front().first ? " with " : ", ") + param + " " + quoted(pattern);
        if (e.answer) s += " answering " + quoted(*e.answer);
        break;
    }
    if (e.message) s += " with message " + quoted(*e.message);
    if (e.objects) s += " on objects " + quoted(*e.objects);
    return s + rangeWords(e);
}

std::string quantity(const Expectation& e) {
    if (e.count) return *e.count == 0 ? "none" : "exactly " + std::to_string(*e.count);
    if (e.atLeast && e.atMost) return std::to_string(*e.atLeast) + " to " + std::to_string(*e.atMost);
    if (e.atMost) return "at most " + std::to_string(*e.atMost);
    return "at least " + std::to_string(e.atLeast.value_or(1));
}

bool countHolds(const Expectation& e, std::size_t n) {
    if (e.count) return n == *e.count;
    return n >= e.atLeast.value_or(1) && (!e.atMost || n <= *e.atMost);
}

std::vector<Item> itemsOf(const Expectation& e, const JobStory& story, const std::vector<CallSeen>& calls) {
    std::vector<Item> items;
    switch (e.kind) {
    case Expectation::Event:
        for (const EventStory& ev : story.events)
            items.push_back(Item{ev.run,
                                 ev.op + "(" + std::to_string(ev.severity) + ", " + quoted(ev.message) + ", objects " +
                                     quoted(ev.objects) + ")",
                                 severityMatches(e, ev.severity) && matches(e, e.message, ev.message) &&
                                     matches(e, e.objects, ev.objects)});
        break;
    case Expectation::Abort:
        for (const CallSeen& c : calls) {
            if (c.op() != "MCAbort") continue;
            const Json& sev = c.arg("sev");
            items.push_back(Item{c.run, callWords(c),
                                 severityMatches(e, sev.is_number() ? sev.get<long>() : 0) &&
                                     matches(e, e.objects, argText(c.arg("objlist"))) && matches(e, e.message, argText(c.arg("msg")))});
        }
        break;
    case Expectation::ScriptError:
        for (const ScriptErrorStory& err : story.errors)
            items.push_back(Item{err.step == Step::Run ? err.run : 0,
                                 "script error " + quoted(err.text) +
                                     (err.line ? " at line " + std::to_string(err.line) + ": " + err.source : ""),
                                 matches(e, e.message, err.text)});
        break;
    case Expectation::Data:
        for (const StreamStory& s : story.streams)
            for (const SeriesStory& x : s.series)
                for (const PointStory& p : x.points) {
                    Item item{p.run,
                              quoted(s.name) + (x.name.empty() ? "" : " series " + quoted(x.name)) + " value " +
                                  number(p.value) + (p.detail.empty() ? "" : " (" + quoted(p.detail) + ")"),
                              matches(e, e.stream, s.name) && matches(e, e.series, x.name)};
                    item.inRange = (!e.min || p.value >= *e.min) && (!e.max || p.value <= *e.max);
                    items.push_back(item);
                }
        // In the order they were logged, as the other kinds are.
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.run < b.run; });
        break;
    case Expectation::Calls: {
        for (const CallSeen& c : calls) {
            if (c.op() != e.op) continue;
            bool ok = true;
            for (const auto& [param, pattern] : e.match) ok = ok && argMatches(e, c.arg(param.c_str()), pattern);
            if (e.answer) ok = ok && c.entry->hasGave && globMatches(e, *e.answer, answerText(c.entry->gave));
            items.push_back(Item{c.run, callWords(c), ok});
        }
        break;
    }
    }
    return items;
}

// Up to three of `items`, and how many more there are.
std::string some(const std::vector<const Item*>& items) {
    std::string out;
    for (std::size_t i = 0; i < items.size() && i < 3; ++i) out += (i ? "; " : "") + items[i]->words;
    if (items.size() > 3) out += "; and " + std::to_string(items.size() - 3) + " more";
    return out;
}

// What differed in one scope (a run, or the session), "" when it holds.
std::vector<std::string> judge(const Expectation& e, const std::string& scope, const std::vector<const Item*>& all) {
    std::vector<const Item*> matched, others;
    for (const Item* i : all) (i->matches ? matched : others).push_back(i);
    std::vector<std::string> out;
    if (!countHolds(e, matched.size())) {
        std::string line = scope + ": ";
        if (matched.empty()) {
            line += "none matched";
            line += others.empty() ? " and there were none of any kind" : "; there were " + some(others);
        } else {
            line += std::to_string(matched.size()) + " matched where " + quantity(e) + " should: " + some(matched);
        }
        out.push_back(line);
    }
    for (const Item* i : matched)
        if (!i->inRange) out.push_back(scope + ": " + i->words + " is not" + rangeWords(e).substr(6));
    return out;
}

}  // namespace

std::vector<Verdict> checkExpectations(const std::vector<Expectation>& expectations,
                                       const std::vector<JobStory>& stories, const std::vector<Seen>& journal) {
    std::vector<Verdict> verdicts;
    auto calls = callsByJob(journal);
    for (const JobStory& story : stories) {
        for (const Expectation& e : expectations) {
            if (!e.job.empty() && !standin_matches(e.job.c_str(), story.name.c_str())) continue;
            Verdict v;
            v.jobno = story.jobno;
            v.job = story.name;
            v.number = e.number;
            v.what = subject(e) + (e.ignoreCase ? " (letter case ignored)" : "") + ": " + quantity(e) + " in " +
                     e.runs.words();
            std::vector<Item> items = itemsOf(e, story, calls[story.jobno]);
            if (!e.runs.given) {
                std::vector<const Item*> all;
                for (const Item& i : items) all.push_back(&i);
                v.failures = judge(e, "the session", all);
            } else {
                std::set<unsigned> done, asked;
                for (const RunStory& r : story.runs) done.insert(r.run);
                for (const RunRange& span : e.runs.spans) {
                    unsigned last = span.last ? span.last : (done.empty() ? 0 : *done.rbegin());
                    // An open span asks for its first run at least.
                    for (unsigned run = span.first; run <= std::max(last, span.first); ++run) asked.insert(run);
                }
                for (unsigned run : asked) {
                    std::string scope = "run " + std::to_string(run);
                    if (!done.count(run)) {
                        v.failures.push_back(scope + ": did not take place");
                        continue;
                    }
                    std::vector<const Item*> inRun;
                    for (const Item& i : items)
                        if (i.run == run) inRun.push_back(&i);
                    for (std::string& f : judge(e, scope, inRun)) v.failures.push_back(std::move(f));
                }
            }
            v.holds = v.failures.empty();
            verdicts.push_back(std::move(v));
        }
    }
    return verdicts;
}

std::string verdictLine(const Verdict& v) {
    return "job " + std::to_string(v.jobno) + " expect " + std::to_string(v.number) + (v.holds ? " holds: " : " FAILED: ") +
           v.what + "\n";
}

std::vector<std::string> failureLines(const Verdict& v) {
    std::vector<std::string> lines;
    for (const std::string& f : v.failures)
        lines.push_back("job " + std::to_string(v.jobno) + " expect " + std::to_string(v.number) + " " + f + "\n");
    return lines;
}

std::string verdictsHtml(const std::vector<Verdict>& verdicts, unsigned long jobno) {
    std::string rows;
    for (const Verdict& v : verdicts) {
        if (v.jobno != jobno) continue;
        rows += std::string("<tr class=\"verdict\"><td>") + (v.holds ? "<span class=\"badge ok\">holds</span>"
                                                                      : "<span class=\"badge bad\">failed</span>") +
                "</td><td class=\"num\">" + std::to_string(v.number) + "</td><td>" + escapeHtml(v.what);
        for (const std::string& f : v.failures) rows += "<div class=\"sub err\">" + escapeHtml(f) + "</div>";
        rows += "</td></tr>\n";
    }
    if (rows.empty()) return "";
    return "<h3>Expectations</h3>\n<table>\n<tr><th>verdict</th><th class=\"num\">#</th><th>expected</th></tr>\n" +
           rows + "</table>\n";
}
