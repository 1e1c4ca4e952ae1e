#include "journal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "json.h"
#include "standin.h"

void noteHost(unsigned long job, const char* op, HRESULT hr) {
    standin_note(jsonLine(Json{{"job", job}, {"host", op}, {"hr", static_cast<long>(hr)}}).c_str());
}

void noteRun(unsigned long job, HRESULT hr, VARIANT_BOOL ret) {
    standin_note(jsonLine(Json{{"job", job}, {"host", "run"}, {"hr", static_cast<long>(hr)}, {"ret", ret}}).c_str());
}

std::map<unsigned long, JobCounts> countByJob(const std::vector<Seen>& lines) {
    std::map<unsigned long, JobCounts> counts;
    for (const Seen& seen : lines) {
        Json line;
        if (!parseJson(seen.line, line)) continue;
        // Traces, host notes and calls without a job are no job's call.
        const Json* job = member(line, "job");
        const Json* op = member(line, "op");
        if (!job || !isString(op)) continue;
        JobCounts& c = counts[static_cast<unsigned long>(integerOf(job))];
        ++(textOf(op) == "sendScpException" ? c.scriptErrors : c.coreCalls);
    }
    return counts;
}

JournalTarget::~JournalTarget() {
    if (file_ && file_ != stdout) std::fclose(file_);
}

bool JournalTarget::open(const std::wstring& path, std::wstring& error) {
    if (path == L"-") {
        file_ = stdout;
        return true;
    }
    file_ = _wfopen(path.c_str(), L"wb");
    if (!file_) {
        const char* reason = std::strerror(errno);
        error = std::wstring(reason, reason + std::strlen(reason));
        return false;
    }
    return true;
}

bool JournalTarget::write(const std::string& text) {
    if (!file_) return true;
    bool ok = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
    failed_ |= !(std::fflush(file_) == 0 && ok);
    return !failed_;
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}
