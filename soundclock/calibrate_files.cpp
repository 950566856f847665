// soundclock calibrate --from-files RATE.json LOOP.json: a card with a
// single input measures its receive clock against a reference in one run
// (`rate --reference KIND --json`) and its loop in another (`loop --json`,
// the output cabled to the input); the two saved results combine as one
// run's would.
#include "soundclock/calibrate_commands.h"
#include "soundclock/calibrate_result.h"
#include "soundclock/commands.h"
#include "soundclock/failure.h"
#include "soundclock/reference_result.h"
#include "soundclock/text_format.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <string>

namespace {

using Json = nlohmann::json;

// The file's JSON object, or why not (the name first).
bool ReadResult(const std::string& path, Json& json, std::string& problem)
{
    std::ifstream file(path);
    if (!file) {
        problem = "cannot open " + path;
        return false;
    }
    json = Json::parse(file, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        problem = path + ": not a result of soundclock --json (no JSON object)";
        return false;
    }
    if (json.contains("error")) {
        problem = path + ": holds no figure, but an error: " + json["error"].get<std::string>();
        return false;
    }
    return true;
}

bool Number(const Json& json, const char* name, double& value)
{
    if (!json.contains(name) || !json[name].is_number())
        return false;
    value = json[name].get<double>();
    return true;
}

std::string Missing(const std::string& path, const char* what, const char* command)
{
    return path + ": not a result of `soundclock " + command + " --json` (no " + what + ")";
}

bool ReceiveFrom(const std::string& path, const Json& json, ClockFigure& receive, std::string& kind, std::string& problem)
{
    if (!Number(json, "ppm", receive.ppm) || !Number(json, "uncertainty_ppm", receive.uncertaintyPpm) ||
        !Number(json, "nominal_rate_hz", receive.nominalRate)) {
        problem = Missing(path, "ppm, uncertainty_ppm and nominal_rate_hz", "rate");
        return false;
    }
    if (json.value("direction", "") != "capture") {
        problem = path + ": a playback's rate; the receive clock is the capture's (soundclock rate without --playback)";
        return false;
    }
    kind = json.contains("reference") && json["reference"].is_object() ? json["reference"].value("kind", "system") : "system";
    receive.valid = true;
    return true;
}

bool LoopFrom(const std::string& path, const Json& json, LoopFigure& loop, std::string& problem)
{
    if (!Number(json, "ppm", loop.ppm) || !Number(json, "uncertainty_ppm", loop.uncertaintyPpm) ||
        !Number(json, "recording_rate", loop.recordRate) || !Number(json, "signal_rate", loop.playRate)) {
        problem = Missing(path, "ppm, uncertainty_ppm, recording_rate and signal_rate", "loop");
        return false;
    }
    loop.valid = true;
    return true;
}

}  // namespace

int CalibrateFromFiles(const CalibrateOptions& options)
{
    Json rateJson, loopJson;
    std::string problem;
    if (!ReadResult(options.rateFile, rateJson, problem) || !ReadResult(options.loopFile, loopJson, problem))
        return Fail(options.result, problem);
    ClockFigure receive;
    LoopFigure loop;
    std::string kind;
    if (!ReceiveFrom(options.rateFile, rateJson, receive, kind, problem) || !LoopFrom(options.loopFile, loopJson, loop, problem))
        return Fail(options.result, problem);
    if (receive.nominalRate != loop.recordRate)
        return Fail(options.result, "the receive clock was measured at " + Fixed(receive.nominalRate, 0) + " Hz and the loop recorded at " +
                                        Fixed(loop.recordRate, 0) + " Hz: measure both at the rate the modem program uses");
    CalibrationReport report;
    report.calibration = Combine(receive, loop);
    report.reference = kind;
    report.referenceWords = kind == "system" ? "the system clock" : ReferenceWords(ParseReference(kind));
    report.referenceJson.String("from_file", options.rateFile);
    double seconds = 0, loopSeconds = 0;
    Number(rateJson, "seconds", seconds);
    Number(loopJson, "seconds", loopSeconds);
    report.seconds = std::fmin(seconds, loopSeconds);
    if (!report.calibration.loopPlausible)
        return Fail(options.result, LoopImplausibleText(report.calibration));
    return PrintCalibration(report, options.result, options.expect);
}
