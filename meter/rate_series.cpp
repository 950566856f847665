#include "meter/rate_series.h"
#include "meter/robust_line.h"

#include <algorithm>
#include <cmath>

namespace {

// The least late stamp (system time less stream time) of each window of
// LATENESS_WINDOW_SECONDS within a segment, and the window's first stamp.
struct LatenessWindow {
    size_t first = 0;
    int segment = 0;
    double least = 0;
    int stamps = 0;
};

std::vector<LatenessWindow> LatenessWindows(const RateSeries& series)
{
    std::vector<LatenessWindow> windows;
    double windowEnd = 0;
    for (size_t i = 0; i < series.streamSeconds.size(); ++i) {
        const double lateness = series.systemSeconds[i] - series.streamSeconds[i];
        if (windows.empty() || series.segment[i] != windows.back().segment || series.systemSeconds[i] >= windowEnd) {
            windows.push_back({i, series.segment[i], lateness, 0});
            windowEnd = series.systemSeconds[i] + LATENESS_WINDOW_SECONDS;
        } else
            windows.back().least = std::min(windows.back().least, lateness);
        ++windows.back().stamps;
    }
    return windows;
}

// Starts a segment where the least late stamps step and stay stepped: a
// gap in the stream that no xrun reported. The window in which it falls
// may see part of it or none, so the step is judged across it, from the
// window before to the one after, and must hold in the one after that.
// The card's own rate moves the stamps too (a millisecond a second at
// 1000 ppm): steps are judged against the median step.
void CutAtSilentGaps(RateSeries& series)
{
    const std::vector<LatenessWindow> windows = LatenessWindows(series);
    std::vector<double> steps;
    for (size_t k = 1; k < windows.size(); ++k)
        if (windows[k].segment == windows[k - 1].segment)
            steps.push_back(windows[k].least - windows[k - 1].least);
    if (steps.size() < 3)
        return;
    const double usual = Median(steps);
    // How far window `to` lies from window `from`, beyond the usual steps.
    auto moved = [&](size_t from, size_t to) {
        return windows[to].least - windows[from].least - usual * static_cast<double>(to - from);
    };
    std::vector<size_t> cuts;
    for (size_t k = 1; k + 2 < windows.size(); ++k) {
        if (windows[k - 1].segment != windows[k + 2].segment)
            continue;
        if (std::min({windows[k - 1].stamps, windows[k + 1].stamps, windows[k + 2].stamps}) < GAP_WINDOW_MIN_STAMPS)
            continue;
        const double across = moved(k - 1, k + 1), held = moved(k - 1, k + 2);
        if (std::fabs(across) <= GAP_LIMIT_SECONDS || std::fabs(held) <= GAP_LIMIT_SECONDS ||
            (across > 0) != (held > 0) || std::fabs(moved(k + 1, k + 2)) > GAP_LIMIT_SECONDS / 2)
            continue;
        // Where window k's least late stamp already shows most of it, the
        // gap came before it.
        const bool inWindow = std::fabs(moved(k - 1, k)) > std::fabs(across) / 2;
        cuts.push_back(windows[inWindow ? k : k + 1].first);
        k += 2;
    }
    int added = 0;
    size_t next = 0;
    for (size_t i = 0; i < series.segment.size(); ++i) {
        if (next < cuts.size() && i == cuts[next]) {
            ++added;
            ++next;
        }
        series.segment[i] += added;
    }
    series.segments += added;
    series.silentGaps = added;
}

}  // namespace

RateSeries PrepareRateSeries(const RatePoint* points, size_t count, double nominalRate)
{
    RateSeries series;
    series.streamSeconds.reserve(count);
    series.systemSeconds.reserve(count);
    series.segment.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        // A position that goes back cannot be the same stream's: treat it
        // as an xrun the backend did not report.
        const bool newSegment = i == 0 || points[i].segment != points[i - 1].segment ||
                                points[i].frames < points[i - 1].frames;
        if (newSegment)
            ++series.segments;
        // Exact: positions stay far below 2^53.
        const double frames = static_cast<double>(points[i].frames) - static_cast<double>(points[0].frames);
        series.streamSeconds.push_back(frames / nominalRate);
        series.systemSeconds.push_back(points[i].systemSeconds - points[0].systemSeconds);
        series.segment.push_back(series.segments - 1);
    }
    CutAtSilentGaps(series);
    return series;
}
