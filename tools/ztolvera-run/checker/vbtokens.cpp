#include "vbtokens.h"

#include <cwctype>

namespace {

bool letter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= 0x80 && std::iswalpha(c)); }
bool digit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool blank(wchar_t c) { return c == L' ' || c == L'\t' || c == 0xA0 || c == 0x3000; }
bool lineEnd(wchar_t c) { return c == L'\r' || c == L'\n'; }
wchar_t lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

class Tokenizer {
public:
    explicit Tokenizer(const std::wstring& text) : s_(text) {}

    VbText run() {
        while (at_ < s_.size()) {
            wchar_t c = s_[at_];
            if (blank(c)) { ++at_; continue; }
            if (lineEnd(c)) { endLine(); endStatement(); continue; }
            if (c == L'\'') { skipToLineEnd(); continue; }
            if (c == L':') { ++at_; endStatement(); continue; }
            if (c == L'_' && continuation()) continue;
            if (c == L'"') { string(); continue; }
            if (letter(c)) { name(); continue; }
            if (c == L'[') { bracketName(); continue; }
            if (digit(c) || (c == L'.' && at_ + 1 < s_.size() && digit(s_[at_ + 1]) && !afterOperand())) {
                number();
                continue;
            }
            if (c == L'&' && at_ + 1 < s_.size() && (lower(s_[at_ + 1]) == L'h' || lower(s_[at_ + 1]) == L'o' || digit(s_[at_ + 1]))) {
                radixNumber();
                continue;
            }
            if (c == L'#' && dateLiteral()) continue;
            symbol();
        }
        endStatement();
        return std::move(out_);
    }

private:
    unsigned column() const { return static_cast<unsigned>(at_ - lineStart_) + 1; }

    void push(VbToken::Kind kind, std::wstring text, std::size_t from) {
        VbToken t;
        t.kind = kind;
        t.text = std::move(text);
        t.line = line_;
        t.column = static_cast<unsigned>(from - lineStart_) + 1;
        current_.tokens.push_back(std::move(t));
    }

    void endStatement() {
        if (!current_.tokens.empty()) out_.statements.push_back(std::move(current_));
        current_ = VbStatement{};
    }

    // At a CR or LF: steps over one line end (CR LF counts once).
    void endLine() {
        if (s_[at_] == L'\r') {
            if (at_ + 1 < s_.size() && s_[at_ + 1] == L'\n') ++at_;
            else out_.bareCrLines.push_back(line_);
        }
        ++at_;
        ++line_;
        lineStart_ = at_;
    }

    void skipToLineEnd() {
        while (at_ < s_.size() && !lineEnd(s_[at_])) ++at_;
    }

    // `_` followed by nothing but blanks up to the line's end joins the next
    // line to this statement.
    bool continuation() {
        std::size_t p = at_ + 1;
        while (p < s_.size() && blank(s_[p])) ++p;
        if (p < s_.size() && !lineEnd(s_[p])) return false;
        at_ = p;
        if (at_ < s_.size()) endLine();
        return true;
    }

    void string() {
        std::size_t from = at_++;
        std::wstring text;
        while (true) {
            if (at_ >= s_.size() || lineEnd(s_[at_])) {
                if (!out_.openStringLine) {
                    out_.openStringLine = line_;
                    out_.openStringColumn = static_cast<unsigned>(from - lineStart_) + 1;
                }
                break;
            }
            if (s_[at_] == L'"') {
                if (at_ + 1 < s_.size() && s_[at_ + 1] == L'"') {
                    text += L'"';
                    at_ += 2;
                    continue;
                }
                ++at_;
                break;
            }
            text += s_[at_++];
        }
        push(VbToken::String, std::move(text), from);
    }

    void name() {
        std::size_t from = at_;
        while (at_ < s_.size() && (letter(s_[at_]) || digit(s_[at_]) || s_[at_] == L'_')) ++at_;
        std::wstring text = s_.substr(from, at_ - from);
        bool member = !current_.tokens.empty() && isSymbol(current_.tokens.back(), L".");
        if (!member && sameName(text, L"rem")) {
            skipToLineEnd();
            return;
        }
        push(VbToken::Name, std::move(text), from);
    }

    void bracketName() {
        std::size_t from = at_++;
        std::size_t close = s_.find(L']', at_);
        std::size_t end = s_.find_first_of(L"\r\n", at_);
        if (close == std::wstring::npos || (end != std::wstring::npos && end < close)) {
            symbol(from);
            return;
        }
        at_ = close + 1;
        push(VbToken::Name, s_.substr(from + 1, close - from - 1), from);
    }

    // A '.' after these starts a member of the value before it, not a number.
    bool afterOperand() const {
        if (current_.tokens.empty()) return false;
        const VbToken& t = current_.tokens.back();
        return t.kind != VbToken::Symbol || t.text == L")";
    }

    void number() {
        std::size_t from = at_;
        while (at_ < s_.size() && digit(s_[at_])) ++at_;
        if (at_ < s_.size() && s_[at_] == L'.') {
            ++at_;
            while (at_ < s_.size() && digit(s_[at_])) ++at_;
        }
        if (at_ < s_.size() && lower(s_[at_]) == L'e') {
            std::size_t p = at_ + 1;
            if (p < s_.size() && (s_[p] == L'+' || s_[p] == L'-')) ++p;
            if (p < s_.size() && digit(s_[p])) {
                at_ = p;
                while (at_ < s_.size() && digit(s_[at_])) ++at_;
            }
        }
        push(VbToken::Number, s_.substr(from, at_ - from), from);
    }

    // &H1F, &O17, &17, with an optional & type mark.
    void radixNumber() {
        std::size_t from = at_++;
        if (lower(s_[at_]) == L'h' || lower(s_[at_]) == L'o') ++at_;
        while (at_ < s_.size() && (digit(s_[at_]) || (lower(s_[at_]) >= L'a' && lower(s_[at_]) <= L'f'))) ++at_;
        if (at_ < s_.size() && s_[at_] == L'&') ++at_;
        push(VbToken::Number, s_.substr(from, at_ - from), from);
    }

    bool dateLiteral() {
        std::size_t close = s_.find(L'#', at_ + 1);
        std::size_t end = s_.find_first_of(L"\r\n", at_ + 1);
        if (close == std::wstring::npos || (end != std::wstring::npos && end < close)) return false;
        push(VbToken::Date, s_.substr(at_ + 1, close - at_ - 1), at_);
        at_ = close + 1;
        return true;
    }

    void symbol(std::size_t from = std::wstring::npos) {
        if (from != std::wstring::npos) at_ = from;
        from = at_;
        static const wchar_t* const kPairs[] = {L"<>", L"<=", L">=", L"=<", L"=>"};
        for (const wchar_t* pair : kPairs)
            if (s_.compare(at_, 2, pair) == 0) {
                at_ += 2;
                push(VbToken::Symbol, pair, from);
                return;
            }
        push(VbToken::Symbol, std::wstring(1, s_[at_++]), from);
    }

    const std::wstring& s_;
    std::size_t at_ = 0, lineStart_ = 0;
    unsigned line_ = 1;
    VbStatement current_;
    VbText out_;
};

}  // namespace

VbText tokenize(const std::wstring& text) { return Tokenizer(text).run(); }

bool sameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool isName(const VbToken& t, const wchar_t* name) { return t.kind == VbToken::Name && sameName(t.text, name); }
bool isSymbol(const VbToken& t, const wchar_t* symbol) { return t.kind == VbToken::Symbol && t.text == symbol; }

std::size_t afterModifiers(const std::vector<VbToken>& t) {
    std::size_t i = 0;
    while (i < t.size() && (isName(t[i], L"Public") || isName(t[i], L"Private") || isName(t[i], L"Default"))) ++i;
    return i;
}

bool procedureStart(const std::vector<VbToken>& t, std::size_t& nameAt, bool classes) {
    std::size_t i = afterModifiers(t);
    if (i >= t.size()) return false;
    if (isName(t[i], L"Sub") || isName(t[i], L"Function") || (classes && isName(t[i], L"Class"))) nameAt = i + 1;
    else if (isName(t[i], L"Property") && i + 1 < t.size()) nameAt = i + 2;
    else return false;
    return nameAt < t.size() && t[nameAt].kind == VbToken::Name;
}
