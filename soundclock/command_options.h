// Each command's options: how they are added to the command line (CLI11)
// and taken into the command's options (options.h), the choices that do
// not go together refused in the command's words; and the table of the
// commands. command_line.cpp parses and runs them.
#pragma once

#include "soundclock/option_parsing.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <vector>

struct Command {
    const char* name;
    const char* summary;
    std::function<void(CLI::App&, Parsed&)> add;
    std::function<int(const Parsed&)> run;
};

const std::vector<Command>& Commands();
