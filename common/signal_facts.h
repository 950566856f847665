// What the transmitter sends and the receiver looks for, defined once: the
// settings' defaults, the Barker code and pi.
#pragma once

#include <cstdint>

// The sample rate and the carrier both programs run with when the settings
// file gives none (or 0).
constexpr int32_t DEFAULT_SAMPLE_RATE = 8000;
constexpr int DEFAULT_CARRIER_FREQUENCY = 1500;

// The 13 chips of the Barker code, in the order they are sent.
constexpr int BARKER_LENGTH = 13;
constexpr int8_t BARKER_CHIPS[BARKER_LENGTH] = {+1, +1, +1, +1, +1, -1, -1, +1, +1, -1, +1, -1, +1};

// pi to full extended precision; as a double it is the double nearest pi.
constexpr long double PI = 3.14159265358979323846264338327950288L;
