// A VBScript tokenizer for the checker: the script's text as statements of
// tokens, each token with the line and column an editor shows. Comments
// (' and Rem) are dropped, `_` continuations join lines into one statement,
// `:` and line ends separate statements, strings keep their doubled quotes
// undone.
#pragma once

#include <string>
#include <vector>

struct VbToken {
    enum Kind { Name, Number, String, Date, Symbol };
    Kind kind = Symbol;
    std::wstring text;      // a Name as written, a String's content, a Symbol's characters
    unsigned line = 0;      // 1-based, CR, LF and CR LF each ending a line
    unsigned column = 0;    // 1-based, in UTF-16 units
};

struct VbStatement {
    std::vector<VbToken> tokens;
};

struct VbText {
    std::vector<VbStatement> statements;
    // Lines that end in a CR alone, which the platform's engine does not
    // count as line ends.
    std::vector<unsigned> bareCrLines;
    // A string left open at its line's end: the engine refuses the text.
    unsigned openStringLine = 0, openStringColumn = 0;
};

VbText tokenize(const std::wstring& text);

// ASCII letters compared without case, as VBScript compares names.
bool sameName(const std::wstring& a, const std::wstring& b);
bool isName(const VbToken& t, const wchar_t* name);
bool isSymbol(const VbToken& t, const wchar_t* symbol);
// Where a statement's words begin after Public, Private and Default.
std::size_t afterModifiers(const std::vector<VbToken>& statement);
// Whether the statement opens a Sub, Function or Property Get/Let/Set (and,
// with `classes`, a Class), and where its name stands.
bool procedureStart(const std::vector<VbToken>& statement, std::size_t& nameAt, bool classes);
