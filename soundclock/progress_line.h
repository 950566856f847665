// A progress line on standard error, at most once a second: rewritten in
// place on a terminal, a plain line each time otherwise (a log keeps them
// all).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

class ProgressLine {
public:
    explicit ProgressLine(bool enabled);
    // Whether a second has passed since the last line (and starts the next).
    bool Due();
    void Print(const std::string& text);
    // Before any other line on standard error.
    void Break();

private:
    bool enabled;
    bool terminal;
    bool pendingNewline = false;
    size_t printedLength = 0;
    std::chrono::steady_clock::time_point last;
};
