#include "meter/cli/arguments.h"

#include <cmath>
#include <cstdlib>

Arguments::Arguments(int argc, char** argv, int first)
{
    for (int i = first; i < argc; ++i)
        items.emplace_back(argv[i]);
}

std::string Arguments::Value(const std::string& name)
{
    if (Done())
        throw UsageError{name + " needs a value"};
    return Take();
}

double ParseNumber(const std::string& text, const std::string& what)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || *end != '\0' || !std::isfinite(value))
        throw UsageError{what + ": not a number: " + text};
    return value;
}

double Arguments::Number(const std::string& name)
{
    return ParseNumber(Value(name), name);
}

long Arguments::Integer(const std::string& name, long lowest, long highest)
{
    const double value = Number(name);
    if (value != std::floor(value) || value < lowest || value > highest)
        throw UsageError{name + ": a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest) + " is needed"};
    return static_cast<long>(value);
}
