// The runner's own output. Summaries and the calls log go to one stream
// (standard output, or standard error while the journal has standard
// output); messages go to standard error; while jobs run, one status line
// on standard error is rewritten in place when standard error is a console
// (under Wine too, when the runner is started from a terminal). One lock
// keeps every line whole and every line in the order it was written.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class Console {
public:
    explicit Console(bool summariesToStandardError);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    bool terminal() const { return terminal_; }

    void summary(const std::string& text);
    void message(const std::string& text);
    // Draws the status line in place on a console; elsewhere writes it as a
    // plain line.
    void status(const std::string& text);
    void clearStatus();

private:
    void write(std::FILE* to, const std::string& text);
    void hide();
    void show();

    std::mutex lock_;
    std::FILE* summaries_;
    bool terminal_ = false;
    std::string status_;         // drawn on a console, empty when none
};
