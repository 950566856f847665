#include "soundclock/usage.h"

#include "usage_text.h"

#include <sstream>
#include <vector>

namespace {

// The synopsis: the lines before the first empty one.
std::vector<std::string> SynopsisLines()
{
    std::vector<std::string> lines;
    std::istringstream text(USAGE_TEXT);
    std::string line;
    while (std::getline(text, line) && !line.empty())
        lines.push_back(line);
    return lines;
}

const std::string PROGRAM = "soundclock ";

}  // namespace

std::string UsageText()
{
    const std::string text = USAGE_TEXT;
    const std::vector<std::string> synopsis = SynopsisLines();
    std::string out;
    for (size_t i = 0; i < synopsis.size(); ++i)
        out += (i == 0 ? "usage: " : "       ") + synopsis[i] + "\n";
    size_t rest = 0;
    for (const std::string& line : synopsis)
        rest += line.size() + 1;
    return out + text.substr(rest);
}

std::string CommandUsage(const std::string& command)
{
    std::string out;
    bool inCommand = false;
    for (const std::string& line : SynopsisLines()) {
        if (line.compare(0, PROGRAM.size(), PROGRAM) == 0)
            inCommand = line.compare(PROGRAM.size(), command.size() + 1, command + " ") == 0 ||
                        line == PROGRAM + command;
        if (inCommand)
            out += (out.empty() ? "Usage: " : "       ") + line + "\n";
    }
    return out;
}

std::string ExitStatusText()
{
    const std::string text = USAGE_TEXT;
    const size_t start = text.find("Exit status:");
    const size_t end = text.find("\n\n", start);
    return start == std::string::npos ? "" : text.substr(start, end == std::string::npos ? end : end - start);
}

std::string HelpHint(const std::string& command)
{
    return command.empty() ? "see 'soundclock --help'" : "see 'soundclock " + command + " --help'";
}
