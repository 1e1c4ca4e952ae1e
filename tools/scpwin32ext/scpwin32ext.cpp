// The companion Win32 extension object "ScpWin32Ext Class": a free-threaded
// dual object with two harmless members, enough for scripts to reach
// CVWINEXT / CVWIN32EXT and for hosts to be built where the agent's own
// component is not installed.
//   Echo(text) -> text      Version -> 1
// Tests make a host's construction fail by setting SCPWIN32EXT_REFUSE in
// their own process to a hexadecimal HRESULT: creation then answers with it.
#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <new>

#include "companion.h"

struct IScpWin32Ext : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Echo(BSTR text, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Version(long* version) = 0;
};

namespace {

HMODULE g_module = nullptr;
volatile LONG g_locks = 0;

enum : DISPID { kEcho = 1, kVersion = 2 };

HRESULT refusedCreation() {
    wchar_t value[16];
    DWORD n = GetEnvironmentVariableW(L"SCPWIN32EXT_REFUSE", value, 16);
    if (n == 0 || n >= 16) return S_OK;
    return static_cast<HRESULT>(wcstoul(value, nullptr, 16));
}

class ScpWin32Ext : public IScpWin32Ext {
public:
    ScpWin32Ext() { InterlockedIncrement(&g_locks); }
    virtual ~ScpWin32Ext() { InterlockedDecrement(&g_locks); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IScpWin32Ext) {
            *ppv = static_cast<IScpWin32Ext*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (!refs) delete this;
        return refs;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        if (!_wcsicmp(names[0], L"Echo")) ids[0] = kEcho;
        else if (!_wcsicmp(names[0], L"Version")) ids[0] = kVersion;
        else return DISP_E_UNKNOWNNAME;
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT* argErr) override {
        UINT argc = params ? params->cArgs : 0;
        switch (id) {
        case kEcho: {
            if (argc != 1) return DISP_E_BADPARAMCOUNT;
            VARIANT text;
            VariantInit(&text);
            HRESULT hr = VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR);
            if (FAILED(hr)) {
                if (argErr) *argErr = 0;
                return DISP_E_TYPEMISMATCH;
            }
            if (result) {
                VariantInit(result);
                *result = text;     // the copy goes to the caller
            } else {
                VariantClear(&text);
            }
            return S_OK;
        }
        case kVersion:
            if (argc != 0) return DISP_E_BADPARAMCOUNT;
            if (result) {
                VariantInit(result);
                V_VT(result) = VT_I4;
                V_I4(result) = 1;
            }
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    STDMETHODIMP Echo(BSTR text, BSTR* result) override {
        if (!result) return E_POINTER;
        *result = SysAllocStringLen(text, SysStringLen(text));
        return *result || !text ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_Version(long* version) override {
        if (!version) return E_POINTER;
        *version = 1;
        return S_OK;
    }

private:
    LONG refs_ = 0;
};

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The one static factory lives as long as the DLL; client references
    // keep the DLL loaded.
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&g_locks) + 1; }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&g_locks) + 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (HRESULT refusal = refusedCreation(); FAILED(refusal)) return refusal;
        auto* object = new (std::nothrow) ScpWin32Ext;
        if (!object) return E_OUTOFMEMORY;
        object->AddRef();
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_locks);
        else InterlockedDecrement(&g_locks);
        return S_OK;
    }
} g_factory;

constexpr wchar_t kClassKey[] = L"CLSID\\{F4EB82FF-C9C1-4968-A2B1-E0F3215997F2}";

HRESULT setValue(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* value) {
    HKEY key;
    LONG rc = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(rc);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_locks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_ScpWin32Ext) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n == MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    wchar_t server[sizeof kClassKey / sizeof(wchar_t) + 16];
    swprintf(server, sizeof server / sizeof(wchar_t), L"%ls\\InprocServer32", kClassKey);
    HRESULT hr = setValue(HKEY_CLASSES_ROOT, kClassKey, nullptr, L"ScpWin32Ext Class");
    if (SUCCEEDED(hr)) hr = setValue(HKEY_CLASSES_ROOT, server, nullptr, path);
    if (SUCCEEDED(hr)) hr = setValue(HKEY_CLASSES_ROOT, server, L"ThreadingModel", L"Both");
    return hr;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}
