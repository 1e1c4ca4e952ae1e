#include "machine.h"

#include <windows.h>

#include "fakemachine/fakes.h"
#include "session.h"
#include "standin.h"
#include "tolvera.h"

namespace {

const wchar_t kFakes[] = L"ztolvera-fakes.dll";

void where(unsigned long* job, unsigned* run, void*) {
    const Doing& doing = Session::doing();
    *job = doing.job;
    *run = doing.step == Step::Run ? doing.run : 0;
}

// The stand-in core stamps the line with its seq and hands it to the
// listener, which gives it the thread's job, step and run like a core call.
// Out of memory the line is lost: an exception thrown here would unwind into
// the fakes' frames, which another module's catch never sees (each module
// has its own runtime), and end the process.
void journal(const char* json, void*) {
    try {
        standin_note(json);
    } catch (...) {
    }
}

}  // namespace

bool fakeMachine(const std::string& machineJson, std::string& error) {
    // Loaded once for the life of the process: its objects live as long as the scripts' variables.
    std::wstring path = runnerFolder() + kFakes;
    HMODULE fakes = LoadLibraryW(path.c_str());
    if (!fakes) {
        error = "cannot load ztolvera-fakes.dll beside the runner: error " + std::to_string(GetLastError());
        return false;
    }
    auto activate = reinterpret_cast<decltype(&fakes_activate)>(GetProcAddress(fakes, "fakes_activate"));
    if (!activate) {
        error = "ztolvera-fakes.dll has no fakes_activate";
        return false;
    }
    static const fakes_host host = {where, journal, nullptr};
    char why[512] = "";
    if (activate(machineJson.c_str(), &host, why, sizeof why)) return true;
    error = why[0] ? why : "the fake machine could not be set up";
    return false;
}
