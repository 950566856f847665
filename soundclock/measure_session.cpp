#include "soundclock/measure_session.h"
#include "soundclock/track_output.h"

#include <cstdio>
#include <string>

namespace {

std::string FlagText(unsigned flags)
{
    static const struct { unsigned bit; const char* name; } names[] = {
        {BLOCK_USED, "used"},         {BLOCK_LOST, "lost"},       {BLOCK_OUTLIER, "outlier"},
        {BLOCK_JUMP, "jump"},         {BLOCK_CLIPPED, "clipped"}, {BLOCK_SEARCHED, "searched"},
    };
    std::string text;
    for (const auto& name : names)
        if (flags & name.bit)
            text += (text.empty() ? "" : "|") + std::string(name.name);
    return text;
}

TrackSettings TrackSettingsFor(const ResultOptions& options, const SignalChoice& signal)
{
    TrackSettings settings;
    settings.intervalSeconds = options.track.intervalSeconds;
    settings.signalRate = signal.rate;
    return settings;
}

MeterSettings SettingsFor(const SignalChoice& signal, int recordingRate)
{
    MeterSettings settings;
    settings.recordingRate = recordingRate;
    settings.signalRate = signal.rate;
    settings.carrierFrequency = signal.carrier;
    return settings;
}

}  // namespace

MeasureSession::MeasureSession(const ResultOptions& options, const SignalChoice& signal, int recordingRate)
    : options(options), meter(SettingsFor(signal, recordingRate)), live(!options.quiet),
      offsetTrack(TrackSettingsFor(options, signal)), track(std::make_unique<TrackOutput>(options.track, options.json, "blocks", true))
{
    track->BeforeLine([this] { live.Break(); });
    offsetTrack.OnWindow([this](const WindowEstimate& window) { track->Window(window); });
    facts.recordingRate = recordingRate;
    facts.signal = signal;
    meter.OnJump([this](const JumpEvent& jump) {
        Say("jump of " + JumpText(jump) + " (" + (jump.samples < 0 ? "samples lost" : "samples inserted, or silence") + ")");
    });
}

MeasureSession::~MeasureSession()
{
    if (csv != nullptr)
        std::fclose(csv);
}

bool MeasureSession::Start(std::string& problem)
{
    problem = track->Open();
    if (!problem.empty())
        return false;
    meter.OnBlock([this](const BlockRecord& row) {
        offsetTrack.Add(row);
        if (csv == nullptr)
            return;
        std::fprintf(csv, "%lld,%.6f,%lld,%.6f,%.6f,%.6f,%.2f,%s\n", static_cast<long long>(row.block), row.time,
                     static_cast<long long>(row.peakLag), row.delay, row.phaseDelay, row.carrierPhase,
                     row.level < -1e8 ? -999.0 : row.level, FlagText(row.flags).c_str());
    });
    if (options.csv.empty())
        return true;
    csv = std::fopen(options.csv.c_str(), "w");
    if (csv == nullptr) {
        problem = "cannot write " + options.csv;
        return false;
    }
    std::fprintf(csv, "block,time_s,peak_lag,delay_samples,phase_delay_samples,carrier_phase_rad,level_dbfs,flags\n");
    return true;
}

void MeasureSession::Push(const int16_t* samples, size_t count)
{
    meter.Push(samples, count);
    if (live.Due())
        live.Print(OffsetLiveText(meter));
}

void MeasureSession::Say(const std::string& text, bool always)
{
    if (options.quiet && !always)
        return;
    live.Break();
    std::fprintf(stderr, "soundclock: %s\n", text.c_str());
    std::fflush(stderr);
}

void MeasureSession::Finish()
{
    meter.Finish();
    live.Break();
    offsetTrack.Finish();
    trackProblem = track->Finish(offsetTrack.Judge(), offsetTrack.Stability());
    if (csv != nullptr) {
        std::fclose(csv);
        csv = nullptr;
    }
}

int MeasureSession::Report()
{
    if (!trackProblem.empty())
        return Fail(trackProblem);
    return PrintResult(meter, options, facts, track.get());
}

int MeasureSession::Fail(const std::string& message)
{
    live.Break();
    return ::Fail(options, message);
}
