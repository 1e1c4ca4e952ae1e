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
