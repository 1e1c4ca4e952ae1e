// ScpExt as scripts see it: names and dispatch identifiers from the type
// library, and a first round trip from VBScript down to the agent core.
#include <gtest/gtest.h>

#include <optional>

#include "activation.h"
#include "bound_job.h"
#include "owners.h"
#include "scpext.h"
#include "script_fixture.h"

namespace {

struct DispatchTest : ::testing::Test {
    void SetUp() override {
        setUpComForTests();
        standin_reset();
    }
    ComPtr<IScpExt> ext{ScpExt::create()};
};

TEST_F(DispatchTest, EveryMethodNameResolvesToItsDispatchIdentifier) {
    struct Name { const wchar_t* name; DISPID id; };
    const Name names[] = {
        {L"setStandAlone", 1},
        {L"CreateEvent", 2},
        {L"CreateData", 3},
        {L"GetAgentInfo", 4},
        {L"GetJobID", 5},
        {L"GetScriptInterval", 6},
        {L"GetMachName", 7},
        {L"GetTempFileName", 8},
        {L"AbortScript", 9},
        {L"GetVersion", 10},
        {L"GetProgID", 11},
        {L"IterationCount", 12},
        {L"Item", 13},
        {L"ItemCount", 14},
        {L"GetObjItem", 15},
        {L"GetObjItemCnt", 16},
        {L"GetObjList", 17},
        {L"GetParameter", 18},
        {L"GetSecurityContext", 19},
        {L"ExportData", 20},
        {L"ImportData", 21},
        {L"CVSleep", 22},
        {L"WaitForObject", 23},
        {L"MCEnterCS", 24},
        {L"MCExitCS", 25},
        {L"IsMCAction", 26},
        {L"IsActionAllow", 27},
        {L"UpdateAction", 28},
        {L"MCRebootNT", 29},
        {L"MCInCluster", 30},
        {L"MCIsActionRunning", 31},
        {L"MCEnableComm", 32},
        {L"MCDisableComm", 33},
        {L"MCEnableUpload", 34},
        {L"MCUpload", 35},
        {L"MCSetCommType", 36},
        {L"MCConfigNetFlow", 37},
        {L"MCSetPrimaryMS", 38},
        {L"MCSetMasterMC", 39},
        {L"MCSetBlackOut", 40},
        {L"MCSetResRequired", 41},
        {L"MCCompactDB", 42},
        {L"ZTrace", 43},
        {L"RaiseEvent", 44},
        {L"DynaCollectData", 45},
        {L"MCUpdateKey", 46},
        {L"MSActions", 47},
        {L"MSLongActions", 48},
        {L"DataHeader", 49},
        {L"LongDataHeader", 50},
        {L"DataLog", 51},
        {L"LongDataLog", 52},
        {L"DynaDataLog", 53},
        {L"LongDynaDataLog", 54},
        {L"MCAbort", 55},
        {L"MCVersion", 56},
        {L"GetKPInterval", 57},
        {L"GetContextEx", 58},
        {L"MCGetMOID", 59},
        {L"MCConfigPrimaryMS", 60},
        {L"FetchDataSources", 61},
        {L"CreateProxyEvent", 62},
        {L"DictionaryInsertValue", 63},
        {L"DictionaryRetrieveValue", 64},
        {L"DictionaryRetrieveAllValues", 65},
        {L"DictionaryRetrieveByPattern", 66},
        {L"DictionaryRemoveValue", 67},
        {L"EventXMLToPlainText", 68},
        {L"SampleLock", 69},
        {L"AcquireLock", 70},
        {L"CreateEventEx", 71},
        {L"CreateDataEx", 72},
        {L"AbortScriptEx", 73},
        {L"WaitForObjectEx", 74},
        {L"cvDiffDateFromString", 75}
    };
    ASSERT_EQ(std::size(names), 75u);
    for (const Name& n : names) {
        LPOLESTR name = const_cast<LPOLESTR>(n.name);
        DISPID id = 0;
        EXPECT_EQ(ext->GetIDsOfNames(IID_NULL, &name, 1, 0x409, &id), S_OK) << n.name;
        EXPECT_EQ(id, n.id) << n.name;
    }
    // Scripts match names without regard to case.
    LPOLESTR lower = const_cast<LPOLESTR>(L"cvsleep");
    DISPID id = 0;
    EXPECT_EQ(ext->GetIDsOfNames(IID_NULL, &lower, 1, 0x409, &id), S_OK);
    EXPECT_EQ(id, 22);
}

TEST_F(DispatchTest, UnknownNamesAndIdentifiersAreRefused) {
    LPOLESTR name = const_cast<LPOLESTR>(L"NoSuchMethod");
    DISPID id = 0;
    EXPECT_EQ(ext->GetIDsOfNames(IID_NULL, &name, 1, 0x409, &id), DISP_E_UNKNOWNNAME);
    DISPPARAMS none = {};
    for (DISPID bad : {0, 76, -1})
        EXPECT_EQ(ext->Invoke(bad, IID_NULL, 0x409, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND) << bad;
    UINT count = 0;
    EXPECT_EQ(ext->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(ext->GetTypeInfo(0, 0, info.put()), S_OK);
}

TEST_F(DispatchTest, IdentityAnswersItsThreeInterfacesOnly) {
    ComPtr<IUnknown> unk;
    ComPtr<IDispatch> disp;
    EXPECT_EQ(ext.as(unk), S_OK);
    EXPECT_EQ(ext.as(disp), S_OK);
    EXPECT_EQ(static_cast<void*>(unk.get()), static_cast<void*>(ext.get()));
    ComPtr<IClassFactory> other;
    EXPECT_EQ(ext.as(other), E_NOINTERFACE);
    EXPECT_FALSE(other);
}

TEST_F(DispatchTest, ScriptCallsReachTheCoreWithTheJobContextOfTheirThread) {
    ScriptResult r = runScript(
        L"Sub main()\n"
        L"  CVEXT.setStandAlone\n"
        L"  CVFLEXT.MSActions 3, \"disk full\", \"NULL\", \"C:\", \"null\"\n"
        L"End Sub\n",
        4, 4001);
    EXPECT_EQ(r.compile, S_OK);
    EXPECT_EQ(r.run, S_OK);
    EXPECT_EQ(r.ret, 1);
    // The left-out value arrives as its declared default -1.0; "NULL" in any
    // case as a null pointer; proxy flag 0 and no knowledge-base data.
    EXPECT_EQ(journal(), (std::vector<std::string>{
        R"({"op":"setStandAlone","args":[]})",
        R"({"job":4,"op":"MSActions","ctx":[4,4001],"args":[3,"disk full",null,"C:",null,-1.0,0,null,null]})",
    }));
}

TEST_F(DispatchTest, ArgumentsLeftOutBetweenOthersArriveWithTheirDefaults) {
    struct Case { const wchar_t* call; const char* line; };
    const Case cases[] = {
        // A real parameter gets its default -1.0, not the bits of the marker
        // the engine passes for "left out".
        // One argument too many, itself left out: the platform passes the
        // declared parameters and ignores what lies beyond them.
        {L"CVEXT.MSActions 1, \"a\", \"b\", \"c\", \"d\", , 5",
         R"({"job":4,"op":"MSActions","ctx":[4,4001],"args":[1,"a","b","c","d",-1.0,0,null,null]})"},
        {L"CVEXT.CreateProxyEvent 3, \"ev\", \"a\", \"o\", , \"p\", \"s\", 1, 2",
         R"({"job":4,"op":"MSLongActions","ctx":[4,4001],"args":[3,"ev","a","o","p",-1,-1.0,1,null,null]})"},
        {L"CVEXT.CreateData \"s\", \"l\", \"d\", \"o\", 1, \"m\", 0, \"sch\", 5, , 7",
         R"({"job":4,"op":"DynaCollectData","ctx":[4,4001],"args":["s","l",5,-1.0,7.0,"d","sch","o",1.0,"m",0,-1,-1,0,null,null]})"},
        {L"CVEXT.CreateData \"s\", \"l\", \"d\", \"o\", 1, \"m\", 0, , , , , False",
         R"({"job":4,"op":"DynaCollectData","ctx":[4,4001],"args":["s","l",-1,-1.0,-1.0,"d",null,"o",1.0,"m",0,0,-1,0,null,null]})"},
        // Stored defaults between given arguments, beside a given real.
        {L"CVEXT.MSLongActions 1, \"m\", \"a\", \"o\", \"p\", , 5",
         R"({"job":4,"op":"MSLongActions","ctx":[4,4001],"args":[1,"m","a","o","p",-1,5.0,0,null,null]})"},
    };
    for (const Case& c : cases) {
        standin_reset();
        ScriptResult r = runScript(std::wstring(L"Sub main()\n") + c.call + L"\nEnd Sub\n", 4, 4001);
        EXPECT_EQ(r.run, S_OK) << c.line;
        EXPECT_EQ(journal(), std::vector<std::string>{c.line});
    }
}

// A call that leaves out a required argument is answered as for any method,
// with the engine's "wrong number of arguments" (450), and reaches no core.
TEST_F(DispatchTest, LeftOutRequiredArgumentsAreTheEnginesError) {
    runScript(L"Sub main()\nCVEXT.MSActions 1, \"a\"\nEnd Sub\n", 4, 4001);
    const std::string text = "Microsoft VBScript runtime error [Line: 1] Wrong number of arguments or invalid property assignment";
    EXPECT_EQ(journal(), (std::vector<std::string>{R"({"trace":"onScriptError: )" + text + R"("})",
                                                   R"({"job":4,"op":"sendScpException","args":[")" + text + R"(",1]})"}));
}

// Clients other than VBScript name their arguments; the real default still
// applies to the one they leave out, and a left-out required one is refused.
TEST_F(DispatchTest, NamedArgumentsGetTheRealDefaultToo) {
    BoundJob job(4, 4001);
    const wchar_t* names[] = {L"MSActions", L"agtmsg", L"objlist", L"akp", L"evtmsg", L"sev", L"value"};
    DISPID ids[7] = {};
    ASSERT_EQ(ext->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(names), 7, 0x409, ids), S_OK);
    EXPECT_EQ(ids[0], 47);
    Variant args[5];
    const wchar_t* texts[] = {L"m", L"o", L"a", L"e"};
    for (int i = 0; i < 4; ++i) {
        V_VT(&args[i]) = VT_BSTR;
        V_BSTR(&args[i]) = SysAllocString(texts[i]);
    }
    V_VT(&args[4]) = VT_I4;
    V_I4(&args[4]) = 2;
    DISPPARAMS params = {args, ids + 1, 5, 5};
    EXPECT_EQ(ext->Invoke(47, IID_NULL, 0x409, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    // Without sev: refused before the core.
    DISPPARAMS missing = {args, ids + 1, 4, 4};
    UINT argErr = 0;
    EXPECT_EQ(ext->Invoke(47, IID_NULL, 0x409, DISPATCH_METHOD, &missing, nullptr, nullptr, &argErr), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(journal(), (std::vector<std::string>{
        R"({"job":4,"op":"MSActions","ctx":[4,4001],"args":[2,"e","a","o","m",-1.0,0,null,null]})"}));
}

TEST_F(DispatchTest, CallsOnAThreadWithoutAJobReturnWithoutReachingTheCore) {
    Bstr msg(L"m");
    EXPECT_EQ(ext->MSActions(1, msg.get(), msg.get(), msg.get(), msg.get(), 1.0), S_FALSE);
    EXPECT_EQ(ext->setStandAlone(), S_OK);
    EXPECT_EQ(journal(), std::vector<std::string>{R"({"op":"setStandAlone","args":[]})"});
}

// A job registered without a job object has no job context: its script
// runs, but every call that needs a job returns S_FALSE before the core.
TEST_F(DispatchTest, AJobWithoutAJobObjectNeverReachesTheCore) {
    ComPtr<ITolvera> host;
    host.attach(createHost());
    ASSERT_TRUE(host);
    wchar_t name[] = L"orphan";
    vsinfo info = {9, name, 0};
    ULONG cookie = 0;
    ASSERT_EQ(host->reg(info, &cookie), S_OK);
    Bstr script(L"Sub main()\n"
                L"  CVEXT.MSActions 1, \"a\", \"b\", \"c\", \"d\"\n"
                L"  CVEXT.ZTrace \"hello\"\n"
                L"  CVEXT.DataLog 1, 2.5, \"m\"\n"
                L"  n = CVEXT.CVSleep(5)\n"
                L"  Err.Raise 1000, \"probe\", CVEXT.GetJobID() & \"|\" & n & \"|\" & CVEXT.GetMachName() & \"|\" & CVEXT.DictionaryInsertValue(\"k\", \"v\")\n"
                L"End Sub\n");
    standin_reset();
    VARIANT_BOOL ret = 0;
    EXPECT_EQ(host->compile(cookie, script.get()), S_OK);
    host->run(cookie, 9001, &ret);
    host->unreg(cookie);
    // No core call; the script's error, with what it saw, goes to no job.
    EXPECT_EQ(journal(), (std::vector<std::string>{R"({"trace":"onScriptError: probe [Line: 5] 0|0||0"})",
                                                   R"({"trace":"onScriptError: failed to locate job ref"})"}));

    // The same calls made directly answer S_FALSE.
    Activation orphan;
    orphan.pwdobj = 9001;
    std::optional<ActivationScope> bound(std::in_place, orphan);
    Bstr text(L"t");
    long n = 5;
    EXPECT_EQ(ext->MSActions(1, text.get(), text.get(), text.get(), text.get(), 1.0), S_FALSE);
    EXPECT_EQ(ext->ZTrace(text.get()), S_FALSE);
    EXPECT_EQ(ext->CVSleep(5, VARIANT_FALSE, &n), S_FALSE);
    EXPECT_EQ(ext->DictionaryInsertValue(text.get(), text.get(), &n), S_FALSE);
    bound.reset();
    EXPECT_EQ(journal().size(), 2u);
}

}  // namespace
