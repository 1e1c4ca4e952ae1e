// The checker: its findings on scripts with each kind of mistake, against
// the registered type library; then ztolvera-run --check and the runner's
// error lines as script authors read them; and the probes that keep the
// list of the engine's gaps true.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check.h"
#include "engine_gaps.h"
#include "script.h"
#include "child_process.h"
#include "script_fixture.h"

namespace {

using Lines = std::vector<std::string>;

using runner::linesOf;

Lines check(const std::wstring& text) {
    setUpComForTests();
    Members members;
    std::wstring error;
    EXPECT_TRUE(loadMembers(members, error)) << std::string(error.begin(), error.end());
    Lines out;
    for (const Finding& f : checkScript(text, members)) {
        std::string line = findingLine(L"t.vbs", f);
        out.push_back(line.substr(0, line.size() - 1));
    }
    return out;
}

TEST(Checker, MembersAndArgumentsAgainstTheTypeLibrary) {
    EXPECT_EQ(check(L"Sub main()\r\n"
                    L"  If False Then CVEXT.CreatEvent 15, \"x\", \"NULL\", \"o\", 0, \"d\", \"NULL\", 0, 0\r\n"
                    L"  CVEXT.ZTrace \"a\", \"b\", \"c\"\r\n"
                    L"  n = CVFLEXT.ItemCount(\"a,b\")\r\n"
                    L"  CVEXT.AbortScript 1, 2, 3, False, 5\r\n"
                    L"  CVEXT.ZTrace = \"x\"\r\n"
                    L"  x = CVEXT.ZTrace(\"a\")\r\n"
                    L"  Set m = CVEXT.GetMachName()\r\n"
                    L"  CVEXT.GetTempFileName(\"C:\\\", \"z\", 0)\r\n"
                    L"  x = CVEXT.MachName\r\n"
                    L"End Sub\r\n"),
              (Lines{
                  "t.vbs:2:23: error: CVEXT has no member CreatEvent; did you mean CreateEvent?",
                  "t.vbs:3:9: error: CVEXT.ZTrace takes 1 argument, given 3: ZTrace(msg)",
                  "t.vbs:4:15: error: CVFLEXT.ItemCount takes 2 arguments, given 1: ItemCount(list, delim) As Long",
                  "t.vbs:5:9: error: CVEXT.AbortScript takes 0 to 4 arguments, given 5: "
                  "AbortScript([obj], [msg], [sev], [raise_err])",
                  "t.vbs:6:9: error: CVEXT.ZTrace is a method and cannot be assigned a value: ZTrace(msg)",
                  "t.vbs:7:13: warning: CVEXT.ZTrace returns no value: the expression is Empty",
                  "t.vbs:8:17: error: Set needs an object, and CVEXT.GetMachName returns a String",
                  "t.vbs:9:9: error: a call statement cannot put its arguments in parentheses; the engine refuses the "
                  "script (\"Syntax error\"): write CVEXT.GetTempFileName a, b or Call CVEXT.GetTempFileName(a, b)",
                  "t.vbs:10:13: error: CVEXT has no member MachName",
              }));
}

// Strings, comments, continuations, separators, With blocks and aliases:
// what the tokenizer must see through to find the calls, and nothing else.
TEST(Checker, FindsCallsThroughTheLanguageAndOnlyThere) {
    EXPECT_EQ(check(L"Sub main()\r\n"
                    L"  CVEXT.ZTrace \"say \"\"CVEXT.Nope\"\" here\" ' CVEXT.Nope\r\n"
                    L"  Rem CVEXT.Nope\r\n"
                    L"  x = 1: CVEXT.Nope\r\n"
                    L"  CVEXT.ZTrace \"a\", _\r\n"
                    L"     \"b\"\r\n"
                    L"  With CVEXT\r\n"
                    L"    .ZTrace\r\n"
                    L"    y = .ItemCount(\"a\", \",\") + .Nope2\r\n"
                    L"  End With\r\n"
                    L"  With other\r\n"
                    L"    .Nope\r\n"
                    L"  End With\r\n"
                    L"  Set ext = CVFLEXT\r\n"
                    L"  ext.Zrace \"x\"\r\n"
                    L"  Set ext = Nothing\r\n"
                    L"  ext.Nope\r\n"
                    L"  If x Then CVEXT.ZTrace \"a\" Else CVEXT.ZTrace\r\n"
                    L"End Sub\r\n"),
              (Lines{
                  "t.vbs:4:16: error: CVEXT has no member Nope",
                  "t.vbs:5:9: error: CVEXT.ZTrace takes 1 argument, given 2: ZTrace(msg)",
                  "t.vbs:8:6: error: CVEXT.ZTrace takes 1 argument, given 0: ZTrace(msg)",
                  "t.vbs:9:33: error: CVEXT has no member Nope2",
                  "t.vbs:15:7: error: ext has no member Zrace; did you mean ZTrace?",
                  "t.vbs:18:41: error: CVEXT.ZTrace takes 1 argument, given 0: ZTrace(msg)",
              }));
}

TEST(Checker, ContractNotesAndStreamIds) {
    EXPECT_EQ(check(L"Const SID = 2.5\r\n"
                    L"Const NAMED = \"latency\"\r\n"
                    L"Sub main()\r\n"
                    L"  x = CVEXT.GetObjList(\"c\", \"o\")\r\n"
                    L"  v = CVEXT.GetParameter(\"p\")\r\n"
                    L"  CVEXT.DataLog 14 / 2, 1, \"x\"\r\n"
                    L"  CVEXT.DataLog \"7\", 1, \"x\"\r\n"
                    L"  CVEXT.DataLog SID, 1, \"x\"\r\n"
                    L"  CVEXT.DynaDataLog CDbl(n), \"l\", 1, \"x\"\r\n"
                    L"  CVEXT.DataHeader \"l\", 0, True\r\n"
                    L"  CVEXT.DataLog 7, 1, \"x\"\r\n"
                    L"  CVEXT.DataLog NAMED, 1, \"x\"\r\n"
                    L"  CVEXT.DataLog CLng(14 / 2), 1, \"x\"\r\n"
                    L"End Sub\r\n"),
              (Lines{
                  "t.vbs:4:13: warning: CVEXT.GetObjList always returns an empty text; GetObjItemCnt and GetObjItem "
                  "read the agent's object lists",
                  "t.vbs:5:13: warning: CVEXT.GetParameter always returns Empty; the extension object keeps no parameters",
                  "t.vbs:6:17: warning: stream id 14 / 2 is a Double (/ always divides into a Double), which "
                  "CVEXT.DataLog refuses without a core call; it takes an integer (CLng(...)) or a stream name",
                  "t.vbs:7:17: warning: stream id \"7\" is a text, so CVEXT.DataLog logs to the stream named \"7\", "
                  "not to stream 7; write 7 for the numbered stream",
                  "t.vbs:8:17: warning: stream id 2.5 is a Double, which CVEXT.DataLog refuses without a core call; it "
                  "takes an integer (CLng(...)) or a stream name (the value of SID)",
                  "t.vbs:9:21: warning: stream id CDbl(n) is a Double, which CVEXT.DynaDataLog refuses without a core "
                  "call; it takes an integer (CLng(...)) or a stream name",
                  "t.vbs:10:28: warning: stream id True is a Boolean, which CVEXT.DataHeader refuses without a core "
                  "call; it takes an integer (CLng(...)) or a stream name",
              }));
}

TEST(Checker, EngineGapsAreWarnedWhereTheScriptMeetsThem) {
    EXPECT_EQ(check(L"Dim list()\r\n"
                    L"Sub main()\r\n"
                    L"  x = Join(Array(1), \",\") & ChrW(65)\r\n"
                    L"  ReDim list(3)\r\n"
                    L"  ReDim Preserve list(4)\r\n"
                    L"  ReDim fresh(2)\r\n"
                    L"  y = obj.Join(1)\r\n"
                    L"  Escape \"x\r\n"
                    L"End Sub\r\n"
                    L"Function Filter(a)\r\n"
                    L"  Filter = a\r\n"
                    L"End Function\r\n"
                    L"Sub other()\r  z = Filter(1)\rEnd Sub\r\n"),
              (Lines{
                  "t.vbs:3:7: warning: Join: missing from the platform's engine: calling it fails with \"Object doesn't "
                  "support this action\"",
                  "t.vbs:3:29: warning: ChrW: missing from the platform's engine: calling it fails with \"Object doesn't "
                  "support this action\"",
                  "t.vbs:4:9: warning: ReDim list after Dim list(): ReDim of an array declared with empty parentheses "
                  "crashes the platform's engine and ends the jobs' process (ReDim Preserve, or Dim a then ReDim a(n), works)",
                  "t.vbs:6:9: warning: ReDim fresh without Dim fresh: ReDim of a name not declared with Dim fails on the "
                  "platform's engine with \"Call failed.\"",
                  "t.vbs:8:3: warning: Escape: missing from the platform's engine: calling it fails with \"Object "
                  "doesn't support this action\"",
                  "t.vbs:8:10: error: the string is not closed on its line; the engine refuses the script",
                  "t.vbs:13:1: warning: line 13 ends in a CR alone: the platform's engine does not count a line that "
                  "ends in a CR alone, so the lines of its errors are off",
              }));
}

// ---- the program --------------------------------------------------------

using runner::binFolder;
using runner::Outcome;
using runner::runRunner;
using runner::scratch;


std::wstring writeFile(const std::wstring& name, const std::wstring& text) { return runner::writeFile(name, utf8(text)); }

const wchar_t kUntaken[] = L"Sub main()\r\n"
                           L"  If CVEXT.GetJobID() < 0 Then\r\n"
                           L"    CVEXT.CreatEvent 25, \"alert\", \"NULL\", \"o\", 0, \"d\", \"NULL\", 0, 0\r\n"
                           L"  End If\r\n"
                           L"End Sub\r\n";

// The misspelt method in a branch that never runs fails --check before
// anything runs, and is shown before an ordinary run too.
TEST(CheckerProgram, AnUntakenMisspeltCallIsAnErrorBeforeItRuns) {
    std::wstring path = writeFile(L"alert.vbs", kUntaken);
    std::string finding = utf8(path) + ":3:11: error: CVEXT has no member CreatEvent; did you mean CreateEvent?";
    Outcome checked = runRunner(L"--check \"" + path + L"\"");
    EXPECT_EQ(checked.status, 1u) << checked.err;
    EXPECT_EQ(checked.out, finding + "\n");
    EXPECT_EQ(checked.err, "");
    EXPECT_TRUE(checked.journal.empty()) << "--check runs nothing";

    Outcome ran = runRunner(L"\"" + path + L"\"");
    EXPECT_EQ(ran.out, "job 1 alert.vbs: compiled, runs 1, succeeded 1, script errors 0, core calls 1\n");
    EXPECT_EQ(ran.err, finding + "\n");
}

TEST(CheckerProgram, TheExamplesAreClean) {
    std::wstring files;
    for (const wchar_t* name : {L"diskspace.vbs", L"inventory.vbs", L"latency.vbs", L"services.vbs"})
        files += L" \"" + binFolder() + L"examples\\" + name + L"\"";
    Outcome o = runRunner(L"--check" + files);
    EXPECT_EQ(o.status, 0u) << o.out << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
}

// A run's error line names the script's line once and, where the engine
// found no member or the wrong arguments, the member as declared.
TEST(CheckerProgram, ErrorLinesNameTheLineOnceAndTheMember) {
    std::wstring wrong = writeFile(L"wrong.vbs", L"Sub main()\r\n  n = CVEXT.ItemCount(\"a,b\", \",\", 3)\r\nEnd Sub\r\n");
    std::wstring missing =
        writeFile(L"missing.vbs", L"Sub main()\r\n  With CVEXT\r\n    .CreatEvent 1\r\n  End With\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"--runs 2 \"" + wrong + L"\" \"" + missing + L"\"");
    EXPECT_EQ(o.status, 1u);
    EXPECT_EQ(linesOf(o.err), (Lines{
        utf8(wrong) + ":2:13: error: CVEXT.ItemCount takes 2 arguments, given 3: ItemCount(list, delim) As Long",
        utf8(missing) + ":3:6: error: CVEXT has no member CreatEvent; did you mean CreateEvent?",
        "job 1 runs 1-2: script error \"Microsoft VBScript runtime error: Wrong number of arguments or invalid property "
        "assignment\" at line 2: n = CVEXT.ItemCount(\"a,b\", \",\", 3) \xE2\x80\x94 CVEXT.ItemCount takes 2 arguments, "
        "given 3: ItemCount(list, delim) As Long",
        "job 2 runs 1-2: script error \"Microsoft VBScript runtime error: Object doesn't support this property or "
        "method\" at line 3: .CreatEvent 1 \xE2\x80\x94 CVEXT has no member CreatEvent; did you mean CreateEvent?",
    }));
}

// ---- the engine's gaps --------------------------------------------------

// Every probe shows its gap when the runner runs it, and the checker warns
// about it beforehand wherever the script's text can show it.
TEST(EngineGaps, EveryProbeStillShowsItsGap) {
    std::wstring files;
    std::vector<const EngineGap*> probed;
    for (const EngineGap& gap : engineGaps()) {
        if (!gap.shows) continue;
        probed.push_back(&gap);
        files += L" \"" + writeFile(L"gap" + std::to_wstring(probed.size()) + L".vbs", probeText(gap)) + L"\"";
    }
    Outcome o = runRunner(L"--fast --calls" + files);
    Lines out = linesOf(o.out + o.err);
    for (std::size_t i = 0; i < probed.size(); ++i) {
        const EngineGap& gap = *probed[i];
        std::string job = "job " + std::to_string(i + 1) + " ", file = "gap" + std::to_string(i + 1) + ".vbs:";
        bool shown = false, warned = false;
        for (const std::string& line : out) {
            if (line.find(job) != std::string::npos && line.find(gap.shows) != std::string::npos) shown = true;
            if (line.find(file) != std::string::npos && line.find(gap.effect) != std::string::npos) warned = true;
        }
        EXPECT_TRUE(shown) << utf8(gap.name) << " no longer shows \"" << gap.shows << "\":\n" << o.out << o.err;
        EXPECT_EQ(warned, gap.kind != EngineGap::RunTimeOnly) << utf8(gap.name);
    }
}

// The probe that ends the jobs' process runs alone: the crash would end
// every job that shares that process.
TEST(EngineGaps, TheCrashingProbeStillEndsTheJobsProcess) {
    for (const EngineGap& gap : engineGaps()) {
        if (gap.shows) continue;
        std::wstring path = writeFile(L"crash.vbs", probeText(gap));
        Outcome o = runRunner(L"\"" + path + L"\"");
        EXPECT_EQ(o.status, 4u) << utf8(gap.name) << ": " << o.status << "\n" << o.out << o.err;
        EXPECT_NE(o.out.find("crashed in run 1"), std::string::npos) << o.out;
        EXPECT_NE(o.err.find(gap.effect), std::string::npos) << o.err;
    }
}

}  // namespace
