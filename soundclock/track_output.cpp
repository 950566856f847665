#include "soundclock/track_output.h"


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

TrackSettings SettingsFor(const TrackOptions& options, int32_t signalRate)
{
    TrackSettings settings;
    settings.intervalSeconds = options.intervalSeconds;
    settings.signalRate = signalRate;
    return settings;
}

// A drift and its uncertainty to two significant digits of the uncertainty
// (an hour's steady run knows its drift to 1e-5 ppm/min), at least four
// decimals.
std::string DriftText(double drift, double uncertainty)
{
    int decimals = 4;
    if (uncertainty > 0 && std::isfinite(uncertainty))
        decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(uncertainty))), 4, 9);
    char text[96];
    std::snprintf(text, sizeof text, "%+.*f ppm/min +- %.*f", decimals, drift, decimals, uncertainty);
    return text;
}

std::string WindowLine(const WindowEstimate& window)
{
    std::string line = "window " + Format("%.1f", window.startSeconds) + "-" + Format("%.1f", window.endSeconds) + " s: ";
    if (window.valid)
        line += Format("%+.4f", window.ppm) + " ppm +- " + Format("%.4f", window.uncertaintyPpm) + " ppm, ";
    else
        line += "too few bursts for a figure, ";
    return line + std::to_string(window.blocks) + " blocks";
}

std::string JsonNumber(const char* format, double value, bool present = true)
{
    return present && std::isfinite(value) ? Format(format, value) : "null";
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

TrackOutput::TrackOutput(const TrackOptions& trackOptions, int32_t signalRate, bool jsonOutput)
    : options(trackOptions), json(jsonOutput), track(SettingsFor(trackOptions, signalRate))
{
    track.OnWindow([this](const WindowEstimate& window) { Window(window); });
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
        std::fprintf(trackFile, "start_s,end_s,ppm,uncertainty_ppm,blocks\n");
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
    std::printf("%s\n", WindowLine(window).c_str());
    std::fflush(stdout);
}

std::string TrackOutput::Finish()
{
    track.Finish();
    steadiness = track.Judge();
    stability = track.Stability();
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
    const std::string drift = DriftText(s.driftPpmPerMinute, s.driftUncertaintyPpmPerMinute);
    if (s.steady)
        return "; steady (drift " + drift + " ppm/min)";
    std::string words = "; not steady: ";
    if (s.drifts)
        words += "the offset moved: " + drift + " ppm/min, from " + Format("%+.2f", s.startPpm) + " ppm in the run's first tenth to " +
                 Format("%+.2f", s.endPpm) + " ppm in its last";
    if (s.wanders)
        words += std::string(s.drifts ? "; " : "") + "it wanders by +-" + Format("%.2f", s.wanderPpm) + " ppm around " +
                 (s.drifts ? "that" : "the mean") + (s.drifts ? "" : " (drift " + drift + " ppm/min)");
    return words + "; +- " + Format("%.4f", uncertaintyPpm) + " ppm is the mean's uncertainty, not the offset's steadiness";
}

std::string TrackOutput::JsonFields() const
{
    const Steadiness& s = steadiness;
    std::string text = std::string(",\"steady\":") + (!s.valid ? "null" : s.steady ? "true" : "false") +
                       ",\"drift_ppm_per_min\":" + JsonNumber("%.6f", s.driftPpmPerMinute, s.valid) +
                       ",\"drift_uncertainty_ppm_per_min\":" + JsonNumber("%.6f", s.driftUncertaintyPpmPerMinute, s.valid) +
                       ",\"drifts\":" + (s.drifts ? "true" : "false") + ",\"wanders\":" + (s.wanders ? "true" : "false") +
                       ",\"wander_ppm\":" + JsonNumber("%.6f", s.wanderPpm, s.wanders);
    if (options.intervalSeconds > 0) {
        text += ",\"windows\":[";
        for (size_t i = 0; i < windows.size(); ++i) {
            const WindowEstimate& w = windows[i];
            text += std::string(i > 0 ? "," : "") + "{\"start_s\":" + Format("%.3f", w.startSeconds) + ",\"end_s\":" +
                    Format("%.3f", w.endSeconds) + ",\"ppm\":" + JsonNumber("%.6f", w.ppm, w.valid) +
                    ",\"uncertainty_ppm\":" + JsonNumber("%.6f", w.uncertaintyPpm, w.valid) +
                    ",\"blocks\":" + std::to_string(w.blocks) + "}";
        }
        text += "]";
    }
    text += ",\"adev\":[";
    for (size_t i = 0; i < stability.size(); ++i) {
        const StabilityPoint& p = stability[i];
        text += std::string(i > 0 ? "," : "") + "{\"tau_s\":" + Format("%.6f", p.tauSeconds) + ",\"adev\":" +
                JsonNumber("%.6e", p.adev.deviation) + ",\"terms\":" + std::to_string(p.adev.terms) +
                ",\"mdev\":" + JsonNumber("%.6e", p.mdev.deviation) + ",\"mdev_terms\":" + std::to_string(p.mdev.terms) + "}";
    }
    return text + "]";
}
