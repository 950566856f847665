#include "soundclock/text_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

std::string Fixed(double value, int decimals, bool sign)
{
    char text[64];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
    // A value that rounds to zero has no sign ("-0.000000" reads as a
    // direction the figure does not have).
    if (text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1))
        text[0] = sign ? '+' : '\0';
    return text[0] == '\0' ? std::string(text + 1) : std::string(text);
}

std::string Counted(int64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

namespace {

// The power of ten of the uncertainty's first significant digit, after it
// is rounded to two (0.0995 rounds to 0.10: its first digit is then at -1).
int LeadingPower(double uncertainty)
{
    int power = static_cast<int>(std::floor(std::log10(uncertainty)));
    const double step = std::pow(10.0, power - 1);
    if (std::nearbyint(uncertainty / step) * step >= std::pow(10.0, power + 1))
        ++power;
    return power;
}

bool Usable(double uncertainty)
{
    return std::isfinite(uncertainty) && uncertainty > 0;
}

}  // namespace

int UncertaintyDecimals(double uncertainty)
{
    if (!Usable(uncertainty))
        return MAX_UNCERTAINTY_DECIMALS;
    return std::clamp(1 - LeadingPower(uncertainty), 0, MAX_UNCERTAINTY_DECIMALS);
}

std::string UncertaintyText(double uncertainty)
{
    const int decimals = UncertaintyDecimals(uncertainty);
    const double last = std::pow(10.0, -decimals);
    if (!Usable(uncertainty) || uncertainty < last / 2)
        return Fixed(last, decimals);
    // Past two digits before the point (760 for 755) it is rounded to two
    // significant digits as well.
    const int power = LeadingPower(uncertainty);
    if (power >= 2) {
        const double step = std::pow(10.0, power - 1);
        return Fixed(std::nearbyint(uncertainty / step) * step, 0);
    }
    return Fixed(uncertainty, decimals);
}

std::string FigureText(double value, double uncertainty, const std::string& unit)
{
    return Fixed(value, UncertaintyDecimals(uncertainty), true) + " " + unit + " +- " + UncertaintyText(uncertainty) + " " + unit;
}
