#include "meter/reference/tick_segments.h"

#include <algorithm>
#include <cmath>

namespace {

// A split: at least this many points on either side, the intercepts apart
// by this many deviations (after the correlation's widening), and at most
// this many splits in a run.
constexpr size_t SIDE_POINTS = 20;
constexpr double SPLIT_DEVIATIONS = 5.0;
constexpr double DOUBT_DEVIATIONS = 4.0;
constexpr int MAX_SPLITS = 8;
constexpr double CORRELATION_CAP = 0.95;

struct Moments {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    void Add(const SegmentPoint& p, double x0, double y0)
    {
        const double x = p.x - x0, y = p.y - y0, w = p.weight;
        n += w;
        sx += w * x;
        sy += w * y;
        sxx += w * x * x;
        sxy += w * x * y;
        syy += w * y * y;
    }
    Moments Minus(const Moments& o) const
    {
        return {n - o.n, sx - o.sx, sy - o.sy, sxx - o.sxx, sxy - o.sxy, syy - o.syy};
    }
    // Centred co-moments.
    double Cxx() const { return n > 0 ? sxx - sx * sx / n : 0; }
    double Cxy() const { return n > 0 ? sxy - sx * sy / n : 0; }
    double Cyy() const { return n > 0 ? syy - sy * sy / n : 0; }
};

struct Split {
    size_t at = 0;
    double step = 0, deviations = 0;
};

// The best split of points[from, to): the one that lowers the residual sum
// of squares the most.
Split BestSplit(const std::vector<SegmentPoint>& points, size_t from, size_t to)
{
    Split best;
    const size_t n = to - from;
    if (n < 2 * SIDE_POINTS)
        return best;
    const double x0 = points[from].x, y0 = points[from].y;
    std::vector<Moments> prefix(n + 1);
    for (size_t i = 0; i < n; ++i) {
        prefix[i + 1] = prefix[i];
        prefix[i + 1].Add(points[from + i], x0, y0);
    }
    const Moments& all = prefix[n];
    const double single = all.Cyy() - (all.Cxx() > 0 ? all.Cxy() * all.Cxy() / all.Cxx() : 0);
    double bestGain = 0, bestRss = 0;
    for (size_t j = SIDE_POINTS; j + SIDE_POINTS <= n; ++j) {
        const Moments left = prefix[j], right = all.Minus(prefix[j]);
        const double cxx = left.Cxx() + right.Cxx(), cxy = left.Cxy() + right.Cxy();
        if (cxx <= 0)
            continue;
        const double rss = left.Cyy() + right.Cyy() - cxy * cxy / cxx;
        if (single - rss > bestGain) {
            bestGain = single - rss;
            bestRss = rss;
            best.at = from + j;
            const double slope = cxy / cxx;
            best.step = (right.sy / right.n - slope * right.sx / right.n) - (left.sy / left.n - slope * left.sx / left.n);
        }
    }
    if (best.at == 0)
        return best;
    // The residuals' lag-one correlation under the split, and the step's
    // deviation from the gain: gain = step^2 / var(step) for the best split.
    const Moments left = prefix[best.at - from], right = all.Minus(prefix[best.at - from]);
    const double slope = (left.Cxy() + right.Cxy()) / (left.Cxx() + right.Cxx());
    double lagged = 0, squares = 0, previous = 0;
    for (size_t i = from; i < to; ++i) {
        const Moments& side = i < best.at ? left : right;
        const double intercept = side.sy / side.n - slope * side.sx / side.n;
        const double r = std::sqrt(points[i].weight) * ((points[i].y - y0) - intercept - slope * (points[i].x - x0));
        squares += r * r;
        if (i > from)
            lagged += r * previous;
        previous = r;
    }
    const double correlation = std::clamp(squares > 0 ? lagged / squares : 0.0, 0.0, CORRELATION_CAP);
    const double variance = bestRss / static_cast<double>(n - 3);
    const double widening = (1 + correlation) / (1 - correlation);
    best.deviations = variance > 0 ? std::sqrt(bestGain / (variance * widening)) : 0;
    return best;
}

}  // namespace

Splits SplitAtSteps(std::vector<SegmentPoint>& points, double floorSamples)
{
    Splits result;
    // Boundaries of the segments: where the segment changes.
    std::vector<size_t> cuts{0};
    for (size_t i = 1; i < points.size(); ++i)
        if (points[i].segment != points[i - 1].segment)
            cuts.push_back(i);
    cuts.push_back(points.size());
    for (bool found = true; found && result.added < MAX_SPLITS;) {
        found = false;
        Split best, doubtful;
        for (size_t k = 0; k + 1 < cuts.size(); ++k) {
            const Split s = BestSplit(points, cuts[k], cuts[k + 1]);
            if (s.at == 0 || std::fabs(s.step) < floorSamples)
                continue;
            if (s.deviations >= SPLIT_DEVIATIONS && s.deviations > best.deviations)
                best = s;
            else if (s.deviations >= DOUBT_DEVIATIONS && s.deviations > doubtful.deviations)
                doubtful = s;
        }
        if (best.at > 0) {
            cuts.insert(std::upper_bound(cuts.begin(), cuts.end(), best.at), best.at);
            ++result.added;
            found = true;
        } else {
            result.doubtfulAt = doubtful.at;
        }
    }
    for (size_t k = 0; k + 1 < cuts.size(); ++k)
        for (size_t i = cuts[k]; i < cuts[k + 1]; ++i)
            points[i].segment = static_cast<uint32_t>(k);
    return result;
}
