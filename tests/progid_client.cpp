// A client of the installed server, as the agent is one: it knows only the
// ProgID "Dozurizar.Tolvera" and ITolvera, creates the host through COM,
// runs one job's script in it against the stand-in core and writes the
// core's journal (with a note for each host step) to the file named by its
// argument. Exit code 0 when every step succeeded, else the first failure.
//   progid_client.exe <journal file>
#include <windows.h>
#include <ole2.h>

#include <initguid.h>

#include <cstdio>
#include <string>

#include "owners.h"
#include "standin.h"
#include "ztolvera.h"

namespace {

constexpr unsigned long kJob = 7;
constexpr unsigned long kPwd = 7001;
constexpr wchar_t kScript[] =
    L"Sub main()\r\n"
    L"  CVEXT.MSActions 2, \"created by ProgID\", \"NULL\", \"job7\", \"NULL\"\r\n"
    L"End Sub\r\n";

class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment() { if (SUCCEEDED(hr_)) CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

// Notes a host step in the journal; a failing step is the exit code.
HRESULT note(const char* step, HRESULT hr, const char* extra = "") {
    char line[160];
    std::snprintf(line, sizeof line, "{\"client\":\"%s\",\"hr\":%ld%s}", step, static_cast<long>(hr), extra);
    standin_note(line);
    return hr;
}

HRESULT runJob(ImpJob* job) {
    ComApartment com;
    if (FAILED(com.result())) return note("CoInitializeEx", com.result());
    CLSID clsid;
    if (HRESULT hr = note("CLSIDFromProgID", CLSIDFromProgID(L"Dozurizar.Tolvera", &clsid)); FAILED(hr)) return hr;
    if (clsid != CLSID_Tolvera) return note("CLSIDFromProgID", E_UNEXPECTED);
    ComPtr<ITolvera> host;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITolvera, host.putVoid());
    if (note("CoCreateInstance", hr) != S_OK) return FAILED(hr) ? hr : E_UNEXPECTED;

    // ITolvera answers 0 for success and 1 for failure.
    wchar_t name[] = L"progid";
    vsinfo info = {kJob, name, static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(job))};
    unsigned long cookie = 0;
    if (note("reg", host->reg(info, &cookie)) != S_OK) return E_FAIL;
    Bstr text(kScript);
    HRESULT result = note("compile", host->compile(cookie, text.get()));
    VARIANT_BOOL ret = 0;
    if (result == S_OK) {
        hr = host->run(cookie, kPwd, &ret);
        note("run", hr, (",\"ret\":" + std::to_string(ret)).c_str());
        result = hr == S_OK && ret ? S_OK : E_FAIL;
    }
    if (note("unreg", host->unreg(cookie)) != S_OK && result == S_OK) result = E_FAIL;
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: progid_client.exe <journal file>\n");
        return 2;
    }
    standin_reset();
    ImpJob* job = standin_newJob(kJob, nullptr);
    HRESULT hr = runJob(job);
    standin_deleteJob(job);

    char* journal = standin_journal();
    FILE* out = _wfopen(argv[1], L"wb");
    if (out) {
        std::fputs(journal ? journal : "", out);
        std::fclose(out);
    }
    standin_free(journal);
    return out ? static_cast<int>(hr) : 3;
}
