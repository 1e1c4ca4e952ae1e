// The operations the stand-in answers and the answers set for them.
//
// An answer holds for every call of its operation, or only for the calls
// whose arguments match its patterns and whose job is in one of its runs.
// Of the answers that match a call, the one set last decides each field:
// a later, narrower answer overrides an earlier, wider one, and --set after
// a scenario overrides the scenario.
#include "answers.h"
#include "record.h"
#include "../coreops.h"
#include "../standin.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

namespace {

struct Answer {
    std::vector<std::pair<int, std::string>> match;    // parameter place, pattern
    unsigned firstRun = 0, lastRun = 0;                 // 0: no bound
    std::optional<long> result;
    std::optional<std::string> text;
    std::optional<int> abort;
    bool ignoreCase = false;

    bool plain() const { return match.empty() && !firstRun && !lastRun; }
};

struct Answers {
    std::mutex lock;
    std::map<std::string, std::vector<Answer>> byOp;
    std::map<std::string, bool> looksAtArgs;
    std::map<unsigned long, unsigned> runs;             // job -> run started last
    volatile LONG any = 0;
};

Answers& answers() {
    static Answers a;
    return a;
}

// The core's 8-bit text in lower case, folded in its code page.
std::string lower(const std::string& s) {
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    if (!w.empty()) LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, w.c_str(), n, w.data(), n);
    int m = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(m > 0 ? m : 0, '\0');
    if (m > 0) WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), m, nullptr, nullptr);
    return out;
}

bool argMatches(const standin::ArgValue& arg, const std::string& pattern, bool ignoreCase) {
    if (arg.isNull) return pattern == "null";
    if (!arg.isString) {
        // Numbers compare as numbers: 15 matches 15.0.
        char* end = nullptr;
        double want = std::strtod(pattern.c_str(), &end);
        if (end && *end == '\0' && !pattern.empty()) return std::strtod(arg.text.c_str(), nullptr) == want;
    }
    if (ignoreCase) return standin::globMatch(lower(pattern).c_str(), lower(arg.text).c_str());
    return standin::globMatch(pattern.c_str(), arg.text.c_str());
}

bool applies(const Answer& a, unsigned run, const std::vector<standin::ArgValue>& args) {
    if (a.firstRun && run < a.firstRun) return false;
    if (a.lastRun && run > a.lastRun) return false;
    for (const auto& [index, pattern] : a.match)
        if (index >= static_cast<int>(args.size()) || !argMatches(args[index], pattern, a.ignoreCase)) return false;
    return true;
}

// The plain answer at the end of `op`'s list, made when the last one is narrower.
Answer& plainAnswer(const char* op) {
    Answers& s = answers();
    std::vector<Answer>& list = s.byOp[op];
    if (list.empty() || !list.back().plain()) list.emplace_back();
    InterlockedExchange(&s.any, 1);
    return list.back();
}

}  // namespace

namespace standin {

bool globMatch(const char* pattern, const char* text) {
    if (*pattern == '\0') return *text == '\0';
    if (*pattern == '*') return globMatch(pattern + 1, text) || (*text && globMatch(pattern, text + 1));
    if (*text && (*pattern == '?' || *pattern == *text)) return globMatch(pattern + 1, text + 1);
    return false;
}

bool anyAnswers() { return answers().any != 0; }

bool answersLookAtArguments(const char* op) {
    Answers& s = answers();
    if (!s.any) return false;
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.looksAtArgs.find(op);
    return it != s.looksAtArgs.end() && it->second;
}

bool answerFor(const char* op, unsigned long job, const std::vector<ArgValue>& args, Field field, long& number,
               std::string& text) {
    Answers& s = answers();
    if (!s.any) return false;
    std::lock_guard<std::mutex> g(s.lock);
    auto list = s.byOp.find(op);
    if (list == s.byOp.end()) return false;
    auto run = s.runs.find(job);
    unsigned current = run == s.runs.end() ? 0 : run->second;
    for (auto a = list->second.rbegin(); a != list->second.rend(); ++a) {
        if (!applies(*a, current, args)) continue;
        if (field == Field::Result && a->result) return number = *a->result, true;
        if (field == Field::Abort && a->abort) return number = *a->abort, true;
        if (field == Field::Text && a->text) return text = *a->text, true;
    }
    return false;
}

unsigned currentRun(unsigned long job) {
    Answers& s = answers();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.runs.find(job);
    return it == s.runs.end() ? 0 : it->second;
}

void resetAnswers() {
    Answers& s = answers();
    std::lock_guard<std::mutex> g(s.lock);
    s.byOp.clear();
    s.looksAtArgs.clear();
    s.runs.clear();
    InterlockedExchange(&s.any, 0);
}

}  // namespace standin

extern "C" {

int standin_addAnswer(const standin_answer* given) {
    if (!given) return 0;
    const coreops::Operation* op = given->op ? coreops::find(given->op) : nullptr;
    if (!op || !op->answers()) return 0;
    Answer a;
    for (unsigned long i = 0; i < given->matchCount; ++i) {
        int index = given->matchParams[i] ? op->indexOf(given->matchParams[i]) : -1;
        if (index < 0 || !given->matchValues[i]) return 0;
        a.match.emplace_back(index, given->matchValues[i]);
    }
    a.firstRun = given->firstRun;
    a.lastRun = given->lastRun;
    if (given->hasResult) a.result = given->result;
    if (given->text) a.text = std::string(given->text);
    if (given->hasAbort) a.abort = given->abort;
    a.ignoreCase = given->ignoreCase != 0;
    Answers& s = answers();
    std::lock_guard<std::mutex> g(s.lock);
    if (!a.match.empty()) s.looksAtArgs[op->name] = true;
    s.byOp[op->name].push_back(std::move(a));
    InterlockedExchange(&s.any, 1);
    return 1;
}

// The plain setters take any name, as tests have always used them: an
// operation the stand-in does not have simply never asks for it.
void standin_setResult(const char* op, long result) {
    std::lock_guard<std::mutex> g(answers().lock);
    plainAnswer(op).result = result;
}

void standin_setText(const char* op, const char* text) {
    std::lock_guard<std::mutex> g(answers().lock);
    plainAnswer(op).text = std::string(text ? text : "");
}

void standin_setAbort(const char* op, int flag) {
    std::lock_guard<std::mutex> g(answers().lock);
    plainAnswer(op).abort = flag;
}

int standin_matches(const char* pattern, const char* text) {
    return pattern && text && standin::globMatch(pattern, text) ? 1 : 0;
}

void standin_beginRun(unsigned long jobno, unsigned run) {
    Answers& s = answers();
    std::lock_guard<std::mutex> g(s.lock);
    s.runs[jobno] = run;
}
}
