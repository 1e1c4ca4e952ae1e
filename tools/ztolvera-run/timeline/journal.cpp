#include "journal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "format.h"
#include "standin.h"
#include "trace_formats.h"

namespace {

std::wstring errnoWords() {
    const char* reason = std::strerror(errno);
    return std::wstring(reason, reason + std::strlen(reason));
}

}  // namespace

void noteHost(unsigned long job, const char* op, HRESULT hr) {
    standin_note(jnl::hostNote(job, op, static_cast<long>(hr)).c_str());
}

void noteRun(unsigned long job, HRESULT hr, VARIANT_BOOL ret) {
    standin_note(jnl::runNote(job, static_cast<long>(hr), ret).c_str());
}

bool refusedCall(const std::string& trace, RefusedCall& call) {
    std::vector<std::string> fields;
    if (!traceformat::matches(traceformat::kCallRefused, trace, fields)) return false;
    unsigned long pwdobj = std::strtoul(fields[1].c_str(), nullptr, 10);
    call.member = fields[0];
    call.jobno = jnl::jobOf(pwdobj);
    call.run = jnl::runOf(call.jobno, pwdobj);
    return true;
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
        error = errnoWords();
        return false;
    }
    return true;
}

bool JournalTarget::write(const std::string& text) {
    if (!file_ || failed_) return !failed_;
    errno = 0;
    bool ok = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
    if (std::fflush(file_) == 0 && ok) return true;
    failed_ = true;
    failure_ = errno ? errnoWords() : L"the write was cut short";
    return false;
}
