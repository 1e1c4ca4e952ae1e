// Agent control: from VBScript through ScpExt down to what the stand-in core
// received, and the results and error messages the script gets back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script_probe.h"

namespace {

using probe::Lines;
using probe::call;
using probe::reports;
using probe::runMain;

using AgentControlTest = probe::Test;

struct Case {
    const wchar_t* expression;   // the call as the script writes it
    const char* op;
    const char* args;            // what the core received
};

// Each call's answer reaches the script as CInt of its Boolean, so that 1 and
// True (-1) stay apart.
const Case plainCases[] = {
    {L"CVEXT.IsMCAction", "IsMCAction", ""},
    {L"CVEXT.UpdateAction", "UpdateAction", ""},
    {L"CVEXT.MCInCluster", "MCInCluster", ""},
    {L"CVEXT.MCIsActionRunning(\"akp1\")", "IsMCActionRunning", R"("akp1")"},
    {L"CVEXT.MCEnableComm()", "MCEnableComm", "0"},          // left out: false
    {L"CVEXT.MCDisableComm(True)", "MCDisableComm", "-1"},
    {L"CVEXT.MCEnableUpload(5)", "MCEnableUpload", "5"},
    {L"CVEXT.MCUpload(6)", "MCUpload", "6"},
};

std::wstring reportEach(const Case* begin, const Case* end) {
    std::wstring body;
    for (const Case* c = begin; c != end; ++c)
        body += L"r = " + std::wstring(c->expression) + L"\nCVEXT.ZTrace CStr(CInt(r)) & \" \" & TypeName(r)\n";
    return body;
}

TEST_F(AgentControlTest, PlainOperationsPassTheirArgumentsAndTheLow16BitsOfTheResult) {
    struct Result { long core; const char* seen; };
    const Result results[] = {{1, "1 Boolean"}, {-1, "-1 Boolean"}, {65536, "0 Boolean"}, {0, "0 Boolean"}};
    for (const Result& result : results) {
        standin_reset();
        for (const Case& c : plainCases) standin_setResult(c.op, result.core);
        ScriptResult r = runMain(reportEach(std::begin(plainCases), std::end(plainCases)));
        ASSERT_EQ(r.run, S_OK);
        EXPECT_EQ(reports(), Lines(std::size(plainCases), result.seen)) << result.core;
        for (const Case& c : plainCases) EXPECT_EQ(calls(c.op), (Lines{call(c.op, c.args)})) << c.op;
    }
}

// `e` is the script's errmsg variable; the core's buffer shows last in the
// journal, as the text written ("" when nothing was).
const Case messageCases[] = {
    {L"CVEXT.IsActionAllow(2, 24, e)", "IsActionAllow", R"(2,24,"")"},
    {L"CVEXT.MCRebootNT(\"bye\", 30, True, False, e)", "MCRebootNT", R"("bye",30,-1,0,"")"},
    {L"CVEXT.MCSetCommType(3, e)", "MCSetCommType", R"(3,"")"},
    {L"CVEXT.MCConfigNetFlow(100, 10, 5, True, e)", "MCConfigNetFlow", R"(100,10,5,-1,"")"},
    // mchost is never read: host flag 0 and a null host either way.
    {L"CVEXT.MCSetPrimaryMS(\"ms1\", e, \"ms2\", 1, \"host\")", "MCPrimaryMS", R"("ms1","ms2",1,"",0,null)"},
    {L"CVEXT.MCSetPrimaryMS(\"ms1\", e, \"\", 2)", "MCPrimaryMS", R"("ms1","",2,"",0,null)"},
    {L"CVEXT.MCSetMasterMC(\"rsc\", \"mc\", e)", "MCSetMasterMC", R"("rsc","mc","")"},
    {L"CVEXT.MCSetBlackOut(\"rsc\", e)", "MCSetBlackOut", R"("rsc","")"},
    {L"CVEXT.MCSetResRequired(\"rsc\", \"r1,r2\", \"nUlL\", e)", "MCSetResRequired", R"("rsc","r1,r2",null,"")"},
    {L"CVEXT.MCCompactDB(e)", "MCCompactDB", R"("")"},
    {L"CVEXT.MCConfigPrimaryMS(\"ms1\", \"ms2\", \"NULL\", 0, e)", "MCPrimaryMS", R"("ms1","ms2",0,"",1,null)"},
    {L"CVEXT.MCConfigPrimaryMS(\"ms1\", \"ms2\", \"h1\", 0, e)", "MCPrimaryMS", R"("ms1","ms2",0,"",1,"h1")"},
};

std::wstring withMessage(const Case& c) {
    return L"e = \"earlier\"\nr = " + std::wstring(c.expression) +
           L"\nCVEXT.ZTrace CStr(CInt(r)) & \"|\" & TypeName(e) & \"|\" & e";
}

TEST_F(AgentControlTest, SuccessLeavesErrmsgAsTheScriptPutIt) {
    for (const Case& c : messageCases) {
        standin_reset();
        standin_setResult(c.op, 1);
        ScriptResult r = runMain(withMessage(c));
        ASSERT_EQ(r.run, S_OK) << c.op;
        EXPECT_EQ(reports(), (Lines{"1|String|earlier"})) << c.op;
        EXPECT_EQ(calls(c.op), (Lines{call(c.op, c.args)})) << c.op;
    }
}

TEST_F(AgentControlTest, FailureHandsTheCoresMessageToTheScript) {
    for (const Case& c : messageCases) {
        standin_reset();
        standin_setResult(c.op, 0);
        standin_setText(c.op, "not now");
        ASSERT_EQ(runMain(withMessage(c)).run, S_OK) << c.op;
        EXPECT_EQ(reports(), (Lines{"0|String|not now"})) << c.op;
    }
}

TEST_F(AgentControlTest, SilentFailureGivesAnEmptyMessageNotStackContents) {
    // The first failure fills a buffer with a long text; the second core
    // writes nothing at all into its buffer.
    standin_setResult("MCSetBlackOut", 0);
    standin_setText("MCSetBlackOut", std::string(300, 'x').c_str());
    for (const char* op : {"MCCompactDB", "MCSetCommType"}) standin_setResult(op, 0);
    ScriptResult r = runMain(L"e = \"earlier\"\n"
                             L"CVEXT.MCSetBlackOut \"rsc\", e\n"
                             L"CVEXT.ZTrace CStr(Len(e))\n"
                             L"e = \"earlier\"\n"
                             L"CVEXT.MCCompactDB e\n"
                             L"CVEXT.ZTrace TypeName(e) & \"[\" & e & \"]\"\n"
                             L"CVEXT.MCSetBlackOut \"rsc\", e\n"
                             L"CVEXT.MCSetCommType 1, e\n"
                             L"CVEXT.ZTrace TypeName(e) & \"[\" & e & \"]\"");
    ASSERT_EQ(r.run, S_OK);
    EXPECT_EQ(reports(), (Lines{"300", "String[]", "String[]"}));
}

TEST_F(AgentControlTest, WithoutAJobNothingIsAskedAndErrmsgIsUntouched) {
    Variant errmsg;
    V_VT(&errmsg) = VT_I4;
    V_I4(&errmsg) = 7;
    VARIANT_BOOL ret = 5;
    EXPECT_EQ(ext->MCCompactDB(&errmsg, &ret), S_FALSE);
    EXPECT_EQ(ret, VARIANT_FALSE);
    EXPECT_EQ(V_VT(&errmsg), VT_I4);
    ret = 5;
    EXPECT_EQ(ext->MCConfigPrimaryMS(nullptr, nullptr, nullptr, 0, &errmsg, &ret), S_FALSE);
    EXPECT_EQ(ret, VARIANT_FALSE);
    ret = 5;
    EXPECT_EQ(ext->IsMCAction(&ret), S_FALSE);
    EXPECT_EQ(ret, VARIANT_FALSE);
    ret = 5;
    EXPECT_EQ(ext->MCEnableComm(VARIANT_TRUE, &ret), S_FALSE);
    EXPECT_EQ(ret, VARIANT_FALSE);
    EXPECT_EQ(journal(), Lines{});
}

TEST_F(AgentControlTest, UpdateKeyWorksWithoutAJobAndAlwaysReturnsTheReply) {
    struct KeyCase { long core; const char* text; HRESULT hr; VARIANT_BOOL ret; const wchar_t* reply; };
    const KeyCase cases[] = {
        {1, nullptr, S_OK, 1, L"key updated"},
        {0, "bad key file", S_FALSE, VARIANT_FALSE, L"bad key file"},
        {0, "", S_FALSE, VARIANT_FALSE, L""},          // an empty reply is an empty string, not null
        {-1, "done", S_OK, VARIANT_TRUE, L"done"},
        {65536, "odd", S_FALSE, VARIANT_FALSE, L"odd"},
    };
    for (const KeyCase& c : cases) {
        standin_reset();
        standin_setResult("MCUpdateKey", c.core);
        if (c.text) standin_setText("MCUpdateKey", c.text);
        Bstr keyfile(L"C:\\keys\\agent.key"), password(L"s3cret!");
        Bstr reply;
        VARIANT_BOOL ret = 5;
        EXPECT_EQ(ext->MCUpdateKey(keyfile.get(), password.get(), reply.put(), &ret), c.hr) << c.core;
        EXPECT_EQ(ret, c.ret) << c.core;
        ASSERT_TRUE(reply) << c.core;
        EXPECT_STREQ(reply.get(), c.reply);
        Lines lines = journal();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].find("s3cret"), std::string::npos) << lines[0];
        EXPECT_EQ(lines[0].rfind(R"({"op":"MCUpdateKey","args":["C:\\keys\\agent.key","***",)", 0), 0u) << lines[0];
    }
}

TEST_F(AgentControlTest, UpdateKeyThroughDispatchFillsTheScriptsString) {
    standin_setResult("MCUpdateKey", 0);
    standin_setText("MCUpdateKey", "expired");
    Bstr reply(L"stale");
    VARIANT args[3];
    // Positional arguments go last first.
    V_VT(&args[2]) = VT_BSTR;
    V_BSTR(&args[2]) = SysAllocString(L"NULL");
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = SysAllocString(L"pw");
    V_VT(&args[0]) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&args[0]) = reply.put();
    DISPPARAMS params = {args, nullptr, 3, 0};
    Variant result;
    ASSERT_EQ(ext->Invoke(46, IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(V_VT(&result), VT_BOOL);
    EXPECT_EQ(V_BOOL(&result), VARIANT_FALSE);
    EXPECT_STREQ(reply.get(), L"expired");
    EXPECT_EQ(journal(), (Lines{R"({"op":"MCUpdateKey","args":[null,"***","expired"]})"}));
    SysFreeString(V_BSTR(&args[2]));   // the caller's own arguments
    SysFreeString(V_BSTR(&args[1]));
}

TEST_F(AgentControlTest, UpdateKeyFromAScriptVariableIsATypeMismatchThatLeaksNoPassword) {
    // A script variable cannot stand for an [out] BSTR: the engine reports a
    // type mismatch before the method runs, and the error report carries no
    // argument values.
    ScriptResult r = runMain(L"CVEXT.MCUpdateKey \"k.key\", \"hunter22\", s");
    EXPECT_TRUE(FAILED(r.run));
    EXPECT_TRUE(calls("MCUpdateKey").empty());
    for (const std::string& line : fullJournal()) EXPECT_EQ(line.find("hunter22"), std::string::npos) << line;
}

}  // namespace
