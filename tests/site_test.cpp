// The script site on its own: which object each named item stands for, the
// type information it gives, and how an engine's error report becomes one
// trace line and one script exception for the job of the calling thread.
#include <gtest/gtest.h>

#include "bound_job.h"
#include "module.h"
#include "companion.h"
#include "owners.h"
#include "scpext.h"
#include "script_fixture.h"
#include "script_probe.h"
#include "site.h"

namespace {

using Lines = std::vector<std::string>;

// An engine's error report with fixed content.
class FakeError : public IActiveScriptError {
public:
    FakeError(WORD code, SCODE status, const wchar_t* source, const wchar_t* description, ULONG line)
        : code_(code), status_(status), source_(source), description_(description), line_(line) {}
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }    // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetExceptionInfo(EXCEPINFO* excep) override {
        *excep = {};
        excep->wCode = code_;
        excep->scode = status_;
        excep->bstrSource = SysAllocString(source_);
        excep->bstrDescription = SysAllocString(description_);
        excep->bstrHelpFile = SysAllocString(L"help");
        return S_OK;
    }
    STDMETHODIMP GetSourcePosition(DWORD* context, ULONG* line, LONG* column) override {
        *context = 0;
        *line = line_;
        *column = 3;
        return S_OK;
    }
    STDMETHODIMP GetSourceLineText(BSTR* text) override {
        *text = SysAllocString(L"x = y +");
        return S_OK;
    }

private:
    WORD code_;
    SCODE status_;
    const wchar_t* source_;
    const wchar_t* description_;
    ULONG line_;
};

struct SiteTest : ::testing::Test {
    void SetUp() override {
        setUpComForTests();
        standin_reset();
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ScpWin32Ext, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                                  companion.putVoid()));
        site = CActiveScriptSite::create(ext.get(), companion.get());
        ASSERT_TRUE(site);
    }
    ComPtr<IScpExt> ext{ScpExt::create()};
    ComPtr<IDispatch> companion;
    ComPtr<CActiveScriptSite> site;
};

TEST_F(SiteTest, NamedItemsResolveExactlyToTheirObjects) {
    struct Case { const wchar_t* name; IUnknown* object; HRESULT hr; };
    ComPtr<IUnknown> extIdentity, companionIdentity;
    ext->QueryInterface(IID_IUnknown, extIdentity.putVoid());
    companion->QueryInterface(IID_IUnknown, companionIdentity.putVoid());
    const Case cases[] = {
        {L"CVEXT", extIdentity.get(), S_OK},        {L"CVFLEXT", extIdentity.get(), S_OK},
        {L"CVWINEXT", companionIdentity.get(), S_OK}, {L"CVWIN32EXT", companionIdentity.get(), S_OK},
        {L"cvext", nullptr, E_FAIL},                {L"CVEXT ", nullptr, E_FAIL},
        {L"Other", nullptr, E_FAIL},
    };
    for (const Case& c : cases) {
        ComPtr<IUnknown> item;
        EXPECT_EQ(site->GetItemInfo(c.name, SCRIPTINFO_IUNKNOWN, item.put(), nullptr), c.hr) << c.name;
        ComPtr<IUnknown> identity;
        if (item) item->QueryInterface(IID_IUnknown, identity.putVoid());
        EXPECT_EQ(identity.get(), c.object) << c.name;
    }
    EXPECT_EQ(journal(), Lines{});
}

// Every name, listed or not, gets the type information of the coclass
// Tolvera from zTolvera's own type library.
TEST_F(SiteTest, TypeInformationIsTolverasForEveryName) {
    for (const wchar_t* name : {L"CVEXT", L"CVWIN32EXT", L"Unknown"}) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(site->GetItemInfo(name, SCRIPTINFO_ITYPEINFO, nullptr, info.put()), S_OK) << name;
        TYPEATTR* attr = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
        EXPECT_EQ(attr->guid, CLSID_Tolvera);
        EXPECT_EQ(attr->typekind, TKIND_COCLASS);
        info->ReleaseTypeAttr(attr);
    }
    // Both at once: the object for a listed name, the type information's
    // result decides.
    ComPtr<IUnknown> item;
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(site->GetItemInfo(L"nothing", SCRIPTINFO_IUNKNOWN | SCRIPTINFO_ITYPEINFO, item.put(), info.put()), S_OK);
    EXPECT_FALSE(item);
    EXPECT_TRUE(info);
}

// A type-information step that fails decides the result; the object found
// for the name is not handed out with a failure, where no caller would
// release it.
TEST_F(SiteTest, FailedTypeInformationHandsOutNoObject) {
    HMODULE other = LoadLibraryW(L"scrrun.dll");     // a type library without Tolvera
    ASSERT_TRUE(other);
    setModuleHandle(other);
    ext->AddRef();
    const ULONG refsBefore = ext->Release();
    IUnknown* item = reinterpret_cast<IUnknown*>(1);
    ComPtr<ITypeInfo> info;
    HRESULT hr = site->GetItemInfo(L"CVEXT", SCRIPTINFO_IUNKNOWN | SCRIPTINFO_ITYPEINFO, &item, info.put());
    setModuleHandle(nullptr);
    FreeLibrary(other);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(item, nullptr);
    EXPECT_FALSE(info);
    ext->AddRef();
    EXPECT_EQ(ext->Release(), refsBefore);
}

TEST_F(SiteTest, FixedAnswers) {
    LCID lcid = 0;
    EXPECT_EQ(site->GetLCID(&lcid), S_OK);
    EXPECT_EQ(lcid, 9u);
    Bstr version;
    EXPECT_EQ(site->GetDocVersionString(version.put()), S_OK);
    EXPECT_EQ(SysStringLen(version.get()), 0u);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(site->QueryInterface(IID_IDispatch, unknown.putVoid()), E_NOINTERFACE);
    EXPECT_FALSE(unknown);
    EXPECT_EQ(site->setStandAlone(), 1);
    ComPtr<CActiveScriptSite> bare(CActiveScriptSite::create(nullptr, nullptr));
    EXPECT_EQ(bare->setStandAlone(), 0);
    EXPECT_EQ(journal(), Lines{R"({"op":"setStandAlone","args":[]})"});
}

TEST_F(SiteTest, ErrorsGoToTheTraceAndToTheJobOfTheCallingThread) {
    struct Case {
        const char* label;
        WORD code;
        SCODE status;
        bool bound;
        Lines expected;
    };
    const Case cases[] = {
        {"abort marker", 0xFFFF, static_cast<SCODE>(0xFFFFFFFF), true, {}},
        {"code alone is no marker", 0xFFFF, 5, true,
         {R"({"trace":"onScriptError: src [Line: 7] went wrong"})",
          R"({"job":40,"op":"sendScpException","args":["src [Line: 7] went wrong",0]})"}},
        {"status alone is no marker", 0, static_cast<SCODE>(0xFFFFFFFF), true,
         {R"({"trace":"onScriptError: src [Line: 7] went wrong"})",
          R"({"job":40,"op":"sendScpException","args":["src [Line: 7] went wrong",0]})"}},
        {"no job on this thread", 0, E_FAIL, false,
         {R"({"trace":"onScriptError: src [Line: 7] went wrong"})",
          R"({"trace":"onScriptError: failed to locate job ref"})"}},
    };
    for (const Case& c : cases) {
        standin_reset();
        FakeError error(c.code, c.status, L"src", L"went wrong", 7);
        if (c.bound) {
            BoundJob job(40, 4001);
            EXPECT_EQ(site->OnScriptError(&error), S_OK) << c.label;
        } else {
            EXPECT_EQ(site->OnScriptError(&error), S_OK) << c.label;
        }
        EXPECT_EQ(journal(), c.expected) << c.label;
    }
}

TEST_F(SiteTest, LongErrorsAreCutAt1023Bytes) {
    BoundJob job(42, 4201);
    std::wstring description(2000, L'x');
    FakeError error(0, E_FAIL, L"src", description.c_str(), 12);
    site->OnScriptError(&error);
    std::string text = "src [Line: 12] " + std::string(1023 - 15, 'x');
    ASSERT_EQ(text.size(), 1023u);
    EXPECT_EQ(journal(), (Lines{R"({"trace":"onScriptError: )" + text + R"("})",
                                R"({"job":42,"op":"sendScpException","args":[")" + text + R"(",0]})"}));
}

}  // namespace

namespace {

std::string systemText(HRESULT hr) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr), 0, text,
                   sizeof text, nullptr);
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s.empty() ? "(no system text)" : s;
}

// Where the engine leaves out source or description, the report names the
// kind of error and says what it was, from the error's code.
TEST_F(SiteTest, ErrorsWithoutTextAreDescribedFromTheirCode) {
    struct Case {
        WORD code;
        SCODE status;
        const wchar_t* source;
        const wchar_t* description;
        std::string report;
    };
    const std::string runtime = "Microsoft VBScript runtime error [Line: 7] ";
    const std::string compilation = "Microsoft VBScript compilation error [Line: 7] ";
    const Case cases[] = {
        {0, static_cast<SCODE>(0x800A000B), nullptr, nullptr, runtime + "Division by zero"},
        {0, DISP_E_DIVBYZERO, nullptr, nullptr, runtime + "Division by zero"},
        {0, DISP_E_BADPARAMCOUNT, nullptr, nullptr, runtime + "Wrong number of arguments or invalid property assignment"},
        {13, 0, nullptr, nullptr, runtime + "Type mismatch"},
        {0, static_cast<SCODE>(0x800A03EA), nullptr, nullptr, compilation + "Syntax error"},
        {0, static_cast<SCODE>(0x800A0401), nullptr, nullptr, compilation + "Expected end of statement"},
        // A compilation error without a number of the engine's.
        {0, E_FAIL, L"Microsoft VBScript compilation error", nullptr, compilation + "Syntax error"},
        // Other results in the system's words ("Unspecified error" on some
        // systems, "Call failed." on others).
        {0, E_FAIL, nullptr, nullptr, runtime + systemText(E_FAIL)},
        {0, static_cast<SCODE>(0x800A3039), nullptr, nullptr, runtime + "Error 12345"},
        {0, static_cast<SCODE>(0x8FFF1234), nullptr, L"", runtime + "Error 0x8FFF1234"},
        // What the engine gave is kept.
        {0, static_cast<SCODE>(0x800A000B), L"mine", nullptr, "mine [Line: 7] Division by zero"},
        {0, static_cast<SCODE>(0x800A03E8), nullptr, L"my own words", runtime + "my own words"},
    };
    for (const Case& c : cases) {
        standin_reset();
        FakeError error(c.code, c.status, c.source, c.description, 7);
        BoundJob job(40, 4001);
        EXPECT_EQ(site->OnScriptError(&error), S_OK);
        EXPECT_EQ(probe::scriptErrors().size(), 1u);
        if (!probe::scriptErrors().empty()) {
            EXPECT_EQ(probe::scriptErrors()[0].text, c.report) << std::hex << c.status;
        }
    }
}

// The platform's engine reports these three without (all of) their text.
TEST_F(SiteTest, ScriptErrorsReachTheJobReadable) {
    struct Case {
        const wchar_t* script;
        std::string report;
        int indicator;
    };
    const Case cases[] = {
        {L"Sub main()\nDim x\nx = 1 / 0\nEnd Sub\n", "Microsoft VBScript runtime error [Line: 2] Division by zero", 1},
        {L"Sub main()\nx = (1\nEnd Sub\n", "Microsoft VBScript compilation error [Line: 1] Syntax error", 0},
        {L"Sub main()\nErr.Raise 1000, \"inventory\", \"no disks found\"\nEnd Sub\n", "inventory [Line: 1] no disks found", 1},
    };
    for (const Case& c : cases) {
        standin_reset();
        runScript(c.script, 5, 5001);
        auto errors = probe::scriptErrors();
        ASSERT_EQ(errors.size(), 1u) << c.report;
        EXPECT_EQ(errors[0].text, c.report);
        EXPECT_EQ(errors[0].indicator, c.indicator) << c.report;
    }
}

}  // namespace
