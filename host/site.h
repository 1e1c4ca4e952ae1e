// CActiveScriptSite: the one script site of a host. It hands the engines the
// objects behind the four named items and turns every script error into one
// line in the trace and one script exception for the job it belongs to.
#pragma once

#include <windows.h>
#include <activscp.h>

#include "owners.h"
#include "ztolvera.h"

class CActiveScriptSite : public IActiveScriptSite {
public:
    // Either object may be null. Null when there is no memory for the site.
    static CActiveScriptSite* create(IScpExt* ext, IDispatch* companion);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IActiveScriptSite, in slot order.
    STDMETHODIMP GetLCID(LCID* lcid) override;
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override;
    STDMETHODIMP GetDocVersionString(BSTR* version) override;
    STDMETHODIMP OnScriptTerminate(const VARIANT* result, const EXCEPINFO* excep) override;
    STDMETHODIMP OnStateChange(SCRIPTSTATE state) override;
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
    STDMETHODIMP OnEnterScript() override;
    STDMETHODIMP OnLeaveScript() override;

    // Puts the extension object into stand-alone mode (config). 1 when there
    // was an extension object to switch, else 0.
    int setStandAlone();

private:
    CActiveScriptSite(IScpExt* ext, IDispatch* companion);
    virtual ~CActiveScriptSite() = default;

    // The object behind a named item, compared exactly; null for any other name.
    IUnknown* namedItem(LPCOLESTR name) const;

    LONG refs_ = 0;
    ComPtr<IScpExt> ext_;
    ComPtr<IDispatch> companion_;
};

// The error report the site sends for a script error: "%S [Line: %d] %S"
// with the error's source, line and description, cut to fit the agent's
// 1024-byte buffer.
inline constexpr size_t kScriptErrorBufferSize = 1024;
void formatScriptError(char (&buffer)[kScriptErrorBufferSize], const wchar_t* source, long line,
                       const wchar_t* description);

// The type information of the coclass Tolvera, which the site gives for every
// named item: from zTolvera's own type library.
HRESULT tolveraTypeInfo(ITypeInfo** info);
