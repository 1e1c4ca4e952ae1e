#include "tolvera.h"

#include <windows.h>
#include <ole2.h>

namespace {

const wchar_t kProgId[] = L"Dozurizar.Tolvera";
const wchar_t kServer[] = L"zTolvera.dll";
const wchar_t kCompanionServer[] = L"ScpWin32Ext.dll";
const wchar_t kCompanionKey[] = L"CLSID\\{F4EB82FF-C9C1-4968-A2B1-E0F3215997F2}\\InprocServer32";

using DllGetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using DllRegisterServerFn = HRESULT(WINAPI*)();

std::wstring hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

// The DLL stays loaded for the life of the process: hosts, engines and
// the extension object live in it until the runner exits.
HMODULE server(const wchar_t* file) {
    HMODULE module = GetModuleHandleW(file);
    return module ? module : LoadLibraryW(besideRunner(file).c_str());
}

bool companionRegistered() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kCompanionKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// What an installation provides and scripts depend on: the class with its
// ProgID and the type library that ScpExt's dispatch reads (zTolvera's own
// DllRegisterServer, or at least the type library from the DLL's resource),
// and the companion object without which a host stays uninitialised.
HRESULT registerInstallation(HMODULE module, std::wstring& error) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(kProgId, &clsid))) {
        auto selfRegister = reinterpret_cast<DllRegisterServerFn>(GetProcAddress(module, "DllRegisterServer"));
        if (!selfRegister || FAILED(selfRegister())) {
            ComPtr<ITypeLib> library;
            HRESULT hr = LoadTypeLibEx(besideRunner(kServer).c_str(), REGKIND_REGISTER, library.put());
            if (FAILED(hr)) {
                error = L"cannot register the type library of zTolvera.dll: " + hex(hr);
                return hr;
            }
        }
    }
    if (companionRegistered()) return S_OK;
    // A missing companion is not fatal here: the host reports it in its own
    // trace line and answers every reg with 1.
    if (HMODULE companion = server(kCompanionServer)) {
        if (auto reg = reinterpret_cast<DllRegisterServerFn>(GetProcAddress(companion, "DllRegisterServer"))) reg();
    }
    return S_OK;
}

HRESULT fromClassObject(HMODULE module, ComPtr<ITolvera>& host, std::wstring& error) {
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(module, "DllGetClassObject"));
    if (!getClassObject) {
        error = L"zTolvera.dll exports no DllGetClassObject";
        return E_NOINTERFACE;
    }
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(CLSID_Tolvera, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr)) {
        error = L"zTolvera.dll has no class object for Tolvera: " + hex(hr);
        return hr;
    }
    hr = factory->CreateInstance(nullptr, IID_ITolvera, host.putVoid());
    if (FAILED(hr)) error = L"the class object of Tolvera created no ITolvera: " + hex(hr);
    return hr;
}

}  // namespace

std::wstring besideRunner(const wchar_t* file) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    std::size_t slash = dir.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? L"" : dir.substr(0, slash + 1)) + file;
}

HRESULT createTolvera(ComPtr<ITolvera>& host, std::wstring& error) {
    HMODULE module = server(kServer);
    if (!module) {
        DWORD code = GetLastError();
        error = L"cannot load zTolvera.dll: error " + std::to_wstring(code);
        return HRESULT_FROM_WIN32(code);
    }
    if (HRESULT hr = registerInstallation(module, error); FAILED(hr)) return hr;
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(kProgId, &clsid))) return fromClassObject(module, host, error);
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITolvera, host.putVoid());
    if (FAILED(hr)) error = L"CoCreateInstance of Dozurizar.Tolvera failed: " + hex(hr);
    return hr;
}
