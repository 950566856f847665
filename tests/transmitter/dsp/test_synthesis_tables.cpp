// InitSynthesis: pi, defaults, the Barker table and the polyphase filter.
#include "transmitter/dsp/stream.h"
#include "transmitter/dsp/synthesis.h"

#include <gtest/gtest.h>

namespace {

TEST(InitSynthesis, AppliesDefaultsOnlyToZeroSettings)
{
    const struct { int32_t rate; double carrier; int32_t wantRate; double wantCarrier; } cases[] = {
        {0, 0, 8000, 1500.0},
        {9600, 0, 9600, 1500.0},
        {0, 1800, 8000, 1800.0},
        {11025, -700.5, 11025, -700.5},
    };
    for (const auto& c : cases) {
        const Synthesis s = InitialisedSynthesis(c.rate, c.carrier);
        EXPECT_EQ(s.sampleRate, c.wantRate) << c.rate << "/" << c.carrier;
        EXPECT_EQ(s.carrierFrequency, c.wantCarrier) << c.rate << "/" << c.carrier;
    }
}

TEST(InitSynthesis, PiAndTableShapes)
{
    const Synthesis s = InitialisedSynthesis(0, 0);
    EXPECT_EQ(s.pi, 0x1.921fb54442d18p+1);  // the double nearest to pi
    EXPECT_EQ(s.barkerLength, 13);
    EXPECT_EQ(s.filterLength, 44);
    const std::vector<double> chips = {1, 1, 1, 1, 1, -1, -1, 1, 1, -1, 1, -1, 1, 0};
    EXPECT_EQ(s.barkerTable, chips);
    ASSERT_EQ(s.polyphaseTable.size(), 45u);
    EXPECT_EQ(s.polyphaseTable[44], 0.0);
    EXPECT_TRUE(s.delayLine.empty());  // allocated by the first FillSymbolSamples
}

TEST(InitSynthesis, PolyphaseCheckValues)
{
    const struct { int n; double value; } cases[] = {
        {0, -0.00631857121283},   {1, -0.00682542762955},  {3, -0.0000935794222825},
        {4, 0.0044058318851875},  {20, 0.2587798545355},   {21, 0.2587798545355},
        {22, 0.20099122954555},   {23, 0.109223927862575}, {40, -0.00682542762955},
        {43, 0.00509513992123},
    };
    const Synthesis s = InitialisedSynthesis(0, 0);
    for (const auto& c : cases)
        EXPECT_NEAR(s.polyphaseTable[c.n], c.value, 5e-15) << "n = " << c.n;
    // Divisor 4 also where fewer taps are in range: entry 2 is (b1 + b2) / 4.
    EXPECT_NEAR(s.polyphaseTable[2], (-0.00037431768913 - 0.0210997775123) / 4, 1e-17);
}

TEST(InitSynthesis, PerPhaseSumsGiveTheDcGainOfEachOutputSample)
{
    const double expected[SAMPLES_PER_SYMBOL] = {0.241764302851, 0.241764302851, 0.241857882273,
                                                 0.247132826651};
    const Synthesis s = InitialisedSynthesis(0, 0);
    for (int p = 0; p < SAMPLES_PER_SYMBOL; ++p) {
        double sum = 0;
        for (int k = 0; k < 11; ++k)
            sum += s.polyphaseTable[p + 4 * k];
        EXPECT_NEAR(sum, expected[p], 1e-12) << "phase " << p;
    }
}

TEST(InitSynthesis, RepeatedCallKeepsRunningState)
{
    Synthesis s = InitialisedSynthesis(0, 0);
    unsigned char out[8];
    for (int i = 0; i < 5; ++i)
        s.NextSymbolSamples(out);
    const double phase = s.carrierPhase;
    const auto line = s.delayLine;
    s.InitSynthesis();
    EXPECT_EQ(s.carrierPhase, phase);
    EXPECT_EQ(s.framePosition, 5);
    ASSERT_EQ(s.delayLine.size(), line.size());
    for (size_t i = 0; i < line.size(); ++i)
        EXPECT_EQ(s.delayLine[i].re, line[i].re);
}

}  // namespace
