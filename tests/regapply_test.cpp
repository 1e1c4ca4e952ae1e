// The registry-script applier and the module's registration pieces under
// Wine's registry. Every test works below its own key of
// HKCU\Software\zTolveraTest, which stands in for the script's root keys,
// and compares the complete contents of that key with what it expects.
#include "regapply.h"
#include "registration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kTestRoot[] = L"Software\\zTolveraTest";
constexpr char kClsid[] = "{66D40926-20AA-4FC1-BB5D-EEB2D525CE70}";
constexpr char kLibid[] = "{9EC4C46B-C749-4118-8A3C-80A0DA974FDB}";

std::string Utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Wide(std::string_view text)
{
    std::wstring out;
    for (char c : text)
        out.push_back(wchar_t(static_cast<unsigned char>(c)));
    return out;
}

// One line per key ("path") and per value ("path|name|type|data", the
// default value named @), for comparing a whole subtree at once.
void DumpKey(HKEY key, const std::string& path, std::vector<std::string>& lines)
{
    if (!path.empty())
        lines.push_back(path);
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        BYTE data[4096];
        DWORD nameLength = 16384, dataSize = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        std::string text;
        const wchar_t* chars = reinterpret_cast<const wchar_t*>(data);
        switch (type) {
        case REG_SZ: {
            // The stored string must carry its NUL; show it when it does not.
            std::wstring_view sz(chars, dataSize / 2);
            bool terminated = !sz.empty() && sz.back() == L'\0';
            text = "sz|" + Utf8(terminated ? sz.substr(0, sz.size() - 1) : sz) + (terminated ? "" : "<no NUL>");
            break;
        }
        case REG_MULTI_SZ: text = "multi|" + Utf8(std::wstring_view(chars, dataSize / 2)); break;
        case REG_DWORD: text = "dword|" + std::to_string(*reinterpret_cast<const DWORD*>(data)); break;
        default:
            text = "type" + std::to_string(type) + "|";
            for (DWORD b = 0; b < dataSize; ++b) {
                static const char digits[] = "0123456789ABCDEF";
                text += digits[data[b] >> 4];
                text += digits[data[b] & 15];
            }
        }
        std::replace(text.begin(), text.end(), '\0', '0');
        lines.push_back(path + "|" + (nameLength ? Utf8(std::wstring_view(name, nameLength)) : "@") + "|" + text);
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD nameLength = 512;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY child;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS)
            continue;
        std::string childName = Utf8(std::wstring_view(name, nameLength));
        DumpKey(child, path.empty() ? childName : path + "\\" + childName, lines);
        RegCloseKey(child);
    }
}

std::vector<std::string> Sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The lines of the product's script applied under a base key, for a module
// at modulePath (as it reads in the registry, UTF-8).
std::vector<std::string> ProductKeys(const std::string& modulePath)
{
    const std::string clsidKey = std::string("CLSID\\") + kClsid;
    return {
        "Dozurizar.Tolvera.1",
        "Dozurizar.Tolvera.1|@|sz|Tolvera Class",
        "Dozurizar.Tolvera.1\\CLSID",
        "Dozurizar.Tolvera.1\\CLSID|@|sz|" + std::string(kClsid),
        "Dozurizar.Tolvera",
        "Dozurizar.Tolvera|@|sz|Tolvera Class",
        "Dozurizar.Tolvera\\CLSID",
        "Dozurizar.Tolvera\\CLSID|@|sz|" + std::string(kClsid),
        "Dozurizar.Tolvera\\CurVer",
        "Dozurizar.Tolvera\\CurVer|@|sz|Dozurizar.Tolvera.1",
        "CLSID",
        clsidKey,
        clsidKey + "|@|sz|Tolvera Class",
        clsidKey + "\\ProgID",
        clsidKey + "\\ProgID|@|sz|Dozurizar.Tolvera.1",
        clsidKey + "\\VersionIndependentProgID",
        clsidKey + "\\VersionIndependentProgID|@|sz|Dozurizar.Tolvera",
        clsidKey + "\\InprocServer32",
        clsidKey + "\\InprocServer32|@|sz|" + modulePath,
        clsidKey + "\\InprocServer32|ThreadingModel|sz|Free",
        clsidKey + "\\TypeLib",
        clsidKey + "\\TypeLib|@|sz|" + std::string(kLibid),
    };
}

std::wstring OwnPath()
{
    std::wstring path;
    EXPECT_EQ(GetModulePath(nullptr, path), S_OK);
    return path;
}

class RegApplyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
        HKEY root;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr),
                  ERROR_SUCCESS);
        RegDeleteTreeW(root, name_.c_str());
        ASSERT_EQ(RegCreateKeyExW(root, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &base_, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(root);
    }

    void TearDown() override
    {
        if (base_)
            RegCloseKey(base_);
        HKEY root;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_ALL_ACCESS, &root) == ERROR_SUCCESS) {
            RegDeleteTreeW(root, name_.c_str());
            RegCloseKey(root);
        }
        RegDeleteKeyW(HKEY_CURRENT_USER, kTestRoot);  // only once no test's key is left
    }

    HRESULT Run(std::u16string_view text, RegApplyMode mode, const RegReplacements& replacements = {})
    {
        return RunRegScript(text, replacements, mode, base_);
    }

    std::vector<std::string> Dump() const
    {
        std::vector<std::string> lines;
        DumpKey(base_, "", lines);
        return Sorted(lines);
    }

    // Puts a key (and a value in it) that the script knows nothing about.
    void PutForeign(const wchar_t* path)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(base_, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, L"foreign", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"y"), 4), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::wstring name_;
    HKEY base_ = nullptr;
};

TEST_F(RegApplyTest, RegistersKeysAndEveryValueType)
{
    const char16_t script[] =
        u"HKCR\r\n{\r\n"
        u"\tApp = s 'Root ''quoted'''\r\n\t{\r\n"
        u"\t\tval Text = s '%MODULE%'\r\n"
        u"\t\tval Multi = m 'a\\0b'\r\n"
        u"\t\tval Number = d '0x2A'\r\n"
        u"\t\tval Bytes = b '00FF10'\r\n"
        u"\t\t'Sub Key' { Leaf = d '7' }\r\n"
        u"\t}\r\n}\r\n";
    ASSERT_EQ(Run(script, RegApplyMode::Register, {{u"MODULE", u"C:\\m.dll"}}), S_OK);
    std::vector<std::string> once = Dump();
    EXPECT_EQ(once, Sorted({
                        "App",
                        "App|@|sz|Root 'quoted'",
                        "App|Text|sz|C:\\m.dll",
                        "App|Multi|multi|a0b00",
                        "App|Number|dword|42",
                        "App|Bytes|type3|00FF10",
                        "App\\Sub Key",
                        "App\\Sub Key\\Leaf",
                        "App\\Sub Key\\Leaf|@|dword|7",
                    }));

    // Registering again opens what exists and leaves one set.
    ASSERT_EQ(Run(script, RegApplyMode::Register, {{u"MODULE", u"C:\\m.dll"}}), S_OK);
    EXPECT_EQ(Dump(), once);

    ASSERT_EQ(Run(script, RegApplyMode::Unregister, {{u"MODULE", u"C:\\m.dll"}}), S_OK);
    EXPECT_TRUE(Dump().empty());
}

TEST_F(RegApplyTest, ForceRemoveReplacesAKeyAndPlainKeysMerge)
{
    PutForeign(L"Forced\\Old");
    PutForeign(L"Plain\\Old");
    ASSERT_EQ(Run(u"HKCR { ForceRemove Forced = s 'new' { New } Plain = s 'new' { New } }", RegApplyMode::Register),
              S_OK);
    EXPECT_EQ(Dump(), Sorted({
                          "Forced",
                          "Forced|@|sz|new",
                          "Forced\\New",
                          "Plain",
                          "Plain|@|sz|new",
                          "Plain\\New",
                          "Plain\\Old",
                          "Plain\\Old|foreign|sz|y",
                      }));
}

TEST_F(RegApplyTest, DeleteRemovesAKeyAndWritesNothingOfIt)
{
    PutForeign(L"Stale\\Below");
    ASSERT_EQ(Run(u"HKCR { Delete Stale = s 'x' { Sub } Delete Missing Kept }", RegApplyMode::Register), S_OK);
    EXPECT_EQ(Dump(), Sorted({"Kept"}));
}

TEST_F(RegApplyTest, UnregisterKeepsNoRemoveAndForeignKeys)
{
    const char16_t script[] =
        u"HKCR {\r\n"
        u"  NoRemove Shared { Ours = s 'x' { val V = s 'v' } val SharedValue = s 'v' }\r\n"
        u"  Parent { Child }\r\n"
        u"  Owned = s 'x' { val V = d '1' }\r\n"
        u"  ForceRemove Forced { Listed }\r\n"
        u"}\r\n";
    ASSERT_EQ(Run(script, RegApplyMode::Register), S_OK);
    PutForeign(L"Shared\\Theirs");
    PutForeign(L"Parent\\Theirs");
    PutForeign(L"Owned\\Theirs");
    PutForeign(L"Forced\\Theirs");

    ASSERT_EQ(Run(script, RegApplyMode::Unregister), S_OK);
    // A key whose subkeys the script lists stays while others' subkeys are in
    // it; a key the script writes whole (no subkeys listed, or ForceRemove)
    // goes with everything below it.
    EXPECT_EQ(Dump(), Sorted({
                          "Shared",
                          "Shared\\Theirs",
                          "Shared\\Theirs|foreign|sz|y",
                          "Parent",
                          "Parent\\Theirs",
                          "Parent\\Theirs|foreign|sz|y",
                      }));

    // Nothing left to remove is no error.
    EXPECT_EQ(Run(script, RegApplyMode::Unregister), S_OK);
}

TEST_F(RegApplyTest, ProtectedKeysAreNeverDeletedWithTheirSubtree)
{
    const char16_t* names[] = {u"AppID",     u"CLSID",    u"Component Categories", u"FileType",
                               u"Interface", u"Hardware", u"Mime",                 u"SAM",
                               u"SECURITY",  u"SYSTEM",   u"Software",             u"TypeLib",
                               u"clsid",     u"software"};
    for (const char16_t* name : names) {
        std::u16string quoted(1, u'\'');
        quoted.append(name).push_back(u'\'');
        std::wstring path = reinterpret_cast<const wchar_t*>(name);
        PutForeign((path + L"\\Theirs").c_str());
        for (std::u16string script : {u"HKCR { ForceRemove " + quoted + u" }", u"HKCR { Delete " + quoted + u" }"})
            EXPECT_EQ(Run(script, RegApplyMode::Register), S_OK);
        EXPECT_EQ(Run(u"HKCR { " + quoted + u" { val V = s 'v' } }", RegApplyMode::Register), S_OK);
        EXPECT_EQ(Run(u"HKCR { " + quoted + u" { val V = s 'v' } }", RegApplyMode::Unregister), S_OK);
        EXPECT_EQ(Dump(), Sorted({Utf8(path), Utf8(path) + "\\Theirs", Utf8(path) + "\\Theirs|foreign|sz|y"}))
            << Utf8(path);
        RegDeleteTreeW(base_, path.c_str());
    }

    // Empty, a protected key goes like any other.
    ASSERT_EQ(Run(u"HKCR { Outer { 'TypeLib' = s 'x' } }", RegApplyMode::Register), S_OK);
    ASSERT_EQ(Run(u"HKCR { Outer { 'TypeLib' = s 'x' } }", RegApplyMode::Unregister), S_OK);
    EXPECT_TRUE(Dump().empty());
}

TEST_F(RegApplyTest, FailedBlockIsRolledBack)
{
    // Wine refuses key names longer than 256 characters.
    const std::u16string tooLong(300, u'k');
    PutForeign(L"Existing");
    const std::u16string script = u"HKCU { First = s '1' }\r\n"
                                  u"HKCR { Good = s 'x' { Sub { val V = d '1' } } NoRemove Existing { Mine } Bad { '" +
                                  tooLong + u"' } }";
    EXPECT_EQ(Run(script, RegApplyMode::Register), HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
    // The earlier block stays; the failed one is gone again, up to the key
    // that existed before.
    EXPECT_EQ(Dump(), Sorted({"First", "First|@|sz|1", "Existing", "Existing|foreign|sz|y"}));
}

TEST_F(RegApplyTest, MalformedScriptWritesNothing)
{
    const std::u16string scripts[] = {
        u"HKCR { Good = s 'x' }\r\nHKCR { Bad = s '%UNKNOWN%' }",
        u"HKCR { Good = s 'x' }\r\nHKCR { Bad = s '%" + std::u16string(32, u'N') + u"%' }",
        u"HKCR { Good = s 'x' } 50%",
        u"HKCR { Good = s 'x' }\r\nHKCR { Bad { }",
        u"HKCR { Good = s 'x' }\r\nHKCR { Bad = s 'open }",
        u"HKCR { Good = s 'x' }\r\nHKCR { Bad = z 'x' }",
        u"HKCR { Good { Val = s 'x' } }",
    };
    for (const std::u16string& script : scripts) {
        RegScriptStatus status;
        EXPECT_EQ(RunRegScript(script, {{u"MODULE", u"m"}}, RegApplyMode::Register, base_, &status),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
        EXPECT_FALSE(status.ok());
        EXPECT_TRUE(Dump().empty()) << Utf8(reinterpret_cast<const wchar_t*>(script.c_str()));
    }
}

// The script compiled into this test from module/ztolvera.rgs, the same file
// the DLL carries, run through the module's own resource loading.
TEST_F(RegApplyTest, ProductScriptWritesExactlyTheClassKeys)
{
    const std::wstring self = OwnPath();
    ASSERT_EQ(UpdateRegistryFromResource(self, RegApplyMode::Register, base_), S_OK);
    const std::vector<std::string> expected = Sorted(ProductKeys(Utf8(self)));
    EXPECT_EQ(Dump(), expected);

    // Registering again replaces the class key and leaves one set.
    PutForeign((L"CLSID\\" + Wide(kClsid) + L"\\Stale").c_str());
    ASSERT_EQ(UpdateRegistryFromResource(self, RegApplyMode::Register, base_), S_OK);
    EXPECT_EQ(Dump(), expected);

    ASSERT_EQ(UpdateRegistryFromResource(self, RegApplyMode::Unregister, base_), S_OK);
    EXPECT_EQ(Dump(), Sorted({"CLSID"}));
}

TEST_F(RegApplyTest, ModulePathWithQuotesReadsBackExactly)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring dir = std::wstring(temp) + L"it's zTolvera";
    const std::wstring copy = dir + L"\\o''neil's.exe";
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(OwnPath().c_str(), copy.c_str(), FALSE));

    EXPECT_EQ(UpdateRegistryFromResource(copy, RegApplyMode::Register, base_), S_OK);
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof value;
    const std::wstring key = L"CLSID\\" + Wide(kClsid) + L"\\InprocServer32";
    EXPECT_EQ(RegGetValueW(base_, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size), ERROR_SUCCESS);
    EXPECT_EQ(Utf8(value), Utf8(copy));

    DeleteFileW(copy.c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST_F(RegApplyTest, MissingScriptResourceIsAnErrorAndWritesNothing)
{
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(UpdateRegistryFromResource(std::wstring(system) + L"\\kernel32.dll", RegApplyMode::Register, base_),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_TRUE(FAILED(UpdateRegistryFromResource(L"C:\\no\\such\\module.dll", RegApplyMode::Register, base_)));
    EXPECT_TRUE(Dump().empty());
}

// The test executable holds no type library, so loading from its path falls
// back to regapply_test.tlb beside it; that path is what gets registered.
TEST(TypeLibRegistration, FallsBackToTheTlbFileAndUnregisters)
{
    const GUID libid = {0x81D29D2A, 0xC197, 0x41A8, {0x81, 0x6A, 0x3B, 0x65, 0x2C, 0x32, 0x33, 0x67}};
    const std::wstring self = OwnPath();
    const std::wstring tlb = TypeLibFallbackPath(self);

    ASSERT_EQ(RegisterTypeLibFrom(self), S_OK);
    BSTR registered = nullptr;
    ASSERT_EQ(QueryPathOfRegTypeLib(libid, 1, 2, 0x409, &registered), S_OK);
    EXPECT_EQ(Utf8(registered), Utf8(tlb));
    SysFreeString(registered);
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(libid, 1, 2, 0x409, &lib), S_OK);
    lib->Release();

    // Registering again is no error and still one registration.
    EXPECT_EQ(RegisterTypeLibFrom(self), S_OK);

    ASSERT_EQ(UnregisterTypeLibFrom(self), S_OK);
    lib = nullptr;
    EXPECT_TRUE(FAILED(LoadRegTypeLib(libid, 1, 2, 0x409, &lib)));
    if (lib)
        lib->Release();
}

TEST(TypeLibRegistration, UnloadableLibraryIsTheLoadError)
{
    EXPECT_TRUE(FAILED(RegisterTypeLibFrom(L"C:\\no\\such\\module.dll")));
    EXPECT_TRUE(FAILED(UnregisterTypeLibFrom(L"C:\\no\\such\\module.dll")));
}

TEST(RegistrationPaths, TypeLibFallbackAndHelpDirectory)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* tlb;
        const wchar_t* helpDir;
    };
    const Case cases[] = {
        {L"C:\\Agent\\zTolvera.dll", L"C:\\Agent\\zTolvera.tlb", L"C:\\Agent\\"},
        {L"C:\\my.agent\\zTolvera", L"C:\\my.agent\\zTolvera.tlb", L"C:\\my.agent\\"},
        {L"C:/agent/z.v2.dll", L"C:/agent/z.v2.tlb", L"C:/agent/"},
        {L"C:zTolvera.dll", L"C:zTolvera.tlb", L"C:"},
        {L"zTolvera.dll", L"zTolvera.tlb", L""},
        {L"", L".tlb", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8(TypeLibFallbackPath(c.path)), Utf8(c.tlb));
        EXPECT_EQ(Utf8(HelpDirectoryOf(c.path)), Utf8(c.helpDir));
    }
}

TEST(RegistrationPaths, ModulePathFailuresAreErrors)
{
    std::wstring path;
    EXPECT_EQ(GetModulePath(reinterpret_cast<HMODULE>(0x12340000), path), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_TRUE(path.empty());
}

// A module path that fills GetModuleFileNameW's 260-character buffer may be
// cut short, so it must not reach the registry.
TEST(RegistrationPaths, ModulePathOf260CharactersIsRefused)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring dir = std::wstring(temp) + L"zTolveraLongPath";
    std::vector<std::wstring> made{dir};
    CreateDirectoryW(dir.c_str(), nullptr);
    while (dir.size() < 180) {
        dir += L"\\" + std::wstring(40, L'd');
        CreateDirectoryW(dir.c_str(), nullptr);
        made.push_back(dir);
    }
    const std::pair<std::size_t, HRESULT> cases[] = {
        {259, S_OK},
        {260, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)},
        {300, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)},
    };
    for (const auto& [length, expected] : cases) {
        std::wstring file = dir + L"\\" + std::wstring(length - dir.size() - 5, L'm') + L".exe";
        ASSERT_EQ(file.size(), length);
        ASSERT_TRUE(CopyFileW(OwnPath().c_str(), file.c_str(), FALSE));
        HMODULE module = LoadLibraryExW(file.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(module, nullptr);
        std::wstring path;
        EXPECT_EQ(GetModulePath(module, path), expected) << length;
        EXPECT_EQ(path.size(), expected == S_OK ? length : 0u);
        FreeLibrary(module);
        DeleteFileW(file.c_str());
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        RemoveDirectoryW(it->c_str());
}

}  // namespace
