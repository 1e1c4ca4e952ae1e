// Job information and utilities: from VBScript through ScpExt down to what
// the stand-in core received, and back to the script through ZTrace.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bound_job.h"
#include "script_probe.h"

namespace {

using probe::call;
using probe::kJob;
using probe::kPwd;
using probe::Lines;
using probe::runMain;
using JobInfoTest = probe::Test;

TEST_F(JobInfoTest, ZTraceHandsTheTextOverUnchanged) {
    expectRan(runMain(L"CVEXT.ZTrace \"disk C: 93%\"\nCVEXT.ZTrace \"\"\nCVEXT.ZTrace \"nUlL\"\n"
                      L"CVFLEXT.ZTrace \"two\" & vbCrLf & \"lines\""));
    EXPECT_EQ(journal(), (Lines{
        call("ZTrace", R"("disk C: 93%")"), call("ZTrace", R"("")"), call("ZTrace", "null"),
        call("ZTrace", R"("two\r\nlines")"),
    }));
    EXPECT_EQ(ext->ZTrace(Bstr(L"no job").get()), S_FALSE);
    EXPECT_EQ(journal().size(), 4u);
}

TEST_F(JobInfoTest, NumericGettersGiveTheCoresNumbersAndIntervalsAgree) {
    standin_setResult("IterationCount", 12);
    standin_setResult("GetKPInterval", 0x80000000L);   // bit pattern passes unchanged
    expectRan(runMain(
        L"CVEXT.ZTrace CStr(CVEXT.GetJobID) & \" \" & TypeName(CVEXT.GetJobID)\n"
        L"CVEXT.ZTrace CStr(CVEXT.GetScriptInterval) & \" \" & CStr(CVEXT.GetKPInterval)\n"
        L"CVEXT.ZTrace CStr(CVEXT.IterationCount)"));
    EXPECT_EQ(probe::reports(), (Lines{"3 Long", "-2147483648 -2147483648", "12"}));
    // GetScriptInterval asks the core for the same interval as GetKPInterval.
    EXPECT_EQ(calls("GetKPInterval"), (Lines{call("GetKPInterval", ""), call("GetKPInterval", "")}));
}

TEST_F(JobInfoTest, NumericGettersGiveZeroForAllBitsSetOrWithoutAJob) {
    for (const char* op : {"GetJobID", "GetKPInterval", "IterationCount"}) standin_setResult(op, -1);
    expectRan(runMain(
        L"CVEXT.ZTrace CStr(CVEXT.GetJobID) & CStr(CVEXT.GetScriptInterval) & "
        L"CStr(CVEXT.GetKPInterval) & CStr(CVEXT.IterationCount)"));
    EXPECT_EQ(probe::reports(), Lines{"0000"});

    standin_reset();
    using Getter = HRESULT (STDMETHODCALLTYPE IScpExt::*)(long*);
    for (Getter get : {&IScpExt::GetJobID, &IScpExt::GetScriptInterval, &IScpExt::GetKPInterval,
                       &IScpExt::IterationCount}) {
        long value = 99;
        EXPECT_EQ((ext.get()->*get)(&value), S_FALSE);
        EXPECT_EQ(value, 0);
    }
    EXPECT_TRUE(journal().empty());
}

// Each fixed-size buffer holds a text one shorter than itself whole; a
// longer text is cut by the core to what the buffer holds, and a core that
// fills the buffer to its last byte without a NUL still gives the script a
// text of that length, not one read past the buffer.
TEST_F(JobInfoTest, CoreTextsFillTheirFixedBuffersWhole) {
    struct Case { const char* op; const wchar_t* statement; std::size_t room; long result; };
    const Case cases[] = {
        {"GetMachName", L"v = CVEXT.GetMachName", 255, 1},
        {"MCGetMOID", L"v = CVEXT.MCGetMOID(\"prog\", \"1\")", 79, 1},
        {"MCGetMOID", L"v = CVEXT.GetProgID(\"prog\", \"1\")", 79, 1},
        {"MCVersion", L"CVEXT.MCVersion \"comp\", v", 39, 1},
        {"MCVersion", L"CVEXT.GetVersion \"comp\", v", 39, 1},
        {"IsActionAllow", L"CVEXT.IsActionAllow 1, 2, v", 511, 0},
        {"MCSetBlackOut", L"CVEXT.MCSetBlackOut \"rsc\", v", 511, 0},
    };
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
    for (const Case& c : cases) {
        std::string full;
        while (full.size() < c.room + 20) full += alphabet;
        struct Fill { std::size_t length; bool brim; };
        for (Fill f : {Fill{c.room, false}, Fill{c.room + 20, false}, Fill{alphabet.size(), true}}) {
            standin_reset();
            standin_setResult(c.op, c.result);
            standin_setText(c.op, full.substr(0, f.length).c_str());
            standin_setUnterminated(c.op, f.brim);
            expectRan(runMain(L"Dim v\n" + std::wstring(c.statement) + L"\nCVEXT.ZTrace v"));
            EXPECT_EQ(probe::reports(), Lines{full.substr(0, c.room)}) << c.op << " " << f.length << (f.brim ? " to the brim" : "");
        }
    }
    // The key update's 256-byte reply, which no script engine here can take
    // by reference, directly.
    standin_reset();
    standin_setText("MCUpdateKey", alphabet.c_str());
    standin_setUnterminated("MCUpdateKey", 1);
    Bstr key(L"key"), password(L"pw"), reply;
    VARIANT_BOOL ret = 0;
    EXPECT_EQ(ext->MCUpdateKey(key.get(), password.get(), reply.put(), &ret), S_OK);
    std::string expected;
    while (expected.size() < 255) expected += alphabet;
    expected.resize(255);
    ASSERT_TRUE(reply);
    EXPECT_EQ(std::string(reply.get(), reply.get() + SysStringLen(reply.get())), expected);
}

TEST_F(JobInfoTest, StringGettersFailToAnEmptyOrKeptValue) {
    standin_setResult("GetMachName", 0);
    standin_setResult("MCGetMOID", 0);
    expectRan(runMain(L"CVEXT.ZTrace \"[\" & CVEXT.GetMachName & \"][\" & CVEXT.GetProgID(\"p\", \"NULL\") & \"]\""));
    EXPECT_EQ(probe::reports(), Lines{"[][]"});
    EXPECT_EQ(calls("MCGetMOID"), Lines{call("MCGetMOID", R"("p",null,"")")});

    // Outside a script the kept value shows: GetProgID and MCGetMOID leave
    // their out-parameter alone on failure, GetMachName clears it.
    BoundJob job(kJob, kPwd);
    Bstr p(L"p"), v(L"1");
    Bstr kept(L"kept");
    BSTR out = kept.get();
    EXPECT_EQ(ext->MCGetMOID(p.get(), v.get(), &out), S_FALSE);
    EXPECT_EQ(out, kept.get());
    EXPECT_EQ(ext->GetProgID(p.get(), v.get(), &out), S_FALSE);
    EXPECT_EQ(out, kept.get());
    EXPECT_EQ(ext->GetMachName(&out), S_FALSE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(JobInfoTest, VersionQueriesPassFullpathAndKeepTheVariableOnFailure) {
    expectRan(runMain(
        L"Dim v\n"
        L"CVEXT.GetVersion \"agent.exe\", v\n"
        L"CVEXT.GetVersion \"C:\\agent\\agent.exe\", v\n"
        L"CVEXT.GetVersion \"NULL\", v\n"
        L"CVEXT.MCVersion \"core\", v, True\n"
        L"CVEXT.MCVersion \"core\", v, False\n"
        L"CVEXT.MCVersion \"core\", v\n"
        L"CVEXT.ZTrace v & \" \" & TypeName(v)"));
    EXPECT_EQ(calls("MCVersion"), (Lines{
        call("MCVersion", R"("agent.exe","1.0.0.0",0)"),
        call("MCVersion", R"("C:\\agent\\agent.exe","1.0.0.0",1)"),
        call("MCVersion", R"(null,"1.0.0.0",0)"),
        call("MCVersion", R"("core","1.0.0.0",-1)"),
        call("MCVersion", R"("core","1.0.0.0",0)"),
        call("MCVersion", R"("core","1.0.0.0",0)"),
    }));
    EXPECT_EQ(probe::reports(), Lines{"1.0.0.0 String"});

    standin_reset();
    standin_setResult("MCVersion", 0);
    expectRan(runMain(L"Dim v, w\nv = 42\nCVEXT.GetVersion \"a.exe\", v\nCVEXT.MCVersion \"c\", w, True\n"
                      L"CVEXT.ZTrace TypeName(v) & \" \" & CStr(v) & \" \" & TypeName(w)"));
    EXPECT_EQ(probe::reports(), Lines{"Integer 42 Empty"});
}

TEST_F(JobInfoTest, SecurityContextAsksUnderFixedLabelNamesAndAnswersOne) {
    expectRan(runMain(
        L"Dim v, r\n"
        L"r = CVEXT.GetSecurityContext(\"ops\", \"NULL\", \"password\", v)\n"
        L"If r = True Then CVEXT.ZTrace \"equals True\"\n"
        L"If r Then CVEXT.ZTrace \"true\"\n"
        L"CVEXT.ZTrace CStr(CInt(r)) & \" \" & v"));
    EXPECT_EQ(calls("GetContextEx"),
              Lines{call("GetContextEx", R"("label","ops","sub-label",null,1,["password"],"context-value")")});
    EXPECT_EQ(probe::reports(), (Lines{"true", "1 context-value"}));
    EXPECT_EQ(standin_misreleases(), 0);

    standin_reset();
    standin_setResult("GetContextEx", 0);
    expectRan(runMain(
        L"Dim v, r\nv = \"old\"\n"
        L"r = CVEXT.GetSecurityContext(\"ops\", \"x\", \"password\", v)\n"
        L"CVEXT.ZTrace CStr(CInt(r)) & \" \" & v"));
    EXPECT_EQ(probe::reports(), Lines{"0 old"});
}

// The core's value is released through its freeMem on every path; a
// release through free shows as a misrelease.
TEST_F(JobInfoTest, ContextValuesReachTheScriptAndGoBackThroughFreeMem) {
    standin_setText("GetContextEx", "s3cret");
    expectRan(runMain(
        L"Dim v\n"
        L"CVEXT.GetContextEx \"site\", \"east\", \"NULL\", \"\", \"user\", v\n"
        L"CVEXT.ZTrace v\n"
        L"CVEXT.GetContextEx \"site\", \"east\", \"rack\", \"4\", \"user\", v\n"
        L"CVEXT.GetSecurityContext \"a\", \"b\", \"c\", v\n"
        L"CVEXT.ZTrace v"));
    EXPECT_EQ(calls("GetContextEx"), (Lines{
        call("GetContextEx", R"("site","east",null,"",1,["user"],"s3cret")"),
        call("GetContextEx", R"("site","east","rack","4",1,["user"],"s3cret")"),
        call("GetContextEx", R"("label","a","sub-label","b",1,["c"],"s3cret")"),
    }));
    EXPECT_EQ(probe::reports(), (Lines{"s3cret", "s3cret"}));
    EXPECT_EQ(standin_misreleases(), 0);

    standin_reset();
    standin_setResult("GetContextEx", 0);
    expectRan(runMain(L"Dim v\nv = 5\nCVEXT.GetContextEx \"s\", \"e\", \"r\", \"4\", \"u\", v\nCVEXT.ZTrace CStr(v)"));
    EXPECT_EQ(probe::reports(), Lines{"5"});
}

// GetAgentInfo's strings come from the C runtime heap and must go back
// through free: handing them to freeMem shows as a misrelease.
TEST_F(JobInfoTest, AgentInfoNeedsNoJobAndReleasesThroughFree) {
    standin_setText("GetAgentInfo", "9.1.2");
    expectRan(runMain(L"Dim a, b, c\nCVEXT.GetAgentInfo a, b, c\nCVEXT.ZTrace a & \"|\" & b & \"|\" & c"));
    EXPECT_EQ(probe::reports(), Lines{R"(StandInAgent|9.1.2|C:\\agent)"});
    EXPECT_EQ(standin_misreleases(), 0);

    standin_reset();
    Variant a, b, c;
    EXPECT_EQ(ext->GetAgentInfo(&a, &b, &c), S_OK);
    ASSERT_EQ(V_VT(&c), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&c), L"C:\\agent");
    EXPECT_EQ(journal(), Lines{R"({"op":"GetAgentInfo","args":["StandInAgent","1.0.0","C:\\agent"]})"});
    EXPECT_EQ(standin_misreleases(), 0);

    standin_setResult("GetAgentInfo", 0);
    a.clear();
    V_VT(&a) = VT_I4;
    V_I4(&a) = 3;
    EXPECT_EQ(ext->GetAgentInfo(&a, &b, &c), S_FALSE);
    EXPECT_EQ(V_VT(&a), VT_I4);
    EXPECT_STREQ(V_BSTR(&c), L"C:\\agent");

    // The count sees each of the three strings that is still held (leaked)
    // or that went to freeMem.
    standin_reset();
    ravlinapi core(0);
    char *type = nullptr, *version = nullptr, *dir = nullptr;
    ASSERT_EQ(core.GetAgentInfo(&type, &version, &dir), 1);
    EXPECT_EQ(standin_misreleases(), 3);
    std::free(type);
    core.freeMem(version);
    EXPECT_EQ(standin_misreleases(), 2);
    std::free(dir);
    EXPECT_EQ(standin_misreleases(), 1);
}

TEST_F(JobInfoTest, TempFileNamesComeFromThePlatformWithoutAJob) {
    wchar_t tempW[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tempW);
    char tempA[MAX_PATH] = {}, expected[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, tempA);
    GetTempFileNameA(tempA, "zt", 0xbeef, expected);

    Bstr dir(tempW), prefix(L"zt"), nullText(L"NULL");
    Bstr name;
    EXPECT_EQ(ext->GetTempFileName(dir.get(), prefix.get(), 0xbeef, name.put()), S_OK);
    ASSERT_TRUE(name);
    Bstr expectedW;
    expectedW.reset(SysAllocStringLen(nullptr, MAX_PATH));
    mbstowcs(expectedW.get(), expected, MAX_PATH);
    EXPECT_STREQ(name.get(), expectedW.get());
    EXPECT_EQ(GetFileAttributesW(name.get()), INVALID_FILE_ATTRIBUTES);   // a given number creates nothing

    // Unique number 0: the platform picks one and creates the file.
    EXPECT_EQ(ext->GetTempFileName(dir.get(), prefix.get(), 0, name.put()), S_OK);
    ASSERT_TRUE(name);
    EXPECT_NE(GetFileAttributesW(name.get()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteFileW(name.get()));

    // "NULL" is a null path, which the platform refuses; so is a path too long.
    EXPECT_EQ(ext->GetTempFileName(nullText.get(), prefix.get(), 7, name.put()), S_FALSE);
    EXPECT_FALSE(name);
    Bstr longPath((L"C:\\" + std::wstring(400, L'd')).c_str());
    EXPECT_EQ(ext->GetTempFileName(longPath.get(), prefix.get(), 7, name.put()), S_FALSE);
    EXPECT_FALSE(name);
    // An out-parameter is written on failure too, whatever it held before.
    BSTR untouched = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0x1234));
    EXPECT_EQ(ext->GetTempFileName(nullText.get(), prefix.get(), 7, &untouched), S_FALSE);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_TRUE(journal().empty());
}

TEST_F(JobInfoTest, TempFileNameFromAScript) {
    expectRan(runMain(
        L"CVEXT.ZTrace CVEXT.GetTempFileName(\"C:\\windows\\temp\", \"NULL\", 4660)\n"
        L"CVEXT.ZTrace \"[\" & CVEXT.GetTempFileName(\"NULL\", \"zt\", 4660) & \"]\""));
    char expected[MAX_PATH] = {};
    GetTempFileNameA("C:\\windows\\temp", nullptr, 4660, expected);
    std::string escaped;
    for (char ch : std::string(expected)) escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    EXPECT_EQ(probe::reports(), (Lines{escaped, "[]"}));
}

TEST_F(JobInfoTest, ParameterIsEmptyAndDateDifferenceIsTheCoresAnswer) {
    standin_setResult("DiffDateFromString", -86400);
    expectRan(runMain(
        L"Dim p\np = CVEXT.GetParameter(\"threshold\")\n"
        L"CVEXT.ZTrace TypeName(p) & \" \" & TypeName(CVEXT.GetParameter(\"NULL\"))\n"
        L"CVEXT.ZTrace CStr(CVEXT.cvDiffDateFromString(\"2024-01-02\", \"NULL\"))"));
    EXPECT_EQ(journal(), (Lines{
        call("ZTrace", R"("Empty Empty")"),
        call("DiffDateFromString", R"("2024-01-02",null)"),
        call("ZTrace", R"("-86400")"),
    }));
}

TEST_F(JobInfoTest, EventTextTravelsThroughTheAnsiCodePageBothWays) {
    // U+20AC is 0x80 in the ANSI code page but has no form in the C
    // runtime's default locale: only the ANSI conversion carries it.
    expectRan(runMain(
        L"Dim x, t, code\n"
        L"x = \"<e>caf\u00e9 \u20ac</e>\"\n"
        L"code = CVEXT.EventXMLToPlainText(x, t)\n"
        L"If t = x Then CVEXT.ZTrace \"same \" & CStr(code)"));
    EXPECT_EQ(calls("EventXMLToPlainText"),
              Lines{call("EventXMLToPlainText", R"("<e>caf\u00e9 \u20ac</e>","<e>caf\u00e9 \u20ac</e>")")});
    EXPECT_EQ(probe::reports(), Lines{"same 1"});

    standin_reset();
    standin_setText("EventXMLToPlainText", "price \x80 5, caf\xe9");
    expectRan(runMain(
        L"Dim t\nCVEXT.EventXMLToPlainText \"NULL\", t\n"
        L"If t = \"price \u20ac 5, caf\u00e9\" Then CVEXT.ZTrace \"back\""));
    // "NULL" is no null text for this method.
    EXPECT_EQ(calls("EventXMLToPlainText"),
              Lines{call("EventXMLToPlainText", R"("NULL","price \u20ac 5, caf\u00e9")")});
    EXPECT_EQ(probe::reports(), Lines{"back"});
}

TEST_F(JobInfoTest, EventTextOfAFailingCoreIsEmptyWithTheCoresCode) {
    standin_setResult("EventXMLToPlainText", -3);
    expectRan(runMain(
        L"Dim t, code\nt = \"old\"\ncode = CVEXT.EventXMLToPlainText(\"<bad\", t)\n"
        L"CVEXT.ZTrace TypeName(t) & \" [\" & t & \"] \" & CStr(code)"));
    EXPECT_EQ(probe::reports(), Lines{"String [] -3"});

    Bstr xml(L"<e/>");
    long code = 77;
    EXPECT_EQ(ext->EventXMLToPlainText(xml.get(), nullptr, &code), S_FALSE);
    Variant text;
    V_VT(&text) = VT_I4;
    EXPECT_EQ(ext->EventXMLToPlainText(xml.get(), &text, &code), S_FALSE);   // no job
    EXPECT_EQ(V_VT(&text), VT_EMPTY);
    EXPECT_EQ(code, 77);
    EXPECT_EQ(calls("EventXMLToPlainText").size(), 1u);
}

}  // namespace
