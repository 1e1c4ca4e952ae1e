#include "calls.h"

#include <cstdio>

#include "json.h"

namespace {

void quote(std::string& out, const std::string& s) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\x%02x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

void readable(std::string& out, const JsonValue& v) {
    switch (v.kind) {
    case JsonValue::Null: out += "null"; break;
    case JsonValue::String: quote(out, v.text); break;
    case JsonValue::Array:
        out += '[';
        for (std::size_t i = 0; i < v.items.size(); ++i) {
            if (i) out += ", ";
            readable(out, v.items[i]);
        }
        out += ']';
        break;
    case JsonValue::Object:
        out += '{';
        for (std::size_t i = 0; i < v.members.size(); ++i) {
            if (i) out += ", ";
            out += v.members[i].first + ": ";
            readable(out, v.members[i].second);
        }
        out += '}';
        break;
    default: out += v.text; break;
    }
}

}  // namespace

std::string callLine(const Seen& seen) {
    JsonValue line;
    if (!parseJson(seen.line, line)) return {};
    const JsonValue* op = line.member("op");
    if (!op || op->kind != JsonValue::String) return {};

    const JsonValue* job = line.member("job");
    unsigned long jobno = job && job->integer() > 0 ? static_cast<unsigned long>(job->integer()) : seen.doing.job;
    unsigned run = seen.doing.job == jobno && seen.doing.step == Step::Run ? seen.doing.run : 0;
    if (const JsonValue* ctx = line.member("ctx"); ctx && ctx->at(1)) {
        long k = ctx->at(1)->integer() - static_cast<long>(jobno) * 1000;
        if (k >= 1 && k <= 999) run = static_cast<unsigned>(k);
    }

    char time[24];
    std::snprintf(time, sizeof time, "%8.3f ", seen.at);
    std::string out = time;
    out += jobno ? "job " + std::to_string(jobno) : std::string("no job");
    if (run) out += " run " + std::to_string(run);
    else if (jobno && seen.doing.job == jobno && seen.doing.step == Step::Compile) out += " compile";
    out += ": " + op->text + "(";
    if (const JsonValue* args = line.member("args")) {
        for (std::size_t i = 0; i < args->items.size(); ++i) {
            if (i) out += ", ";
            readable(out, args->items[i]);
        }
    }
    out += ")";
    if (seen.hasResult) out += " = " + std::to_string(seen.result);
    return out + "\n";
}
