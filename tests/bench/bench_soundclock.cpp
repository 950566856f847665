// How fast soundclock's meter works through a recording: seconds of audio
// per second of processing (one core), at 8000 and 48000 Hz, over an
// hour of the transmitter's signal fed in pieces as from a pipe; and the
// resident memory after a minute and after the hour (it must stay flat).
//
//   bench_soundclock [MINUTES]   (default 60)
#include "meter/clock_estimator.h"
#include "transmitter/dsp/stream.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

long PeakResidentKb()
{
#ifndef _WIN32
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#else
    return -1;
#endif
}

void Measure(int32_t rate, double carrier, int minutes)
{
    // A minute of the signal, repeated: its frames are all alike once the
    // first is past (the carrier makes whole cycles per frame here).
    const auto minute = SynthesizeStream(rate, carrier, static_cast<size_t>(rate) * 60 / SAMPLES_PER_SYMBOL + FRAME_LENGTH);
    const std::vector<int16_t> piece(minute.begin() + 1024, minute.begin() + 1024 + static_cast<long>(rate) * 60);
    MeterSettings settings;
    settings.recordingRate = settings.signalRate = rate;
    settings.carrierFrequency = carrier;
    ClockEstimator meter(settings);
    constexpr size_t READ = 8192;  // what the program reads at a time
    long afterOneMinute = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int m = 0; m < minutes; ++m) {
        for (size_t at = 0; at < piece.size(); at += READ)
            meter.Push(piece.data() + at, std::min(READ, piece.size() - at));
        if (m == 0)
            afterOneMinute = PeakResidentKb();
    }
    meter.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const ClockEstimate estimate = meter.Estimate();
    const double audio = 60.0 * minutes;
    std::printf("soundclock meter at %5d Hz: %4d min of audio in %7.3f s: %8.0f x real time  (result %+.4f ppm from %lld blocks",
                rate, minutes, seconds, audio / seconds, estimate.ppm, static_cast<long long>(estimate.blocksUsed));
    if (afterOneMinute >= 0)
        std::printf("; peak resident memory %ld kB after 1 min, %ld kB after %d min", afterOneMinute, PeakResidentKb(), minutes);
    std::printf(")\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;
    Measure(8000, 1500, minutes);
    Measure(48000, 9000, minutes);
    return 0;
}
