// Where the tone is, from about a second of samples: a Blackman-Harris
// windowed spectrum (bins of about 1 Hz; radix2_fft.h), its strongest line
// near the tone's frequency, and the strongest line anywhere (which the
// words name when the tone is not there).
//
// A line counts as the tone when
//   - it lies within MAX_OFFSET_PPM of the frequency asked for (give or
//     take half a bin, which at low frequencies is the wider: the meter
//     checks the offset again on the exact frequency the phase gives),
//   - a block of the demodulator would see it MIN_BLOCK_SNR_DB above the
//     noise (the noise from the median of the bins within 100 Hz, so that
//     hum and other tones do not count as noise), and
//   - it holds at least MIN_PURITY of the power within the demodulator's
//     main lobe (16 Hz to either side): a modulated signal (the test burst:
//     lines every 7.8 Hz) has a strong line too, but not a single one.
// Why these: docs/accuracy.md#tone-search
#pragma once

#include "meter/reference/radix2_fft.h"

#include <cstddef>
#include <string>
#include <vector>

// How far the tone may be from the frequency asked for and still count:
// a card is at most a few hundred ppm off, a generator that is not locked
// to a standard a few tens (a second card used as one, a few hundred).
// Beyond, the frequency given is more likely wrong than the clocks.
constexpr double MAX_OFFSET_PPM = 1000;
constexpr double MIN_BLOCK_SNR_DB = 10;
constexpr double MIN_PURITY = 0.5;
// The spectrum's length, before rounding up to a power of two.
constexpr double SEARCH_SECONDS = 1;

// One line of the spectrum, measured.
struct SpectralLine {
    double hz = 0;               // interpolated between bins
    double amplitude = 0;        // a full-scale sine's is 1
    double levelDbfs = -1e9;     // the same in dB (for words)
    double blockSnrDb = -1e9;    // what a demodulator block sees of it over the noise
    double purity = 0;           // its share of the power within 16 Hz
    double noiseVariance = 0;    // a sample's, from the bins near it
};

struct ToneSearchResult {
    bool found = false;
    SpectralLine tone;             // the strongest line near the tone's frequency
    SpectralLine strongest;        // the strongest line from MIN_SEARCH_HZ up
    double rmsDbfs = -1e9;         // of the samples searched
    // Why the tone was not found, in words; empty when it was.
    std::string problem;
};

// The words for a tone heard at `heardHz` when `toneHz` was asked for and
// the two lie more than MAX_OFFSET_PPM apart.
std::string OffFrequencyProblem(double toneHz, double heardHz);

class ToneSearch {
public:
    ToneSearch(int sampleRate, double toneHz);

    // How many samples a search wants: SEARCH_SECONDS rounded up to a
    // power of two.
    size_t Length() const;
    // Searches `count` samples (at most Length(); fewer are padded with
    // zeros, and the bins' resolution falls with them).
    ToneSearchResult Search(const float* samples, size_t count) const;

private:
    // A search's power spectrum, bins 0 .. Length()/2, and its window.
    struct Spectrum {
        std::vector<double> power;
        size_t count = 0;          // samples under the window
        double windowSquares = 0;  // sum of w^2
    };
    Spectrum PowerSpectrum(const float* samples, size_t count) const;
    SpectralLine Measure(const Spectrum& spectrum, size_t peak) const;
    std::string Problem(const ToneSearchResult& result, double allowedHz) const;

    int sampleRate;
    double toneHz;
    size_t length = 2;
    RealFft fft;
    std::vector<double> window;  // for Length() samples
    double blockWindowSum = 0, blockWindowSquares = 0;
};
