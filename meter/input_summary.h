// What the input held, whether or not it held the signal: its level, its
// peak, its zero crossings and its clipping, for a clear word when no
// signal was found (soundclock's "no test signal found ... level -6.0
// dBFS RMS ...") and a warning when the signal was clipped.
//
// InputStatistics takes every sample once, as it streams past, into exact
// integer sums (nothing is kept per sample); Summary() gives them in the
// user's units at any time. The burst counts and the best correlation of
// InputSummary come from the search and the line (ClockEstimator fills
// them in).
#pragma once

#include <cstddef>
#include <cstdint>

// A 16-bit sample of this magnitude or more is at full scale: clipped.
constexpr int CLIPPED_MAGNITUDE = 32767;
// The level of no power at all (silence, or a burst not found), in dBFS.
constexpr double NO_LEVEL_DBFS = -1e9;
// The level of a mean square (of 16-bit samples) in dB relative to full
// scale, 32768; NO_LEVEL_DBFS for 0.
double LevelDbfs(double meanSquare);

struct InputSummary {
    uint64_t samples = 0;
    double rmsDbfs = NO_LEVEL_DBFS;
    double peakDbfs = NO_LEVEL_DBFS;
    double zeroCrossingHz = 0;    // half the sign changes per second
    double bestCorrelation = 0;   // the highest normalised correlation with the burst, 0..1
    uint64_t clippedSamples = 0;
    int64_t lostBlocks = 0, outlierBlocks = 0, clippedBlocks = 0;
};

class InputStatistics {
public:
    // Takes the next `count` samples into the sums.
    void Add(const int16_t* samples, size_t count);
    // The samples so far; the counts of bursts and bestCorrelation stay 0.
    InputSummary Summary(int32_t recordingRate) const;
    uint64_t Samples() const { return sampleCount; }

private:
    uint64_t sampleCount = 0;
    long double sumSquares = 0;
    int peakAbs = 0;
    uint64_t signChanges = 0;  // between successive non-zero samples
    bool lastNegative = false;
    uint64_t clippedSamples = 0;
};
