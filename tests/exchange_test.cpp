// Data exchange and the agent's dictionary: from VBScript through ScpExt down
// to the stand-in core's stores and back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arrays.h"
#include "memory.h"
#include "bound_job.h"
#include "script_probe.h"

namespace {

using probe::Lines;
using probe::call;
using probe::reports;
using probe::runMain;

using ExchangeTest = probe::Test;

// A script function that reports a tuples array: its type, bounds, elements
// and the types of its elements (Join is not available to every engine).
const wchar_t* const kDescribe =
    L"Function Describe(n, t)\n"
    L"  s = n & \"|\" & VarType(t) & \"|\" & LBound(t) & \"|\" & UBound(t) & \"|\"\n"
    L"  For i = LBound(t) To UBound(t)\n"
    L"    If i > LBound(t) Then s = s & \",\"\n"
    L"    s = s & t(i) & \":\" & TypeName(t(i))\n"
    L"  Next\n"
    L"  Describe = s\n"
    L"End Function\n";

ScriptResult runWithDescribe(const std::wstring& body) {
    return runScript(std::wstring(kDescribe) + L"Sub main()\n" + body + L"\nEnd Sub\n", probe::kJob, probe::kPwd);
}

TEST_F(ExchangeTest, PairsComeBackAsOneFlatArrayOfStrings) {
    ScriptResult r = runWithDescribe(L"CVEXT.DictionaryInsertValue \"b\", \"2\"\n"
                                     L"CVEXT.DictionaryInsertValue \"a\", \"1\"\n"
                                     L"CVEXT.DictionaryInsertValue \"c\", \"3\"\n"
                                     L"n = CVEXT.DictionaryRetrieveAllValues(t)\n"
                                     L"CVEXT.ZTrace Describe(n, t)\n"
                                     L"n = CVEXT.DictionaryRetrieveByPattern(\"?\", t)\n"
                                     L"CVEXT.ZTrace Describe(n, t)");
    ASSERT_EQ(r.run, S_OK);
    const std::string all = "3|8204|0|5|a:String,1:String,b:String,2:String,c:String,3:String";
    EXPECT_EQ(reports(), (Lines{all, all}));
    EXPECT_EQ(calls("DictionaryInsertValue"), (Lines{call("DictionaryInsertValue", R"("b","2")"),
                                                     call("DictionaryInsertValue", R"("a","1")"),
                                                     call("DictionaryInsertValue", R"("c","3")")}));
    const std::string pairs = R"([["a","1"],["b","2"],["c","3"]])";
    EXPECT_EQ(calls("DictionaryRetrieveAllValues"), (Lines{call("DictionaryRetrieveAllValues", pairs)}));
    EXPECT_EQ(calls("DictionaryRetrieveByPattern"), (Lines{call("DictionaryRetrieveByPattern", R"("?",)" + pairs)}));
}

TEST_F(ExchangeTest, PatternSearchesAndEmptyResults) {
    struct Case { const wchar_t* pattern; const char* seen; };
    const Case cases[] = {
        {L"ap*", "2|8204|0|3|apple:String,1:String,apricot:String,2:String"},
        {L"?anana", "1|8204|0|1|banana:String,3:String"},
        {L"zz*", "0|8204|0|-1|"},
    };
    std::wstring body = L"CVEXT.DictionaryInsertValue \"apple\", \"1\"\n"
                        L"CVEXT.DictionaryInsertValue \"apricot\", \"2\"\n"
                        L"CVEXT.DictionaryInsertValue \"banana\", \"3\"\n";
    for (const Case& c : cases)
        body += L"n = CVEXT.DictionaryRetrieveByPattern(\"" + std::wstring(c.pattern) + L"\", t)\nCVEXT.ZTrace Describe(n, t)\n";
    ASSERT_EQ(runWithDescribe(body).run, S_OK);
    Lines expected;
    for (const Case& c : cases) expected.push_back(c.seen);
    EXPECT_EQ(reports(), expected);
}

TEST_F(ExchangeTest, AnEmptyDictionaryGivesAnArrayWithoutElementsAndTheCoresCount) {
    standin_setResult("DictionaryRetrieveAllValues", 42);   // the count is the core's, not the array's
    ASSERT_EQ(runWithDescribe(L"t = 5\nn = CVEXT.DictionaryRetrieveAllValues(t)\nCVEXT.ZTrace Describe(n, t)").run, S_OK);
    EXPECT_EQ(reports(), (Lines{"42|8204|0|-1|"}));
}

TEST_F(ExchangeTest, SingleValuesInsertRetrieveAndRemove) {
    ScriptResult r = runMain(L"CVEXT.ZTrace CStr(CVEXT.DictionaryInsertValue(\"k\", \"v1\"))\n"
                             L"rc = CVEXT.DictionaryRetrieveValue(\"k\", v)\n"
                             L"CVEXT.ZTrace rc & \" \" & TypeName(v) & \" \" & v\n"
                             L"CVEXT.ZTrace CStr(CVEXT.DictionaryRemoveValue(\"k\"))\n"
                             L"v = 17\n"
                             L"rc = CVEXT.DictionaryRetrieveValue(\"k\", v)\n"
                             L"CVEXT.ZTrace rc & \" \" & TypeName(v) & \" [\" & v & \"]\"\n"
                             L"CVEXT.ZTrace CStr(CVEXT.DictionaryRemoveValue(\"k\"))");
    ASSERT_EQ(r.run, S_OK);
    // An unknown name gives an empty string with retCode 0.
    EXPECT_EQ(reports(), (Lines{"1", "1 String v1", "1", "0 String []", "0"}));
    EXPECT_EQ(calls("DictionaryRemoveValue"), (Lines{call("DictionaryRemoveValue", R"("k")"),
                                                     call("DictionaryRemoveValue", R"("k")")}));
}

TEST_F(ExchangeTest, FailedRetrievalDropsWhateverTheCoreLeftInTheValue) {
    standin_setResult("DictionaryRetrieveValue", 0);
    ScriptResult r = runMain(L"CVEXT.DictionaryInsertValue \"k\", \"v1\"\n"
                             L"rc = CVEXT.DictionaryRetrieveValue(\"k\", v)\n"
                             L"CVEXT.ZTrace rc & \" [\" & v & \"]\"");
    ASSERT_EQ(r.run, S_OK);
    EXPECT_EQ(reports(), (Lines{"0 []"}));
}

TEST_F(ExchangeTest, NullIsAnOrdinaryKeyButNoExportName) {
    ScriptResult r = runMain(L"CVEXT.DictionaryInsertValue \"NULL\", \"x\"\n"
                             L"rc = CVEXT.DictionaryRetrieveValue(\"NULL\", v)\n"
                             L"CVEXT.ZTrace rc & \" \" & v\n"
                             L"CVEXT.ZTrace CStr(CInt(CVEXT.ExportData(\"NULL\", 5)))\n"
                             L"CVEXT.ZTrace CStr(CInt(CVEXT.ImportData(\"null\", w)))");
    ASSERT_EQ(r.run, S_OK);
    EXPECT_EQ(reports(), (Lines{"1 x", "0", "0"}));
    EXPECT_EQ(calls("DictionaryInsertValue"), (Lines{call("DictionaryInsertValue", R"("NULL","x")")}));
    EXPECT_EQ(calls("DictionaryRetrieveValue"), (Lines{call("DictionaryRetrieveValue", R"("NULL","x")")}));
    EXPECT_EQ(calls("MCExport"), (Lines{call("MCExport", R"(null,{"vt":2,"value":"5"},"")")}));
    EXPECT_EQ(calls("MCImport"), (Lines{call("MCImport", R"(null,{"vt":0,"value":""},"")")}));
}

TEST_F(ExchangeTest, NonAsciiTextTravelsThroughTheAnsiCodePage) {
    ASSERT_EQ(GetACP(), 1252u) << "the cases below are written for code page 1252";
    // Chr(128) is the euro sign in code page 1252, outside Latin-1. The
    // retrieved texts go back out through ExportData, whose journal shows the
    // script's UTF-16 text read through the same code page.
    ScriptResult r = runMain(L"CVEXT.DictionaryInsertValue \"caf\" & Chr(233), Chr(128) & \"5\"\n"
                             L"rc = CVEXT.DictionaryRetrieveValue(\"caf\" & Chr(233), v)\n"
                             L"CVEXT.ExportData \"value\", v & \"\"\n"
                             L"n = CVEXT.DictionaryRetrieveAllValues(t)\n"
                             L"CVEXT.ExportData \"name\", t(0) & \"\"\n"
                             L"CVEXT.ExportData \"pair\", t(1) & \"\"\n"
                             L"CVEXT.ZTrace rc & \" \" & Len(v) & \" \" & (v = Chr(128) & \"5\") & \" \" & (t(0) = \"caf\" & Chr(233))");
    ASSERT_EQ(r.run, S_OK) << ::testing::PrintToString(journal());
    EXPECT_EQ(calls("DictionaryInsertValue"),
              (Lines{call("DictionaryInsertValue", R"("caf\u00e9","\u20ac5")")}));
    EXPECT_EQ(calls("MCExport"), (Lines{call("MCExport", R"("value",{"vt":8,"value":"\u20ac5"},"")"),
                                        call("MCExport", R"("name",{"vt":8,"value":"caf\u00e9"},"")"),
                                        call("MCExport", R"("pair",{"vt":8,"value":"\u20ac5"},"")")}));
    EXPECT_EQ(reports(), (Lines{"1 2 True True"}));
}

TEST_F(ExchangeTest, ExportedValuesComeBackOnImport) {
    ScriptResult r = runMain(L"CVEXT.ZTrace CStr(CInt(CVEXT.ExportData(\"count\", 42)))\n"
                             L"s = \"hello\"\n"
                             L"CVEXT.ExportData \"greeting\", s\n"
                             L"rc = CVEXT.ImportData(\"count\", v)\n"
                             L"CVEXT.ZTrace CInt(rc) & \" \" & TypeName(v) & \" \" & v\n"
                             L"rc = CVEXT.ImportData(\"greeting\", v)\n"
                             L"CVEXT.ZTrace CInt(rc) & \" \" & TypeName(v) & \" \" & v\n"
                             L"v = \"old\"\n"
                             L"rc = CVEXT.ImportData(\"never\", v)\n"
                             L"CVEXT.ZTrace CInt(rc) & \" \" & TypeName(v)");
    ASSERT_EQ(r.run, S_OK);
    // The core's 1 reaches the script as 1, not as True; a failed import
    // leaves the value Empty.
    EXPECT_EQ(reports(), (Lines{"1", "1 Integer 42", "1 String hello", "0 Empty"}));
    // The value goes as the engine passed it: a literal by value, a script
    // variable as a reference to it (VT_BYREF | VT_VARIANT).
    EXPECT_EQ(calls("MCExport"), (Lines{call("MCExport", R"("count",{"vt":2,"value":"42"},"")"),
                                        call("MCExport", R"("greeting",{"vt":16396,"value":"hello"},"")")}));
    // An import shows the value the core stored into the script's variable.
    EXPECT_EQ(calls("MCImport"), (Lines{call("MCImport", R"("count",{"vt":2,"value":"42"},"")"),
                                        call("MCImport", R"("greeting",{"vt":8,"value":"hello"},"")"),
                                        call("MCImport", R"("never",{"vt":0,"value":""},"")")}));
}

TEST_F(ExchangeTest, ExportSucceedsAsACallWhateverTheCoreAnswers) {
    standin_setResult("MCExport", 0);
    BSTR name = SysAllocString(L"x");
    Variant value;
    VARIANT_BOOL ret = 5;
    EXPECT_EQ(ext->ExportData(name, value, &ret), S_FALSE);   // no job on this thread
    EXPECT_EQ(ret, VARIANT_FALSE);
    SysFreeString(name);
    EXPECT_EQ(journal(), Lines{});
    ASSERT_EQ(runMain(L"CVEXT.ZTrace CStr(CInt(CVEXT.ExportData(\"x\", 1)))").run, S_OK);
    EXPECT_EQ(reports(), (Lines{"0"}));
}

TEST_F(ExchangeTest, NullPatternAndMissingJobLeaveTheOutValuesAsTheRulesSay) {
    Variant tuples;
    V_VT(&tuples) = VT_I4;
    V_I4(&tuples) = 7;
    long n = 99;
    // A null pattern is refused before anything is touched.
    EXPECT_EQ(ext->DictionaryRetrieveByPattern(nullptr, &tuples, &n), S_FALSE);
    EXPECT_EQ(V_VT(&tuples), VT_I4);
    EXPECT_EQ(n, 99);
    // Any other pattern clears tuples first; without a job nothing more happens.
    Bstr empty(L"");
    EXPECT_EQ(ext->DictionaryRetrieveByPattern(empty.get(), &tuples, &n), S_FALSE);
    EXPECT_EQ(V_VT(&tuples), VT_EMPTY);
    EXPECT_EQ(n, 99);

    Variant value, imported;
    V_VT(&value) = VT_I4;
    V_VT(&imported) = VT_I4;
    long rc = 99;
    EXPECT_EQ(ext->DictionaryRetrieveValue(empty.get(), &value, &rc), S_FALSE);
    EXPECT_EQ(V_VT(&value), VT_EMPTY);
    EXPECT_EQ(rc, 99);
    VARIANT_BOOL ret = 5;
    EXPECT_EQ(ext->ImportData(empty.get(), &imported, &ret), S_FALSE);
    EXPECT_EQ(V_VT(&imported), VT_EMPTY);
    EXPECT_EQ(ret, VARIANT_FALSE);
    EXPECT_EQ(ext->DictionaryRetrieveAllValues(nullptr, &n), S_FALSE);
    EXPECT_EQ(journal(), Lines{});
}

// The texts of an array, "<Empty>" for an element that holds nothing.
Lines elements(const VARIANT& v) {
    Lines out;
    if (V_VT(&v) != (VT_ARRAY | VT_VARIANT)) return {"not an array"};
    SafeArrayData data(V_ARRAY(&v));
    for (ULONG i = 0; i < V_ARRAY(&v)->rgsabound[0].cElements; ++i) {
        const VARIANT& e = data.as<VARIANT>()[i];
        out.push_back(V_VT(&e) == VT_BSTR ? std::string(V_BSTR(&e), V_BSTR(&e) + SysStringLen(V_BSTR(&e)))
                                          : V_VT(&e) == VT_EMPTY ? "<Empty>" : "vt" + std::to_string(V_VT(&e)));
    }
    return out;
}

// While it lives, the second BSTR that zTolvera allocates cannot be made: the
// second element of an array of texts.
struct SecondBstrFails {
    SecondBstrFails() {
        made = 0;
        memory::setFaultHook([](memory::Allocation what) { return what == memory::Allocation::Bstr && ++made == 2; });
    }
    ~SecondBstrFails() { memory::setFaultHook(nullptr); }
    static inline int made = 0;
};

// An element that cannot be made stays Empty and the pair queries still
// return the rest; the data sources, on the other hand, come whole or not
// at all.
TEST_F(ExchangeTest, AnElementThatCannotBeMadeStaysEmptyAmongTheRest) {
    BoundJob job(probe::kJob, probe::kPwd);
    long rc = 0;
    for (const wchar_t* name : {L"a", L"b"}) {
        Bstr key(name), value(L"v");
        ASSERT_EQ(ext->DictionaryInsertValue(key.get(), value.get(), &rc), S_OK);
    }
    Variant all, matching, sources;
    long n = 0, m = 0;
    Bstr pattern(L"*");
    HRESULT allHr, matchingHr, sourcesHr;
    {
        SecondBstrFails once;
        allHr = ext->DictionaryRetrieveAllValues(&all, &n);
    }
    {
        SecondBstrFails once;
        matchingHr = ext->DictionaryRetrieveByPattern(pattern.get(), &matching, &m);
    }
    {
        SecondBstrFails once;
        sourcesHr = ext->FetchDataSources(0, &sources);
    }

    EXPECT_EQ(allHr, S_OK);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(elements(all), (Lines{"a", "<Empty>", "b", "v"}));
    EXPECT_EQ(matchingHr, S_OK);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(elements(matching), (Lines{"a", "<Empty>", "b", "v"}));
    EXPECT_EQ(sourcesHr, S_FALSE);
    EXPECT_EQ(V_VT(&sources), VT_EMPTY);
}

}  // namespace
