#include "soundclock/progress_line.h"

#include "soundclock/console.h"

#include <cstdio>

ProgressLine::ProgressLine(bool enabled)
    : enabled(enabled), terminal(IsTerminal(stderr)), last(std::chrono::steady_clock::now())
{
}

bool ProgressLine::Due()
{
    if (!enabled)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::seconds(1))
        return false;
    last = now;
    return true;
}

void ProgressLine::Print(const std::string& text)
{
    if (!enabled)
        return;
    if (terminal) {
        // Spaces over the rest of a longer line before (no escape
        // sequences: not every Windows console knows them).
        const size_t pad = printedLength > text.size() ? printedLength - text.size() : 0;
        std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
        printedLength = text.size();
    } else
        std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    pendingNewline = terminal;
}

void ProgressLine::Break()
{
    if (pendingNewline)
        std::fputc('\n', stderr);
    pendingNewline = false;
    printedLength = 0;
}
