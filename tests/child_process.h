// ztolvera-run as a child process of a test, started the way script authors
// and `make run` start it, with its output and journal read back from files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace runner {

// The folder of the running test executable, where ztolvera-run.exe and the
// examples are built.
inline std::wstring binFolder() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

inline bool startsWith(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }
inline bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The text's lines, without their line ends.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// A scratch folder of this test process for scripts and journals.
inline std::wstring scratch() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"ztolvera-runner-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

inline std::string readFile(const std::wstring& path) {
    std::string bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return bytes;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) bytes.append(buf, got);
    CloseHandle(h);
    return bytes;
}

// Writes `bytes` to a file of that name in the scratch folder; its path.
inline std::wstring writeFile(const std::wstring& name, const std::string& bytes) {
    std::wstring path = scratch() + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return path;
}

// The lines of a journal's text other than trace lines, each without its
// seq, read through the journal's reader (script_fixture.cpp).
std::vector<std::string> journalWithoutTraces(const std::string& text);

struct Outcome {
    DWORD status = 0xFFFFFFFF;
    std::string out, err;
    std::string server;                 // the summaries' first line, the DLL the jobs ran on, taken out of `out`
    std::vector<std::string> journal;   // host lines and core calls, without seq
};

// Runs ztolvera-run (the built one, or `exe`) with `args` and a journal
// file (unless `journal` is false: --test takes none), standard output and
// error captured in files.
inline Outcome runRunner(const std::wstring& args, std::wstring exe = {}, bool journal = true) {
    std::wstring outPath = scratch() + L"stdout.txt", errPath = scratch() + L"stderr.txt";
    std::wstring journalPath = scratch() + L"journal.jsonl";
    DeleteFileW(journalPath.c_str());
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    if (exe.empty()) exe = binFolder() + L"ztolvera-run.exe";
    std::wstring command = L"\"" + exe + L"\" " + (journal ? L"--journal \"" + journalPath + L"\" " : L"") + args;
    PROCESS_INFORMATION pi = {};
    Outcome o;
    if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
        GetExitCodeProcess(pi.hProcess, &o.status);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    o.out = readFile(outPath);
    o.err = readFile(errPath);
    std::size_t at = o.out.rfind("zTolvera ", 0) == 0 ? 0 : o.out.find("\nzTolvera ");
    if (at != std::string::npos) {
        if (at) ++at;
        std::size_t end = o.out.find('\n', at);
        o.server = o.out.substr(at, end - at);
        o.out.erase(at, end == std::string::npos ? end : end - at + 1);
    }
    o.journal = journalWithoutTraces(readFile(journalPath));
    return o;
}

}  // namespace runner
