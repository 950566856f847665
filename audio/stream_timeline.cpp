#include "audio/stream_timeline.h"

#include <utility>

void StreamTimeline::AddXrun()
{
    xruns.push_back({position, static_cast<double>(position) / sampleRate});
    ++segment;
}

void StreamTimeline::AddClockPoint(uint64_t frames, double systemSeconds)
{
    if (points.size() >= CLOCK_POINT_LIMIT)
        points.erase(points.begin(), points.begin() + CLOCK_POINT_LIMIT / 2);
    points.push_back({frames, systemSeconds, segment});
}

std::vector<AudioXrun> StreamTimeline::TakeXruns()
{
    return std::exchange(xruns, {});
}

std::vector<AudioClockPoint> StreamTimeline::TakeClockPoints()
{
    return std::exchange(points, {});
}
