#include "check.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "engine_compile.h"
#include "engine_gaps.h"
#include "markers.h"
#include "undeclared.h"
#include "script.h"
#include "vbtokens.h"

namespace {

std::wstring upper(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return s;
}

// The rules of the checker's warnings, as a marker in a script names them.
namespace rule {
constexpr const char* kNoValue = "no-value";          // a method without a result used as a value
constexpr const char* kContract = "contract";         // a method that by contract does nothing
constexpr const char* kStreamId = "stream-id";        // a stream id the data-stream methods refuse
constexpr const char* kFlagResult = "flag-result";    // a flag result compared with True or negated with Not
constexpr const char* kHostObject = "host-object";    // an object of another script host
constexpr const char* kNoMain = "no-main";            // no Sub main for the agent to call
constexpr const char* kRefusedChar = "refused-char";  // a character the engine refuses in code
constexpr const char* kEngineGap = "engine-gap";      // what the platform's engine lacks
constexpr const char* kUndeclared = "undeclared";     // a name no scope declares, under Option Explicit
}  // namespace rule

using Tokens = std::vector<VbToken>;
struct Range {
    std::size_t from = 0, to = 0;   // [from, to) in the statement's tokens
};

// Keywords after which a '.' begins a member of the With object.
bool leadsExpression(const Tokens& t, std::size_t i) {
    if (i == 0) return true;
    const VbToken& p = t[i - 1];
    if (p.kind == VbToken::Symbol) return p.text != L")";
    if (p.kind != VbToken::Name) return false;
    static const wchar_t* const kLeading[] = {L"Call", L"Then", L"Else", L"ElseIf", L"If", L"And", L"Or", L"Not",
                                              L"Xor", L"Eqv", L"Imp", L"Mod", L"Is", L"To", L"Step", L"Until",
                                              L"While", L"Case", L"In", L"Each"};
    return std::any_of(std::begin(kLeading), std::end(kLeading), [&](const wchar_t* k) { return isName(p, k); });
}

// A single-line If carries statements after its Then and its Else.
bool statementStart(const Tokens& t, std::size_t i) {
    return i == 0 || isName(t[i - 1], L"Then") || isName(t[i - 1], L"Else");
}

std::size_t closingParen(const Tokens& t, std::size_t open, std::size_t end) {
    int depth = 0;
    for (std::size_t k = open; k < end; ++k) {
        if (isSymbol(t[k], L"(")) ++depth;
        else if (isSymbol(t[k], L")") && --depth == 0) return k;
    }
    return end;
}

// Arguments separated by commas outside parentheses.
std::vector<Range> split(const Tokens& t, std::size_t from, std::size_t to) {
    std::vector<Range> out;
    if (from >= to) return out;
    int depth = 0;
    std::size_t start = from;
    for (std::size_t k = from; k < to; ++k) {
        if (isSymbol(t[k], L"(")) ++depth;
        else if (isSymbol(t[k], L")")) --depth;
        else if (depth == 0 && isSymbol(t[k], L",")) {
            out.push_back({start, k});
            start = k + 1;
        }
    }
    out.push_back({start, to});
    return out;
}

// The end of a statement's own tokens: a single-line If's Else starts another.
std::size_t statementEnd(const Tokens& t, std::size_t from) {
    int depth = 0;
    for (std::size_t k = from; k < t.size(); ++k) {
        if (isSymbol(t[k], L"(")) ++depth;
        else if (isSymbol(t[k], L")")) --depth;
        else if (depth == 0 && isName(t[k], L"Else")) return k;
    }
    return t.size();
}

std::wstring spelled(const Tokens& t, Range r) {
    std::wstring out;
    for (std::size_t k = r.from; k < r.to; ++k) {
        const VbToken& x = t[k];
        bool tight = x.kind == VbToken::Symbol && (x.text == L"." || x.text == L"(" || x.text == L")" || x.text == L",");
        bool afterTight = k > r.from && t[k - 1].kind == VbToken::Symbol && (t[k - 1].text == L"." || t[k - 1].text == L"(");
        if (k > r.from && !tight && !afterTight) out += L' ';
        if (x.kind == VbToken::String) {
            out += L'"';
            for (wchar_t c : x.text) out += c == L'"' ? std::wstring(L"\"\"") : std::wstring(1, c);
            out += L'"';
        } else if (x.kind == VbToken::Date) {
            out += L"#" + x.text + L"#";
        } else {
            out += x.text;
        }
    }
    return out;
}

// One use of a member of the extension object.
struct ExtCall {
    enum Form { Statement, Called, Value, SetValue, Assigned };
    const VbStatement* statement = nullptr;
    const VbToken* member = nullptr;
    std::size_t start = 0, end = 0;   // the call's tokens in its statement: [object or '.', past its arguments)
    std::wstring object;          // CVEXT, CVFLEXT or the alias, as written
    Form form = Statement;
    std::vector<Range> args;
    bool parenthesised = false;   // a call statement with several arguments in parentheses
};

class Scanner {
public:
    std::vector<ExtCall> scan(const VbText& text) {
        for (const VbStatement& st : text.statements) statement(st);
        return std::move(calls_);
    }

private:
    bool extObject(const VbToken& t) const {
        if (t.kind != VbToken::Name) return false;
        if (isName(t, L"CVEXT") || isName(t, L"CVFLEXT")) return true;
        return std::any_of(aliases_.begin(), aliases_.end(), [&](const std::wstring& a) { return sameName(a, t.text); });
    }

    void forget(const std::wstring& alias) {
        aliases_.erase(std::remove_if(aliases_.begin(), aliases_.end(), [&](const std::wstring& a) { return sameName(a, alias); }),
                       aliases_.end());
    }

    void statement(const VbStatement& st) {
        const Tokens& t = st.tokens;
        if (isName(t[0], L"With")) {
            withs_.push_back(t.size() == 2 && extObject(t[1]) ? t[1].text : std::wstring());
            return;
        }
        if (t.size() >= 2 && isName(t[0], L"End") && isName(t[1], L"With")) {
            if (!withs_.empty()) withs_.pop_back();
            return;
        }
        if (t.size() >= 3 && isName(t[0], L"Set") && t[1].kind == VbToken::Name && isSymbol(t[2], L"=")) {
            if (t.size() == 4 && extObject(t[3])) {
                aliases_.push_back(t[1].text);
                return;
            }
            forget(t[1].text);
        }
        for (std::size_t i = 0; i < t.size(); ++i) {
            std::size_t member = 0;
            std::wstring object;
            if (extObject(t[i]) && (i == 0 || !isSymbol(t[i - 1], L".")) && i + 2 < t.size() && isSymbol(t[i + 1], L".") &&
                t[i + 2].kind == VbToken::Name) {
                member = i + 2;
                object = t[i].text;
            } else if (isSymbol(t[i], L".") && !withs_.empty() && !withs_.back().empty() && i + 1 < t.size() &&
                       t[i + 1].kind == VbToken::Name && leadsExpression(t, i)) {
                member = i + 1;
                object = withs_.back();
            } else {
                continue;
            }
            calls_.push_back(describe(st, i, member, object));
            i = member;
        }
    }

    static ExtCall describe(const VbStatement& st, std::size_t start, std::size_t member, const std::wstring& object) {
        const Tokens& t = st.tokens;
        ExtCall c;
        c.statement = &st;
        c.member = &t[member];
        c.object = object;
        std::size_t j = member + 1, n = t.size();
        bool paren = j < n && isSymbol(t[j], L"(");
        c.start = start;
        c.end = paren ? std::min(closingParen(t, j, n) + 1, n) : j;
        auto inParens = [&] { return split(t, j + 1, closingParen(t, j, n)); };
        if (start == 1 && isName(t[0], L"Call")) {
            c.form = ExtCall::Called;
            if (paren) c.args = inParens();
        } else if (statementStart(t, start) && j < n && isSymbol(t[j], L"=")) {
            c.form = ExtCall::Assigned;
        } else if (statementStart(t, start) && !(j < n && isSymbol(t[j], L"."))) {
            c.form = ExtCall::Statement;
            std::size_t end = statementEnd(t, j);
            if (paren && closingParen(t, j, end) == end - 1) {
                c.args = inParens();
                c.parenthesised = c.args.size() > 1;
            } else {
                c.args = split(t, j, end);
            }
        } else {
            c.form = start == 3 && isName(t[0], L"Set") && isSymbol(t[2], L"=") ? ExtCall::SetValue : ExtCall::Value;
            if (paren) c.args = inParens();
        }
        return c;
    }

    std::vector<std::wstring> aliases_;
    std::vector<std::wstring> withs_;   // the extension object's name, empty for any other With
    std::vector<ExtCall> calls_;
};

std::wstring counted(std::size_t n, const wchar_t* what) {
    return n == 0 ? std::wstring(L"no ") + what + L"s" : std::to_wstring(n) + L" " + what + (n == 1 ? L"" : L"s");
}

std::wstring arity(const Member& m) {
    std::size_t low = m.required(), high = m.params.size();
    if (low == high) return counted(high, L"argument");
    return std::to_wstring(low) + L" to " + std::to_wstring(high) + L" arguments";
}

// What is wrong with one call in the terms of the type library; empty when
// the call matches it.
std::wstring callProblem(const ExtCall& c, const Members& members, bool& error) {
    std::wstring who = c.object + L"." + c.member->text;
    const Member* m = findMember(members, c.member->text);
    error = true;
    if (!m) {
        std::wstring text = c.object + L" has no member " + c.member->text;
        std::vector<std::wstring> similar = nearestNames(members, c.member->text);
        for (std::size_t i = 0; i < similar.size(); ++i)
            text += (i == 0 ? L"; did you mean " : i + 1 == similar.size() ? L" or " : L", ") + similar[i];
        return similar.empty() ? text : text + L"?";
    }
    if (c.form == ExtCall::Assigned)
        return who + L" is a method and cannot be assigned a value: " + m->signature();
    if (c.parenthesised)
        return L"a call statement cannot put its arguments in parentheses; the engine refuses the script "
               L"(\"Syntax error\"): write " + who + L" a, b or Call " + who + L"(a, b)";
    std::size_t given = c.args.size();
    if (given < m->required() || given > m->params.size())
        return who + L" takes " + arity(*m) + L", given " + std::to_wstring(given) + L": " + m->signature();
    if (c.form == ExtCall::SetValue && m->returns != L"Variant")
        return L"Set needs an object, and " + who + L" returns " + (m->returns.empty() ? L"nothing" : L"a " + m->returns);
    error = false;
    if (c.form == ExtCall::Value && m->returns.empty()) return who + L" returns no value: the expression is Empty";
    return {};
}

// Methods whose contract is to do nothing, which no type library says.
struct ContractNote {
    const wchar_t* member;
    const wchar_t* note;
};
const ContractNote kNotes[] = {
    {L"GetObjList", L"always returns an empty text; GetObjItemCnt and GetObjItem read the agent's object lists"},
    {L"GetParameter", L"always returns Empty; the extension object keeps no parameters"},
};

// Names a script declares, which hide a built-in of the same name.
struct Declarations {
    std::set<std::wstring> names;        // upper case
    std::set<std::wstring> emptyArrays;  // declared as `Dim a()`
    std::map<std::wstring, Tokens> constants;

    bool has(const std::wstring& name) const { return names.count(upper(name)) != 0; }
};


bool procedureEnd(const Tokens& t) {
    return t.size() >= 2 && isName(t[0], L"End") &&
           (isName(t[1], L"Sub") || isName(t[1], L"Function") || isName(t[1], L"Property"));
}

Declarations declarations(const VbText& text) {
    Declarations d;
    for (const VbStatement& st : text.statements) {
        const Tokens& t = st.tokens;
        std::size_t nameAt = 0;
        if (procedureStart(t, nameAt, true)) {
            d.names.insert(upper(t[nameAt].text));
            for (std::size_t k = nameAt + 1; k < t.size(); ++k)
                if (t[k].kind == VbToken::Name && !isName(t[k], L"ByVal") && !isName(t[k], L"ByRef") && !isName(t[k], L"Optional"))
                    d.names.insert(upper(t[k].text));
            continue;
        }
        std::size_t i = afterModifiers(t);
        bool constant = i < t.size() && isName(t[i], L"Const");
        bool dim = i < t.size() && isName(t[i], L"Dim");
        if (constant || dim) ++i;
        else if (i == 0) continue;   // Public or Private alone declares variables
        for (const Range& part : split(t, i, t.size())) {
            if (part.from >= part.to || t[part.from].kind != VbToken::Name) continue;
            const VbToken& name = t[part.from];
            d.names.insert(upper(name.text));
            if (constant && part.to - part.from >= 3 && isSymbol(t[part.from + 1], L"="))
                d.constants[upper(name.text)] = Tokens(t.begin() + part.from + 2, t.begin() + part.to);
            if (!constant && part.to - part.from == 3 && isSymbol(t[part.from + 1], L"(") && isSymbol(t[part.from + 2], L")"))
                d.emptyArrays.insert(upper(name.text));
        }
    }
    return d;
}

// A stream id that the data-stream methods cannot use as the script meant:
// no integer (VT_I2, VT_I4) and no name (VT_BSTR).
std::wstring streamIdProblem(const Tokens& t, Range r, const Declarations& d, const std::wstring& method, int depth = 0) {
    if (r.from >= r.to) return {};
    std::wstring shown = spelled(t, r);
    std::wstring refused = L"stream id " + shown + L" is %s, which " + method +
                           L" refuses without a core call; it takes an integer (CLng(...)) or a stream name";
    auto refuse = [&](const wchar_t* kind) {
        std::wstring s = refused;
        return s.replace(s.find(L"%s"), 2, kind);
    };
    if (r.to - r.from == 1) {
        const VbToken& x = t[r.from];
        if (x.kind == VbToken::Number && x.text[0] != L'&' && x.text.find_first_of(L".eE") != std::wstring::npos)
            return refuse(L"a Double");
        if (x.kind == VbToken::Date) return refuse(L"a Date");
        if (x.kind == VbToken::String && !x.text.empty() &&
            std::all_of(x.text.begin(), x.text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
            return L"stream id " + shown + L" is a text, so " + method + L" logs to the stream named \"" + x.text +
                   L"\", not to stream " + x.text + L"; write " + x.text + L" for the numbered stream";
        if (isName(x, L"True") || isName(x, L"False")) return refuse(L"a Boolean");
        if (isName(x, L"Empty") || isName(x, L"Null") || isName(x, L"Nothing")) return refuse(x.text.c_str());
        auto c = d.constants.find(upper(x.text));
        if (x.kind == VbToken::Name && c != d.constants.end() && depth == 0) {
            std::wstring inner = streamIdProblem(c->second, Range{0, c->second.size()}, d, method, 1);
            return inner.empty() ? inner : inner + L" (the value of " + x.text + L")";
        }
        return {};
    }
    int level = 0;
    for (std::size_t k = r.from; k < r.to; ++k) {
        if (isSymbol(t[k], L"(")) ++level;
        else if (isSymbol(t[k], L")")) --level;
        else if (level == 0 && isSymbol(t[k], L"/")) return refuse(L"a Double (/ always divides into a Double)");
    }
    // ^ always gives a Double, and + - * do when one operand is a Double.
    auto arithmetic = [&](const VbToken& x) {
        return isSymbol(x, L"+") || isSymbol(x, L"-") || isSymbol(x, L"*") || isSymbol(x, L"^");
    };
    std::vector<Range> operands;
    level = 0;
    std::size_t operand = r.from;
    for (std::size_t k = r.from; k < r.to; ++k) {
        if (isSymbol(t[k], L"(")) ++level;
        else if (isSymbol(t[k], L")")) --level;
        else if (level == 0 && k > r.from && arithmetic(t[k])) {
            if (isSymbol(t[k], L"^")) return refuse(L"a Double (^ always gives a Double)");
            if (operand < k) operands.push_back({operand, k});
            operand = k + 1;
        }
    }
    if (!operands.empty()) {
        operands.push_back({operand, r.to});
        for (const Range& o : operands)
            if (streamIdProblem(t, o, d, method, depth).find(L"is a Double") != std::wstring::npos)
                return refuse(L"a Double (arithmetic with a Double gives a Double)");
    }
    struct Conversion { const wchar_t* name; const wchar_t* kind; };
    static const Conversion kConversions[] = {
        {L"CDbl", L"a Double"}, {L"CSng", L"a Single"}, {L"Rnd", L"a Single"}, {L"Sqr", L"a Double"},
        {L"CBool", L"a Boolean"}, {L"CByte", L"a Byte"}, {L"CCur", L"a Currency"}, {L"CDate", L"a Date"},
        {L"Int", L"a Double (Int, Fix and Round keep the Double they are given)"},
        {L"Fix", L"a Double (Int, Fix and Round keep the Double they are given)"},
        {L"Round", L"a Double (Int, Fix and Round keep the Double they are given)"},
    };
    const VbToken& first = t[r.from];
    if (first.kind == VbToken::Name && r.from + 1 < r.to && isSymbol(t[r.from + 1], L"(") &&
        closingParen(t, r.from + 1, r.to) == r.to - 1)
        for (const Conversion& conv : kConversions)
            if (isName(first, conv.name)) return refuse(conv.kind);
    return {};
}

void add(std::vector<Finding>& out, const VbToken& at, bool error, const std::wstring& message, const char* rule = "") {
    out.push_back(Finding{at.line, at.column, error, utf8(message), error ? "" : rule});
}

// A flag result carries the core's integer unchanged: 1 for yes, which is
// not True (-1), so `= True` never holds and `Not` of it is -2, still true.
void checkFlagResult(const ExtCall& c, const Member& m, std::vector<Finding>& out) {
    if (m.returns != L"Boolean" || c.form != ExtCall::Value) return;
    const Tokens& t = c.statement->tokens;
    std::wstring who = c.object + L"." + m.name;
    auto comparison = [&](std::size_t op, std::size_t value) {
        return op < t.size() && value < t.size() && (isSymbol(t[op], L"=") || isSymbol(t[op], L"<>")) && isName(t[value], L"True");
    };
    if (c.start > 0 && isName(t[c.start - 1], L"Not"))
        add(out, t[c.start - 1], false,
            L"Not " + who + L"(...) is always true: its flag result is 1 for yes, not True, and Not 1 is -2; "
            L"write " + who + L"(...) = 0", rule::kFlagResult);
    else if (comparison(c.end, c.end + 1) || (c.start >= 2 && comparison(c.start - 1, c.start - 2)))
        add(out, *c.member, false,
            who + L" compared with True: its flag result is 1 for yes, not True, so = True never holds and "
                  L"<> True always does; compare it with 0",
            rule::kFlagResult);
}

void checkCalls(const std::vector<ExtCall>& calls, const Members& members, const Declarations& d,
                std::vector<Finding>& out) {
    for (const ExtCall& c : calls) {
        bool error = false;
        std::wstring problem = callProblem(c, members, error);
        if (!problem.empty()) add(out, *c.member, error, problem, rule::kNoValue);
        const Member* m = findMember(members, c.member->text);
        if (!m || error) continue;
        for (const ContractNote& note : kNotes)
            if (sameName(m->name, note.member))
                add(out, *c.member, false, c.object + L"." + m->name + L" " + note.note, rule::kContract);
        checkFlagResult(c, *m, out);
        const Tokens& t = c.statement->tokens;
        for (std::size_t p = 0; p < m->params.size() && p < c.args.size(); ++p) {
            if (!sameName(m->params[p].name, L"stream_id")) continue;
            std::wstring problem = streamIdProblem(t, c.args[p], d, c.object + L"." + m->name);
            if (!problem.empty()) add(out, t[c.args[p].from], false, problem, rule::kStreamId);
        }
    }
}

const EngineGap* gapOf(EngineGap::Kind kind) {
    for (const EngineGap& g : engineGaps())
        if (g.kind == kind) return &g;
    return nullptr;
}

void checkGaps(const VbText& text, const Declarations& d, std::vector<Finding>& out) {
    auto warn = [&](const VbToken& at, const std::wstring& what, const EngineGap& gap) {
        out.push_back(Finding{at.line, at.column, false, utf8(what) + ": " + gap.effect, rule::kEngineGap});
    };
    const EngineGap* emptyDim = gapOf(EngineGap::ReDimOfEmptyDim);
    const EngineGap* undeclared = gapOf(EngineGap::ReDimUndeclared);
    const EngineGap* longProcedure = gapOf(EngineGap::LongProcedure);
    const VbToken* procedure = nullptr;
    std::set<unsigned> procedureLines;
    struct Nesting {
        const EngineGap* gap;
        unsigned depth = 0;
    };
    std::vector<Nesting> nestings;
    for (const EngineGap& g : engineGaps())
        if (g.kind == EngineGap::DeepNesting) nestings.push_back({&g});
    for (const VbStatement& st : text.statements) {
        const Tokens& t = st.tokens;
        for (Nesting& n : nestings) {
            bool opens = isName(t[0], n.gap->name) && (!isName(t[0], L"If") || isName(t.back(), L"Then"));
            if (t.size() >= 2 && isName(t[0], L"End") && isName(t[1], n.gap->name) && n.depth > 0) --n.depth;
            if (!opens) continue;
            // Past the limit once per run of deep blocks; the procedure counts as a level.
            if (++n.depth + (procedure ? 1 : 0) == n.gap->limit + 1)
                warn(t[0], std::wstring(n.gap->name) + L" nested " + std::to_wstring(n.depth) + L" deep", *n.gap);
        }
        for (std::size_t k = 0; k < t.size(); ++k) {
            if (t[k].kind != VbToken::Name || (k > 0 && isSymbol(t[k - 1], L".")) || d.has(t[k].text)) continue;
            for (const EngineGap& g : engineGaps())
                if (g.kind == EngineGap::MissingBuiltin && sameName(t[k].text, g.name)) warn(t[k], g.name, g);
        }
        if (isName(t[0], L"ReDim") && t.size() > 1 && !isName(t[1], L"Preserve")) {
            for (const Range& part : split(t, 1, t.size())) {
                if (part.from >= part.to || t[part.from].kind != VbToken::Name) continue;
                const VbToken& name = t[part.from];
                if (emptyDim && d.emptyArrays.count(upper(name.text)))
                    warn(name, L"ReDim " + name.text + L" after Dim " + name.text + L"()", *emptyDim);
                else if (undeclared && !d.has(name.text))
                    warn(name, L"ReDim " + name.text + L" without Dim " + name.text, *undeclared);
            }
        }
        std::size_t nameAt = 0;
        if (procedureStart(t, nameAt, true) && !isName(t[afterModifiers(t)], L"Class")) {
            procedure = &t[nameAt];
            procedureLines.clear();
        } else if (procedure && procedureEnd(t)) {
            // Within a hundred lines of what the engine refused.
            if (longProcedure && procedureLines.size() + 100 >= longProcedure->limit)
                warn(*procedure, procedure->text + L" has " + std::to_wstring(procedureLines.size()) + L" lines of statements",
                     *longProcedure);
            procedure = nullptr;
        } else if (procedure) {
            procedureLines.insert(t[0].line);
        }
    }
    if (const EngineGap* cr = gapOf(EngineGap::BareCrLines); cr && !text.bareCrLines.empty()) {
        VbToken at;
        at.line = text.bareCrLines.front();
        at.column = 1;
        warn(at, L"line " + std::to_wstring(at.line) + L" ends in a CR alone", *cr);
    }
}

// Objects that other script hosts give their scripts and this one does not:
// a script that uses one fails there with "Call failed.".
const wchar_t* const kOtherHostsObjects[] = {L"WScript", L"WSH", L"Request", L"Response", L"Server",
                                             L"Session", L"Window", L"Document"};

bool otherHostsObject(const VbToken& t) {
    return std::any_of(std::begin(kOtherHostsObjects), std::end(kOtherHostsObjects),
                       [&](const wchar_t* name) { return isName(t, name); });
}

void checkHostAndMain(const VbText& text, const Declarations& d, std::vector<Finding>& out) {
    bool main = false, inClass = false;   // a class's main is no main of the script
    for (const VbStatement& st : text.statements) {
        const Tokens& t = st.tokens;
        std::size_t i = afterModifiers(t);
        if (i < t.size() && isName(t[i], L"Class")) inClass = true;
        else if (t.size() >= 2 && isName(t[0], L"End") && isName(t[1], L"Class")) inClass = false;
        else if (!inClass && i + 1 < t.size() && (isName(t[i], L"Sub") || isName(t[i], L"Function")) && isName(t[i + 1], L"main"))
            main = true;
        for (std::size_t k = 0; k + 1 < t.size(); ++k) {
            if (t[k].kind != VbToken::Name || !isSymbol(t[k + 1], L".") || (k > 0 && isSymbol(t[k - 1], L".")) ||
                d.has(t[k].text))
                continue;
            if (otherHostsObject(t[k]))
                add(out, t[k], false,
                    t[k].text + L" is an object of another script host, not of this one: using it fails with "
                                L"\"Call failed.\"" +
                        (isName(t[k], L"WScript") ? L"; CVEXT.ZTrace writes a line to the trace" : L""),
                    rule::kHostObject);
        }
    }
    if (!main) {
        VbToken at;
        at.line = at.column = 1;
        add(out, at, false, L"the script has no Sub main, which the agent calls on every run", rule::kNoMain);
    }
}

// Characters that the tokenizer reads as blanks but the engine refuses
// outside strings (a no-break space, other Unicode spaces), and control
// characters, after which the engine compiles nothing (Ctrl-Z ends the text
// even in a string or a comment).
const wchar_t* refusedCharacter(wchar_t c) {
    switch (c) {
    case 0x00A0: return L"a no-break space (U+00A0)";
    case 0x1A: return L"a Ctrl-Z (U+001A)";
    case 0x0B: return L"a vertical tab (U+000B)";
    case 0x0C: return L"a form feed (U+000C)";
    case 0x00: return L"a NUL (U+0000)";
    case 0x3000: return L"an ideographic space (U+3000)";
    case 0xFEFF: return L"a byte order mark (U+FEFF)";
    default: break;
    }
    if (c >= 0x2000 && c <= 0x200B) return L"a Unicode space (U+2000 to U+200B)";
    if (c < 0x20 && c != L'\t' && c != L'\r' && c != L'\n') return L"a control character";
    return nullptr;
}

void checkCharacters(const std::wstring& text, std::vector<Finding>& out) {
    unsigned line = 1, column = 1;
    bool inString = false, inComment = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            ++line;
            column = 1;
            inString = inComment = false;
            continue;
        }
        if (!inComment && c == L'"') inString = !inString;
        else if (!inString && c == L'\'') inComment = true;
        // Leading byte-order marks are the host's to step over.
        const wchar_t* what = c == 0xFEFF && text.find_first_not_of(L'\xFEFF') > i ? nullptr : refusedCharacter(c);
        bool code = !inString && !inComment;
        if (what && (code || c == 0x1A)) {
            VbToken at;
            at.line = line;
            at.column = column;
            add(out, at, false,
                std::wstring(what) + L" in the script's " + (code ? L"code" : L"text") +
                    L": the engine refuses it (\"Invalid character\") or compiles nothing after it",
                rule::kRefusedChar);
        }
        ++column;
    }
}

}  // namespace

std::vector<Finding> checkScript(const std::wstring& text, const Members& members) {
    VbText tokens = tokenize(text);
    Declarations d = declarations(tokens);
    std::vector<Finding> out;
    EngineVerdict engine = compileInEngine(text);
    if (tokens.openStringLine)
        out.push_back(Finding{tokens.openStringLine, tokens.openStringColumn, true,
                              "the string is not closed on its line; the engine refuses the script"});
    checkCalls(Scanner().scan(tokens), members, d, out);
    checkGaps(tokens, d, out);
    checkHostAndMain(tokens, d, out);
    if (const EngineGap* gap = gapOf(EngineGap::Undeclared))
        for (const VbToken* x : undeclaredNames(tokens))
            if (!otherHostsObject(*x))   // the host-object rule says more of it
                out.push_back(Finding{x->line, x->column, false, utf8(x->text) + " is not declared: " + gap->effect,
                                      rule::kUndeclared});
    checkCharacters(text, out);
    Silenced silenced = silencedRules(text);
    out.erase(std::remove_if(out.begin(), out.end(), [&](const Finding& f) { return silenced.silences(f.rule, f.line); }),
              out.end());
    std::stable_sort(out.begin(), out.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    if (engine.refused)
        out.insert(out.begin(), Finding{engine.line, engine.column, true,
                                        "the engine refuses the script: " + utf8(engine.text)});
    return out;
}

std::string findingLine(const std::wstring& file, const Finding& f) {
    return utf8(file) + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ": " +
           (f.error ? "error: " : "warning: ") + f.message + (*f.rule ? std::string(" [") + f.rule + "]" : std::string()) +
           "\n";
}

std::string explainMemberError(const std::wstring& text, unsigned line, const Members& members) {
    VbText tokens = tokenize(text);
    // Only a call that the type library refuses can be the member the engine
    // failed on: one that fits it was found, and the failure is elsewhere on
    // the line (another object's member, an undeclared name).
    std::wstring out;
    for (const ExtCall& c : Scanner().scan(tokens)) {
        const Tokens& t = c.statement->tokens;
        if (line < t.front().line || line > t.back().line) continue;
        bool error = false;
        std::wstring problem = callProblem(c, members, error);
        if (error) out += (out.empty() ? L"" : L"; ") + problem;
    }
    return utf8(out);
}

int checkFiles(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& texts) {
    std::wstring why;
    const Members& members = serverMembers(&why);
    if (members.empty()) {
        std::string line = "ztolvera-run: " + utf8(why) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        return 1;
    }
    bool errors = false;
    for (std::size_t i = 0; i < paths.size() && i < texts.size(); ++i)
        for (const Finding& f : checkScript(texts[i], members)) {
            std::string line = findingLine(paths[i], f);
            std::fwrite(line.data(), 1, line.size(), stdout);
            errors |= f.error;
        }
    std::fflush(stdout);
    return errors ? 1 : 0;
}

std::vector<std::string> findingsBeforeRun(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& texts) {
    std::vector<std::string> out;
    const Members& members = serverMembers();
    if (members.empty()) return out;
    for (std::size_t i = 0; i < paths.size() && i < texts.size(); ++i)
        for (const Finding& f : checkScript(texts[i], members)) out.push_back(findingLine(paths[i], f));
    return out;
}
