#include "meter/recording_reader.h"

#include <algorithm>

namespace {

// Bytes asked of the source at a time.
constexpr size_t READ_CHUNK = 16384;
// At most this many bytes of frames are held for one read: a file of many
// wide channels gives fewer samples a call rather than a huge buffer.
constexpr size_t READ_BYTES_LIMIT = 1 << 20;

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
    info.encoding = SampleEncoding::S16;
    channel = 0;
    return true;
}

size_t RecordingReader::FramesReady(size_t count)
{
    const size_t frameBytes = info.blockAlign;
    size_t frames = std::min(count, std::max<size_t>(1, READ_BYTES_LIMIT / frameBytes));
    if (info.dataSizeKnown)
        frames = static_cast<size_t>(std::min<uint64_t>(frames, dataLeft / frameBytes));
    if (frames == 0)
        return 0;
    const size_t available = Fill(frames * frameBytes);
    frames = std::min(frames, available / frameBytes);
    if (frames == 0 && info.dataSizeKnown && ended)
        missingBytes = dataLeft;
    return frames;
}

void RecordingReader::Consume(size_t frames)
{
    pendingStart += frames * info.blockAlign;
    if (info.dataSizeKnown)
        dataLeft -= frames * info.blockAlign;
}

const unsigned char* RecordingReader::ChannelSample(size_t frame) const
{
    return pending.data() + pendingStart + frame * info.blockAlign + SampleBytes(info.encoding) * static_cast<size_t>(channel);
}

size_t RecordingReader::ReadSamples(int16_t* out, size_t count)
{
    const size_t frames = FramesReady(count);
    for (size_t i = 0; i < frames; ++i) {
        const unsigned char* sample = ChannelSample(i);
        out[i] = IsFloat(info.encoding) ? Int16FromFloat(DecodeFloat(info.encoding, sample))
                                        : Int16FromInt32(DecodeInt32(info.encoding, sample));
    }
    Consume(frames);
    return frames;
}

size_t RecordingReader::ReadSamples(float* out, size_t count)
{
    const size_t frames = FramesReady(count);
    for (size_t i = 0; i < frames; ++i)
        out[i] = DecodeFloat(info.encoding, ChannelSample(i));
    Consume(frames);
    return frames;
}
