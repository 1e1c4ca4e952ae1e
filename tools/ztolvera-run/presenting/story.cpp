#include "story.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <tuple>

#include "check.h"
#include "coreops.h"
#include "journal.h"
#include "script.h"
#include "trace_formats.h"
#include "json.h"

namespace {

constexpr long kNoMain = static_cast<long>(0x80020006);     // DISP_E_UNKNOWNNAME: no routine "main"
constexpr double kNoWaterMark = -1.0;                       // what a left-out lowm or hiwm arrives as

// A quoted script line is cut after this many characters.
constexpr std::size_t kQuotedLineChars = 160;

// The script's lines as the engine counts them, for quoting: only LF ends a
// line (a CR alone does not, so a CR-only file is one line to the engine).
// A CR or other control character inside a line would overprint the
// terminal's line and is written as \r or \xNN.
std::vector<std::string> scriptLines(const std::wstring& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L'\n', start);
        std::wstring raw = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start), line;
        if (!raw.empty() && raw.back() == L'\r') raw.pop_back();
        for (wchar_t c : raw) {
            if (line.size() >= kQuotedLineChars) {
                line += L"...";
                break;
            }
            if (c == L'\r') {
                line += L"\\r";
            } else if (c < 0x20 && c != L'\t') {
                wchar_t esc[8];
                swprintf(esc, 8, L"\\x%02x", static_cast<unsigned>(c));
                line += esc;
            } else {
                line += c;
            }
        }
        lines.push_back(utf8(line));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return lines;
}

std::string trimmed(const std::string& s) {
    std::size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// The engine counts lines from 0 and the site passes the number on as it
// is ("[Line: N]"); a person counts them from 1.
unsigned scriptLineOf(const std::string& report) {
    const char key[] = "[Line: ";
    std::size_t at = report.find(key);
    if (at == std::string::npos) return 0;
    char* end = nullptr;
    long n = std::strtol(report.c_str() + at + sizeof key - 1, &end, 10);
    return n >= 0 && end && *end == ']' ? static_cast<unsigned>(n) + 1 : 0;
}

// The report's text without its "[Line: N]": the error line names the line
// once, counted as an editor counts it.
std::string withoutLineMark(const std::string& report) {
    std::size_t at = report.find("[Line: ");
    std::size_t close = at == std::string::npos ? at : report.find(']', at);
    if (close == std::string::npos) return report;
    std::string before = report.substr(0, at), after = report.substr(close + 1);
    while (!before.empty() && before.back() == ' ') before.pop_back();
    std::size_t from = after.find_first_not_of(' ');
    after = from == std::string::npos ? std::string() : after.substr(from);
    if (before.empty() || after.empty()) return before + after;
    return before + ": " + after;
}

// What the engine says when a member is missing (438) or a call's arguments
// do not fit it (450), as the engine or the script site words it.
bool memberError(const std::string& report) {
    return report.find("Object doesn't support this property or method") != std::string::npos ||
           report.find("Wrong number of arguments or invalid property assignment") != std::string::npos;
}

// A call's arguments, each found by its parameter's name in the core's table.
using Args = jnl::Entry;

const std::string& str(const Args& args, const char* name) { return textOf(args.arg(name)); }
bool isNull(const Args& args, const char* name) {
    const Json* v = args.arg(name);
    return !v || v->is_null();
}
double num(const Args& args, const char* name) { return numberOf(args.arg(name)); }

// A stream named by its kind (0 number, 1 name) and the number or name.
std::string streamKey(const Args& args) {
    if (num(args, "kind") == 0) return "#" + numberText(args.arg("stream"));
    return isNull(args, "stream") ? std::string("(no name)") : str(args, "stream");
}

std::string inFile(const Args& args) {
    return isNull(args, "path") ? std::string() : "(in the file " + str(args, "path") + ")";
}

class Teller {
public:
    Teller(JobStory& story, const std::vector<std::string>& lines, const std::wstring& text)
        : story_(story), lines_(lines), text_(text) {}

    void call(const std::string& op, const Args& args, double at, unsigned run) {
        if (op == "MSActions") event(op, at, run, static_cast<long>(num(args, "sev")), str(args, "evtmsg"), str(args, "objlist"), str(args, "detail"));
        else if (op == "MSLongActions") event(op, at, run, static_cast<long>(num(args, "sev")), str(args, "evtmsg"), str(args, "objlist"), inFile(args));
        else if (op == "RaiseEvent") raised(args, at, run);
        else if (op == "MCAbort") aborted(args, at, run);
        else if (op == "DynaCollectData") collected(args, at, run);
        else if (op == "DataHeader") stream(streamKey(args)).legend = str(args, "legend");
        else if (op == "LongDataHeader") header(args);
        else if (op == "DataLog") point(streamKey(args), "", at, run, num(args, "val"), str(args, "detail"));
        else if (op == "LongDataLog") point(streamKey(args), "", at, run, num(args, "val"), inFile(args));
        else if (op == "DynaDataLog") point(streamKey(args), str(args, "legend"), at, run, num(args, "val"), str(args, "detail"));
        else if (op == "LongDynaDataLog") point(streamKey(args), str(args, "legend"), at, run, num(args, "val"), inFile(args));
        else if (op == "ZTrace") story_.traces.push_back(TraceStory{at, run, str(args, "msg")});
    }

    void scriptError(Step step, unsigned run, double at, const std::string& text) {
        ScriptErrorStory e;
        e.step = step;
        e.run = run;
        e.at = at;
        e.text = text;
        e.line = scriptLineOf(text);
        if (e.line && e.line <= lines_.size()) e.source = trimmed(lines_[e.line - 1]);
        else e.line = 0;
        if (e.line && memberError(text)) {
            // Every run of a job can fail on the same line: the text is read once per line.
            auto hint = hints_.find(e.line);
            if (hint == hints_.end()) hint = hints_.emplace(e.line, explainMemberError(text_, e.line, serverMembers())).first;
            e.hint = hint->second;
        }
        story_.errors.push_back(e);
    }

private:
    void event(const std::string& op, double at, unsigned run, long sev, const std::string& message,
               const std::string& objects, const std::string& detail) {
        story_.events.push_back(EventStory{at, run, op, sev, message, objects, detail});
    }

    void raised(const Args& args, double at, unsigned run) {
        const Json* conditions = args.arg("conditions");
        const Json* severities = args.arg("severities");
        const Json* messages = args.arg("messages");
        std::size_t n = severities && severities->is_array() ? severities->size() : 0;
        for (std::size_t i = 0; i < n; ++i) {
            std::string detail = str(args, "detail");
            detail += std::string(detail.empty() ? "" : " ") + "(event " + str(args, "id") + ", condition " +
                      numberText(element(conditions, i)) + ")";
            event("RaiseEvent", at, run, integerOf(element(severities, i)), textOf(element(messages, i)), str(args, "obj"),
                  detail);
        }
    }

    void aborted(const Args& args, double at, unsigned run) {
        if (num(args, "event") != 0)  // the abort is reported as an event
            event("MCAbort", at, run, static_cast<long>(num(args, "sev")), str(args, "msg"), str(args, "objlist"),
                  "the job ended itself");
        for (RunStory& r : story_.runs)
            if (r.run == run) r.abortedItself = true;
    }

    void collected(const Args& args, double at, unsigned run) {
        std::string key = isNull(args, "stream") ? std::string("(no name)") : str(args, "stream");
        StreamStory& s = stream(key);
        if (!isNull(args, "legend")) s.legend = str(args, "legend");
        waterMarks(s, num(args, "hiwm"), num(args, "lowm"));
        point(key, str(args, "dynaleg"), at, run, num(args, "value"), str(args, "detail"));
    }

    void header(const Args& args) {
        StreamStory& s = stream(streamKey(args));
        s.legend = str(args, "legend");
        waterMarks(s, num(args, "hiwm"), num(args, "lowm"));
    }

    static void waterMarks(StreamStory& s, double high, double low) {
        if (high != kNoWaterMark) s.hasHigh = true, s.high = high;
        if (low != kNoWaterMark) s.hasLow = true, s.low = low;
    }

    StreamStory& stream(const std::string& name) {
        for (StreamStory& s : story_.streams)
            if (s.name == name) return s;
        story_.streams.emplace_back();
        story_.streams.back().name = name;
        return story_.streams.back();
    }

    void point(const std::string& key, const std::string& series, double at, unsigned run, double value,
               const std::string& detail) {
        StreamStory& s = stream(key);
        auto it = std::find_if(s.series.begin(), s.series.end(), [&](const SeriesStory& x) { return x.name == series; });
        if (it == s.series.end()) {
            s.series.push_back(SeriesStory{series, {}});
            it = s.series.end() - 1;
        }
        it->points.push_back(PointStory{at, run, value, detail});
    }

    JobStory& story_;
    const std::vector<std::string>& lines_;
    const std::wstring& text_;
    std::map<unsigned, std::string> hints_;
};

// The engine's HRESULT in the host's line of a run or a compile it refused.
bool traceHresult(const std::string& trace, Step step, long& hr) {
    std::vector<std::string> fields;
    bool run = step == Step::Run;
    if (!traceformat::matches(run ? traceformat::kRunFailed : traceformat::kCompileFailed, trace, fields)) return false;
    hr = static_cast<long>(std::strtoul(fields.back().c_str(), nullptr, 16));
    return true;
}

// Why a step failed, from the host's trace lines of that step.
std::string reasonFor(Step step, const std::vector<std::string>& traces, long hr, int ret) {
    long engine = 0;
    for (const std::string& t : traces) {
        if (step == Step::Run && traceHresult(t, step, engine)) {
            if (engine == kNoMain) return "the script has no Sub main (nothing named main to run)";
            return "the engine refused to run it: " + describeHresult(engine);
        }
        if (step == Step::Compile && traceHresult(t, step, engine))
            return "the engine refused the script text: " + describeHresult(engine);
    }
    // Any other complaint of the host about this step, in its own words.
    for (const std::string& t : traces)
        if (t.find("fail") != std::string::npos || t.find("not found") != std::string::npos ||
            t.find("error") != std::string::npos)
            return "the host says \"" + t + "\"";
    const char* name = step == Step::Reg ? "reg" : step == Step::Compile ? "compile" : "run";
    std::string answer = std::string(name) + " answered " + describeHresult(hr);
    if (step == Step::Run) answer += " and ret " + std::to_string(ret);
    return answer;
}

std::string runList(const std::vector<unsigned>& runs) {
    std::string out = runs.size() == 1 ? "run " : "runs ";
    for (std::size_t i = 0; i < runs.size();) {
        std::size_t j = i;
        while (j + 1 < runs.size() && runs[j + 1] == runs[j] + 1) ++j;
        if (i) out += ", ";
        out += std::to_string(runs[i]);
        if (j > i) out += "-" + std::to_string(runs[j]);
        i = j + 1;
    }
    return out;
}

}  // namespace

std::string describeHresult(long hr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(hr));
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words = n && text ? std::wstring(text, n) : L"";
    LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ' || words.back() == L'.'))
        words.pop_back();
    return words.empty() ? std::string(hex) : std::string(hex) + " (" + utf8(words) + ")";
}

std::vector<JobStory> tellStories(const Timeline& timeline, const std::vector<std::wstring>& texts,
                                  const Session& session, bool scriptErrorsExpected) {
    const std::vector<JobRecord>& jobs = timeline.jobs();
    std::vector<JobStory> stories(jobs.size());
    std::vector<std::vector<std::string>> lines(jobs.size());
    std::map<unsigned long, std::size_t> index;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        JobStory& s = stories[i];
        const JobRecord& j = jobs[i];
        s.jobno = j.jobno;
        s.name = j.name;
        s.state = j.state();
        s.succeeded = j.succeeded();
        s.coreCalls = j.coreCalls;
        s.scriptErrors = j.scriptErrors;
        s.failed = j.failed(scriptErrorsExpected);
        for (const RunRecord& r : j.runs) {
            RunStory run;
            run.run = r.run;
            run.start = r.start;
            run.end = r.end;
            run.succeeded = r.succeeded();
            run.slotEnd = r.slotEnd;
            run.overran = r.overran();
            s.runs.push_back(run);
        }
        lines[i] = scriptLines(i < texts.size() ? texts[i] : std::wstring());
        index[s.jobno] = i;
    }

    std::vector<Teller> tellers;
    static const std::wstring noText;
    for (std::size_t i = 0; i < jobs.size(); ++i) tellers.emplace_back(stories[i], lines[i], i < texts.size() ? texts[i] : noText);
    // Trace lines of each job's steps, for the reasons of failures.
    std::map<std::tuple<unsigned long, Step, unsigned>, std::vector<std::string>> traces;
    for (const Seen& seen : session.lines()) {
        const jnl::Entry& e = seen.entry;
        unsigned long jobno = e.job;
        if (e.kind == jnl::Entry::Trace) {
            RefusedCall refused;
            if (refusedCall(e.trace, refused)) {
                if (auto it = index.find(refused.jobno); it != index.end()) ++stories[it->second].calls[refused.member].refused;
                continue;
            }
            traces[{seen.doing.job, seen.doing.step, seen.doing.run}].push_back(e.trace);
            continue;
        }
        if (e.kind == jnl::Entry::Fake) {
            if (auto it = index.find(jobno ? jobno : seen.doing.job); it != index.end()) ++stories[it->second].machine[e.op];
            continue;
        }
        if (e.kind != jnl::Entry::Call && e.kind != jnl::Entry::ScriptError) continue;
        // Calls without a job context belong to the job of the calling thread.
        bool withContext = jobno != 0;
        if (!withContext) jobno = seen.doing.job;
        auto it = index.find(jobno);
        if (it == index.end()) continue;
        JobStory& story = stories[it->second];
        unsigned run = seen.doing.job == jobno && seen.doing.step == Step::Run ? seen.doing.run : 0;
        if (e.run()) run = e.run();
        if (e.kind == jnl::Entry::ScriptError) {
            Step step = seen.doing.job == jobno ? seen.doing.step : Step::None;
            tellers[it->second].scriptError(step, run, seen.at, str(e, "text"));
            continue;
        }
        OpCount& count = story.calls[e.op];
        ++(withContext ? count.withContext : count.withoutContext);
        tellers[it->second].call(e.op, e, seen.at, run);
    }

    for (std::size_t i = 0; i < jobs.size(); ++i) {
        JobStory& s = stories[i];
        const JobRecord& job = jobs[i];
        auto hasError = [&](Step step, unsigned run) {
            return std::any_of(s.errors.begin(), s.errors.end(),
                               [&](const ScriptErrorStory& e) { return e.step == step && e.run == run; });
        };
        auto explain = [&](Step step, unsigned run, long hr, int ret) {
            auto t = traces.find({job.jobno, step, run});
            static const std::vector<std::string> none;
            s.failures.push_back(FailureStory{step, run, reasonFor(step, t == traces.end() ? none : t->second, hr, ret)});
        };
        // A job with a fate (not started, crashed, hung) has it as its reason.
        if (!job.fate.empty()) {
        } else if (!job.registered) {
            explain(Step::Reg, 0, job.regHr, 0);
        } else if (!job.compiled) {
            if (!hasError(Step::Compile, 0)) explain(Step::Compile, 0, job.compileHr, 0);
        }
        for (std::size_t k = 0; k < s.runs.size(); ++k) {
            RunStory& r = s.runs[k];
            if (r.end < 0) {
                r.result = job.fateRun == r.run && !job.fate.empty() ? job.fate : "still going when the runner ended";
                continue;
            }
            if (r.succeeded) {
                r.result = r.abortedItself ? "succeeded: ended itself with an abort" : "succeeded";
                continue;
            }
            if (hasError(Step::Run, r.run)) {
                r.result = "script error";
                continue;
            }
            explain(Step::Run, r.run, job.runs[k].hr, static_cast<int>(job.runs[k].ret));
            r.result = "failed: " + s.failures.back().reason;
        }
    }
    return stories;
}

std::vector<ProblemGroup> problemGroups(const JobStory& story) {
    // Messages in the order they first came, each with the runs it came in.
    std::vector<ProblemGroup> groups;
    auto add = [&](Step step, unsigned run, const std::string& message, const std::string& text) -> ProblemGroup& {
        for (ProblemGroup& g : groups)
            if (g.step == step && g.message == message) {
                if (std::find(g.runs.begin(), g.runs.end(), run) == g.runs.end()) g.runs.push_back(run);
                return g;
            }
        groups.push_back(ProblemGroup{step, message, text, {run}});
        return groups.back();
    };
    for (const ScriptErrorStory& e : story.errors) {
        std::string message = "script error \"" + withoutLineMark(e.text) + "\"";
        if (e.line) message += " at line " + std::to_string(e.line) + ": " + e.source;
        if (!e.hint.empty()) message += " \xE2\x80\x94 " + e.hint;
        ProblemGroup& g = add(e.step == Step::Run ? Step::Run : Step::Compile, e.run, message, e.text);
        g.scriptError = true, g.line = e.line, g.source = e.source;
    }
    for (const FailureStory& f : story.failures) add(f.step, f.run, "failed: " + f.reason, f.reason);
    for (ProblemGroup& g : groups) std::sort(g.runs.begin(), g.runs.end());
    return groups;
}

std::string whereText(Step step, const std::vector<unsigned>& runs) {
    return step == Step::Run ? runList(runs) : step == Step::Reg ? "reg" : "compile";
}

std::vector<std::string> problemLines(const JobStory& story) {
    std::vector<std::string> out;
    for (const ProblemGroup& g : problemGroups(story))
        out.push_back("job " + std::to_string(story.jobno) + " " + whereText(g.step, g.runs) + ": " + g.message + "\n");
    return out;
}

std::vector<std::string> overrunLines(const JobStory& story) {
    std::vector<unsigned> runs;
    for (const RunStory& r : story.runs)
        if (r.overran) runs.push_back(r.run);
    if (runs.empty()) return {};
    return {"job " + std::to_string(story.jobno) + " " + runList(runs) +
            ": overran the slot of --every, so the next run started late\n"};
}
