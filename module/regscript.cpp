#include "regscript.h"

#include <array>

namespace {

// Replacement names are shorter than this.
constexpr std::size_t kMaxReplacementName = 32;

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; }

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

std::size_t LineAt(std::u16string_view text, std::size_t offset)
{
    std::size_t line = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i)
        if (text[i] == u'\n')
            ++line;
    return line;
}

RegScriptStatus Fail(RegScriptError error, std::u16string_view text, std::size_t offset)
{
    return {error, offset, LineAt(text, offset)};
}

struct RootName {
    std::u16string_view shortName;
    std::u16string_view longName;
    RegRootKey root;
};

constexpr std::array<RootName, 7> kRootNames{{
    {u"HKCR", u"HKEY_CLASSES_ROOT", RegRootKey::ClassesRoot},
    {u"HKCU", u"HKEY_CURRENT_USER", RegRootKey::CurrentUser},
    {u"HKLM", u"HKEY_LOCAL_MACHINE", RegRootKey::LocalMachine},
    {u"HKU", u"HKEY_USERS", RegRootKey::Users},
    {u"HKPD", u"HKEY_PERFORMANCE_DATA", RegRootKey::PerformanceData},
    {u"HKDD", u"HKEY_DYN_DATA", RegRootKey::DynData},
    {u"HKCC", u"HKEY_CURRENT_CONFIG", RegRootKey::CurrentConfig},
}};

struct ModifierName {
    std::u16string_view name;
    RegModifier modifier;
};

constexpr std::array<ModifierName, 3> kModifiers{{
    {u"ForceRemove", RegModifier::ForceRemove},
    {u"NoRemove", RegModifier::NoRemove},
    {u"Delete", RegModifier::Delete},
}};

constexpr std::u16string_view kValKeyword = u"Val";

struct TypeLetter {
    char16_t letter;
    RegValueType type;
};

constexpr std::array<TypeLetter, 4> kTypeLetters{{
    {u's', RegValueType::String},
    {u'm', RegValueType::MultiString},
    {u'd', RegValueType::Number},
    {u'b', RegValueType::Binary},
}};

enum class TokenKind { End, Word, Quoted, OpenBrace, CloseBrace, Equals };

struct Token {
    TokenKind kind = TokenKind::End;
    std::u16string text;  // Word: as written; Quoted: with '' turned into '
    std::size_t offset = 0;
};

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

// Tokens are separated by white space, except that a quoted string ends at
// its closing quote. A brace or equals sign is punctuation only when it
// stands alone, so a bare class identifier such as {...} stays one word.
class Lexer {
public:
    explicit Lexer(std::u16string_view text) : text_(text) {}

    RegScriptStatus Next(Token& token)
    {
        while (pos_ < text_.size() && IsSpace(text_[pos_]))
            ++pos_;
        token.text.clear();
        token.offset = pos_;
        if (pos_ == text_.size()) {
            token.kind = TokenKind::End;
            return {};
        }
        if (text_[pos_] == u'\'')
            return Quoted(token);
        std::size_t start = pos_;
        while (pos_ < text_.size() && !IsSpace(text_[pos_]))
            ++pos_;
        token.text.assign(text_.substr(start, pos_ - start));
        token.kind = token.text == u"{"   ? TokenKind::OpenBrace
                     : token.text == u"}" ? TokenKind::CloseBrace
                     : token.text == u"=" ? TokenKind::Equals
                                          : TokenKind::Word;
        return {};
    }

    std::u16string_view text() const { return text_; }

private:
    RegScriptStatus Quoted(Token& token)
    {
        token.kind = TokenKind::Quoted;
        for (++pos_; pos_ < text_.size(); ++pos_) {
            if (text_[pos_] != u'\'') {
                token.text.push_back(text_[pos_]);
            } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\'') {
                token.text.push_back(u'\'');
                ++pos_;
            } else {
                ++pos_;
                return {};
            }
        }
        return Fail(RegScriptError::UnterminatedString, text_, token.offset);
    }

    std::u16string_view text_;
    std::size_t pos_ = 0;
};

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool ParseNumber(std::u16string_view text, std::uint32_t& number)
{
    std::uint64_t value = 0;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        text.remove_prefix(2);
        if (text.size() > 8)
            return false;
        for (char16_t c : text) {
            int digit = HexDigit(c);
            if (digit < 0)
                return false;
            value = value * 16 + unsigned(digit);
        }
    } else {
        if (text.empty() || text.size() > 10)
            return false;
        for (char16_t c : text) {
            if (c < u'0' || c > u'9')
                return false;
            value = value * 10 + unsigned(c - u'0');
        }
        if (value > 0xFFFFFFFFu)
            return false;
    }
    number = std::uint32_t(value);
    return true;
}

bool ParseBinary(std::u16string_view text, std::vector<std::uint8_t>& bytes)
{
    if (text.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = HexDigit(text[i]);
        int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(std::uint8_t(high * 16 + low));
    }
    return true;
}

// Each part of a multi-string ends with a NUL; the writer adds the final one.
std::u16string SplitMultiString(std::u16string_view text)
{
    std::u16string parts;
    if (text.empty())
        return parts;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == u'0') {
            parts.push_back(u'\0');
            ++i;
        } else {
            parts.push_back(text[i]);
        }
    }
    parts.push_back(u'\0');
    return parts;
}

// A name becomes one key or value name in a registry call that reads up to
// the first NUL, and a backslash would make it a path.
bool IsUsableName(std::u16string_view name)
{
    return !name.empty() && name.find(u'\\') == std::u16string_view::npos && name.find(u'\0') == std::u16string_view::npos;
}

class Parser {
public:
    explicit Parser(std::u16string_view text) : lexer_(text) {}

    RegScriptStatus Script(RegScript& script)
    {
        if (auto status = Advance(); !status.ok())
            return status;
        while (token_.kind != TokenKind::End) {
            RegRootBlock block;
            if (auto status = RootBlock(block); !status.ok())
                return status;
            script.roots.push_back(std::move(block));
        }
        return {};
    }

private:
    RegScriptStatus Advance() { return lexer_.Next(token_); }

    RegScriptStatus Error(RegScriptError error) const
    {
        if (token_.kind == TokenKind::End && error != RegScriptError::ExpectedRootKey)
            error = RegScriptError::UnexpectedEnd;
        return Fail(error, lexer_.text(), token_.offset);
    }

    bool AtWord(std::u16string_view word) const
    {
        return token_.kind == TokenKind::Word && SameIgnoringCase(token_.text, word);
    }

    RegScriptStatus RootBlock(RegRootBlock& block)
    {
        const RootName* found = nullptr;
        for (const RootName& name : kRootNames)
            if (AtWord(name.shortName) || AtWord(name.longName))
                found = &name;
        if (!found)
            return Error(RegScriptError::ExpectedRootKey);
        block.root = found->root;
        if (auto status = Advance(); !status.ok())
            return status;
        return Block(block.keys, nullptr, 0);
    }

    // '{' then keys (and, below a key, Val entries) up to the matching '}'.
    // values is null for a root block, which holds keys only.
    RegScriptStatus Block(std::vector<RegKey>& keys, std::vector<RegNamedValue>* values, std::size_t depth)
    {
        if (token_.kind != TokenKind::OpenBrace)
            return Error(RegScriptError::ExpectedOpenBrace);
        if (depth > kRegMaxDepth)
            return Error(RegScriptError::NestingTooDeep);
        if (auto status = Advance(); !status.ok())
            return status;
        while (token_.kind != TokenKind::CloseBrace) {
            if (AtWord(kValKeyword)) {
                if (!values)
                    return Error(RegScriptError::ValueOnRootKey);
                RegNamedValue value;
                if (auto status = NamedValue(value); !status.ok())
                    return status;
                values->push_back(std::move(value));
                continue;
            }
            RegKey key;
            if (auto status = Key(key, depth); !status.ok())
                return status;
            keys.push_back(std::move(key));
        }
        return Advance();
    }

    RegScriptStatus Key(RegKey& key, std::size_t depth)
    {
        for (const ModifierName& modifier : kModifiers) {
            if (AtWord(modifier.name)) {
                key.modifier = modifier.modifier;
                if (auto status = Advance(); !status.ok())
                    return status;
                break;
            }
        }
        if (auto status = Name(key.name, RegScriptError::ExpectedKeyName); !status.ok())
            return status;
        if (token_.kind == TokenKind::Equals) {
            key.defaultValue.emplace();
            if (auto status = Value(*key.defaultValue); !status.ok())
                return status;
        }
        if (token_.kind == TokenKind::OpenBrace)
            return Block(key.subkeys, &key.values, depth + 1);
        return {};
    }

    RegScriptStatus NamedValue(RegNamedValue& value)
    {
        if (auto status = Advance(); !status.ok())
            return status;
        if (auto status = Name(value.name, RegScriptError::MissingValueName); !status.ok())
            return status;
        if (token_.kind != TokenKind::Equals)
            return Error(RegScriptError::ExpectedEquals);
        return Value(value.value);
    }

    // A bare word that is a keyword is not a name; quote it to use it as one.
    RegScriptStatus Name(std::u16string& name, RegScriptError missing)
    {
        bool keyword = AtWord(kValKeyword);
        for (const ModifierName& modifier : kModifiers)
            keyword = keyword || AtWord(modifier.name);
        if ((token_.kind != TokenKind::Word && token_.kind != TokenKind::Quoted) || keyword)
            return Error(missing);
        if (!IsUsableName(token_.text))
            return Error(token_.kind == TokenKind::Quoted && token_.text.empty() ? missing : RegScriptError::BadName);
        name = std::move(token_.text);
        return Advance();
    }

    // At '=': the type letter and the quoted text.
    RegScriptStatus Value(RegValue& value)
    {
        if (auto status = Advance(); !status.ok())
            return status;
        const TypeLetter* found = nullptr;
        if (token_.kind == TokenKind::Word && token_.text.size() == 1)
            for (const TypeLetter& letter : kTypeLetters)
                if (AsciiUpper(token_.text[0]) == AsciiUpper(letter.letter))
                    found = &letter;
        if (!found)
            return Error(RegScriptError::UnknownValueType);
        value.type = found->type;
        if (auto status = Advance(); !status.ok())
            return status;
        if (token_.kind != TokenKind::Quoted)
            return Error(RegScriptError::ExpectedQuotedText);
        switch (value.type) {
        case RegValueType::String:
            value.text = std::move(token_.text);
            break;
        case RegValueType::MultiString:
            value.text = SplitMultiString(token_.text);
            break;
        case RegValueType::Number:
            if (!ParseNumber(token_.text, value.number))
                return Error(RegScriptError::BadNumber);
            break;
        case RegValueType::Binary:
            if (!ParseBinary(token_.text, value.bytes))
                return Error(RegScriptError::BadBinary);
            break;
        }
        return Advance();
    }

    Lexer lexer_;
    Token token_;
};

}  // namespace

const char* RegScriptErrorText(RegScriptError error)
{
    switch (error) {
    case RegScriptError::None: return "no error";
    case RegScriptError::UnterminatedPercent: return "a percent sign has no closing percent sign";
    case RegScriptError::ReplacementNameTooLong: return "a replacement name has 32 characters or more";
    case RegScriptError::UnknownReplacement: return "a replacement name has no replacement";
    case RegScriptError::UnexpectedEnd: return "the script ends inside a block or statement";
    case RegScriptError::ExpectedRootKey: return "expected a root key name";
    case RegScriptError::ExpectedOpenBrace: return "expected '{'";
    case RegScriptError::ExpectedKeyName: return "expected a key name";
    case RegScriptError::ExpectedEquals: return "expected '='";
    case RegScriptError::UnknownValueType: return "expected a value type letter s, m, d or b";
    case RegScriptError::ExpectedQuotedText: return "expected value text in single quotes";
    case RegScriptError::UnterminatedString: return "a quoted string has no closing quote";
    case RegScriptError::BadNumber: return "not a 32-bit decimal or 0x hexadecimal number";
    case RegScriptError::BadBinary: return "binary text must be pairs of hexadecimal digits";
    case RegScriptError::MissingValueName: return "Val without a name";
    case RegScriptError::BadName: return "a name holds a backslash or a NUL";
    case RegScriptError::NestingTooDeep: return "keys nested too deep";
    case RegScriptError::ValueOnRootKey: return "a Val entry directly inside a root key";
    }
    return "unknown error";
}

RegScriptStatus ExpandRegReplacements(std::u16string_view text, const RegReplacements& replacements,
                                      std::u16string& expanded)
{
    expanded.clear();
    expanded.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        if (text[pos] != u'%') {
            expanded.push_back(text[pos++]);
            continue;
        }
        // Look no further than the longest allowed name, so a stray % costs
        // at most 32 characters of scanning.
        std::size_t nameStart = pos + 1;
        std::size_t close = text.substr(nameStart, kMaxReplacementName + 1).find(u'%');
        if (close == std::u16string_view::npos) {
            bool textEndsInside = text.size() - nameStart <= kMaxReplacementName;
            return Fail(textEndsInside ? RegScriptError::UnterminatedPercent : RegScriptError::ReplacementNameTooLong,
                        text, pos);
        }
        if (close >= kMaxReplacementName)
            return Fail(RegScriptError::ReplacementNameTooLong, text, pos);
        std::u16string_view name = text.substr(nameStart, close);
        if (name.empty()) {
            expanded.push_back(u'%');
        } else {
            const std::u16string* value = nullptr;
            for (const auto& [candidate, replacement] : replacements)
                if (!value && SameIgnoringCase(candidate, name))
                    value = &replacement;
            if (!value)
                return Fail(RegScriptError::UnknownReplacement, text, pos);
            expanded += *value;
        }
        pos = nameStart + close + 1;
    }
    return {};
}

RegScriptStatus ParseRegScript(std::u16string_view text, RegScript& script)
{
    script.roots.clear();
    RegScriptStatus status = Parser(text).Script(script);
    if (!status.ok())
        script.roots.clear();
    return status;
}

RegScriptStatus ProcessRegScript(std::u16string_view text, const RegReplacements& replacements, RegScript& script)
{
    std::u16string expanded;
    if (auto status = ExpandRegReplacements(text, replacements, expanded); !status.ok())
        return status;
    return ParseRegScript(expanded, script);
}
