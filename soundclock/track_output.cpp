#include "soundclock/track_output.h"
#include "soundclock/text_format.h"

#include <algorithm>
#include <cmath>

namespace {

// Shorter windows hold too few bursts at 8000 Hz (a burst every 0.128 s).
constexpr double MIN_INTERVAL_SECONDS = 1;

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string WindowLine(const WindowEstimate& window, const std::string& countName)
{
    std::string line = "window " + Format("%.1f", window.startSeconds) + "-" + Format("%.1f", window.endSeconds) + " s: ";
    if (window.valid)
        line += FigureText(window.ppm, window.uncertaintyPpm, "ppm") + ", ";
    else
        line += "too few bursts for a figure, ";
    return line + std::to_string(window.blocks) + " " + countName;
}

// A figure that may be missing.
void NumberOrNull(JsonObject& json, const std::string& name, double value, bool present, int decimals = 6)
{
    if (present)
        json.Number(name, value, decimals);
    else
        json.Null(name);
}

}  // namespace

const char* const INTERVAL_HELP = "an estimate per window of S seconds too: a line each before the result (--json: \"windows\")";
const char* const TRACK_HELP = "the windows as CSV to FILE (start_s, end_s, ppm, uncertainty_ppm, blocks)";
const char* const ADEV_HELP = "the Allan deviation as CSV to FILE (tau_s, adev, terms, mdev, mdev_terms)";

TrackOptions TakeTrackOptions(const std::string& interval, const std::string& trackFile, const std::string& adevFile)
{
    TrackOptions options;
    if (!interval.empty()) {
        options.intervalSeconds = ParseNumber(interval, "--interval");
        if (options.intervalSeconds < MIN_INTERVAL_SECONDS)
            throw UsageError{"--interval: at least 1 s"};
    }
    options.trackFile = trackFile;
    options.adevFile = adevFile;
    if (!options.trackFile.empty() && options.intervalSeconds <= 0)
        throw UsageError{"--track needs --interval S, the windows' length"};
    return options;
}

TrackOutput::TrackOutput(const TrackOptions& trackOptions, bool jsonOutput, std::string count, bool judges)
    : options(trackOptions), json(jsonOutput), countName(std::move(count)), judgesSteadiness(judges)
{
}

TrackOutput::~TrackOutput()
{
    if (trackFile != nullptr)
        std::fclose(trackFile);
    if (adevFile != nullptr)
        std::fclose(adevFile);
}

std::string TrackOutput::Open()
{
    if (!options.trackFile.empty()) {
        trackFile = std::fopen(options.trackFile.c_str(), "w");
        if (trackFile == nullptr)
            return "cannot write " + options.trackFile;
        std::fprintf(trackFile, "start_s,end_s,ppm,uncertainty_ppm,%s\n", countName.c_str());
    }
    if (!options.adevFile.empty()) {
        adevFile = std::fopen(options.adevFile.c_str(), "w");
        if (adevFile == nullptr)
            return "cannot write " + options.adevFile;
    }
    return "";
}

void TrackOutput::Window(const WindowEstimate& window)
{
    windows.push_back(window);
    if (trackFile != nullptr) {
        if (window.valid)
            std::fprintf(trackFile, "%.3f,%.3f,%.6f,%.6f,%lld\n", window.startSeconds, window.endSeconds, window.ppm,
                         window.uncertaintyPpm, static_cast<long long>(window.blocks));
        else
            std::fprintf(trackFile, "%.3f,%.3f,,,%lld\n", window.startSeconds, window.endSeconds,
                         static_cast<long long>(window.blocks));
    }
    if (json)
        return;
    if (beforeLine)
        beforeLine();
    std::printf("%s\n", WindowLine(window, countName).c_str());
    std::fflush(stdout);
}

std::string TrackOutput::Finish(const Steadiness& judgement, const std::vector<StabilityPoint>& table)
{
    steadiness = judgement;
    stability = table;
    std::string problem;
    if (trackFile != nullptr) {
        if (std::fclose(trackFile) != 0)
            problem = "writing " + options.trackFile + " failed";
        trackFile = nullptr;
    }
    if (adevFile != nullptr) {
        std::fprintf(adevFile, "tau_s,adev,terms,mdev,mdev_terms\n");
        for (const StabilityPoint& point : stability)
            std::fprintf(adevFile, "%.6f,%.6e,%lld,%.6e,%lld\n", point.tauSeconds, point.adev.deviation,
                         static_cast<long long>(point.adev.terms), point.mdev.deviation, static_cast<long long>(point.mdev.terms));
        if (std::fclose(adevFile) != 0)
            problem = "writing " + options.adevFile + " failed";
        adevFile = nullptr;
    }
    return problem;
}

std::string TrackOutput::ResultWords(double uncertaintyPpm) const
{
    const Steadiness& s = steadiness;
    if (!s.valid)
        return "";
    const std::string drift = FigureText(s.driftPpmPerMinute, s.driftUncertaintyPpmPerMinute, "ppm/min");
    if (s.steady)
        return "; steady (drift " + drift + ")";
    std::string words = "; not steady: ";
    if (s.drifts)
        words += "the offset moved: " + drift + ", from " + Format("%+.2f", s.startPpm) + " ppm in the run's first tenth to " +
                 Format("%+.2f", s.endPpm) + " ppm in its last";
    if (s.wanders)
        words += std::string(s.drifts ? "; " : "") + "it wanders by +-" + Format("%.2f", s.wanderPpm) + " ppm around " +
                 (s.drifts ? "that" : "the mean") + (s.drifts ? "" : " (drift " + drift + ")");
    return words + "; +- " + UncertaintyText(uncertaintyPpm) + " ppm is the mean's uncertainty, not the offset's steadiness";
}

JsonObject TrackOutput::Json() const
{
    const Steadiness& s = steadiness;
    JsonObject json;
    if (judgesSteadiness) {
        if (s.valid)
            json.Bool("steady", s.steady);
        else
            json.Null("steady");
        NumberOrNull(json, "drift_ppm_per_min", s.driftPpmPerMinute, s.valid);
        NumberOrNull(json, "drift_uncertainty_ppm_per_min", s.driftUncertaintyPpmPerMinute, s.valid);
        json.Bool("drifts", s.drifts).Bool("wanders", s.wanders);
        NumberOrNull(json, "wander_ppm", s.wanderPpm, s.wanders);
    }
    if (options.intervalSeconds > 0) {
        std::vector<JsonObject> items;
        for (const WindowEstimate& w : windows) {
            JsonObject item;
            item.Number("start_s", w.startSeconds, 3).Number("end_s", w.endSeconds, 3);
            NumberOrNull(item, "ppm", w.ppm, w.valid);
            NumberOrNull(item, "uncertainty_ppm", w.uncertaintyPpm, w.valid);
            items.push_back(item.Integer(countName, w.blocks));
        }
        json.Array("windows", items);
    }
    std::vector<JsonObject> points;
    for (const StabilityPoint& p : stability)
        points.push_back(JsonObject()
                             .Number("tau_s", p.tauSeconds, 6)
                             .Scientific("adev", p.adev.deviation, 6)
                             .Integer("terms", p.adev.terms)
                             .Scientific("mdev", p.mdev.deviation, 6)
                             .Integer("mdev_terms", p.mdev.terms));
    return json.Array("adev", points);
}
