#include "meter/allan_deviation.h"

#include <cmath>
#include <limits>

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

double SecondDifference(const std::vector<double>& x, size_t i, size_t m)
{
    return x[i + 2 * m] - 2 * x[i + m] + x[i];
}

}  // namespace

AllanResult AllanDeviation(const std::vector<double>& phase, size_t m, size_t stride, double tau0)
{
    AllanResult result;
    result.deviation = NOT_A_NUMBER;
    if (m == 0 || stride == 0 || phase.size() <= 2 * m)
        return result;
    double sum = 0;
    for (size_t i = 0; i + 2 * m < phase.size(); i += stride) {
        const double d = SecondDifference(phase, i, m);
        if (std::isnan(d))
            continue;
        sum += d * d;
        ++result.terms;
    }
    if (result.terms > 0) {
        const double tau = static_cast<double>(m) * tau0;
        result.deviation = std::sqrt(sum / (2 * tau * tau * static_cast<double>(result.terms)));
    }
    return result;
}

// Each term is a sum of m consecutive second differences; the sum slides
// along the series, so a tau costs one pass whatever m is.
AllanResult ModifiedAllanDeviation(const std::vector<double>& phase, size_t m, double tau0)
{
    AllanResult result;
    result.deviation = NOT_A_NUMBER;
    if (m == 0 || phase.size() < 3 * m + 1)
        return result;
    const size_t differences = phase.size() - 2 * m;
    double window = 0;
    size_t missing = 0;
    double sum = 0;
    for (size_t i = 0; i < differences; ++i) {
        const double d = SecondDifference(phase, i, m);
        if (std::isnan(d))
            ++missing;
        else
            window += d;
        if (i >= m) {
            const double leaving = SecondDifference(phase, i - m, m);
            if (std::isnan(leaving))
                --missing;
            else
                window -= leaving;
        }
        if (i + 1 >= m && missing == 0) {
            sum += window * window;
            ++result.terms;
        }
    }
    if (result.terms > 0) {
        // Each term averages m second differences over m tau0: m^2 tau0 in all.
        const double scale = static_cast<double>(m) * static_cast<double>(m) * tau0;
        result.deviation = std::sqrt(sum / (2 * scale * scale * static_cast<double>(result.terms)));
    }
    return result;
}

std::vector<size_t> DecadeAveragingFactors(double tau0Seconds, size_t count, double unitSeconds)
{
    std::vector<size_t> factors;
    if (tau0Seconds <= 0 || count < 5)
        return factors;
    const size_t longest = (count - 1) / 4;
    static const double STEPS[] = {1, 2, 5};
    for (double decade = unitSeconds;; decade *= 10) {
        for (double step : STEPS) {
            const double m = std::round(step * decade / tau0Seconds);
            if (m > static_cast<double>(longest))
                return factors;
            if (m >= 1 && (factors.empty() || static_cast<size_t>(m) > factors.back()))
                factors.push_back(static_cast<size_t>(m));
        }
    }
}

std::vector<StabilityPoint> StabilityTable(const std::vector<double>& phase, double tau0, double tau0Seconds)
{
    std::vector<StabilityPoint> table;
    for (size_t m : DecadeAveragingFactors(tau0Seconds, phase.size())) {
        StabilityPoint point;
        point.tauSeconds = static_cast<double>(m) * tau0Seconds;
        point.adev = AllanDeviation(phase, m, 1, tau0);
        point.mdev = ModifiedAllanDeviation(phase, m, tau0);
        table.push_back(point);
    }
    return table;
}
