// What the receiver shows when its slider is trimmed to a measured offset:
// the slider position and the text of its "Clock error" label.
#pragma once

#include <cstdint>
#include <string>

struct ReceiverReading {
    bool withinReach = false;  // the slider reaches +-0.2 %
    int32_t position = 1000;   // 0..2000, the nearest step (clamped at the ends)
    std::string clockText;     // e.g. "Clock error 0.100%"
};

// The trackbar applies the correction (1000 - position) / 500000, which
// cancels an offset of the same size: so position = 1000 - ppm / 2.
ReceiverReading ReadingForOffset(double ppm);
