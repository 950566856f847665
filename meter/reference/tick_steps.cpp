#include "meter/reference/tick_steps.h"

#include "meter/robust_line.h"

#include <algorithm>
#include <cmath>

namespace {

// Ticks judged this many after they came (the look-ahead for a step).
constexpr size_t LOOK_AHEAD = 20;
// The line's ticks: the recent minute of the segment (a path's delay
// wanders slowly: over a minute its line follows it).
constexpr size_t TRACK_POINTS = 60;
// An outlier: more than this many scatters off the line (a second path
// timed instead of the first lies 1 ms off). Why: docs/accuracy.md#ticks-steps
constexpr double OUTLIER_SCATTERS = 4.0;
// A step: the median of the look-ahead (and of its later half) more than
// this many of its own deviations off the line (the median of n has a
// deviation of about 1.25 scatter / sqrt(n)), and at least the floor.
constexpr double STEP_DEVIATIONS = 5.0;
constexpr double MEDIAN_EFFICIENCY = 1.2533;
constexpr double STEP_FLOOR_SECONDS = 0.00004;
// ... with this share of the look-ahead within this many scatters of its median.
constexpr double GATHERED_SCATTERS = 2.0;
constexpr double GATHERED_SHARE = 0.6;
// A line whose ticks have all been outliers this long is dropped.
constexpr int RESTART_OUTLIERS = 20;
// Steps are looked for once the segment's line has this many ticks.
constexpr size_t STEP_TRACK = 20;
// The scatter is never taken as less than this (a clean tick scatters by
// far less, which would make a step of anything). Why: docs/accuracy.md#ticks-scatter
constexpr double SCATTER_FLOOR_SAMPLES = 0.05;

struct TrackLine {
    double meanIndex = 0, meanPosition = 0, slope = 0, scatter = 0;
    double At(double index) const { return meanPosition + slope * (index - meanIndex); }
};

// A least-squares line through the points, again without those beyond
// four robust deviations, until none is left out: the first ticks of a
// segment have no line before them to be judged by.
template <class Points>
TrackLine RobustTrackLine(const Points& points, double fallbackSlope, double floor)
{
    std::vector<char> keep(points.size(), 1);
    TrackLine line;
    line.slope = fallbackSlope;
    for (int pass = 0; pass < 5; ++pass) {
        double n = 0, mx = 0, my = 0;
        for (size_t i = 0; i < points.size(); ++i)
            if (keep[i]) {
                n += 1;
                mx += static_cast<double>(points[i].index);
                my += points[i].position;
            }
        if (n < 1)
            break;
        mx /= n;
        my /= n;
        double sxx = 0, sxy = 0;
        for (size_t i = 0; i < points.size(); ++i)
            if (keep[i]) {
                sxx += (static_cast<double>(points[i].index) - mx) * (static_cast<double>(points[i].index) - mx);
                sxy += (static_cast<double>(points[i].index) - mx) * (points[i].position - my);
            }
        line.meanIndex = mx;
        line.meanPosition = my;
        if (sxx > 0 && n >= 3)
            line.slope = sxy / sxx;
        // The residuals' scale about their median: a few points far off
        // lift a least-squares line towards them, and would hide in a
        // scale taken about it.
        std::vector<double> r;
        for (size_t i = 0; i < points.size(); ++i)
            if (keep[i])
                r.push_back(points[i].position - line.At(static_cast<double>(points[i].index)));
        const double centre = Median(r);
        for (double& v : r)
            v = std::fabs(v - centre);
        line.scatter = std::max(floor, MAD_TO_DEVIATION * Median(r));
        bool changed = false;
        for (size_t i = 0; i < points.size(); ++i) {
            const double residual = points[i].position - line.At(static_cast<double>(points[i].index)) - centre;
            const bool within = std::fabs(residual) <= 4 * line.scatter;
            changed = changed || (within != static_cast<bool>(keep[i]));
            keep[i] = within;
        }
        if (!changed)
            break;
    }
    return line;
}

}  // namespace

TickSteps::TickSteps(double rate) : floorSamples(STEP_FLOOR_SECONDS * rate), slope(rate) {}

void TickSteps::Add(int64_t index, double position)
{
    waiting.push_back({index, position});
    while (waiting.size() > LOOK_AHEAD)
        JudgeOldest(false);
}

void TickSteps::Flush()
{
    while (!waiting.empty())
        JudgeOldest(true);
}

void TickSteps::NewSegment()
{
    Flush();
    ++segment;
    ++steps;
    track.clear();
}

std::vector<TickSteps::Verdict> TickSteps::TakeVerdicts()
{
    std::vector<Verdict> out;
    out.swap(verdicts);
    return out;
}

void TickSteps::Anchor(int64_t index, double position)
{
    anchor = {index, position};
    anchorKnown = true;
}

bool TickSteps::LastUsed(int64_t& index, double& position) const
{
    index = lastUsed.index;
    position = lastUsed.position;
    return lastUsedKnown;
}

double TickSteps::Predict(int64_t index) const
{
    if (track.size() < 3) {
        if (!track.empty())
            return track.back().position + slope * static_cast<double>(index - track.back().index);
        if (!waiting.empty())
            return waiting.back().position + slope * static_cast<double>(index - waiting.back().index);
        const Point& from = anchorKnown ? anchor : lastUsed;
        return from.position + slope * static_cast<double>(index - from.index);
    }
    double mx = 0, my = 0;
    for (const Point& p : track) {
        mx += static_cast<double>(p.index);
        my += p.position;
    }
    mx /= static_cast<double>(track.size());
    my /= static_cast<double>(track.size());
    double sxx = 0, sxy = 0;
    for (const Point& p : track) {
        sxx += (static_cast<double>(p.index) - mx) * (static_cast<double>(p.index) - mx);
        sxy += (static_cast<double>(p.index) - mx) * (p.position - my);
    }
    return my + sxy / sxx * (static_cast<double>(index) - mx);
}

double TickSteps::PredictionDeviation(double index, double scatter) const
{
    double mx = 0;
    for (const Point& p : track)
        mx += static_cast<double>(p.index);
    mx /= static_cast<double>(track.size());
    double sxx = 0;
    for (const Point& p : track)
        sxx += (static_cast<double>(p.index) - mx) * (static_cast<double>(p.index) - mx);
    const double n = static_cast<double>(track.size());
    return sxx > 0 ? scatter * std::sqrt(1 / n + (index - mx) * (index - mx) / sxx) : scatter;
}

double TickSteps::Scatter() const
{
    std::vector<double> r;
    for (const Point& p : track)
        r.push_back(std::fabs(p.position - Predict(p.index)));
    return std::max(SCATTER_FLOOR_SAMPLES, MAD_TO_DEVIATION * Median(r));
}

void TickSteps::Use(const Point& p)
{
    track.push_back(p);
    if (track.size() > TRACK_POINTS)
        track.pop_front();
    if (track.size() >= MIN_TRACK) {
        const double first = Predict(track.front().index), last = Predict(track.back().index);
        slope = (last - first) / static_cast<double>(track.back().index - track.front().index);
    }
    lastUsed = p;
    lastUsedKnown = true;
    anchorKnown = false;
}

// Whether the ticks waiting (their residuals off the line, the oldest
// first) show a step at the oldest.
bool TickSteps::LooksLikeStep(const std::vector<double>& all, double scatter, bool flushing) const
{
    std::vector<double> late, early;
    for (size_t i = 0; i < all.size(); ++i) {
        if (2 * i >= all.size())
            late.push_back(all[i]);
        if (i < 3)
            early.push_back(all[i]);
    }
    const double level = Median(all), lateLevel = Median(late), earlyLevel = Median(early);
    // The late half's median by chance, and the line's own error where it
    // is extrapolated to (the middle of the look-ahead).
    const double middle = static_cast<double>(waiting[waiting.size() / 2].index);
    const double medianDeviation = MEDIAN_EFFICIENCY * scatter / std::sqrt(static_cast<double>(late.size()));
    const double limit = std::max(STEP_DEVIATIONS * std::hypot(medianDeviation, PredictionDeviation(middle, scatter)), floorSamples);
    const bool enough = track.size() >= STEP_TRACK && (!flushing || waiting.size() >= LOOK_AHEAD / 2);
    // The judged tick itself, and the first few, at the new level; and
    // most of the look-ahead gathered there (a second path fading up for a
    // while splits them between two levels, a millisecond apart).
    const double own = all.front();
    size_t gathered = 0;
    for (double r : all)
        gathered += std::fabs(r - level) <= GATHERED_SCATTERS * scatter ? 1 : 0;
    return enough && std::fabs(level) > limit && std::fabs(lateLevel) > limit && level * lateLevel > 0 &&
           std::fabs(earlyLevel - level) < std::fabs(earlyLevel) && std::fabs(own - level) < std::fabs(own) &&
           static_cast<double>(gathered) >= GATHERED_SHARE * static_cast<double>(all.size());
}

void TickSteps::JudgeOldest(bool flushing)
{
    const Point p = waiting.front();
    Verdict v;
    v.index = p.index;
    if (track.size() < MIN_TRACK) {
        // Too few used to judge by: a robust line through them and those
        // waiting (a second path fading up in the first seconds must not
        // set the line the rest are judged by).
        std::vector<Point> near(track.begin(), track.end());
        near.insert(near.end(), waiting.begin(), waiting.end());
        const TrackLine line = RobustTrackLine(near, slope, SCATTER_FLOOR_SAMPLES);
        v.used = near.size() < 3 || std::fabs(p.position - line.At(static_cast<double>(p.index))) <= OUTLIER_SCATTERS * line.scatter;
    } else {
        const double scatter = Scatter();
        std::vector<double> all;
        for (const Point& w : waiting)
            all.push_back(w.position - Predict(w.index));
        const bool stepped = LooksLikeStep(all, scatter, flushing);
        if (stepped) {
            ++segment;
            ++steps;
            track.clear();
            v.used = true;
            v.jump = true;
        } else {
            // Off by more than the scatter and the line's own error there.
            v.used = std::fabs(all.front()) <= OUTLIER_SCATTERS * std::hypot(scatter, PredictionDeviation(static_cast<double>(p.index), scatter));
        }
    }
    // Every tick for a while off a line they should lie on: the line is
    // wrong (taken from a few ticks of a second path, a slope from too few
    // seconds), not they. Its ticks are judged afresh, as a segment's first.
    outliersInRow = v.used ? 0 : outliersInRow + 1;
    if (outliersInRow >= RESTART_OUTLIERS) {
        outliersInRow = 0;
        track.clear();
    }
    v.segment = segment;
    if (v.used)
        Use(p);
    verdicts.push_back(v);
    judgedUpTo = p.index;
    waiting.pop_front();
}
