// The tone meter's parts: the transform, the window, the block
// demodulator and the search; and the test signal's own truth.
#include "common/signal_facts.h"
#include "meter/reference/blackman_harris.h"
#include "meter/reference/radix2_fft.h"
#include "meter/reference/phasor.h"
#include "meter/reference/tone_demodulator.h"
#include "meter/reference/tone_onset.h"
#include "meter/reference/tone_search.h"
#include "tests/reference/tone_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>

namespace {

std::vector<std::complex<double>> DirectTransform(const std::vector<std::complex<double>>& x)
{
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k)
        for (size_t t = 0; t < n; ++t)
            out[k] += x[t] * UnitPhasor(-static_cast<long double>(k * t % n) / static_cast<long double>(n));
    return out;
}

TEST(ToneParts, TransformsAgreeWithTheDirectSum)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> value(-1, 1);
    for (size_t n : {1u, 2u, 8u, 64u, 256u}) {
        std::vector<std::complex<double>> x(n);
        std::vector<double> real(n);
        for (size_t t = 0; t < n; ++t) {
            real[t] = value(random);
            x[t] = {value(random), value(random)};
        }
        const std::vector<std::complex<double>> expected = DirectTransform(x);
        std::vector<std::complex<double>> got = x;
        const Radix2Fft fft(n);
        fft.Forward(got.data());
        for (size_t k = 0; k < n; ++k)
            EXPECT_LT(std::abs(got[k] - expected[k]), 1e-12 * static_cast<double>(n)) << n << " bin " << k;
        fft.Inverse(got.data());
        for (size_t t = 0; t < n; ++t)
            EXPECT_LT(std::abs(got[t] - x[t]), 1e-14 * static_cast<double>(n)) << n << " back at " << t;
        if (n < 2)
            continue;
        const std::vector<std::complex<double>> realExpected =
            DirectTransform(std::vector<std::complex<double>>(real.begin(), real.end()));
        std::vector<std::complex<double>> bins;
        RealFft(n).Forward(real, bins);
        ASSERT_EQ(bins.size(), n / 2 + 1);
        for (size_t k = 0; k <= n / 2; ++k)
            EXPECT_LT(std::abs(bins[k] - realExpected[k]), 1e-12 * static_cast<double>(n)) << n << " real bin " << k;
    }
}

// A block's phase is the program's own arctangent: the C library's, in
// turns, within the library's own rounding, on every octant and the axes.
TEST(ToneParts, TurnsOfAPhasorAgreeWithTheLibrary)
{
    const double twoPi = 2 * static_cast<double>(PI);
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> value(-1, 1);
    for (int i = 0; i < 100000; ++i) {
        const double re = value(random), im = value(random);
        double expected = std::atan2(im, re) / twoPi;
        if (expected >= 0.5)
            expected -= 1;
        EXPECT_NEAR(TurnsOf(re, im), expected, 1.2e-16) << re << ", " << im;  // two units in the last place
    }
    EXPECT_EQ(TurnsOf(0, 0), 0);
    EXPECT_EQ(TurnsOf(2, 0), 0);
    EXPECT_EQ(TurnsOf(0, 3), 0.25);
    EXPECT_EQ(TurnsOf(-1, 0), -0.5);
    EXPECT_EQ(TurnsOf(0, -1), -0.25);
    EXPECT_NEAR(TurnsOf(1, 1), 0.125, 1e-17);
    EXPECT_NEAR(TurnsOf(-1, -1), -0.375, 1e-17);
    EXPECT_NEAR(TurnsOf(1e-300, 1), 0.25, 1e-17);
}

// Copies a quarter of its length apart sum to a constant: blocks that
// overlap so weight every sample alike, which is what lets a line through
// their phases reach the bound. The correlation factor follows from it.
TEST(ToneParts, TheWindowsQuarterCopiesSumFlat)
{
    const size_t length = 2000, hop = length / 4;
    const std::vector<double> w = BlackmanHarris(length);
    for (size_t n = 0; n < hop; ++n) {
        const double sum = w[n] + w[n + hop] + w[n + 2 * hop] + w[n + 3 * hop];
        EXPECT_NEAR(sum, 4 * 0.35875, 1e-12);
    }
    for (size_t n = 1; n < length; ++n)
        EXPECT_EQ(w[n], w[length - n]);
    const ToneDemodulator demodulator(0.1, static_cast<int>(hop), 0);
    // (sum w)^2 / (hop sum w^2), for a flat sum: 4 a0^2 / (a0^2 + (a1^2 + a2^2 + a3^2) / 2).
    EXPECT_NEAR(demodulator.CorrelationFactor(), 1.99574, 1e-4);
}

// A clean tone: each block's phase is the tone's at the block's centre,
// whatever the tone's offset from the oscillator, and the blocks are the
// same whatever the buffers the samples come in.
TEST(ToneParts, BlocksGiveTheTonesPhaseAtTheirCentre)
{
    constexpr int RATE = 8000;
    const int hop = ToneHop(RATE);
    const double hz = 1000.3;  // 0.3 of a block's bin off the oscillator's 1000.0
    const double phase0 = 0.123;
    std::vector<float> x(RATE * 3);
    for (size_t n = 0; n < x.size(); ++n)
        x[n] = static_cast<float>(0.5 * std::cos(2 * static_cast<double>(PI) * (hz * static_cast<double>(n) / RATE + phase0)));
    auto run = [&](size_t buffer) {
        ToneDemodulator demodulator(1000.0 / RATE, hop, 0);
        std::vector<ToneBlock> blocks;
        for (size_t i = 0; i < x.size(); i += buffer)
            demodulator.Push(x.data() + i, std::min(buffer, x.size() - i), blocks);
        return blocks;
    };
    const std::vector<ToneBlock> blocks = run(x.size());
    ASSERT_EQ(blocks.size(), (x.size() - 4 * hop) / hop + 1);
    for (const ToneBlock& b : blocks) {
        EXPECT_EQ(b.centre, static_cast<double>(b.index * hop + 2 * hop));
        const double truth = hz * b.centre / RATE + phase0;
        double off = b.phaseCycles - (truth - std::floor(truth));
        off -= std::floor(off + 0.5);
        EXPECT_LT(std::fabs(off), 1e-6) << "block " << b.index;
        EXPECT_NEAR(b.amplitude, 0.5, 0.5 * 0.05);  // less the window's scalloping at 0.3 bin
    }
    for (size_t buffer : {1u, 7u, 333u, 2000u}) {
        const std::vector<ToneBlock> again = run(buffer);
        ASSERT_EQ(again.size(), blocks.size());
        for (size_t i = 0; i < blocks.size(); ++i)
            EXPECT_EQ(again[i].phaseCycles, blocks[i].phaseCycles) << "buffers of " << buffer;
    }
}

// A reported discontinuity marks exactly the blocks that hold samples
// from both sides of it.
TEST(ToneParts, ADiscontinuityMarksTheBlocksAcrossIt)
{
    const int hop = 100;
    ToneDemodulator demodulator(0.1, hop, 0);
    std::vector<float> x(20 * hop, 0.25f);
    std::vector<ToneBlock> blocks;
    const size_t at = 10 * hop + 5;
    demodulator.Push(x.data(), at, blocks);
    demodulator.MarkDiscontinuity();
    demodulator.Push(x.data() + at, x.size() - at, blocks);
    for (const ToneBlock& b : blocks) {
        const int64_t start = b.index * hop;
        EXPECT_EQ(b.straddlesGap, start < static_cast<int64_t>(at) && static_cast<int64_t>(at) < start + 4 * hop)
            << "block " << b.index;
    }
}

// The search finds a tone's frequency to a small part of a block's bin,
// and says what a block will see of it against the noise.
TEST(ToneParts, TheSearchMeasuresTheLine)
{
    ToneSignalSettings s;
    s.clock.nominalRate = 8000;
    s.clock.ppm = 250;
    s.toneHz = 1234.5;
    s.levelDbfs = -12;
    s.snrDb = 0;  // a block of 0.25 s holds 27 dB more: 10 log10 of (sum w)^2 / (2 sum w^2)
    s.hum.levelDbfs = -30;
    const ToneSearch search(8000, 1234.5);
    const std::vector<float> x = ToneSamples(s, 1.1);
    const ToneSearchResult result = search.Search(x.data(), x.size());
    ASSERT_TRUE(result.found) << result.problem;
    EXPECT_NEAR(result.tone.hz, 1234.5 / (1 + 250e-6), 0.02);
    EXPECT_NEAR(result.tone.levelDbfs, -12, 0.2);
    EXPECT_NEAR(result.tone.blockSnrDb, 27.0, 1.0);
    EXPECT_GT(result.tone.purity, 0.95);
    EXPECT_NEAR(result.strongest.hz, 1234.5 / (1 + 250e-6), 0.02);
}

// Where the tone begins in the searched samples: at the first sample when
// it was there from the start, else at the first
// block wholly after its onset, over silence or over noise; the level is
// the tone's own.
TEST(ToneParts, TheOnsetIsTheFirstBlockWhollyInTheTone)
{
    constexpr int RATE = 8000;
    constexpr size_t SAMPLES = 16384;  // a search's at this rate
    const int hop = ToneHop(RATE);
    struct Case {
        const char* name;
        double onsetSeconds;  // of the tone, from the first sample
        double snrDb;
    };
    const Case cases[] = {
        {"from the start", 0, 30},
        {"after 0.3 s of silence", 0.3, std::numeric_limits<double>::infinity()},
        {"after 1.4 s of noise", 1.4, 20},
        {"in the last block", 1.8, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToneSignalSettings s;
        s.clock.nominalRate = RATE;
        s.levelDbfs = -6;
        s.snrDb = c.snrDb;
        s.toneFromSeconds = c.onsetSeconds;
        const std::vector<float> x = ToneSamples(s, static_cast<double>(SAMPLES) / RATE);
        const ToneOnset onset = FindToneOnset(x.data(), x.size(), 1000.0 / RATE, hop);
        EXPECT_EQ(onset.firstSample % static_cast<size_t>(hop), 0u);
        EXPECT_NEAR(onset.level, 0.5, 0.05);
        const double toneFrom = c.onsetSeconds * RATE;
        if (toneFrom == 0) {
            EXPECT_EQ(onset.firstSample, 0u);
            continue;
        }
        EXPECT_GE(static_cast<double>(onset.firstSample), toneFrom);
        // The first block at a quarter of the tone's level holds it over
        // its last half or so: two hops more.
        EXPECT_LT(static_cast<double>(onset.firstSample), toneFrom + 2 * hop);
    }
}

// The test signal's truth: its phase keeps every digit after hours, its
// noise has the power asked for, and a slip delivers what a stream that
// lost or repeated samples would.
TEST(ToneSignal, KeepsItsTruth)
{
    // A quarter of the rate repeats every 4 samples, ten hours on too
    // (a phase in doubles would be off by a millionth there).
    ToneSignalSettings s;
    s.clock.nominalRate = 192000;
    s.clock.startSeconds = 0.1;
    s.toneHz = 48000;
    s.levelDbfs = 0;
    ToneSignal tone(s);
    const int64_t later = 10LL * 3600 * 192000;
    for (int64_t k = 0; k < 4; ++k)
        EXPECT_NEAR(tone.Sample(later + k), tone.Sample(k), 2e-7) << k;

    ToneSignalSettings n;
    n.levelDbfs = -20;
    n.snrDb = 10;
    n.toneLeftOut = true;
    double squares = 0;
    const std::vector<float> noise = ToneSamples(n, 100);
    for (float v : noise)
        squares += static_cast<double>(v) * v;
    const double expected = 0.1 * 0.1 / 2 / 10;
    EXPECT_NEAR(squares / static_cast<double>(noise.size()), expected, 0.01 * expected);

    ToneSignalSettings slipped;
    slipped.snrDb = 20;
    slipped.slips = {{100, 7, 0}, {200, 0, 30}};
    ToneSignal card(slipped), stream(slipped);
    const std::vector<float> delivered = stream.Next(300);
    for (int64_t i = 0; i < 300; ++i) {
        const int64_t cardSample = i < 100 ? i : i < 200 ? i + 7 : i + 7 - 30;
        EXPECT_EQ(delivered[static_cast<size_t>(i)], card.Sample(cardSample)) << i;
    }
}

}  // namespace
