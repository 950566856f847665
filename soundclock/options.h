// What the command line asks for, once taken apart (command_line.cpp does
// that with CLI11): one struct per command, the numbers checked. The
// commands see only these, never the parser.
#pragma once

#include "meter/reference/reference_kind.h"

#include <string>

// Bad usage: the message goes to standard error with exit status 2.
struct UsageError {
    std::string message;
};

// `text` as a finite number, or UsageError "WHAT: not a number: TEXT".
double ParseNumber(const std::string& text, const std::string& what);
// A whole number in [lowest, highest], or UsageError.
long ParseInteger(const std::string& text, const std::string& what, long lowest, long highest);

// The sample rates a sound card plays and records, for the signal and
// for every rate a command opens a device or reads raw samples at.
constexpr int LOWEST_CARD_RATE = 1000;
constexpr int HIGHEST_CARD_RATE = 384000;
// A rate in that range, or UsageError.
int ParseRate(const std::string& text, const std::string& what);

// The signal's settings: STANAG.SET in the working directory, as the
// programs read it, then --rate/--carrier (or --signal-rate) on top.
struct SignalChoice {
    int rate = 0;
    double carrier = 0;
};
SignalChoice SettingsFromFile();
// Refuses settings the burst cannot be made or found with.
void CheckSignalChoice(const SignalChoice& choice);

// The offset as it moves (track_output.h): windows of intervalSeconds
// (0: none) and their CSV, the Allan deviation's CSV.
struct TrackOptions {
    double intervalSeconds = 0;
    std::string trackFile;
    std::string adevFile;
};

// Where a measurement's result goes and when it counts as within: the
// same for a file, a device and the loop.
struct ResultOptions {
    std::string csv;  // one row per burst; empty: none
    bool json = false;
    bool quiet = false;
    bool haveExpect = false;
    double expect = 0, tolerance = 0;
    TrackOptions track;
};

struct SignalOptions {
    SignalChoice signal;
    double seconds = -1;  // -1: without end
    // to a file or standard output
    std::string output = "-";
    bool raw = false;
    // or played on a device
    bool toDevice = false;
    std::string device;
};

// Where a measurement's samples come from: a recording, or a device's
// capture (measure, rate).
struct InputChoice {
    // a recording
    std::string input = "-";
    bool raw = false;
    int rawRate = 0;
    // or a device, recorded at deviceRate (0: the command's default)
    bool fromDevice = false;
    std::string device;
    int deviceRate = 0;
    std::string save;  // the capture as WAV too; empty: not kept
    // the channel measured, 0-based; -1: the first
    int channel = -1;
};

struct MeasureOptions {
    ResultOptions result;
    SignalChoice signal;
    double seconds = -1;  // -1: all of it (a device: until Ctrl-C)
    InputChoice source;
};

struct LoopOptions {
    ResultOptions result;
    SignalChoice signal;  // played at signal.rate
    double seconds = -1;
    std::string play, record;
    int recordRate = 0;  // 0: the signal's rate
    int channel = -1;    // of the capture, 0-based; -1: not given (the first, or the device's mix)
    std::string save;
};

struct RateOptions {
    ResultOptions result;
    SignalChoice signal;  // a device opens at signal.rate; a playback plays the signal
    ReferenceKind reference;
    // a device (the system clock's stamps, or a reference in its capture),
    // or a recording (a reference in it)
    InputChoice source;
    bool playback = false;
    bool silence = false;  // playback: zeros instead of the signal
    double seconds = -1;   // -1: until Ctrl-C, or the recording's end
};

// What calibrate's exit status is judged by: --expect-receive and
// --expect-transmit, each within --tolerance.
struct CalibrateExpectation {
    bool haveReceive = false, haveTransmit = false;
    double receive = 0, transmit = 0, tolerance = 0;
};

struct CalibrateOptions {
    ResultOptions result;
    CalibrateExpectation expect;
    SignalChoice signal;  // played at signal.rate (--rate R)
    ReferenceKind reference;
    std::string device;   // its input is recorded, its output played
    std::string play;     // the output, when it is another device name; empty: `device`
    int channel = -1;     // the reference's input channel, 0-based; -1: the default
    int loopChannel = -1; // the looped-back signal's input (and output) channel; -1: the default
    int recordRate = 0;   // 0: the signal's rate
    double seconds = -1;
    std::string save;     // the capture as WAV too
    // or two results saved earlier (rate --json, loop --json)
    std::string rateFile, loopFile;
};

// --reference KIND: "system", "pps", "tone:HZ", "ticks:wwv", "ticks:wwvh",
// "ticks:chu"; UsageError otherwise.
ReferenceKind ParseReference(const std::string& text);
