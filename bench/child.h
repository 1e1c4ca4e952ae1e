// Another process of this program, started with arguments of its own, and a
// line-by-line conversation with it over its standard input and output.
// Figures that cannot share a process with the rest of the bench are taken
// in one: populations of registered jobs (population.h), and memory counted
// from a fresh process's start (what earlier figures freed would otherwise
// be reused).
#pragma once

#include <windows.h>

#include <string>

class Handle {
public:
    Handle() = default;
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    HANDLE* put() { reset(); return &h_; }
    void reset() {
        if (h_) CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_ = nullptr;
};

class ChildProcess {
public:
    // Starts this program with `arguments`; its standard error is ours.
    explicit ChildProcess(const std::wstring& arguments);
    // Closes the child's input, which tells it to end, and waits for it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False once the child could not be started or stopped answering.
    bool ok() const { return ok_; }
    bool send(const std::string& line);
    // The child's next line, without its line end.
    bool receive(std::string& line);

private:
    bool ok_ = true;
    Handle process_, toChild_, fromChild_;
};
