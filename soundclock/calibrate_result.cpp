#include "soundclock/calibrate_result.h"
#include "soundclock/commands.h"
#include "soundclock/failure.h"
#include "soundclock/text_format.h"

#include <cmath>
#include <cstdio>

namespace {

// The rates a modem program is commonly set to, besides the one measured.
constexpr double OTHER_RATES[] = {8000, 11025, 12000, 44100, 48000};

std::string HzText(double hz, const ClockFigure& f)
{
    // The rate to the decimal place of its uncertainty in Hz.
    return Fixed(hz, UncertaintyDecimals(f.uncertaintyPpm * 1e-6 * hz)) + " Hz";
}

bool Within(double value, bool have, double expected, double tolerance)
{
    return !have || std::fabs(value - expected) <= tolerance;
}

std::string SideLine(const char* side, const ClockFigure& f, const std::string& against)
{
    return std::string(side) + " clock " + FigureText(f.ppm, f.uncertaintyPpm, "ppm") + " against " + against + ": " +
           HzText(f.RateHz(), f) + " for " + Fixed(f.nominalRate, 0) + " Hz (" +
           (std::fabs(f.ppm) <= 2 * f.uncertaintyPpm ? "within the uncertainty of its nominal rate"
            : f.ppm > 0                              ? "fast"
                                                     : "slow") +
           ")";
}

JsonObject SideJson(const ClockFigure& f)
{
    return JsonObject()
        .Number("ppm", f.ppm, 6)
        .Number("uncertainty_ppm", f.uncertaintyPpm, 6)
        .Number("rate_hz", f.RateHz(), 8)
        .Number("nominal_rate_hz", f.nominalRate, 0)
        .Number("correction_ppm", -f.ppm, 6)
        .Number("percent", f.ppm * 1e-4, 8);
}

JsonObject ReportJson(const CalibrationReport& report, const ResultOptions& options, bool within)
{
    const Calibration& c = report.calibration;
    JsonObject json;
    json.Object("receive", SideJson(c.receive))
        .Object("transmit", SideJson(c.transmit))
        .Number("loop_offset_ppm", c.loop.ppm, 6)
        .Number("loop_offset_uncertainty_ppm", c.loop.uncertaintyPpm, 6)
        .Number("loop_excess_ppm", c.loopExcessPpm, 6)
        .Number("play_rate_hz", c.loop.playRate, 0)
        .Number("record_rate_hz", c.loop.recordRate, 0)
        .Object("reference", JsonObject().String("kind", report.reference).Append(report.referenceJson))
        .Number("seconds", report.seconds, 3);
    std::string warnings = "[";
    for (size_t i = 0; i < report.warnings.size(); ++i)
        warnings += (i > 0 ? "," : "") + JsonString(report.warnings[i]);
    json.Raw("warnings", warnings + "]").Bool("partial", !report.partial.empty());
    if (!report.partial.empty())
        json.String("partial_reason", report.partial);
    if (options.haveExpect || within == false)
        json.Bool("within_tolerance", within);
    return json;
}

}  // namespace

std::string CorrectionText(const ClockFigure& f)
{
    std::string text = "actual rate " + HzText(f.RateHz(), f) + " (";
    bool first = true;
    for (double rate : OTHER_RATES) {
        if (rate == f.nominalRate)
            continue;
        text += (first ? "" : ", ") + HzText(rate * (1 + f.ppm * 1e-6), f) + " at " + Fixed(rate, 0);
        first = false;
    }
    const int decimals = UncertaintyDecimals(f.uncertaintyPpm);
    return text + "); error " + Fixed(f.ppm, decimals, true) + " ppm; correction " + Fixed(-f.ppm, decimals, true) +
           " ppm; " + Fixed(f.ppm * 1e-4, decimals + 4, true) + " %";
}

std::string CalibrateLiveText(double seconds, const Calibration& c)
{
    std::string text = Fixed(seconds, 1) + " s, ";
    text += c.receive.valid ? "receive " + FigureText(c.receive.ppm, c.receive.uncertaintyPpm, "ppm") : "receive: waiting";
    text += c.valid ? ", transmit " + FigureText(c.transmit.ppm, c.transmit.uncertaintyPpm, "ppm")
                    : (c.loop.valid ? ", transmit: waiting" : ", the loop: waiting for the test signal");
    return text;
}

int PrintCalibration(const CalibrationReport& report, const ResultOptions& options, const CalibrateExpectation& expect)
{
    const Calibration& c = report.calibration;
    const bool within = Within(c.receive.ppm, expect.haveReceive, expect.receive, expect.tolerance) &&
                        Within(c.transmit.ppm, expect.haveTransmit, expect.transmit, expect.tolerance);
    ResultOptions jsonOptions = options;
    jsonOptions.haveExpect = expect.haveReceive || expect.haveTransmit;
    if (options.json)
        std::printf("%s\n", ReportJson(report, jsonOptions, within).Text().c_str());
    else {
        std::printf("%s\n", SideLine("receive (capture)", c.receive, report.referenceWords).c_str());
        std::printf("%s\n", SideLine("transmit (playback)", c.transmit, report.referenceWords).c_str());
        std::printf("loop offset %s (the input against the output; %s beyond the nominal rates' ratio)\n",
                    FigureText(c.loop.ppm, c.loop.uncertaintyPpm, "ppm").c_str(),
                    Fixed(c.loopExcessPpm, UncertaintyDecimals(c.loop.uncertaintyPpm), true).c_str());
        if (!report.referenceLine.empty())
            std::printf("%s\n", report.referenceLine.c_str());
        std::printf("for a modem program:\n  receive:  %s\n  transmit: %s\n", CorrectionText(c.receive).c_str(),
                    CorrectionText(c.transmit).c_str());
        std::printf("  (each figure holds at another rate only where one clock drives both rates: measure at the rate "
                    "the modem program uses)\n");
        if (!report.partial.empty())
            std::printf("partial: %s\n", report.partial.c_str());
    }
    std::fflush(stdout);
    if (!report.partial.empty())
        return EXIT_UNUSABLE;
    return within ? EXIT_WITHIN : EXIT_OUTSIDE;
}
