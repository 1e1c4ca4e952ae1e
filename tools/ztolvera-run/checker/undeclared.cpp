#include "undeclared.h"

#include <set>
#include <string>

namespace {

std::wstring upper(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return s;
}

// The language's words, its functions and constants, and the host's named
// items: names no script declares. The functions missing from the
// platform's engine are here too (the engine-gap rule speaks of them).
const wchar_t* const kKnown[] = {
    // statements and operators
    L"And", L"ByRef", L"ByVal", L"Call", L"Case", L"Class", L"Const", L"Default", L"Dim", L"Do", L"Each", L"Else",
    L"ElseIf", L"End", L"Eqv", L"Erase", L"Error", L"Exit", L"Explicit", L"For", L"Function", L"Get", L"GoTo", L"If",
    L"Imp", L"In", L"Is", L"Let", L"Loop", L"Mod", L"New", L"Next", L"Not", L"On", L"Option", L"Optional", L"Or",
    L"Preserve", L"Private", L"Property", L"Public", L"Randomize", L"ReDim", L"Resume", L"Select", L"Set", L"Step",
    L"Stop", L"Sub", L"Then", L"To", L"Until", L"Wend", L"While", L"With", L"Xor",
    // values and objects
    L"True", L"False", L"Empty", L"Null", L"Nothing", L"Me", L"Err", L"RegExp",
    L"CVEXT", L"CVFLEXT", L"CVWINEXT", L"CVWIN32EXT",
    // functions
    L"Abs", L"Array", L"Asc", L"AscB", L"AscW", L"Atn", L"CBool", L"CByte", L"CCur", L"CDate", L"CDbl", L"Chr",
    L"ChrB", L"ChrW", L"CInt", L"CLng", L"Cos", L"CreateObject", L"CSng", L"CStr", L"Date", L"DateAdd", L"DateDiff",
    L"DatePart", L"DateSerial", L"DateValue", L"Day", L"Escape", L"Eval", L"Execute", L"ExecuteGlobal", L"Exp",
    L"Filter", L"Fix", L"FormatCurrency", L"FormatDateTime", L"FormatNumber", L"FormatPercent", L"GetLocale",
    L"GetObject", L"GetRef", L"Hex", L"Hour", L"InputBox", L"InStr", L"InStrB", L"InStrRev", L"Int", L"IsArray",
    L"IsDate", L"IsEmpty", L"IsNull", L"IsNumeric", L"IsObject", L"Join", L"LBound", L"LCase", L"Left", L"LeftB",
    L"Len", L"LenB", L"LoadPicture", L"Log", L"LTrim", L"Mid", L"MidB", L"Minute", L"Month", L"MonthName", L"MsgBox",
    L"Now", L"Oct", L"Replace", L"RGB", L"Right", L"RightB", L"Rnd", L"Round", L"RTrim", L"ScriptEngine",
    L"ScriptEngineBuildVersion", L"ScriptEngineMajorVersion", L"ScriptEngineMinorVersion", L"Second", L"SetLocale",
    L"Sgn", L"Sin", L"Space", L"Split", L"Sqr", L"StrComp", L"String", L"StrReverse", L"Tan", L"Time", L"Timer",
    L"TimeSerial", L"TimeValue", L"Trim", L"TypeName", L"UBound", L"UCase", L"Unescape", L"VarType", L"Weekday",
    L"WeekdayName", L"Year",
};

bool known(const VbToken& t) {
    // The vb... constants (vbCrLf, vbTextCompare, vbObjectError, ...).
    if (t.text.size() > 2 && (t.text[0] == L'v' || t.text[0] == L'V') && (t.text[1] == L'b' || t.text[1] == L'B'))
        return true;
    for (const wchar_t* k : kKnown)
        if (isName(t, k)) return true;
    return false;
}

using Names = std::set<std::wstring>;   // upper case
using Tokens = std::vector<VbToken>;


bool endOf(const Tokens& t, const wchar_t* what) { return t.size() >= 2 && isName(t[0], L"End") && isName(t[1], what); }

bool classStart(const Tokens& t) {
    std::size_t i = afterModifiers(t);
    return i + 1 < t.size() && isName(t[i], L"Class") && t[i + 1].kind == VbToken::Name;
}

// The names a Dim, Const, Public or Private statement declares.
bool declared(const Tokens& t, Names& into) {
    std::size_t i = afterModifiers(t);
    bool keyword = i < t.size() && (isName(t[i], L"Dim") || isName(t[i], L"Const"));
    if (!keyword && i == 0) return false;
    if (keyword) ++i;
    int depth = 0;
    bool first = true;
    for (; i < t.size(); ++i) {
        if (isSymbol(t[i], L"(")) ++depth;
        else if (isSymbol(t[i], L")")) --depth;
        else if (depth == 0 && isSymbol(t[i], L",")) first = true;
        else if (first && t[i].kind == VbToken::Name) {
            into.insert(upper(t[i].text));
            first = false;
        } else {
            first = false;
        }
    }
    return true;
}

struct Scope {
    Names names;
    std::size_t klass = 0;   // 1-based index of the class it belongs to, 0 for none
};

}  // namespace

std::vector<const VbToken*> undeclaredNames(const VbText& text) {
    std::vector<const VbToken*> out;
    bool explicitOn = false;
    for (const VbStatement& st : text.statements)
        if (st.tokens.size() >= 2 && isName(st.tokens[0], L"Option") && isName(st.tokens[1], L"Explicit")) explicitOn = true;
    if (!explicitOn) return out;

    // First what each scope declares; statements map to their scope.
    Names globals;
    std::vector<Names> classes;
    std::vector<Scope> procedures;
    std::vector<int> scopeOf(text.statements.size(), -1);   // index into procedures, -1 for global or class level
    std::vector<std::size_t> classOf(text.statements.size(), 0);
    std::size_t klass = 0;
    int procedure = -1;
    for (std::size_t s = 0; s < text.statements.size(); ++s) {
        const Tokens& t = text.statements[s].tokens;
        std::size_t nameAt = 0;
        if (procedure < 0 && classStart(t)) {
            globals.insert(upper(t[afterModifiers(t) + 1].text));
            classes.emplace_back();
            klass = classes.size();
        } else if (procedure < 0 && endOf(t, L"Class")) {
            klass = 0;
        } else if (procedure < 0 && procedureStart(t, nameAt, false)) {
            (klass ? classes[klass - 1] : globals).insert(upper(t[nameAt].text));
            Scope scope;
            scope.klass = klass;
            scope.names.insert(upper(t[nameAt].text));   // a Function's result
            for (std::size_t k = nameAt + 1; k < t.size(); ++k)
                if (t[k].kind == VbToken::Name && !isName(t[k], L"ByVal") && !isName(t[k], L"ByRef") && !isName(t[k], L"Optional"))
                    scope.names.insert(upper(t[k].text));
            procedures.push_back(scope);
            procedure = static_cast<int>(procedures.size()) - 1;
            scopeOf[s] = -2;   // the procedure's own line declares, uses nothing
            continue;
        } else if (procedure >= 0 && (endOf(t, L"Sub") || endOf(t, L"Function") || endOf(t, L"Property"))) {
            procedure = -1;
            scopeOf[s] = -2;
            continue;
        } else {
            declared(t, procedure >= 0 ? procedures[procedure].names : klass ? classes[klass - 1] : globals);
        }
        scopeOf[s] = procedure;
        classOf[s] = klass;
    }

    // Then every use against its scopes, each name reported once per scope.
    std::set<std::pair<int, std::wstring>> reported;
    for (std::size_t s = 0; s < text.statements.size(); ++s) {
        if (scopeOf[s] == -2) continue;
        const Tokens& t = text.statements[s].tokens;
        const Scope* scope = scopeOf[s] >= 0 ? &procedures[scopeOf[s]] : nullptr;
        std::size_t inClass = scope ? scope->klass : classOf[s];
        if (!scope && inClass) continue;   // a class's own level only declares
        for (std::size_t k = 0; k < t.size(); ++k) {
            const VbToken& x = t[k];
            if (x.kind != VbToken::Name || (k > 0 && isSymbol(t[k - 1], L".")) || known(x)) continue;
            std::wstring name = upper(x.text);
            if ((scope && scope->names.count(name)) || (inClass && classes[inClass - 1].count(name)) || globals.count(name))
                continue;
            if (reported.insert({scopeOf[s], name}).second) out.push_back(&x);
        }
    }
    return out;
}
