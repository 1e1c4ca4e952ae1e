#include "operations.h"

#include <algorithm>
#include <cctype>

#include "distance.h"

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Script methods of CVEXT whose core operation has another name: what a
// script author is likely to write instead.
const struct { const char* method; const char* op; } kMethods[] = {
    {"CreateEvent", "MSActions"},          {"CreateEventEx", "MSActions"},
    {"CreateProxyEvent", "MSActions"},     {"CreateData", "DynaCollectData"},
    {"CreateDataEx", "DynaCollectData"},   {"GetScriptInterval", "GetKPInterval"},
    {"GetVersion", "MCVersion"},           {"GetProgID", "MCGetMOID"},
    {"GetObjItem", "MCGetVirDataItem"},    {"GetObjItemCnt", "MCGetVirDataItemCnt"},
    {"GetSecurityContext", "GetContextEx"}, {"ExportData", "MCExport"},
    {"ImportData", "MCImport"},            {"CVSleep", "MCSleep"},
    {"WaitForObject", "MCWaitForObject"},  {"WaitForObjectEx", "MCWaitForObjectOffline"},
    {"MCIsActionRunning", "IsMCActionRunning"}, {"MCSetPrimaryMS", "MCPrimaryMS"},
    {"MCConfigPrimaryMS", "MCPrimaryMS"},  {"FetchDataSources", "GetDataSources"},
    {"cvDiffDateFromString", "DiffDateFromString"}, {"AbortScript", "MCAbort"},
    {"AbortScriptEx", "MCAbort"},
};

}  // namespace

std::string unknownOperation(const std::string& name) {
    for (const auto& m : kMethods)
        if (lower(name) == lower(m.method))
            return "\"" + name + "\" is a script method, not a core operation; its operation is \"" + m.op + "\"";
    return unknownName("operation", name, operationNames()) + " ('ztolvera-run --list-ops' lists them)";
}

std::string operationOfMethod(const std::string& name) {
    for (const auto& m : kMethods)
        if (name == m.method) return m.op;
    return "";
}

const coreops::Operation* findOperation(const std::string& name) {
    const coreops::Operation* op = coreops::find(name);
    return op && op->answers() ? op : nullptr;
}

std::vector<std::string> operationNames() {
    std::vector<std::string> names;
    for (const coreops::Operation& op : coreops::kOperations)
        if (op.answers()) names.push_back(op.name);
    return names;
}

std::vector<std::string> parametersOf(const coreops::Operation& op) {
    std::vector<std::string> params;
    for (std::size_t i = 0; i < op.count(); ++i) params.push_back(op.params[i].name);
    return params;
}

// A name differing only in case is always meant; otherwise at most a third
// of its letters may differ.
std::string nearestName(const std::string& name, const std::vector<std::string>& candidates) {
    std::string best;
    std::size_t bestDistance = std::string::npos;
    for (const std::string& c : candidates) {
        std::size_t d = editDistance(lower(name), lower(c));
        if (d < bestDistance) bestDistance = d, best = c;
    }
    std::size_t allowed = std::max<std::size_t>(2, name.size() / 3);
    return bestDistance <= allowed ? best : std::string();
}

std::string unknownName(const char* what, const std::string& name, const std::vector<std::string>& candidates,
                        const std::string& where) {
    std::string message = std::string("unknown ") + what + " \"" + name + "\"" + (where.empty() ? "" : " " + where);
    std::string nearest = nearestName(name, candidates);
    if (!nearest.empty()) message += "; did you mean \"" + nearest + "\"?";
    return message;
}

bool checkField(const coreops::Operation& op, const std::string& field, std::string& error) {
    if (field == "result") return true;
    if ((field == "text" && op.text) || (field == "abort" && op.abort)) return true;
    std::string has = "result";
    if (op.text) has += ", text";
    if (op.abort) has += ", abort";
    if (field == "text" || field == "abort")
        error = std::string(op.name) + " has no " + field + " answer (it answers with: " + has + ")";
    else
        error = unknownName("answer", field, {"result", "text", "abort"}) + " (" + op.name + " answers with: " + has + ")";
    return false;
}

std::string operationsList() {
    std::string out;
    for (const coreops::Operation& op : coreops::kOperations) {
        if (!op.answers()) continue;
        std::string params;
        for (const std::string& p : parametersOf(op)) params += (params.empty() ? "" : ", ") + p;
        out += std::string(op.name) + "(" + params + ")\n";
        out += "    result: " + std::string(op.result) + "\n";
        if (op.text) out += "    text:   " + std::string(op.text) + "\n";
        if (op.abort) out += "    abort:  " + std::string(op.abort) + "\n";
    }
    return out;
}
