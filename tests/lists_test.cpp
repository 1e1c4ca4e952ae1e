// Lists and object items from VBScript: list splitting on the script's own
// text, and the agent core's virtual data objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bound_job.h"
#include "script_probe.h"

namespace {

using probe::call;
using probe::gave;
using probe::kJob;
using probe::kPwd;
using probe::Lines;
using probe::runMain;
using probe::said;
using ListsTest = probe::Test;

// Every case is one script line that says what it got; the script runs as a
// job, but the list methods never reach the core.
TEST_F(ListsTest, ScriptsSplitListsByTheRules) {
    struct Case { const wchar_t* expr; const char* expected; };
    const Case cases[] = {
        {L"CVEXT.ItemCount(\"a,b,c\", \",\")", "3"},
        {L"CVEXT.ItemCount(\"abc\", \",\")", "1"},
        {L"CVEXT.ItemCount(\"\", \",\")", "0"},
        {L"CVEXT.ItemCount(\"a,b\", \"\")", "0"},
        {L"CVEXT.ItemCount(\"a,b,\", \",\")", "3"},
        {L"CVEXT.ItemCount(\",a\", \",\")", "2"},
        {L"CVEXT.ItemCount(\"a,,b\", \",\")", "3"},
        {L"CVEXT.ItemCount(\"a,\", \",\")", "2"},
        {L"CVEXT.ItemCount(\"aXbxc\", \"x\")", "2"},
        {L"CVEXT.ItemCount(\"aNULLb\", \"NULL\")", "2"},
        {L"CVEXT.ItemCount(\"NULL\", \",\")", "1"},
        {L"TypeName(CVEXT.ItemCount(\"a\", \",\"))", "Long"},
        {L"\"[\" & CVEXT.Item(\"a,b,c\", 2, \",\") & \"]\"", "[b]"},
        {L"\"[\" & CVEXT.Item(\"a,b,c\", 3, \",\") & \"]\"", "[c]"},
        {L"\"[\" & CVEXT.Item(\"a,b,c\", 4, \",\") & \"]\"", "[]"},
        {L"\"[\" & CVEXT.Item(\"a,b,c\", 0, \",\") & \"]\"", "[]"},
        {L"\"[\" & CVEXT.Item(\"a,b,c\", -1, \",\") & \"]\"", "[]"},
        {L"\"[\" & CVEXT.Item(\"a,,b\", 2, \",\") & \"]\"", "[]"},
        {L"\"[\" & CVEXT.Item(\",a\", 1, \",\") & \"]\"", "[]"},
        {L"\"[\" & CVEXT.Item(\"a,\", 2, \",\") & \"]\"", "[]"},
        {L"\"[\" & CVEXT.Item(\"x::y::z\", 2, \"::\") & \"]\"", "[y]"},
        {L"\"[\" & CVEXT.Item(\"a,,,b\", 2, \",,\") & \"]\"", "[,b]"},
        {L"\"[\" & CVEXT.Item(\"aXbxc\", 2, \"x\") & \"]\"", "[c]"},
        {L"\"[\" & CVEXT.Item(\"aNULLb\", 2, \"NULL\") & \"]\"", "[b]"},
        {L"\"[\" & CVEXT.Item(\"a, b\", 2, \",\") & \"]\"", "[ b]"},
        {L"\"[\" & CVEXT.Item(\"NULL\", 1, \",\") & \"]\"", "[NULL]"},
        {L"TypeName(CVEXT.Item(\"a,b\", 1, \",\")) & TypeName(CVEXT.Item(\"a,b\", 9, \",\"))", "StringString"},
        // The script's UTF-16 text is split as it stands, never turned into 8 bits.
        {L"CStr(CVEXT.Item(\"x\u20acy\u00e9z\", 2, \"\u20ac\") = \"y\u00e9z\")", "True"},
        {L"CStr(CVEXT.Item(\"x\u20acy\u00e9z\", 2, \"y\") = \"\u00e9z\")", "True"},
    };
    std::wstring script;
    Lines expected;
    for (const Case& c : cases) {
        script += L"CVEXT.ZTrace " + std::wstring(c.expr) + L"\n";
        expected.push_back(said(c.expected));
    }
    expectRan(runMain(script));
    EXPECT_EQ(journal(), expected);
}

// What a script cannot see: the HRESULT, and that no job is needed.
TEST_F(ListsTest, ListMethodsWorkWithoutAJobAndReportMissingItems) {
    struct Case { const wchar_t* list; long idx; const wchar_t* delim; HRESULT hr; const wchar_t* item; long count; };
    const Case cases[] = {
        {L"a,b,c", 2, L",", S_OK, L"b", 3},
        {L"a,,b", 2, L",", S_OK, L"", 3},
        {L",a", 1, L",", S_OK, L"", 2},
        {L"a,", 2, L",", S_FALSE, nullptr, 2},
        {L"a,b,c", 4, L",", S_FALSE, nullptr, 3},
        {L"a,b,c", 0, L",", S_FALSE, nullptr, 3},
        {L"", 1, L",", S_FALSE, nullptr, 0},
        {L"a", 1, L"", S_FALSE, nullptr, 0},
        {nullptr, 1, L",", S_FALSE, nullptr, 0},
        {L"a,b", 1, nullptr, S_FALSE, nullptr, 0},
    };
    // What the caller's variable held before: a missing item must not leave
    // it there for a caller that reads its result after S_FALSE.
    static wchar_t stale[] = L"stale";
    for (const Case& c : cases) {
        Bstr list(c.list), delim(c.delim), item;
        BSTR out = stale;
        EXPECT_EQ(ext->Item(list.get(), c.idx, delim.get(), &out), c.hr) << c.idx;
        if (out != stale) item.reset(out);
        if (c.item) {
            ASSERT_TRUE(item);
            EXPECT_STREQ(item.get(), c.item);
        } else {
            EXPECT_EQ(out, nullptr) << c.idx;
        }
        long count = -5;
        EXPECT_EQ(ext->ItemCount(list.get(), delim.get(), &count), S_OK);
        EXPECT_EQ(count, c.count);
    }
    // The text ends at its first NUL.
    Bstr withNul, comma(L",");
    withNul.reset(SysAllocStringLen(L"a,b\0,c", 6));
    long count = 0;
    EXPECT_EQ(ext->ItemCount(withNul.get(), comma.get(), &count), S_OK);
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(journal().empty());
}

TEST_F(ListsTest, ObjectItemsComeFromTheCoreWithNullForTheNameNull) {
    expectRan(runMain(
        L"CVEXT.ZTrace CStr(CVEXT.GetObjItemCnt(\"comp\", \"null\"))\n"
        L"CVEXT.ZTrace CStr(CVEXT.GetObjItemCnt(\"NULL\", \"Disks\"))\n"
        L"CVEXT.ZTrace \"[\" & CVEXT.GetObjItem(\"comp\", \"Disks\", 2) & \"]\"\n"
        L"CVEXT.ZTrace \"[\" & CVEXT.GetObjItem(\"comp\", \"null\", 1) & \"]\"\n"
        L"CVEXT.ZTrace \"[\" & CVEXT.GetObjItem(\"comp\", \"Disks\", 4) & \"]\"\n"
        L"CVEXT.ZTrace \"[\" & CVEXT.GetObjItem(\"comp\", \"Disks\", -1) & \"]\""));
    EXPECT_EQ(journal(), (Lines{
        call("MCGetVirDataItemCnt", "null"), said("3"),
        call("MCGetVirDataItemCnt", R"("Disks")"), said("3"),
        gave(call("MCGetVirDataItem", R"("Disks",2)"), "\"beta\""), said("[beta]"),
        gave(call("MCGetVirDataItem", "null,1"), "\"alpha\""), said("[alpha]"),
        gave(call("MCGetVirDataItem", R"("Disks",4)"), "null"), said("[]"),
        gave(call("MCGetVirDataItem", R"("Disks",-1)"), "null"), said("[]"),
    }));
    // Every item the core handed out went back through its freeMem.
    EXPECT_EQ(standin_misreleases(), 0);
}

TEST_F(ListsTest, ObjectItemCountPassesTheCoresNumberUnchecked) {
    standin_setResult("MCGetVirDataItemCnt", -4);
    standin_setText("MCGetVirDataItem", "caf\xe9");
    expectRan(runMain(
        L"CVEXT.ZTrace CStr(CVEXT.GetObjItemCnt(\"c\", \"o\"))\n"
        L"CVEXT.ZTrace CStr(CVEXT.GetObjItem(\"c\", \"o\", 1) = \"caf\u00e9\")"));
    EXPECT_EQ(said("-4"), calls("ZTrace").at(0));
    EXPECT_EQ(said("True"), calls("ZTrace").at(1));
    EXPECT_EQ(standin_misreleases(), 0);
}

TEST_F(ListsTest, ObjectItemsNeedAJobAndAMissingItemLeavesTheResult) {
    Bstr comp(L"c"), name(L"Disks");
    long count = 9;
    EXPECT_EQ(ext->GetObjItemCnt(comp.get(), name.get(), &count), S_FALSE);
    EXPECT_EQ(count, 0);
    Bstr kept(L"kept");
    BSTR item = kept.get();
    EXPECT_EQ(ext->GetObjItem(comp.get(), name.get(), 1, &item), S_FALSE);
    EXPECT_EQ(item, kept.get());
    EXPECT_TRUE(journal().empty());

    BoundJob job(kJob, kPwd);
    EXPECT_EQ(ext->GetObjItem(comp.get(), name.get(), 7, &item), S_FALSE);
    EXPECT_EQ(item, kept.get());
    EXPECT_EQ(ext->GetObjItem(comp.get(), name.get(), 3, &item), S_OK);
    Bstr got;
    got.reset(item);
    EXPECT_STREQ(got.get(), L"gamma");
    EXPECT_EQ(calls("MCGetVirDataItem").size(), 2u);
    EXPECT_EQ(standin_misreleases(), 0);
}

TEST_F(ListsTest, ObjectListIsAlwaysEmpty) {
    expectRan(runMain(
        L"Dim l\nl = CVEXT.GetObjList(\"comp\", \"Disks\", \",\", True, 3)\n"
        L"CVEXT.ZTrace TypeName(l) & \" [\" & l & \"] \" & \"[\" & CVEXT.GetObjList(\"c\", \"o\") & \"]\""));
    EXPECT_EQ(journal(), Lines{said("String [] []")});
}

}  // namespace
