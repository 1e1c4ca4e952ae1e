#include "engine_compile.h"

#include <windows.h>
#include <activscp.h>

#include <new>

#include "errortext.h"
#include "owners.h"

namespace {

// What ParseScriptText answers for a text it refuses (SCRIPT_E_REPORTED).
constexpr HRESULT kRefused = static_cast<HRESULT>(0x80020101);

// The site of an engine that only compiles: it names no items and keeps the
// first error the engine reports (the engine stops at its first).
class CompileSite final : public IActiveScriptSite {
public:
    EngineVerdict verdict;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IActiveScriptSite) {
            *out = static_cast<IActiveScriptSite*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR, DWORD, IUnknown**, ITypeInfo**) override { return TYPE_E_ELEMENTNOTFOUND; }
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

    STDMETHODIMP OnScriptError(IActiveScriptError* error) override {
        if (!error || verdict.refused) return S_OK;
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        EXCEPINFO excep = {};
        error->GetSourcePosition(&context, &line, &column);
        error->GetExceptionInfo(&excep);
        Bstr source, description, helpFile;
        source.reset(excep.bstrSource);
        description.reset(excep.bstrDescription);
        helpFile.reset(excep.bstrHelpFile);
        verdict.refused = true;
        verdict.line = line + 1;
        verdict.column = static_cast<unsigned>(column < 0 ? 0 : column) + 1;
        try {
            // The platform's engine leaves the description of every syntax
            // error empty: the error's code says which one it is.
            completeErrorText(excep.wCode, excep.scode, source, description);
            verdict.text = description ? description.get() : L"";
        } catch (...) {
            verdict.text.clear();
        }
        if (verdict.text.empty()) verdict.text = L"Syntax error";
        return S_OK;
    }

private:
    LONG refs_ = 1;
};

HRESULT compile(const std::wstring& text, CompileSite* site) {
    CLSID engineClass;
    HRESULT hr = CLSIDFromProgID(L"vbs", &engineClass);
    if (FAILED(hr)) return hr;
    ComPtr<IActiveScript> engine;
    hr = CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, engine.putVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IActiveScriptParse> parse;
    if (SUCCEEDED(hr = engine.as(parse)) && SUCCEEDED(hr = parse->InitNew()) && SUCCEEDED(hr = engine->SetScriptSite(site))) {
        EXCEPINFO excep = {};
        // The host steps over leading byte-order marks, which the engine takes
        // for the end of the text; the engine here sees what the host gives it.
        const wchar_t* code = text.c_str();
        while (*code == 0xFEFF) ++code;
        hr = parse->ParseScriptText(code, nullptr, nullptr, nullptr, 0, 0,
                                    SCRIPTTEXT_ISVISIBLE | SCRIPTTEXT_ISPERSISTENT, nullptr, &excep);
        releaseExcepInfo(&excep);
    }
    parse.reset();
    engine->Close();
    return hr;
}

}  // namespace

EngineVerdict compileInEngine(const std::wstring& text) {
    CompileSite* site = new (std::nothrow) CompileSite;
    if (!site) return {};
    HRESULT hr = compile(text, site);
    EngineVerdict verdict = site->verdict;
    site->Release();
    // A refusal that the engine did not report to its site still refuses.
    if (hr == kRefused && !verdict.refused) verdict = EngineVerdict{true, 1, 1, L"Syntax error"};
    return verdict;
}
