// The workbench's fake machine (ztolvera-fakes.dll): real VBScript through a
// real host, whose CreateObject and GetObject reach the fakes through the
// activation context fakes_activate makes, once for this whole process.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fakes.h"
#include "members.h"
#include "script_probe.h"

namespace {

using probe::Lines;

// The machine every case here reads.
const char* const kMachine = R"({
  "wmi": [
    {"class": "Win32_Service", "rows": [
      {"Name": "Spooler", "State": "Stopped", "StartMode": "Auto", "ProcessId": 0},
      {"Name": "W32Time", "State": "Running", "StartMode": "Manual", "ProcessId": 640},
      {"Name": "RpcSs", "State": "Running", "StartMode": "Auto", "ProcessId": 812, "Description": null}]},
    {"namespace": "ROOT\\CIMV2", "class": "win32_service", "runs": [[3, 0]], "rows": [
      {"Name": "Spooler", "State": "Running", "StartMode": "Auto", "ProcessId": 1500}]},
    {"class": "Win32_LogicalDisk", "rows": [{"DeviceID": "C:", "FreeSpace": 40000000000, "Compressed": false}]}],
  "files": [
    {"path": "C:\\logs\\app.log", "runs": [[1, 1]], "text": "line 1\r\nline 2\r\n", "modified": "2026-12-01 10:00:00"},
    {"path": "c:/LOGS/app.log", "runs": [[2, 0]], "text": "line 1\r\nline 2\r\nline 3\n"},
    {"path": "C:\\logs\\old.log", "text": "old"},
    {"path": "C:\\logs\\old.log", "runs": [[3, 0]], "absent": true},
    {"path": "C:\\logs\\archive\\2025.log", "text": ""},
    {"path": "C:\\empty", "folder": true},
    {"path": "\\\\srv\\share\\a.log", "text": "x"}],
  "drives": [
    {"letter": "C:", "free": 40000000000, "total": 100000000000},
    {"letter": "d", "runs": [[1, 2]], "free": 5, "total": 10}],
  "registry": [
    {"key": "HKLM\\SOFTWARE\\Acme\\Agent\\Version", "value": "4.2"},
    {"key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\Agent\\Port", "value": 8080, "type": "REG_DWORD"},
    {"key": "HKLM\\SOFTWARE\\Acme\\Agent\\Port", "runs": [[2, 2]], "absent": true}],
  "environment": [{"name": "TEMP", "value": "C:\\Temp"}]
})";

// The child process of RealClassesReachThePlatformObjects lets the file
// system through and fakes the rest.
const char* const kRealFilesMachine = R"({"real": ["files"],
  "registry": [{"key": "HKCU\\Software\\Fake", "value": "yes"}]})";
const wchar_t* const kRealChildVariable = L"ZTOLVERA_FAKES_REAL_CHILD";

bool isRealChild() { return GetEnvironmentVariableW(kRealChildVariable, nullptr, 0) != 0; }

// Which job and run the fakes see on this thread.
thread_local unsigned long tJob = 0;
thread_local unsigned tRun = 0;

void whereForTests(unsigned long* job, unsigned* run, void*) { *job = tJob, *run = tRun; }
void journalForTests(const char* json, void*) { standin_note(json); }

bool activated = false;
std::string activateOnce() {
    if (activated) return "";
    char error[256] = "x";
    fakes_host host = {whereForTests, journalForTests, nullptr};
    if (!fakes_activate(isRealChild() ? kRealFilesMachine : kMachine, &host, error, sizeof error)) return error;
    activated = true;
    return "";
}

// The script's reports of a run of `body` as `main` of job `job` in `run`.
Lines reportsOf(unsigned run, const std::wstring& body, unsigned long job = probe::kJob) {
    tJob = job, tRun = run;
    standin_reset();
    ScriptResult r = probe::runMain(body, job);
    EXPECT_EQ(r.run, S_OK);
    return probe::reports();
}

// The fakes' journal lines, without the rest.
Lines fakeLines() {
    Lines out;
    for (auto& line : journal())
        if (line.find("\"fake\":") != std::string::npos) out.push_back(line);
    return out;
}

struct FakesTest : probe::Test {
    void SetUp() override {
        probe::Test::SetUp();
        std::string error = activateOnce();
        ASSERT_EQ(error, "");
    }
};

// A script function reporting Err after a call that may fail.
const wchar_t* const kErr = L"Function E() : E = Err.Number & \" \" & Err.Description & \" (\" & Err.Source & \")\" : Err.Clear : End Function\n";
Lines reportsWithErr(unsigned run, const std::wstring& body) {
    tJob = probe::kJob, tRun = run;
    standin_reset();
    ScriptResult r = runScript(std::wstring(kErr) + L"Sub main()\nOn Error Resume Next\n" + body + L"\nEnd Sub\n", probe::kJob,
                               probe::kPwd);
    EXPECT_EQ(r.run, S_OK);
    return probe::reports();
}

std::string exportOf(const wchar_t* root, const std::wstring& file) {
    std::wstring command = L"reg.exe export " + std::wstring(root) + L" \"" + file + L"\" /y";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        return "";
    WaitForSingleObject(pi.hProcess, 120000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string text = runner::readFile(file);
    DeleteFileW(file.c_str());
    return text;
}

// The activation's manifests left in the temporary folder.
int manifestsLeft() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((std::wstring(temp) + L"zfk*.tmp").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 1;
    while (FindNextFileW(h, &found)) ++n;
    FindClose(h);
    return n;
}

// Runs first, so that it sees the registry before activation: the fakes
// reach the script without a single registry write, and the manifest is gone.
TEST(FakesRegistry, ActivationAndCallsLeaveTheRegistryAsItWas) {
    if (activated || isRealChild()) GTEST_SKIP() << "the fakes are active already";
    setUpComForTests();
    std::wstring dir = runner::scratch();
    std::string classesBefore = exportOf(L"HKCR", dir + L"hkcr-before.reg");
    std::string userBefore = exportOf(L"HKCU", dir + L"hkcu-before.reg");
    ASSERT_GT(classesBefore.size(), 1000u);
    int manifestsBefore = manifestsLeft();
    ASSERT_EQ(activateOnce(), "");
    EXPECT_EQ(manifestsLeft(), manifestsBefore);
    standin_reset();
    Lines seen = reportsOf(1, L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
                              L"Set sh = CreateObject(\"WScript.Shell\")\n"
                              L"Set wmi = GetObject(\"winmgmts:\")\n"
                              L"CVEXT.ZTrace fso.FileExists(\"C:\\logs\\app.log\") & sh.RegRead(\"HKLM\\SOFTWARE\\Acme\\Agent\\Version\") & "
                              L"wmi.ExecQuery(\"SELECT * FROM Win32_Service\").Count");
    EXPECT_EQ(seen, (Lines{"True4.23"}));
    EXPECT_EQ(exportOf(L"HKCR", dir + L"hkcr-after.reg"), classesBefore);
    EXPECT_EQ(exportOf(L"HKCU", dir + L"hkcu-after.reg"), userBefore);
}

TEST_F(FakesTest, ExecQueryWithWhereIsIteratedByForEachReadingProperties) {
    struct Case { const wchar_t* where; const char* names; };
    const Case cases[] = {
        {L"", "Spooler:Stopped,W32Time:Running,RpcSs:Running"},
        {L" WHERE StartMode = 'auto'", "Spooler:Stopped,RpcSs:Running"},
        {L" where State <> 'Running' or Name like 'W%'", "Spooler:Stopped,W32Time:Running"},
        {L" WHERE NOT (State != 'Running') AND ProcessId >= 700", "RpcSs:Running"},
        {L" WHERE Name LIKE '_pc%' OR ProcessId < 1", "Spooler:Stopped,RpcSs:Running"},
        {L" WHERE Description IS NULL", "Spooler:Stopped,W32Time:Running,RpcSs:Running"},
        {L" WHERE Description IS NOT NULL OR ProcessId <= 0", "Spooler:Stopped"},
        {L" WHERE ProcessId = '640'", "W32Time:Running"},
        {L" WHERE Name = \"\"NoSuch\"\"", ""},
    };
    std::wstring body = L"Set wmi = GetObject(\"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2\")\n";
    for (const Case& c : cases)
        body += L"s = \"\" : For Each svc In wmi.ExecQuery(\"SELECT Name, State FROM Win32_Service" + std::wstring(c.where) +
                L"\")\nIf s <> \"\" Then s = s & \",\"\ns = s & svc.Name & \":\" & svc.State\nNext\nCVEXT.ZTrace s\n";
    Lines expected;
    for (const Case& c : cases) expected.push_back(c.names);
    EXPECT_EQ(reportsOf(1, body), expected);
    // From run 3 on, the later entry for the class holds.
    EXPECT_EQ(reportsOf(3, L"For Each svc In GetObject(\"winmgmts:\").InstancesOf(\"Win32_Service\")\n"
                           L"CVEXT.ZTrace svc.Name & \" \" & svc.State & \" \" & svc.ProcessId\nNext"),
              (Lines{"Spooler Running 1500"}));
}

TEST_F(FakesTest, WmiObjectsSetsAndTheirErrors) {
    Lines seen = reportsWithErr(1,
        L"Set svc = CreateObject(\"WbemScripting.SWbemLocator\").ConnectServer(\".\", \"root\\cimv2\")\n"
        L"CVEXT.ZTrace svc.Get(\"Win32_Service.Name='W32Time'\").State & \" \" & svc.Get(\"Win32_Service.ProcessId=812\").Name & \" \" & "
        L"GetObject(\"winmgmts:\\\\.\\root\\cimv2:Win32_Service.Name='spooler'\").State\n"
        L"Set o = svc.Get(\"Win32_Service.Name='Nope'\") : CVEXT.ZTrace E()\n"
        L"Set all = svc.ExecQuery(\"SELECT * FROM Win32_Service\")\n"
        L"CVEXT.ZTrace all.Count & \" \" & all.ItemIndex(2).Name\n"
        L"s = \"\" : For Each p In all.ItemIndex(0).Properties_ : s = s & p.Name & \"=\" & p.Value & \";\" : Next\n"
        L"CVEXT.ZTrace s & all.ItemIndex(0).Properties_.Count & \" \" & all.ItemIndex(1).Properties_(\"state\").Value\n"
        L"Set d = svc.ExecQuery(\"select FreeSpace from Win32_LogicalDisk\").ItemIndex(0)\n"
        L"CVEXT.ZTrace TypeName(d.FreeSpace) & \" \" & d.FreeSpace\n"
        L"x = d.DeviceID : CVEXT.ZTrace E()\n"
        L"x = all.ItemIndex(0).Caption : CVEXT.ZTrace E()\n"
        L"Set q = svc.ExecQuery(\"SELECT FROM Win32_Service\") : CVEXT.ZTrace E()\n"
        L"Set r = GetObject(\"winmgmts:\\\\farhost\\root\\cimv2\") : CVEXT.ZTrace E()\n"
        L"Set r = CreateObject(\"WbemScripting.SWbemLocator\").ConnectServer(\"farhost\") : CVEXT.ZTrace E()\n"
        L"all.Delete_ : CVEXT.ZTrace E()");
    EXPECT_EQ(seen, (Lines{
        "Running RpcSs Stopped",
        "-2147217406 Not found (SWbemServicesEx)",
        "3 RpcSs",
        "Name=Spooler;State=Stopped;StartMode=Auto;ProcessId=0;4 Running",
        "Double 40000000000",
        "438 Object doesn't support this property or method: 'Win32_LogicalDisk.DeviceID' (Microsoft VBScript runtime error)",
        "438 Object doesn't support this property or method: 'Win32_Service.Caption' (Microsoft VBScript runtime error)",
        "-2147217385 Invalid query: \\\"SELECT FROM Win32_Service\\\" (SWbemServicesEx)",
        "462 The remote server machine does not exist or is unavailable (Microsoft VBScript runtime error)",
        "-2147023174 The RPC server is unavailable: the fakes answer for this computer only, not \\\"farhost\\\" (SWbemServicesEx)",
        "-2147467263 SWbemObjectSet.Delete_ is not faked (ztolvera-fakes)"}));
}

TEST_F(FakesTest, AGrowingLogIsReadLineByLineAcrossRuns) {
    const std::wstring body =
        L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
        L"Set ts = fso.OpenTextFile(\"C:\\logs\\app.log\", 1)\n"
        L"s = \"\"\nDo While Not ts.AtEndOfStream\ns = s & ts.Line & \":\" & ts.ReadLine & \"|\"\nLoop\n"
        L"ts.Close\nCVEXT.ZTrace s & ts.Line\n"
        L"x = ts.ReadLine : CVEXT.ZTrace E()\n"
        L"Set f = fso.GetFile(\"c:/logs/APP.LOG\")\n"
        L"Set ts = f.OpenAsTextStream\nCVEXT.ZTrace ts.Read(4) & \"/\" & ts.AtEndOfLine & \"/\" & ts.Read(2) & \"/\" & ts.AtEndOfLine\n"
        L"ts.SkipLine : ts.Skip 5 : CVEXT.ZTrace \"[\" & ts.ReadAll & \"]\"\n"
        L"CVEXT.ZTrace f.Size & \" \" & f.Name & \" \" & f.Path & \" \" & f.DateLastModified\n";
    EXPECT_EQ(reportsWithErr(1, body), (Lines{"1:line 1|2:line 2|3", "62 Input past end of file (Microsoft VBScript runtime error)",
                                              "line/False/ 1/True", "[2\\r\\n]",
                                              "16 app.log C:\\\\logs\\\\app.log 12/1/2026 10:00:00 AM"}));
    EXPECT_EQ(reportsWithErr(2, body), (Lines{"1:line 1|2:line 2|3:line 3|4", "62 Input past end of file (Microsoft VBScript runtime error)",
                                              "line/False/ 1/True", "[2\\r\\nline 3\\n]",
                                              "23 app.log c:\\\\LOGS\\\\app.log 12:00:00 AM"}));
}

TEST_F(FakesTest, AnOpenStreamKeepsTheContentItWasOpenedOn) {
    // The script's ZTrace moves its thread on to run 2, as a next run would.
    standin_setCallback("ZTrace", [] { tRun = 2; });
    Lines seen = reportsOf(1, L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
                              L"Set old = fso.OpenTextFile(\"C:\\logs\\app.log\") : old.SkipLine\n"
                              L"CVEXT.ZTrace \"run 2 from here\"\n"
                              L"CVEXT.ZTrace Len(old.ReadAll) & \" \" & Len(fso.OpenTextFile(\"C:\\logs\\app.log\").ReadAll)");
    standin_setCallback("ZTrace", nullptr);
    EXPECT_EQ(seen, (Lines{"run 2 from here", "8 23"}));
}

TEST_F(FakesTest, FilesFoldersAndDrivesExistAsTheRunSays) {
    const std::wstring body =
        L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
        L"CVEXT.ZTrace fso.FileExists(\"C:\\logs\\old.log\") & fso.FileExists(\"C:\\logs\") & fso.FolderExists(\"C:\\logs\\\") & "
        L"fso.FolderExists(\"C:\\empty\") & fso.FolderExists(\"C:\\nope\") & fso.DriveExists(\"D:\")\n"
        L"Set files = fso.GetFolder(\"C:/logs/\").Files\n"
        L"s = files.Count & \":\" : For Each f In files : s = s & f.Name & \",\" : Next\nCVEXT.ZTrace s & files(\"APP.log\").Size\n"
        L"CVEXT.ZTrace fso.GetFolder(\"c:\\logs\\archive\").Path & \" \" & fso.GetFolder(\"C:\\empty\").Files.Count\n"
        L"s = fso.Drives.Count & \":\" : For Each d In fso.Drives : s = s & d.DriveLetter & \"=\" & d.FreeSpace & \"/\" & d.TotalSize & \",\" : Next\n"
        L"CVEXT.ZTrace s & fso.GetDrive(\"c\").AvailableSpace & fso.GetDrive(\"C:\\\").IsReady\n"
        L"Set x = fso.GetFile(\"C:\\logs\\none.log\") : CVEXT.ZTrace E()\n"
        L"Set x = fso.OpenTextFile(\"C:\\nope\\none.log\") : CVEXT.ZTrace E()\n"
        L"Set x = fso.GetFolder(\"C:\\nope\") : CVEXT.ZTrace E()\n"
        L"Set x = fso.GetDrive(\"D\") : CVEXT.ZTrace E()\n";
    EXPECT_EQ(reportsWithErr(1, body), (Lines{"TrueFalseTrueTrueFalseTrue", "2:app.log,old.log,16",
                                              "c:\\\\logs\\\\archive 0", "2:C=40000000000/100000000000,D=5/10,40000000000True",
                                              "53 File not found (Microsoft VBScript runtime error)",
                                              "76 Path not found (Microsoft VBScript runtime error)",
                                              "76 Path not found (Microsoft VBScript runtime error)", "0  ()"}));
    EXPECT_EQ(reportsWithErr(3, body), (Lines{"FalseFalseTrueTrueFalseFalse", "1:app.log,23",
                                              "c:\\\\logs\\\\archive 0", "1:C=40000000000/100000000000,40000000000True",
                                              "53 File not found (Microsoft VBScript runtime error)",
                                              "76 Path not found (Microsoft VBScript runtime error)",
                                              "76 Path not found (Microsoft VBScript runtime error)",
                                              "68 Device unavailable (Microsoft VBScript runtime error)"}));
}

TEST_F(FakesTest, PathHelpersWorkOnTheTextAlone) {
    struct Case { const wchar_t* call; const char* seen; };
    const Case cases[] = {
        {L"BuildPath(\"C:\\logs\", \"app.log\")", "C:\\\\logs\\\\app.log"},
        {L"BuildPath(\"C:\\logs\\\", \"\\app.log\")", "C:\\\\logs\\\\app.log"},
        {L"BuildPath(\"C:\", \"app.log\")", "C:app.log"},
        {L"GetFileName(\"C:\\logs\\app.log\")", "app.log"},
        {L"GetFileName(\"C:\\logs\\\")", "logs"},
        {L"GetBaseName(\"C:\\logs\\app.old.log\")", "app.old"},
        {L"GetExtensionName(\"C:\\logs\\app.log\")", "log"},
        {L"GetExtensionName(\"C:\\logs\\README\")", ""},
        {L"GetParentFolderName(\"C:\\logs\\app.log\")", "C:\\\\logs"},
        {L"GetParentFolderName(\"C:\\logs\")", "C:\\\\"},
        {L"GetParentFolderName(\"app.log\")", ""},
    };
    std::wstring body = L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n";
    Lines expected;
    for (const Case& c : cases) {
        body += L"CVEXT.ZTrace fso." + std::wstring(c.call) + L"\n";
        expected.push_back(c.seen);
    }
    EXPECT_EQ(reportsOf(1, body), expected);
}

TEST_F(FakesTest, RegReadAndTheEnvironment) {
    const std::wstring body =
        L"Set sh = CreateObject(\"WScript.Shell\")\n"
        L"v = sh.RegRead(\"hklm\\Software\\Acme\\Agent\\Version\") : CVEXT.ZTrace TypeName(v) & \" \" & v\n"
        L"v = sh.RegRead(\"HKLM\\SOFTWARE\\Acme\\Agent\\Port\") : CVEXT.ZTrace TypeName(v) & \" \" & v & \" \" & E()\n"
        L"v = sh.RegRead(\"HKLM\\SOFTWARE\\Acme\\Agent\\Missing\") : CVEXT.ZTrace E()\n"
        L"v = sh.RegRead(\"HKXX\\Acme\") : CVEXT.ZTrace E()\n"
        L"CVEXT.ZTrace sh.ExpandEnvironmentStrings(\"%TEMP%\\x %NOPE% 100% %temp%\")\n"
        L"Set env = sh.Environment(\"PROCESS\")\nCVEXT.ZTrace env(\"temp\") & \"|\" & env.Item(\"NOPE\") & \"|\"\n";
    EXPECT_EQ(reportsWithErr(1, body), (Lines{"String 4.2", "Long 8080 0  ()",
        "-2147024894 Unable to open registry key \\\"HKLM\\\\SOFTWARE\\\\Acme\\\\Agent\\\\Missing\\\" for reading. (WshShell.RegRead)",
        "-2147024894 Invalid root in registry key \\\"HKXX\\\\Acme\\\". (WshShell.RegRead)",
        "C:\\\\Temp\\\\x %NOPE% 100% C:\\\\Temp", "C:\\\\Temp||"}));
    EXPECT_EQ(reportsWithErr(2, L"v = CreateObject(\"WScript.Shell\").RegRead(\"HKLM\\SOFTWARE\\Acme\\Agent\\Port\") : CVEXT.ZTrace E()"),
              (Lines{"-2147024894 Unable to open registry key \\\"HKLM\\\\SOFTWARE\\\\Acme\\\\Agent\\\\Port\\\" for reading. (WshShell.RegRead)"}));
}

TEST_F(FakesTest, AMemberThatIsNotFakedFailsNamingIt) {
    Lines seen = reportsWithErr(1,
        L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
        L"fso.CopyFile \"a\", \"b\" : CVEXT.ZTrace E()\n"
        L"Set t = fso.OpenTextFile(\"C:\\logs\\app.log\", 8) : CVEXT.ZTrace E()\n"
        L"Set t = fso.OpenTextFile(\"C:\\logs\\new.log\", 1, True) : CVEXT.ZTrace E()\n"
        L"Set t = fso.CreateTextFile(\"C:\\logs\\new.log\") : CVEXT.ZTrace E()\n"
        L"CreateObject(\"WScript.Shell\").Run \"cmd\" : CVEXT.ZTrace E()\n"
        L"x = fso.GetDrive(\"C:\").SerialNumber : CVEXT.ZTrace E()\n");
    EXPECT_EQ(seen, (Lines{"-2147467263 FileSystemObject.CopyFile is not faked (ztolvera-fakes)",
                           "-2147467263 FileSystemObject.OpenTextFile for writing or appending is not faked (ztolvera-fakes)",
                           "-2147467263 FileSystemObject.OpenTextFile creating a file is not faked (ztolvera-fakes)",
                           "-2147467263 FileSystemObject.CreateTextFile is not faked (ztolvera-fakes)",
                           "-2147467263 WScript.Shell.Run is not faked (ztolvera-fakes)",
                           "-2147467263 Drive.SerialNumber is not faked (ztolvera-fakes)"}));
    // Unhandled, it is the job's script error.
    tRun = 1;
    probe::runMain(L"CreateObject(\"Scripting.FileSystemObject\").DeleteFile \"C:\\x\"");
    std::vector<probe::ScriptError> errors = probe::scriptErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].text.find("FileSystemObject.DeleteFile is not faked"), std::string::npos) << errors[0].text;
}

// Each member the table lists is answered by its object, never as not faked
// (GetObject is the display name's, not a member one calls).
TEST_F(FakesTest, EveryMemberOfTheTableIsAnswered) {
    struct Reach { const char* object; const wchar_t* expression; };
    const Reach reaches[] = {
        {"WMI", L"CreateObject(\"WbemScripting.SWbemLocator\")"},
        {"SWbemServices", L"GetObject(\"winmgmts:\")"},
        {"SWbemObjectSet", L"GetObject(\"winmgmts:\").InstancesOf(\"Win32_Service\")"},
        {"SWbemObject", L"GetObject(\"winmgmts:\").InstancesOf(\"Win32_Service\").ItemIndex(0)"},
        {"SWbemPropertySet", L"GetObject(\"winmgmts:\").InstancesOf(\"Win32_Service\").ItemIndex(0).Properties_"},
        {"SWbemProperty", L"GetObject(\"winmgmts:\").InstancesOf(\"Win32_Service\").ItemIndex(0).Properties_.Item(\"Name\")"},
        {"FileSystemObject", L"fso"},
        {"File", L"fso.GetFile(\"C:\\logs\\app.log\")"},
        {"Folder", L"fso.GetFolder(\"C:\\logs\")"},
        {"Files", L"fso.GetFolder(\"C:\\logs\").Files"},
        {"TextStream", L"fso.OpenTextFile(\"C:\\logs\\app.log\")"},
        {"Drive", L"fso.GetDrive(\"C:\")"},
        {"Drives", L"fso.Drives"},
        {"WScript.Shell", L"CreateObject(\"WScript.Shell\")"},
        {"Environment", L"CreateObject(\"WScript.Shell\").Environment"},
    };
    std::wstring body = L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n";
    std::vector<std::string> members;
    for (const fakes::Member& m : fakes::kMembers) {
        const Reach* reach = nullptr;
        for (const Reach& r : reaches)
            if (std::string(r.object) == m.object) reach = &r;
        ASSERT_TRUE(reach) << m.object;
        std::string name = m.name;
        if (name == "GetObject") continue;
        std::wstring call = reach->expression;
        call += name == "_NewEnum" ? L"" : L"." + std::wstring(name.begin(), name.end()) + (m.params[0] ? L"(\"1\")" : L"");
        body += name == "_NewEnum" ? L"For Each v In " + call + L" : Exit For : Next\n" : L"v = " + call + L"\n";
        members.push_back(std::string("\"fake\":\"") + m.object + "." + name + "\"");
    }
    reportsWithErr(1, body);
    Lines lines = fakeLines();
    for (const std::string& member : members) {
        bool called = false;
        for (const std::string& line : lines)
            if (line.find(member) != std::string::npos) {
                called = true;
                EXPECT_EQ(line.find("is not faked"), std::string::npos) << line;
            }
        EXPECT_TRUE(called) << member;
    }
}

TEST_F(FakesTest, EveryCallIsOneJournalLine) {
    reportsWithErr(2, L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
                      L"If fso.FileExists(\"C:\\logs\\app.log\") Then n = fso.GetFile(\"C:\\logs\\app.log\").Size\n"
                      L"Set svcs = GetObject(\"winmgmts:\").ExecQuery(\"SELECT Name FROM Win32_Service WHERE ProcessId > 700\")\n"
                      L"For Each s In svcs : n = s.Name : Next\n"
                      L"n = CreateObject(\"WScript.Shell\").RegRead(\"HKLM\\X\")\n"
                      L"fso.MoveFile 1, True\n");
    const std::string j = "{\"job\":3,\"run\":2,";
    EXPECT_EQ(fakeLines(), (Lines{
        j + R"("fake":"FileSystemObject.FileExists","args":["C:\\logs\\app.log"],"answer":true})",
        j + R"("fake":"FileSystemObject.GetFile","args":["C:\\logs\\app.log"],"answer":"File"})",
        j + R"("fake":"File.Size","args":[],"answer":23})",
        j + R"("fake":"WMI.GetObject","args":["winmgmts:"],"answer":"SWbemServices"})",
        j + R"("fake":"SWbemServices.ExecQuery","args":["SELECT Name FROM Win32_Service WHERE ProcessId > 700"],"answer":"SWbemObjectSet"})",
        j + R"("fake":"SWbemObjectSet._NewEnum","args":[],"answer":"IEnumVARIANT"})",
        j + R"("fake":"SWbemObject.Name","args":[],"answer":"RpcSs"})",
        j + R"("fake":"WScript.Shell.RegRead","args":["HKLM\\X"],"error":"Unable to open registry key \"HKLM\\X\" for reading."})",
        j + R"("fake":"FileSystemObject.MoveFile","args":[1,true],"error":"FileSystemObject.MoveFile is not faked"})"}));
}

TEST_F(FakesTest, AMalformedMachineIsRefusedWithAReason) {
    struct Case { const char* machine; const char* reason; };
    const Case cases[] = {
        {"{\"files\": [", "the machine is not JSON"},
        {"[]", "the machine must be a JSON object"},
        {"{\"disks\": []}", "the machine: unknown member \"disks\""},
        {"{\"wmi\": {}}", "wmi: must be a list"},
        {"{\"wmi\": [{\"rows\": []}]}", "wmi[0]: \"class\" is missing"},
        {"{\"wmi\": [{\"class\": \"C\", \"rows\": [{\"a\": [1]}]}]}", "wmi[0]: property \"a\" must be a string, number, boolean or null"},
        {"{\"files\": [{\"path\": 5}]}", "files[0]: \"path\" must be a string"},
        {"{\"files\": [{\"path\": \"C:\\\\a\", \"runs\": [[2, 1]]}]}",
         "files[0]: a span of \"runs\" must start at run 1 or later and not end before it starts"},
        {"{\"files\": [{\"path\": \"C:\\\\a\", \"runs\": [3]}]}", "files[0]: \"runs\" must be a list of [first, last] spans of run numbers"},
        {"{\"files\": [{\"path\": \"C:\\\\a\", \"modified\": \"yesterday\"}]}", "files[0]: \"modified\" must read YYYY-MM-DD HH:MM:SS"},
        {"{\"drives\": [{\"letter\": \"CD\"}]}", "drives[0]: \"letter\" must be a drive letter such as \"C:\""},
        {"{\"registry\": [{\"key\": \"HKXX\\\\a\", \"value\": 1}]}", "registry[0]: \"key\" must start with a root such as HKLM\\"},
        {"{\"registry\": [{\"key\": \"HKLM\\\\a\", \"value\": \"x\", \"type\": \"REG_DWORD\"}]}",
         "registry[0]: a REG_DWORD value must be an integer from 0 to 4294967295"},
        {"{\"environment\": [{\"name\": \"A\"}]}", "environment[0]: \"value\" is missing"},
        {"{\"real\": [\"network\"]}", "real: each must be \"wmi\", \"files\" or \"registry\""},
        {kMachine, "the fakes are active already; a process activates them once"},
    };
    for (const Case& c : cases) {
        char error[160];
        EXPECT_EQ(fakes_activate(c.machine, nullptr, error, sizeof error), 0) << c.machine;
        EXPECT_STREQ(error, c.reason) << c.machine;
    }
    char small[8];
    EXPECT_EQ(fakes_activate("[]", nullptr, small, sizeof small), 0);
    EXPECT_STREQ(small, "the mac");
    EXPECT_EQ(fakes_activate(nullptr, nullptr, nullptr, 0), 0);
    // A value nested deeper than any stack is refused for its type, never copied.
    std::string deep = "{\"registry\": [{\"key\": \"HKLM\\\\a\", \"value\": " + std::string(100000, '[') +
                       std::string(100000, ']') + "}]}";
    char error[160];
    EXPECT_EQ(fakes_activate(deep.c_str(), nullptr, error, sizeof error), 0);
    EXPECT_STREQ(error, "registry[0]: a REG_SZ value must be a string");
}

// What a script hands the fakes by mistake or on purpose gets an answer or
// an error, never a crash or a hang: queries nested or chained past any
// stack, patterns that would backtrack for ever, arguments out of range,
// missing or by reference, and an empty path.
TEST_F(FakesTest, HostileQueriesAndArgumentsGetAClearAnswer) {
    Lines seen = reportsWithErr(1,
        L"Set wmi = GetObject(\"winmgmts:\") : q = \"SELECT Name FROM Win32_Service WHERE \"\n"
        L"Set r = wmi.ExecQuery(q & String(100000, \"(\") & \"Name = 'RpcSs'\" & String(100000, \")\")) : CVEXT.ZTrace E()\n"
        L"Set r = wmi.ExecQuery(q & Replace(Space(100000), \" \", \"NOT \") & \"Name = 'RpcSs'\") : CVEXT.ZTrace E()\n"
        L"Set r = wmi.ExecQuery(q & Replace(Space(100000), \" \", \"Name = 'x' OR \") & \"Name = 'RpcSs'\") : CVEXT.ZTrace E()\n"
        L"CVEXT.ZTrace wmi.ExecQuery(q & \"(((Name = 'RpcSs'))) OR NOT NOT Name = 'W32Time'\").Count & \" \" & "
        L"wmi.ExecQuery(q & \"Name LIKE '\" & String(5000, \"%\") & \"x'\").Count & \" \" & "
        L"wmi.ExecQuery(q & \"Name LIKE '%p%o%o%l%r%' OR Name LIKE '%%3_t%%' OR Name LIKE 'R%S_'\").Count\n"
        L"Set o = wmi.InstancesOf(\"Win32_Service\").ItemIndex(-5) : CVEXT.ZTrace E()\n"
        L"Set ts = CreateObject(\"Scripting.FileSystemObject\").OpenTextFile(\"C:\\logs\\app.log\")\n"
        L"n = 3 : CVEXT.ZTrace ts.Read(n) & E()\n"
        L"ts.Skip -1 : CVEXT.ZTrace E()\n"
        L"s = ts.Read(1E10) : CVEXT.ZTrace E()\n"
        L"s = ts.Read : CVEXT.ZTrace E()\n"
        L"CVEXT.ZTrace Len(ts.Read(2147483647)) & ts.AtEndOfStream\n"
        L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
        L"CVEXT.ZTrace fso.FolderExists(\"\") & fso.FolderExists(\"\\\\srv\\share\") & fso.FileExists(\"\")\n");
    const std::string quota = "-2147217300 Quota violation (SWbemServicesEx)";
    const std::string badArgument = "5 Invalid procedure call or argument (Microsoft VBScript runtime error)";
    EXPECT_EQ(seen, (Lines{quota, quota, quota, "2 0 3", "-2147217406 Not found (SWbemServicesEx)", "lin0  ()", badArgument,
                           badArgument, badArgument, "13True", "FalseTrueFalse"}));
}

TEST_F(FakesTest, ThreadsCallTheFakesAtOnce) {
    // Each thread's script sees its own run: 1 and 3 differ in services and files.
    const std::wstring body =
        L"Set wmi = GetObject(\"winmgmts:\") : Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
        L"For i = 1 To 40\nn = 0 : For Each s In wmi.ExecQuery(\"SELECT * FROM Win32_Service WHERE State = 'Running'\") : n = n + 1 : Next\n"
        L"t = fso.OpenTextFile(\"C:\\logs\\app.log\").ReadAll\nc = c & n & Len(t) & fso.FileExists(\"C:\\logs\\old.log\") & \" \"\nNext\n"
        L"CVEXT.ZTrace c";
    std::string runOne, runThree;
    for (int i = 0; i < 40; ++i) runOne += "216True ", runThree += "123False ";
    Lines first, second;
    std::thread a([&] { setUpComForTests(); tRun = 1; tJob = 7; probe::runMain(body, 7, 7007); });
    std::thread b([&] { setUpComForTests(); tRun = 3; tJob = 8; probe::runMain(body, 8, 8008); });
    a.join();
    b.join();
    for (auto& line : calls("ZTrace")) (jobOfLine(line) == 7 ? first : second).push_back(line);
    EXPECT_EQ(first, (Lines{probe::said(runOne, 7, 7007)}));
    EXPECT_EQ(second, (Lines{probe::said(runThree, 8, 8008)}));
    std::size_t seven = 0, eight = 0;
    for (auto& line : fakeLines()) (jobOfLine(line) == 7 ? seven : eight)++;
    EXPECT_EQ(seven, 1u + 40 * 5);
    EXPECT_EQ(eight, 1u + 40 * 5);
}

// The real FileSystemObject answers in a process whose machine lets the file
// system through; WScript.Shell there is still the fake.
TEST_F(FakesTest, RealClassesReachThePlatformObjects) {
    if (isRealChild()) {
        EXPECT_EQ(reportsOf(1, L"Set fso = CreateObject(\"Scripting.FileSystemObject\")\n"
                               L"CVEXT.ZTrace fso.FolderExists(fso.GetSpecialFolder(0)) & \" \" & fso.FileExists(\"C:\\logs\\app.log\")\n"
                               L"CVEXT.ZTrace CreateObject(\"WScript.Shell\").RegRead(\"HKCU\\Software\\Fake\")"),
                  (Lines{"True False", "yes"}));
        EXPECT_EQ(fakeLines(), (Lines{R"({"job":3,"run":1,"fake":"WScript.Shell.RegRead","args":["HKCU\\Software\\Fake"],"answer":"yes"})"}));
        return;
    }
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_brief=1 --gtest_filter=FakesTest.RealClassesReachThePlatformObjects";
    SetEnvironmentVariableW(kRealChildVariable, L"1");
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(kRealChildVariable, nullptr);
    ASSERT_TRUE(started);
    DWORD status = 1;
    WaitForSingleObject(pi.hProcess, 120000);
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(status, 0u);
}

}  // namespace
