#include "meter/reference/heard_level.h"

#include <algorithm>
#include <cmath>

namespace {

// Samples at or beyond this are clipped. Clips are remembered up to a
// number (a stream clipping all the time clips the ticks too).
constexpr float CLIP_LEVEL = 0.999f;
constexpr size_t MAXIMUM_CLIPS = 4096;

}  // namespace

void HeardLevel::Add(const float* samples, size_t n)
{
    // The level in four running sums (the same order on every build),
    // the clips looked for only in a piece that reaches full scale.
    float squares[4] = {0, 0, 0, 0}, largest[4] = {0, 0, 0, 0};
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        for (int k = 0; k < 4; ++k) {
            const float v = samples[i + k];
            squares[k] += v * v;
            largest[k] = std::max(largest[k], std::fabs(v));
        }
    for (; i < n; ++i) {
        const float v = samples[i];
        squares[0] += v * v;
        largest[0] = std::max(largest[0], std::fabs(v));
    }
    sumSquares += (static_cast<double>(squares[0]) + squares[1]) + (static_cast<double>(squares[2]) + squares[3]);
    const float pieceLargest = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
    peak = std::max(peak, static_cast<double>(pieceLargest));
    for (size_t j = 0; pieceLargest >= CLIP_LEVEL && j < n; ++j) {
        if (std::fabs(samples[j]) < CLIP_LEVEL)
            continue;
        ++clipped;
        const double at = static_cast<double>(samplesPushed + j);
        if (clips.empty() || at - clips.back() > 1)
            clips.push_back(at);
        else
            clips.back() = at;  // a run of clipped samples: its end
        if (clips.size() > MAXIMUM_CLIPS)
            clips.pop_front();
    }
    samplesPushed += n;
}

double HeardLevel::Rms() const
{
    return samplesPushed > 0 ? std::sqrt(sumSquares / static_cast<double>(samplesPushed)) : 0;
}

bool HeardLevel::ClippedNear(double position, double guard)
{
    while (!clips.empty() && clips.front() < position - guard)
        clips.pop_front();
    return !clips.empty() && clips.front() <= position + guard;
}
