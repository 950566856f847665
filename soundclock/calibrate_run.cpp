#include "soundclock/calibrate_run.h"
#include "soundclock/calibrate_result.h"
#include "soundclock/offset_result.h"
#include "soundclock/recording_input.h"
#include "soundclock/reference_result.h"
#include "soundclock/signal_player.h"
#include "soundclock/text_format.h"

#include "audio/audio_device.h"

#include <algorithm>
#include <cstdio>

namespace {

MeterSettings LoopSettings(const CalibrateOptions& options, int recordRate)
{
    MeterSettings settings;
    settings.recordingRate = recordRate;
    settings.signalRate = options.signal.rate;
    settings.carrierFrequency = options.signal.carrier;
    return settings;
}

std::string Named(const std::string& device)
{
    return "\"" + (device.empty() ? std::string("default") : device) + "\"";
}

}  // namespace

CalibrationRun::CalibrationRun(const CalibrateOptions& calibrate)
    : options(calibrate), recordRate(calibrate.recordRate > 0 ? calibrate.recordRate : calibrate.signal.rate),
      loop(LoopSettings(calibrate, recordRate)), live(!calibrate.result.quiet)
{
    if (options.reference.type != ReferenceType::System)
        reference = MakeReferenceMeter(options.reference, recordRate);
    loop.OnJump([this](const JumpEvent& jump) {
        Say("jump of " + JumpText(jump) + " in the loop (" + (jump.samples < 0 ? "samples lost" : "samples inserted, or silence") + ")");
    });
}

void CalibrationRun::Say(const std::string& text, bool always)
{
    if (options.result.quiet && !always)
        return;
    live.Break();
    std::fprintf(stderr, "soundclock: %s\n", text.c_str());
    std::fflush(stderr);
}

void CalibrationRun::Frames(const int32_t* frames, size_t count, int channels)
{
    loopSamples.resize(count);
    TakeChannel(frames, count, channels, options.loopChannel, loopSamples.data());
    loop.Push(loopSamples.data(), count);
    if (reference) {
        referenceSamples.resize(count);
        TakeChannel(frames, count, channels, options.channel, referenceSamples.data());
        reference->Push(referenceSamples.data(), count);
    }
}

bool CalibrationRun::Run(std::string& error)
{
    // With a reference the loop and the reference keep to their own
    // channels: two at least, on either side (audio_device.h:
    // LayoutChannels).
    const int least = reference ? 2 : 1;
    const int channels = std::max(std::max(options.loopChannel, options.channel) + 1, least);
    std::unique_ptr<AudioSystem> system = MakeAudioSystem();
    std::unique_ptr<AudioCapture> capture = system->OpenCapture(options.device, recordRate, channels, error);
    if (!capture)
        return false;
    std::unique_ptr<AudioPlayback> playback =
        system->OpenPlayback(options.play, options.signal.rate, std::max(options.loopChannel + 1, least), error);
    if (!playback)
        return false;
    playbackTimed = playback->ClockPointsTimeTheCard();
    WavWriter save;
    const bool saving = !options.save.empty();
    if (saving && !save.Open(options.save, recordRate, capture->Channels(), capture->DeviceEncoding())) {
        error = "cannot write " + options.save;
        return false;
    }
    CatchInterrupt();
    Say("playing the signal on " + Named(options.play) + " channel " + std::to_string(options.loopChannel + 1) + " at " +
        std::to_string(options.signal.rate) + " Hz, recording " + Named(options.device) + " at " + std::to_string(recordRate) +
        " Hz, " + capture->FormatWords() + " (" + system->Name() + "): the loop on channel " +
        std::to_string(options.loopChannel + 1) +
        (reference ? ", " + ReferenceWords(options.reference) + " on channel " + std::to_string(options.channel + 1) : "") +
        (options.seconds > 0 ? ", for " + Fixed(options.seconds, 1) + " s" : "") + "; Ctrl-C ends it with the result");

    SignalPlayer player(*playback, options.signal, 1u << options.loopChannel);
    CaptureSink sink;
    sink.frames = [this](const int32_t* frames, size_t count, int n) { Frames(frames, count, n); };
    sink.overrun = [this](const AudioXrun& xrun) {
        ++overruns;
        if (reference)
            reference->MarkDiscontinuity();
        Say(OverrunText(xrun));
    };
    auto between = [&] {
        captureStamps.Take(*capture);
        for (const std::string& note : player.TakeNotes())
            Say(note);
        underruns = player.Underruns();
        if (live.Due())
            live.Print(CalibrateLiveText(static_cast<double>(loop.SecondsRead()), Combine(Receive(), Loop())));
    };
    recorded = CaptureFrames(*capture, sink, SampleLimit(options.seconds, recordRate), saving ? &save : nullptr,
                             [&] { return player.Ended(); }, between);
    player.Stop();
    between();
    played = player.End();
    playbackStamps = player.Stamps();
    loop.Finish();
    if (reference)
        reference->Finish();
    live.Break();
    if (saving && !save.Close())
        Say("writing " + options.save + " failed", true);
    return true;
}

ClockFigure CalibrationRun::Receive() const
{
    ClockFigure figure;
    figure.nominalRate = recordRate;
    if (reference) {
        const ReferenceEstimate estimate = reference->Estimate();
        figure.valid = estimate.valid;
        figure.ppm = estimate.ppm;
        figure.uncertaintyPpm = estimate.uncertaintyPpm;
        return figure;
    }
    return CaptureAgainstSystem();
}

LoopFigure CalibrationRun::Loop() const
{
    const ClockEstimate estimate = loop.Estimate();
    LoopFigure figure;
    figure.valid = estimate.valid;
    // As the result of measure and loop gives it: the delay's figure where
    // phase and delay disagree.
    figure.ppm = estimate.agree ? estimate.ppm : estimate.delayPpm;
    figure.uncertaintyPpm = estimate.agree ? estimate.uncertaintyPpm : estimate.delayUncertaintyPpm;
    figure.playRate = options.signal.rate;
    figure.recordRate = recordRate;
    return figure;
}

namespace {

ClockFigure FromRate(const RateEstimate& estimate, double nominal)
{
    ClockFigure figure;
    figure.valid = estimate.valid;
    figure.ppm = estimate.ppm;
    figure.uncertaintyPpm = estimate.uncertaintyPpm;
    figure.nominalRate = nominal;
    return figure;
}

}  // namespace

ClockFigure CalibrationRun::CaptureAgainstSystem() const
{
    return FromRate(captureStamps.Estimate(recordRate), recordRate);
}

ClockFigure CalibrationRun::PlaybackAgainstSystem() const
{
    return FromRate(playbackStamps.Estimate(options.signal.rate), options.signal.rate);
}

std::string CalibrationRun::Partial() const
{
    std::string partial;
    if (recorded.kind == DeviceRunEnd::Lost)
        partial = LostText("recording", recorded);
    if (played.kind == DeviceRunEnd::Lost)
        partial += (partial.empty() ? "" : "; ") + LostText("signal", played);
    return partial;
}

bool CalibrationRun::Interrupted() const
{
    return recorded.kind == DeviceRunEnd::Interrupted || played.kind == DeviceRunEnd::Interrupted;
}
