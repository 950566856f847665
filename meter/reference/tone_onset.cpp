#include "meter/reference/tone_onset.h"

#include "meter/reference/tone_demodulator.h"
#include "meter/reference/tone_tracker.h"

#include <algorithm>
#include <vector>

ToneOnset FindToneOnset(const float* samples, size_t count, double cyclesPerSample, int hop)
{
    ToneDemodulator demodulator(cyclesPerSample, hop, 0);
    std::vector<ToneBlock> blocks;
    demodulator.Push(samples, count, blocks);
    ToneOnset onset;
    if (blocks.empty())
        return onset;
    const auto strongest = std::max_element(blocks.begin(), blocks.end(), [](const ToneBlock& a, const ToneBlock& b) {
        return a.amplitude < b.amplitude;
    });
    onset.level = strongest->amplitude;
    size_t first = static_cast<size_t>(strongest - blocks.begin());
    while (first > 0 && blocks[first - 1].amplitude >= WEAK_FRACTION * onset.level)
        --first;
    // (A block's start lies a block before the samples' end: the start
    // three hops on still lies within them.)
    if (first > 0)
        first += BLOCK_OVERLAP - 1;
    onset.firstSample = first * static_cast<size_t>(hop);
    return onset;
}
