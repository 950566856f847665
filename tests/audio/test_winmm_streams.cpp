// The winmm streams' data path: what is written is played exactly, in
// order, across buffer boundaries; what is recorded is read exactly and
// measures as it should; xruns are reported where they happened.
#include "tests/audio/winmm_fixture.h"

#include "meter/clock_estimator.h"
#include "tests/meter/stretched_signal.h"
#include "transmitter/dsp/stream.h"

#include <cstring>
#include <functional>

namespace {

std::vector<int16_t> PlayedSamples(const ScriptedWaveOut& device)
{
    std::vector<int16_t> samples(device.played.size() / 2);
    std::memcpy(samples.data(), device.played.data(), samples.size() * 2);
    return samples;
}

// The frames of the clock points rise, each a buffer end, and stop at `last`.
void ExpectClockPointsUpTo(AudioStream& stream, uint64_t last, const std::string& name)
{
    const std::vector<AudioClockPoint> points = stream.TakeClockPoints();
    ASSERT_FALSE(points.empty()) << name;
    for (size_t i = 1; i < points.size(); ++i) {
        EXPECT_GT(points[i].frames, points[i - 1].frames) << name;
        EXPECT_GE(points[i].systemSeconds, points[i - 1].systemSeconds) << name;
    }
    EXPECT_EQ(points.back().frames, last) << name;
}

struct PlaybackCase {
    const char* name;
    int rate;
    double carrier;
    size_t writeChunk;   // samples per Write
    size_t playPerFull;  // buffers the device plays whenever the ring is full
};

const PlaybackCase PLAYBACK_CASES[] = {
    {"8000 Hz, writes of a buffer", 8000, 1500, 1024, 2},
    {"8000 Hz, odd writes", 8000, 1500, 1000, 1},
    {"8000 Hz, one sample a write", 8000, 1234.5, 1, 3},
    {"11025 Hz, writes longer than the ring", 11025, 1800, 20000, 7},
    {"48000 Hz", 48000, 9000, 4097, 4},
};

TEST_F(WinmmTest, PlaybackPlaysTheSignalExactlyAndInOrder)
{
    for (const PlaybackCase& c : PLAYBACK_CASES) {
        waveOut = ScriptedWaveOut{};
        auto system = System();
        auto stream = OpenOrFail(*system, AudioDirection::Playback, c.rate);
        ASSERT_NE(stream, nullptr) << c.name;
        // What `soundclock signal` writes: the synthesis's stream.
        const std::vector<int16_t> signal = SynthesizeStream(c.rate, c.carrier, 3 * c.rate / 4);
        for (size_t at = 0; at < signal.size();) {
            const size_t count = std::min(c.writeChunk, signal.size() - at);
            const size_t queued = WriteNow(*stream, signal.data() + at, count);
            at += queued;
            if (queued < count)
                waveOut.PlayBuffers(c.playPerFull);
        }
        EXPECT_EQ(Playback(*stream).Drain(0), AudioResult::Timeout) << c.name;
        waveOut.PlayBuffers(RING_BUFFERS);
        EXPECT_EQ(Playback(*stream).Drain(0), AudioResult::Ok) << c.name;
        EXPECT_EQ(PlayedSamples(waveOut), signal) << c.name;
        EXPECT_TRUE(stream->TakeXruns().empty()) << c.name;
        ExpectClockPointsUpTo(*stream, signal.size(), c.name);
        EXPECT_EQ(waveOut.openedFormat.nSamplesPerSec, static_cast<DWORD>(c.rate)) << c.name;
        stream->Stop();
        EXPECT_FALSE(waveOut.IsOpen()) << c.name;
        EXPECT_EQ(waveOut.ruleViolations, 0) << c.name;
        EXPECT_EQ(waveOut.closesWithPreparedHeaders, 0) << c.name;
    }
}

struct CaptureCase {
    const char* name;
    int rate;
    double carrier;
    double ppm;
    size_t readChunk;
    size_t recordPerRead;  // buffers the device fills before each look
};

const CaptureCase CAPTURE_CASES[] = {
    {"8000 Hz, +1000 ppm, reads of a buffer", 8000, 1500, 1000, 1024, 1},
    {"8000 Hz, -500 ppm, odd reads, two buffers at a time", 8000, 1500, -500, 333, 2},
    {"48000 Hz, +2 ppm", 48000, 9000, 2, 5000, 3},
};

TEST_F(WinmmTest, CapturedBuffersReachTheMeterWholeAndInOrder)
{
    for (const CaptureCase& c : CAPTURE_CASES) {
        waveIn = ScriptedWaveIn{};
        RecordingRecipe recipe;
        recipe.rate = c.rate;
        recipe.carrier = c.carrier;
        recipe.ppm = c.ppm;
        recipe.seconds = 20;
        waveIn.source = MakeRecording(recipe);
        auto system = System();
        auto stream = OpenOrFail(*system, AudioDirection::Capture, c.rate);
        ASSERT_NE(stream, nullptr) << c.name;

        ClockEstimator meter({c.rate, c.rate, c.carrier});
        std::vector<int16_t> read;
        while (read.size() < waveIn.source.size()) {
            ASSERT_EQ(waveIn.RecordBuffers(c.recordPerRead), c.recordPerRead) << c.name;
            const std::vector<int16_t> piece = ReadAvailable(*stream, c.readChunk);
            meter.Push(piece.data(), piece.size());
            read.insert(read.end(), piece.begin(), piece.end());
        }
        meter.Finish();
        read.resize(waveIn.source.size());
        EXPECT_EQ(read, waveIn.source) << c.name;
        const ClockEstimate estimate = meter.Estimate();
        ASSERT_TRUE(estimate.valid) << c.name;
        EXPECT_NEAR(estimate.ppm, c.ppm, 0.01) << c.name;
        EXPECT_TRUE(stream->TakeXruns().empty()) << c.name;
        ExpectClockPointsUpTo(*stream, waveIn.sourcePosition, c.name);
        stream->Stop();
        EXPECT_FALSE(waveIn.IsOpen()) << c.name;
        EXPECT_EQ(waveIn.ruleViolations, 0) << c.name;
        EXPECT_EQ(waveIn.closesWithPreparedHeaders, 0) << c.name;
    }
}

// Each case runs a stream at 8000 Hz (1024-sample buffers) to where an xrun
// may happen; the xruns it must report, by frame.
struct XrunCase {
    const char* name;
    AudioDirection direction;
    std::function<void(WinmmTest&, AudioStream&)> run;
    std::vector<uint64_t> xrunFrames;
};

const std::vector<int16_t> SECOND_OF_SAMPLES(8000, 100);

const XrunCase XRUN_CASES[] = {
    {"capture: the whole ring recorded before a read", AudioDirection::Capture,
     [](WinmmTest& t, AudioStream& s) {
         t.waveIn.RecordBuffers(3);
         WinmmTest::ReadAvailable(s, 4096);
         t.waveIn.RecordBuffers(RING_BUFFERS);
         WinmmTest::ReadAvailable(s, 4096);
         t.waveIn.RecordBuffers(2);
         WinmmTest::ReadAvailable(s, 4096);
     },
     {11 * 1024}},
    {"capture: all but one buffer recorded before a read", AudioDirection::Capture,
     [](WinmmTest& t, AudioStream& s) {
         t.waveIn.RecordBuffers(RING_BUFFERS - 1);
         WinmmTest::ReadAvailable(s, 4096);
     },
     {}},
    {"playback: the three written buffers played out, then more written", AudioDirection::Playback,
     [](WinmmTest& t, AudioStream& s) {
         WinmmTest::WriteNow(s, SECOND_OF_SAMPLES.data(), 3 * 1024 + 10);
         t.waveOut.PlayBuffers(3);
         WinmmTest::WriteNow(s, SECOND_OF_SAMPLES.data(), 5000);
         t.waveOut.PlayBuffers(2);
         WinmmTest::WriteNow(s, SECOND_OF_SAMPLES.data(), 100);
     },
     {3 * 1024}},
    {"playback: played out after the drain", AudioDirection::Playback,
     [](WinmmTest& t, AudioStream& s) {
         WinmmTest::WriteNow(s, SECOND_OF_SAMPLES.data(), 3000);
         WinmmTest::Playback(s).Drain(0);
         t.waveOut.PlayBuffers(RING_BUFFERS);
         WinmmTest::Playback(s).Drain(0);
     },
     {}},
    {"playback: stopped with buffers queued", AudioDirection::Playback,
     [](WinmmTest&, AudioStream& s) {
         WinmmTest::WriteNow(s, SECOND_OF_SAMPLES.data(), 4096);
         s.Stop();
     },
     {}},
};

TEST_F(WinmmTest, XrunsAreReportedAtTheirStreamPosition)
{
    for (const XrunCase& c : XRUN_CASES) {
        waveIn = ScriptedWaveIn{};
        waveOut = ScriptedWaveOut{};
        auto system = System();
        auto stream = OpenOrFail(*system, c.direction, 8000);
        ASSERT_NE(stream, nullptr) << c.name;
        c.run(*this, *stream);
        std::vector<uint64_t> frames;
        for (const AudioXrun& xrun : stream->TakeXruns()) {
            frames.push_back(xrun.frame);
            EXPECT_DOUBLE_EQ(xrun.seconds, xrun.frame / 8000.0) << c.name;
        }
        EXPECT_EQ(frames, c.xrunFrames) << c.name;
        // The clock points after an xrun start a new segment.
        for (const AudioClockPoint& point : stream->TakeClockPoints())
            EXPECT_EQ(point.segment, point.frames > (frames.empty() ? UINT64_MAX : frames[0]) ? 1u : 0u)
                << c.name << " at " << point.frames;
    }
}

}  // namespace
