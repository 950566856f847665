#include "receiver/dsp/readout.h"

#include "common/rounding.h"

#include <cstdio>

std::string FormatPeakText(int32_t lag)
{
    // %d would write no sign position for lags >= 0, so write it by hand;
    // the magnitude goes through int64 so INT32_MIN has one too.
    const long long magnitude = lag < 0 ? -static_cast<long long>(lag) : lag;
    char text[48];
    std::snprintf(text, sizeof text, "Correlation peak at %c%lld samples",
                  lag < 0 ? '-' : ' ', magnitude);
    return text;
}

std::string FormatClockText(long double clockCorrection)
{
    // Round the percentage to whole thousandths first, then decide the
    // sign: a correction that rounds to zero shows "0.000%", never "-0.000%".
    const long double percent = clockCorrection * 100.0L;
    const long long thousandths = RoundHalfEven(percent * 1000.0L);
    const unsigned long long magnitude =
        thousandths < 0 ? 0ULL - static_cast<unsigned long long>(thousandths)
                        : static_cast<unsigned long long>(thousandths);
    char text[64];
    std::snprintf(text, sizeof text, "Clock error %s%llu.%03llu%%",
                  thousandths < 0 ? "-" : "", magnitude / 1000, magnitude % 1000);
    return text;
}
