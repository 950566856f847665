// Round trips: the transmitter's own stream, through a channel with a known
// clock offset, into the correlator; and digests of the results that the
// native and the Windows builds must both reproduce.
#include "tests/receiver/dsp/receiver_test_support.h"
#include "receiver/dsp/oscillator.h"
#include "transmitter/dsp/stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The channel of a receiver whose clock differs from the transmitter's:
// output n is the input read at position n * stride (windowed-sinc
// interpolation, 32 taps), rounded back to 16 bits. A stride of
// 1024 / (1024 + d) stretches each 1024-sample frame to 1024 + d samples.
std::vector<int16_t> ReadAtStride(const std::vector<int16_t>& input, double stride, size_t count)
{
    const int halfWidth = 16;
    const double pi = 3.14159265358979323846;
    std::vector<int16_t> output(count);
    for (size_t n = 0; n < count; ++n) {
        const double position = static_cast<double>(n) * stride;
        const long centre = static_cast<long>(std::floor(position));
        double sum = 0;
        for (long k = centre - halfWidth + 1; k <= centre + halfWidth; ++k) {
            if (k < 0 || k >= static_cast<long>(input.size()))
                continue;
            const double t = position - static_cast<double>(k);
            const double sinc = t == 0 ? 1 : std::sin(pi * t) / (pi * t);
            const double window = 0.5 + 0.5 * std::cos(pi * t / halfWidth);
            sum += input[k] * sinc * window;
        }
        output[n] = static_cast<int16_t>(std::lround(sum));
    }
    return output;
}

int32_t LagOfText(const std::string& text)
{
    return std::atoi(text.c_str() + std::strlen("Correlation peak at "));
}

std::vector<int32_t> PeakLags(const RecordingReadout& readout)
{
    std::vector<int32_t> lags;
    for (const auto& text : readout.peakTexts)
        lags.push_back(LagOfText(text));
    return lags;
}

// Peak lags of consecutive blocks, followed across the wrap from 511 to 0.
std::vector<double> UnwrappedLags(const std::vector<int32_t>& lags)
{
    std::vector<double> out;
    double offset = 0;
    for (size_t b = 0; b < lags.size(); ++b) {
        if (b > 0) {
            const int32_t step = lags[b] - lags[b - 1];
            if (step > LAG_COUNT / 2)
                offset -= LAG_COUNT;
            if (step < -LAG_COUNT / 2)
                offset += LAG_COUNT;
        }
        out.push_back(lags[b] + offset);
    }
    return out;
}

// The frame period in the captured stream is 1024 + d samples for trackbar
// position p when d / 1024 is the correction that position stands for.
double ExtraSamplesPerFrame(unsigned position)
{
    return BLOCK_LENGTH * (1000.0 - position) / 500000.0;
}

}  // namespace

TEST(TransmitterStream, PeaksAtOneLagWellAboveTheRest)
{
    const struct {
        int32_t sampleRate;
        float carrierFrequency;
    } settings[] = {{8000, 1500}, {9600, 1500}};
    for (const auto& s : settings) {
        auto receiver = std::make_unique<ReceiverUnderTest>(s.sampleRate, s.carrierFrequency);
        receiver->Capture(TransmitterStream(20, s.sampleRate, s.carrierFrequency));
        const std::vector<int32_t> lags = PeakLags(receiver->readout);
        ASSERT_GE(lags.size(), 19u);
        for (size_t b = 2; b < lags.size(); ++b)
            EXPECT_EQ(lags[b], lags[2]) << s.sampleRate << " block " << b + 1;

        // The last block's curve: the peak against the strongest lag more
        // than two chips (four lags) away from it.
        const Correlator& c = receiver->correlator;
        const float peak = c.CorrelationPower(c.peakIndex, c.decimatedWindow);
        float rest = 0;
        for (int i = 0; i < LAG_COUNT; ++i)
            if (std::abs(i - c.peakIndex) > 4)
                rest = std::max(rest, c.CorrelationPower(i, c.decimatedWindow));
        const double marginDb = 10 * std::log10(peak / rest);
        EXPECT_GT(marginDb, 15.0) << s.sampleRate;
        std::printf("[ margin   ] %d/%g: peak at lag %d, magnitude %.5f, %.1f dB above the rest\n",
                    s.sampleRate, s.carrierFrequency, c.peakIndex, std::sqrt(peak), marginDb);
    }
}

TEST(TransmitterStream, ClockMismatchMovesThePeakUntilTheTrackbarMatchesIt)
{
    const size_t blocks = 54;
    const std::vector<int16_t> stream = TransmitterStream(blocks + 2, 8000, 1500);
    const unsigned positions[] = {0, 2000, 500};
    for (const unsigned position : positions) {
        const double d = ExtraSamplesPerFrame(position);
        const std::vector<int16_t> captured =
            ReadAtStride(stream, BLOCK_LENGTH / (BLOCK_LENGTH + d), blocks * BLOCK_LENGTH);

        // Trackbar at the centre: the peak drifts by d / 2 lags per block.
        auto drifting = std::make_unique<ReceiverUnderTest>();
        drifting->Capture(captured);
        const std::vector<double> drift = UnwrappedLags(PeakLags(drifting->readout));
        const size_t first = 3, last = drift.size() - 1;
        const double perBlock = (drift[last] - drift[first]) / static_cast<double>(last - first);
        EXPECT_NEAR(perBlock, d / 2, 0.05) << position;

        // Trackbar at the matching position: the trace stands still.
        auto matched = std::make_unique<ReceiverUnderTest>();
        matched->correlator.SetClockPosition(static_cast<uint16_t>(position));
        matched->Capture(captured);
        const std::vector<double> still = UnwrappedLags(PeakLags(matched->readout));
        ASSERT_GE(still.size(), first + 50);
        const auto range = std::minmax_element(still.begin() + first, still.end());
        EXPECT_LE(*range.second - *range.first, 1.0) << position;
        std::printf("[ drift    ] position %u: %+.4f lags/block at the centre (d/2 = %+.4f), "
                    "spread %.0f lags over %zu blocks when matched\n",
                    position, perBlock, d / 2, *range.second - *range.first, still.size() - first);
    }
}

namespace {

// FNV-1a over the bytes of what the receiver computes.
struct Digest {
    uint64_t value = 1469598103934665603ULL;
    void Add(const void* data, size_t size)
    {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i)
            value = (value ^ bytes[i]) * 1099511628211ULL;
    }
};

// Folds in each block's peak text and curve points as the block ends.
struct DigestingReadout : ReadoutSink {
    const CorrelationDisplay* display = nullptr;
    Digest digest;
    void SetPeakText(const char* text) override
    {
        digest.Add(text, std::strlen(text));
        for (const CurvePoint& p : display->curvePoints.points) {
            digest.Add(&p.x, sizeof p.x);
            digest.Add(&p.y, sizeof p.y);
        }
    }
    void SetClockText(const char* text) override { digest.Add(text, std::strlen(text)); }
};

uint64_t DigestOfRun(int32_t sampleRate, float carrierFrequency, const std::vector<int16_t>& captured,
                     unsigned position)
{
    auto receiver = std::make_unique<ReceiverUnderTest>(sampleRate, carrierFrequency);
    DigestingReadout readout;
    readout.display = &receiver->correlator.display;
    receiver->correlator.ConnectReadouts(&readout);
    receiver->correlator.SetClockPosition(static_cast<uint16_t>(position));
    receiver->Capture(captured);
    const auto& picture = receiver->waterfall.pixels;
    readout.digest.Add(picture.data(), picture.size() * sizeof picture[0]);
    const auto& window = receiver->correlator.decimatedWindow;
    readout.digest.Add(window.data(), window.size() * sizeof window[0]);
    return readout.digest.value;
}

}  // namespace

// The constants were obtained from the native build and confirmed under
// Wine with the 64-bit Windows build: both must give these bits.
TEST(CrossBuildIdentity, DigestsOfFixedRuns)
{
    const std::vector<int16_t> defaults = TransmitterStream(60, 8000, 1500);
    EXPECT_EQ(DigestOfRun(8000, 1500, defaults, 900), 0xcaabf9fe6164da83ULL);

    // A carrier whose phase wraps at no block boundary, mixed with a
    // negative frequency (the oscillator's full wrap), and a correction that
    // steps back.
    const std::vector<int16_t> odd = TransmitterStream(30, 9600, 1733.3);
    EXPECT_EQ(DigestOfRun(9600, -1733.3f, odd, 1700), 0xd2577a8ae2d7559cULL);
}

// The oscillator's cosine and sine themselves, on a sample of the float
// phases in [0, 2*pi): the C libraries' cosl/sinl give different bits here
// natively and under Wine; these must not.
TEST(CrossBuildIdentity, DigestOfOscillatorCosSin)
{
    Digest digest;
    for (int k = 0; k < 200000; ++k) {
        const float phase = StoreFloat(k * 6.283185307179586L / 200000);
        const SineCosine cs = ExtendedSineCosine(phase);
        digest.Add(&cs.cosine, 10);  // the 80 bits of the x87 format
        digest.Add(&cs.sine, 10);
    }
    EXPECT_EQ(digest.value, 0xa9a7f2a104cccff9ULL);
}
