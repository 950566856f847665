// The receiver's two readouts as seen from the signal processing: the
// shell implements them over its labels.
#pragma once

#include <cstdint>
#include <string>

class ReadoutSink {
public:
    virtual ~ReadoutSink() = default;
    // The peak label, e.g. "Correlation peak at  37 samples".
    virtual void SetPeakText(const char* text) = 0;
    // The clock label, e.g. "Clock error 0.200%".
    virtual void SetClockText(const char* text) = 0;
};

// "Correlation peak at " + the lag with one sign position (blank when not
// negative) + " samples".
std::string FormatPeakText(int32_t lag);

// "Clock error " + correction * 100 with exactly three decimals, rounded
// half to even, a "-" only when the rounded value is below zero, then "%".
std::string FormatClockText(long double clockCorrection);
