// FillSymbolSamples: filter, carrier, scaling and the frame as heard.
#include "transmitter/dsp/stream.h"
#include "transmitter/dsp/synthesis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr int kSamplesPerFrame = FRAME_LENGTH * SAMPLES_PER_SYMBOL;

std::vector<int16_t> Fill(Synthesis& s, ComplexValue symbol)
{
    unsigned char out[8];
    s.FillSymbolSamples(out, symbol);
    std::vector<int16_t> samples;
    for (int i = 0; i < 4; ++i)
        samples.push_back(DecodeSample(out + 2 * i));
    return samples;
}

// Samples of call `call` (counted from 1) within a stream from program start.
std::vector<int16_t> CallSamples(const std::vector<int16_t>& stream, int call)
{
    const auto first = stream.begin() + (call - 1) * SAMPLES_PER_SYMBOL;
    return {first, first + SAMPLES_PER_SYMBOL};
}

bool AllZero(const std::vector<int16_t>& samples)
{
    return std::all_of(samples.begin(), samples.end(), [](int16_t v) { return v == 0; });
}

TEST(FillSymbolSamples, FirstCallWritesZerosWhateverTheSymbol)
{
    for (ComplexValue symbol : {ComplexValue{1, 0}, ComplexValue{-1, 0}, ComplexValue{0.7, -0.7},
                                ComplexValue{3, 5}}) {
        Synthesis s = InitialisedSynthesis(0, 0);
        EXPECT_EQ(Fill(s, symbol), std::vector<int16_t>(4, 0)) << symbol.re << "," << symbol.im;
        ASSERT_EQ(s.delayLine.size(), 12u);
        EXPECT_EQ(s.delayLine[11].re, symbol.re);
        EXPECT_EQ(s.delayLine[11].im, symbol.im);
    }
}

TEST(FillSymbolSamples, ConstantRunSettlesToThePerPhaseSums)
{
    const double settled[SAMPLES_PER_SYMBOL] = {0.241764302851, 0.241764302851, 0.241857882273,
                                                0.247132826651};
    for (double level : {1.0, -1.0}) {
        Synthesis s = InitialisedSynthesis(0, 0);
        for (int call = 0; call < 12; ++call)
            Fill(s, {level, 0});
        for (int i = 0; i < SAMPLES_PER_SYMBOL; ++i) {
            EXPECT_NEAR(s.FilterOutput(i).re, level * settled[i], 1e-12) << "sample " << i;
            EXPECT_EQ(s.FilterOutput(i).im, 0.0);
        }
    }
}

TEST(FillSymbolSamples, QuadratureSymbolsRideOnTheSine)
{
    // A symbol of +j equals a real symbol of 1 with the carrier turned by
    // a quarter cycle: Re{j e^(jx)} = -sin x = cos(x + pi/2).
    Synthesis imaginary = InitialisedSynthesis(8000, 2000);  // 4 samples per cycle
    Synthesis real = InitialisedSynthesis(8000, 2000);
    real.carrierPhase = real.pi / 2;
    std::vector<int16_t> fromImaginary, fromReal;
    for (int call = 0; call < 30; ++call) {
        for (int16_t v : Fill(imaginary, {0, 1}))
            fromImaginary.push_back(v);
        for (int16_t v : Fill(real, {1, 0}))
            fromReal.push_back(v);
    }
    for (size_t n = 0; n < fromReal.size(); ++n)
        EXPECT_LE(std::abs(fromImaginary[n] - fromReal[n]), 1) << "sample " << n;
    EXPECT_GT(*std::max_element(fromReal.begin(), fromReal.end()), 3000);
}

TEST(Frame, FromProgramStartTheBurstOccupiesSamples4To91)
{
    const auto stream = SynthesizeStream(8000, 1500, FRAME_LENGTH);
    EXPECT_TRUE(AllZero(CallSamples(stream, 1)));
    for (int call = 2; call <= 23; ++call)
        EXPECT_FALSE(AllZero(CallSamples(stream, call))) << "call " << call;
    EXPECT_TRUE(AllZero({stream.begin() + 92, stream.end()}));
}

TEST(Frame, CompleteFramesAreIdenticalWithTheBurstInSamples4To95)
{
    constexpr int kFrames = 64;
    const auto stream = SynthesizeStream(8000, 1500, FRAME_LENGTH * (kFrames + 1));
    // Frame f (from 1) starts with the call that gets position 0, call 256 f.
    auto frameStart = [&](int f) { return stream.begin() + (FRAME_LENGTH * f - 1) * SAMPLES_PER_SYMBOL; };
    const std::vector<int16_t> first(frameStart(1), frameStart(1) + kSamplesPerFrame);

    EXPECT_TRUE(AllZero({first.begin(), first.begin() + 4}));  // chip 0 waits in entry 11
    for (int position = 1; position <= 23; ++position)
        EXPECT_FALSE(AllZero({first.begin() + 4 * position, first.begin() + 4 * position + 4}))
            << "position " << position;
    // Positions 24..255 are silent: with position 0, 932 zero samples.
    const std::vector<int16_t> silence(first.begin() + 96, first.end());
    EXPECT_EQ(silence.size() + 4, 932u);
    EXPECT_TRUE(AllZero(silence));

    int largest = 0;
    for (int16_t v : first)
        largest = std::max(largest, std::abs(static_cast<int>(v)));
    EXPECT_NEAR(largest, 6195, 2);

    for (int f = 2; f < kFrames; ++f)
        EXPECT_TRUE(std::equal(first.begin(), first.end(), frameStart(f))) << "frame " << f;
}

TEST(Carrier, RepeatsEvery16SamplesAt8000And1500)
{
    Synthesis s = InitialisedSynthesis(8000, 1500);
    std::vector<int16_t> samples;
    std::vector<double> phaseAtCall;
    for (int call = 0; call < 400; ++call) {
        phaseAtCall.push_back(s.carrierPhase);
        for (int16_t v : Fill(s, {1, 0}))
            samples.push_back(v);
    }
    // Settled after 12 calls: from then on the output has period 16.
    for (size_t n = 48; n + 16 < samples.size(); ++n)
        ASSERT_EQ(samples[n], samples[n + 16]) << "sample " << n;
    // Four calls (16 samples) bring the phase back to where it was (or to
    // a hair below 2 pi, the same point of the circle).
    for (size_t c = 0; c + 4 < phaseAtCall.size(); ++c) {
        const double apart = std::fabs(phaseAtCall[c + 4] - phaseAtCall[c]);
        ASSERT_LT(std::min(apart, 2 * s.pi - apart), 1e-12) << "call " << c;
    }
    EXPECT_NEAR(phaseAtCall[1], 3 * s.pi / 2, 1e-15);  // four steps of 3 pi / 8
}

TEST(Continuation, AStopAndRestartContinuesTheStream)
{
    // Nothing resets at Turn Off / Turn On: the stream resumes where it
    // stopped, unlike a freshly started transmitter.
    const auto unbroken = SynthesizeStream(8000, 1500, 700);
    Synthesis s = InitialisedSynthesis(8000, 1500);
    std::vector<int16_t> resumed;
    AppendStream(s, 263, resumed);  // stopped mid-burst of the second frame
    AppendStream(s, 437, resumed);
    EXPECT_EQ(resumed, unbroken);

    const auto fresh = SynthesizeStream(8000, 1500, 437);
    EXPECT_FALSE(std::equal(fresh.begin(), fresh.end(), unbroken.begin() + 263 * 4));
}

TEST(CarrierPhase, StaysInRangeForCarriersOutsideZeroToSampleRate)
{
    const struct { int32_t rate; double carrier; double alias; } cases[] = {
        {8000, -1500, 1500},        // runs backwards: same cosine
        {8000, 9500, 1500},         // one sample rate above
        {8000, 16000 + 1500, 1500}, // several above
        {9600, -9600 * 3 - 1800, 1800},
        {8000, -0.001, 0.001},
    };
    for (const auto& c : cases) {
        Synthesis s = InitialisedSynthesis(c.rate, c.carrier);
        Synthesis alias = InitialisedSynthesis(c.rate, c.alias);
        unsigned char out[8], aliasOut[8];
        for (int call = 0; call < 3000; ++call) {
            s.NextSymbolSamples(out);
            alias.NextSymbolSamples(aliasOut);
            ASSERT_GE(s.carrierPhase, 0.0) << c.carrier << " call " << call;
            ASSERT_LT(s.carrierPhase, 2 * s.pi) << c.carrier << " call " << call;
            for (int i = 0; i < 4; ++i) {
                ASSERT_LE(std::abs(DecodeSample(out + 2 * i) - DecodeSample(aliasOut + 2 * i)), 1) << c.carrier << " call " << call;
            }
        }
    }
}

TEST(CarrierPhase, InRangeCarriersFollowTheSingleSubtractionExactly)
{
    const struct { int32_t rate; double carrier; } cases[] = {
        {8000, 1500}, {9600, 1800}, {8000, 0.001}, {8000, 4000},
        {8000, 7999.999}, {8000, 8000}, {44100, 1234.5678}, {9600, 9600},
    };
    for (const auto& c : cases) {
        Synthesis s = InitialisedSynthesis(c.rate, c.carrier);
        const long double twoPi = static_cast<long double>(s.pi) * 2;
        double phase = 0;
        unsigned char out[8];
        for (int call = 0; call < 2000; ++call) {
            s.NextSymbolSamples(out);
            for (int i = 0; i < 4; ++i) {
                phase = static_cast<double>(phase + static_cast<long double>(s.pi) * 2 * c.carrier / c.rate);
                if (!(twoPi > phase))
                    phase = static_cast<double>(phase - twoPi);
            }
            ASSERT_EQ(s.carrierPhase, phase) << c.rate << "/" << c.carrier << " call " << call;
        }
    }
}

TEST(CarrierPhase, HugeOrNonFiniteCarriersKeepAPhaseInRange)
{
    // An infinite or NaN step would make the phase NaN for good: it restarts
    // at 0 instead. A huge finite carrier is reduced like any other.
    const double carriers[] = {std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 1e308, -1e300};
    for (double carrier : carriers) {
        Synthesis s = InitialisedSynthesis(8000, carrier);
        unsigned char out[8];
        for (int call = 0; call < 300; ++call) {
            s.NextSymbolSamples(out);
            ASSERT_GE(s.carrierPhase, 0.0) << carrier;
            ASSERT_LT(s.carrierPhase, 2 * s.pi) << carrier;
            if (!std::isfinite(carrier)) {
                ASSERT_EQ(s.carrierPhase, 0.0);
            }
        }
    }
}

}  // namespace
