// The search for the transmitter's burst in the recording as it streams
// past, and the measure of each burst found (meter/burst_fit.h: the whole
// lag that fits best, the fraction of a sample and the carrier phase).
//
// Before the first burst, Acquire() looks through the recording a frame
// (FRAME_SAMPLES lags) at a time, from its start, for the lag where the
// burst fits best, and takes it where the fit looks like a burst: the
// samples match it (MIN_MATCH) and its power stands out of the frame's
// (MIN_PEAK_TO_MEAN). From then on, Track() looks for burst k where the
// line expects it: a few lags either side, then, where no burst of the
// usual magnitude is there, the whole frame around it; a burst found by
// neither is lost.
//
// In: the recording's samples (Append), in order, any number at a time.
// Out: a BurstMeasurement per call of Track(), and per Acquire() that finds
// the first burst, in absolute positions (samples since the recording's
// start). The search decides nothing about the line: where to look, how
// wide, and the burst's stretch come from the caller.
// Memory: the recording from the oldest sample still wanted on (the frame
// being searched, or the last burst returned and what follows it), plus up
// to WINDOW_SLACK older samples: it is let go in pieces of that size.
#pragma once

#include "meter/burst_fit.h"
#include "meter/burst_reference.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One burst as the search measured it, before the line judged it.
struct BurstMeasurement {
    int64_t block = 0;
    int64_t lag = 0;       // the whole lag that fits best, absolute samples
    double position = 0;   // lag and fraction, absolute samples
    double phase = 0;      // the carrier's phase at the recording's sample 0, as this burst has it, radians -pi..pi
    double magnitude = 0;  // of the fit at the lag
    double level = 0;      // dBFS, RMS over the burst
    unsigned flags = 0;    // BlockFlag bits: LOST, SEARCHED, CLIPPED
};

class BurstSearch {
public:
    explicit BurstSearch(const BurstReference& reference);

    // Takes the next `count` samples of the recording.
    void Append(const int16_t* samples, size_t count);

    enum class Outcome { NeedSamples, NotFound, Found };
    // The next frame searched for the first burst. Found: `first` is it, as
    // block 0 (BLOCK_SEARCHED), its fraction fitted for `stretch`; the
    // search is locked on and Acquire() is done with. NotFound: none in
    // that frame (whose samples are let go); NeedSamples: the frame is not
    // all there yet. Neither changes `first`.
    Outcome Acquire(double stretch, BurstMeasurement& first);
    bool Locked() const { return locked; }

    // Whether the samples Track() reads around `expected` are all there.
    bool CanTrack(double expected) const;
    // Burst `block`, expected at absolute position `expected`: the best fit
    // within NARROW_TRACK lags of it (`narrow`) or WIDE_TRACK; where that is
    // not a burst of at least MIN_MAGNITUDE_FRACTION of `usualMagnitude`,
    // the best in the whole frame around it (BLOCK_SEARCHED); where that is
    // not one either, BLOCK_LOST at the expected lag (no phase, no level).
    // Its fraction is fitted for `stretch`. The samples of the burst
    // returned stay (SamplesAround) until the next call of Track().
    BurstMeasurement Track(int64_t block, double expected, bool narrow, double usualMagnitude, double stretch);

    // The samples the fine fit reads for the burst at `lag`: WindowLength()
    // of them from lag - BurstFit::MARGIN on. Valid until the next Append()
    // or Track().
    const float* SamplesAround(int64_t lag) const { return At(lag) - BurstFit::MARGIN; }
    size_t WindowLength() const { return fit.WindowLength(); }
    // `measured` fitted again from a copy of its samples (as SamplesAround
    // gave them) for another `stretch`: its position and phase change.
    BurstMeasurement Refitted(const BurstMeasurement& measured, const float* window, double stretch) const;

    // The highest normalised correlation with the burst seen so far, 0..1.
    double BestCorrelation() const { return bestCorrelation; }
    // The bursts Track() returned lost.
    int64_t LostBlocks() const { return lostBlocks; }
    // The burst's carrier cycles per signal sample.
    long double CarrierPerSample() const { return reference.carrierPerSample; }

private:
    struct Peak {
        int64_t lag = 0;
        double magnitude = 0;   // |correlation|
        double normalised = 0;  // 0..1: how well the samples there match the burst
        double re = 0, im = 0;
    };

    int64_t End() const { return windowStart + static_cast<int64_t>(window.size()); }
    const float* At(int64_t position) const { return window.data() + (position - windowStart); }
    void DropBefore(int64_t position);
    Peak CorrelateAt(int64_t lag) const;
    Peak BestIn(int64_t firstLag, int64_t lastLag, double* meanPower);
    bool LooksLikeBurst(const Peak& peak, double meanPower) const;
    BurstMeasurement Measure(const Peak& peak, int64_t block, unsigned flags, double stretch) const;
    void FitFraction(const float* samples, const Peak& peak, double stretch, BurstMeasurement& m) const;

    BurstReference reference;
    BurstFit fit;
    // the recording, from windowStart on
    std::vector<float> window;
    int64_t windowStart = 0;
    bool locked = false;
    int64_t searchStart = 0;  // the next frame Acquire() searches
    int64_t forgetBefore = 0; // what the last burst tracked no longer needs
    double bestCorrelation = 0;
    int64_t lostBlocks = 0;
};
