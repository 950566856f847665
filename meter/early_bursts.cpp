#include "meter/early_bursts.h"

#include <algorithm>

EarlyBursts::EarlyBursts(size_t length)
    : windowLength(length), kept(static_cast<size_t>(YOUNG_BLOCKS)), samples(static_cast<size_t>(YOUNG_BLOCKS) * length)
{
}

void EarlyBursts::Keep(const LineVerdict& used, const float* window)
{
    const size_t index = static_cast<size_t>(used.index);
    if (index == 0)
        rows.HoldAfresh();
    else
        rows.Hold();
    Burst& burst = kept[index];
    burst.row = rows.NextPlace();
    burst.burst = used.burst;
    burst.weight = used.weight;
    burst.phaseDelay = used.phaseDelay;
    std::copy(window, window + windowLength, samples.begin() + static_cast<std::ptrdiff_t>(index * windowLength));
}

void EarlyBursts::Amend(size_t index, const BlockRecord& row)
{
    if (BlockRecord* held = rows.Held(kept[index].row))
        *held = row;
}
