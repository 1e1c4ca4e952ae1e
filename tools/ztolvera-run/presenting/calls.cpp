#include "calls.h"

#include <cstdio>

#include <cstring>

#include "journal.h"
#include "json.h"
#include "operations.h"

namespace {

// The text with its control characters escaped; in quotes, the quote and
// the backslash too.
void escape(std::string& out, const std::string& s, bool quoted) {
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += quoted ? "\\\"" : "\""; break;
        case '\\': out += quoted ? "\\\\" : "\\"; break;
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
}

void quote(std::string& out, const std::string& s) {
    out += '"';
    escape(out, s, true);
    out += '"';
}

void readable(std::string& out, const Json& v) {
    if (v.is_null()) {
        out += "null";
    } else if (v.is_string()) {
        quote(out, v.get_ref<const std::string&>());
    } else if (v.is_array()) {
        out += '[';
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (i) out += ", ";
            readable(out, v[i]);
        }
        out += ']';
    } else if (v.is_object()) {
        out += '{';
        bool first = true;
        for (const auto& [name, value] : v.items()) {
            if (!first) out += ", ";
            first = false;
            out += name + ": ";
            readable(out, value);
        }
        out += '}';
    } else if (v.is_number()) {
        out += numberText(&v);
    } else {
        out += v.dump();
    }
}

std::string stamp(double at) {
    char time[24];
    std::snprintf(time, sizeof time, "%8.3f ", at);
    return time;
}

std::string refusedLine(const Seen& seen, const RefusedCall& refused) {
    return stamp(seen.at) + "job " + std::to_string(refused.jobno) + " run " + std::to_string(refused.run) + ": " +
           refused.member + " refused (the run was being ended; the core never saw the call)\n";
}

// A call of the fake machine: what the script handed in, then what the fake
// answered or the error it raised.
std::string fakeLine(const Seen& seen) {
    const jnl::Entry& e = seen.entry;
    unsigned long jobno = e.job ? e.job : seen.doing.job;
    std::string out = stamp(seen.at) + (jobno ? "job " + std::to_string(jobno) : std::string("no job"));
    if (e.run()) out += " run " + std::to_string(e.run());
    std::string in;
    for (const Json& a : e.args) {
        if (!in.empty()) in += ", ";
        readable(in, a);
    }
    out += ": " + e.op + "(" + in + ")";
    if (!e.failed.empty()) {
        out += " raised ";
        quote(out, e.failed);
    } else if (e.hasGave) {
        out += " -> ";
        // True and False as the script sees them.
        if (e.gave.is_boolean()) out += e.gave.get<bool>() ? "True" : "False";
        else readable(out, e.gave);
    }
    return out + "\n";
}

}  // namespace

std::string callLine(const Seen& seen) {
    const jnl::Entry& e = seen.entry;
    RefusedCall refused;
    if (e.kind == jnl::Entry::Trace && refusedCall(e.trace, refused)) return refusedLine(seen, refused);
    if (e.kind == jnl::Entry::Fake) return fakeLine(seen);
    if (e.kind != jnl::Entry::Call && e.kind != jnl::Entry::ScriptError) return {};

    unsigned long jobno = e.job ? e.job : seen.doing.job;
    unsigned run = seen.doing.job == jobno && seen.doing.step == Step::Run ? seen.doing.run : 0;
    if (e.run()) run = e.run();

    std::string out = stamp(seen.at);
    out += jobno ? "job " + std::to_string(jobno) : std::string("no job");
    if (run) out += " run " + std::to_string(run);
    else if (jobno && seen.doing.job == jobno && seen.doing.step == Step::Compile) out += " compile";
    // What the script handed in, the result, then what the core handed back.
    const std::string& name = e.op;
    const coreops::Operation* row = e.row;
    std::size_t known = row ? row->count() : 0;
    std::string in, back;
    for (std::size_t i = 0; i < e.args.size(); ++i) {
        // What the core wrote into a parameter, named as --list-ops names it.
        bool out = i < known && row->params[i].dir != coreops::Dir::In;
        std::string& to = out ? back : in;
        if (!to.empty()) to += ", ";
        if (out) to += std::string(row->params[i].name) + " ";
        readable(to, e.args[i]);
    }
    if (e.hasGave) {
        std::string item;
        readable(item, e.gave);
        back = back.empty() ? item : item + ", " + back;
    }
    out += ": " + name + "(" + in + ")";
    if (seen.hasResult) out += " = " + std::to_string(seen.result);
    if (!back.empty()) out += " -> " + back;
    return out + "\n";
}

std::string traceLine(const Seen& seen) {
    const jnl::Entry& e = seen.entry;
    if (e.kind != jnl::Entry::Call || e.op != "ZTrace" || e.args.empty()) return {};
    unsigned long jobno = e.job ? e.job : seen.doing.job;
    std::string out = stamp(seen.at) + "job " + std::to_string(jobno);
    if (unsigned run = e.run()) out += " run " + std::to_string(run);
    out += ": ";
    if (e.args[0].is_string()) {
        escape(out, e.args[0].get_ref<const std::string&>(), false);
    } else {
        readable(out, e.args[0]);
    }
    return out + "\n";
}
