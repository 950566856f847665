#include "meter/reference/tone_steadiness.h"

#include "meter/reference/line_sums.h"
#include "meter/reference/tone_demodulator.h"
#include "meter/reference/tone_words.h"
#include "meter/steadiness.h"

#include <algorithm>
#include <cmath>

namespace {

// A window's slope needs a few points beyond its two parameters.
constexpr double MIN_WINDOW_POINTS = 4;

struct WindowSlope {
    double seconds = 0;   // its middle, in the tone's time
    double slope = 0;     // of the residuals: samples per second
    double sxx = 0;
    double variance = 0;  // of the slope
};


std::vector<WindowSlope> WindowSlopes(const std::vector<TonePoint>& points, const RobustLine& line,
                                      const ToneFitSettings& settings)
{
    std::vector<WindowSlope> windows;
    double squares = 0, freedom = 0;
    LineSums sums;
    auto close = [&] {
        if (sums.n >= MIN_WINDOW_POINTS && sums.xx > 0) {
            windows.push_back({sums.x, sums.Slope(), sums.xx, 0});
            squares += std::max(0.0, sums.Squares());
            freedom += sums.n - 2;
        }
        sums = LineSums();
    };
    uint32_t segment = 0;
    double windowStart = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const TonePoint& p = points[i];
        if (p.index % BLOCK_OVERLAP != 0 || !line.kept[i])
            continue;
        if (sums.n == 0 || p.segment != segment || p.seconds - windowStart >= WANDER_WINDOW_SECONDS) {
            close();
            segment = p.segment;
            windowStart = p.seconds;
        }
        sums.Add(p.seconds, line.residuals[i]);
    }
    close();
    const double floor = SYSTEMATIC_CYCLES * settings.sampleRate / settings.toneHz;
    const double pooled = (freedom > 0 ? squares / freedom : 0) + floor * floor;
    for (WindowSlope& w : windows)
        w.variance = pooled / w.sxx;
    return windows;
}

// Chi-square of slopes [from, to) about their weighted mean.
double ChiSquareAbout(const std::vector<WindowSlope>& windows, size_t from, size_t to, double* mean = nullptr)
{
    double weights = 0, sum = 0;
    for (size_t w = from; w < to; ++w) {
        weights += 1 / windows[w].variance;
        sum += windows[w].slope / windows[w].variance;
    }
    const double level = sum / weights;
    double chi = 0;
    for (size_t w = from; w < to; ++w)
        chi += (windows[w].slope - level) * (windows[w].slope - level) / windows[w].variance;
    if (mean)
        *mean = level;
    return chi;
}

// The words for a tone that moved: a jump if one step between two levels
// explains the windows, else a wander.
std::string Moved(const std::vector<WindowSlope>& windows, double chi, double limit, double toPpm)
{
    const size_t count = windows.size();
    size_t best = 1;
    double bestChi = -1, before = 0, after = 0;
    for (size_t split = 1; split < count; ++split) {
        double a = 0, b = 0;
        const double c = ChiSquareAbout(windows, 0, split, &a) + ChiSquareAbout(windows, split, count, &b);
        if (bestChi < 0 || c < bestChi) {
            bestChi = c;
            best = split;
            before = a;
            after = b;
        }
    }
    if (bestChi <= ChiSquareLimit(static_cast<double>(count - 2), FALSE_ALARM)) {
        const double at = (windows[best - 1].seconds + windows[best].seconds) / 2;
        return "the rate against the tone jumped by " + FixedPoint((after - before) * toPpm, 4) + " ppm near " +
               FixedPoint(at, 0) + " s: the card's clock or the tone stepped";
    }
    double mean = 0, spread = 0, noise = 0;
    ChiSquareAbout(windows, 0, count, &mean);
    for (const WindowSlope& w : windows) {
        spread += (w.slope - mean) * (w.slope - mean);
        noise += w.variance;
    }
    const double wander = std::sqrt(std::max(0.0, spread - noise) / static_cast<double>(count)) * toPpm;
    return "the rate against the tone wandered by " + FixedPoint(wander, 4) + " ppm RMS between " +
           FixedPoint(WANDER_WINDOW_SECONDS, 0) + "-s windows (chi-square " + FixedPoint(chi, 0) + " for " +
           std::to_string(count) + " windows, limit " + FixedPoint(limit, 0) + "): the card's clock or the tone moved";
}

}  // namespace

ToneSteadiness JudgeToneSteadiness(const std::vector<TonePoint>& points, const RobustLine& line,
                                   const ToneFitSettings& settings)
{
    ToneSteadiness result;
    const std::vector<WindowSlope> windows = WindowSlopes(points, line, settings);
    if (windows.size() < 3 || !(windows.front().variance > 0))
        return result;
    result.judged = true;
    const double chi = ChiSquareAbout(windows, 0, windows.size());
    const double freedom = static_cast<double>(windows.size() - 1);
    const double limit = ChiSquareLimit(freedom, FALSE_ALARM);
    if (chi <= limit)
        return result;
    // Only where the windows show more than noise: below, the ratio's own
    // scatter (from a few windows) would only add to the uncertainty.
    result.steady = false;
    result.birge = std::sqrt(chi / freedom);
    result.words = Moved(windows, chi, limit, 1e6 / settings.sampleRate);
    return result;
}
