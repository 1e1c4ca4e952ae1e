// Data streams and data sources: from VBScript through ScpExt down to what
// the stand-in core received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bound_job.h"
#include "script_probe.h"

namespace {

using probe::call;
using probe::Lines;
using probe::runMain;
using DataStreamsTest = probe::Test;

struct Case {
    std::wstring script;
    const char* op;      // null: no core call
    const char* args;
};

void expectEach(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        standin_reset();
        ScriptResult r = runMain(c.script);
        EXPECT_EQ(r.ret, 1) << c.script;
        EXPECT_EQ(journal(), c.op ? Lines{call(c.op, c.args)} : Lines{}) << c.script;
    }
}

TEST_F(DataStreamsTest, OneCallMethodsPassTheirArgumentsAndDefaults) {
    expectEach({
        // Left out: log limit -1, water marks -1.0, both flags true, log time
        // 0, no schema, knowledge-base identifier or metadata.
        {L"CVEXT.CreateData \"s\", \"leg\", \"dyn\", \"obj\", 2.5, \"msg\", 0", "DynaCollectData",
         R"("s","leg",-1,-1.0,-1.0,"dyn",null,"obj",2.5,"msg",0,-1,-1,0,null,null)"},
        {L"CVEXT.CreateData \"s\", \"leg\", \"NULL\", \"\", 1, \"msg\", 3, \"sch\", 10, 1.5, 9.5, False, True",
         "DynaCollectData", R"("s","leg",10,1.5,9.5,null,"sch","",1.0,"msg",3,0,-1,0,null,null)"},
        {L"CVEXT.CreateDataEx \"KB\", \"<m/>\", \"s\", \"leg\", \"dyn\", \"obj\", 2.5, \"msg\", 0", "DynaCollectData",
         R"("s","leg",-1,-1.0,-1.0,"dyn",null,"obj",2.5,"msg",0,-1,-1,0,"KB","<m/>")"},
        {L"CVEXT.CreateDataEx \"NULL\", \"\", \"s\", \"leg\", \"dyn\", \"obj\", 2.5, \"msg\", 1, \"sch\", 4, 0, 1, True, False, 77",
         "DynaCollectData", R"("s","leg",4,0.0,1.0,"dyn","sch","obj",2.5,"msg",1,-1,0,77,null,"")"},
        {L"CVEXT.DynaCollectData \"s\", \"leg\", \"dyn\", \"obj\", 2.5, \"det\", 0", "DynaCollectData",
         R"("s","leg",-1,-1.0,-1.0,"dyn",null,"obj",2.5,"det",0,-1,-1,0,null,null)"},
        {L"CVEXT.DynaCollectData \"s\", \"leg\", \"dyn\", \"obj\", 2.5, \"det\", 2, \"NULL\", 8, 2, 3, False, False, 5",
         "DynaCollectData", R"("s","leg",8,2.0,3.0,"dyn",null,"obj",2.5,"det",2,0,0,5,null,null)"},
    });
}

TEST_F(DataStreamsTest, DynaCollectDataHidesTheCoresRefusalButCreateDataDoesNot) {
    BoundJob job(probe::kJob, probe::kPwd);
    Bstr s(L"s");
    standin_setResult("DynaCollectData", 0);
    EXPECT_EQ(ext->DynaCollectData(s.get(), s.get(), s.get(), s.get(), 1, s.get(), 0, s.get(), -1, -1, -1, -1, -1, 0), S_OK);
    EXPECT_EQ(ext->CreateData(s.get(), s.get(), s.get(), s.get(), 1, s.get(), 0, s.get(), -1, -1, -1, -1, -1), S_FALSE);
    EXPECT_EQ(ext->CreateDataEx(s.get(), s.get(), s.get(), s.get(), s.get(), s.get(), 1, s.get(), 0, s.get(), -1, -1, -1, -1, -1, 0), S_FALSE);
    standin_setResult("DynaCollectData", 1);
    EXPECT_EQ(ext->CreateData(s.get(), s.get(), s.get(), s.get(), 1, s.get(), 0, s.get(), -1, -1, -1, -1, -1), S_OK);
    EXPECT_EQ(calls("DynaCollectData").size(), 4u);
}

TEST_F(DataStreamsTest, StreamIdNamesAStreamByNumberOrNameOnly) {
    expectEach({
        {L"CVEXT.DataLog 3, 1.5, \"m\"", "DataLog", R"(0,3,1.5,"m",0)"},
        {L"CVEXT.DataLog \"cpu\", 1.5, \"m\", 9", "DataLog", R"(1,"cpu",1.5,"m",9)"},
        {L"CVEXT.DataLog \"NULL\", 1.5, \"NULL\"", "DataLog", R"(1,null,1.5,null,0)"},
        {L"CVEXT.DataLog \"\", 1.5, \"\"", "DataLog", R"(1,"",1.5,"",0)"},
        // A 16-bit -1 widens without sign; a 32-bit value passes unchanged.
        {L"CVEXT.DataLog -1, 1.5, \"m\"", "DataLog", R"(0,65535,1.5,"m",0)"},
        {L"CVEXT.DataLog 70000, 1.5, \"m\"", "DataLog", R"(0,70000,1.5,"m",0)"},
        {L"CVEXT.DataLog CLng(-1), 1.5, \"m\"", "DataLog", R"(0,-1,1.5,"m",0)"},
        {L"Dim id: id = 4\nCVEXT.DataLog id, 1.5, \"m\"", "DataLog", R"(0,4,1.5,"m",0)"},
        {L"Dim id: id = \"mem\"\nCVEXT.DataLog id, 1.5, \"m\"", "DataLog", R"(1,"mem",1.5,"m",0)"},
        // Nothing else is converted into a stream identifier.
        {L"CVEXT.DataLog 2.5, 1.5, \"m\"", nullptr, nullptr},
        {L"CVEXT.DataLog Empty, 1.5, \"m\"", nullptr, nullptr},
        {L"CVEXT.DataLog True, 1.5, \"m\"", nullptr, nullptr},
        {L"CVEXT.DataLog Null, 1.5, \"m\"", nullptr, nullptr},
        {L"CVEXT.DataLog Array(3), 1.5, \"m\"", nullptr, nullptr},
        {L"CVEXT.DataLog CByte(3), 1.5, \"m\"", nullptr, nullptr},
    });
}

TEST_F(DataStreamsTest, StreamMethodsPassTheirArgumentsAfterTheStream) {
    expectEach({
        {L"CVEXT.DataHeader \"leg\", 2, 3", "DataHeader", R"(0,3,"leg",2,null)"},
        {L"CVEXT.DataHeader \"leg\", 2, \"cpu\", \"o\"", "DataHeader", R"(1,"cpu","leg",2,"o")"},
        {L"CVEXT.LongDataHeader \"leg\", 2, 3, 100, 7, 1, 90.5, 0.5, 80, 10", "LongDataHeader",
         R"(0,3,"leg",2,100,7,1,90.5,0.5,80.0,10.0,null)"},
        {L"CVEXT.LongDataHeader \"leg\", 2, \"cpu\", 100, 7, 1, 90.5, 0.5, 80, 10, \"o\"", "LongDataHeader",
         R"(1,"cpu","leg",2,100,7,1,90.5,0.5,80.0,10.0,"o")"},
        {L"CVEXT.LongDataLog 3, 1.5, \"C:\\f\"", "LongDataLog", R"(0,3,1.5,"C:\\f",-1,0)"},
        {L"CVEXT.LongDataLog \"cpu\", 1.5, \"p\", False, 6", "LongDataLog", R"(1,"cpu",1.5,"p",0,6)"},
        {L"CVEXT.DynaDataLog 3, \"leg\", 1.5, \"m\"", "DynaDataLog", R"(0,3,"leg",1.5,"m",null,0)"},
        {L"CVEXT.DynaDataLog \"cpu\", \"leg\", 1.5, \"m\", \"o\", 6", "DynaDataLog", R"(1,"cpu","leg",1.5,"m","o",6)"},
        {L"CVEXT.LongDynaDataLog 3, \"leg\", 1.5, \"p\"", "LongDynaDataLog", R"(0,3,"leg",1.5,"p",-1,null,0)"},
        {L"CVEXT.LongDynaDataLog \"cpu\", \"leg\", 1.5, \"p\", False, \"o\", 6", "LongDynaDataLog",
         R"(1,"cpu","leg",1.5,"p",0,"o",6)"},
        {L"CVEXT.DataHeader \"leg\", 2, 2.5", nullptr, nullptr},
        {L"CVEXT.LongDataHeader \"leg\", 2, True, 100, 7, 1, 90.5, 0.5, 80, 10", nullptr, nullptr},
    });
}

TEST_F(DataStreamsTest, StreamMethodsReportRefusalAndUnusableStreamsAsSFalse) {
    BoundJob job(probe::kJob, probe::kPwd);
    Bstr m(L"m");
    Variant number, real;
    V_VT(&number) = VT_I4;
    V_I4(&number) = 3;
    V_VT(&real) = VT_R8;
    V_R8(&real) = 3.0;
    EXPECT_EQ(ext->DataLog(number, 1, m.get(), 0), S_OK);
    EXPECT_EQ(ext->DataLog(real, 1, m.get(), 0), S_FALSE);
    standin_setResult("DataLog", 0);
    standin_setResult("LongDynaDataLog", 0);
    EXPECT_EQ(ext->DataLog(number, 1, m.get(), 0), S_FALSE);
    EXPECT_EQ(ext->LongDynaDataLog(number, m.get(), 1, m.get(), 0, m.get(), 0), S_FALSE);
    EXPECT_EQ(ext->DataHeader(m.get(), 1, number, m.get()), S_OK);
    EXPECT_EQ(journal().size(), 4u);
}

// The script shows what it received through a probe event.
const wchar_t* kFetch =
    L"Dim s, i, t\n"
    L"CVEXT.FetchDataSources 2, s\n"
    L"t = TypeName(s)\n"
    L"If IsArray(s) Then\n"
    L"  t = t & \":\" & LBound(s) & \":\" & UBound(s)\n"
    L"  For i = LBound(s) To UBound(s): t = t & \":\" & s(i): Next\n"
    L"End If\n"
    L"CVEXT.MSActions 0, t, \"\", \"\", \"\"\n";

TEST_F(DataStreamsTest, FetchDataSourcesGivesTheScriptAnArrayOfNames) {
    struct SourceCase {
        long result;
        const char* text;
        const char* seen;
        const char* filled;    // the vector as the core filled it
    };
    const SourceCase cases[] = {
        {1, "cpu,memory,disk C:", "Variant():0:2:cpu:memory:disk C:", R"(["cpu","memory","disk C:"])"},
        {1, "only", "Variant():0:0:only", R"(["only"])"},
        {1, "", "Variant():0:-1", "[]"},
        {0, "cpu", "Empty", "[]"},
    };
    for (const SourceCase& c : cases) {
        standin_reset();
        standin_setResult("GetDataSources", c.result);
        standin_setText("GetDataSources", c.text);
        ScriptResult r = runMain(kFetch);
        EXPECT_EQ(r.ret, 1) << c.text;
        EXPECT_EQ(journal(), (Lines{call("GetDataSources", std::string("2,") + c.filled),
                                    call("MSActions", std::string("0,\"") + c.seen + "\",\"\",\"\",\"\",-1.0,0,null,null")}))
            << c.text;
    }
}

TEST_F(DataStreamsTest, FetchDataSourcesEmptiesItsResultFirstAndSucceedsOnRefusal) {
    Variant out;
    V_VT(&out) = VT_BSTR;
    V_BSTR(&out) = SysAllocString(L"old");
    EXPECT_EQ(ext->FetchDataSources(0, &out), S_FALSE);
    EXPECT_EQ(V_VT(&out), VT_EMPTY);
    EXPECT_EQ(ext->FetchDataSources(0, nullptr), E_POINTER);

    BoundJob job(probe::kJob, probe::kPwd);
    standin_setResult("GetDataSources", 0);
    V_VT(&out) = VT_I4;
    EXPECT_EQ(ext->FetchDataSources(0, &out), S_OK);
    EXPECT_EQ(V_VT(&out), VT_EMPTY);
    standin_setResult("GetDataSources", 1);
    EXPECT_EQ(ext->FetchDataSources(0, &out), S_OK);
    EXPECT_EQ(V_VT(&out), VT_ARRAY | VT_VARIANT);
}

}  // namespace
