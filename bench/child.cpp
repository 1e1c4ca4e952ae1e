#include "child.h"

ChildProcess::ChildProcess(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    Handle childIn, childOut, childErr;
    if (!CreatePipe(childIn.put(), toChild_.put(), &inherit, 0) ||
        !CreatePipe(fromChild_.put(), childOut.put(), &inherit, 0) ||
        !DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(), childErr.put(),
                         0, TRUE, DUPLICATE_SAME_ACCESS)) {
        ok_ = false;
        return;
    }
    SetHandleInformation(toChild_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild_.get(), HANDLE_FLAG_INHERIT, 0);

    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" " + arguments;
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = childIn.get();
    start.hStdOutput = childOut.get();
    start.hStdError = childErr.get();
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &info)) {
        ok_ = false;
        return;
    }
    *process_.put() = info.hProcess;
    CloseHandle(info.hThread);
}

ChildProcess::~ChildProcess() {
    toChild_.reset();
    if (process_.get()) WaitForSingleObject(process_.get(), INFINITE);
}

bool ChildProcess::send(const std::string& line) {
    std::string text = line + "\n";
    DWORD written = 0;
    ok_ = ok_ && WriteFile(toChild_.get(), text.data(), DWORD(text.size()), &written, nullptr) &&
          written == text.size();
    return ok_;
}

bool ChildProcess::receive(std::string& line) {
    line.clear();
    char c;
    DWORD read = 0;
    while (ok_ && ReadFile(fromChild_.get(), &c, 1, &read, nullptr) && read == 1) {
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
    ok_ = false;
    return false;
}
