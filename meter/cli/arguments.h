// Taking the command line apart: options with values, numbers checked.
#pragma once

#include <string>
#include <vector>

// Bad usage: the message goes to standard error with exit status 2.
struct UsageError {
    std::string message;
};

class Arguments {
public:
    Arguments(int argc, char** argv, int first);

    bool Done() const { return next >= items.size(); }
    const std::string& Peek() const { return items[next]; }
    std::string Take() { return items[next++]; }
    // The value after option `name` (which was just taken).
    std::string Value(const std::string& name);
    double Number(const std::string& name);
    long Integer(const std::string& name, long lowest, long highest);

private:
    std::vector<std::string> items;
    size_t next = 0;
};

double ParseNumber(const std::string& text, const std::string& what);
