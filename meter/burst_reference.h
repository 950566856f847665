// What the meter looks for: one burst of the transmitter's signal as its
// baseband envelope, taken from the transmitter's own synthesis, and the
// carrier it rides on, as a fraction of the signal's sample rate.
#pragma once

#include <cstdint>
#include <vector>

// Samples per frame of the transmitter: one burst every FRAME_SAMPLES.
constexpr int FRAME_SAMPLES = 1024;
// A line's slope (samples of delay per burst) as an offset in ppm.
constexpr double TO_PPM = 1e6 / FRAME_SAMPLES;

struct BurstReference {
    // The filtered baseband (before the carrier) of one complete burst,
    // sample by sample, from its first to its last non-zero sample.
    std::vector<double> envelope;
    // Where the envelope starts within the transmitter's frame (samples).
    int offsetInFrame = 0;
    // Carrier cycles per sample of the signal (carrier / rate).
    long double carrierPerSample = 0;
};

// The burst the transmitter plays with these settings (0 takes the
// default, as at start-up).
BurstReference MakeBurstReference(int32_t signalRate, double carrierFrequency);
