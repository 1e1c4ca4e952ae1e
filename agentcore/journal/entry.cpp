#include "entry.h"

#include "format.h"

namespace jnl {

const Json* Entry::arg(std::string_view name) const {
    int i = row ? row->indexOf(name) : -1;
    return i < 0 ? nullptr : element(&args, static_cast<std::size_t>(i));
}

unsigned Entry::run() const { return kind == Fake ? fakeRun : hasContext ? runOf(job, pwdobj) : 0; }

bool readEntry(const std::string& text, Entry& entry) {
    entry = Entry{};
    Json line;
    if (!parseJson(text, line) || !line.is_object()) return false;
    entry.seq = static_cast<unsigned long>(integerOf(member(line, "seq")));
    entry.job = static_cast<unsigned long>(integerOf(member(line, "job")));
    if (const Json* trace = member(line, "trace")) {
        entry.kind = Entry::Trace;
        entry.trace = textOf(trace);
        entry.mask = static_cast<int>(integerOf(member(line, "mask")));
    } else if (const Json* host = member(line, "host")) {
        entry.kind = Entry::Host;
        entry.step = textOf(host);
        entry.hr = integerOf(member(line, "hr"));
        const Json* ret = member(line, "ret");
        entry.hasRet = ret != nullptr;
        entry.ret = integerOf(ret);
    } else if (const Json* fake = member(line, "fake"); isString(fake)) {
        entry.kind = Entry::Fake;
        entry.op = textOf(fake);
        entry.fakeRun = static_cast<unsigned>(integerOf(member(line, "run")));
        if (const Json* args = member(line, "args"); args && args->is_array()) entry.args = *args;
        if (const Json* answer = member(line, "answer")) entry.hasGave = true, entry.gave = *answer;
        entry.failed = textOf(member(line, "error"));
    } else if (const Json* op = member(line, "op"); isString(op)) {
        entry.op = textOf(op);
        entry.kind = entry.op == "sendScpException" ? Entry::ScriptError : Entry::Call;
        entry.row = coreops::find(entry.op);
        if (const Json* args = member(line, "args"); args && args->is_array()) entry.args = *args;
        if (const Json* gave = member(line, "gave")) entry.hasGave = true, entry.gave = *gave;
        if (const Json* pwd = element(member(line, "ctx"), 1)) {
            entry.hasContext = true;
            entry.pwdobj = static_cast<unsigned long>(integerOf(pwd));
        }
    }
    return true;
}

}  // namespace jnl
