// The DLL's entry points: fakes_activate, which puts the fakes in the
// platform classes' place for the process, and the class objects COM finds
// through the activation context it made.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <new>

#include "fakes.h"
#include "files.h"
#include "shell.h"
#include "wmi.h"

namespace fakes {

namespace {

// What activation set, for the rest of the process: the machine never
// changes after, so script threads read it without a lock.
struct Activation {
    std::unique_ptr<Machine> machine;
    fakes_host host = {};
};
Activation* gActive = nullptr;

// The platform classes the fakes stand in for, under their own CLSIDs and
// ProgIDs, each with the "real" kind that lets the script reach the real one.
struct FakeClass {
    CLSID clsid;
    const char* clsidText;
    const char* progid;
    const char* kind;
    Fake* (*make)();   // null: reached through GetObject's display name only
};
const FakeClass kClasses[] = {
    {{0x76A64158, 0xCB41, 0x11D1, {0x8B, 0x02, 0x00, 0x60, 0x08, 0x06, 0xD9, 0xB6}},
     "{76A64158-CB41-11D1-8B02-00600806D9B6}", "WbemScripting.SWbemLocator", "wmi", newLocator},
    {{0x172BDDF8, 0xCEEA, 0x11D1, {0x8B, 0x05, 0x00, 0x60, 0x08, 0x06, 0xD9, 0xB6}},
     "{172BDDF8-CEEA-11D1-8B05-00600806D9B6}", "winmgmts", "wmi", nullptr},
    {{0x0D43FE01, 0xF093, 0x11CF, {0x89, 0x40, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x28}},
     "{0D43FE01-F093-11CF-8940-00A0C9054228}", "Scripting.FileSystemObject", "files", newFileSystem},
    {{0x72C24DD5, 0xD70A, 0x438B, {0x8A, 0x42, 0x98, 0x42, 0x4B, 0x88, 0xAF, 0xB8}},
     "{72C24DD5-D70A-438B-8A42-98424B88AFB8}", "WScript.Shell", "registry", newShell},
};

// What a failed "winmgmts:" name binds to: the platform's display-name
// parser turns any failure of ParseDisplayName into "Invalid syntax", so the
// failure waits in the moniker's object and reaches the script from
// GetObject's bind, where the engine words it by its number (462 for an
// unavailable server; the text set here is dropped, the journal keeps it).
class Refusal : public Counted<IUnknown> {
public:
    explicit Refusal(ScriptError e) : e_(std::move(e)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown) {
            *out = this;
            AddRef();
            return S_OK;
        }
        ComPtr<ICreateErrorInfo> create;
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(CreateErrorInfo(create.put()))) {
            create->SetDescription(const_cast<LPOLESTR>(e_.description.c_str()));
            create->SetSource(const_cast<LPOLESTR>(e_.source.c_str()));
            if (SUCCEEDED(create.as(info))) SetErrorInfo(0, info.get());
        }
        return e_.scode;
    }

private:
    ScriptError e_;
};

// The class object: makes the class's fake, and for "winmgmts:" names
// (GetObject) the object the name stands for, behind a pointer moniker.
class ClassObject : public Counted<IClassFactory>, public IParseDisplayName {
public:
    explicit ClassObject(const FakeClass& cls) : cls_(cls) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) *out = static_cast<IClassFactory*>(this);
        else if (iid == IID_IParseDisplayName && !cls_.make) *out = static_cast<IParseDisplayName*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Counted::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Counted::Release(); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!cls_.make) return E_NOINTERFACE;
        Fake* fake = cls_.make();
        if (!fake) return E_OUTOFMEMORY;
        HRESULT hr = fake->QueryInterface(iid, out);
        fake->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, LPOLESTR name, ULONG* eaten, IMoniker** moniker) override {
        if (!name || !eaten || !moniker) return E_POINTER;
        *moniker = nullptr;
        try {
            Reply reply;
            openMoniker(name, reply);
            journalCall("WMI", "GetObject", where(), Json::array({utf8(name)}), reply);
            ComPtr<IUnknown> target;
            if (reply.failed()) target.attach(make<Refusal>(reply.error()));
            else target = V_UNKNOWN(&reply.result());
            if (!target) return E_OUTOFMEMORY;
            HRESULT hr = CreatePointerMoniker(target.get(), moniker);
            if (SUCCEEDED(hr)) *eaten = ULONG(wcslen(name));
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

private:
    const FakeClass& cls_;
};

std::wstring xmlEscaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::wstring modulePath() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&modulePath), &self);
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH * 2);
    return n && n < MAX_PATH * 2 ? std::wstring(path, n) : L"";
}

// The manifest names the DLL by its full path: the platform looks for a
// file named without one beside the manifest, not in the assembly
// directory, and the manifest lives in the temporary folder.
std::string manifest(const Machine& m, const std::wstring& dll) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
        "  <assemblyIdentity type=\"win32\" name=\"ztolvera.fakes\" version=\"1.0.0.0\"/>\n"
        "  <file name=\"" + utf8(xmlEscaped(dll)) + "\">\n";
    // "Both": a script engine's thread calls its fakes directly, in an STA as in the MTA.
    for (const FakeClass& c : kClasses)
        if (!m.real(c.kind))
            xml += std::string("    <comClass clsid=\"") + c.clsidText + "\" progid=\"" + c.progid +
                   "\" threadingModel=\"Both\"/>\n";
    return xml + "  </file>\n</assembly>\n";
}

// A file in the temporary folder for as long as the object lives.
class TemporaryFile {
public:
    TemporaryFile() {
        wchar_t dir[MAX_PATH], file[MAX_PATH];
        if (GetTempPathW(MAX_PATH, dir) && GetTempFileNameW(dir, L"zfk", 0, file)) path_ = file;
    }
    ~TemporaryFile() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::wstring& path() const { return path_; }
    bool write(const std::string& bytes) {
        HANDLE h = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        bool ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
        return CloseHandle(h) && ok;
    }

private:
    std::wstring path_;
};

std::string lastError(const char* what) { return std::string(what) + " (error " + std::to_string(GetLastError()) + ")"; }

bool activate(const char* json, const fakes_host* host, std::string& reason) {
    if (!json) return reason = "no machine given", false;
    auto active = std::make_unique<Activation>();
    if (!(active->machine = Machine::parse(json, reason))) return false;
    if (gActive) return reason = "the fakes are active already; a process activates them once", false;
    if (host) active->host = *host;

    std::wstring dll = modulePath();
    if (dll.empty()) return reason = lastError("the DLL's own path is unknown"), false;
    TemporaryFile file;
    if (file.path().empty() || !file.write(manifest(*active->machine, dll)))
        return reason = lastError("the manifest could not be written to the temporary folder"), false;
    ACTCTXW request = {sizeof request};
    request.lpSource = file.path().c_str();
    HANDLE context = CreateActCtxW(&request);
    if (context == INVALID_HANDLE_VALUE) return reason = lastError("the platform refused the activation context"), false;
    // Set before the context is active: the first script call may come at once.
    gActive = active.release();
    ULONG_PTR cookie = 0;
    if (!ActivateActCtx(context, &cookie)) {
        reason = lastError("the activation context could not be activated");
        ReleaseActCtx(context);
        delete std::exchange(gActive, nullptr);
        return false;
    }
    // Neither released nor deactivated: it stays the thread's, and the
    // threads' it starts, for the life of the process.
    return true;
}

}  // namespace

const Machine& machine() {
    static const Machine none;
    return gActive ? *gActive->machine : none;
}

Where where() {
    Where w;
    if (gActive && gActive->host.where) gActive->host.where(&w.job, &w.run, gActive->host.context);
    return w;
}

void journalLine(const std::string& json) {
    if (gActive && gActive->host.journal) gActive->host.journal(json.c_str(), gActive->host.context);
}

}  // namespace fakes

extern "C" int __cdecl fakes_activate(const char* machineJson, const fakes_host* host, char* error, unsigned errorSize) {
    std::string reason;
    int ok = 0;
    try {
        ok = fakes::activate(machineJson, host, reason) ? 1 : 0;
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (...) {
        reason = "an unexpected failure";
    }
    if (error && errorSize) {
        std::size_t n = ok ? 0 : std::min<std::size_t>(reason.size(), errorSize - 1);
        std::memcpy(error, reason.data(), n);
        error[n] = 0;
    }
    return ok;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const fakes::FakeClass& c : fakes::kClasses) {
        if (!IsEqualCLSID(c.clsid, clsid)) continue;
        auto* object = fakes::make<fakes::ClassObject>(c);
        if (!object) return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// The activation context names this DLL for the life of the process.
extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
