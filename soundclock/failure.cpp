#include "soundclock/failure.h"
#include "soundclock/commands.h"
#include "soundclock/json_writer.h"

#include <cstdio>

int Fail(const ResultOptions& options, const std::string& message)
{
    std::fprintf(stderr, "soundclock: %s\n", message.c_str());
    if (options.json)
        std::printf("%s\n", JsonObject().String("error", message).Text().c_str());
    std::fflush(stdout);
    return EXIT_UNUSABLE;
}
