#include "soundclock/recording_input.h"

#include <cmath>

RecordingInput::~RecordingInput()
{
    if (file != nullptr && file != stdin)
        std::fclose(file);
}

bool RecordingInput::Open(const InputChoice& source, const std::string& command, std::string& problem)
{
    name = source.input == "-" ? "standard input" : source.input;
    channelGiven = source.channel >= 0;
    if (source.input == "-") {
        if (IsTerminal(stdin))
            throw UsageError{command + ": standard input is a terminal; give a FILE or pipe a recording in"};
        UseBinaryMode(stdin);
        file = stdin;
    } else {
        file = std::fopen(source.input.c_str(), "rb");
        if (file == nullptr) {
            problem = "cannot open " + source.input;
            return false;
        }
    }
    bytes = std::make_unique<FileSource>(file);
    const bool opened = source.raw ? reader.OpenRaw(*bytes, source.rawRate, problem) : reader.OpenWav(*bytes, source.channel, problem);
    if (!opened)
        problem = name + ": " + problem;
    return opened;
}

std::string RecordingInput::ChannelNote() const
{
    if (reader.Channels() <= 1)
        return "";
    return std::to_string(reader.Channels()) + " channels: measuring channel " + std::to_string(reader.Channel() + 1) +
           (channelGiven ? "" : " (--channel N for another)");
}

uint64_t SampleLimit(double seconds, int rate)
{
    return seconds > 0 ? static_cast<uint64_t>(std::llround(seconds * rate)) : UINT64_MAX;
}
