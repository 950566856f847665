#include "soundclock/recording_input.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

namespace {

template <typename Sample>
void ReadPieces(RecordingReader& reader, uint64_t limit, const std::function<void(const Sample*, size_t)>& push)
{
    constexpr size_t PIECE = 8192;
    std::vector<Sample> samples(PIECE);
    for (uint64_t read = 0; read < limit;) {
        const size_t got = reader.ReadSamples(samples.data(), static_cast<size_t>(std::min<uint64_t>(PIECE, limit - read)));
        if (got == 0)
            break;
        push(samples.data(), got);
        read += got;
    }
}

}  // namespace

void RecordingInput::ReadInto(uint64_t limit, const std::function<void(const int16_t*, size_t)>& push)
{
    ReadPieces(reader, limit, push);
}

void RecordingInput::ReadInto(uint64_t limit, const std::function<void(const float*, size_t)>& push)
{
    ReadPieces(reader, limit, push);
}

std::string RecordingInput::ReadProblem() const
{
    return Failed() ? "reading " + name + " failed" : "";
}

std::string RecordingInput::ShortNote() const
{
    if (reader.MissingBytes() == 0)
        return "";
    return "the recording ends " + std::to_string(reader.MissingBytes()) +
           " bytes before the end its data chunk declares; measured what is there";
}

uint64_t SampleLimit(double seconds, int rate)
{
    return seconds > 0 ? static_cast<uint64_t>(std::llround(seconds * rate)) : UINT64_MAX;
}
