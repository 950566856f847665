#include "meter/recording_reader.h"

#include <algorithm>

namespace {

// Bytes asked of the source at a time.
constexpr size_t READ_CHUNK = 16384;

}  // namespace

// Makes at least `wanted` unused bytes available, if the input has them;
// returns how many are available.
size_t RecordingReader::Fill(size_t wanted)
{
    if (pendingStart > 0 && pendingStart >= pending.size() / 2) {
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pendingStart));
        pendingStart = 0;
    }
    while (!ended && pending.size() - pendingStart < wanted) {
        const size_t before = pending.size();
        pending.resize(before + READ_CHUNK);
        const size_t got = source->Read(pending.data() + before, READ_CHUNK);
        pending.resize(before + std::min(got, READ_CHUNK));
        if (got == 0)
            ended = true;
    }
    return pending.size() - pendingStart;
}

bool RecordingReader::OpenWav(ByteSource& input, int wantedChannel, std::string& problem)
{
    source = &input;
    size_t have = 0;
    for (;;) {
        const WavParse result = ParseWavHeader(pending.data(), pending.size(), info, problem);
        if (result == WavParse::Invalid)
            return false;
        if (result == WavParse::Complete)
            break;
        if (ended) {
            problem = pending.empty() ? "the input is empty"
                                      : "truncated WAV header: the input ends after " + std::to_string(pending.size()) +
                                            " bytes, before the samples";
            return false;
        }
        have = Fill(std::min(pending.size() + READ_CHUNK, WAV_HEADER_LIMIT + 8));
        (void)have;
    }
    pendingStart = info.dataOffset;
    dataLeft = info.dataBytes;
    channel = wantedChannel < 0 ? 0 : wantedChannel;
    if (channel >= info.channels) {
        problem = "the recording has " + std::to_string(info.channels) + " channel" + (info.channels == 1 ? "" : "s") +
                  ", there is no channel " + std::to_string(channel + 1);
        return false;
    }
    return true;
}

bool RecordingReader::OpenRaw(ByteSource& input, int32_t sampleRate, std::string& problem)
{
    source = &input;
    if (sampleRate < 1 || sampleRate > HIGHEST_SAMPLE_RATE) {
        problem = "raw samples need a sample rate from 1 to " + std::to_string(HIGHEST_SAMPLE_RATE) + " Hz (--rate R)";
        return false;
    }
    info = WavInfo{};
    info.sampleRate = sampleRate;
    info.channels = 1;
    info.bitsPerSample = 16;
    info.blockAlign = 2;
    channel = 0;
    return true;
}

size_t RecordingReader::ReadSamples(int16_t* out, size_t count)
{
    const size_t frameBytes = info.blockAlign;
    size_t frames = count;
    if (info.dataSizeKnown)
        frames = static_cast<size_t>(std::min<uint64_t>(frames, dataLeft / frameBytes));
    if (frames == 0)
        return 0;
    const size_t available = Fill(frames * frameBytes);
    frames = std::min(frames, available / frameBytes);
    const unsigned char* bytes = pending.data() + pendingStart;
    for (size_t i = 0; i < frames; ++i) {
        const unsigned char* sample = bytes + i * frameBytes + 2 * static_cast<size_t>(channel);
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(sample[0] | (sample[1] << 8)));
    }
    pendingStart += frames * frameBytes;
    if (info.dataSizeKnown) {
        dataLeft -= frames * frameBytes;
        if (frames == 0 && ended)
            missingBytes = dataLeft;
    }
    return frames;
}
