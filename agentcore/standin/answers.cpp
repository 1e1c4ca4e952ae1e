// The operations the stand-in answers and the answers set for them.
//
// An answer holds for every call of its operation, or only for the calls
// whose arguments match its patterns and whose job is in one of its runs.
// Of the answers that match a call, the one set last decides each field:
// a later, narrower answer overrides an earlier, wider one, and --set after
// a scenario overrides the scenario.
#include "answers.h"
#include "record.h"
#include "../standin.h"

#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace {

// Parameters are those of ravlin.h, in the journal's order; where the core
// answers with its result alone, no text or abort is listed.
const standin_operation kOperations[] = {
    // Events and aborts.
    {"MSActions", "sev evtmsg action objlist detail value proxy kbid metadata", "1: raised", nullptr, nullptr},
    {"MSLongActions", "sev evtmsg action objlist path deletefile value proxy kbid metadata", "1: raised", nullptr, nullptr},
    {"RaiseEvent", "id count conditions severities obj value messages detail msgtype actions help deletefile",
     "1: raised", nullptr, nullptr},
    {"MCAbort", "sev objlist msg event raiseError interrupt kbid metadata", "1: done",
     "\"keep\" leaves the interrupt flag as the host set it (default), \"clear\" sets it to 0", nullptr},
    // Data streams.
    {"DynaCollectData",
     "stream legend loglimit lowm hiwm dynaleg schema objlist value detail msgtype deletefile logOnHeaderCreate "
     "logtime kbid metadata",
     "1: logged", nullptr, nullptr},
    {"DataHeader", "kind stream legend graph objlist", "1: declared", nullptr, nullptr},
    {"LongDataHeader", "kind stream legend graph loglimit color style maxval minval hiwm lowm objlist", "1: declared",
     nullptr, nullptr},
    {"DataLog", "kind stream val detail logtime", "1: logged", nullptr, nullptr},
    {"LongDataLog", "kind stream val path deletefile logtime", "1: logged", nullptr, nullptr},
    {"DynaDataLog", "kind stream legend val detail objlist logtime", "1: logged", nullptr, nullptr},
    {"LongDynaDataLog", "kind stream legend val path deletefile objlist logtime", "1: logged", nullptr, nullptr},
    {"GetDataSources", "type sources", "1: listed, 0: none", "the sources, comma-separated (default cpu,memory)", nullptr},
    // Job information and utilities.
    {"GetAgentInfo", "prodtype verstr idir", "1: known, 0: no strings", "the version string (default 1.0.0)", nullptr},
    {"GetJobID", "", "the job's number (default the runner's job number)", nullptr, nullptr},
    {"GetKPInterval", "", "the job's interval in seconds (default 300)", nullptr, nullptr},
    {"IterationCount", "", "the job's run number (default: counts the job's runs, 1, 2, ...)", nullptr, nullptr},
    {"GetMachName", "name", "1: known, 0: none", "the machine name (default STANDIN-HOST)", nullptr},
    {"MCVersion", "component version fullpath", "1: known, 0: none", "the version (default 1.0.0.0)", nullptr},
    {"MCGetMOID", "progid ver id", "1: known, 0: none", "the object id (default MOID-0001)", nullptr},
    {"GetContextEx", "label labval sublab subval count names result", "1: found, 0: not found",
     "the value in the context store (default context-value)", nullptr},
    {"ZTrace", "msg", "1: written", nullptr, nullptr},
    {"EventXMLToPlainText", "xml plain", "above 0: converted, 0 or below: an error code",
     "the plain text (default the XML as given)", nullptr},
    {"DiffDateFromString", "date szDate", "the difference (default 0)", nullptr, nullptr},
    // Virtual data objects.
    {"MCGetVirDataItemCnt", "objname", "the item count (default the items' number)", nullptr, nullptr},
    {"MCGetVirDataItem", "objname idx", "1: the item, 0: none",
     "the items, comma-separated (default alpha,beta,gamma), for every object without items of its own; "
     "also what MCGetVirDataItemCnt counts",
     nullptr},
    // Waiting, the critical section and counted locks.
    {"MCSleep", "intv noabort abort", "1: slept", nullptr, "non-zero: the job is being aborted"},
    {"MCWaitForObject", "waitintv hobj noabort abort reserved", "1: signalled, 0: timed out", nullptr,
     "non-zero: the job is being aborted"},
    {"MCWaitForObjectOffline", "waitintv hobj noabort abort", "1: signalled, 0: timed out", nullptr,
     "non-zero: the job is being aborted"},
    {"MCEnterCS", "abort", "1: entered, 0: not entered", nullptr, "non-zero: aborted instead of entering"},
    {"MCExitCS", "", "1: left (0 when the thread was not inside)", nullptr, nullptr},
    {"SampleLock", "component oldCount newCount", "1: the count changed, 0: it did not (default by the counts)",
     nullptr, nullptr},
    {"AcquireLock", "component", "1: acquired", nullptr, nullptr},
    // Agent control.
    {"IsMCAction", "", "1: the job runs as an action", nullptr, nullptr},
    {"UpdateAction", "", "1: updated", nullptr, nullptr},
    {"MCInCluster", "", "1: in a cluster", nullptr, nullptr},
    {"IsMCActionRunning", "akpname", "1: running", nullptr, nullptr},
    {"MCEnableComm", "globalSites", "1: done", nullptr, nullptr},
    {"MCDisableComm", "globalSites", "1: done", nullptr, nullptr},
    {"MCEnableUpload", "ult", "1: done", nullptr, nullptr},
    {"MCUpload", "ult", "1: done", nullptr, nullptr},
    {"IsActionAllow", "actType intvHr errmsg", "1: allowed, 0: refused", "the reason written when refused", nullptr},
    {"MCRebootNT", "msg timeout forceClose restart errmsg", "1: done, 0: refused", "the reason written when refused", nullptr},
    {"MCSetCommType", "ct errmsg", "1: done, 0: refused", "the reason written when refused", nullptr},
    {"MCConfigNetFlow", "hiwm lowm intv dynaflow errmsg", "1: done, 0: refused", "the reason written when refused", nullptr},
    {"MCPrimaryMS", "ms ms2 update errmsg hostFlag host", "1: done, 0: refused", "the reason written when refused", nullptr},
    {"MCSetMasterMC", "rsc mc errmsg", "1: done, 0: refused", "the reason written when refused", nullptr},
    {"MCSetBlackOut", "rsc errmsg", "1: done, 0: refused", "the reason written when refused", nullptr},
    {"MCSetResRequired", "rsc reslist svclist errmsg", "1: done, 0: refused", "the reason written when refused", nullptr},
    {"MCCompactDB", "errmsg", "1: done, 0: refused", "the reason written when refused", nullptr},
    {"MCUpdateKey", "keyfile password reply", "1: updated, 0: refused", "the reply (default key updated / key update failed)",
     nullptr},
    // Data exchange and the dictionary.
    {"MCExport", "vname val msg", "1: kept (default: when named), 0: refused", "the message written when refused", nullptr},
    {"MCImport", "vname val msg", "1: found (default: when exported), 0: not found", "the message written when not found",
     nullptr},
    {"DictionaryInsertValue", "name value", "1: kept", nullptr, nullptr},
    {"DictionaryRetrieveValue", "name value", "1: found, 0: not found (default by the dictionary)", nullptr, nullptr},
    {"DictionaryRetrieveAllValues", "pairs", "the pairs' number (default by the dictionary)", nullptr, nullptr},
    {"DictionaryRetrieveByPattern", "pattern pairs", "the pairs' number (default by the dictionary)", nullptr, nullptr},
    {"DictionaryRemoveValue", "name", "1: removed, 0: not there (default by the dictionary)", nullptr, nullptr},
};

const standin_operation* operation(const char* name) {
    for (const standin_operation& op : kOperations)
        if (name && std::strcmp(op.name, name) == 0) return &op;
    return nullptr;
}

// The place of `param` among the operation's parameters, or -1.
int paramIndex(const standin_operation& op, const char* param) {
    int index = 0;
    for (const char* p = op.params; *p;) {
        std::size_t n = std::strcspn(p, " ");
        if (param && std::strlen(param) == n && std::strncmp(p, param, n) == 0) return index;
        p += n;
        while (*p == ' ') ++p;
        ++index;
    }
    return -1;
}

struct Answer {
    std::vector<std::pair<int, std::string>> match;    // parameter place, pattern
    unsigned firstRun = 0, lastRun = 0;                 // 0: no bound
    std::optional<long> result;
    std::optional<std::string> text;
    std::optional<int> abort;

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

bool argMatches(const standin::ArgValue& arg, const std::string& pattern) {
    if (arg.isNull) return pattern == "null";
    if (!arg.isString) {
        // Numbers compare as numbers: 15 matches 15.0.
        char* end = nullptr;
        double want = std::strtod(pattern.c_str(), &end);
        if (end && *end == '\0' && !pattern.empty()) return std::strtod(arg.text.c_str(), nullptr) == want;
    }
    return standin::globMatch(pattern.c_str(), arg.text.c_str());
}

bool applies(const Answer& a, unsigned run, const std::vector<standin::ArgValue>& args) {
    if (a.firstRun && run < a.firstRun) return false;
    if (a.lastRun && run > a.lastRun) return false;
    for (const auto& [index, pattern] : a.match)
        if (index >= static_cast<int>(args.size()) || !argMatches(args[index], pattern)) return false;
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

const standin_operation* standin_operations(unsigned long* count) {
    if (count) *count = sizeof kOperations / sizeof kOperations[0];
    return kOperations;
}

int standin_addAnswer(const standin_answer* given) {
    if (!given) return 0;
    const standin_operation* op = operation(given->op);
    if (!op) return 0;
    Answer a;
    for (unsigned long i = 0; i < given->matchCount; ++i) {
        int index = paramIndex(*op, given->matchParams[i]);
        if (index < 0 || !given->matchValues[i]) return 0;
        a.match.emplace_back(index, given->matchValues[i]);
    }
    a.firstRun = given->firstRun;
    a.lastRun = given->lastRun;
    if (given->hasResult) a.result = given->result;
    if (given->text) a.text = std::string(given->text);
    if (given->hasAbort) a.abort = given->abort;
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
