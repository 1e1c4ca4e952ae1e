#include "wql.h"

#include <cmath>
#include <cstdlib>
#include <cwctype>

namespace fakes {

const Json* property(const Json& row, const std::wstring& name) {
    std::string wanted = utf8(foldCase(name));
    for (auto& [key, value] : row.items())
        if (utf8(foldCase(wide(key))) == wanted) return &value;
    return nullptr;
}

namespace {

struct Token {
    enum Kind { End, Name, Text, Number, Symbol } kind = End;
    std::wstring text;   // names upper-cased; symbols as written
    double number = 0;
};

// Splits the query into tokens; false on a character no query has.
bool tokenize(const std::wstring& s, std::vector<Token>& out) {
    for (std::size_t i = 0; i < s.size();) {
        wchar_t c = s[i];
        if (iswspace(c)) { ++i; continue; }
        Token t;
        if (iswalpha(c) || c == L'_') {
            std::size_t j = i;
            while (j < s.size() && (iswalnum(s[j]) || s[j] == L'_')) ++j;
            t.kind = Token::Name, t.text = foldCase(s.substr(i, j - i)), i = j;
        } else if (c == L'\'' || c == L'"') {
            std::size_t j = i + 1;
            while (j < s.size() && s[j] != c) {
                if (s[j] == L'\\' && j + 1 < s.size()) ++j;   // \' and \\ inside a string
                t.text += s[j++];
            }
            if (j >= s.size()) return false;
            t.kind = Token::Text, i = j + 1;
        } else if (iswdigit(c) || (c == L'-' && i + 1 < s.size() && iswdigit(s[i + 1]))) {
            wchar_t* end = nullptr;
            t.kind = Token::Number, t.number = std::wcstod(s.c_str() + i, &end);
            i = std::size_t(end - s.c_str());
        } else {
            static const wchar_t* const symbols[] = {L"<>", L"!=", L"<=", L">=", L"=", L"<", L">", L"(", L")", L",", L"*"};
            for (const wchar_t* sym : symbols)
                if (s.compare(i, std::wcslen(sym), sym) == 0) {
                    t.kind = Token::Symbol, t.text = sym;
                    break;
                }
            if (t.kind != Token::Symbol) return false;
            i += t.text.size();
        }
        out.push_back(std::move(t));
    }
    out.push_back(Token{});
    return true;
}

std::wstring textOf(const Json& v) {
    if (v.is_string()) return wide(v.get<std::string>());
    if (v.is_boolean()) return v.get<bool>() ? L"TRUE" : L"FALSE";
    return wide(v.dump());
}

bool numberOf(const Json& v, double& out) {
    if (v.is_number()) return out = v.get<double>(), true;
    if (v.is_boolean()) return out = v.get<bool>() ? 1 : 0, true;
    if (!v.is_string()) return false;
    std::wstring s = wide(v.get<std::string>());
    wchar_t* end = nullptr;
    out = std::wcstod(s.c_str(), &end);
    return !s.empty() && end && *end == 0;
}

// '%' any run of characters, '_' one character; case ignored. A mismatch
// goes back only to the last '%', one character further: time in the product
// of the lengths, however many '%' the pattern has.
bool like(const std::wstring& text, const std::wstring& pattern) {
    const std::size_t none = std::wstring::npos;
    std::size_t t = 0, p = 0, star = none, from = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'%') star = p++, from = t;
        else if (p < pattern.size() && (pattern[p] == L'_' || pattern[p] == text[t])) ++p, ++t;
        else if (star != none) p = star + 1, t = ++from;
        else return false;
    }
    while (p < pattern.size() && pattern[p] == L'%') ++p;
    return p == pattern.size();
}

class Comparison : public Condition {
public:
    Comparison(std::wstring name, std::wstring op, Json literal)
        : name_(std::move(name)), op_(std::move(op)), literal_(std::move(literal)) {}
    bool holds(const Json& row) const override {
        const Json* v = property(row, name_);
        if (op_ == L"IS NULL") return !v || v->is_null();
        if (op_ == L"IS NOT NULL") return v && !v->is_null();
        if (!v || v->is_null() || literal_.is_null()) return false;
        if (op_ == L"LIKE") return like(foldCase(textOf(*v)), foldCase(textOf(literal_)));
        int order;
        double a, b;
        if ((v->is_string() && literal_.is_string()) || !numberOf(*v, a) || !numberOf(literal_, b)) {
            std::wstring x = foldCase(textOf(*v)), y = foldCase(textOf(literal_));
            order = x < y ? -1 : x > y ? 1 : 0;
        } else {
            order = a < b ? -1 : a > b ? 1 : 0;
        }
        if (op_ == L"=") return order == 0;
        if (op_ == L"<>" || op_ == L"!=") return order != 0;
        if (op_ == L"<") return order < 0;
        if (op_ == L">") return order > 0;
        if (op_ == L"<=") return order <= 0;
        return order >= 0;
    }

private:
    std::wstring name_, op_;
    Json literal_;
};

class Logic : public Condition {
public:
    enum Kind { And, Or, Not };
    Logic(Kind kind, std::unique_ptr<Condition> a, std::unique_ptr<Condition> b)
        : kind_(kind), a_(std::move(a)), b_(std::move(b)) {}
    bool holds(const Json& row) const override {
        if (kind_ == Not) return !a_->holds(row);
        if (kind_ == And) return a_->holds(row) && b_->holds(row);
        return a_->holds(row) || b_->holds(row);
    }

private:
    Kind kind_;
    std::unique_ptr<Condition> a_, b_;
};

// The most operands, NOTs and parentheses a query may have. Past it the
// query is refused as the service refuses one over its quota; below it the
// recursion of parsing, testing and freeing a condition stays well inside
// a thread's stack.
constexpr std::size_t kMostTerms = 1000;

// Recursive descent over the tokens; each function null when the text is no condition.
class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}
    bool tooComplex() const { return terms_ > kMostTerms; }

    std::unique_ptr<Query> query() {
        auto q = std::make_unique<Query>();
        if (!keyword(L"SELECT")) return nullptr;
        if (!symbol(L"*")) {
            do {
                if (peek().kind != Token::Name) return nullptr;
                q->properties.push_back(next().text);
            } while (symbol(L","));
        }
        if (!keyword(L"FROM") || peek().kind != Token::Name) return nullptr;
        q->cls = next().text;
        if (keyword(L"WHERE") && !(q->where = orCondition())) return nullptr;
        if (peek().kind != Token::End) return nullptr;
        return q;
    }

private:
    const Token& peek() const { return t_[at_]; }
    const Token& next() { return t_[at_ < t_.size() - 1 ? at_++ : at_]; }
    bool keyword(const wchar_t* word) {
        if (peek().kind != Token::Name || peek().text != word) return false;
        return next(), true;
    }
    bool symbol(const wchar_t* sym) {
        if (peek().kind != Token::Symbol || peek().text != sym) return false;
        return next(), true;
    }

    std::unique_ptr<Condition> orCondition() {
        auto a = andCondition();
        while (a && keyword(L"OR")) {
            auto b = andCondition();
            a = b ? std::make_unique<Logic>(Logic::Or, std::move(a), std::move(b)) : nullptr;
        }
        return a;
    }
    std::unique_ptr<Condition> andCondition() {
        auto a = notCondition();
        while (a && keyword(L"AND")) {
            auto b = notCondition();
            a = b ? std::make_unique<Logic>(Logic::And, std::move(a), std::move(b)) : nullptr;
        }
        return a;
    }
    std::unique_ptr<Condition> notCondition() {
        if (++terms_ > kMostTerms) return nullptr;
        if (keyword(L"NOT")) {
            auto a = notCondition();
            return a ? std::make_unique<Logic>(Logic::Not, std::move(a), nullptr) : nullptr;
        }
        if (symbol(L"(")) {
            auto a = orCondition();
            return a && symbol(L")") ? std::move(a) : nullptr;
        }
        return comparison();
    }
    std::unique_ptr<Condition> comparison() {
        if (peek().kind != Token::Name || isKeyword(peek().text)) return nullptr;
        std::wstring name = next().text;
        if (keyword(L"IS")) {
            bool negated = keyword(L"NOT");
            if (!keyword(L"NULL")) return nullptr;
            return std::make_unique<Comparison>(name, negated ? L"IS NOT NULL" : L"IS NULL", nullptr);
        }
        std::wstring op;
        if (keyword(L"LIKE")) op = L"LIKE";
        else if (peek().kind == Token::Symbol && peek().text != L"(" && peek().text != L")" && peek().text != L"," &&
                 peek().text != L"*")
            op = next().text;
        else
            return nullptr;
        Json literal;
        const Token& v = next();
        if (v.kind == Token::Text) literal = utf8(v.text);
        else if (v.kind == Token::Number) literal = v.number == std::floor(v.number) && std::fabs(v.number) < 9e15
                                                        ? Json(static_cast<long long>(v.number)) : Json(v.number);
        else if (v.kind == Token::Name && v.text == L"TRUE") literal = true;
        else if (v.kind == Token::Name && v.text == L"FALSE") literal = false;
        else if (v.kind == Token::Name && v.text == L"NULL") literal = nullptr;
        else return nullptr;
        if (op == L"LIKE" && !literal.is_string()) return nullptr;
        return std::make_unique<Comparison>(name, op, literal);
    }
    static bool isKeyword(const std::wstring& w) {
        return w == L"AND" || w == L"OR" || w == L"NOT" || w == L"IS" || w == L"LIKE" || w == L"NULL";
    }

    std::vector<Token> t_;
    std::size_t at_ = 0;
    std::size_t terms_ = 0;
};

}  // namespace

std::unique_ptr<Query> parseQuery(const std::wstring& text, bool& tooComplex) {
    tooComplex = false;
    std::vector<Token> tokens;
    if (!tokenize(text, tokens)) return nullptr;
    Parser parser(std::move(tokens));
    std::unique_ptr<Query> q = parser.query();
    tooComplex = parser.tooComplex();
    return q;
}

}  // namespace fakes
