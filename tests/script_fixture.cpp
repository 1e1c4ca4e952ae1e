#include "script_fixture.h"

#include <activscp.h>

#include <mutex>

#include "owners.h"
#include "scpext.h"
#include "vbcache.h"

namespace {

// A bare script site: the four named items resolve to ScpExt (and nothing
// for the companion), errors go to the trace.
class TestSite : public IActiveScriptSite {
public:
    explicit TestSite(IDispatch* ext) : ext_(ext) {}
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
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** unk, ITypeInfo** ti) override {
        if (ti && (mask & SCRIPTINFO_ITYPEINFO)) *ti = nullptr;
        if (!(mask & SCRIPTINFO_IUNKNOWN)) return E_FAIL;
        *unk = nullptr;
        if (wcscmp(name, L"CVEXT") && wcscmp(name, L"CVFLEXT")) return E_FAIL;
        *unk = ext_.get();
        (*unk)->AddRef();
        return S_OK;
    }
    STDMETHODIMP GetDocVersionString(BSTR* v) override { *v = SysAllocString(L""); return S_OK; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override {
        EXCEPINFO ei = {};
        error->GetExceptionInfo(&ei);
        if (!(ei.wCode == 0xFFFF && ei.scode == static_cast<SCODE>(0xFFFFFFFF))) {
            std::string text = "onScriptError: ";
            if (ei.bstrDescription) {
                char buf[1024] = {};
                wcstombs(buf, ei.bstrDescription, sizeof buf - 1);
                text += buf;
            }
            TraceMgr.logAdmTrace(67, "%s\n", text.c_str());
        }
        SysFreeString(ei.bstrSource);
        SysFreeString(ei.bstrDescription);
        SysFreeString(ei.bstrHelpFile);
        return S_OK;
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    ComPtr<IDispatch> ext_;
    LONG refs_ = 0;
};

std::string stripSeq(const std::string& line) {
    // {"seq":N,REST  ->  {REST
    std::size_t comma = line.find(',');
    if (line.rfind("{\"seq\":", 0) != 0 || comma == std::string::npos) return line;
    return "{" + line.substr(comma + 1);
}

}  // namespace

void setUpComForTests() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static std::once_flag once;
    std::call_once(once, [] {
        ComPtr<ITypeLib> lib;
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        wchar_t* slash = wcsrchr(path, L'\\');
        wcscpy(slash ? slash + 1 : path, L"zTolvera.dll");
        LoadTypeLibEx(path, REGKIND_REGISTER, lib.put());
    });
}

std::vector<std::string> journal() {
    std::vector<std::string> lines;
    char* text = standin_journal();
    if (!text) return lines;
    std::string all = text;
    standin_free(text);
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        if (end > start) lines.push_back(stripSeq(all.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> calls(const std::string& op) {
    std::vector<std::string> out;
    for (auto& line : journal())
        if (line.find("\"op\":\"" + op + "\"") != std::string::npos) out.push_back(line);
    return out;
}

std::vector<std::string> traces() {
    std::vector<std::string> out;
    for (auto& line : journal())
        if (line.rfind("{\"trace\":\"", 0) == 0) out.push_back(line.substr(10, line.size() - 12));
    return out;
}

ScriptResult runScript(const std::wstring& script, unsigned long jobno, unsigned long pwdobj) {
    setUpComForTests();
    ScriptResult result;
    static ComPtr<IScpExt> ext(ScpExt::create());
    ImpJob* job = standin_newJob(jobno, script.c_str());

    CLSID vbs;
    CLSIDFromProgID(L"vbs", &vbs);
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parse;
    if (FAILED(CoCreateInstance(vbs, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript), engine.putVoid())) ||
        FAILED(engine.as(parse)) || FAILED(parse->InitNew())) {
        standin_deleteJob(job);
        return result;
    }
    ComPtr<IActiveScriptSite> site(new TestSite(ext.get()));
    engine->SetScriptSite(site.get());
    engine->AddNamedItem(L"CVEXT", SCRIPTITEM_ISVISIBLE);
    engine->AddNamedItem(L"CVFLEXT", SCRIPTITEM_ISVISIBLE);

    vbcache* cache = vbcache::acquire();
    cacheEntry* entry = cache->add(jobno, L"test", job, engine.get());
    EXCEPINFO ei = {};
    result.compile = parse->ParseScriptText(script.c_str(), nullptr, nullptr, nullptr, 0, 0, 0x42, nullptr, &ei);
    if (SUCCEEDED(result.compile)) cache->markCompiled(entry);
    cache->attach(entry, pwdobj);
    ComPtr<IDispatch> disp;
    DISPID main = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"main");
    DISPPARAMS none = {};
    if (SUCCEEDED(result.run = engine->SetScriptState(SCRIPTSTATE_STARTED)) &&
        SUCCEEDED(result.run = engine->SetScriptState(SCRIPTSTATE_CONNECTED)) &&
        SUCCEEDED(result.run = engine->GetScriptDispatch(nullptr, disp.put())) &&
        SUCCEEDED(result.run = disp->GetIDsOfNames(IID_NULL, &name, 1, 9, &main)) &&
        SUCCEEDED(result.run = disp->Invoke(main, IID_NULL, 9, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr)))
        result.ret = 1;
    else if (cache->abortFlag(entry))
        result.ret = 1;
    cache->detach(entry);
    disp.reset();
    cache->remove(entry);
    engine->Close();
    standin_deleteJob(job);
    return result;
}
