// What the child process that runs the jobs tells its runner, as it happens:
// one JSON object a line on an inherited pipe, each line written whole the
// moment it is known, so that everything the child did before it died has
// reached the runner.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "session.h"

// The child's end.
class StreamOut {
public:
    explicit StreamOut(HANDLE pipe) : pipe_(pipe) {}
    StreamOut(const StreamOut&) = delete;
    StreamOut& operator=(const StreamOut&) = delete;

    void line(const Seen& seen);
    // `slotEnd`: when a scheduled run's next one is due, negative for none.
    void began(const Doing& doing, double at, double slotEnd = -1);
    // The child could not start its session; `text` says why.
    void fatal(const std::string& text);
    // Every job has ended and the host is released.
    void done();
    // From a crash: takes no lock and allocates nothing.
    static void crash(HANDLE pipe, DWORD code, const Doing& doing);

private:
    void send(const std::string& text);

    HANDLE pipe_;
    std::mutex lock_;
};

// The runner's end: one message read back.
struct Message {
    enum Kind { Unknown, Line, Began, Crash, Fatal, Done };
    Kind kind = Unknown;
    Seen seen;                   // Line: all of it; the others: at and doing
    double slotEnd = -1;         // Began of a scheduled run
    DWORD code = 0;              // Crash: the exception
    std::string text;            // Fatal
};

// False for a line that is no message.
bool readMessage(const std::string& text, Message& message);
