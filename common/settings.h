// The settings file "STANAG.SET": the sample rate and the carrier frequency
// both programs run with, read once at start-up.
//
// Usage, once in each program's start procedure, before the main dialog:
//     const ReceiverSettings settings = LoadSettings<float>();      // quorvane
//     const TransmitterSettings settings = LoadSettings<double>();  // pharolet
//
// The file holds the rate, then the carrier, as plain text; the usual file
// is two lines ended by CR LF, and "9600,1800" or "9600 1800" on one line
// read the same. How the text is split into values is described in
// settings_values.h, how a value becomes a number in settings_number.h.
// A line feed alone does not separate values: "8000\n1500\n" reads as the
// one value 80001500 (the rate), and the carrier gets its default.
//
// The rate is rounded to the nearest integer, halves to even (8000.5 ->
// 8000, 8001.5 -> 8002), from the value converted to a long double. The
// carrier is converted straight into the program's type: a float in the
// receiver, a double in the transmitter. After that, each value that is
// exactly 0 (missing, unreadable, written as 0, or too small for its type)
// takes its default on its own: 8000 and 1500. Negative values and rates no
// sound card can do are kept; they fail, if at all, where they are used.
//
// Out of range, clamped: a rate beyond the signed 32-bit range becomes
// INT32_MAX or INT32_MIN, and a carrier too large for its type (1e39 in the
// receiver's float, 1e999 anywhere) becomes the largest finite value of the
// type with its sign. An impossible rate is thus still an impossible rate,
// refused visibly where the sound device is opened, instead of being
// silently replaced by the default. The values are always finite.
//
// A missing, locked or unreadable file gives the defaults. Only the first
// SETTINGS_READ_LIMIT bytes are read; the reader behaves as if the file
// ended there. Nothing about the file is ever reported to the user.
#pragma once

#include "common/signal_facts.h" // DEFAULT_SAMPLE_RATE, DEFAULT_CARRIER_FREQUENCY

#include <cstddef>
#include <cstdint>

constexpr const char* SETTINGS_FILE_NAME = "STANAG.SET";
constexpr size_t SETTINGS_READ_LIMIT = 64 * 1024;

template <typename Carrier>
struct Settings {
    int32_t sampleRate;        // samples per second
    Carrier carrierFrequency;  // Hz
};

using ReceiverSettings = Settings<float>;
using TransmitterSettings = Settings<double>;

// The settings held in `data` as the file's bytes (defaults applied).
// Instantiated for float and double carriers.
template <typename Carrier>
Settings<Carrier> ParseSettings(const char* data, size_t size);

// Reads the settings file, by default "STANAG.SET" in the current directory.
template <typename Carrier>
Settings<Carrier> LoadSettings(const char* path = SETTINGS_FILE_NAME);
