// The shared argument rules: script strings, flags and VARIANTs in, results out.
#include <gtest/gtest.h>

#include "args.h"
#include "owners.h"

namespace {

TEST(ArgStringTest, NullInAnyCaseAndNullBstrBecomeNullPointers) {
    struct Case { const wchar_t* text; const char* expected; };
    const Case cases[] = {
        {L"NULL", nullptr}, {L"null", nullptr}, {L"NuLl", nullptr},
        {L"NULL ", "NULL "}, {L" NULL", " NULL"}, {L"NUL", "NUL"},
        {L"", ""}, {L"disk C:", "disk C:"},
    };
    for (const Case& c : cases) {
        Bstr b(c.text);
        ArgString arg(b.get());
        if (!c.expected) EXPECT_EQ(arg.get(), nullptr) << "text: " << (c.text ? "set" : "none");
        else {
            ASSERT_NE(arg.get(), nullptr);
            EXPECT_STREQ(arg.get(), c.expected);
        }
    }
    ArgString none(nullptr);
    EXPECT_EQ(none.get(), nullptr);
}

// The C locale has no 8-bit form for most characters: each becomes '?' and
// the text goes on, where the plain conversion would end it there.
TEST(ArgStringTest, CharactersTheLocaleCannotShowBecomeQuestionMarks) {
    struct Case { const wchar_t* text; const char* expected; };
    const Case cases[] = {
        {L"t2 \u4e2d\u6587 end", "t2 ?? end"},
        {L"\u4e2d", "?"},
        {L"caf\u00e9 \u20ac5", "caf\xe9 ?5"},
        {L"plain text", "plain text"},
    };
    for (const Case& c : cases) {
        Bstr b(c.text);
        ArgString arg(b.get());
        ASSERT_NE(arg.get(), nullptr);
        EXPECT_STREQ(arg.get(), c.expected) << c.expected;
    }
}

TEST(ArgStringTest, TextEndsAtFirstNul) {
    Bstr b;
    b.reset(SysAllocStringLen(L"ab\0cd", 5));
    ArgString arg(b.get());
    EXPECT_STREQ(arg.get(), "ab");
}

TEST(FlagsTest, VariantBoolSignExtendsAndResultsKeepLow16Bits) {
    EXPECT_EQ(flagArg(VARIANT_TRUE), -1);
    EXPECT_EQ(flagArg(VARIANT_FALSE), 0);
    EXPECT_EQ(flagArg(1), 1);
    EXPECT_EQ(boolResult(1), 1);
    EXPECT_EQ(boolResult(-1), VARIANT_TRUE);
    EXPECT_EQ(boolResult(65536), VARIANT_FALSE);
    EXPECT_EQ(hresultOf(0), S_FALSE);
    EXPECT_EQ(hresultOf(-5), S_OK);
}

TEST(ReadVariantValueTest, AcceptsOnlyItsOwnTypesWithoutConversion) {
    Variant i2, i4, r8, r4, boolean, empty, str, nullStr;
    V_VT(&i2) = VT_I2; V_I2(&i2) = -1;
    V_VT(&i4) = VT_I4; V_I4(&i4) = -7;
    V_VT(&r8) = VT_R8; V_R8(&r8) = 2.5;
    V_VT(&r4) = VT_R4; V_R4(&r4) = 2.5f;
    V_VT(&boolean) = VT_BOOL; V_BOOL(&boolean) = VARIANT_TRUE;
    V_VT(&str) = VT_BSTR; V_BSTR(&str) = SysAllocString(L"stream");
    V_VT(&nullStr) = VT_BSTR; V_BSTR(&nullStr) = nullptr;

    auto asLong = [](const VARIANT& v) { return ReadVariantValue(&v, ValueKind::Long); };
    EXPECT_TRUE(asLong(i2).accepted);
    EXPECT_EQ(asLong(i2).number, 65535);
    EXPECT_EQ(asLong(i4).number, -7);
    EXPECT_TRUE(ReadVariantValue(&i4, ValueKind::ULong).accepted);
    for (const VARIANT* v : {&r8, &r4, &boolean, &empty, &str}) EXPECT_FALSE(asLong(*v).accepted);

    EXPECT_TRUE(ReadVariantValue(&r8, ValueKind::Double).accepted);
    EXPECT_EQ(ReadVariantValue(&r8, ValueKind::Double).real, 2.5);
    for (const VARIANT* v : {&i4, &r4, &boolean, &empty}) EXPECT_FALSE(ReadVariantValue(v, ValueKind::Double).accepted);

    EXPECT_TRUE(ReadVariantValue(&str, ValueKind::String).accepted);
    EXPECT_FALSE(ReadVariantValue(&nullStr, ValueKind::String).accepted);
    EXPECT_FALSE(ReadVariantValue(&i4, ValueKind::String).accepted);
    EXPECT_FALSE(ReadVariantValue(nullptr, ValueKind::Long).accepted);
}

TEST(ReadVariantValueTest, FollowsReferencesAndRefusesArrays) {
    LONG n = 12;
    Variant i4ref, inner, outer, array;
    V_VT(&i4ref) = VT_I4 | VT_BYREF; V_I4REF(&i4ref) = &n;
    EXPECT_EQ(ReadVariantValue(&i4ref, ValueKind::Long).number, 12);

    V_VT(&inner) = VT_BSTR; V_BSTR(&inner) = SysAllocString(L"name");
    V_VT(&outer) = VT_VARIANT | VT_BYREF; V_VARIANTREF(&outer) = &inner;
    VariantValue s = ReadVariantValue(&outer, ValueKind::String);
    ASSERT_TRUE(s.accepted);
    EXPECT_STREQ(s.text, L"name");

    SAFEARRAYBOUND bound = {2, 0};
    V_VT(&array) = VT_ARRAY | VT_VARIANT; V_ARRAY(&array) = SafeArrayCreate(VT_VARIANT, 1, &bound);
    EXPECT_FALSE(ReadVariantValue(&array, ValueKind::Long).accepted);
}

TEST(SetVariantResultTest, ClearsTheTargetAndStoresEachKind) {
    Variant v;
    V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocString(L"old");
    EXPECT_EQ(SetVariantResult(&v, ValueKind::Long, 5L), 1);
    EXPECT_EQ(V_VT(&v), VT_I4);
    EXPECT_EQ(V_I4(&v), 5);
    EXPECT_EQ(SetVariantResult(&v, ValueKind::Double, 1.5), 1);
    EXPECT_EQ(V_VT(&v), VT_R8);
    EXPECT_EQ(SetVariantResult(&v, ValueKind::String, "ok"), 1);
    EXPECT_EQ(V_VT(&v), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&v), L"ok");
    EXPECT_EQ(SetVariantResult(&v, ValueKind::String, static_cast<const char*>(nullptr)), 1);
    EXPECT_STREQ(V_BSTR(&v), L"");
    EXPECT_EQ(SetVariantResult(&v, ValueKind::Double, "text"), 0);
    EXPECT_EQ(V_VT(&v), VT_EMPTY);
}

TEST(StandardStringTest, AnsiCodePageBothWaysWithoutTheNullRule) {
    Bstr text(L"caf\u00e9 NULL");
    std::string ansi = toAnsi(text.get());
    EXPECT_EQ(ansi, "caf\xe9 NULL");
    Bstr back(nullptr);
    back.reset(ansiToBstr(ansi));
    EXPECT_STREQ(back.get(), L"caf\u00e9 NULL");
    EXPECT_EQ(toAnsi(nullptr), "");
}

}  // namespace
