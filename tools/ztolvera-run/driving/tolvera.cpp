#include "tolvera.h"

#include <windows.h>
#include <ole2.h>

#include <vector>

#include "companion.h"

namespace {

const wchar_t kServer[] = L"zTolvera.dll";
const wchar_t kCompanionServer[] = L"ScpWin32Ext.dll";
const wchar_t kCompanionKey[] = L"CLSID\\{F4EB82FF-C9C1-4968-A2B1-E0F3215997F2}\\InprocServer32";

// Where zTolvera.dll lies, relative to the runner: beside it in the build
// tree, one folder up in the release, where the runner, the stand-in core and
// the companion have a folder of their own.
const wchar_t* const kServerFolders[] = {L"", L"..\\"};

using DllGetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

std::wstring hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

std::wstring moduleFile(HMODULE module) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    return n && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}


// A whole path without "..", so that the registration written from the
// loaded DLL names the file as a user would.
std::wstring fullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return n && n < MAX_PATH ? std::wstring(full, n) : path;
}

// The DLLs stay loaded for the life of the process: hosts, engines and
// the extension object live in them until the runner exits. Loaded by its
// whole path, the DLL is this one even where a module of the same name is
// already loaded or registered elsewhere.
HMODULE loadServer() {
    std::wstring path = serverPath();
    if (!path.empty()) return LoadLibraryW(path.c_str());
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// "1.0.0.1" from the file's version resource; empty where it has none.
std::wstring fileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (!size) return std::wstring();
    std::vector<unsigned char> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed)
        return std::wstring();
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

bool companionRegistered() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kCompanionKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Where no companion is registered, the stand-in beside the runner is offered
// to this process alone, as a class object COM knows until the process ends:
// running the workbench writes nothing about it to the registry, and an
// installed companion is never replaced by the stand-in. A companion that
// cannot be offered is not fatal here: the host reports it in its own trace
// line and answers every reg with 1.
void offerCompanion() {
    if (companionRegistered()) return;
    HMODULE companion = LoadLibraryW((runnerFolder() + kCompanionServer).c_str());
    if (!companion) return;
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(companion, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    if (!getClassObject || FAILED(getClassObject(CLSID_ScpWin32Ext, IID_IClassFactory, factory.putVoid()))) return;
    DWORD cookie = 0;
    CoRegisterClassObject(CLSID_ScpWin32Ext, factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
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

std::wstring runnerFolder() {
    std::wstring path = moduleFile(nullptr);
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
}

std::wstring serverPath() {
    for (const wchar_t* folder : kServerFolders) {
        std::wstring path = fullPath(runnerFolder() + folder + kServer);
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
    }
    return std::wstring();
}

std::wstring serverIdentity() {
    std::wstring path = serverPath();
    if (path.empty()) return std::wstring();
    std::wstring version = fileVersion(path);
    return L"zTolvera " + (version.empty() ? L"(no version)" : version) + L" (" + path + L")";
}

HRESULT createTolvera(ComPtr<ITolvera>& host, std::wstring& error) {
    HMODULE module = loadServer();
    if (!module) {
        DWORD code = GetLastError();
        error = L"cannot load zTolvera.dll (beside the runner or in the folder above it): error " +
                std::to_wstring(code);
        return HRESULT_FROM_WIN32(code);
    }
    offerCompanion();
    return fromClassObject(module, host, error);
}
