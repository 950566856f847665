// The carriers the meter measures in full, warns about and refuses, by
// their share of the signal's rate.
#pragma once

#include <cstdint>
#include <string>

// Whether the meter measures a setting as well as its accuracy figures say.
// The burst (13 chips of 4 samples) is about a quarter of the rate wide
// either side of its carrier. From a tenth of the rate to three eighths it
// is measured in full (tests/meter/test_accuracy.cpp). Below a tenth its
// lower half reaches past 0 Hz, where it overlaps its own image: still
// measured, and its uncertainty still from the scatter, but less
// precisely, and a sound card's DC offset, hum or high-pass filter there
// move the figure by more than its uncertainty says. Above three eighths
// its upper half reaches the Nyquist frequency, which no converter or
// resampler passes alike (the meter leaves out what lies above 0.42 of
// the rate): there the fit loses the burst's shape. Below a twentieth,
// or above four tenths, the meter refuses.
enum class CarrierSupport { Supported, Warned, Refused };
struct CarrierCheck {
    CarrierSupport support = CarrierSupport::Supported;
    std::string reason;  // for Warned and Refused: why, in a sentence
};
constexpr double CARRIER_SUPPORTED_LOW = 0.1, CARRIER_SUPPORTED_HIGH = 0.375;  // of the signal's rate
constexpr double CARRIER_REFUSED_BELOW = 0.05, CARRIER_REFUSED_ABOVE = 0.4;
CarrierCheck CheckCarrier(int32_t signalRate, double carrierFrequency);
