// A young line's first bursts, measured again once the line has a slope,
// and the rows held back until then.
//
// The fit of a burst's fraction allows for the burst's stretch by the
// offset (meter/burst_fit.h), which the line gives only once it has a
// slope: its first YOUNG_BLOCKS bursts were measured without it. Each is
// kept here with its samples as the line uses it (Keep), to be fitted
// again with the slope the line has after the last of them (Kept,
// Samples); the line is made anew from them (BurstLine::Refit).
//
// Rows: every row of the meter passes through Emit(), in order. From the
// row of a young line's first burst on they are held, so that the rows of
// its bursts go out as measured again (Amend): they go out at ReleaseRows()
// (after the re-measure, where the line starts again, at the end), or, as
// they stand, once more than MAX_HELD_ROWS wait (meter/held_rows.h), so
// that no row is held back for more than MAX_HELD_ROWS bursts.
// Memory: YOUNG_BLOCKS bursts with WindowLength() samples each; at most
// MAX_HELD_ROWS + 1 rows.
#pragma once

#include "meter/block_record.h"
#include "meter/burst_line.h"
#include "meter/held_rows.h"

#include <cstddef>
#include <functional>
#include <vector>

// At most this many rows wait for a young line's bursts to be measured again.
constexpr size_t MAX_HELD_ROWS = 256;

class EarlyBursts {
public:
    // `windowLength`: the samples the fine fit reads of a burst (BurstSearch::WindowLength).
    explicit EarlyBursts(size_t windowLength);

    void OnRow(std::function<void(const BlockRecord&)> observer) { rows.OnRow(std::move(observer)); }
    // A row on its way out: out now, or held with the young line's.
    void Emit(const BlockRecord& row) { rows.Put(row); }
    void ReleaseRows() { rows.Release(); }

    // A burst a young line used (verdict.index < YOUNG_BLOCKS), before its
    // row is emitted, with its samples (BurstSearch::SamplesAround). Its
    // row, and the rows after it, are held from the line's first burst on.
    void Keep(const LineVerdict& used, const float* samples);

    struct Burst {
        BurstMeasurement burst;  // as used (BLOCK_USED)
        double weight = 0;
        double phaseDelay = 0;   // the phase delay it had: the re-measure's target for unwrapping
        size_t row = 0;          // its row's place among the held ones
    };
    const Burst& Kept(size_t index) const { return kept[index]; }
    const float* Samples(size_t index) const { return samples.data() + index * windowLength; }
    // Burst `index`'s row as measured again, in place of the one held, if
    // it is still held (and not let out by MAX_HELD_ROWS).
    void Amend(size_t index, const BlockRecord& row);

private:
    size_t windowLength;
    std::vector<Burst> kept;      // YOUNG_BLOCKS of them
    std::vector<float> samples;   // theirs, windowLength each
    HeldRows rows{MAX_HELD_ROWS};
};
