// The station signal's own truth: what the tick meter is judged against.
#include "meter/reference/station_format.h"
#include "tests/reference/station_signal.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Reception OneStation(TimeStation station)
{
    Reception r;
    r.clock.nominalRate = 8000;
    r.clock.ppm = 50;
    r.clock.startSeconds = 60 * 3 + 0.5;
    StationArrival a;
    a.station = station;
    r.stations.push_back(a);
    return r;
}

// The tick's energy at the second's start, at the pitch the receiver's
// sideband and offset put it (inverted on the lower sideband).
TEST(StationSignal, PutsTheTickWhereTheReceiverHearsIt)
{
    for (bool lower : {false, true}) {
        Reception r = OneStation(TimeStation::Wwvh);
        r.lowerSideband = lower;
        r.pitchOffsetHz = lower ? 2500 : 300;
        StationSignal signal(r);
        const double heard = signal.HeardHz(1200);
        EXPECT_DOUBLE_EQ(heard, lower ? 1300 : 1500);
        const std::vector<float> x = signal.Generate(8000 * 3);
        const double at = signal.ArrivalSample(0, 182);
        // Over the 5 ms tick (the receiver's filter delays it by a few samples).
        auto level = [&](double hz, size_t from) {
            std::complex<double> sum = 0;
            for (size_t i = from; i < from + 40; ++i)
                sum += static_cast<double>(x[i]) * UnitPhasor(-hz * i / 8000.0);
            return std::abs(sum) / 20;
        };
        const size_t start = static_cast<size_t>(at) + 3;
        EXPECT_NEAR(level(heard, start), 0.3, 0.05);
        EXPECT_LT(level(heard, start - 60), 0.01) << "the protected zone before it";
        EXPECT_LT(level(lower ? 1700 : 1100, start), 0.05);
    }
}

// Samples dropped or repeated move every later tick by as many samples;
// the truth says so.
TEST(StationSignal, FaultsMoveTheTruth)
{
    for (int64_t fault : {int64_t{100}, int64_t{-50}}) {
        Reception r = OneStation(TimeStation::Wwv);
        StationSignal plain(r);
        r.faultAtSample = 8000;
        r.faultSamples = fault;
        StationSignal faulty(r);
        EXPECT_DOUBLE_EQ(faulty.ArrivalSample(0, 185), plain.ArrivalSample(0, 185) - static_cast<double>(fault));
        const std::vector<float> a = plain.Generate(8000 * 3), b = faulty.Generate(8000 * 3);
        for (size_t i = 12000; i < 12100; ++i)
            EXPECT_EQ(b[i], a[i + fault]) << i;
    }
}

// The noise is at the SNR asked for, in the passband, against the
// station's mean power.
TEST(StationSignal, NoiseAtTheSnrAskedFor)
{
    Reception clean = OneStation(TimeStation::Chu);
    Reception noisy = clean;
    noisy.snrDb = 10;
    StationSignal a(clean), b(noisy);
    const std::vector<float> x = a.Generate(8000 * 60), y = b.Generate(8000 * 60);
    double signal = 0, noise = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        signal += static_cast<double>(x[i]) * x[i];
        noise += (static_cast<double>(y[i]) - x[i]) * (static_cast<double>(y[i]) - x[i]);
    }
    EXPECT_NEAR(10 * std::log10(signal / noise), 10, 0.5);
}

}  // namespace
