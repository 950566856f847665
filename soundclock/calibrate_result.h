// The result of soundclock calibrate: a card's receive and transmit clocks
// against one reference, the loop's offset, and the corrections in the
// forms modem programs ask for; as lines on standard output or one JSON
// object, with the exit status.
#pragma once

#include "soundclock/json_writer.h"
#include "soundclock/options.h"

#include "meter/calibration.h"

#include <string>
#include <vector>

struct CalibrationReport {
    Calibration calibration;
    std::string reference;          // ReferenceName: "system", "pps", ...
    std::string referenceWords;     // "the second pulse"
    JsonObject referenceJson;       // the reference's own state
    std::string referenceLine;      // its words for people (may be empty)
    double seconds = 0;             // the run's length, or the figures' own
    std::vector<std::string> warnings;  // said, and in the JSON
    std::string partial;            // a device lost: the result covers what was measured until then
};

// The corrections for one side, for people: "actual rate 8000.37 Hz (...);
// error +46.3 ppm; correction -46.3 ppm; +0.0046 %".
std::string CorrectionText(const ClockFigure& figure);
// The once-a-second line while it runs.
std::string CalibrateLiveText(double seconds, const Calibration& calibration);

int PrintCalibration(const CalibrationReport& report, const ResultOptions& options, const CalibrateExpectation& expect);
