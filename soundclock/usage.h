// soundclock's usage text, written once (usage.txt, made into usage_text.h
// at build time): the synopsis `soundclock --help` prints, each command's
// own lines of it for `soundclock COMMAND --help`, and the one line a
// usage error ends with.
#pragma once

#include <string>

// "usage: soundclock signal ...\n       soundclock ...\n\n" and the rest.
std::string UsageText();
// The synopsis lines of `command` ("measure"), as `COMMAND --help` heads
// its help with them.
std::string CommandUsage(const std::string& command);
// The paragraph on the exit status, for the end of every help.
std::string ExitStatusText();
// Where help is, after a usage error: "see 'soundclock measure --help'".
std::string HelpHint(const std::string& command);
