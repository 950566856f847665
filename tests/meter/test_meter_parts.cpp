// The meter's smaller parts: the burst it looks for and the line it fits.
#include "meter/burst_reference.h"
#include "meter/carrier_range.h"
#include "meter/clock_estimator.h"
#include "meter/line_fit.h"
#include "tests/meter/stretched_signal.h"
#include "transmitter/dsp/stream.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The reference is the transmitter's own burst: the stream's samples of a
// complete frame are its envelope on the carrier, to the 16-bit rounding.
TEST(MeterParts, BurstIsTheTransmittersOwn)
{
    for (const auto& setting : {std::pair<int32_t, double>{8000, 1500}, {8000, 1800}}) {
        const BurstReference reference = MakeBurstReference(setting.first, setting.second);
        EXPECT_EQ(reference.offsetInFrame, 4);
        EXPECT_EQ(reference.envelope.size(), 92u);
        const auto stream = SynthesizeStream(setting.first, setting.second, 3 * FRAME_LENGTH);
        // The second frame starts at sample 1020 (its position-0 call).
        const size_t start = 1020 + static_cast<size_t>(reference.offsetInFrame);
        for (size_t n = 0; n < reference.envelope.size(); ++n) {
            const double phase = 2 * 3.14159265358979323846 * setting.second / setting.first * static_cast<double>(start + n);
            EXPECT_NEAR(stream[start + n], 16000 * reference.envelope[n] * std::cos(phase), 0.51) << n;
        }
        EXPECT_EQ(stream[start - 1], 0);
        EXPECT_EQ(stream[start + reference.envelope.size()], 0);
    }
}

TEST(MeterParts, LineThroughSegmentsSharesTheSlope)
{
    // y = 3 + 0.25 x, then the same slope from another intercept; with noise
    // of a known deviation the slope's uncertainty comes out near its theory.
    NormalSource noise(3);
    SegmentedLineFit fit;
    const double sigma = 0.1;
    for (int x = 0; x < 400; ++x) {
        if (x == 200)
            fit.StartSegment();
        const double intercept = x < 200 ? 3 : -1000;
        fit.Add(x, intercept + 0.25 * x + sigma * noise.Next());
    }
    EXPECT_EQ(fit.Count(), 400);
    EXPECT_EQ(fit.Segments(), 2);
    // Two halves of 200: the sum of squares about each mean is 2 * 200^3 / 12.
    const double expected = sigma / std::sqrt(2 * 200.0 * 200 * 200 / 12);
    EXPECT_NEAR(static_cast<double>(fit.SlopeUncertainty()), expected, 0.15 * expected);
    EXPECT_NEAR(static_cast<double>(fit.Slope()), 0.25, 4 * expected);
    EXPECT_NEAR(static_cast<double>(fit.ResidualDeviation()), sigma, 0.015);
    EXPECT_NEAR(static_cast<double>(fit.Predict(399)), -1000 + 0.25 * 399, 0.05);
}

TEST(MeterParts, LineFarFromZeroKeepsItsPrecision)
{
    SegmentedLineFit fit;
    for (int x = 0; x < 30000; ++x)
        fit.Add(1e6 + x, 3e5 + 1.024e-6 * x + ((x % 2) ? 1e-6 : -1e-6), x % 3 ? 1.0 : 0.5);
    EXPECT_NEAR(static_cast<double>(fit.Slope()), 1.024e-6, 1e-12);
    EXPECT_NEAR(static_cast<double>(fit.ResidualDeviation()), 1e-6, 1e-7);
}

// The settings the meter measures in full, warns about and refuses: by the
// carrier's share of the rate.
TEST(MeterParts, CarrierRangeIsATenthToThreeEighthsOfTheRate)
{
    EXPECT_EQ(CheckCarrier(8000, 800).support, CarrierSupport::Supported);
    EXPECT_EQ(CheckCarrier(8000, 3000).support, CarrierSupport::Supported);
    EXPECT_EQ(CheckCarrier(48000, 9000).support, CarrierSupport::Supported);
    EXPECT_EQ(CheckCarrier(0, 0).support, CarrierSupport::Supported);  // the defaults, 8000/1500
    EXPECT_EQ(CheckCarrier(8000, 799).support, CarrierSupport::Warned);
    EXPECT_EQ(CheckCarrier(8000, 3001).support, CarrierSupport::Warned);
    EXPECT_EQ(CheckCarrier(8000, 400).support, CarrierSupport::Warned);
    EXPECT_EQ(CheckCarrier(8000, 3200).support, CarrierSupport::Warned);
    EXPECT_EQ(CheckCarrier(8000, 399).support, CarrierSupport::Refused);
    EXPECT_EQ(CheckCarrier(8000, 3201).support, CarrierSupport::Refused);
    EXPECT_EQ(CheckCarrier(8000, -1500).support, CarrierSupport::Refused);
    EXPECT_NE(CheckCarrier(8000, 3500).reason.find("Nyquist"), std::string::npos);
}

}  // namespace
