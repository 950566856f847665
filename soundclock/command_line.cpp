// The command line, taken apart with CLI11: the commands
// (command_options.h) with their options and help, parsed and run. A
// mistake is one line, "soundclock: ...", and where help is, with exit
// status 2; the synopsis is for --help.
#include "soundclock/commands.h"
#include "soundclock/command_options.h"
#include "soundclock/usage.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#ifndef SOUNDCLOCK_VERSION
#define SOUNDCLOCK_VERSION "unknown"
#endif

namespace {

// A usage error of one command: what is wrong, and where help is.
int UsageFailure(const std::string& message, const std::string& command)
{
    std::fprintf(stderr, "soundclock: %s\n%s\n", message.c_str(), HelpHint(command).c_str());
    return EXIT_UNUSABLE;
}

// Each command's help starts with its lines of the synopsis (usage.txt).
class Formatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        const std::string lines = CommandUsage(app->get_name());
        return lines.empty() ? CLI::Formatter::make_usage(app, name) : lines;
    }
};

// What CLI11 left over: an unknown option or a surplus argument.
void RefuseExtras(const CLI::App& command)
{
    const std::vector<std::string> extras = command.remaining();
    if (extras.empty())
        return;
    const std::string& first = extras.front();
    if (first.size() > 1 && first[0] == '-')
        throw UsageError{command.get_name() + ": unknown option " + first};
    throw UsageError{command.get_name() + ": unexpected argument " + first};
}

// CLI11's own words for what it refuses itself, in soundclock's.
std::string Rephrased(const CLI::ParseError& error)
{
    const std::string what = error.what();
    std::smatch match;
    static const std::regex missingValue("^(-[^ :]+): [0-9]+ required .* missing$");
    if (std::regex_match(what, match, missingValue))
        return match[1].str() + " needs a value";
    static const std::regex needsValue("^(-[^ ]+) requires .*$");
    if (std::regex_match(what, match, needsValue))
        return match[1].str() + " needs a value";
    return what;
}

bool AsksForHelp(int argc, char** argv)
{
    return argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
           std::strcmp(argv[1], "help") == 0;
}

}  // namespace

int RunCommandLine(int argc, char** argv)
{
    if (AsksForHelp(argc, argv)) {
        if (argc >= 3 && std::strcmp(argv[1], "help") == 0) {
            // `soundclock help COMMAND` is `soundclock COMMAND --help`.
            char helpFlag[] = "--help";
            char* again[] = {argv[0], argv[2], helpFlag};
            return RunCommandLine(3, again);
        }
        std::fputs(UsageText().c_str(), argc < 2 ? stderr : stdout);
        return argc < 2 ? EXIT_UNUSABLE : EXIT_WITHIN;
    }

    CLI::App app{"soundclock: sound cards' sampling clocks, against each other and against a reference", "soundclock"};
    app.formatter(std::make_shared<Formatter>());
    app.set_version_flag("--version", std::string("soundclock ") + SOUNDCLOCK_VERSION);
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.footer(ExitStatusText());

    const std::vector<Command>& commands = Commands();
    std::vector<Parsed> parsed(commands.size());
    std::vector<CLI::App*> apps;
    for (size_t i = 0; i < commands.size(); ++i) {
        CLI::App* command = app.add_subcommand(commands[i].name, commands[i].summary);
        command->allow_extras();
        commands[i].add(*command, parsed[i]);
        apps.push_back(command);
    }

    std::string commandName;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        for (const CLI::App* command : apps)
            if (command->parsed())
                commandName = command->get_name();
        return UsageFailure(Rephrased(e), commandName);
    }

    try {
        for (size_t i = 0; i < commands.size(); ++i)
            if (apps[i]->parsed()) {
                commandName = commands[i].name;
                RefuseExtras(*apps[i]);
                return commands[i].run(parsed[i]);
            }
        const std::vector<std::string> extras = app.remaining();
        throw UsageError{extras.empty() ? std::string("no command") : "unknown command " + extras.front()};
    } catch (const UsageError& error) {
        return UsageFailure(error.message, commandName);
    }
}
