#include "bench_host.h"

#include "standin.h"

namespace {

// Answers every name with one identifier and every call with S_OK: the floor
// a dispatch call can cost.
class StubDispatch final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG r = InterlockedDecrement(&refs_);
        if (!r) delete this;
        return r;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT n, LCID, DISPID* ids) override {
        for (UINT i = 0; i < n; ++i) ids[i] = 51;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return S_OK;
    }

private:
    LONG refs_ = 0;
};

class BareSite final : public IActiveScriptSite {
public:
    explicit BareSite(bool withStub) { if (withStub) stub_ = ComPtr<IDispatch>(new StubDispatch); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == __uuidof(IActiveScriptSite)) {
            *ppv = static_cast<IActiveScriptSite*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG r = InterlockedDecrement(&refs_);
        if (!r) delete this;
        return r;
    }
    STDMETHODIMP GetLCID(LCID* lcid) override { *lcid = 9; return S_OK; }
    STDMETHODIMP GetItemInfo(LPCOLESTR, DWORD mask, IUnknown** unk, ITypeInfo** ti) override {
        if ((mask & SCRIPTINFO_ITYPEINFO) && ti) *ti = nullptr;
        if (!(mask & SCRIPTINFO_IUNKNOWN) || !stub_) return E_FAIL;
        *unk = stub_.get();
        (*unk)->AddRef();
        return S_OK;
    }
    STDMETHODIMP GetDocVersionString(BSTR* v) override { *v = SysAllocString(L""); return S_OK; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError*) override { return S_OK; }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    ComPtr<IDispatch> stub_;
    LONG refs_ = 0;
};

const CLSID& vbsClass() {
    static CLSID clsid = [] {
        CLSID c{};
        CLSIDFromProgID(L"vbs", &c);
        return c;
    }();
    return clsid;
}

}  // namespace

BenchHost::BenchHost() {
    standin_setRecording(0);
    HMODULE dll = LoadLibraryW(L"zTolvera.dll");
    if (!dll) return;
    {
        // The extension object serves scripts from the registered type library.
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(dll, path, MAX_PATH);
        ComPtr<ITypeLib> lib;
        LoadTypeLibEx(path, REGKIND_REGISTER, lib.put());
    }
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(GetProcAddress(dll, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    if (!get || FAILED(get(CLSID_Tolvera, IID_IClassFactory, factory.putVoid()))) return;
    factory->CreateInstance(nullptr, __uuidof(ITolvera), host_.putVoid());
}

BenchHost::~BenchHost() { host_.reset(); }

unsigned long BenchHost::reg(const std::wstring& script, bool compile) {
    unsigned long jobno = InterlockedIncrement(reinterpret_cast<volatile LONG*>(&nextJob_));
    ImpJob* job = standin_newJob(jobno, script.c_str());   // kept for the process's life
    vsinfo info = {jobno, const_cast<LPWSTR>(L"bench"), static_cast<unsigned long>(reinterpret_cast<uintptr_t>(job))};
    unsigned long cookie = 0;
    host_->reg(info, &cookie);
    if (compile) host_->compile(cookie, nullptr);
    return cookie;
}

void BenchHost::unreg(unsigned long cookie) { host_->unreg(cookie); }

bool BenchHost::run(unsigned long cookie) {
    VARIANT_BOOL ret = 0;
    host_->run(cookie, 1, &ret);
    if (!ret) InterlockedIncrement(&failed_);
    return ret != 0;
}

void BenchHost::lifecycle(const std::wstring& script) {
    unsigned long cookie = reg(script, true);
    run(cookie);
    host_->unreg(cookie);
}

BareEngine::~BareEngine() {
    if (engine_) engine_->Close();
}

bool BareEngine::prepare(const std::wstring& script, bool withStub) {
    if (FAILED(CoCreateInstance(vbsClass(), nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                                engine_.putVoid())) ||
        FAILED(engine_.as(parse_)) || FAILED(parse_->InitNew()))
        return false;
    ComPtr<IActiveScriptSite> site(new BareSite(withStub));
    engine_->SetScriptSite(site.get());
    if (withStub) engine_->AddNamedItem(L"STUB", SCRIPTITEM_ISVISIBLE);
    EXCEPINFO ei = {};
    return SUCCEEDED(parse_->ParseScriptText(script.c_str(), nullptr, nullptr, nullptr, 0, 0, 0x42, nullptr, &ei));
}

void BareEngine::run() {
    engine_->SetScriptState(SCRIPTSTATE_STARTED);
    engine_->SetScriptState(SCRIPTSTATE_CONNECTED);
    ComPtr<IDispatch> disp;
    if (FAILED(engine_->GetScriptDispatch(nullptr, disp.put()))) return;
    LPOLESTR name = const_cast<LPOLESTR>(L"main");
    DISPID id;
    DISPPARAMS none = {};
    if (SUCCEEDED(disp->GetIDsOfNames(IID_NULL, &name, 1, 9, &id)))
        disp->Invoke(id, IID_NULL, 9, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

void bareRun(const std::wstring& script, bool withStub) {
    BareEngine engine;
    if (engine.prepare(script, withStub)) engine.run();
}

std::wstring loopScript(const wchar_t* object, int calls) {
    return L"Sub main()\n  Dim i\n  For i = 1 To " + std::to_wstring(calls) + L"\n    " + object +
           L".DataLog 3, 1.5, \"x\"\n  Next\nEnd Sub\n";
}

std::wstring fiftyLineScript(int calls) {
    std::wstring s = L"Sub main()\n  Dim a, b, c\n  a = 0\n  b = \"\"\n";
    for (int i = 0; i < 44; ++i)
        s += (i % 2 ? L"  a = a + " + std::to_wstring(i) + L"\n" : L"  b = b & \"" + std::to_wstring(i) + L"\"\n");
    s += L"  c = Len(b) + a\n";
    if (calls)
        s += L"  For a = 1 To " + std::to_wstring(calls) + L"\n    CVEXT.DataLog 3, 1.5, \"x\"\n  Next\n";
    return s + L"End Sub\n";
}

// Busy blocks of every heap of the process: what is held, without the free
// room a heap keeps committed between them.
SIZE_T heapBytesInUse() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    SIZE_T total = 0;
    for (DWORD h = 0; h < count && h < 64; ++h) {
        if (!HeapLock(heaps[h])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[h], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
        HeapUnlock(heaps[h]);
    }
    return total;
}

SIZE_T privateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (const char* p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= p) break;
        p = next;
    }
    return total;
}
