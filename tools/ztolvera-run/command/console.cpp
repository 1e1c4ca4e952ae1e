#include "console.h"

#include <windows.h>

Console::Console(bool summariesToStandardError) : summaries_(summariesToStandardError ? stderr : stdout) {
    DWORD mode = 0;
    terminal_ = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    // The runner writes UTF-8; a console shows it as such only when told.
    if (terminal_) SetConsoleOutputCP(CP_UTF8);
}

void Console::write(std::FILE* to, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
}

// A status line is as wide as the text on it; wiping it takes as many blanks.
void Console::hide() {
    if (status_.empty()) return;
    write(stderr, "\r" + std::string(status_.size(), ' ') + "\r");
}

void Console::show() {
    if (!status_.empty()) write(stderr, status_);
}

void Console::summary(const std::string& text) {
    std::lock_guard<std::mutex> g(lock_);
    hide();
    write(summaries_, text);
    show();
}

void Console::message(const std::string& text) {
    std::lock_guard<std::mutex> g(lock_);
    hide();
    write(stderr, text);
    show();
}

void Console::status(const std::string& text) {
    std::lock_guard<std::mutex> g(lock_);
    if (!terminal_) {
        write(stderr, text + "\n");
        return;
    }
    // Longer than a line it would wrap, and \r could not take it back.
    std::string line = text.size() > 79 ? text.substr(0, 79) : text;
    if (line == status_) return;
    hide();
    status_ = line;
    show();
}

void Console::clearStatus() {
    std::lock_guard<std::mutex> g(lock_);
    hide();
    status_.clear();
}
