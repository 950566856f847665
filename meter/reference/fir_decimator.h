// A low-pass FIR decimator by an integer factor: the first thing a meter
// does to a stream at 44.1 or 48 kHz whose content it needs only up to
// about 3.5 kHz, so that everything after it runs on a sixth of the
// samples. Portable; no allocation per sample.
//
// Contract (csdr's way of stating it):
//   - Process() consumes all `count` input samples and appends
//     floor((held + count) / factor) outputs to `out`, holding back the
//     remainder (fewer than `factor` samples) for the next call.
//   - Output j is the filtered stream at input sample j * factor - Delay():
//     the filter is causal and linear-phase, so the delay is the same for
//     every frequency. The first outputs see zeros before sample 0.
//   - Factor 1 passes the samples through unfiltered (delay 0).
//   - The filter: a Kaiser-windowed sinc of 10 * factor + 1 taps, cut off
//     at half the output rate, about 50 dB down from 1.3 times it; flat
//     to within 0.1 dB up to 0.37 of the output rate (2.9 kHz at 8 kHz).
#pragma once

#include <cstddef>
#include <vector>

class FirDecimator {
public:
    explicit FirDecimator(int factor);

    int Factor() const { return factor; }
    double Delay() const { return taps.empty() ? 0.0 : 0.5 * static_cast<double>(taps.size() - 1); }
    void Process(const float* in, size_t count, std::vector<float>& out);
    // Forgets the held samples (after a break in the stream).
    void Reset();

private:
    int factor;
    std::vector<float> taps;     // reversed: taps[0] multiplies the oldest sample
    std::vector<float> history;  // the last taps.size() - 1 inputs, then the new ones
    size_t phase = 0;            // inputs so far, mod factor
};

// The largest divisor of `sampleRate` that leaves at least `minimumRate`
// samples a second (1 where there is none): an integer factor, so that the
// output rate is a whole number of samples a second.
int DecimationFor(int sampleRate, int minimumRate);
