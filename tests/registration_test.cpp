// Installing the server the way an installation does: the platform's
// regsvr32, run as a child process in this build's prefix, and the registry
// and OLE Automation read back afterwards. Every test leaves zTolvera.dll
// registered again, since the other tests and the runner create the host by
// ProgID and load the type library by identifier.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

using Lines = std::vector<std::wstring>;

constexpr wchar_t kClsid[] = L"{66D40926-20AA-4FC1-BB5D-EEB2D525CE70}";
constexpr wchar_t kLibidText[] = L"{9EC4C46B-C749-4118-8A3C-80A0DA974FDB}";
constexpr GUID kLibid = {0x9EC4C46B, 0xC749, 0x4118, {0x8A, 0x3C, 0x80, 0xA0, 0xDA, 0x97, 0x4F, 0xDB}};
const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClsid;
const std::wstring kTypeLibKey = std::wstring(L"TypeLib\\") + kLibidText;
// The dual interface scripts call through; the type library registers it.
const std::wstring kScpExtKey = L"Interface\\{1B11E4FE-EFD0-4DA4-9838-5B7C6DF49249}";

std::wstring lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The folder of this test, where the build puts every DLL and program.
std::wstring binFile(const wchar_t* name) { return runner::binFolder() + name; }

const std::wstring kServer = binFile(L"zTolvera.dll");

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() { if (h_) CloseHandle(h_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// Runs a program of this prefix to its end and gives its exit code;
// ~0u when it could not be started or did not end within a minute.
DWORD runProgram(std::wstring commandLine) {
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return ~0u;
    Handle thread(process.hThread), child(process.hProcess);
    DWORD code = ~0u;
    if (WaitForSingleObject(child.get(), 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(child.get(), &code))
        TerminateProcess(child.get(), code = ~0u);
    return code;
}

// regsvr32's exit code: 0 when the DLL's entry point answered success.
DWORD regsvr32(const std::wstring& dll, bool unregister = false) {
    return runProgram(std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + dll + L"\"");
}

bool keyExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// One line per key ("path") and per value ("path|name=data", the default
// value named @) of a subtree of HKCR, in registry order.
void dumpKey(HKEY key, const std::wstring& path, Lines& lines) {
    lines.push_back(path);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[1024];
        DWORD nameLength = 256, size = sizeof data - sizeof(wchar_t), type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS)
            break;
        data[size / sizeof(wchar_t)] = L'\0';
        std::wstring text = type == REG_SZ ? data : L"<type " + std::to_wstring(type) + L">";
        lines.push_back(path + L"|" + (nameLength ? name : L"@") + L"=" + text);
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY child;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        dumpKey(child, path + L"\\" + name, lines);
        RegCloseKey(child);
    }
}

Lines dump(const std::wstring& path) {
    Lines lines;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return lines;
    dumpKey(key, path, lines);
    RegCloseKey(key);
    return lines;
}

// The keys of the class as registered, the module path compared without
// regard to case as the file system does.
Lines classKeys() {
    Lines lines;
    for (const std::wstring& root : {std::wstring(L"Dozurizar.Tolvera.1"), std::wstring(L"Dozurizar.Tolvera"), kClassKey})
        for (std::wstring& line : dump(root))
            lines.push_back(line.find(L"InprocServer32|@=") != std::wstring::npos ? lower(line) : line);
    return lines;
}

const Lines kClassKeys = {
    L"Dozurizar.Tolvera.1",
    L"Dozurizar.Tolvera.1|@=Tolvera Class",
    L"Dozurizar.Tolvera.1\\CLSID",
    std::wstring(L"Dozurizar.Tolvera.1\\CLSID|@=") + kClsid,
    L"Dozurizar.Tolvera",
    L"Dozurizar.Tolvera|@=Tolvera Class",
    L"Dozurizar.Tolvera\\CLSID",
    std::wstring(L"Dozurizar.Tolvera\\CLSID|@=") + kClsid,
    L"Dozurizar.Tolvera\\CurVer",
    L"Dozurizar.Tolvera\\CurVer|@=Dozurizar.Tolvera.1",
    kClassKey,
    kClassKey + L"|@=Tolvera Class",
    kClassKey + L"\\ProgID",
    kClassKey + L"\\ProgID|@=Dozurizar.Tolvera.1",
    kClassKey + L"\\VersionIndependentProgID",
    kClassKey + L"\\VersionIndependentProgID|@=Dozurizar.Tolvera",
    kClassKey + L"\\InprocServer32",
    lower(kClassKey + L"\\InprocServer32|@=" + kServer),
    kClassKey + L"\\InprocServer32|ThreadingModel=Free",
    kClassKey + L"\\TypeLib",
    kClassKey + L"\\TypeLib|@=" + kLibidText,
};

Lines sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Where the registered type library 1.0 of the U.S. English locale is
// read from; empty when it is not registered.
std::wstring registeredTypeLibPath() {
    BSTR path = nullptr;
    if (FAILED(QueryPathOfRegTypeLib(kLibid, 1, 0, 0x409, &path))) return {};
    std::wstring text(path, SysStringLen(path));
    SysFreeString(path);
    return text;
}

HRESULT loadRegisteredTypeLib() {
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(kLibid, 1, 0, 0x409, &lib);
    if (lib) lib->Release();
    return hr;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(regsvr32(kServer), 0u); }
    void TearDown() override { EXPECT_EQ(regsvr32(kServer), 0u) << "zTolvera.dll is left unregistered"; }
};

TEST_F(Registration, WritesTheClassUnderBothProgIdsAndTheTypeLibrary) {
    EXPECT_EQ(sorted(classKeys()), sorted(kClassKeys));
    // regsvr32's exit code does tell failure (no entry point, no file).
    EXPECT_NE(regsvr32(binFile(L"Ravlin.dll")), 0u);
    EXPECT_NE(regsvr32(binFile(L"no-such-server.dll")), 0u);

    EXPECT_EQ(loadRegisteredTypeLib(), S_OK);
    EXPECT_EQ(lower(registeredTypeLibPath()), lower(kServer));
    // One version, one locale, read from the DLL's own resource.
    Lines versions;
    for (const std::wstring& line : dump(kTypeLibKey))
        if (std::count(line.begin(), line.end(), L'\\') == 2 && line.find(L'|') == std::wstring::npos)
            versions.push_back(line);
    EXPECT_EQ(versions, Lines{kTypeLibKey + L"\\1.0"});
    EXPECT_TRUE(keyExists(kTypeLibKey + L"\\1.0\\409\\win32"));
    EXPECT_TRUE(keyExists(kScpExtKey + L"\\TypeLib"));
}

TEST_F(Registration, RegisteringAgainLeavesOneSetAndReplacesTheClassKey) {
    const Lines typeLibKeys = dump(kTypeLibKey);
    // Leftovers of an earlier installation inside the class key.
    HKEY stale;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + L"\\InprocServer32\\Stale").c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &stale, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(stale);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, kClassKey.c_str(), L"Stale", REG_SZ, L"x", 4), ERROR_SUCCESS);

    ASSERT_EQ(regsvr32(kServer), 0u);
    EXPECT_EQ(sorted(classKeys()), sorted(kClassKeys));
    EXPECT_EQ(sorted(dump(kTypeLibKey)), sorted(typeLibKeys));
}

TEST_F(Registration, UnregisteringRemovesTheClassAndTheTypeLibraryOnly) {
    ASSERT_EQ(regsvr32(kServer, true), 0u);
    for (const std::wstring& key : {std::wstring(L"Dozurizar.Tolvera.1"), std::wstring(L"Dozurizar.Tolvera"), kClassKey})
        EXPECT_FALSE(keyExists(key)) << key;
    EXPECT_TRUE(keyExists(L"CLSID"));
    EXPECT_TRUE(keyExists(L"TypeLib"));
    EXPECT_TRUE(FAILED(loadRegisteredTypeLib()));
    EXPECT_EQ(registeredTypeLibPath(), L"");
    EXPECT_FALSE(keyExists(kTypeLibKey));
    EXPECT_FALSE(keyExists(kScpExtKey));

    // Nothing left to remove is no failure, from regsvr32 or from the
    // entry point itself.
    EXPECT_EQ(regsvr32(kServer, true), 0u);
    HMODULE server = LoadLibraryW(kServer.c_str());
    ASSERT_NE(server, nullptr);
    auto unregisterServer = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(server, "DllUnregisterServer"));
    ASSERT_NE(unregisterServer, nullptr);
    EXPECT_EQ(unregisterServer(), S_OK);
    FreeLibrary(server);
    EXPECT_TRUE(keyExists(L"CLSID"));
}

std::vector<std::string> readLines(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// A journal line without its "seq" member.
std::string withoutSeq(const std::string& line) {
    std::size_t start = line.find("\"seq\":");
    if (start == std::string::npos) return line;
    std::size_t end = line.find(',', start);
    return end == std::string::npos ? line : line.substr(0, start) + line.substr(end + 1);
}

// The agent's way to the host: CLSIDFromProgID and CoCreateInstance in a
// process of its own that never loads zTolvera.dll by name.
TEST_F(Registration, AnotherProcessCreatesTheHostByProgIdAndRunsAScript) {
    // The companion object every host creates.
    const std::wstring companion = binFile(L"ScpWin32Ext.dll");
    if (GetFileAttributesW(companion.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ASSERT_EQ(regsvr32(companion), 0u);
    }

    wchar_t temp[MAX_PATH], file[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    ASSERT_NE(GetTempFileNameW(temp, L"zpc", 0, file), 0u);
    DWORD code = runProgram(L"\"" + binFile(L"progid_client.exe") + L"\" \"" + file + L"\"");
    std::vector<std::string> lines = readLines(file);
    DeleteFileW(file);

    std::vector<std::string> steps, traces;
    for (const std::string& line : lines) {
        if (line.find("\"trace\":") != std::string::npos)
            traces.push_back(line);
        else
            steps.push_back(withoutSeq(line));
    }
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(steps, (std::vector<std::string>{
                         R"({"client":"CLSIDFromProgID","hr":0})",
                         R"({"client":"CoCreateInstance","hr":0})",
                         R"({"client":"reg","hr":0})",
                         R"({"client":"compile","hr":0})",
                         R"({"job":7,"op":"MSActions","ctx":[7,7001],"args":[2,"created by ProgID",null,"job7",null,-1.0,0,null,null]})",
                         R"({"client":"run","hr":0,"ret":1})",
                         R"({"client":"unreg","hr":0})",
                     }));
    // The host's own trace shows main ran inside it.
    EXPECT_TRUE(std::any_of(traces.begin(), traces.end(), [](const std::string& line) {
        return line.find("Tolvera-run: invoking main with dispid") != std::string::npos;
    })) << ::testing::PrintToString(traces);
}

}  // namespace
