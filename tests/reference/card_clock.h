// The clock of the card a test signal is recorded by: which moment of the
// reference's time each of its samples was taken at. A card that runs
// `ppm` fast takes rate (1 + ppm 1e-6) samples in a second of the
// reference; its sample n is taken at startSeconds + n / that.
//
// A test signal is made by evaluating the reference's waveform (a pulse
// train, a tone, a station's broadcast) at those moments, so the truth
// of every measurement is `ppm`, fractional as it is.
#pragma once

#include <cstdint>

struct CardClock {
    int nominalRate = 8000;
    double ppm = 0;
    // The reference's time at sample 0, seconds (where in the reference's
    // second the recording starts).
    double startSeconds = 0;

    double ActualRate() const { return nominalRate * (1 + ppm * 1e-6); }
    double TimeOf(int64_t sample) const { return startSeconds + static_cast<double>(sample) / ActualRate(); }
    // The (fractional) sample at which the reference's time is `seconds`.
    double SampleAt(double seconds) const { return (seconds - startSeconds) * ActualRate(); }
};
