// The checker: its findings on scripts with each kind of mistake, against
// the registered type library; then ztolvera-run --check and the runner's
// error lines as script authors read them; and the probes that keep the
// list of the engine's gaps true.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "engine_compile.h"
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
                  // The engine refuses the parenthesised call statement of line 9, naming line 1.
                  "t.vbs:1:1: error: the engine refuses the script: Syntax error",
                  "t.vbs:2:23: error: CVEXT has no member CreatEvent; did you mean CreateEvent?",
                  "t.vbs:3:9: error: CVEXT.ZTrace takes 1 argument, given 3: ZTrace(msg)",
                  "t.vbs:4:15: error: CVFLEXT.ItemCount takes 2 arguments, given 1: ItemCount(list, delim) As Long",
                  "t.vbs:5:9: error: CVEXT.AbortScript takes 0 to 4 arguments, given 5: "
                  "AbortScript([obj], [msg], [sev], [raise_err])",
                  "t.vbs:6:9: error: CVEXT.ZTrace is a method and cannot be assigned a value: ZTrace(msg)",
                  "t.vbs:7:13: warning: CVEXT.ZTrace returns no value: the expression is Empty [no-value]",
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
                  "read the agent's object lists [contract]",
                  "t.vbs:5:13: warning: CVEXT.GetParameter always returns Empty; the extension object keeps no parameters [contract]",
                  "t.vbs:6:17: warning: stream id 14 / 2 is a Double (/ always divides into a Double), which "
                  "CVEXT.DataLog refuses without a core call; it takes an integer (CLng(...)) or a stream name [stream-id]",
                  "t.vbs:7:17: warning: stream id \"7\" is a text, so CVEXT.DataLog logs to the stream named \"7\", "
                  "not to stream 7; write 7 for the numbered stream [stream-id]",
                  "t.vbs:8:17: warning: stream id 2.5 is a Double, which CVEXT.DataLog refuses without a core call; it "
                  "takes an integer (CLng(...)) or a stream name (the value of SID) [stream-id]",
                  "t.vbs:9:21: warning: stream id CDbl(n) is a Double, which CVEXT.DynaDataLog refuses without a core "
                  "call; it takes an integer (CLng(...)) or a stream name [stream-id]",
                  "t.vbs:10:28: warning: stream id True is a Boolean, which CVEXT.DataHeader refuses without a core "
                  "call; it takes an integer (CLng(...)) or a stream name [stream-id]",
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
                  "t.vbs:8:10: error: the engine refuses the script: Syntax error",
                  "t.vbs:3:7: warning: Join: missing from the platform's engine: calling it fails with \"Object doesn't "
                  "support this action\" [engine-gap]",
                  "t.vbs:3:29: warning: ChrW: missing from the platform's engine: calling it fails with \"Object doesn't "
                  "support this action\" [engine-gap]",
                  "t.vbs:4:9: warning: ReDim list after Dim list(): ReDim of an array declared with empty parentheses "
                  "crashes the platform's engine and ends the jobs' process (ReDim Preserve, or Dim a then ReDim a(n), works) [engine-gap]",
                  "t.vbs:6:9: warning: ReDim fresh without Dim fresh: ReDim of a name not declared with Dim fails on the "
                  "platform's engine with \"Call failed.\" [engine-gap]",
                  "t.vbs:8:3: warning: Escape: missing from the platform's engine: calling it fails with \"Object "
                  "doesn't support this action\" [engine-gap]",
                  "t.vbs:8:10: error: the string is not closed on its line; the engine refuses the script",
                  "t.vbs:13:1: warning: line 13 ends in a CR alone: the platform's engine does not count a line that "
                  "ends in a CR alone, so the lines of its errors are off [engine-gap]",
              }));
}

// Each rule of the checker's warnings: the script gives one finding of the
// rule, on its line; the marker on that line, or the file's marker, silences
// it and nothing else.
TEST(Checker, EachRuleFindsOnceAndItsMarkerSilencesIt) {
    struct Case {
        const char* rule;
        unsigned line;
        std::wstring text;
    };
    const std::wstring main = L"Sub main()\r\n";
    const Case cases[] = {
        {"no-value", 2, main + L"  x = CVEXT.ZTrace(\"a\")\r\nEnd Sub\r\n"},
        {"contract", 2, main + L"  v = CVEXT.GetParameter(\"p\")\r\nEnd Sub\r\n"},
        {"stream-id", 2, main + L"  CVEXT.DataLog Int(n), 1, \"x\"\r\nEnd Sub\r\n"},
        {"stream-id", 2, main + L"  CVEXT.DataLog Round(n), 1, \"x\"\r\nEnd Sub\r\n"},
        {"stream-id", 2, main + L"  CVEXT.DataLog Fix(n), 1, \"x\"\r\nEnd Sub\r\n"},
        {"stream-id", 2, main + L"  CVEXT.DataLog n * 1.5 + 1, 1, \"x\"\r\nEnd Sub\r\n"},
        {"stream-id", 2, main + L"  CVEXT.DataLog 2 ^ n, 1, \"x\"\r\nEnd Sub\r\n"},
        {"flag-result", 2, main + L"  If Not CVEXT.ImportData(\"v\", x) Then x = 1\r\nEnd Sub\r\n"},
        {"flag-result", 2, main + L"  If CVEXT.ExportData(\"v\", 1) = True Then x = 1\r\nEnd Sub\r\n"},
        {"flag-result", 2, main + L"  ok = (True <> CVFLEXT.MCInCluster())\r\nEnd Sub\r\n"},
        {"host-object", 2, main + L"  WScript.Echo \"hi\"\r\nEnd Sub\r\n"},
        {"no-main", 1, L"Sub other()\r\nEnd Sub\r\nClass C\r\n  Sub main()\r\n  End Sub\r\nEnd Class\r\n"},
        {"refused-char", 2, main + L"  x =\u00A01\r\nEnd Sub\r\n"},
        {"refused-char", 2, main + L"  x = 1\x0B\r\nEnd Sub\r\n"},
        {"refused-char", 3, main + L"  x = 1\r\n' the end\x1A\r\nEnd Sub\r\n"},
        {"engine-gap", 2, main + L"  x = Join(Array(1), \",\")\r\nEnd Sub\r\n"},
        {"undeclared", 2, L"Option Explicit\r\n  count = 1\r\n" + main + L"End Sub\r\nDim later\r\n"},
        {"undeclared", 3, L"Option Explicit\r\n" + main + L"  For i = 1 To 2: Next\r\nEnd Sub\r\n"},
        {"undeclared", 4, L"Option Explicit\r\n" + main + L"  Dim a\r\n  a = b\r\nEnd Sub\r\n"},
        {"undeclared", 6, L"Option Explicit\r\nSub other(p)\r\n  Dim q\r\nEnd Sub\r\n" + main + L"  q = 1\r\nEnd Sub\r\n"},
        {"undeclared", 4, L"Option Explicit\r\nClass C\r\n  Public Sub Go()\r\n    hidden = 1\r\n  End Sub\r\nEnd Class\r\n" +
                              main + L"End Sub\r\n"},
    };
    auto ofRule = [](const Lines& lines, const std::string& rule) {
        Lines out;
        for (const std::string& l : lines)
            if (l.size() > rule.size() + 2 && l.compare(l.size() - rule.size() - 2, std::string::npos, "[" + rule + "]") == 0)
                out.push_back(l);
        return out;
    };
    for (const Case& c : cases) {
        Lines found = ofRule(check(c.text), c.rule);
        ASSERT_EQ(found.size(), 1u) << c.rule << ": " << utf8(c.text);
        EXPECT_EQ(found[0].rfind("t.vbs:" + std::to_string(c.line) + ":", 0), 0u) << found[0];
        EXPECT_NE(found[0].find(": warning: "), std::string::npos) << found[0];

        std::wstring marked = c.text;
        std::size_t at = 0;
        for (unsigned line = 1; line < c.line; ++line) at = marked.find(L"\r\n", at) + 2;
        std::wstring rule(c.rule, c.rule + std::strlen(c.rule));
        marked.insert(marked.find(L"\r\n", at), L" ' ztolvera: ignore other-rule, " + rule);
        Lines lines = check(marked);
        EXPECT_TRUE(ofRule(lines, c.rule).empty()) << c.rule << " on its line: " << utf8(marked);
        Lines unmarked = check(c.text);
        EXPECT_EQ(lines.size() + 1, unmarked.size()) << "the marker silences its rule only: " << utf8(marked);

        EXPECT_TRUE(ofRule(check(c.text + L"' ztolvera: ignore-file " + rule + L"\r\n"), c.rule).empty())
            << c.rule << " in the file";
    }
    // Every kind of declaration, in every scope, declares: nothing is undeclared here.
    EXPECT_EQ(ofRule(check(L"Option Explicit\r\n"
                           L"Const LIMIT = 5\r\n"
                           L"Dim total, list(3)\r\n"
                           L"Class Counter\r\n"
                           L"  Private count_\r\n"
                           L"  Public Property Get Value()\r\n"
                           L"    Value = count_ + LIMIT\r\n"
                           L"  End Property\r\n"
                           L"  Public Sub Add(ByVal n)\r\n"
                           L"    count_ = count_ + n: Me.Bump\r\n"
                           L"  End Sub\r\n"
                           L"End Class\r\n"
                           L"Function Twice(x)\r\n"
                           L"  Const TWO = 2\r\n"
                           L"  Twice = x * TWO & vbCrLf\r\n"
                           L"End Function\r\n"
                           L"Sub main()\r\n"
                           L"  Dim c, i, item\r\n"
                           L"  Set c = New Counter\r\n"
                           L"  For i = 1 To LIMIT: c.Add Twice(i): Next\r\n"
                           L"  For Each item In Split(\"a,b\", \",\"): total = total + Len(item): Next\r\n"
                           L"  On Error Resume Next\r\n"
                           L"  If Err.Number <> 0 Then CVEXT.ZTrace CStr(later)\r\n"
                           L"End Sub\r\n"
                           L"Dim later\r\n"),
                     "undeclared"),
              Lines{});
    // Another host's object is that host's, not an undeclared name too.
    EXPECT_EQ(check(L"Option Explicit\r\n" + main + L"  WScript.Echo 1\r\nEnd Sub\r\n").size(), 1u);
    // A marker in a string is text, not a marker.
    EXPECT_EQ(ofRule(check(main + L"  WScript.Echo \"' ztolvera: ignore host-object\"\r\nEnd Sub\r\n"), "host-object").size(), 1u);
}

// ---- the program --------------------------------------------------------

using runner::binFolder;
using runner::Outcome;
using runner::runRunner;
using runner::scratch;


std::wstring writeFile(const std::wstring& name, const std::wstring& text) { return runner::writeFile(name, utf8(text)); }

// ---- the engine's judgement ---------------------------------------------

struct CorpusScript {
    std::wstring name;
    std::wstring text;
    bool refused;   // what the platform's engine makes of it
};

std::wstring repeated(const wchar_t* piece, unsigned times) {
    std::wstring out;
    for (unsigned i = 0; i < times; ++i) out += piece;
    return out;
}

// Valid scripts, each kind of syntax error that the tokenizer alone let
// through, and fuzz inputs put together from VBScript's pieces.
std::vector<CorpusScript> corpus() {
    const std::wstring main = L"Sub main()\r\n", end = L"End Sub\r\n";
    std::vector<CorpusScript> out = {
        {L"plain", main + L"  Dim x\r\n  x = 1\r\n" + end, false},
        {L"class", L"Class C\r\n  Private a\r\n  Private b\r\n  Public Sub Go()\r\n  End Sub\r\nEnd Class\r\n" + main +
                       L"  Dim o\r\n  Set o = New C\r\n  o.Go\r\n" + end, false},
        // The platform's engine takes a variable named as a class (c for C) for the class.
        {L"class-name", L"Class C\r\nEnd Class\r\n" + main + L"  Dim c\r\n  Set c = New C\r\n" + end, true},
        {L"global-error", L"x = 1 / 0\r\n" + main + end, false},
        {L"byte-order-marks", L"\xFEFF\xFEFF" + main + end, false},
        {L"inner-mark", main + L"  x = 1\xFEFF\r\n" + end, true},
        {L"deep-if", main + repeated(L"If x Then\r\n", 2000) + repeated(L"End If\r\n", 2000) + end, false},
        {L"no-end-if", main + L"  If x Then\r\n    y = 1\r\n" + end, true},
        {L"open-paren", main + L"  x = (1 + 2\r\n" + end, true},
        {L"private-list", L"Class C\r\n  Private a, b\r\nEnd Class\r\n" + main + end, true},
        {L"if-3000", main + repeated(L"If x Then\r\n", 3000) + repeated(L"End If\r\n", 3000) + end, true},
        {L"with-3400", main + repeated(L"With x\r\n", 3400) + repeated(L"End With\r\n", 3400) + end, true},
        {L"no-break-space", main + L"  x =\u00A01\r\n" + end, true},
        {L"ctrl-z", main + L"  x = 1\r\n\x1A\r\n" + end, true},
        {L"vertical-tab", main + L"  x = 1\x0B\r\n" + end + L"Sub other()\r\n" + end, true},
        {L"open-string", main + L"  x = \"abc\r\n" + end, true},
        {L"call-parens", main + L"  x = 1\r\n  CVEXT.ZTrace(\"a\", \"b\")\r\n" + end, true},
        {L"double-equals", main + L"  x = 1\r\n  y = 2\r\n\r\n  z = = 3\r\n" + end, true},
        {L"cr-lines", L"Sub main()\r  x = 1\r  z = = 3\rEnd Sub\r", true},
    };
    static const wchar_t* const kPieces[] = {L"Sub main()", L"End Sub", L"If x Then", L"End If", L"(", L")",
                                             L"x = ", L"1", L"\"a\"", L",", L"\r\n", L" ", L"For i = 1 To 2",
                                             L"Next", L"Class C", L"End Class", L":", L"'", L"_", L"Dim"};
    unsigned seed = 27;
    for (int n = 0; n < 8; ++n) {
        std::wstring text;
        for (int k = 0; k < 24; ++k) {
            seed = seed * 1103515245u + 12345u;
            text += kPieces[(seed >> 16) % (sizeof kPieces / sizeof *kPieces)];
        }
        out.push_back({L"fuzz" + std::to_wstring(n), text + L"\r\n", compileInEngine(text + L"\r\n").refused});
    }
    return out;
}

// The engine judges syntax: every script that the agent's host refuses to
// compile is an error of --check at the line the host reports, and --check
// finds no engine error in the scripts that compile.
TEST(CheckerProgram, EveryScriptTheEngineRefusesIsAnErrorAtItsLine) {
    std::vector<CorpusScript> scripts = corpus();
    std::wstring files;
    std::vector<std::string> paths;
    for (const CorpusScript& c : scripts) {
        std::wstring path = writeFile(c.name + L".vbs", c.text);
        paths.push_back(utf8(path));
        files += L" \"" + path + L"\"";
    }
    Outcome ran = runRunner(L"--fast" + files);
    Outcome checked = runRunner(L"--check" + files);
    Lines found = linesOf(checked.out);
    for (std::size_t i = 0; i < scripts.size(); ++i) {
        const std::string name = utf8(scripts[i].name);
        std::string compileError;
        for (const std::string& line : linesOf(ran.err))
            if (line.rfind("job " + std::to_string(i + 1) + " compile: script error ", 0) == 0) compileError = line;
        EXPECT_EQ(!compileError.empty(), scripts[i].refused) << name << ": " << compileError;
        std::string refusal = paths[i] + ":";
        std::vector<std::string> engineErrors;
        for (const std::string& line : found)
            if (line.rfind(refusal, 0) == 0 && line.find(": error: the engine refuses the script: ") != std::string::npos)
                engineErrors.push_back(line);
        if (compileError.empty()) {
            EXPECT_TRUE(engineErrors.empty()) << name << ": " << engineErrors.front();
            continue;
        }
        std::size_t at = compileError.rfind("\" at line ");
        ASSERT_NE(at, std::string::npos) << compileError;
        std::string line = compileError.substr(at + 10, compileError.find(':', at + 10) - at - 10);
        ASSERT_EQ(engineErrors.size(), 1u) << name << "\n" << checked.out;
        EXPECT_EQ(engineErrors[0].rfind(refusal + line + ":", 0), 0u) << name << ": " << compileError << "\n" << engineErrors[0];
        EXPECT_NE(engineErrors[0].find(": Syntax error"), std::string::npos) << engineErrors[0];
    }
    EXPECT_EQ(checked.status, 1u);
}

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
    // The failing member is another object's: the extension call beside it fits its member.
    std::wstring other = writeFile(L"other.vbs", L"Class C\r\nEnd Class\r\nSub main()\r\n  Set o = New C\r\n"
                                                 L"  If o.FileExist(\"x\") Then CVEXT.ZTrace \"a\"\r\nEnd Sub\r\n");
    Outcome o = runRunner(L"--runs 2 \"" + wrong + L"\" \"" + missing + L"\" \"" + other + L"\"");
    EXPECT_EQ(o.status, 1u);
    EXPECT_EQ(linesOf(o.err), (Lines{
        utf8(wrong) + ":2:13: error: CVEXT.ItemCount takes 2 arguments, given 3: ItemCount(list, delim) As Long",
        utf8(missing) + ":3:6: error: CVEXT has no member CreatEvent; did you mean CreateEvent?",
        "job 1 runs 1-2: script error \"Microsoft VBScript runtime error: Wrong number of arguments or invalid property "
        "assignment\" at line 2: n = CVEXT.ItemCount(\"a,b\", \",\", 3) \xE2\x80\x94 CVEXT.ItemCount takes 2 arguments, "
        "given 3: ItemCount(list, delim) As Long",
        "job 2 runs 1-2: script error \"Microsoft VBScript runtime error: Object doesn't support this property or "
        "method\" at line 3: .CreatEvent 1 \xE2\x80\x94 CVEXT has no member CreatEvent; did you mean CreateEvent?",
        "job 3 runs 1-2: script error \"Microsoft VBScript runtime error: Object doesn't support this property or "
        "method\" at line 5: If o.FileExist(\"x\") Then CVEXT.ZTrace \"a\"",
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
