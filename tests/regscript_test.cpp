// The registry-script processor on text alone: replacements, each grammar
// element and modifier, and malformed scripts that must end in an error
// result rather than a crash, a hang or a half-built tree.
#include "regscript.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const RegReplacements kReplacements{
    {u"APPID", u""},
    {u"Module", u"C:\\it''s\\zTolvera.dll"},
    {u"Module_Raw", u"C:\\it''s\\zTolvera.dll"},
};

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

// What a test needs to see of a status in a failure message.
std::string Describe(const RegScriptStatus& status)
{
    return std::string(RegScriptErrorText(status.error)) + " at offset " + std::to_string(status.offset) +
           ", line " + std::to_string(status.line);
}

TEST(RegScriptReplacements, ExpandsNamesAndPercentSigns)
{
    struct Case {
        std::u16string text;
        std::u16string expanded;
    };
    const Case cases[] = {
        {u"'%MODULE%'", u"'C:\\it''s\\zTolvera.dll'"},
        {u"'%module%'", u"'C:\\it''s\\zTolvera.dll'"},
        {u"%Module_Raw%", u"C:\\it''s\\zTolvera.dll"},
        {u"[%AppId%]", u"[]"},
        {u"100%%", u"100%"},
        {u"%%%MODULE%%%", u"%C:\\it''s\\zTolvera.dll%"},
        {u"no names", u"no names"},
        {u"", u""},
    };
    for (const Case& c : cases) {
        std::u16string expanded;
        RegScriptStatus status = ExpandRegReplacements(c.text, kReplacements, expanded);
        EXPECT_TRUE(status.ok()) << Describe(status);
        EXPECT_TRUE(expanded == c.expanded) << "case " << &c - cases;
    }
}

TEST(RegScriptReplacements, ReplacedTextIsNotScannedAgain)
{
    std::u16string expanded;
    ASSERT_TRUE(ExpandRegReplacements(u"%MODULE%", {{u"MODULE", u"C:\\100%\\%APPID%.dll"}}, expanded).ok());
    EXPECT_TRUE(expanded == u"C:\\100%\\%APPID%.dll");
}

TEST(RegScriptReplacements, BadNamesAreErrorsWithTheirPosition)
{
    struct Case {
        std::u16string text;
        RegScriptError error;
        std::size_t offset;
    };
    const Case cases[] = {
        {u"a %UNKNOWN% b", RegScriptError::UnknownReplacement, 2},
        {u"%" + Repeat(u'N', 31) + u"%", RegScriptError::UnknownReplacement, 0},
        {u"x%" + Repeat(u'N', 32) + u"%", RegScriptError::ReplacementNameTooLong, 1},
        {u"%" + Repeat(u'N', 4000), RegScriptError::ReplacementNameTooLong, 0},
        {u"abc%", RegScriptError::UnterminatedPercent, 3},
        {u"%MODULE", RegScriptError::UnterminatedPercent, 0},
        {u"%MODULE%%", RegScriptError::UnterminatedPercent, 8},
        {u"\r\n\r\n%", RegScriptError::UnterminatedPercent, 4},
    };
    for (const Case& c : cases) {
        std::u16string expanded;
        RegScriptStatus status = ExpandRegReplacements(c.text, kReplacements, expanded);
        EXPECT_EQ(status.error, c.error) << "case " << &c - cases << ": " << Describe(status);
        EXPECT_EQ(status.offset, c.offset) << "case " << &c - cases;
    }
    RegScriptStatus status;
    std::u16string expanded;
    status = ExpandRegReplacements(u"\r\n\r\n%", kReplacements, expanded);
    EXPECT_EQ(status.line, 3u);
}

TEST(RegScriptGrammar, BuildsTheKeyTree)
{
    const std::u16string text =
        u"HKCR\r\n{\r\n"
        u"\tForceRemove Outer.Key = s 'it''s'\r\n\t{\r\n"
        u"\t\tInner\r\n"
        u"\t\tval Named = s 'v'\r\n"
        u"\t\t'Val' = s 'quoted keyword'\r\n"
        u"\t\tNoRemove 'Two Words' { }\r\n"
        u"\t}\r\n"
        u"\tDelete Gone\r\n"
        u"}\r\n"
        u"hkey_current_user { Plain }";
    RegScript script;
    EXPECT_TRUE(ParseRegScript(u" \r\n\t ", script).ok());
    EXPECT_TRUE(script.roots.empty());
    RegScriptStatus status = ParseRegScript(text, script);
    ASSERT_TRUE(status.ok()) << Describe(status);
    ASSERT_EQ(script.roots.size(), 2u);
    EXPECT_EQ(script.roots[1].root, RegRootKey::CurrentUser);
    ASSERT_EQ(script.roots[1].keys.size(), 1u);
    EXPECT_TRUE(script.roots[1].keys[0].name == u"Plain");

    const RegRootBlock& hkcr = script.roots[0];
    EXPECT_EQ(hkcr.root, RegRootKey::ClassesRoot);
    ASSERT_EQ(hkcr.keys.size(), 2u);
    const RegKey& outer = hkcr.keys[0];
    EXPECT_EQ(outer.modifier, RegModifier::ForceRemove);
    EXPECT_TRUE(outer.name == u"Outer.Key");
    ASSERT_TRUE(outer.defaultValue.has_value());
    EXPECT_TRUE(outer.defaultValue->text == u"it's");
    ASSERT_EQ(outer.subkeys.size(), 3u);
    EXPECT_TRUE(outer.subkeys[0].name == u"Inner");
    EXPECT_EQ(outer.subkeys[0].modifier, RegModifier::None);
    EXPECT_FALSE(outer.subkeys[0].defaultValue.has_value());
    EXPECT_TRUE(outer.subkeys[1].name == u"Val");
    EXPECT_TRUE(outer.subkeys[2].name == u"Two Words");
    EXPECT_EQ(outer.subkeys[2].modifier, RegModifier::NoRemove);
    ASSERT_EQ(outer.values.size(), 1u);
    EXPECT_TRUE(outer.values[0].name == u"Named");
    EXPECT_TRUE(outer.values[0].value.text == u"v");
    EXPECT_EQ(hkcr.keys[1].modifier, RegModifier::Delete);
    EXPECT_TRUE(hkcr.keys[1].name == u"Gone");
}

TEST(RegScriptGrammar, RootKeysInShortAndLongFormAnyCase)
{
    struct Case {
        std::u16string name;
        RegRootKey root;
    };
    const Case cases[] = {
        {u"HKCR", RegRootKey::ClassesRoot},       {u"HKEY_CLASSES_ROOT", RegRootKey::ClassesRoot},
        {u"HKCU", RegRootKey::CurrentUser},       {u"HKEY_CURRENT_USER", RegRootKey::CurrentUser},
        {u"HKLM", RegRootKey::LocalMachine},      {u"HKEY_LOCAL_MACHINE", RegRootKey::LocalMachine},
        {u"HKU", RegRootKey::Users},              {u"HKEY_USERS", RegRootKey::Users},
        {u"HKPD", RegRootKey::PerformanceData},   {u"HKEY_PERFORMANCE_DATA", RegRootKey::PerformanceData},
        {u"HKDD", RegRootKey::DynData},           {u"HKEY_DYN_DATA", RegRootKey::DynData},
        {u"HKCC", RegRootKey::CurrentConfig},     {u"HKEY_CURRENT_CONFIG", RegRootKey::CurrentConfig},
        {u"hkcr", RegRootKey::ClassesRoot},       {u"Hkey_Local_Machine", RegRootKey::LocalMachine},
    };
    for (const Case& c : cases) {
        RegScript script;
        RegScriptStatus status = ParseRegScript(c.name + u" { K }", script);
        ASSERT_TRUE(status.ok()) << Describe(status);
        ASSERT_EQ(script.roots.size(), 1u);
        EXPECT_EQ(script.roots[0].root, c.root) << "case " << &c - cases;
    }
}

TEST(RegScriptGrammar, ModifiersAndKeywordsIgnoreCase)
{
    struct Case {
        std::u16string word;
        RegModifier modifier;
    };
    const Case cases[] = {
        {u"ForceRemove", RegModifier::ForceRemove}, {u"forceremove", RegModifier::ForceRemove},
        {u"NoRemove", RegModifier::NoRemove},       {u"NOREMOVE", RegModifier::NoRemove},
        {u"Delete", RegModifier::Delete},           {u"dElEtE", RegModifier::Delete},
    };
    for (const Case& c : cases) {
        RegScript script;
        RegScriptStatus status = ParseRegScript(u"HKCR { " + c.word + u" K { VAL v = S 'x' } }", script);
        ASSERT_TRUE(status.ok()) << Describe(status);
        const RegKey& key = script.roots.at(0).keys.at(0);
        EXPECT_EQ(key.modifier, c.modifier) << "case " << &c - cases;
        EXPECT_TRUE(key.name == u"K");
        EXPECT_EQ(key.values.size(), 1u);
    }
}

TEST(RegScriptGrammar, ValueTypes)
{
    struct Case {
        std::u16string value;
        RegValueType type;
        std::u16string text;
        std::uint32_t number;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {u"s 'Free'", RegValueType::String, u"Free", 0, {}},
        {u"s ''", RegValueType::String, u"", 0, {}},
        {u"s '{x} = ''y'''", RegValueType::String, u"{x} = 'y'", 0, {}},
        {u"s 'C:\\0dir'", RegValueType::String, u"C:\\0dir", 0, {}},
        {u"m 'one\\0two'", RegValueType::MultiString, std::u16string(u"one\0two\0", 8), 0, {}},
        {u"m ''", RegValueType::MultiString, u"", 0, {}},
        {u"d '0'", RegValueType::Number, u"", 0, {}},
        {u"d '4294967295'", RegValueType::Number, u"", 0xFFFFFFFFu, {}},
        {u"d '0x1F'", RegValueType::Number, u"", 0x1F, {}},
        {u"D '0XdeadBEEF'", RegValueType::Number, u"", 0xDEADBEEFu, {}},
        {u"b '00FFa1'", RegValueType::Binary, u"", 0, {0x00, 0xFF, 0xA1}},
        {u"b ''", RegValueType::Binary, u"", 0, {}},
    };
    for (const Case& c : cases) {
        RegScript script;
        RegScriptStatus status = ParseRegScript(u"HKCR { K = " + c.value + u" { val V = " + c.value + u" } }", script);
        ASSERT_TRUE(status.ok()) << "case " << &c - cases << ": " << Describe(status);
        const RegKey& key = script.roots.at(0).keys.at(0);
        for (const RegValue* value : {&*key.defaultValue, &key.values.at(0).value}) {
            EXPECT_EQ(value->type, c.type) << "case " << &c - cases;
            EXPECT_TRUE(value->text == c.text) << "case " << &c - cases;
            EXPECT_EQ(value->number, c.number) << "case " << &c - cases;
            EXPECT_EQ(value->bytes, c.bytes) << "case " << &c - cases;
        }
    }
}

TEST(RegScriptGrammar, MalformedScriptsAreErrors)
{
    struct Case {
        std::u16string text;
        RegScriptError error;
    };
    const Case cases[] = {
        {u"HKCR { K { }", RegScriptError::UnexpectedEnd},
        {u"HKCR { K", RegScriptError::UnexpectedEnd},
        {u"HKCR { K } }", RegScriptError::ExpectedRootKey},
        {u"HKCR K }", RegScriptError::ExpectedOpenBrace},
        {u"HKCR", RegScriptError::UnexpectedEnd},
        {u"HKXX { K }", RegScriptError::ExpectedRootKey},
        {u"{ K }", RegScriptError::ExpectedRootKey},
        {u"HKCR { K = s 'never closed }", RegScriptError::UnterminatedString},
        {u"HKCR { 'K }", RegScriptError::UnterminatedString},
        {u"HKCR { K = x 'v' }", RegScriptError::UnknownValueType},
        {u"HKCR { K = ss 'v' }", RegScriptError::UnknownValueType},
        {u"HKCR { K = 'v' }", RegScriptError::UnknownValueType},
        {u"HKCR { K = s v }", RegScriptError::ExpectedQuotedText},
        {u"HKCR { K = }", RegScriptError::UnknownValueType},
        {u"HKCR { K { Val = s 'v' } }", RegScriptError::MissingValueName},
        {u"HKCR { K { Val '' = s 'v' } }", RegScriptError::MissingValueName},
        {u"HKCR { K { Val } }", RegScriptError::MissingValueName},
        {u"HKCR { K { Val N s 'v' } }", RegScriptError::ExpectedEquals},
        {u"HKCR { K { Val N = s 'v' }", RegScriptError::UnexpectedEnd},
        {u"HKCR { Val N = s 'v' }", RegScriptError::ValueOnRootKey},
        {u"HKCR { NoRemove }", RegScriptError::ExpectedKeyName},
        {u"HKCR { NoRemove ForceRemove K }", RegScriptError::ExpectedKeyName},
        {u"HKCR { = s 'v' }", RegScriptError::ExpectedKeyName},
        {u"HKCR { '' }", RegScriptError::ExpectedKeyName},
        {u"HKCR { 'a\\b' }", RegScriptError::BadName},
        {u"HKCR { K { Val 'a\\b' = s '' } }", RegScriptError::BadName},
        {u"HKCR { K = d '' }", RegScriptError::BadNumber},
        {u"HKCR { K = d '4294967296' }", RegScriptError::BadNumber},
        {u"HKCR { K = d '0x100000000' }", RegScriptError::BadNumber},
        {u"HKCR { K = d '-1' }", RegScriptError::BadNumber},
        {u"HKCR { K = d '0x' }", RegScriptError::BadNumber},
        {u"HKCR { K = b 'ABC' }", RegScriptError::BadBinary},
        {u"HKCR { K = b 'GG' }", RegScriptError::BadBinary},
    };
    for (const Case& c : cases) {
        RegScript script;
        RegScriptStatus status = ParseRegScript(c.text, script);
        EXPECT_EQ(status.error, c.error) << "case " << &c - cases << ": " << Describe(status);
        EXPECT_TRUE(script.roots.empty()) << "case " << &c - cases;
    }
}

TEST(RegScriptGrammar, ErrorsCarryLineAndOffset)
{
    RegScript script;
    RegScriptStatus status = ParseRegScript(u"HKCR\r\n{\r\n\tK = q 'v'\r\n}\r\n", script);
    EXPECT_EQ(status.error, RegScriptError::UnknownValueType);
    EXPECT_EQ(status.line, 3u);
    EXPECT_EQ(status.offset, 14u);
}

TEST(RegScriptGrammar, DeepNestingIsRefused)
{
    std::u16string deep = u"HKCR {";
    for (int i = 0; i < 100000; ++i)
        deep += u" K {";
    RegScript script;
    EXPECT_EQ(ParseRegScript(deep, script).error, RegScriptError::NestingTooDeep);

    std::u16string allowed = u"HKCR {";
    for (std::size_t i = 0; i < kRegMaxDepth; ++i)
        allowed += u" K {";
    for (std::size_t i = 0; i <= kRegMaxDepth; ++i)
        allowed += u" }";
    EXPECT_TRUE(ParseRegScript(allowed, script).ok());
}

// Every prefix of a valid script either parses or gives an error; none of
// them may crash, hang or report success with a partial tree.
TEST(RegScriptGrammar, EveryTruncationEndsCleanly)
{
    const std::u16string text =
        u"HKCR\r\n{\r\n\tA.B.1 = s 'x''y'\r\n\t{\r\n\t\tCLSID = s '{66D40926-20AA-4FC1-BB5D-EEB2D525CE70}'\r\n\t}\r\n"
        u"\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove {X} = s 'C'\r\n\t\t{\r\n\t\t\tval T = d '0x10'\r\n"
        u"\t\t\tval M = m 'a\\0b'\r\n\t\t\tval B = b '0102'\r\n\t\t}\r\n\t}\r\n}\r\n";
    RegScript script;
    ASSERT_TRUE(ParseRegScript(text, script).ok());
    for (std::size_t length = 1; length < text.size() - 2; ++length) {
        RegScriptStatus status = ParseRegScript(std::u16string_view(text).substr(0, length), script);
        EXPECT_FALSE(status.ok()) << "prefix " << length;
        EXPECT_LE(status.offset, length);
    }
}

TEST(RegScriptProcess, ReplacementErrorsComeBeforeParsing)
{
    RegScript script;
    EXPECT_EQ(ProcessRegScript(u"HKCR { K = s '%NOPE%' }", kReplacements, script).error,
              RegScriptError::UnknownReplacement);
    EXPECT_EQ(ProcessRegScript(u"HKCR { K = s '50%' }", kReplacements, script).error,
              RegScriptError::UnterminatedPercent);

    RegScriptStatus status = ProcessRegScript(u"HKCR { K = s '%MODULE%' }", kReplacements, script);
    ASSERT_TRUE(status.ok()) << Describe(status);
    EXPECT_TRUE(script.roots.at(0).keys.at(0).defaultValue->text == u"C:\\it's\\zTolvera.dll");
}

}  // namespace
