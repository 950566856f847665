#include "meter/stitched_series.h"

#include <cmath>

double RecentSlope(const std::vector<double>& series, int points)
{
    size_t last = series.size(), first = series.size();
    int found = 0;
    for (size_t i = series.size(); i-- > 0 && found < points;) {
        if (std::isnan(series[i]))
            continue;
        if (found == 0)
            last = i;
        first = i;
        ++found;
    }
    if (found < 2)
        return 0;
    return (series[last] - series[first]) / static_cast<double>(last - first);
}

double StitchAt(const std::vector<double>& series, size_t index, double value, int slopePoints)
{
    size_t previous = series.size();
    while (previous > 0 && std::isnan(series[previous - 1]))
        --previous;
    if (previous == 0)
        return 0;
    return series[previous - 1] + RecentSlope(series, slopePoints) * static_cast<double>(index - (previous - 1)) - value;
}
