#include "meter/steadiness.h"

#include "meter/line_fit.h"

#include <algorithm>
#include <cmath>

namespace {

// A wander window holds at least this many bursts whatever the rate (at
// 8000 Hz it holds 31): enough residuals for its slope's own scatter.
constexpr int64_t MIN_WANDER_WINDOW_BLOCKS = 8;
// The quadratic's normal equations are singular where their determinant
// is this small against the product of its terms (u and u^2 alike over
// the points): no drift is judged then.
constexpr double SINGULAR = 1e-12;

// z with P(Z > z) = tail for a standard normal Z, by bisection.
double NormalQuantile(double tail)
{
    double low = -40, high = 40;
    for (int i = 0; i < 200; ++i) {
        const double mid = (low + high) / 2;
        if (0.5 * std::erfc(mid / std::sqrt(2.0)) > tail)
            low = mid;
        else
            high = mid;
    }
    return (low + high) / 2;
}

// The whole run's fit d = a_stretch + b u + c u^2, with u running from -1
// to 1 over the run (so that the squares stay well conditioned).
struct QuadraticFit {
    bool valid = false;
    double b = 0, c = 0;       // samples per u, per u^2
    double middle = 0, half = 1;  // u = (k - middle) / half
    double residualVariance = 0;
    double varianceOfCPerUnit = 0;  // Var(c) for a point variance of 1
    int64_t points = 0;
};

QuadraticFit FitQuadratic(const std::vector<double>& delay, const std::vector<size_t>& starts)
{
    QuadraticFit fit;
    const size_t n = delay.size();
    fit.middle = (static_cast<double>(n) - 1) / 2;
    fit.half = std::max(fit.middle, 1.0);
    const auto at = [&fit](size_t k) { return (static_cast<double>(k) - fit.middle) / fit.half; };
    double suu = 0, suq = 0, sqq = 0, sud = 0, sqd = 0, sdd = 0;
    size_t stretches = 0;
    for (size_t s = 0; s < starts.size(); ++s) {
        const size_t begin = starts[s], end = s + 1 < starts.size() ? starts[s + 1] : n;
        double count = 0, meanU = 0, meanQ = 0, meanD = 0;
        for (size_t k = begin; k < end; ++k) {
            if (std::isnan(delay[k]))
                continue;
            const double u = at(k);
            ++count;
            meanU += (u - meanU) / count;
            meanQ += (u * u - meanQ) / count;
            meanD += (delay[k] - meanD) / count;
        }
        if (count == 0)
            continue;
        ++stretches;
        for (size_t k = begin; k < end; ++k) {
            if (std::isnan(delay[k]))
                continue;
            const double u = at(k);
            const double du = u - meanU, dq = u * u - meanQ, dd = delay[k] - meanD;
            suu += du * du;
            suq += du * dq;
            sqq += dq * dq;
            sud += du * dd;
            sqd += dq * dd;
            sdd += dd * dd;
        }
        fit.points += static_cast<int64_t>(count);
    }
    const double determinant = suu * sqq - suq * suq;
    const int64_t freedom = fit.points - static_cast<int64_t>(stretches) - 2;
    if (freedom < 1 || !(determinant > SINGULAR * suu * sqq))
        return fit;
    fit.b = (sqq * sud - suq * sqd) / determinant;
    fit.c = (suu * sqd - suq * sud) / determinant;
    fit.residualVariance = std::max(0.0, sdd - fit.b * sud - fit.c * sqd) / static_cast<double>(freedom);
    fit.varianceOfCPerUnit = suu / determinant;
    fit.valid = true;
    return fit;
}

// A short window's own line: its slope, and what its scatter says.
struct WindowSlope {
    double slope = 0;   // samples per burst
    double centre = 0;  // the bursts' mean index
    double sumXX = 0;
    double squares = 0;  // of the residuals
    int64_t freedom = 0, points = 0;
};

std::vector<WindowSlope> FitWindows(const std::vector<double>& delay, const std::vector<size_t>& starts, size_t length)
{
    std::vector<WindowSlope> windows;
    const size_t n = delay.size();
    const size_t count = std::max<size_t>(1, n / length);
    size_t nextStart = 0;
    for (size_t w = 0; w < count; ++w) {
        const size_t begin = n * w / count, end = n * (w + 1) / count;
        while (nextStart < starts.size() && starts[nextStart] <= begin)
            ++nextStart;
        SegmentedLineFit line;
        double sumK = 0;
        for (size_t k = begin, stretch = nextStart; k < end; ++k) {
            if (stretch < starts.size() && starts[stretch] == k) {
                line.StartSegment();
                ++stretch;
            }
            if (std::isnan(delay[k]))
                continue;
            line.Add(static_cast<long double>(k), delay[k]);
            sumK += static_cast<double>(k);
        }
        if (line.Freedom() < 1 || line.SumXX() <= 0)
            continue;
        WindowSlope window;
        window.slope = static_cast<double>(line.Slope());
        window.points = line.Count();
        window.centre = sumK / static_cast<double>(window.points);
        window.sumXX = static_cast<double>(line.SumXX());
        window.freedom = line.Freedom();
        const double deviation = static_cast<double>(line.ResidualDeviation());
        window.squares = deviation * deviation * static_cast<double>(window.freedom);
        windows.push_back(window);
    }
    return windows;
}

// The wander: each window's slope about the drift's line at its centre,
// their chi-square against its limit and the sine it amounts to, into
// `result`. Returns Birge's ratio, at least 1, by which the windows'
// scatter exceeds their noise (`runVariance`: the run's residuals', where
// the windows have none).
double JudgeWander(const std::vector<WindowSlope>& windows, double runVariance, double floorVariance, Steadiness& result)
{
    double squares = 0;
    int64_t freedom = 0;
    for (const WindowSlope& w : windows) {
        squares += w.squares;
        freedom += w.freedom;
    }
    const double noiseVariance = freedom > 0 ? squares / static_cast<double>(freedom) : runVariance;
    // The windows' slopes are independent (each window has its own
    // intercept): about a line through them, weighted by their variances,
    // their chi-square has W - 2 degrees of freedom when the drift was a
    // straight one.
    SegmentedLineFit trend;
    double sumNoise2 = 0;
    for (const WindowSlope& w : windows) {
        // The systematic error's worst on a slope: all of it along the line.
        const double variance = (noiseVariance + floorVariance * static_cast<double>(w.points)) / w.sumXX;
        trend.Add(w.centre, w.slope, 1 / variance);
        sumNoise2 += noiseVariance / w.sumXX;
    }
    double chiSquare = 0, sumDeviation2 = 0;
    if (trend.Freedom() >= 1 && trend.SumXX() > 0) {
        const double deviation = static_cast<double>(trend.ResidualDeviation());
        chiSquare = deviation * deviation * static_cast<double>(trend.Freedom());
        for (const WindowSlope& w : windows) {
            const double off = w.slope - static_cast<double>(trend.Predict(w.centre));
            sumDeviation2 += off * off;
        }
    }
    result.wanderFreedom = trend.Freedom();
    double birge = 1;
    if (result.wanderFreedom >= 1) {
        result.wanderChiSquare = chiSquare;
        result.wanderLimit = ChiSquareLimit(static_cast<double>(result.wanderFreedom), FALSE_ALARM / 2);
        result.wanders = chiSquare > result.wanderLimit;
        birge = std::max(1.0, std::sqrt(chiSquare / static_cast<double>(result.wanderFreedom)));
        const double excess = std::max(0.0, (sumDeviation2 - sumNoise2) / static_cast<double>(windows.size()));
        result.wanderPpm = std::sqrt(2 * excess) * TO_PPM;
    }
    return birge;
}

}  // namespace

double ChiSquareLimit(double freedom, double tail)
{
    const double z = NormalQuantile(tail);
    const double spread = 2 / (9 * freedom);
    const double root = 1 - spread + z * std::sqrt(spread);
    return freedom * root * root * root;
}

Steadiness JudgeSteadiness(const std::vector<double>& delay, const std::vector<size_t>& stretchStarts,
                           const SteadinessSettings& settings)
{
    Steadiness result;
    const QuadraticFit fit = FitQuadratic(delay, stretchStarts);
    if (!fit.valid || settings.blockSeconds <= 0)
        return result;
    result.valid = true;
    const double floorVariance = settings.systematicSamples * settings.systematicSamples;

    // The wander, over windows of WANDER_WINDOW_SECONDS.
    const size_t windowLength = static_cast<size_t>(
        std::max<double>(MIN_WANDER_WINDOW_BLOCKS, std::round(WANDER_WINDOW_SECONDS / settings.blockSeconds)));
    const std::vector<WindowSlope> windows = FitWindows(delay, stretchStarts, windowLength);
    const double birge = JudgeWander(windows, fit.residualVariance, floorVariance, result);

    // The drift, its uncertainty widened by the wander the windows show
    // (which the run's residuals, taken as white, would understate).
    const double cUncertainty = std::sqrt(
        (fit.residualVariance * birge * birge + floorVariance * static_cast<double>(fit.points)) * fit.varianceOfCPerUnit);
    const double perBurst2 = 2 / (fit.half * fit.half) * TO_PPM;  // ppm per burst per unit of c
    const double burstsPerMinute = 60 / settings.blockSeconds;
    result.driftPpmPerMinute = fit.c * perBurst2 * burstsPerMinute;
    result.driftUncertaintyPpmPerMinute = cUncertainty * perBurst2 * burstsPerMinute;
    result.driftScore = cUncertainty > 0 ? std::fabs(fit.c) / cUncertainty : 0;
    result.drifts = result.driftScore > NormalQuantile(FALSE_ALARM / 4);
    // Where it started and ended: the first and last tenth of the run, as
    // measured (a warm-up is no straight drift: the fit's ends would miss it).
    const std::vector<WindowSlope> tenths = FitWindows(delay, stretchStarts, std::max(windowLength, delay.size() / 10));
    if (!tenths.empty()) {
        result.startPpm = tenths.front().slope * TO_PPM;
        result.endPpm = tenths.back().slope * TO_PPM;
    }
    result.steady = !result.drifts && !result.wanders;
    return result;
}
