// soundclock rate against a reference that arrives in the samples: a GPS
// receiver's second pulse, a steady tone, a time station's ticks; on a
// recording (made by any program on the card: it carries the card's
// clock) or live on a device's capture.
#include "soundclock/commands.h"
#include "soundclock/failure.h"
#include "soundclock/live_audio.h"
#include "soundclock/rate_commands.h"
#include "soundclock/recording_input.h"
#include "soundclock/reference_session.h"
#include "soundclock/text_format.h"

#include "meter/reference/tone_meter.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// The tones the meter follows (meter/reference/tone_meter.h), said before
// a device is opened or a file read.
std::string ToneRefusal(const ReferenceKind& kind, int rate)
{
    if (kind.type != ReferenceType::Tone)
        return "";
    const double highest = rate / 2.0 - MIN_NYQUIST_DISTANCE_HZ;
    if (kind.toneHz < MIN_TONE_HZ || kind.toneHz > highest)
        return "--reference tone:" + Fixed(kind.toneHz, 1) + ": a tone from " + Fixed(MIN_TONE_HZ, 0) + " Hz to " +
               Fixed(MIN_NYQUIST_DISTANCE_HZ, 0) + " Hz below half the rate (" + Fixed(highest, 0) + " Hz at " +
               std::to_string(rate) + " Hz) is needed";
    return "";
}

int RateOfRecording(const RateOptions& options)
{
    RecordingInput input;
    std::string problem;
    if (!input.Open(options.source, "rate", problem))
        return Fail(options.result, problem);
    RecordingReader& reader = input.Reader();
    const int rate = reader.SampleRate();
    const std::string refusal = ToneRefusal(options.reference, rate);
    if (!refusal.empty())
        return Fail(options.result, refusal);

    ReferenceSession session(options, rate);
    if (!session.Start(problem))
        return Fail(options.result, problem);
    session.Facts().source = input.Name();
    session.Facts().channel = reader.Channel();
    if (!input.ChannelNote().empty())
        session.Say(input.ChannelNote());
    const uint64_t limit = SampleLimit(options.seconds, rate);
    input.ReadInto(limit, [&](const float* samples, size_t count) { session.Push(samples, count); });
    session.Finish();
    if (!input.ReadProblem().empty())
        return session.Fail(input.ReadProblem());
    if (!input.ShortNote().empty())
        session.Say(input.ShortNote());
    return session.Report();
}

std::string DeviceName(const std::string& device)
{
    return device.empty() ? "default" : device;
}

int RateOfCapture(const RateOptions& options)
{
    const int rate = options.source.deviceRate > 0 ? options.source.deviceRate : options.signal.rate;
    const std::string refusal = ToneRefusal(options.reference, rate);
    if (!refusal.empty())
        return Fail(options.result, refusal);
    const int channel = std::max(0, options.source.channel);
    std::unique_ptr<AudioSystem> system = MakeAudioSystem();
    std::string error;
    std::unique_ptr<AudioCapture> capture =
        system->OpenCapture(options.source.device, rate, CaptureChannels(options.source.channel), error);
    if (!capture)
        return Fail(options.result, error);
    ReferenceSession session(options, rate);
    std::string problem;
    if (!session.Start(problem))
        return Fail(options.result, problem);
    WavWriter save;
    const bool saving = !options.source.save.empty();
    if (saving && !save.Open(options.source.save, rate, capture->Channels(), capture->DeviceEncoding()))
        return Fail(options.result, "cannot write " + options.source.save);
    ReferenceFacts& facts = session.Facts();
    facts.source = DeviceName(options.source.device);
    facts.fromDevice = true;
    facts.channel = channel;
    facts.xruns = 0;

    CatchInterrupt();
    session.Say("recording \"" + facts.source + "\" at " + std::to_string(rate) + " Hz, " + capture->FormatWords() + " (" +
                system->Name() + "), " + ReferenceWords(options.reference) + " on channel " + std::to_string(channel + 1) +
                (options.seconds > 0 ? " for " + Fixed(options.seconds, 1) + " s" : "") + "; Ctrl-C ends it with the result");
    const CaptureSink sink = ChannelSink<float>(
        channel, [&](const float* samples, size_t count) { session.Push(samples, count); },
        [&](const AudioXrun& xrun) {
            ++facts.xruns;
            session.Discontinuity();
            session.Say(OverrunText(xrun));
        });
    const DeviceRunEnd end = CaptureFrames(*capture, sink, SampleLimit(options.seconds, rate), saving ? &save : nullptr,
                                           nullptr, nullptr);
    session.Finish();
    SayCaptureEnd(session, end, saving ? &save : nullptr, options.source.save);
    return session.Report();
}

}  // namespace

int RateAgainstReference(const RateOptions& options)
{
    return options.source.fromDevice ? RateOfCapture(options) : RateOfRecording(options);
}
