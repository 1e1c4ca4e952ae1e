#include "registration.h"

#include "owners.h"

#include <cstring>
#include <new>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "registry script text is UTF-16 on this platform");

namespace {

class LibraryHandle {
public:
    explicit LibraryHandle(HMODULE module) : module_(module) {}
    LibraryHandle(const LibraryHandle&) = delete;
    LibraryHandle& operator=(const LibraryHandle&) = delete;
    ~LibraryHandle()
    {
        if (module_)
            FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

class LibAttr {
public:
    explicit LibAttr(ITypeLib* lib) : lib_(lib) {}
    LibAttr(const LibAttr&) = delete;
    LibAttr& operator=(const LibAttr&) = delete;
    ~LibAttr()
    {
        if (attr_)
            lib_->ReleaseTLibAttr(attr_);
    }
    HRESULT Load() { return lib_->GetLibAttr(&attr_); }
    const TLIBATTR* operator->() const { return attr_; }

private:
    ITypeLib* lib_;
    TLIBATTR* attr_ = nullptr;
};

// A failed platform call that left no last error must still read as a failure.
HRESULT LastErrorResult()
{
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

std::u16string_view AsU16(std::wstring_view text) { return {reinterpret_cast<const char16_t*>(text.data()), text.size()}; }

std::size_t LastSeparator(std::wstring_view path) { return path.find_last_of(L"\\/:"); }

HRESULT LoadTypeLibFrom(const std::wstring& path, ComPtr<ITypeLib>& lib, std::wstring& loadedFrom)
{
    HRESULT hr = LoadTypeLib(path.c_str(), lib.put());
    if (SUCCEEDED(hr)) {
        loadedFrom = path;
        return hr;
    }
    std::wstring fallback = TypeLibFallbackPath(path);
    if (SUCCEEDED(LoadTypeLib(fallback.c_str(), lib.put()))) {
        loadedFrom = std::move(fallback);
        return S_OK;
    }
    return hr;
}

// Whether any registration of this library's version is left for its
// locale (or the neutral one the platform falls back to).
bool IsTypeLibRegistered(REFGUID libid, WORD major, WORD minor, LCID lcid)
{
    BSTR path = nullptr;
    HRESULT hr = QueryPathOfRegTypeLib(libid, major, minor, lcid, &path);
    SysFreeString(path);
    return SUCCEEDED(hr);
}

}  // namespace

HRESULT GetModulePath(HMODULE module, std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0)
        return LastErrorResult();
    if (length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

RegReplacements ModuleReplacements(std::wstring_view modulePath)
{
    std::u16string escaped;
    for (char16_t c : AsU16(modulePath)) {
        escaped.push_back(c);
        if (c == u'\'')
            escaped.push_back(c);
    }
    return {{u"APPID", u""}, {u"Module", escaped}, {u"Module_Raw", escaped}};
}

HRESULT LoadRegistryScript(const std::wstring& modulePath, std::u16string& text)
{
    LibraryHandle file(LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file.get())
        return LastErrorResult();
    HRSRC resource = FindResourceW(file.get(), MAKEINTRESOURCEW(kRegistryScriptId), L"REGISTRY");
    if (!resource)
        return LastErrorResult();
    HGLOBAL loaded = LoadResource(file.get(), resource);
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes)
        return LastErrorResult();
    DWORD size = SizeofResource(file.get(), resource);
    // Resource compilers may pad the text with NULs; the script ends there.
    if (const void* nul = std::memchr(bytes, 0, size))
        size = DWORD(static_cast<const char*>(nul) - bytes);
    text.clear();
    if (size == 0)
        return S_OK;
    int length = MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, bytes, int(size), nullptr, 0);
    if (length <= 0)
        return LastErrorResult();
    text.resize(std::size_t(length));
    if (MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, bytes, int(size),
                            reinterpret_cast<wchar_t*>(text.data()), length) != length)
        return LastErrorResult();
    return S_OK;
}

HRESULT UpdateRegistryFromResource(const std::wstring& modulePath, RegApplyMode mode, HKEY baseKey)
{
    try {
        std::u16string text;
        if (HRESULT hr = LoadRegistryScript(modulePath, text); FAILED(hr))
            return hr;
        return RunRegScript(text, ModuleReplacements(modulePath), mode, baseKey);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

std::wstring TypeLibFallbackPath(std::wstring_view path)
{
    std::size_t dot = path.find_last_of(L'.');
    std::size_t separator = LastSeparator(path);
    if (dot != std::wstring_view::npos && (separator == std::wstring_view::npos || dot > separator))
        path = path.substr(0, dot);
    return std::wstring(path) + L".tlb";
}

std::wstring HelpDirectoryOf(std::wstring_view path)
{
    std::size_t separator = LastSeparator(path);
    return separator == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, separator + 1));
}

// The library is registered with the path it was actually read from, so a
// later load by identifier finds it there (the ".tlb" file when the module
// holds none).
HRESULT RegisterTypeLibFrom(const std::wstring& path)
{
    try {
        ComPtr<ITypeLib> lib;
        std::wstring loadedFrom;
        if (HRESULT hr = LoadTypeLibFrom(path, lib, loadedFrom); FAILED(hr))
            return hr;
        std::wstring helpDir = HelpDirectoryOf(loadedFrom);
        return RegisterTypeLib(lib.get(), loadedFrom.data(), helpDir.empty() ? nullptr : helpDir.data());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterTypeLibFrom(const std::wstring& path)
{
    try {
        ComPtr<ITypeLib> lib;
        std::wstring loadedFrom;
        if (HRESULT hr = LoadTypeLibFrom(path, lib, loadedFrom); FAILED(hr))
            return hr;
        LibAttr attr(lib.get());
        if (HRESULT hr = attr.Load(); FAILED(hr))
            return hr;
        HRESULT hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
        // A library that is not registered is nothing to remove, like a
        // missing key of the registry script: unregistering twice succeeds.
        if (FAILED(hr) && !IsTypeLibRegistered(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid))
            return S_OK;
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RegisterServer(HMODULE self)
{
    try {
        std::wstring path;
        if (HRESULT hr = GetModulePath(self, path); FAILED(hr))
            return hr;
        if (HRESULT hr = UpdateRegistryFromResource(path, RegApplyMode::Register); FAILED(hr))
            return hr;
        return RegisterTypeLibFrom(path);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterServer(HMODULE self)
{
    try {
        std::wstring path;
        if (HRESULT hr = GetModulePath(self, path); FAILED(hr))
            return hr;
        if (HRESULT hr = UpdateRegistryFromResource(path, RegApplyMode::Unregister); FAILED(hr))
            return hr;
        return UnregisterTypeLibFrom(path);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
