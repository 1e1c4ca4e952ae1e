#include "journal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "standin.h"

void noteHost(unsigned long job, const char* op, HRESULT hr) {
    std::string line = "{\"job\":" + std::to_string(job) + ",\"host\":\"" + op +
                       "\",\"hr\":" + std::to_string(static_cast<long>(hr)) + "}";
    standin_note(line.c_str());
}

void noteRun(unsigned long job, HRESULT hr, VARIANT_BOOL ret) {
    std::string line = "{\"job\":" + std::to_string(job) + ",\"host\":\"run\",\"hr\":" +
                       std::to_string(static_cast<long>(hr)) + ",\"ret\":" + std::to_string(ret) + "}";
    standin_note(line.c_str());
}

std::string currentJournal() {
    char* text = standin_journal();
    std::string journal = text ? text : "";
    standin_free(text);
    return journal;
}

namespace {

// Reads `"job":J,"op":"NAME"` right after the seq member of a journal line;
// other lines (traces, host notes, calls without a job) are not a job's call.
bool jobCall(const std::string& line, unsigned long& job, std::string& op) {
    if (line.rfind("{\"seq\":", 0) != 0) return false;
    std::size_t at = line.find(",\"job\":");
    if (at == std::string::npos || line.find(',') != at) return false;
    char* end = nullptr;
    job = std::strtoul(line.c_str() + at + 7, &end, 10);
    const char opKey[] = ",\"op\":\"";
    if (std::strncmp(end, opKey, sizeof opKey - 1)) return false;
    const char* name = end + sizeof opKey - 1;
    const char* quote = std::strchr(name, '"');
    if (!quote) return false;
    op.assign(name, quote);
    return true;
}

}  // namespace

std::map<unsigned long, JobCounts> countByJob(const std::string& journal) {
    std::map<unsigned long, JobCounts> counts;
    std::size_t start = 0;
    while (start < journal.size()) {
        std::size_t end = journal.find('\n', start);
        if (end == std::string::npos) end = journal.size();
        unsigned long job = 0;
        std::string op;
        if (jobCall(journal.substr(start, end - start), job, op)) {
            if (op == "sendScpException") ++counts[job].scriptErrors;
            else ++counts[job].coreCalls;
        }
        start = end + 1;
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
    return std::fflush(file_) == 0 && ok;
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}
