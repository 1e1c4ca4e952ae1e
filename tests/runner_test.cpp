// ztolvera-run: its command line and script decoding alone, then the program
// itself as a child process, as script authors and `make run` start it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "entry.h"
#include "format.h"
#include "coreops.h"
#include "script_fixture.h"
#include "options.h"
#include "script.h"
#include "child_process.h"
#include "version.h"

namespace {

// ---- command line -------------------------------------------------------

bool parse(std::vector<const wchar_t*> args, Options& options, std::wstring& error) {
    args.insert(args.begin(), L"ztolvera-run");
    return parseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(RunnerOptions, ReadsEveryOption) {
    Options o;
    std::wstring error;
    ASSERT_TRUE(parse({L"--runs", L"3", L"--threads", L"4", L"--timeout", L"9", L"--standalone", L"--quiet",
                       L"--set", L"MCSleep=0", L"--set", L"GetMachName.text=web 01", L"--set", L"MCSleep.abort=1",
                       L"--journal", L"-", L"a.vbs", L"--", L"--b.vbs"},
                      o, error)) << error.c_str();
    EXPECT_EQ(o.runs, 3u);
    EXPECT_EQ(o.threads, 4u);
    EXPECT_EQ(o.timeoutSeconds, 9u);
    EXPECT_TRUE(o.standalone && o.quiet && o.hasJournal);
    EXPECT_EQ(o.journal, L"-");
    ASSERT_EQ(o.settings.size(), 3u);
    EXPECT_EQ(o.settings[0].kind, CoreSetting::Result);
    EXPECT_EQ(o.settings[0].op, "MCSleep");
    EXPECT_EQ(o.settings[0].value, 0);
    EXPECT_EQ(o.settings[1].kind, CoreSetting::Text);
    EXPECT_EQ(o.settings[1].text, "web 01");
    EXPECT_EQ(o.settings[2].kind, CoreSetting::Abort);
    EXPECT_EQ(o.settings[2].value, 1);
    EXPECT_EQ(o.scripts, (std::vector<std::wstring>{L"a.vbs", L"--b.vbs"}));

    Options every;
    ASSERT_TRUE(parse({L"--every", L"0.25", L"--fast", L"--calls", L"--report", L"r.html", L"a.vbs", L"b.vbs"}, every,
                      error)) << error.c_str();
    EXPECT_EQ(every.everySeconds, 0.25);
    EXPECT_TRUE(every.fast && every.calls && every.hasReport);
    EXPECT_EQ(every.report, L"r.html");
    // Until interrupted, and each job on a worker of its own.
    EXPECT_EQ(every.runs, kMaxRuns);
    EXPECT_EQ(every.threads, 2u);

    // An option's value after "=", and the usage for each way of asking.
    Options joined;
    ASSERT_TRUE(parse({L"--runs=3", L"--report=r 1.html", L"--set=MCSleep=0", L"a.vbs"}, joined, error)) << error.c_str();
    EXPECT_TRUE(joined.runsGiven && joined.hasReport);
    EXPECT_EQ(joined.runs, 3u);
    EXPECT_EQ(joined.report, L"r 1.html");
    ASSERT_EQ(joined.settings.size(), 1u);
    EXPECT_EQ(joined.settings[0].op, "MCSleep");
    for (const wchar_t* asking : {L"--help", L"-h", L"/?"}) {
        Options help;
        EXPECT_TRUE(parse({asking}, help, error) && help.help) << asking;
    }
    // A method's name after --help asks for its help; a file name does not.
    Options method, file;
    EXPECT_TRUE(parse({L"--help", L"ImportData"}, method, error) && method.helpMethod == L"ImportData" && !method.help);
    EXPECT_TRUE(parse({L"--help", L"a.vbs"}, file, error) && file.help && file.helpMethod.empty());
}

TEST(RunnerOptions, AnUnknownOptionIsAnsweredWithTheNearestOne) {
    struct Case { std::vector<const wchar_t*> args; std::wstring error; };
    const Case cases[] = {
        {{L"--rnus", L"3", L"a.vbs"}, L"unknown option --rnus (did you mean --runs?)"},
        {{L"--scenaro=s.toml", L"a.vbs"}, L"unknown option --scenaro (did you mean --scenario?)"},
        {{L"--list-op", L"a.vbs"}, L"unknown option --list-op (did you mean --list-ops?)"},
        {{L"--frobnicate", L"a.vbs"}, L"unknown option --frobnicate"},
        {{L"--fast=1", L"a.vbs"}, L"--fast takes no value"},
    };
    for (const Case& c : cases) {
        Options o;
        std::wstring error;
        EXPECT_FALSE(parse(c.args, o, error));
        EXPECT_EQ(error, c.error);
    }
}

TEST(RunnerOptions, RejectsBadCommandLines) {
    const std::vector<std::vector<const wchar_t*>> bad = {
        {},
        {L"--runs", L"2"},
        {L"--bogus", L"a.vbs"},
        {L"a.vbs", L"--runs"},
        {L"--runs", L"x", L"a.vbs"},
        {L"--runs", L"1000", L"a.vbs"},
        {L"--runs", L"-1", L"a.vbs"},
        {L"--threads", L"0", L"a.vbs"},
        {L"--timeout", L"0", L"a.vbs"},
        {L"--set", L"MCSleep", L"a.vbs"},
        {L"--set", L"=1", L"a.vbs"},
        {L"--set", L"MCSleep=one", L"a.vbs"},
        {L"--set", L"MCSleep.size=1", L"a.vbs"},
        {L"--set", L"MC Sleep=1", L"a.vbs"},
        {L"--journal", L"", L"a.vbs"},
        {L"--every", L"0", L"a.vbs"},
        {L"--every", L"-1", L"a.vbs"},
        {L"--every", L"1e3", L"a.vbs"},
        {L"--every", L"90000", L"a.vbs"},
        {L"--report", L"", L"a.vbs"},
        {L"--scenario", L"a.toml", L"--scenario", L"b.toml", L"a.vbs"},
        {L"--junit", L"t.xml", L"a.vbs"},
        {L"--test", L"--scenario", L"a.toml", L"a.vbs"},
        {L"--test", L"--journal", L"j.jsonl", L"a.vbs"},
    };
    for (const auto& args : bad) {
        Options o;
        std::wstring error;
        EXPECT_FALSE(parse(args, o, error)) << "case " << (&args - bad.data());
        EXPECT_FALSE(error.empty());
    }
}

// ---- script text --------------------------------------------------------

TEST(RunnerScripts, DecodesUtf8Utf16LeAndAnsiAndRejectsTheRest) {
    struct Case { std::string bytes; bool ok; std::wstring text; bool ansi; };
    const Case cases[] = {
        {"Sub main()", true, L"Sub main()", false},
        {"\xEF\xBB\xBF" "x = \"\xC3\xA9\"", true, L"x = \"\u00e9\"", false},
        {std::string("\xFF\xFE" "a\0=\0" "1\0", 8), true, L"a=1", false},
        {"", true, L"", false},
        // Not UTF-8 and no mark: the code page of the prefix (1252).
        {"x = \"\xE9\x80\"", true, L"x = \"\u00e9\u20ac\"", true},
        {"\xEF\xBB\xBF" "x = \"\xE9\"", false, L"", false},
        {std::string("\xFE\xFF\0a", 4), false, L"", false},
        {std::string("\xFF\xFE" "a", 3), false, L"", false},
        {std::string("a\0b\0", 4), false, L"", false},
    };
    for (const Case& c : cases) {
        std::wstring text, error;
        bool ansi = !c.ansi;
        EXPECT_EQ(decodeScript(c.bytes, text, error, &ansi), c.ok) << "case " << (&c - cases);
        EXPECT_EQ(text, c.text) << "case " << (&c - cases);
        EXPECT_EQ(error.empty(), c.ok) << "case " << (&c - cases);
        if (c.ok) {
            EXPECT_EQ(ansi, c.ansi) << "case " << (&c - cases);
        }
    }
}

// ---- the journal ---------------------------------------------------------

// What the core writes reads back the same, a double that is not finite
// too (as printf writes it), look-alike strings stay strings, and no cut
// line reads as an entry.
TEST(RunnerJournal, ReadsBackWhatTheCoreWritesAndNoCutLine) {
    const double values[] = {0.0, 80, 1.5, -2.25, 1e20, 1e-5, 0.1, HUGE_VAL, -HUGE_VAL, NAN};
    for (double v : values) {
        std::string line = jnl::withSeq(3, R"({"job":2,"op":"DataLog","ctx":[2,2005],"args":[1,"nan",)" +
                                                  jnl::number(v) + R"(,"a \"inf\"",0]})");
        jnl::Entry e;
        ASSERT_TRUE(jnl::readEntry(line, e)) << line;
        EXPECT_EQ(e.kind, jnl::Entry::Call);
        EXPECT_EQ(e.seq, 3u);
        EXPECT_EQ(e.run(), 5u);
        EXPECT_EQ(textOf(e.arg("stream")), "nan");
        EXPECT_EQ(textOf(e.arg("detail")), "a \"inf\"");
        double back = numberOf(e.arg("val"));
        EXPECT_TRUE(std::isnan(v) ? std::isnan(back) : back == v) << line;
        EXPECT_EQ(numberText(e.arg("val")), std::isfinite(v) ? Json(v).dump() : jnl::number(v)) << line;
        EXPECT_NE(jnl::number(v).find_first_of(".en"), std::string::npos) << "a decimal point, an exponent or a word";
        for (std::size_t n = 0; n < line.size(); ++n) EXPECT_FALSE(jnl::readEntry(line.substr(0, n), e)) << n;
    }
    EXPECT_EQ(jnl::runOf(2, 2005), 5u);
    EXPECT_EQ(jnl::runOf(3, 2005), 0u) << "another job's pwdobj names no run of this one";
    EXPECT_EQ(jnl::pwdobjOf(4, 7), 4007u);
}

// ---- the core's table ---------------------------------------------------

// Whether a journal value is of the kind the row gives its parameter.
bool fits(const Json& v, coreops::Kind kind) {
    using coreops::Kind;
    auto all = [&](auto test) { return v.is_array() && std::all_of(v.begin(), v.end(), test); };
    switch (kind) {
    case Kind::Integer: return v.is_number_integer();
    case Kind::Number: return v.is_number_float();
    case Kind::Text: return v.is_string() || v.is_null();
    case Kind::Stream: return v.is_number_integer() || v.is_string() || v.is_null();
    case Kind::Integers: return all([](const Json& x) { return x.is_number_integer(); });
    case Kind::Texts: return all([](const Json& x) { return x.is_string() || x.is_null(); });
    case Kind::Pairs: return all([](const Json& x) { return x.is_array() && x.size() == 2; });
    case Kind::Variant: return v.is_object() || v.is_null();
    }
    return false;
}

// Every operation of the stand-in, called once: its journal line has one
// argument per parameter of its row, each of the row's kind, and the
// values the core writes as they hold when the call returns.
TEST(RunnerCore, EveryOperationIsRecordedAsItsRow) {
    standin_reset();
    standin_setText("MCAbort", "clear");
    standin_setAbort("MCSleep", 1);
    ImpJob* job = standin_newJob(7, L"");
    _zjobcxt cxt{job->getData(), 7001};
    _zjobcxt* x = &cxt;
    char s[] = "s", buf[512] = "";
    char* list[] = {s, s};
    long conditions[] = {1, 2};
    unsigned long severities[] = {5, 15}, count = 0;
    int flag = 1;
    std::vector<std::string> sources;
    std::string plain, value;
    StringPairs pairs;
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    char* p1 = nullptr;
    char* p2 = nullptr;
    char* p3 = nullptr;
    {
        ravlinapi core(0);
        core.setStandAlone();
        core.MSActions(x, 5, s, s, s, s, 1.5, 0, s, s);
        core.MSLongActions(x, 5, s, s, s, s, 0, 1.5, 0, s, s);
        core.RaiseEvent(x, s, 2, conditions, severities, s, 1.5, list, s, 0, list, s, 0);
        core.MCAbort(x, 5, s, s, 1, 0, &flag, s, s);
        core.DynaCollectData(x, s, s, 1, -1, -1, s, s, s, 2.5, s, 0, 0, 0, 0, s, s);
        core.DataHeader(x, DS_NAME, s, s, 0, s);
        core.LongDataHeader(x, DS_NUMBER, reinterpret_cast<void*>(3), s, 0, 0, 0, 0, 1, 0, -1, -1, s);
        core.DataLog(x, DS_NAME, s, 1, s, 0);
        core.LongDataLog(x, DS_NAME, s, 1, s, 0, 0);
        core.DynaDataLog(x, DS_NAME, s, s, 1, s, s, 0);
        core.LongDynaDataLog(x, DS_NAME, s, s, 1, s, 0, s, 0);
        core.GetDataSources(x, 0, sources);
        core.GetAgentInfo(&p1, &p2, &p3);
        core.GetJobID(x);
        core.GetKPInterval(x);
        core.IterationCount(x);
        core.GetMachName(x, buf);
        core.MCVersion(x, s, buf, 0);
        core.MCGetMOID(x, s, s, buf);
        char* context = nullptr;
        core.GetContextEx(x, s, s, s, s, 2, list, &context);
        core.freeMem(context);
        core.ZTrace(x, s);
        core.EventXMLToPlainText(x, "<x/>", plain);
        core.DiffDateFromString(x, s, s);
        core.MCGetVirDataItemCnt(x, s);
        core.freeMem(core.MCGetVirDataItem(x, s, 1));
        int abort = 0;
        core.MCSleep(x, 0, 0, &abort);
        EXPECT_EQ(abort, 1);
        core.MCWaitForObject(x, 0, nullptr, 0, &abort, 0);
        core.MCWaitForObjectOffline(x, 0, nullptr, 0, &abort);
        core.MCEnterCS(x, &abort);
        core.MCExitCS(x);
        core.SampleLock(x, 1, 5, &count);
        core.AcquireLock(x, 1);
        core.IsMCAction(x);
        core.UpdateAction(x);
        core.MCInCluster(x);
        core.IsMCActionRunning(x, s);
        core.MCEnableComm(x, 0);
        core.MCDisableComm(x, 0);
        core.MCEnableUpload(x, 0);
        core.MCUpload(x, 0);
        core.IsActionAllow(x, 0, 0, buf);
        core.MCRebootNT(x, s, 0, 0, 0, buf);
        core.MCSetCommType(x, 0, buf);
        core.MCConfigNetFlow(x, 0, 0, 0, 0, buf);
        core.MCPrimaryMS(x, s, s, 0, buf, 0, s);
        core.MCSetMasterMC(x, s, s, buf);
        core.MCSetBlackOut(x, s, buf);
        core.MCSetResRequired(x, s, s, s, buf);
        core.MCCompactDB(x, buf);
        core.MCUpdateKey(s, s, buf);
        core.MCExport(x, s, &v, buf);
        core.MCImport(x, s, &v, buf);
        core.DictionaryInsertValue(x, "a", "b");
        core.DictionaryRetrieveValue(x, "a", value);
        core.DictionaryRetrieveAllValues(x, pairs);
        core.DictionaryRetrieveByPattern(x, "*", pairs);
        core.DictionaryRemoveValue(x, "a");
        job->sendScpException(s, 1);
    }
    for (char* p : {p1, p2, p3}) std::free(p);
    VariantClear(&v);
    standin_deleteJob(job);
    EXPECT_EQ(flag, 0) << "the answer \"clear\" cleared the interrupt flag";

    std::vector<std::string> seen;
    for (const std::string& text : fullJournal()) {
        jnl::Entry e;
        ASSERT_TRUE(jnl::readEntry(text, e)) << text;
        const coreops::Operation* row = e.row;
        ASSERT_NE(row, nullptr) << text;
        seen.push_back(e.op);
        ASSERT_EQ(e.args.size(), row->count()) << text;
        for (std::size_t i = 0; i < row->count(); ++i)
            EXPECT_TRUE(fits(e.args[i], row->params[i].kind)) << e.op << " " << row->params[i].name << ": " << text;
        EXPECT_EQ(e.hasContext, row->context) << text;
        // Written by the core during the call: as they hold when it returned.
        long written = e.op == "MCAbort" ? 0 : e.op == "SampleLock" ? static_cast<long>(count) : -1;
        if (written >= 0) {
            EXPECT_EQ(integerOf(e.arg(e.op == "MCAbort" ? "interrupt" : "newCount")), written) << text;
        }
    }
    std::vector<std::string> rows;
    for (const coreops::Operation& op : coreops::kOperations) rows.push_back(op.name);
    std::sort(seen.begin(), seen.end());
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(seen, rows) << "every row called once, and nothing else";
    standin_reset();
}

// ---- the program --------------------------------------------------------

using runner::binFolder;
using runner::Outcome;
using runner::runRunner;
using runner::scratch;

using runner::writeFile;

std::wstring example(const wchar_t* name) { return L"\"" + binFolder() + L"examples\\" + name + L"\""; }

TEST(RunnerProgram, ServiceExampleReachesTheCoreAsJournalled) {
    Outcome o = runRunner(L"--set MCGetVirDataItem.text=Spooler,W32Time --set GetContextEx.text=Stopped " +
                          example(L"services.vbs"));
    EXPECT_EQ(o.status, 0u) << o.err;
    EXPECT_EQ(o.out, "job 1 services.vbs: compiled, runs 1, succeeded 1, script errors 0, core calls 9\n");
    // The summaries begin with the DLL the jobs ran on: the one beside the runner, by its version.
    EXPECT_EQ(o.server, "zTolvera " ZTOLVERA_VERSION_TEXT " (" + utf8(runner::binFolder()) + "zTolvera.dll)");
    EXPECT_EQ(o.journal, (std::vector<std::string>{
        R"({"job":1,"host":"reg","hr":0})",
        R"({"job":1,"host":"compile","hr":0})",
        R"({"job":1,"op":"MCGetVirDataItemCnt","ctx":[1,1001],"args":["WatchedServices"]})",
        R"({"job":1,"op":"MCGetVirDataItem","ctx":[1,1001],"args":["WatchedServices",1],"gave":"Spooler"})",
        R"({"job":1,"op":"GetContextEx","ctx":[1,1001],"args":["Service","Spooler",null,null,1,["State"],"Stopped"]})",
        R"j({"job":1,"op":"MSActions","ctx":[1,1001],"args":[15,"Service Spooler is not running (Stopped)",null,"Spooler","state reported by the agent: Stopped",0.0,0,null,null]})j",
        R"({"job":1,"op":"MCGetVirDataItem","ctx":[1,1001],"args":["WatchedServices",2],"gave":"W32Time"})",
        R"({"job":1,"op":"GetContextEx","ctx":[1,1001],"args":["Service","W32Time",null,null,1,["State"],"Stopped"]})",
        R"j({"job":1,"op":"MSActions","ctx":[1,1001],"args":[15,"Service W32Time is not running (Stopped)",null,"W32Time","state reported by the agent: Stopped",0.0,0,null,null]})j",
        R"({"job":1,"op":"DynaCollectData","ctx":[1,1001],"args":["Services","Services running",-1,-1.0,-1.0,null,null,"Spooler,W32Time",0.0,"0 of 2 watched services running",0,-1,-1,0,null,null]})",
        R"({"job":1,"op":"ZTrace","ctx":[1,1001],"args":["service check: 0 of 2 running"]})",
        R"({"job":1,"host":"run","hr":0,"ret":1})",
        R"({"job":1,"host":"stop","hr":0})",
        R"({"job":1,"host":"unreg","hr":0})",
    }));
}

TEST(RunnerProgram, AbortExampleEndsItsRunAsSuccess) {
    Outcome o = runRunner(L"--runs 2 " + example(L"inventory.vbs"));
    EXPECT_EQ(o.status, 0u) << o.err;
    EXPECT_EQ(o.out, "job 1 inventory.vbs: compiled, runs 2, succeeded 2, script errors 0, core calls 8\n");
    EXPECT_EQ(std::count(o.journal.begin(), o.journal.end(), R"({"job":1,"host":"run","hr":0,"ret":1})"), 2);
    for (const std::string& line : o.journal) EXPECT_EQ(line.find("still running after the abort"), std::string::npos);
}

TEST(RunnerProgram, SyntaxErrorFailsTheJobWithStatusOne) {
    std::wstring script = writeFile(L"broken.vbs", "Sub main()\r\n  If x Then\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"\"" + script + L"\"");
    EXPECT_EQ(o.status, 1u);
    EXPECT_EQ(o.out.rfind("job 1 broken.vbs: not compiled, runs 0, succeeded 0, script errors ", 0), 0u) << o.out;
    EXPECT_EQ(o.journal.back(), R"({"job":1,"host":"unreg","hr":0})");
    EXPECT_NE(std::find(o.journal.begin(), o.journal.end(), R"({"job":1,"host":"compile","hr":1})"), o.journal.end());
}

// A script error fails the session even where every run set ret: the
// global code's division by zero leaves main to run and succeed.
TEST(RunnerProgram, AScriptErrorFailsTheSessionWhateverTheRunsSaid) {
    std::wstring script = writeFile(L"global.vbs", "Dim x\r\nx = 1 / 0\r\nSub main()\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"\"" + script + L"\"");
    EXPECT_EQ(o.status, 1u) << o.out;
    EXPECT_EQ(o.out, "job 1 global.vbs: compiled, runs 1, succeeded 1, script errors 1, core calls 0\n");
}

// The agent registers on one thread and compiles on another; a compile
// error must still reach the job, with indicator 0.
TEST(RunnerProgram, SyntaxErrorOnAWorkerThreadReachesTheJob) {
    std::wstring script = writeFile(L"broken.vbs", "Sub main()\r\n  If x Then\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"\"" + script + L"\"");
    EXPECT_EQ(o.out, "job 1 broken.vbs: not compiled, runs 0, succeeded 0, script errors 1, core calls 0\n");
    ASSERT_EQ(o.journal.size(), 5u);
    EXPECT_EQ(o.journal[1].rfind(R"({"job":1,"op":"sendScpException","args":[")", 0), 0u) << o.journal[1];
    EXPECT_EQ(o.journal[1].substr(o.journal[1].size() - 4), R"(,0]})");
}

TEST(RunnerProgram, JobsOnWorkerThreadsRunWithTheirOwnPwdobj) {
    std::string text = "Sub main()\r\n  CVEXT.ZTrace \"tick\"\r\nEnd Sub\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) utf16 += std::string{c, '\0'};
    std::wstring a = writeFile(L"a.vbs", text), b = writeFile(L"b.vbs", utf16);
    Outcome o = runRunner(L"--threads 2 --runs 2 \"" + a + L"\" \"" + b + L"\"");
    EXPECT_EQ(o.status, 0u) << o.err;
    for (const char* line : {R"({"job":1,"op":"ZTrace","ctx":[1,1001],"args":["tick"]})",
                             R"({"job":1,"op":"ZTrace","ctx":[1,1002],"args":["tick"]})",
                             R"({"job":2,"op":"ZTrace","ctx":[2,2001],"args":["tick"]})",
                             R"({"job":2,"op":"ZTrace","ctx":[2,2002],"args":["tick"]})"})
        EXPECT_EQ(std::count(o.journal.begin(), o.journal.end(), line), 1) << line;
}

TEST(RunnerProgram, HungRunIsReportedWithStatusThree) {
    std::wstring script = writeFile(L"spin.vbs", "Sub main()\r\n  Do\r\n  Loop\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"--timeout 1 \"" + script + L"\"");
    EXPECT_EQ(o.status, 3u);
    EXPECT_NE(o.err.find("job 1 (spin.vbs) hung: run 1"), std::string::npos) << o.err;
    EXPECT_EQ(o.journal.back(), R"({"job":1,"host":"compile","hr":0})");
}

TEST(RunnerProgram, UnreadableFileAndUsageErrorsGiveStatusTwo) {
    std::wstring missing = scratch() + L"missing.vbs";
    // Wine hands out process ids again, so another test's scratch folder may hold one.
    DeleteFileW(missing.c_str());
    Outcome o = runRunner(L"\"" + missing + L"\"");
    EXPECT_EQ(o.status, 2u);
    EXPECT_NE(o.err.find("cannot read"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("missing.vbs"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.back(), '\n');
    EXPECT_TRUE(o.out.empty());

    for (const wchar_t* args : {L"", L"--runs", L"--threads 0 a.vbs", L"--frobnicate a.vbs"}) {
        Outcome u = runRunner(args);
        EXPECT_EQ(u.status, 2u) << u.err;
        EXPECT_TRUE(u.journal.empty());
    }
}

// Script files as Windows users have them, named as cmd.exe hands them
// over: an ANSI and a UTF-16 file reach the core with the same text, a
// pattern is expanded by the runner, and a folder or a pattern that matches
// nothing is named while every other script still runs.
TEST(RunnerProgram, ReadsScriptFilesAsWindowsUsersHaveThem) {
    std::wstring folder = scratch() + L"files\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"many").c_str(), nullptr);
    CreateDirectoryW((folder + L"folder.vbs").c_str(), nullptr);
    auto trace = [](const std::string& text) { return "Sub main()\r\n  CVEXT.ZTrace \"" + text + "\"\r\nEnd Sub\r\n"; };
    writeFile(L"files\\ansi.vbs", trace("caf\xE9"));
    std::wstring wide = L"\uFEFFSub main()\r\n  CVEXT.ZTrace \"caf\u00e9\"\r\nEnd Sub\r\n";
    writeFile(L"files\\utf16.vbs", std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2));
    writeFile(L"files\\many\\b.vbs", trace("b"));
    writeFile(L"files\\many\\a.vbs", trace("a"));
    auto q = [](const std::wstring& path) { return L"\"" + path + L"\" "; };
    Outcome o = runRunner(q(folder + L"ansi.vbs") + q(folder + L"folder.vbs") + q(folder + L"utf16.vbs") +
                          q(folder + L"many\\*.vbs") + q(folder + L"none\\*.vbs"));
    EXPECT_EQ(o.status, 2u) << o.err;
    std::string at(folder.begin(), folder.end());
    for (const std::string& said : {"ztolvera-run: no file matches " + at + "none\\*.vbs\n",
                                    "ztolvera-run: cannot read " + at + "folder.vbs: is a folder, not a script file\n",
                                    "ztolvera-run: note: " + at + "ansi.vbs is not UTF-8; read as ANSI (code page 1252)\n"})
        EXPECT_NE(o.err.find(said), std::string::npos) << said << " in " << o.err;
    EXPECT_EQ(o.err.find("utf16.vbs"), std::string::npos) << o.err;
    std::vector<std::string> traced;
    for (const std::string& line : o.journal)
        if (line.find(R"("op":"ZTrace")") != std::string::npos) traced.push_back(line);
    EXPECT_EQ(traced, (std::vector<std::string>{
        R"({"job":1,"op":"ZTrace","ctx":[1,1001],"args":["caf\u00e9"]})",
        R"({"job":2,"op":"ZTrace","ctx":[2,2001],"args":["caf\u00e9"]})",
        R"({"job":3,"op":"ZTrace","ctx":[3,3001],"args":["a"]})",
        R"({"job":4,"op":"ZTrace","ctx":[4,4001],"args":["b"]})",
    })) << o.err;
    EXPECT_NE(o.out.find("job 4 b.vbs: compiled, runs 1, succeeded 1"), std::string::npos) << o.out;
}

// A file the session cannot write is named with the platform's reason; the
// report is written beside itself and moved into place, so that no partial
// file is left and a report already there survives a refusal.
TEST(RunnerProgram, WriteFailuresNameTheirReason) {
    std::wstring fine = writeFile(L"fine.vbs", "Sub main()\r\n  CVEXT.ZTrace \"fine\"\r\nEnd Sub\r\n");
    std::wstring folder = scratch();
    // `says` up to the end of its line.
    struct Case { std::wstring args; DWORD status; std::string says; };
    const Case cases[] = {
        {L"--report \"" + scratch() + L"no such folder\\r.html\" \"" + fine + L"\"", 2,
         "cannot write the report " + std::string(folder.begin(), folder.end()) + "no such folder\\r.html: Path not found\n"},
        // Wine's /dev/full: every write fails as a full disk does.
        {L"--journal Z:\\dev\\full \"" + fine + L"\"", 1, "cannot write the journal Z:\\dev\\full: No space left on device\n"},
    };
    for (const Case& c : cases) {
        Outcome o = runRunner(c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.err.find("ztolvera-run: " + c.says), std::string::npos) << o.err;
    }

    std::wstring report = writeFile(L"kept.html", "<html>earlier</html>");
    Outcome o = runRunner(L"--report \"" + report + L"\" \"" + fine + L"\"");
    EXPECT_EQ(o.status, 0u) << o.err;
    std::string html = runner::readFile(report);
    EXPECT_TRUE(runner::endsWith(html, "</html>\n") && html.find("fine.vbs") != std::string::npos) << html;
    EXPECT_EQ(GetFileAttributesW((report + L".partial").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace

// ---- what a script author reads --------------------------------------------

namespace author {

using runner::linesOf;

// The calls log's line of `call` without its time in front: "job 1 run 1: ...".
std::vector<std::string> callsLogged(const std::string& out) {
    std::vector<std::string> calls;
    for (const std::string& line : linesOf(out))
        if (std::size_t at = line.find(" job "); at != std::string::npos && line.find(": ") != std::string::npos &&
                                                  line.rfind("job ", 0) != 0)
            calls.push_back(line.substr(at + 1));
    return calls;
}

using runner::endsWith;
using runner::startsWith;

std::string reportOf(const std::wstring& args, Outcome& o) {
    std::wstring path = scratch() + L"report.html";
    DeleteFileW(path.c_str());
    o = runRunner(L"--report \"" + path + L"\" " + args);
    return runner::readFile(path);
}

// Tags nest and close, attributes are quoted, and nothing is left half
// open: enough to prove the report parses as the HTML it was meant to be.
std::string wellFormedProblem(const std::string& html) {
    static const char* const kVoid[] = {"meta", "br", "hr", "img", "input", "link", "col"};
    std::vector<std::string> open;
    for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
        if (html.compare(at, 9, "<!DOCTYPE") == 0) continue;
        std::size_t end = html.find('>', at);
        if (end == std::string::npos) return "unclosed tag at " + std::to_string(at);
        std::string tag = html.substr(at + 1, end - at - 1);
        if (tag.find('<') != std::string::npos) return "'<' inside a tag at " + std::to_string(at);
        if (std::count(tag.begin(), tag.end(), '"') % 2) return "unbalanced quotes in <" + tag + ">";
        bool closing = tag[0] == '/', selfClosing = tag.back() == '/';
        std::string name = tag.substr(closing, tag.find_first_of(" />", closing) - closing);
        if (closing) {
            if (open.empty() || open.back() != name) return "</" + name + "> closes <" + (open.empty() ? "" : open.back()) + ">";
            open.pop_back();
        } else if (!selfClosing && std::find(std::begin(kVoid), std::end(kVoid), name) == std::end(kVoid)) {
            open.push_back(name);
        }
        at = end;
    }
    return open.empty() ? "" : "<" + open.back() + "> never closed";
}

// Every attribute value that names something to load or follow.
std::vector<std::string> references(const std::string& html) {
    std::vector<std::string> refs;
    for (const char* key : {"href=\"", "src=\"", "srcset=\"", "action=\"", "xlink:href=\""})
        for (std::size_t at = html.find(key); at != std::string::npos; at = html.find(key, at + 1)) {
            std::size_t start = at + std::strlen(key);
            refs.push_back(html.substr(start, html.find('"', start) - start));
        }
    return refs;
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace author

// The engine's own words for an error change (they are not ours); what the
// runner adds around them must not: job, runs, the line and its text.
TEST(RunnerAuthors, SummaryNamesEachErrorWithItsRunsLineAndReason) {
    std::wstring err = writeFile(L"err.vbs", "Sub main()\r\n  Dim x\r\n  x = 1 / 0\r\nEnd Sub\r\n");
    std::wstring noMain = writeFile(L"nomain.vbs", "Sub other()\r\nEnd Sub\r\n");
    std::wstring syntax = writeFile(L"syntax.vbs", "Sub main()\r\n  x = = 1\r\nEnd Sub\r\n");
    std::wstring fine = writeFile(L"fine.vbs", "Sub main()\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"--runs 2 \"" + err + L"\" \"" + noMain + L"\" \"" + syntax + L"\" \"" + fine + L"\"");
    EXPECT_EQ(o.status, 1u);
    EXPECT_EQ(o.out, "job 1 err.vbs: compiled, runs 2, succeeded 0, script errors 2, core calls 0\n"
                     "job 2 nomain.vbs: compiled, runs 2, succeeded 0, script errors 0, core calls 0\n"
                     "job 3 syntax.vbs: not compiled, runs 0, succeeded 0, script errors 1, core calls 0\n"
                     "job 4 fine.vbs: compiled, runs 2, succeeded 2, script errors 0, core calls 0\n");
    std::vector<std::string> err_ = author::linesOf(o.err);
    ASSERT_EQ(err_.size(), 5u) << o.err;
    // The checker's findings come before the run.
    EXPECT_EQ(err_[0], utf8(noMain) + ":1:1: warning: the script has no Sub main, which the agent calls on every run [no-main]");
    EXPECT_EQ(err_[1], utf8(syntax) + ":2:7: error: the engine refuses the script: Syntax error");
    EXPECT_TRUE(author::startsWith(err_[2], "job 1 runs 1-2: script error \"") &&
                author::endsWith(err_[2], "\" at line 3: x = 1 / 0")) << err_[2];
    EXPECT_EQ(err_[2].find("[Line:"), std::string::npos) << "one line number, as an editor counts: " << err_[2];
    EXPECT_EQ(err_[3], "job 2 runs 1-2: failed: the script has no Sub main (nothing named main to run)");
    EXPECT_TRUE(author::startsWith(err_[4], "job 3 compile: script error \"") &&
                author::endsWith(err_[4], "\" at line 2: x = = 1")) << err_[4];

    // Lines as the engine counts them (a CR alone ends none), quoted without
    // a raw CR that would overprint the terminal's line.
    std::wstring cr = writeFile(L"cr.vbs", "Sub main()\rDim x\rx = 1 / 0\rEnd Sub\r");
    std::wstring mixed = writeFile(L"mixed.vbs", "Sub main()\r\nDim x\n\rx = 1 / 0\r\nEnd Sub\r\n");
    o = runRunner(L"\"" + cr + L"\" \"" + mixed + L"\"");
    EXPECT_EQ(o.status, 1u);
    EXPECT_EQ(o.err.find('\r'), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("\" at line 1: Sub main()\\rDim x\\rx = 1 / 0\\rEnd Sub\n"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("\" at line 3: \\rx = 1 / 0\n"), std::string::npos) << o.err;
}

TEST(RunnerAuthors, CallsLogShowsEveryCallWithArgumentsAndResult) {
    std::wstring script = writeFile(L"calls.vbs",
        "Sub main()\r\n"
        "  CVEXT.CreateEvent 25, \"disk \"\"C:\"\" full\", \"NULL\", \"C:\", 1.5, \"a\\b caf\xC3\xA9\", \"NULL\", 0, 0\r\n"
        "  CVEXT.GetMachName\r\n"
        "  Dim p, v, d\r\n"
        "  CVEXT.GetAgentInfo p, v, d\r\n"
        "  CVEXT.CVSleep 300\r\n"
        "  CVEXT.DictionaryInsertValue \"colour\", \"blue\"\r\n"
        "  CVEXT.ZTrace 1 / 0\r\n"
        "End Sub\r\n");
    Outcome o = runRunner(L"--calls --set GetMachName.text=web01 --set MCSleep=0 \"" + script + L"\"");
    EXPECT_EQ(o.status, 1u) << o.err;
    std::vector<std::string> calls = author::callsLogged(o.out);
    ASSERT_EQ(calls.size(), 6u) << o.out;
    EXPECT_EQ(calls[0], "job 1 run 1: MSActions(25, \"disk \\\"C:\\\" full\", null, \"C:\", \"a\\\\b caf\xC3\xA9\", 1.5, 0, "
                        "null, null) = 1");
    EXPECT_EQ(calls[1], R"(job 1 run 1: GetMachName() = 1 -> name "web01")");
    // Made without the job's context: the run is the calling thread's.
    EXPECT_EQ(calls[2], R"(job 1 run 1: GetAgentInfo() = 1 -> prodtype "StandInAgent", verstr "1.0.0", idir "C:\\agent")");
    EXPECT_EQ(calls[3], "job 1 run 1: MCSleep(300, 0) = 0 -> abort 0");
    EXPECT_EQ(calls[4], R"(job 1 run 1: DictionaryInsertValue("colour", "blue") = 1)");
    EXPECT_TRUE(author::startsWith(calls[5], "job 1 run 1: sendScpException(\"") && author::endsWith(calls[5], ", 1)"))
        << calls[5];
    // Times in front; without --fast the wait takes the time it asked for.
    std::vector<std::string> lines = author::linesOf(o.out);
    EXPECT_GE(std::stod(lines[3]) - std::stod(lines[2]), 0.299);
    EXPECT_EQ(lines.back(), "job 1 calls.vbs: compiled, runs 1, succeeded 0, script errors 1, core calls 4");
}

// --trace echoes the scripts' ZTrace lines and nothing else, as they come:
// text as written, a CR that would overprint the line escaped.
TEST(RunnerAuthors, TraceEchoesEachZTraceLineAsItHappens) {
    std::wstring script = writeFile(L"echo.vbs",
        "Sub main()\r\n"
        "  CVEXT.ZTrace \"checking \"\"C:\\\"\" caf\xC3\xA9\"\r\n"
        "  CVEXT.GetMachName\r\n"
        "  CVEXT.ZTrace \"one\" & vbCr & \"two\"\r\n"
        "End Sub\r\n");
    Outcome o = runRunner(L"--trace --runs 2 \"" + script + L"\"");
    EXPECT_EQ(o.status, 0u) << o.err;
    std::vector<std::string> said;
    for (const std::string& line : author::linesOf(o.out))
        if (line.size() > 9 && line[8] == ' ') said.push_back(line.substr(9));
    EXPECT_EQ(said, (std::vector<std::string>{
        "job 1 run 1: checking \"C:\\\" caf\xC3\xA9", "job 1 run 1: one\\rtwo",
        "job 1 run 2: checking \"C:\\\" caf\xC3\xA9", "job 1 run 2: one\\rtwo",
    })) << o.out;
    EXPECT_TRUE(author::endsWith(o.out, "job 1 echo.vbs: compiled, runs 2, succeeded 2, script errors 0, core calls 6\n"))
        << o.out;
}

TEST(RunnerAuthors, ReportHoldsEveryPointAndEventEscapedAndSelfContained) {
    std::wstring script = writeFile(L"report.vbs",
        "Sub main()\r\n"
        "  CVEXT.LongDataHeader \"Latency (ms)\", 0, \"latency\", -1, 0, 0, 100, 0, 90, 10\r\n"
        "  CVEXT.DataLog \"latency\", 12.5, \"sample one\"\r\n"
        "  CVEXT.DataLog \"latency\", 97.25, \"sample <two>\"\r\n"
        "  CVEXT.DynaDataLog 7, \"C:\", 3, \"numbered\"\r\n"
        "  CVEXT.CreateData \"Free\", \"Free (%)\", \"D:\", \"D:\", 44, \"d free\", 0\r\n"
        "  CVEXT.CreateEvent 25, \"<script>alert('x')</script>\", \"NULL\", \"srv&1\", 0, \"<img src=x onerror=y>\", \"NULL\", 0, 0\r\n"
        "  CVEXT.RaiseEvent \"id\", 2, Array(1, 0), Array(15, 5), Array(\"high\", \"normal\"), Array(\"a\", \"b\"), \"obj\", 1, 0, \"why\", \"NULL\", False\r\n"
        "  CVEXT.ZTrace 1 / 0\r\n"
        "End Sub\r\n");
    Outcome o;
    std::string html = author::reportOf(L"--runs 2 --fast \"" + script + L"\"", o);
    EXPECT_EQ(o.status, 1u) << o.err;
    ASSERT_FALSE(html.empty());
    EXPECT_EQ(author::wellFormedProblem(html), "");
    EXPECT_NE(html.find("<p class=\"meta\">" + o.server + "</p>"), std::string::npos) << o.server;
    EXPECT_FALSE(o.server.empty());

    // Two runs of four points and three events each.
    EXPECT_EQ(author::countOf(html, "<tr class=\"point\">"), 8u);
    EXPECT_EQ(author::countOf(html, "<tr class=\"event\">"), 6u);
    // The error of both runs is one row naming them.
    EXPECT_EQ(author::countOf(html, "<tr class=\"script-error\"><td>runs 1-2</td>"), 1u);
    EXPECT_EQ(author::countOf(html, "<tr class=\"script-error\">"), 1u);
    for (const char* shown : {"<td class=\"num\">12.5</td><td>sample one</td>",
                              "<td class=\"num\">97.25</td><td>sample &lt;two&gt;</td>",
                              "<td>C:</td><td class=\"num\">3</td><td>numbered</td>",
                              "<td>D:</td><td class=\"num\">44</td><td>d free</td>",
                              "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;", "srv&amp;1",
                              "&lt;img src=x onerror=y&gt;", ">high</div>", ">normal</div>", "why (event id, condition 1)",
                              "high water mark 90", "low water mark 10", ">latency <span>&#8212; Latency (ms)</span>",
                              ">#7<", ">Free <span>"})
        EXPECT_NE(html.find(shown), std::string::npos) << shown;
    EXPECT_EQ(author::countOf(html, "<svg viewBox"), 3u);

    // Nothing a script says becomes markup, and nothing is fetched.
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<img"), std::string::npos);
    for (const char* outside : {"http:", "https:", "file:", "//", "url(", "@import"})
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    for (const std::string& ref : author::references(html)) EXPECT_EQ(ref.rfind("#job-", 0), 0u) << ref;
}

// ---- everything the script saw --------------------------------------------

// The item, the texts and the flags the core handed back follow the result;
// calls refused after the script's abort appear as refused, in the calls log,
// the journal (the host's trace line) and the report.
TEST(RunnerSeen, CallsShowWhatTheCoreHandedBackAndWhatWasRefused) {
    std::wstring script = writeFile(L"seen.vbs",
        "Sub main()\r\n"
        "  On Error Resume Next\r\n"
        "  item = CVEXT.GetObjItem(\"c\", \"Disks\", 2)\r\n"
        "  CVEXT.ZTrace \"item \" & item\r\n"
        "  CVEXT.AbortScript\r\n"
        "  CVEXT.ZTrace \"after the abort\"\r\n"
        "  n = CVEXT.GetJobID()\r\n"
        "End Sub\r\n");
    Outcome o;
    std::string html = author::reportOf(L"--calls --fast --set MCGetVirDataItem.text=C:,D: \"" + script + L"\"", o);
    EXPECT_EQ(o.status, 0u) << o.out << o.err;
    std::vector<std::string> calls = author::callsLogged(o.out);
    ASSERT_EQ(calls.size(), 5u) << o.out;
    EXPECT_EQ(calls[0], R"(job 1 run 1: MCGetVirDataItem("Disks", 2) = 1 -> "D:")");
    EXPECT_EQ(calls[1], R"(job 1 run 1: ZTrace("item D:") = 1)");
    EXPECT_EQ(calls[2], "job 1 run 1: MCAbort(-1, null, null, 0, -1, null, null) = 1 -> interrupt 1");
    for (int i : {3, 4}) {
        const char* member = i == 3 ? "ZTrace" : "GetJobID";
        EXPECT_EQ(calls[i], std::string("job 1 run 1: ") + member +
                                " refused (the run was being ended; the core never saw the call)");
    }
    std::string journal = runner::readFile(scratch() + L"journal.jsonl");
    EXPECT_EQ(author::countOf(journal, R"("trace":"ScpExt-ZTrace: call refused, run 1001 is being ended"})"), 1u)
        << "the journal records the refusal";
    EXPECT_EQ(o.out.find("after the abort"), std::string::npos);
    EXPECT_EQ(author::wellFormedProblem(html), "");
    EXPECT_NE(html.find(">ZTrace</td><td class=\"num\">1</td>"), std::string::npos) << "one ZTrace reached the core";
    EXPECT_EQ(author::countOf(html, "1 refused after the run&#39;s abort or stop"), 2u);

    // An abort flag the core clears shows as it came back: the script goes
    // on because it read 0.
    std::wstring cleared = writeFile(L"cleared.vbs",
        "Sub main()\r\n  CVEXT.AbortScript \"o\", \"m\", 15\r\n  CVEXT.ZTrace \"after\"\r\nEnd Sub\r\n");
    Outcome c = runRunner(L"--fast --set MCAbort.text=clear --calls \"" + cleared + L"\"");
    EXPECT_EQ(author::callsLogged(c.out),
              (std::vector<std::string>{R"(job 1 run 1: MCAbort(15, "o", "m", 1, -1, null, null) = 1 -> interrupt 0)",
                                        R"(job 1 run 1: ZTrace("after") = 1)"}))
        << c.out;
}

// The summary lines, the report's table, the verdicts and the exit status
// are views of one session: every count and verdict reads the same in each.
TEST(RunnerSeen, OneSessionReadsAlikeOnTheTerminalInTheReportAndInTheStatus) {
    std::wstring info = writeFile(L"info.vbs",
        "Sub main()\r\n  Dim a, b, c\r\n  CVEXT.GetAgentInfo a, b, c\r\n  CVEXT.ZTrace \"v=\" & b\r\nEnd Sub\r\n");
    std::wstring failing = writeFile(L"failing.vbs", "Sub main()\r\n  CVEXT.ZTrace 1\r\n  x = 1 / 0\r\nEnd Sub\r\n");
    std::wstring scenario = writeFile(L"agree.toml", "[[expect.calls]]\nop = \"ZTrace\"\nruns = \"1-\"\ncount = 1\n"
                                                     "[[expect.script_error]]\njob = \"info.vbs\"\ncount = 0\n");
    for (const wchar_t* scripts : {L"info", L"both"}) {
        std::wstring args = L"--runs 2 --fast --scenario \"" + scenario + L"\" \"" + info + L"\"";
        if (std::wstring(scripts) == L"both") args += L" \"" + failing + L"\"";
        Outcome o;
        std::string html = author::reportOf(args, o);
        std::vector<std::string> summaries;
        unsigned verdicts = 0, held = 0;
        for (const std::string& line : author::linesOf(o.out)) {
            if (line.find(" expect ") != std::string::npos) {
                ++verdicts;
                held += line.find(" holds: ") != std::string::npos;
            } else {
                summaries.push_back(line);
            }
        }
        bool allHeld = held == verdicts, allSucceeded = true;
        for (const std::string& line : summaries) {
            // "job 1 info.vbs: compiled, runs 2, succeeded 2, script errors 0, core calls 2"
            std::size_t job = std::stoul(line.substr(4));
            auto count = [&](const char* what) { return std::stoul(line.substr(line.find(what) + std::strlen(what))); };
            unsigned long runs = count(", runs "), succeeded = count(", succeeded "), errors = count(", script errors "),
                          calls = count(", core calls ");
            bool ok = runs == succeeded && errors == 0;
            allSucceeded = allSucceeded && ok;
            std::string row = "<tr><td>" + std::to_string(job) + "</td>";
            std::size_t at = html.find(row);
            ASSERT_NE(at, std::string::npos) << line;
            std::string cells = html.substr(at, html.find("</tr>", at) - at);
            std::string numbers = "<td class=\"num\">" + std::to_string(runs) + "</td><td class=\"num\">" +
                                  std::to_string(succeeded) + "</td><td class=\"num\">" + std::to_string(errors) + "</td>";
            EXPECT_NE(cells.find(numbers), std::string::npos) << line << "\n" << cells;
            EXPECT_TRUE(author::endsWith(cells, "<td class=\"num\">" + std::to_string(calls) + "</td>")) << line << "\n" << cells;
            // The job's table of operations adds up to the same count.
            std::size_t section = html.find("id=\"job-" + std::to_string(job) + "\"");
            std::size_t end = html.find("id=\"job-", section + 1);
            std::string part = html.substr(section, end == std::string::npos ? std::string::npos : end - section);
            unsigned long sum = 0;
            const std::string op = "<tr class=\"op\"><td class=\"mono\">";
            for (std::size_t at = part.find(op); at != std::string::npos; at = part.find(op, at + 1)) {
                std::size_t num = part.find("<td class=\"num\">", at) + 16;
                sum += std::stoul(part.substr(num));
            }
            EXPECT_EQ(sum, calls) << line;
            EXPECT_EQ(cells.find("badge ok\">succeeded<") != std::string::npos, ok) << line << "\n" << cells;
        }
        EXPECT_EQ(summaries.size(), std::wstring(scripts) == L"both" ? 2u : 1u) << o.out;
        EXPECT_EQ(author::countOf(html, "<tr class=\"verdict\"><td><span class=\"badge ok\">holds<"), held);
        EXPECT_EQ(author::countOf(html, "<tr class=\"verdict\"><td><span class=\"badge bad\">failed<"), verdicts - held);
        EXPECT_EQ(o.status, !allHeld ? 5u : allSucceeded ? 0u : 1u) << o.out << o.err;
    }
}

// ZTrace lines per run; equal series each with a marker of its own; an error
// of every run one row; with --every, runs longer than their slot marked on
// the terminal and in the report, and the quick job's runs not.
TEST(RunnerSeen, ReportShowsTracesGroupsErrorsAndMarksOverruns) {
    std::wstring slow = writeFile(L"slow.vbs",
        "Sub main()\r\n"
        "  CVEXT.ZTrace \"run \" & CVEXT.IterationCount()\r\n"
        "  CVEXT.DynaDataLog \"Disk\", \"C:\", 5, \"c\"\r\n"
        "  CVEXT.DynaDataLog \"Disk\", \"D:\", 5, \"d\"\r\n"
        "  CVEXT.CVSleep 1500\r\n"
        "End Sub\r\n");
    std::wstring failing = writeFile(L"failing.vbs", "Sub main()\r\n  x = 1 / 0\r\nEnd Sub\r\n");
    Outcome o;
    std::string html = author::reportOf(L"--every 1 --runs 2 \"" + slow + L"\" \"" + failing + L"\"", o);
    EXPECT_EQ(o.status, 1u) << o.err;
    std::vector<std::string> err = author::linesOf(o.err);
    EXPECT_EQ(std::count(err.begin(), err.end(), "job 1 runs 1-2: overran the slot of --every, so the next run started late"), 1)
        << o.err;
    EXPECT_EQ(o.err.find("job 2 run"), o.err.find("job 2 runs 1-2: script error")) << "job 2 overran nothing: " << o.err;
    EXPECT_EQ(author::wellFormedProblem(html), "");

    for (const char* trace : {"<td class=\"num\">1</td><td class=\"mono\">run 1</td>",
                              "<td class=\"num\">2</td><td class=\"mono\">run 2</td>"})
        EXPECT_NE(html.find(trace), std::string::npos) << trace;
    EXPECT_EQ(author::countOf(html, "<tr class=\"trace\">"), 2u);
    EXPECT_EQ(author::countOf(html, "<tr class=\"script-error\"><td>runs 1-2</td>"), 1u);
    EXPECT_EQ(author::countOf(html, "<tr class=\"run overran\""), 2u);
    EXPECT_EQ(author::countOf(html, "<tr class=\"run\""), 2u) << "job 2's quick runs kept their slot";
    // C: and D: log the same values: a circle and a square, side by side.
    std::size_t chart = html.find("<svg viewBox");
    ASSERT_NE(chart, std::string::npos);
    std::string svg = html.substr(chart, html.find("</svg>", chart) - chart);
    EXPECT_EQ(author::countOf(svg, "<circle"), 2u);
    EXPECT_EQ(author::countOf(svg, "<rect"), 2u);
    EXPECT_NE(svg.find("stroke-dasharray=\"7 4\""), std::string::npos) << "the second line lets the first show";
}

// Run k of each job starts no earlier than (k-1) intervals after the start,
// runs of one job never overlap, and jobs take turns rather than one
// running all its runs first.
TEST(RunnerAuthors, EveryStartsEachRunOnItsSchedule) {
    std::wstring a = writeFile(L"a.vbs", "Sub main()\r\n  CVEXT.CVSleep 1000\r\nEnd Sub\r\n");
    std::wstring b = writeFile(L"b.vbs", "Sub main()\r\nEnd Sub\r\n");
    Outcome o;
    std::string html = author::reportOf(L"--every 0.2 --runs 3 --threads 1 --fast \"" + a + L"\" \"" + b + L"\"", o);
    EXPECT_EQ(o.status, 0u) << o.err;
    struct Run { int job, run; long start, end; };
    std::vector<Run> runs;
    int job = 0;
    for (std::size_t at = 0; (at = html.find("<tr", at)) != std::string::npos; ++at) {
        if (html.compare(at, 14, "<tr><th>job</t") == 0) continue;
        if (std::size_t section = html.rfind("id=\"job-", at); section != std::string::npos)
            job = std::stoi(html.substr(section + 8));
        if (html.compare(at, 16, "<tr class=\"run\" ") != 0) continue;
        auto attr = [&](const char* name) {
            std::size_t p = html.find(name, at) + std::strlen(name) + 2;
            return std::stol(html.substr(p));
        };
        runs.push_back(Run{job, static_cast<int>(attr("data-run")), attr("data-start-ms"), attr("data-end-ms")});
    }
    ASSERT_EQ(runs.size(), 6u) << html;
    // --fast: job 1's CVSleep 1000 is cut short.
    for (std::size_t i = 0; i < 3; ++i) EXPECT_LT(runs[i].end - runs[i].start, 1000);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_GE(runs[i].start, (runs[i].run - 1) * 200) << "job " << runs[i].job << " run " << runs[i].run;
        if (i % 3) {
            EXPECT_GE(runs[i].start, runs[i - 1].end) << "job " << runs[i].job << " run " << runs[i].run;
        }
    }
    // Job 2's first run comes before job 1's second.
    EXPECT_LT(runs[3].start, runs[1].start);
}

// ---- what the engine cannot survive --------------------------------------

// Every job before, between and after the two that take the engine's
// process down keeps its results; the jobs left run in a fresh process.
TEST(RunnerSurvives, CrashingAndRecursingJobsLeaveEveryOtherJobItsResults) {
    std::wstring fine = writeFile(L"fine.vbs", "Sub main()\r\n  CVEXT.ZTrace \"fine\"\r\nEnd Sub\r\n");
    std::wstring redim = writeFile(L"redim.vbs", "Sub main()\r\n  CVEXT.ZTrace \"before\"\r\n  Dim arr()\r\n"
                                                 "  ReDim arr(2)\r\n  CVEXT.ZTrace \"after\"\r\nEnd Sub\r\n");
    std::wstring deep = writeFile(L"deep.vbs", "Function f(n)\r\n  f = f(n + 1)\r\nEnd Function\r\n"
                                               "Sub main()\r\n  CVEXT.ZTrace \"deep\"\r\n  f 0\r\nEnd Sub\r\n");
    std::wstring report = scratch() + L"crash.html";
    DeleteFileW(report.c_str());
    auto q = [](const std::wstring& path) { return L"\"" + path + L"\" "; };
    Outcome o = runRunner(L"--runs 2 --report " + q(report) + q(fine) + q(redim) + q(fine) + q(deep) + q(fine));
    EXPECT_EQ(o.status, 4u) << o.out << o.err;

    std::vector<std::string> out = author::linesOf(o.out);
    ASSERT_EQ(out.size(), 5u) << "nothing but the summaries: " << o.out;
    for (int i : {0, 2, 4})
        EXPECT_EQ(out[i], "job " + std::to_string(i + 1) + " fine.vbs: compiled, runs 2, succeeded 2, script errors 0, core calls 2");
    // The engine faults where the kernel runs it natively, and meets an
    // illegal instruction under an emulator: both are the engine's crash.
    EXPECT_TRUE(author::startsWith(out[1], "job 2 redim.vbs: crashed in run 1 (") &&
                author::endsWith(out[1], " in the script engine), runs 1, succeeded 0, script errors 0, core calls 1"))
        << out[1];
    EXPECT_EQ(out[3], "job 4 deep.vbs: crashed in run 1 (stack overflow), runs 1, succeeded 0, script errors 0, core calls 1");
    // The checker's warning about the crashing ReDim comes before any run.
    // A slow machine may see a status line, a plain one every 5 s.
    std::vector<std::string> err = author::linesOf(o.err);
    std::erase_if(err, [](const std::string& line) { return line.find(" runs done, ") != std::string::npos; });
    ASSERT_EQ(err.size(), 3u) << o.err;
    EXPECT_NE(err[0].find("redim.vbs:4:9: warning: ReDim arr after Dim arr()"), std::string::npos) << err[0];
    EXPECT_TRUE(author::startsWith(err[1], "ztolvera-run: job 2 (redim.vbs) crashed in run 1 (") &&
                author::endsWith(err[1], ") after its core call ZTrace")) << err[1];
    EXPECT_EQ(err[2], "ztolvera-run: job 4 (deep.vbs) crashed in run 1 (stack overflow) after its core call ZTrace");

    // The journal holds everything up to each crash, and seq counts on
    // through the fresh processes.
    for (const char* line : {R"({"job":2,"op":"ZTrace","ctx":[2,2001],"args":["before"]})",
                             R"({"job":4,"op":"ZTrace","ctx":[4,4001],"args":["deep"]})",
                             R"({"job":5,"op":"ZTrace","ctx":[5,5002],"args":["fine"]})"})
        EXPECT_EQ(std::count(o.journal.begin(), o.journal.end(), line), 1) << line;
    for (const std::string& line : o.journal) EXPECT_EQ(line.find("after"), std::string::npos) << line;
    std::vector<std::string> raw = author::linesOf(runner::readFile(scratch() + L"journal.jsonl"));
    for (std::size_t i = 0; i < raw.size(); ++i)
        EXPECT_TRUE(author::startsWith(raw[i], "{\"seq\":" + std::to_string(i + 1) + ",")) << raw[i];
    EXPECT_EQ(o.journal.back(), R"({"job":5,"host":"unreg","hr":0})");

    std::string html = runner::readFile(report);
    EXPECT_EQ(author::wellFormedProblem(html), "");
    EXPECT_NE(html.find("crashed in run 1 (stack overflow)"), std::string::npos);
    EXPECT_EQ(author::countOf(html, "<tr class=\"run\" "), 8u);
}

// A child that cannot even make a host gives up with its reason; its jobs
// are not started, which is no crash and no failed reg.
TEST(RunnerSurvives, AHostThatCannotBeMadeLeavesEveryJobNotStarted) {
    std::wstring lonely = scratch() + L"lonely\\";
    std::wstring folder = lonely + L"a\\b\\";
    CreateDirectoryW(lonely.c_str(), nullptr);
    CreateDirectoryW((lonely + L"a").c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* file : {L"ztolvera-run.exe", L"Ravlin.dll"})
        ASSERT_TRUE(CopyFileW((runner::binFolder() + file).c_str(), (folder + file).c_str(), FALSE));
    std::wstring fine = writeFile(L"fine.vbs", "Sub main()\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"\"" + fine + L"\" \"" + fine + L"\"", folder + L"ztolvera-run.exe");
    EXPECT_EQ(o.status, 1u) << o.err;
    EXPECT_EQ(o.out, "job 1 fine.vbs: not started, runs 0, succeeded 0, script errors 0, core calls 0\n"
                     "job 2 fine.vbs: not started, runs 0, succeeded 0, script errors 0, core calls 0\n");
    EXPECT_EQ(o.err, "ztolvera-run: no Tolvera host: cannot load zTolvera.dll (beside the runner or in the folder "
                     "above it): error 126\n");
}

// A hang ends its process too; the summaries come all the same, and the
// jobs after it run.
TEST(RunnerSurvives, HangPrintsEverySummaryAndTheJobsAfterItRun) {
    std::wstring spin = writeFile(L"spin.vbs", "Sub main()\r\n  Do\r\n  Loop\r\nEnd Sub\r\n");
    std::wstring fine = writeFile(L"fine.vbs", "Sub main()\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"--timeout 1 \"" + fine + L"\" \"" + spin + L"\" \"" + fine + L"\"");
    EXPECT_EQ(o.status, 3u) << o.err;
    EXPECT_EQ(o.out, "job 1 fine.vbs: compiled, runs 1, succeeded 1, script errors 0, core calls 0\n"
                     "job 2 spin.vbs: hung in run 1 (still going after 1 s), runs 1, succeeded 0, script errors 0, core calls 0\n"
                     "job 3 fine.vbs: compiled, runs 1, succeeded 1, script errors 0, core calls 0\n");
    EXPECT_EQ(o.err, "ztolvera-run: job 2 (spin.vbs) hung: run 1 still going after 1 s\n");
}

// ---- scenarios ---------------------------------------------------------------

#include "scenario.h"

namespace scenarios {

using runner::Outcome;
using runner::runRunner;
using runner::scratch;

// A script or scenario file, quoted for the command line.
std::wstring write(const std::wstring& name, const std::string& bytes) { return L"\"" + writeFile(name, bytes) + L"\""; }


TEST(RunnerScenarios, MisspeltNamesAreRefusedNamingTheNearest) {
    struct Case { const wchar_t* set; const char* says; };
    const Case sets[] = {
        {L"Bogus.text=1", "unknown operation \"Bogus\""},
        {L"getcontextex.text=95", "did you mean \"GetContextEx\"?"},
        {L"GetObjItemCnt=1", "its operation is \"MCGetVirDataItemCnt\""},
        {L"MSActions.text=x", "MSActions has no text answer"},
        {L"MCSleep.Abort=1", "did you mean \"abort\"?"},
    };
    for (const Case& c : sets) {
        Options o;
        std::wstring error;
        std::vector<const wchar_t*> args = {L"ztolvera-run", L"--set", c.set, L"a.vbs"};
        EXPECT_FALSE(parseOptions(static_cast<int>(args.size()), args.data(), o, error)) << utf8(c.set);
        EXPECT_NE(utf8(error).find(c.says), std::string::npos) << utf8(error);
    }

    struct File { const char* toml; const char* says; };
    const File files[] = {
        {"[answers.GetContextex]\ntext = \"x\"\n", "s.toml:1: unknown operation \"GetContextex\"; did you mean \"GetContextEx\"?"},
        {"[answers.GetContextEx]\ntxt = \"x\"\n", "s.toml:2: unknown key \"txt\" in answers.GetContextEx; did you mean \"text\"?"},
        {"[[answers.GetContextEx.when]]\nmatch = { lable = \"Disk\" }\ntext = \"1\"\n",
         "unknown parameter \"lable\" of GetContextEx; did you mean \"label\"?"},
        {"[[answers.MCSleep.when]]\nruns = \"4-2\"\nabort = 1\n", "s.toml:2: runs must be"},
        {"[[expect.evnt]]\n", "unknown key \"evnt\" in expect; did you mean \"event\"?"},
        {"[[expect.calls]]\nop = \"cvsleep\"\n", "\"cvsleep\" is a script method"},
        {"[[answers.getobjitemcnt]]\nresult = 1\n", "its operation is \"MCGetVirDataItemCnt\""},
        {"runs = 0\n", "s.toml:1: runs must be a whole number from 1 to 999"},
        {"fast = 1\n", "s.toml:1: fast must be true or false"},
        {"[[expect.event]]\nruns = \"1,,3\"\n", "s.toml:2: runs must be"},
        {"[[expect.event]]\nruns = \"3-1\"\n", "s.toml:2: runs must be"},
        // Expectations that no session could meet.
        {"[[expect.event]]\nat_least = 5\nat_most = 2\n", "s.toml:3: at_least = 5 and at_most = 2 can never both hold"},
        {"[[expect.data]]\nstream = \"x\"\nmin = 5\nmax = 1\n", "s.toml:4: min = 5 and max = 1 can never both hold"},
        {"[[expect.event]]\nseverity = [30, 10]\n", "s.toml:2: severity [30, 10] is empty"},
        {"[[expect.data]]\nstream = \"x\"\nmin = \"low\"\n", "s.toml:3: min must be a number"},
        {"answers = [\n", "s.toml:"},
        // The machine's sections, and the fakes' members in expectations.
        {"[[machine.file]]\npath = 'C:\\a'\n", "unknown key \"file\" in machine; did you mean \"files\"?"},
        {"[[machine.files]]\npaht = 'C:\\a'\n", "s.toml:2: unknown key \"paht\" in machine.files; did you mean \"path\"?"},
        {"[[machine.files]]\ntext = \"x\"\n", "s.toml:1: each machine.files needs path"},
        {"[[machine.files]]\npath = 'C:\\a'\ntext = \"x\"\nlines = [\"y\"]\n", "s.toml:4: text and lines say the same"},
        {"[[machine.registry]]\nkey = 'HKLM\\a'\ntype = \"REG_DWROD\"\n", "did you mean \"REG_DWORD\"?"},
        {"[machine]\nreal = [\"shell\"]\n", "unknown fake \"shell\" in machine.real"},
        {"[[expect.calls]]\nop = \"TextStream.ReadLines\"\n", "did you mean \"TextStream.ReadLine\"?"},
        {"[[expect.calls]]\nop = \"SWbemServices.ExecQuery\"\nmatch = { query = \"*\" }\n",
         "s.toml:3: unknown parameter \"query\" of SWbemServices.ExecQuery"},
        {"[[expect.calls]]\nop = \"GetContextEx\"\nanswer = \"1\"\n", "answer is what a fake answered"},
    };
    for (const File& f : files) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(parseScenario(f.toml, "s.toml", s, error)) << f.toml;
        EXPECT_NE(error.find(f.says), std::string::npos) << error;
    }

    // The runner refuses such a file before any job runs.
    Outcome o = runRunner(L"--scenario " + write(L"bad.toml", "[answers.Bogus]\nresult = 1\n") + L" " +
                          write(L"a.vbs", "Sub main()\r\nEnd Sub\r\n"));
    EXPECT_EQ(o.status, 2u);
    EXPECT_NE(o.err.find("bad.toml:1: unknown operation \"Bogus\""), std::string::npos) << o.err;
    EXPECT_TRUE(o.journal.empty());
}

// A scenario names operations by the script's methods too, lists runs, and
// says how the session runs.
TEST(RunnerScenarios, MethodNamesRunListsAndTheSessionsShapeAreRead) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(parseScenario("runs = 6\nfast = true\nevery = 0.5\n"
                              "[[answers.GetObjItemCnt.when]]\nruns = \"1,3, 5-\"\nresult = 2\n"
                              "[[expect.calls]]\nop = \"CVSleep\"\nruns = \"2-4,6\"\n"
                              "[[expect.event]]\nmessage = \"disk*\"\nignore_case = true\nruns = \"3\"\n",
                              "s.toml", s, error)) << error;
    EXPECT_EQ(s.runs, 6u);
    EXPECT_TRUE(s.fast);
    EXPECT_EQ(s.everySeconds, 0.5);
    ASSERT_EQ(s.answers.size(), 3u);
    const unsigned spans[][2] = {{1, 1}, {3, 3}, {5, 0}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(s.answers[i].op, "MCGetVirDataItemCnt");
        EXPECT_EQ(s.answers[i].runs.first, spans[i][0]);
        EXPECT_EQ(s.answers[i].runs.last, spans[i][1]);
    }
    ASSERT_EQ(s.expectations.size(), 2u);
    EXPECT_EQ(s.expectations[0].op, "MCSleep");
    EXPECT_EQ(s.expectations[0].runs.words(), "each of runs 2-4, 6");
    for (unsigned run = 1; run <= 7; ++run) EXPECT_EQ(s.expectations[0].runs.contains(run), run != 1 && run != 5 && run != 7);
    EXPECT_EQ(s.expectations[1].runs.words(), "run 3");
    EXPECT_TRUE(s.expectations[1].ignoreCase);
}

// What the script sees in each run, traced: per-argument answers for the
// disk it asks about, per-run answers, the run count, and the stores'
// starting content.
TEST(RunnerScenarios, AnswersByArgumentAndRunReachTheScript) {
    std::wstring scenario = write(L"disk.toml",
        "[answers.GetContextEx]\ntext = \"none\"\n"
        "[[answers.GetContextEx.when]]\nmatch = { label = \"Disk\", labval = \"C:\" }\ntext = \"40\"\n"
        "[[answers.GetContextEx.when]]\nmatch = { label = \"Disk\", labval = \"C:\" }\nruns = \"3-\"\ntext = \"5\"\n"
        // Letter case counts unless the answer says otherwise.
        "[[answers.GetContextEx.when]]\nmatch = { label = \"disk\", labval = \"d:\" }\nignore_case = true\ntext = \"77\"\n"
        "[[answers.GetContextEx.when]]\nmatch = { labval = \"d:\" }\ntext = \"never\"\n"
        "[[answers.MCSleep.when]]\nruns = \"2-3\"\nabort = 1\n"
        "[objects]\nVolumes = [\"C:\", \"D:\"]\n"
        "[dictionary]\nlimit = \"10\"\n"
        "[exports]\nowner = \"ops\"\n");
    std::wstring script = write(L"disk.vbs",
        "Sub main()\r\n"
        "  Dim i, v, free, limit, owner\r\n"
        "  For i = 1 To CVEXT.GetObjItemCnt(\"\", \"Volumes\")\r\n"
        "    v = CVEXT.GetObjItem(\"\", \"Volumes\", i)\r\n"
        "    free = \"\"\r\n"
        "    CVEXT.GetContextEx \"Disk\", v, \"NULL\", \"NULL\", \"Free\", free\r\n"
        "    CVEXT.ZTrace CStr(CVEXT.IterationCount) & \" \" & v & \"=\" & free\r\n"
        "  Next\r\n"
        "  CVEXT.DictionaryRetrieveValue \"limit\", limit\r\n"
        "  CVEXT.ImportData \"owner\", owner\r\n"
        "  CVEXT.ZTrace \"limit \" & limit & \" owner \" & owner & \" abort \" & CStr(CVEXT.CVSleep(1))\r\n"
        "End Sub\r\n");
    Outcome o = runRunner(L"--runs 4 --fast --scenario " + scenario + L" " + script);
    EXPECT_EQ(o.status, 0u) << o.err;
    std::vector<std::string> traced;
    for (const std::string& line : o.journal)
        if (std::size_t at = line.find(R"("op":"ZTrace")"); at != std::string::npos)
            traced.push_back(line.substr(line.find("\"args\":[\"") + 9, line.rfind("\"]") - line.find("\"args\":[\"") - 9));
    std::vector<std::string> expected;
    for (int run = 1; run <= 4; ++run) {
        expected.push_back(std::to_string(run) + " C:=" + (run >= 3 ? "5" : "40"));
        expected.push_back(std::to_string(run) + " D:=77");
        // The waits report an abort only in runs 2 and 3.
        bool aborted = run == 2 || run == 3;
        expected.push_back(std::string("limit 10 owner ops abort ") + (aborted ? "-1" : "1"));
    }
    EXPECT_EQ(traced, expected) << o.err;
}

// One script, expectations of every kind: all of them hold, then each is
// turned so that it fails with its own words and the session's status 5.
TEST(RunnerScenarios, ExpectationsHoldOrFailEachInItsOwnWords) {
    std::wstring script = write(L"check.vbs",
        "Sub main()\r\n"
        "  Dim n\r\n"
        "  n = CVEXT.IterationCount\r\n"
        "  CVEXT.CreateData \"Load\", \"Load (%)\", \"NULL\", \"cpu\", n * 10, \"sample\", 0\r\n"
        "  If n = 2 Then CVEXT.CreateEvent 25, \"load high\", \"NULL\", \"cpu\", 0, \"x\", \"NULL\", 0, 0\r\n"
        "  CVEXT.ZTrace \"run\"\r\n"
        "  If n = 3 Then CVEXT.AbortScript \"cpu\", \"giving up\", 5, False\r\n"
        "End Sub\r\n");
    const std::string holding =
        "[[expect.event]]\nruns = 2\nseverity = [20, 30]\nmessage = \"load*\"\nobjects = \"cpu\"\ncount = 1\n"
        "[[expect.data]]\nstream = \"Load\"\nmin = 10\nmax = 30\nat_least = 3\n"
        "[[expect.abort]]\nruns = 3\nmessage = \"giving*\"\n"
        "[[expect.script_error]]\ncount = 0\n"
        "[[expect.calls]]\nop = \"ZTrace\"\nmatch = { msg = \"run\" }\nruns = \"1-\"\ncount = 1\n";
    Outcome ok = runRunner(L"--runs 3 --fast --scenario " + write(L"holds.toml", holding) + L" " + script);
    EXPECT_EQ(ok.status, 0u) << ok.out << ok.err;
    for (int n = 1; n <= 5; ++n)
        EXPECT_NE(ok.out.find("job 1 expect " + std::to_string(n) + " holds: "), std::string::npos) << ok.out;

    struct Case { const char* toml; const char* verdict; const char* failure; };
    const Case failing[] = {
        {"[[expect.event]]\nruns = \"1-\"\nseverity = 25\n",
         "expect 1 FAILED: events of severity 25: at least 1 in every run",
         "job 1 expect 1 run 1: none matched and there were none of any kind"},
        {"[[expect.event]]\nruns = 2\nmessage = \"load low\"\n", "FAILED: events with message \"load low\"",
         "run 2: none matched; there were MSActions(25, \"load high\", objects \"cpu\")"},
        {"[[expect.data]]\nstream = \"Load\"\nmax = 20\n", "FAILED: data points in stream \"Load\", each at most 20",
         "the session: \"Load\" value 30 (\"sample\") is not at most 20"},
        {"[[expect.abort]]\nruns = \"1-2\"\n", "FAILED: aborts (MCAbort): at least 1 in each of runs 1-2",
         "run 2: none matched"},
        {"[[expect.abort]]\ncount = 0\n", "FAILED: aborts (MCAbort): none in the session",
         "the session: 1 matched where none should: MCAbort(5, \"cpu\", \"giving up\""},
        {"[[expect.script_error]]\nmessage = \"*Division*\"\n", "FAILED: script errors with message \"*Division*\"",
         "the session: none matched and there were none of any kind"},
        {"[[expect.calls]]\nop = \"ZTrace\"\nruns = 2\ncount = 2\n", "FAILED: calls of ZTrace: exactly 2 in run 2",
         "run 2: 1 matched where exactly 2 should: ZTrace(\"run\")"},
        {"[[expect.calls]]\nop = \"ZTrace\"\nruns = 5\n", "FAILED: calls of ZTrace: at least 1 in run 5",
         "run 5: did not take place"},
    };
    for (const Case& c : failing) {
        Outcome o = runRunner(L"--runs 3 --fast --scenario " + write(L"fails.toml", c.toml) + L" " + script);
        EXPECT_EQ(o.status, 5u) << c.toml << o.out << o.err;
        EXPECT_NE(o.out.find(c.verdict), std::string::npos) << c.toml << o.out;
        EXPECT_NE(o.err.find(c.failure), std::string::npos) << c.toml << o.err;
    }

    // The report marks each verdict.
    std::wstring report = scratch() + L"verdicts.html";
    Outcome r = runRunner(L"--runs 3 --fast --report \"" + report + L"\" --scenario " +
                          write(L"mixed.toml", std::string(holding) + failing[0].toml) + L" " + script);
    EXPECT_EQ(r.status, 5u);
    std::string html = runner::readFile(report);
    EXPECT_NE(html.find("<h3>Expectations</h3>"), std::string::npos);
    std::size_t holds = 0, failed = 0;
    for (std::size_t at = 0; (at = html.find("badge ok\">holds<", at)) != std::string::npos; ++at) ++holds;
    for (std::size_t at = 0; (at = html.find("badge bad\">failed</span></td><td class=\"num\">6<", at)) != std::string::npos; ++at)
        ++failed;
    EXPECT_EQ(holds, 5u);
    EXPECT_EQ(failed, 1u);
}

// An expected script error is the script doing right: it fails neither the
// job nor the session.
TEST(RunnerScenarios, AnExpectedScriptErrorPassesTheSession) {
    std::wstring script = write(L"div.vbs", "Sub main()\r\n  CVEXT.ZTrace 1 / 0\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"--runs 2 --scenario " +
                          write(L"div.toml", "[[expect.script_error]]\nruns = \"1-2\"\nmessage = \"*Division by zero*\"\n") +
                          L" " + script);
    EXPECT_EQ(o.status, 0u) << o.out << o.err;
    Outcome plain = runRunner(L"--runs 2 " + script);
    EXPECT_EQ(plain.status, 1u);
}

// The examples' scenarios hold with the runs and speed they state
// themselves, and the scripts without one run cleanly.
TEST(RunnerScenarios, TheExamplesScenariosHold) {
    Outcome o = runRunner(L"--test \"" + runner::binFolder() + L"examples\"", {}, false);
    EXPECT_EQ(o.status, 0u) << o.out << o.err;
    for (const char* line : {"PASS diskspace.vbs with diskspace.fills.toml: ", "PASS services.vbs with services.stops.toml: ",
                             "PASS inventory.vbs: every run succeeded\n", "PASS wmidisks.vbs with wmidisks.fills.toml: ",
                             "PASS wmiservices.vbs with wmiservices.stops.toml: ", "PASS logtail.vbs with logtail.errors.toml: "})
        EXPECT_NE(o.out.find(line), std::string::npos) << line << o.out;
    EXPECT_EQ(o.out.find("FAIL"), std::string::npos) << o.out;
}

// The fake machine: the scripts' own WScript.Shell and FileSystemObject
// answered per run by the scenario, each call a journal line (and a line
// of --calls) of its job and run; a member the fakes lack is a script error
// naming it.
TEST(RunnerMachine, TheScenarioAnswersTheScriptsOwnObjectsPerRun) {
    std::wstring scenario = write(L"shell.toml",
        "[[machine.registry]]\nkey = 'HKLM\\SOFTWARE\\Acme\\Version'\nvalue = \"4.1\"\n"
        "[[machine.registry]]\nkey = 'HKLM\\SOFTWARE\\Acme\\Version'\nruns = \"2-\"\nvalue = \"4.2\"\n"
        "[[machine.environment]]\nname = \"TEMP\"\nvalue = 'C:\\Temp'\n"
        "[[expect.calls]]\nop = \"wscript.shell.regread\"\nmatch = { Name = \"*Version\" }\nanswer = \"4.?\"\nruns = \"1-\"\ncount = 1\n");
    std::wstring script = write(L"shell.vbs",
        "Sub main()\r\n"
        "  Dim sh : Set sh = CreateObject(\"WScript.Shell\")\r\n"
        "  CVEXT.ZTrace sh.RegRead(\"HKLM\\SOFTWARE\\Acme\\Version\") & \" \" & sh.ExpandEnvironmentStrings(\"%TEMP%|%NONE%\")\r\n"
        "End Sub\r\n");
    Outcome o = runRunner(L"--runs 2 --calls --scenario " + scenario + L" " + script);
    EXPECT_EQ(o.status, 0u) << o.out << o.err;
    std::vector<std::string> fake, traced;
    for (const std::string& line : o.journal) {
        if (line.find("\"fake\":") != std::string::npos) fake.push_back(line);
        if (line.find(R"("op":"ZTrace")") != std::string::npos) traced.push_back(line.substr(line.find("\"args\":[")));
    }
    EXPECT_EQ(fake, (std::vector<std::string>{
        R"({"job":1,"run":1,"fake":"WScript.Shell.RegRead","args":["HKLM\\SOFTWARE\\Acme\\Version"],"answer":"4.1"})",
        R"({"job":1,"run":1,"fake":"WScript.Shell.ExpandEnvironmentStrings","args":["%TEMP%|%NONE%"],"answer":"C:\\Temp|%NONE%"})",
        R"({"job":1,"run":2,"fake":"WScript.Shell.RegRead","args":["HKLM\\SOFTWARE\\Acme\\Version"],"answer":"4.2"})",
        R"({"job":1,"run":2,"fake":"WScript.Shell.ExpandEnvironmentStrings","args":["%TEMP%|%NONE%"],"answer":"C:\\Temp|%NONE%"})",
    }));
    EXPECT_EQ(traced.size(), 2u);
    EXPECT_NE(traced.back().find("4.2 C:\\\\Temp|%NONE%"), std::string::npos) << traced.back();
    std::vector<std::string> logged = author::callsLogged(o.out);
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "job 1 run 2: WScript.Shell.RegRead(\"HKLM\\\\SOFTWARE\\\\Acme\\\\Version\") -> \"4.2\""),
              logged.end()) << o.out;
    EXPECT_NE(o.out.find("expect 1 holds: calls of WScript.Shell.RegRead with Name \"*Version\" answering \"4.?\""),
              std::string::npos) << o.out;

    // A member the fakes lack fails the run, in the words of the script error.
    std::wstring copy = write(L"copy.vbs", "Sub main()\r\n"
                                           "  CreateObject(\"Scripting.FileSystemObject\").CopyFile \"C:\\a\", \"C:\\b\"\r\n"
                                           "End Sub\r\n");
    Outcome c = runRunner(L"--scenario " + write(L"env.toml", "[[machine.environment]]\nname = \"TEMP\"\nvalue = 'C:\\Temp'\n") +
                          L" " + copy);
    EXPECT_EQ(c.status, 1u);
    EXPECT_NE(c.err.find("FileSystemObject.CopyFile is not faked\" at line 2"), std::string::npos) << c.err;
}

// Only a scenario with a machine section fakes the machine, and then only
// the parts it does not let through: without one, or with real = ["files"],
// the script's FileSystemObject is the platform's own and sees a real file.
TEST(RunnerMachine, WithoutAMachineSectionScriptsReachTheRealMachine) {
    std::wstring real = writeFile(L"real.txt", "here\r\n");
    std::wstring script = write(L"exists.vbs", "Sub main()\r\n"
                                                "  CVEXT.ZTrace CStr(CreateObject(\"Scripting.FileSystemObject\").FileExists(\"" +
                                                    utf8(real) + "\"))\r\n"
                                                "End Sub\r\n");
    struct Case { std::wstring scenario; const char* traced; bool faked; };
    const Case cases[] = {
        {L"", "True", false},
        {L"--scenario " + write(L"wmi.toml", "[[machine.wmi]]\nclass = \"Win32_Service\"\n") + L" ", "False", true},
        {L"--scenario " + write(L"realfiles.toml", "[machine]\nreal = [\"files\"]\n[[machine.wmi]]\nclass = \"X\"\n") + L" ",
         "True", false},
    };
    for (const Case& c : cases) {
        Outcome o = runRunner(c.scenario + script);
        EXPECT_EQ(o.status, 0u) << o.err;
        bool faked = false, traced = false;
        for (const std::string& line : o.journal) {
            faked |= line.find("\"fake\":\"FileSystemObject.FileExists\"") != std::string::npos;
            traced |= line.find(std::string(R"("args":[")") + c.traced + "\"]") != std::string::npos;
        }
        EXPECT_EQ(faked, c.faked) << utf8(c.scenario);
        EXPECT_TRUE(traced) << utf8(c.scenario) << o.err;
    }
}

// The interval methods answer the schedule of --every, unless the scenario
// answers them; without --every the core's default.
TEST(RunnerScenarios, EveryIsTheIntervalTheScriptReads) {
    std::wstring script = write(L"interval.vbs", "Sub main()\r\n"
                                                 "  CVEXT.ZTrace CStr(CVEXT.GetScriptInterval) & \" \" & CStr(CVEXT.GetKPInterval)\r\n"
                                                 "End Sub\r\n");
    struct Case { std::wstring args; const char* traced; };
    const Case cases[] = {
        {L"--runs 1 ", "\"300 300\""},
        {L"--every 2 --runs 1 ", "\"2 2\""},
        {L"--every 2 --runs 1 --scenario " + write(L"interval.toml", "[answers.GetScriptInterval]\nresult = 60\n") + L" ",
         "\"60 60\""},
    };
    for (const Case& c : cases) {
        Outcome o = runRunner(c.args + script);
        EXPECT_EQ(o.status, 0u) << o.err;
        bool seen = false;
        for (const std::string& line : o.journal)
            seen |= line.find(R"("op":"ZTrace")") != std::string::npos && line.find(c.traced) != std::string::npos;
        EXPECT_TRUE(seen) << utf8(c.args) << " " << c.traced;
    }
}

// The methods a script calls, from the type library of the runner's zTolvera.dll: all 75
// listed, one method's parameters, default and result, the pitfall of a
// flag result, and a misspelt name answered with the nearest one.
TEST(RunnerScenarios, MethodHelpComesFromTheTypeLibrary) {
    Outcome list = runRunner(L"--list-methods");
    EXPECT_EQ(list.status, 0u) << list.err;
    std::vector<std::string> lines = runner::linesOf(list.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "75 methods of CVEXT; --help METHOD says more of one");
    EXPECT_EQ(lines.size(), 76u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "CVSleep(intv, [noabort]) As Long"), lines.end()) << list.out;

    struct Case { std::wstring args; DWORD status; std::vector<std::string> says; };
    const Case cases[] = {
        {L"--help ImportData", 0, {"CVEXT.ImportData(vname, val) As Boolean\n", "  val    Variant, written by the method: pass a variable\n",
                                   "returns Boolean\n", "not True (-1)", "If CVEXT.ImportData(...) Then"}},
        {L"--help=CVSleep", 0, {"  noabort  Boolean, may be left out (then False)\n", "returns Long\n"}},
        {L"--help DictionaryInsertValue", 0, {"the core's 1 for success", "never with True"}},
        {L"--help GetObjItmCnt", 2, {"CVEXT has no method GetObjItmCnt (did you mean GetObjItemCnt?)"}},
    };
    for (const Case& c : cases) {
        Outcome o = runRunner(c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        for (const std::string& said : c.says)
            EXPECT_NE((o.out + o.err).find(said), std::string::npos) << said << " in " << o.out << o.err;
    }
    EXPECT_EQ(runRunner(L"--help=CVSleep").out.find("pitfall"), std::string::npos);
}

// An XML element as the test reads it back.
struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;   // values unescaped
    std::string text;                                               // its own text, unescaped
    std::string attribute(const std::string& n) const {
        for (const auto& [k, v] : attributes)
            if (k == n) return v;
        return "";
    }
};

// A strict reader of the XML that --junit writes: one declaration, matched
// tags, quoted attributes, only the five predefined entities, no control
// characters; false with where it broke. Elements in document order.
bool readXml(const std::string& xml, std::vector<Element>& elements, std::string& why) {
    auto unescape = [&](const std::string& raw, std::string& out) {
        for (std::size_t i = 0; i < raw.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(raw[i]);
            if (c == '<') return false;
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
            if (c != '&') { out += raw[i]; continue; }
            std::size_t end = raw.find(';', i);
            if (end == std::string::npos) return false;
            std::string name = raw.substr(i + 1, end - i - 1);
            const char* entities[][2] = {{"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
            bool known = false;
            for (auto& e : entities)
                if (name == e[0]) out += e[1], known = true;
            if (!known) return false;
            i = end;
        }
        return true;
    };
    if (xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0) != 0) return why = "no declaration", false;
    std::vector<std::size_t> open;
    std::size_t at = xml.find("?>") + 2;
    while (at < xml.size()) {
        std::size_t lt = xml.find('<', at);
        std::string text = xml.substr(at, (lt == std::string::npos ? xml.size() : lt) - at), plain;
        if (!unescape(text, plain)) return why = "bad text at " + std::to_string(at), false;
        if (!open.empty()) elements[open.back()].text += plain;
        else if (plain.find_first_not_of(" \r\n\t") != std::string::npos) return why = "text outside the root", false;
        if (lt == std::string::npos) break;
        std::size_t gt = xml.find('>', lt);
        if (gt == std::string::npos) return why = "unclosed tag", false;
        std::string tag = xml.substr(lt + 1, gt - lt - 1);
        at = gt + 1;
        if (tag[0] == '/') {
            if (open.empty() || elements[open.back()].name != tag.substr(1)) return why = "mismatched </" + tag + ">", false;
            open.pop_back();
            continue;
        }
        if (open.empty() && !elements.empty()) return why = "a second root", false;
        bool empty = tag.back() == '/';
        if (empty) tag.pop_back();
        Element e;
        std::size_t p = tag.find_first_of(" \n");
        e.name = tag.substr(0, p);
        while (p != std::string::npos && p < tag.size()) {
            p = tag.find_first_not_of(" \n", p);
            if (p == std::string::npos) break;
            std::size_t eq = tag.find("=\"", p), close = eq == std::string::npos ? eq : tag.find('"', eq + 2);
            if (close == std::string::npos) return why = "bad attribute in <" + tag + ">", false;
            std::string value;
            if (!unescape(tag.substr(eq + 2, close - eq - 2), value)) return why = "bad attribute value in <" + tag + ">", false;
            std::string key = tag.substr(p, eq - p);
            for (const auto& [k, v] : e.attributes)
                if (k == key) return why = "attribute twice in <" + tag + ">", false;
            e.attributes.emplace_back(key, value);
            p = close + 1;
        }
        elements.push_back(e);
        if (!empty) open.push_back(elements.size() - 1);
    }
    if (!open.empty()) return why = "unclosed <" + elements[open.back()].name + ">", false;
    return !elements.empty() || (why = "no root", false);
}

// --test on a folder: every script with each of its scenarios (or alone),
// one PASS or FAIL line per pair with the reason, the runs and speed from
// the scenario, JUnit XML with a test case per expectation, and the status
// of the worst pair.
TEST(RunnerScenarios, TestModeRunsEveryPairAndWritesJUnit) {
    std::wstring folder = scratch() + L"suite\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    auto put = [&](const wchar_t* name, const std::string& bytes) { writeFile(std::wstring(L"suite\\") + name, bytes); };
    put(L"pass.vbs", "Sub main()\r\n"
                     "  CVEXT.ZTrace \"items \" & CVEXT.GetObjItemCnt(\"\", \"Volumes\")\r\n"
                     "  CVEXT.CreateEvent 15, \"Disk C: full\", \"NULL\", \"C:\", 0, \"x\", \"NULL\", 0, 0\r\n"
                     "  CVEXT.CVSleep 20000\r\n"
                     "End Sub\r\n");
    // Its own run count and speed: without them run 3 would not take place
    // and the waits would take a minute.
    put(L"pass.toml", "runs = 3\nfast = true\n"
                      "[[answers.GetObjItemCnt.when]]\nruns = \"1,3\"\nresult = 2\n"
                      "[[expect.calls]]\nop = \"ZTrace\"\nmatch = { msg = \"items 2\" }\nruns = \"1,3\"\ncount = 1\n"
                      "[[expect.calls]]\nop = \"GetObjItemCnt\"\nruns = \"1-\"\ncount = 1\n"
                      "[[expect.event]]\nmessage = \"disk c:*\"\nignore_case = true\nruns = \"1-\"\ncount = 1\n");
    put(L"fail.vbs", "Sub main()\r\n"
                     "  CVEXT.CreateEvent 25, \"<load> & \"\"high\"\" \" & Chr(1), \"NULL\", \"cpu\", 0, \"x\", \"NULL\", 0, 0\r\n"
                     "End Sub\r\n");
    put(L"fail.toml", "[[expect.event]]\nseverity = 15\n[[expect.event]]\nmessage = \"<load>*\"\n");
    put(L"fail.strict.toml", "[[expect.event]]\nmessage = \"<LOAD>*\"\n");
    put(L"plain.vbs", "Sub main()\r\nEnd Sub\r\n");
    put(L"broken.vbs", "Sub main()\r\n  CVEXT.ZTrace 1 / 0\r\nEnd Sub\r\n");
    put(L"other.toml", "this is no scenario of any script here");
    std::wstring junit = scratch() + L"suite.xml";
    DeleteFileW(junit.c_str());

    ULONGLONG began = GetTickCount64();
    std::wstring report = scratch() + L"suite.html";
    Outcome o = runRunner(L"--test --junit \"" + junit + L"\" --report \"" + report + L"\" \"" + folder + L"\"", {}, false);
    EXPECT_LT(GetTickCount64() - began, 40000u);
    EXPECT_EQ(o.status, 5u) << o.out << o.err;
    const char* lines[] = {
        "FAIL broken.vbs: job 1 run 1: script error \"Microsoft VBScript runtime error: Division by zero\" at line 2",
        "FAIL fail.vbs with fail.toml: expect 1 failed (events of severity 15: at least 1 in the session): the session: "
        "none matched; there were MSActions(25, \"<load> & \"high\" \x01\", objects \"cpu\")\n",
        "FAIL fail.vbs with fail.strict.toml: expect 1 failed (events with message \"<LOAD>*\": at least 1 in the session)",
        "PASS pass.vbs with pass.toml: 3 expectations hold\n",
        "PASS plain.vbs: every run succeeded\n",
        "2 of 5 pairs passed\n",
    };
    std::size_t from = 0;
    for (const char* line : lines) {
        std::size_t at = o.out.find(line, from);
        EXPECT_NE(at, std::string::npos) << line << "\n" << o.out;
        if (at != std::string::npos) from = at;
    }
    EXPECT_NE(o.out.find("Division by zero"), std::string::npos) << o.out;

    std::vector<Element> xml;
    std::string why, text = runner::readFile(junit);
    ASSERT_TRUE(readXml(text, xml, why)) << why << "\n" << text;
    EXPECT_EQ(xml[0].name, "testsuites");
    EXPECT_EQ(xml[0].attribute("tests"), "11");
    EXPECT_EQ(xml[0].attribute("failures"), "3");
    struct Suite { std::string name; int tests, failures; };
    std::vector<Suite> suites;
    std::vector<std::string> failed;
    for (const Element& e : xml) {
        if (e.name == "testsuite") suites.push_back({e.attribute("name"), std::stoi(e.attribute("tests")), std::stoi(e.attribute("failures"))});
        if (e.name == "failure") failed.push_back(e.attribute("message") + " | " + e.text);
        if (e.name == "testcase") {
            EXPECT_FALSE(e.attribute("classname").empty() || e.attribute("name").empty());
        }
    }
    const Suite expected[] = {{"broken.vbs", 1, 1}, {"fail.vbs with fail.toml", 3, 1}, {"fail.vbs with fail.strict.toml", 2, 1},
                              {"pass.vbs with pass.toml", 4, 0}, {"plain.vbs", 1, 0}};
    ASSERT_EQ(suites.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(suites[i].name, expected[i].name);
        EXPECT_EQ(suites[i].tests, expected[i].tests) << expected[i].name;
        EXPECT_EQ(suites[i].failures, expected[i].failures) << expected[i].name;
    }
    ASSERT_EQ(failed.size(), 3u);
    EXPECT_NE(failed[0].find("Division by zero"), std::string::npos) << failed[0];
    // What differed, unescaped back to the script's own text.
    EXPECT_NE(failed[1].find("there were MSActions(25, \"<load> & \"high\" \\x01\""), std::string::npos) << failed[1];
    EXPECT_NE(failed[2].find("the session: none matched"), std::string::npos) << failed[2];

    // One report of every pair, each a job of its own with its verdicts.
    std::string html = runner::readFile(report);
    const char* sections[] = {"job 1 &#183; broken.vbs</h2>", "job 2 &#183; fail.vbs with fail.toml</h2>",
                              "job 3 &#183; fail.vbs with fail.strict.toml</h2>", "job 4 &#183; pass.vbs with pass.toml</h2>",
                              "job 5 &#183; plain.vbs</h2>"};
    for (const char* section : sections) EXPECT_NE(html.find(section), std::string::npos) << section;
    std::size_t verdicts = 0;
    for (std::size_t at = 0; (at = html.find("<tr class=\"verdict\">", at)) != std::string::npos; ++at) ++verdicts;
    EXPECT_EQ(verdicts, 6u);

    // Scripts named one by one; a scenario that cannot be used fails its
    // pair as a usage error, which is worse than a failed expectation.
    CreateDirectoryW((scratch() + L"suite2").c_str(), nullptr);
    writeFile(L"suite2\\bad.vbs", "Sub main()\r\nEnd Sub\r\n");
    writeFile(L"suite2\\bad.toml", "[answers.Bogus]\nresult = 1\n");
    Outcome worst = runRunner(L"--test \"" + folder + L"fail.vbs\" \"" + scratch() + L"suite2\\bad.vbs\"", {}, false);
    EXPECT_EQ(worst.status, 2u) << worst.out << worst.err;
    EXPECT_NE(worst.out.find("FAIL fail.vbs with fail.toml: "), std::string::npos) << worst.out;
    EXPECT_NE(worst.out.find("FAIL bad.vbs with bad.toml: bad.toml:1: unknown operation \"Bogus\""), std::string::npos)
        << worst.out;
    EXPECT_NE(worst.out.find("0 of 3 pairs passed\n"), std::string::npos) << worst.out;

    // A folder without scripts, and a name that is none, are usage errors.
    Outcome none = runRunner(L"--test \"" + scratch() + L"\\nothing-here\"", {}, false);
    EXPECT_EQ(none.status, 2u) << none.err;
}

TEST(RunnerScenarios, ListOpsNamesEveryOperationWithItsAnswers) {
    Outcome o = runRunner(L"--list-ops");
    EXPECT_EQ(o.status, 0u);
    for (const char* shown : {"GetContextEx(label, labval, sublab, subval, count, names, result)\n",
                              "    text:   the value in the context store", "MCSleep(intv, noabort, abort)\n",
                              "    abort:  non-zero", "IterationCount()\n    result: the job's run number"})
        EXPECT_NE(o.out.find(shown), std::string::npos) << shown;
}

}  // namespace scenarios
