// The agent core's operations as the stand-in records them and the runner
// reads them back: one row per operation with, per parameter, its name (as
// in ravlin.h), whether the core reads it, writes it or both, and what kind
// of value it carries. The journal's "args" follow a row's order; every
// reader looks an argument up here by name, never by its place.
#pragma once

#include <cstddef>
#include <string_view>

namespace coreops {

// What the core does with a parameter: reads it (In), writes it (Out), or
// reads what the caller put there and may change it (InOut). The journal
// shows In values as handed in and the others as they hold when the call
// returns.
enum class Dir : unsigned char { In, Out, InOut };

// How the journal shows a parameter's value.
enum class Kind : unsigned char {
    Integer,     // a whole number; for a stream's kind 0 number, 1 name
    Number,      // a double, always with a decimal point (nan, inf, -inf)
    Text,        // a string, null for a null pointer
    Stream,      // the number or the name, as the parameter before it says
    Integers,    // a list of whole numbers
    Texts,       // a list of strings
    Pairs,       // a list of [name, value]
    Variant,     // {"vt":TYPE,"value":"TEXT"}, null for a null pointer
};

struct Param {
    const char* name = nullptr;
    Dir dir = Dir::In;
    Kind kind = Kind::Integer;
};

constexpr std::size_t kMaxParams = 16;

struct Operation {
    const char* name = nullptr;
    bool context = true;            // takes the job context
    // What the integer result, the text setting and the abort setting stand
    // for; null where the operation has no such answer. An operation without
    // a result answers nothing (the job's reports and the core's mode).
    const char* result = nullptr;
    const char* text = nullptr;
    const char* abort = nullptr;
    Param params[kMaxParams] = {};

    constexpr std::size_t count() const {
        std::size_t n = 0;
        while (n < kMaxParams && params[n].name) ++n;
        return n;
    }
    // The place of `param` in the journal's "args", or -1.
    constexpr int indexOf(std::string_view param) const {
        for (std::size_t i = 0; i < count(); ++i)
            if (param == params[i].name) return static_cast<int>(i);
        return -1;
    }
    constexpr bool answers() const { return result != nullptr; }
};

namespace rows {
constexpr Param integer(const char* n) { return {n, Dir::In, Kind::Integer}; }
constexpr Param number(const char* n) { return {n, Dir::In, Kind::Number}; }
constexpr Param text(const char* n) { return {n, Dir::In, Kind::Text}; }
constexpr Param stream(const char* n) { return {n, Dir::In, Kind::Stream}; }
constexpr Param integers(const char* n) { return {n, Dir::In, Kind::Integers}; }
constexpr Param texts(const char* n) { return {n, Dir::In, Kind::Texts}; }
constexpr Param pairs(const char* n) { return {n, Dir::In, Kind::Pairs}; }
constexpr Param variant(const char* n) { return {n, Dir::In, Kind::Variant}; }
constexpr Param out(Param p) { return {p.name, Dir::Out, p.kind}; }
constexpr Param inout(Param p) { return {p.name, Dir::InOut, p.kind}; }

constexpr const char* kRaised = "1: raised";
constexpr const char* kLogged = "1: logged";
constexpr const char* kDeclared = "1: declared";
constexpr const char* kDone = "1: done";
constexpr const char* kRefused = "1: done, 0: refused";
constexpr const char* kReason = "the reason written when refused";
constexpr const char* kAborting = "non-zero: the job is being aborted";
}  // namespace rows

// In the order of ravlin.h; the job's reports and the core's mode come last.
inline constexpr Operation kOperations[] = {
    // Events and aborts.
    {"MSActions", true, rows::kRaised, nullptr, nullptr,
     {rows::integer("sev"), rows::text("evtmsg"), rows::text("action"), rows::text("objlist"), rows::text("detail"),
      rows::number("value"), rows::integer("proxy"), rows::text("kbid"), rows::text("metadata")}},
    {"MSLongActions", true, rows::kRaised, nullptr, nullptr,
     {rows::integer("sev"), rows::text("evtmsg"), rows::text("action"), rows::text("objlist"), rows::text("path"),
      rows::integer("deletefile"), rows::number("value"), rows::integer("proxy"), rows::text("kbid"),
      rows::text("metadata")}},
    {"RaiseEvent", true, rows::kRaised, nullptr, nullptr,
     {rows::text("id"), rows::integer("count"), rows::integers("conditions"), rows::integers("severities"),
      rows::text("obj"), rows::number("value"), rows::texts("messages"), rows::text("detail"), rows::integer("msgtype"),
      rows::texts("actions"), rows::text("help"), rows::integer("deletefile")}},
    {"MCAbort", true, rows::kDone,
     "\"keep\" leaves the interrupt flag as the host set it (default), \"clear\" sets it to 0", nullptr,
     {rows::integer("sev"), rows::text("objlist"), rows::text("msg"), rows::integer("event"), rows::integer("raiseError"),
      rows::inout(rows::integer("interrupt")), rows::text("kbid"), rows::text("metadata")}},
    // Data streams.
    {"DynaCollectData", true, rows::kLogged, nullptr, nullptr,
     {rows::text("stream"), rows::text("legend"), rows::integer("loglimit"), rows::number("lowm"), rows::number("hiwm"),
      rows::text("dynaleg"), rows::text("schema"), rows::text("objlist"), rows::number("value"), rows::text("detail"),
      rows::integer("msgtype"), rows::integer("deletefile"), rows::integer("logOnHeaderCreate"), rows::integer("logtime"),
      rows::text("kbid"), rows::text("metadata")}},
    {"DataHeader", true, rows::kDeclared, nullptr, nullptr,
     {rows::integer("kind"), rows::stream("stream"), rows::text("legend"), rows::integer("graph"), rows::text("objlist")}},
    {"LongDataHeader", true, rows::kDeclared, nullptr, nullptr,
     {rows::integer("kind"), rows::stream("stream"), rows::text("legend"), rows::integer("graph"),
      rows::integer("loglimit"), rows::integer("color"), rows::integer("style"), rows::number("maxval"),
      rows::number("minval"), rows::number("hiwm"), rows::number("lowm"), rows::text("objlist")}},
    {"DataLog", true, rows::kLogged, nullptr, nullptr,
     {rows::integer("kind"), rows::stream("stream"), rows::number("val"), rows::text("detail"), rows::integer("logtime")}},
    {"LongDataLog", true, rows::kLogged, nullptr, nullptr,
     {rows::integer("kind"), rows::stream("stream"), rows::number("val"), rows::text("path"), rows::integer("deletefile"),
      rows::integer("logtime")}},
    {"DynaDataLog", true, rows::kLogged, nullptr, nullptr,
     {rows::integer("kind"), rows::stream("stream"), rows::text("legend"), rows::number("val"), rows::text("detail"),
      rows::text("objlist"), rows::integer("logtime")}},
    {"LongDynaDataLog", true, rows::kLogged, nullptr, nullptr,
     {rows::integer("kind"), rows::stream("stream"), rows::text("legend"), rows::number("val"), rows::text("path"),
      rows::integer("deletefile"), rows::text("objlist"), rows::integer("logtime")}},
    {"GetDataSources", true, "1: listed, 0: none", "the sources, comma-separated (default cpu,memory)", nullptr,
     {rows::integer("type"), rows::out(rows::texts("sources"))}},
    // Job information and utilities.
    {"GetAgentInfo", false, "1: known, 0: no strings", "the version string (default 1.0.0)", nullptr,
     {rows::out(rows::text("prodtype")), rows::out(rows::text("verstr")), rows::out(rows::text("idir"))}},
    {"GetJobID", true, "the job's number (default the runner's job number)"},
    {"GetKPInterval", true, "the job's interval in seconds (default 300)"},
    {"IterationCount", true, "the job's run number (default: counts the job's runs, 1, 2, ...)"},
    {"GetMachName", true, "1: known, 0: none", "the machine name (default STANDIN-HOST)", nullptr,
     {rows::out(rows::text("name"))}},
    {"MCVersion", true, "1: known, 0: none", "the version (default 1.0.0.0)", nullptr,
     {rows::text("component"), rows::out(rows::text("version")), rows::integer("fullpath")}},
    {"MCGetMOID", true, "1: known, 0: none", "the object id (default MOID-0001)", nullptr,
     {rows::text("progid"), rows::text("ver"), rows::out(rows::text("id"))}},
    {"GetContextEx", true, "1: found, 0: not found", "the value in the context store (default context-value)", nullptr,
     {rows::text("label"), rows::text("labval"), rows::text("sublab"), rows::text("subval"), rows::integer("count"),
      rows::texts("names"), rows::out(rows::text("result"))}},
    {"ZTrace", true, "1: written", nullptr, nullptr, {rows::text("msg")}},
    {"EventXMLToPlainText", true, "above 0: converted, 0 or below: an error code",
     "the plain text (default the XML as given)", nullptr, {rows::text("xml"), rows::out(rows::text("plain"))}},
    {"DiffDateFromString", true, "the difference (default 0)", nullptr, nullptr,
     {rows::text("date"), rows::text("szDate")}},
    // Virtual data objects.
    {"MCGetVirDataItemCnt", true, "the item count (default the items' number)", nullptr, nullptr,
     {rows::text("objname")}},
    {"MCGetVirDataItem", true, "1: the item, 0: none",
     "the items, comma-separated (default alpha,beta,gamma), for every object without items of its own; "
     "also what MCGetVirDataItemCnt counts",
     nullptr, {rows::text("objname"), rows::integer("idx")}},
    // Waiting, the critical section and counted locks.
    {"MCSleep", true, "1: slept", nullptr, rows::kAborting,
     {rows::integer("intv"), rows::integer("noabort"), rows::out(rows::integer("abort"))}},
    {"MCWaitForObject", true, "1: signalled, 0: timed out", nullptr, rows::kAborting,
     {rows::integer("waitintv"), rows::integer("hobj"), rows::integer("noabort"), rows::out(rows::integer("abort")),
      rows::integer("reserved")}},
    {"MCWaitForObjectOffline", true, "1: signalled, 0: timed out", nullptr, rows::kAborting,
     {rows::integer("waitintv"), rows::integer("hobj"), rows::integer("noabort"), rows::out(rows::integer("abort"))}},
    {"MCEnterCS", true, "1: entered, 0: not entered", nullptr, "non-zero: aborted instead of entering",
     {rows::out(rows::integer("abort"))}},
    {"MCExitCS", true, "1: left (0 when the thread was not inside)"},
    {"SampleLock", true, "1: the count changed, 0: it did not (default by the counts)", nullptr, nullptr,
     {rows::integer("component"), rows::integer("oldCount"), rows::out(rows::integer("newCount"))}},
    {"AcquireLock", true, "1: acquired", nullptr, nullptr, {rows::integer("component")}},
    // Agent control.
    {"IsMCAction", true, "1: the job runs as an action"},
    {"UpdateAction", true, "1: updated"},
    {"MCInCluster", true, "1: in a cluster"},
    {"IsMCActionRunning", true, "1: running", nullptr, nullptr, {rows::text("akpname")}},
    {"MCEnableComm", true, rows::kDone, nullptr, nullptr, {rows::integer("globalSites")}},
    {"MCDisableComm", true, rows::kDone, nullptr, nullptr, {rows::integer("globalSites")}},
    {"MCEnableUpload", true, rows::kDone, nullptr, nullptr, {rows::integer("ult")}},
    {"MCUpload", true, rows::kDone, nullptr, nullptr, {rows::integer("ult")}},
    {"IsActionAllow", true, "1: allowed, 0: refused", rows::kReason, nullptr,
     {rows::integer("actType"), rows::integer("intvHr"), rows::out(rows::text("errmsg"))}},
    {"MCRebootNT", true, rows::kRefused, rows::kReason, nullptr,
     {rows::text("msg"), rows::integer("timeout"), rows::integer("forceClose"), rows::integer("restart"),
      rows::out(rows::text("errmsg"))}},
    {"MCSetCommType", true, rows::kRefused, rows::kReason, nullptr,
     {rows::integer("ct"), rows::out(rows::text("errmsg"))}},
    {"MCConfigNetFlow", true, rows::kRefused, rows::kReason, nullptr,
     {rows::integer("hiwm"), rows::integer("lowm"), rows::integer("intv"), rows::integer("dynaflow"),
      rows::out(rows::text("errmsg"))}},
    {"MCPrimaryMS", true, rows::kRefused, rows::kReason, nullptr,
     {rows::text("ms"), rows::text("ms2"), rows::integer("update"), rows::out(rows::text("errmsg")),
      rows::integer("hostFlag"), rows::text("host")}},
    {"MCSetMasterMC", true, rows::kRefused, rows::kReason, nullptr,
     {rows::text("rsc"), rows::text("mc"), rows::out(rows::text("errmsg"))}},
    {"MCSetBlackOut", true, rows::kRefused, rows::kReason, nullptr, {rows::text("rsc"), rows::out(rows::text("errmsg"))}},
    {"MCSetResRequired", true, rows::kRefused, rows::kReason, nullptr,
     {rows::text("rsc"), rows::text("reslist"), rows::text("svclist"), rows::out(rows::text("errmsg"))}},
    {"MCCompactDB", true, rows::kRefused, rows::kReason, nullptr, {rows::out(rows::text("errmsg"))}},
    // The password never reaches the journal: it shows as "***".
    {"MCUpdateKey", false, "1: updated, 0: refused", "the reply (default key updated / key update failed)", nullptr,
     {rows::text("keyfile"), rows::text("password"), rows::out(rows::text("reply"))}},
    // Data exchange and the dictionary.
    {"MCExport", true, "1: kept (default: when named), 0: refused", "the message written when refused", nullptr,
     {rows::text("vname"), rows::variant("val"), rows::out(rows::text("msg"))}},
    {"MCImport", true, "1: found (default: when exported), 0: not found", "the message written when not found", nullptr,
     {rows::text("vname"), rows::out(rows::variant("val")), rows::out(rows::text("msg"))}},
    {"DictionaryInsertValue", true, "1: kept", nullptr, nullptr, {rows::text("name"), rows::text("value")}},
    {"DictionaryRetrieveValue", true, "1: found, 0: not found (default by the dictionary)", nullptr, nullptr,
     {rows::text("name"), rows::out(rows::text("value"))}},
    {"DictionaryRetrieveAllValues", true, "the pairs' number (default by the dictionary)", nullptr, nullptr,
     {rows::out(rows::pairs("pairs"))}},
    {"DictionaryRetrieveByPattern", true, "the pairs' number (default by the dictionary)", nullptr, nullptr,
     {rows::text("pattern"), rows::out(rows::pairs("pairs"))}},
    {"DictionaryRemoveValue", true, "1: removed, 0: not there (default by the dictionary)", nullptr, nullptr,
     {rows::text("name")}},
    // Recorded, never answered: a script error reported to the job (code 0
    // before the job compiled, 1 after) and the core's stand-alone mode.
    {"sendScpException", false, nullptr, nullptr, nullptr, {rows::text("text"), rows::integer("code")}},
    {"setStandAlone", false},
};

// The row named exactly `name`, or null.
constexpr const Operation* find(std::string_view name) {
    for (const Operation& op : kOperations)
        if (name == op.name) return &op;
    return nullptr;
}

namespace detail {
void noSuchOperation();   // never defined: a misspelt row does not compile
}

// The row of an operation the stand-in implements, found while compiling.
consteval const Operation& row(std::string_view name) {
    const Operation* op = find(name);
    if (!op) detail::noSuchOperation();
    return *op;
}

}  // namespace coreops
