#include "site.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "abort_marker.h"
#include "errortext.h"
#include "memory.h"
#include "module.h"
#include "text.h"
#include "trace.h"
#include "activation.h"

namespace {

// The named items and the objects they stand for: the extension object
// twice, the companion twice.
enum class Item { Extension, Companion };
struct NamedItem {
    const wchar_t* name;
    Item item;
};
constexpr NamedItem kNamedItems[] = {
    {L"CVEXT", Item::Extension},
    {L"CVWINEXT", Item::Companion},
    {L"CVFLEXT", Item::Extension},
    {L"CVWIN32EXT", Item::Companion},
};

}  // namespace

void formatScriptError(char (&buffer)[kScriptErrorBufferSize], const wchar_t* source, long line,
                       const wchar_t* description) {
    std::snprintf(buffer, sizeof buffer, "%s [Line: %d] %s", toLocaleText(source).c_str(), static_cast<int>(line),
                  toLocaleText(description).c_str());
}

HRESULT tolveraTypeInfo(ITypeInfo** info) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = loadTypeLibrary(lib.put());
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(CLSID_Tolvera, info);
}

CActiveScriptSite* CActiveScriptSite::create(IScpExt* ext, IDispatch* companion) {
    return new (std::nothrow) CActiveScriptSite(ext, companion);
}

CActiveScriptSite::CActiveScriptSite(IScpExt* ext, IDispatch* companion) : ext_(ext), companion_(companion) {
    if (!ext_) return;
    // Proves early that the extension object's dispatch interface answers
    // (it needs the registered type library); the site works either way.
    LPOLESTR name = const_cast<LPOLESTR>(L"IterationCount");
    DISPID id;
    HRESULT hr = ext_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (FAILED(hr))
        trace("CActiveScriptSite::CActiveScriptSite: Could not call GetIDsOfNames in constructor.  Error = %x\n", hr);
}

STDMETHODIMP CActiveScriptSite::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == __uuidof(IActiveScriptSite)) {
        *ppv = static_cast<IActiveScriptSite*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CActiveScriptSite::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) CActiveScriptSite::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
}

STDMETHODIMP CActiveScriptSite::GetLCID(LCID* lcid) {
    if (!lcid) return E_POINTER;
    *lcid = 9;
    return S_OK;
}

IUnknown* CActiveScriptSite::namedItem(LPCOLESTR name) const {
    if (!name) return nullptr;
    for (const NamedItem& item : kNamedItems)
        if (!wcscmp(name, item.name))
            return item.item == Item::Extension ? static_cast<IUnknown*>(ext_.get()) : companion_.get();
    return nullptr;
}

STDMETHODIMP CActiveScriptSite::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) {
    const bool wantsObject = (mask & SCRIPTINFO_IUNKNOWN) && item;
    const bool wantsTypeInfo = (mask & SCRIPTINFO_ITYPEINFO) && info;
    if (wantsObject) *item = nullptr;
    if (wantsTypeInfo) *info = nullptr;

    HRESULT hr = E_FAIL;
    if (wantsObject) {
        *item = namedItem(name);
        if (*item) {
            (*item)->AddRef();
            hr = S_OK;
        }
    }
    // Every name, listed or not, gets the Tolvera type information.
    if (wantsTypeInfo) hr = tolveraTypeInfo(info);
    // Its result decides; a caller told of a failure releases nothing.
    if (FAILED(hr) && wantsObject && *item) {
        (*item)->Release();
        *item = nullptr;
    }
    return hr;
}

STDMETHODIMP CActiveScriptSite::GetDocVersionString(BSTR* version) {
    if (!version) return E_POINTER;
    *version = memory::allocBstr(L"");
    return *version ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CActiveScriptSite::OnScriptTerminate(const VARIANT*, const EXCEPINFO*) { return S_OK; }
STDMETHODIMP CActiveScriptSite::OnStateChange(SCRIPTSTATE) { return S_OK; }

STDMETHODIMP CActiveScriptSite::OnScriptError(IActiveScriptError* error) {
    if (!error) return S_OK;
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    Bstr sourceLine;
    EXCEPINFO excep = {};
    error->GetSourcePosition(&context, &line, &column);
    error->GetSourceLineText(sourceLine.put());
    error->GetExceptionInfo(&excep);
    Bstr source, description, helpFile;
    source.reset(excep.bstrSource);
    description.reset(excep.bstrDescription);
    helpFile.reset(excep.bstrHelpFile);

    // The abort methods end a script with this marker; it is no error.
    if (isAbortMarker(excep)) return S_OK;

    char text[kScriptErrorBufferSize] = {};
    try {
        completeErrorText(excep.wCode, excep.scode, source, description);
        formatScriptError(text, source.get(), static_cast<long>(line), description.get());
    } catch (...) {
        // No memory to convert the texts: the job still learns of the error
        // and its line.
        formatScriptError(text, nullptr, static_cast<long>(line), nullptr);
    }
    trace("onScriptError: %s\n", text);

    ImpJob* job = nullptr;
    if (!jobRefForThread(&job, nullptr) || !job) {
        trace("onScriptError: failed to locate job ref\n");
        return S_OK;
    }
    job->sendScpException(text, compiledForThread());
    return S_OK;
}

STDMETHODIMP CActiveScriptSite::OnEnterScript() { return S_OK; }
STDMETHODIMP CActiveScriptSite::OnLeaveScript() { return S_OK; }

int CActiveScriptSite::setStandAlone() {
    if (!ext_) return 0;
    ext_->setStandAlone();
    return 1;
}
