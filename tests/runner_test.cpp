// ztolvera-run: its command line and script decoding alone, then the program
// itself as a child process, as script authors and `make run` start it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../tools/ztolvera-run/options.h"
#include "../tools/ztolvera-run/script.h"
#include "child_process.h"

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
    };
    for (const auto& args : bad) {
        Options o;
        std::wstring error;
        EXPECT_FALSE(parse(args, o, error)) << "case " << (&args - bad.data());
        EXPECT_FALSE(error.empty());
    }
}

// ---- script text --------------------------------------------------------

TEST(RunnerScripts, DecodesUtf8AndUtf16LeAndRejectsTheRest) {
    struct Case { std::string bytes; bool ok; std::wstring text; };
    const Case cases[] = {
        {"Sub main()", true, L"Sub main()"},
        {"\xEF\xBB\xBF" "x = \"\xC3\xA9\"", true, L"x = \"\u00e9\""},
        {std::string("\xFF\xFE" "a\0=\0" "1\0", 8), true, L"a=1"},
        {"", true, L""},
        {std::string("\xFE\xFF\0a", 4), false, L""},
        {std::string("\xFF\xFE" "a", 3), false, L""},
        {"x = \"\xE9\"", false, L""},
        {std::string("a\0b\0", 4), false, L""},
    };
    for (const Case& c : cases) {
        std::wstring text, error;
        EXPECT_EQ(decodeScript(c.bytes, text, error), c.ok) << "case " << (&c - cases);
        EXPECT_EQ(text, c.text) << "case " << (&c - cases);
        EXPECT_EQ(error.empty(), c.ok) << "case " << (&c - cases);
    }
}

// ---- the program --------------------------------------------------------

using runner::binFolder;
using runner::Outcome;
using runner::runRunner;
using runner::scratch;

std::wstring writeFile(const std::wstring& name, const std::string& bytes) {
    std::wstring path = scratch() + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return path;
}

std::wstring example(const wchar_t* name) { return L"\"" + binFolder() + L"examples\\" + name + L"\""; }

TEST(RunnerProgram, ServiceExampleReachesTheCoreAsJournalled) {
    Outcome o = runRunner(L"--set MCGetVirDataItem.text=Spooler,W32Time --set GetContextEx.text=Stopped " +
                          example(L"services.vbs"));
    EXPECT_EQ(o.status, 0u) << o.err;
    EXPECT_EQ(o.out, "job 1 services.vbs: compiled, runs 1, succeeded 1, script errors 0, core calls 9\n");
    EXPECT_EQ(o.journal, (std::vector<std::string>{
        R"({"job":1,"host":"reg","hr":0})",
        R"({"job":1,"host":"compile","hr":0})",
        R"({"job":1,"op":"MCGetVirDataItemCnt","ctx":[1,1001],"args":["WatchedServices"]})",
        R"({"job":1,"op":"MCGetVirDataItem","ctx":[1,1001],"args":["WatchedServices",1]})",
        R"({"job":1,"op":"GetContextEx","ctx":[1,1001],"args":["Service","Spooler",null,null,1,["State"],"Stopped"]})",
        R"j({"job":1,"op":"MSActions","ctx":[1,1001],"args":[15,"Service Spooler is not running (Stopped)",null,"Spooler","state reported by the agent: Stopped",0.0,0,null,null]})j",
        R"({"job":1,"op":"MCGetVirDataItem","ctx":[1,1001],"args":["WatchedServices",2]})",
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
    Outcome o = runRunner(L"\"" + missing + L"\"");
    EXPECT_EQ(o.status, 2u);
    EXPECT_NE(o.err.find("cannot read"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("missing.vbs"), std::string::npos) << o.err;
    EXPECT_TRUE(o.out.empty());

    for (const wchar_t* args : {L"", L"--runs", L"--threads 0 a.vbs", L"--frobnicate a.vbs"}) {
        Outcome u = runRunner(args);
        EXPECT_EQ(u.status, 2u) << u.err;
        EXPECT_TRUE(u.journal.empty());
    }
}

}  // namespace
