// A card's rate against a steady tone of known frequency in its input: 1 kHz
// divided down from a GPS-disciplined oscillator, a signal generator locked
// to a 10 MHz standard, any tone whose frequency is known better than the
// card's. The tone's phase is its clock.
//
//   1. Search (tone_search.h): the first second of samples (or the next,
//      until it is there) gives the tone's frequency to a few hundredths of
//      a hertz, and what else is heard; where in them the tone began
//      (tone_onset.h), when it started after the stream did.
//   2. Demodulate (tone_demodulator.h): a block of 0.25 s every 62.5 ms,
//      the tone's phase at its centre. The search's samples from the
//      tone's onset are kept and demodulated too: nothing of the tone is
//      lost to the search.
//   3. Follow (tone_tracker.h): the phases unwrapped into whole cycles,
//      steps in them (samples lost or repeated) stepped over with a new
//      segment, blocks where the tone fell away left out.
//   4. Fit (tone_fit.h): the line through (the tone's time, position).
//
// Events: one a block, settled half a second (or, around a step, 2.5 s)
// after the block ended. `referenceSeconds` is the tone's unwrapped phase,
// in cycles from the first block's, over its frequency; `position` the
// block's centre; `scatter` its phase noise in samples; `levelDbfs` the
// tone's amplitude (a full-scale sine: 0 dBFS). Flags: EVENT_USED;
// EVENT_MISSED where the tone fell 12 dB below its level; EVENT_JUMP for
// the blocks that hold a step (reported or found); EVENT_OUTLIER for one far
// off the line with no step; EVENT_CLIPPED (still used: clipping keeps a
// tone's phase).
//
// The tone must lie in [MIN_TONE_HZ, rate/2 - MIN_NYQUIST_DISTANCE_HZ] (its
// image beyond half the rate outside the blocks' lobe) and, once found,
// within MAX_OFFSET_PPM of its given frequency. Once found, the meter stays
// on that frequency: a tone that comes back elsewhere is not followed.
// Memory: the search's second of samples, then one record a block (16 a
// second, 64 bytes each: 3.7 MB an hour).
#pragma once

#include "meter/reference/reference_meter.h"
#include "meter/reference/tone_demodulator.h"
#include "meter/reference/tone_search.h"
#include "meter/reference/tone_tracker.h"

#include <memory>
#include <string>
#include <vector>

constexpr double MIN_TONE_HZ = 20;
constexpr double MIN_NYQUIST_DISTANCE_HZ = 30;

class ToneMeter : public ReferenceMeter {
public:
    ToneMeter(double toneHz, int sampleRate);

    void Push(const float* samples, size_t count) override;
    void MarkDiscontinuity() override;
    void Finish() override;

    ReferenceEstimate Estimate() const override;
    ReferenceHeard Heard() const override;
    // A block every BLOCK_SECONDS / BLOCK_OVERLAP of the tone's time.
    double EventSeconds() const override { return BLOCK_SECONDS / BLOCK_OVERLAP; }

private:
    void Search(bool atEnd);
    void StartDemodulating();  // from the tone's onset in the searched samples
    void Demodulate(const float* samples, size_t count);
    void EmitSettled();
    bool OffFrequency(const ReferenceEstimate& estimate) const;

    int sampleRate;
    double toneHz;
    std::string refused;  // a frequency the meter cannot measure, in words

    ToneSearch search;
    std::vector<float> searchBuffer;
    std::vector<size_t> searchGaps;  // reported discontinuities, before buffer[i]
    int64_t searchStart = 0;         // the buffer's first sample
    ToneSearchResult searched;
    bool hasSearched = false;

    std::unique_ptr<ToneDemodulator> demodulator;
    std::unique_ptr<ToneTracker> tracker;
    std::vector<ToneBlock> blocks;   // from one Push, scratch
    size_t emitted = 0;
    int64_t gapsReported = 0;
    bool finished = false;
    bool tooShort = false;  // the input ended before a search could be made

    int64_t samples = 0;
    double sumSquares = 0;
    float peak = 0;
    uint64_t clipped = 0;
};
