// The winmm streams on devices that refuse mono or 16-bit samples: each
// opens in the first format the device takes (a capture 24-bit first, a
// playback 16-bit first; two channels where mono is refused), says which,
// and moves every sample of it exactly: a capture at its full width, a
// playback converted from the 16-bit signal.
#include "tests/audio/winmm_fixture.h"

#include "transmitter/dsp/stream.h"

#include <mmreg.h>

#include <cstring>

namespace {

struct FormatCase {
    const char* name;
    AudioDirection direction;
    WORD leastChannels;             // the device's
    std::vector<WORD> acceptedBits;  // the device's
    int channelsAsked;
    int channels;              // what the stream opens
    SampleEncoding encoding;   // what the stream opens
    WORD formatTag;
    const char* words;
};

const FormatCase FORMAT_CASES[] = {
    {"capture, any format", AudioDirection::Capture, 1, {16, 24, 32}, 1, 1, SampleEncoding::S24In3,
     WAVE_FORMAT_EXTENSIBLE, "1 channel, 24-bit"},
    {"capture, 16-bit only", AudioDirection::Capture, 1, {16}, 1, 1, SampleEncoding::S16, WAVE_FORMAT_PCM,
     "1 channel, 16-bit"},
    {"capture, stereo and 16-bit only", AudioDirection::Capture, 2, {16}, 1, 2, SampleEncoding::S16, WAVE_FORMAT_PCM,
     "2 channels, 16-bit"},
    // three wanted: the layout of four that holds them (audio_device.h: LayoutChannels)
    {"capture, channel 3 wanted", AudioDirection::Capture, 1, {16, 24}, 3, 4, SampleEncoding::S24In3,
     WAVE_FORMAT_EXTENSIBLE, "4 channels, 24-bit"},
    {"playback, any format", AudioDirection::Playback, 1, {16, 24, 32}, 1, 1, SampleEncoding::S16, WAVE_FORMAT_PCM,
     "1 channel, 16-bit"},
    {"playback, stereo only", AudioDirection::Playback, 2, {16, 24}, 1, 2, SampleEncoding::S16, WAVE_FORMAT_PCM,
     "2 channels, 16-bit"},
    {"playback, 24-bit only", AudioDirection::Playback, 1, {24}, 1, 1, SampleEncoding::S24In3, WAVE_FORMAT_EXTENSIBLE,
     "1 channel, 24-bit"},
};

// The frames a scripted wave-in records from `source` in the stream's
// format: the sample in each channel's top 16 bits, channel + 1 below them
// where the samples are wider (tests/platform/support/scripted_wave_in.h).
std::vector<int32_t> RecordedFrames(const std::vector<int16_t>& source, size_t frames, const AudioStream& stream)
{
    std::vector<int32_t> expected;
    for (size_t i = 0; i < frames; ++i)
        for (int channel = 0; channel < stream.Channels(); ++channel)
            expected.push_back(source[i] * 65536 +
                               (SampleBits(stream.DeviceEncoding()) > 16 ? (channel + 1) * 256 : 0));
    return expected;
}

// The played bytes as full-scale samples of the stream's layout.
std::vector<int32_t> PlayedFrames(const ScriptedWaveOut& device, const AudioStream& stream)
{
    const size_t bytes = SampleBytes(stream.DeviceEncoding());
    std::vector<int32_t> samples(device.played.size() / bytes);
    DecodeSamples(stream.DeviceEncoding(), device.played.data(), samples.size(), samples.data());
    return samples;
}

TEST_F(WinmmTest, StreamsOpenInAFormatTheDeviceTakesAndMoveItExactly)
{
    const std::vector<int16_t> signal = SynthesizeStream(8000, 1500, 2 * BUFFER_SAMPLES_AT_8000 / 4);  // two buffers
    for (const FormatCase& c : FORMAT_CASES) {
        waveIn = ScriptedWaveIn{};
        waveOut = ScriptedWaveOut{};
        waveIn.leastChannels = waveOut.leastChannels = c.leastChannels;
        waveIn.acceptedBits = waveOut.acceptedBits = c.acceptedBits;
        waveIn.source = signal;
        auto system = System();
        auto stream = OpenOrFail(*system, c.direction, 8000, "", c.channelsAsked);
        ASSERT_NE(stream, nullptr) << c.name;
        EXPECT_EQ(stream->Channels(), c.channels) << c.name;
        EXPECT_EQ(stream->DeviceEncoding(), c.encoding) << c.name;
        EXPECT_EQ(stream->FormatWords(), c.words) << c.name;
        const WAVEFORMATEX& opened = c.direction == AudioDirection::Capture ? waveIn.openedFormat : waveOut.openedFormat;
        EXPECT_EQ(opened.wFormatTag, c.formatTag) << c.name;
        EXPECT_EQ(opened.nChannels, c.channels) << c.name;
        EXPECT_EQ(opened.nBlockAlign, c.channels * SampleBytes(c.encoding)) << c.name;

        std::vector<int32_t> moved, expected;
        if (c.direction == AudioDirection::Capture) {
            waveIn.RecordBuffers(2);
            moved = ReadFrames(*stream, 333);
            expected = RecordedFrames(signal, 2 * BUFFER_SAMPLES_AT_8000, *stream);
        } else {
            std::vector<int16_t> frames(signal.size() * static_cast<size_t>(stream->Channels()));
            SpreadMono(signal.data(), signal.size(), stream->Channels(), ALL_CHANNELS, frames.data());
            EXPECT_EQ(WriteNow(*stream, frames.data(), signal.size()), signal.size()) << c.name;
            Playback(*stream).Drain(0);
            waveOut.PlayBuffers(RING_BUFFERS);
            EXPECT_EQ(Playback(*stream).Drain(0), AudioResult::Ok) << c.name;
            moved = PlayedFrames(waveOut, *stream);
            for (int16_t sample : frames)
                expected.push_back(sample * 65536);
        }
        EXPECT_EQ(moved, expected) << c.name;
        stream->Stop();
        EXPECT_EQ(waveIn.ruleViolations + waveOut.ruleViolations, 0) << c.name;
        EXPECT_EQ(waveIn.closesWithPreparedHeaders + waveOut.closesWithPreparedHeaders, 0) << c.name;
    }
}

TEST_F(WinmmTest, ADeviceThatRefusesEveryFormatSaysWhichWereTried)
{
    waveIn.acceptedBits = {8};
    std::string error;
    EXPECT_EQ(System()->OpenCapture("", 8000, 1, error), nullptr);
    EXPECT_NE(error.find("cannot open capture device 0 (\"Scripted Microphone\") at 8000 Hz in any format tried "
                         "(24-bit mono, 16-bit mono, 24-bit stereo, 16-bit stereo): " +
                         ScriptedWaveIn::ErrorText(WAVERR_BADFORMAT) + " (waveInOpen"),
              std::string::npos)
        << error;
    EXPECT_FALSE(waveIn.IsOpen());
}

}  // namespace
