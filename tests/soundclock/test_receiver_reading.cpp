// What soundclock says the receiver's slider would read for an offset.
#include "soundclock/receiver_reading.h"
#include "receiver/dsp/correlator.h"

#include <gtest/gtest.h>

namespace {

// The reading is the receiver's own: the position's correction, put
// through the receiver's trackbar handling, cancels the offset to within
// half a step, and the label is the receiver's text for that position.
TEST(ReceiverReading, MatchesTheReceiver)
{
    const struct {
        double ppm;
        int32_t position;
        const char* text;
        bool reach;
    } cases[] = {
        {1000, 500, "Clock error 0.100%", true},   {-500, 1250, "Clock error -0.050%", true},
        {0.4, 1000, "Clock error 0.000%", true},   {2000, 0, "Clock error 0.200%", true},
        {-2000, 2000, "Clock error -0.200%", true}, {3, 998, "Clock error 0.000%", true},
        {2500, 0, "Clock error 0.200%", false},    {-10000, 2000, "Clock error -0.200%", false},
    };
    for (const auto& c : cases) {
        const ReceiverReading reading = ReadingForOffset(c.ppm);
        EXPECT_EQ(reading.position, c.position) << c.ppm;
        EXPECT_EQ(reading.clockText, c.text) << c.ppm;
        EXPECT_EQ(reading.withinReach, c.reach) << c.ppm;
        Correlator correlator;
        correlator.SetClockPosition(static_cast<uint16_t>(reading.position));
        if (c.reach) {
            EXPECT_NEAR(static_cast<double>(correlator.clockCorrection) * 1e6, c.ppm, 1.0) << c.ppm;
        }
    }
}

}  // namespace
