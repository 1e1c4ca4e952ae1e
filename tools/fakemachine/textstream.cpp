#include "files.h"

namespace fakes {

ScriptError fileError(FileError number) {
    switch (number) {
    case kBadArgument: return runtimeError(number, L"Invalid procedure call or argument");
    case kFileNotFound: return runtimeError(number, L"File not found");
    case kPastEnd: return runtimeError(number, L"Input past end of file");
    case kDeviceUnavailable: return runtimeError(number, L"Device unavailable");
    case kPathNotFound: return runtimeError(number, L"Path not found");
    }
    return runtimeError(number, L"");
}

namespace {

// Reads the content it was opened on to its end, whatever the machine says
// of later runs. A line ends at "\n" or "\r\n".
class TextStream : public Fake {
public:
    explicit TextStream(const std::wstring* text) : Fake("TextStream"), text_(*text) {}

protected:
    void answer(Call& c) override {
        Lock lock(lock_);
        const std::string& m = c.member;
        if (m == "AtEndOfStream") return c.reply.boolean(at_ >= text_.size());
        if (m == "AtEndOfLine") return c.reply.boolean(at_ >= text_.size() || text_[at_] == L'\r' || text_[at_] == L'\n');
        if (m == "Line") return c.reply.number(double(line_));
        if (m == "Close") return c.reply.nothing();
        bool reads = m == "ReadLine" || m == "ReadAll" || m == "Read" || m == "Skip" || m == "SkipLine";
        if (!reads) return notFakedCall(c);
        if (at_ >= text_.size()) return c.reply.fail(fileError(kPastEnd));
        if (m == "ReadLine" || m == "SkipLine") {
            std::size_t end = text_.find(L'\n', at_);
            std::size_t next = end == std::wstring::npos ? text_.size() : end + 1;
            if (end == std::wstring::npos) end = text_.size();
            if (end > at_ && text_[end - 1] == L'\r') --end;
            std::wstring lineText = text_.substr(at_, end - at_);
            advance(next - at_);
            return m == "ReadLine" ? c.reply.text(lineText) : c.reply.nothing();
        }
        long n = long(text_.size() - at_);
        if (m != "ReadAll" && (!c.args.integer(0, n) || n < 0)) return c.reply.fail(fileError(kBadArgument));
        std::size_t take = std::min<std::size_t>(std::size_t(n), text_.size() - at_);
        std::wstring read = text_.substr(at_, take);
        advance(take);
        return m == "Skip" ? c.reply.nothing() : c.reply.text(read);
    }

private:
    void advance(std::size_t count) {
        for (std::size_t i = at_; i < at_ + count; ++i) line_ += text_[i] == L'\n';
        at_ += count;
    }

    CriticalSection lock_;
    const std::wstring& text_;
    std::size_t at_ = 0;
    unsigned long line_ = 1;
};

}  // namespace

Fake* newTextStream(const std::wstring* text) { return make<TextStream>(text); }

}  // namespace fakes
