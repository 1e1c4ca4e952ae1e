#include "stream.h"

#include <cstdio>

#include "json.h"

namespace {

Json header(const char* kind, const Doing& doing, double at) {
    return Json{{"m", kind}, {"at", at}, {"job", doing.job}, {"step", stepName(doing.step)}, {"run", doing.run}};
}

}  // namespace

void StreamOut::send(const std::string& text) {
    std::lock_guard<std::mutex> g(lock_);
    DWORD written = 0;
    WriteFile(pipe_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void StreamOut::line(const Seen& seen) {
    Json m = header("line", seen.doing, seen.at);
    if (seen.hasResult) m["result"] = seen.result;
    m["line"] = seen.line;
    send(jsonLine(m) + "\n");
}

void StreamOut::began(const Doing& doing, double at, double slotEnd) {
    Json m = header("began", doing, at);
    if (slotEnd >= 0) m["slot_end"] = slotEnd;
    send(jsonLine(m) + "\n");
}

void StreamOut::fatal(const std::string& text) { send(jsonLine(Json{{"m", "fatal"}, {"text", text}}) + "\n"); }

void StreamOut::done() { send("{\"m\":\"done\"}\n"); }

void StreamOut::crash(HANDLE pipe, DWORD code, const Doing& doing) {
    char text[160];
    int n = std::snprintf(text, sizeof text, "{\"m\":\"crash\",\"code\":%lu,\"job\":%lu,\"step\":\"%s\",\"run\":%u}\n",
                          static_cast<unsigned long>(code), doing.job, stepName(doing.step), doing.run);
    DWORD written = 0;
    if (n > 0) WriteFile(pipe, text, static_cast<DWORD>(n), &written, nullptr);
}

bool readMessage(const std::string& text, Message& message) {
    Json m;
    if (!parseJson(text, m)) return false;
    const std::string& kind = textOf(member(m, "m"));
    message = Message{};
    message.seen.at = numberOf(member(m, "at"));
    message.seen.doing.job = static_cast<unsigned long>(integerOf(member(m, "job")));
    message.seen.doing.step = stepNamed(textOf(member(m, "step")));
    message.seen.doing.run = static_cast<unsigned>(integerOf(member(m, "run")));
    if (kind == "line") {
        message.kind = Message::Line;
        message.seen.line = textOf(member(m, "line"));
        if (const Json* result = member(m, "result")) {
            message.seen.hasResult = true;
            message.seen.result = integerOf(result);
        }
    } else if (kind == "began") {
        message.kind = Message::Began;
        if (const Json* end = member(m, "slot_end")) message.slotEnd = numberOf(end);
    } else if (kind == "crash") {
        message.kind = Message::Crash;
        message.code = static_cast<DWORD>(numberOf(member(m, "code")));
    } else if (kind == "fatal") {
        message.kind = Message::Fatal;
        message.text = textOf(member(m, "text"));
    } else if (kind == "done") {
        message.kind = Message::Done;
    }
    return message.kind != Message::Unknown;
}
