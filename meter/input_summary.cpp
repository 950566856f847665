#include "meter/input_summary.h"

#include <algorithm>
#include <cmath>

namespace {

// 16-bit full scale, squared: the power of a full-scale square wave.
constexpr double FULL_SCALE_POWER = 32768.0 * 32768.0;
// The sums are formed in integers over pieces this long (their squares fit
// in 64 bits), then added to the totals.
constexpr size_t PIECE = size_t{1} << 20;

}  // namespace

double LevelDbfs(double meanSquare)
{
    const double ratio = meanSquare / FULL_SCALE_POWER;
    return ratio > 0 ? 10 * std::log10(ratio) : NO_LEVEL_DBFS;
}

void InputStatistics::Add(const int16_t* samples, size_t count)
{
    for (size_t start = 0; start < count; start += PIECE) {
        const size_t end = std::min(count, start + PIECE);
        uint64_t squares = 0, clipped = 0, changes = 0;
        int peak = peakAbs;
        bool negativeBefore = lastNegative;
        bool anyBefore = sampleCount + start > 0;
        for (size_t i = start; i < end; ++i) {
            const int value = samples[i];
            squares += static_cast<uint64_t>(value * value);
            const int magnitude = value < 0 ? -value : value;
            peak = std::max(peak, magnitude);
            clipped += magnitude >= CLIPPED_MAGNITUDE ? 1 : 0;
            if (value != 0) {
                const bool negative = value < 0;
                changes += (anyBefore && negative != negativeBefore) ? 1 : 0;
                negativeBefore = negative;
            }
            anyBefore = true;
        }
        sumSquares += static_cast<long double>(squares);
        clippedSamples += clipped;
        signChanges += changes;
        peakAbs = peak;
        lastNegative = negativeBefore;
    }
    sampleCount += count;
}

InputSummary InputStatistics::Summary(int32_t recordingRate) const
{
    InputSummary summary;
    summary.samples = sampleCount;
    if (sampleCount > 0) {
        summary.rmsDbfs = LevelDbfs(static_cast<double>(sumSquares / sampleCount));
        summary.peakDbfs = LevelDbfs(static_cast<double>(peakAbs) * peakAbs);
        summary.zeroCrossingHz = static_cast<double>(signChanges) / 2 / (static_cast<double>(sampleCount) / recordingRate);
    }
    summary.clippedSamples = clippedSamples;
    return summary;
}
