#include "script_fixture.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "child_process.h"
#include "classfactory.h"
#include "entry.h"
#include "format.h"
#include "owners.h"
#include "test_engine.h"
#include "trace_formats.h"
#include "ztolvera.h"

namespace {

bool isHostLine(const jnl::Entry& e) { return e.kind == jnl::Entry::Trace && traceformat::isHostLine(e.trace); }

// Each line of a journal's text as written, without its seq, with the entry read from it.
std::vector<std::pair<std::string, jnl::Entry>> entriesOf(const std::string& all) {
    std::vector<std::pair<std::string, jnl::Entry>> out;
    for (std::size_t start = 0; start < all.size();) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        if (end > start) {
            std::string line = all.substr(start, end - start);
            jnl::Entry e;
            jnl::readEntry(line, e);
            out.emplace_back(jnl::withoutSeq(line), std::move(e));
        }
        start = end + 1;
    }
    return out;
}

std::vector<std::pair<std::string, jnl::Entry>> entries() {
    char* text = standin_journal();
    if (!text) return {};
    std::string all = text;
    standin_free(text);
    return entriesOf(all);
}

// The texts of the trace lines, escaped as the journal shows them.
std::vector<std::string> tracesOf(bool withHost) {
    std::vector<std::string> out;
    for (auto& [line, e] : entries())
        if (e.kind == jnl::Entry::Trace && (withHost || !isHostLine(e))) {
            std::string text = jnl::quotedUtf8(e.trace);
            out.push_back(text.substr(1, text.size() - 2));
        }
    return out;
}

// The HRESULT of the host's line of `format` whose leading fields are
// `which`, or `otherwise`.
HRESULT failureIn(const std::vector<std::string>& traces, const char* format, const std::vector<std::string>& which,
                  HRESULT otherwise) {
    std::vector<std::string> fields;
    for (auto& line : traces)
        if (traceformat::matches(format, line, fields) && std::equal(which.begin(), which.end(), fields.begin()))
            return static_cast<HRESULT>(std::strtoul(fields.back().c_str(), nullptr, 16));
    return otherwise;
}

void registerCompanion() {
    HMODULE companion = LoadLibraryW(L"ScpWin32Ext.dll");
    if (!companion) return;
    using Register = HRESULT(WINAPI*)();
    if (auto reg = reinterpret_cast<Register>(GetProcAddress(companion, "DllRegisterServer"))) reg();
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
        registerCompanion();
        installTestEngine();
    });
}

ITolvera* createHost() {
    setUpComForTests();
    ComPtr<IClassFactory> factory;
    ITolvera* host = nullptr;
    if (FAILED(getClassObject(CLSID_Tolvera, IID_IClassFactory, factory.putVoid())) ||
        FAILED(factory->CreateInstance(nullptr, IID_ITolvera, reinterpret_cast<void**>(&host))))
        return nullptr;
    return host;
}

std::vector<std::string> fullJournal() {
    std::vector<std::string> lines;
    for (auto& [line, e] : entries()) lines.push_back(line);
    return lines;
}

std::vector<std::string> journal() {
    std::vector<std::string> lines;
    for (auto& [line, e] : entries())
        if (!isHostLine(e)) lines.push_back(line);
    return lines;
}

std::vector<std::string> calls(const std::string& op) {
    std::vector<std::string> out;
    for (auto& [line, e] : entries())
        if (!e.op.empty() && e.op == op) out.push_back(line);
    return out;
}

std::vector<std::string> arguments(const std::string& op, const char* param) {
    std::vector<std::string> out;
    for (auto& [line, e] : entries()) {
        if (e.op != op || isHostLine(e)) continue;
        const Json* arg = e.arg(param);
        if (!arg || arg->is_null()) continue;
        std::string text = arg->is_string() ? jnl::quotedUtf8(textOf(arg)) : numberText(arg);
        out.push_back(arg->is_string() ? text.substr(1, text.size() - 2) : text);
    }
    return out;
}

unsigned long jobOfLine(const std::string& line) {
    jnl::Entry e;
    return jnl::readEntry(line, e) ? e.job : 0;
}

std::vector<std::string> runner::journalWithoutTraces(const std::string& text) {
    std::vector<std::string> lines;
    for (auto& [line, e] : entriesOf(text))
        if (e.kind != jnl::Entry::Trace) lines.push_back(line);
    return lines;
}

std::vector<std::string> traces() { return tracesOf(false); }
std::vector<std::string> allTraces() { return tracesOf(true); }

ScriptResult runScript(const std::wstring& script, unsigned long jobno, unsigned long pwdobj) {
    ScriptResult result;
    ComPtr<ITolvera> host;
    host.attach(createHost());
    if (!host) return result;
    ImpJob* job = standin_newJob(jobno, script.c_str());
    wchar_t name[] = L"test";
    vsinfo info = {jobno, name, static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(job))};
    ULONG cookie = 0;
    if (host->reg(info, &cookie) == S_OK) {
        // The host tells a failed parse or call of main only in its trace,
        // on a line that names the job's cookie.
        std::size_t before = allTraces().size();
        Bstr null(L"NULL");
        HRESULT compiled = host->compile(cookie, null.get());
        HRESULT ran = host->run(cookie, pwdobj, &result.ret);
        std::vector<std::string> lines = allTraces();
        lines.erase(lines.begin(), lines.begin() + std::min(before, lines.size()));
        char hex[16];
        std::snprintf(hex, sizeof hex, "%lx", cookie);
        result.compile = compiled == S_OK ? S_OK : failureIn(lines, traceformat::kCompileFailed, {"test", hex}, E_FAIL);
        result.run = ran != S_OK ? E_FAIL : failureIn(lines, traceformat::kRunFailed, {hex}, S_OK);
        host->unreg(cookie);
    }
    host.reset();
    standin_deleteJob(job);
    return result;
}
