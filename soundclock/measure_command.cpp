// soundclock measure: the clock offset from a recording of the signal, or
// live from a device.
#include "soundclock/text_format.h"
#include "soundclock/commands.h"
#include "soundclock/console.h"
#include "soundclock/live_audio.h"
#include "soundclock/measure_session.h"
#include "soundclock/recording_input.h"

#include "audio/audio_device.h"
#include "meter/recording_reader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string RateMismatchText(int recordingRate, const SignalChoice& signal, const char* how)
{
    return "the recording runs at " + std::to_string(recordingRate) + " Hz, the signal at " + std::to_string(signal.rate) +
           " Hz (STANAG.SET or --signal-rate): " + how;
}

int MeasureFile(const MeasureOptions& options)
{
    RecordingInput input;
    std::string problem;
    if (!input.Open(options.source, "measure", problem))
        return Fail(options.result, problem);
    RecordingReader& reader = input.Reader();
    if (!options.result.quiet && !input.ChannelNote().empty())
        std::fprintf(stderr, "soundclock: %s\n", input.ChannelNote().c_str());
    if (!RateFits(reader.SampleRate(), options.signal))
        return Fail(options.result, RateMismatchText(reader.SampleRate(), options.signal, "record at the signal's rate"));
    const std::string refusal = CarrierRefusal(options.result, options.signal);
    if (!refusal.empty())
        return Fail(options.result, refusal);

    MeasureSession session(options.result, options.signal, reader.SampleRate());
    if (!session.Start(problem))
        return Fail(options.result, problem);
    const uint64_t limit = SampleLimit(options.seconds, reader.SampleRate());
    input.ReadInto(limit, [&](const int16_t* samples, size_t count) { session.Push(samples, count); });
    session.Finish();
    if (!input.ReadProblem().empty())
        return session.Fail(input.ReadProblem());
    if (!input.ShortNote().empty())
        session.Say(input.ShortNote());
    return session.Report();
}

int MeasureDevice(const MeasureOptions& options)
{
    const int rate = options.source.deviceRate > 0 ? options.source.deviceRate : options.signal.rate;
    if (!RateFits(rate, options.signal))
        return Fail(options.result, RateMismatchText(rate, options.signal, "record at (nearly) the signal's rate"));
    const std::string refusal = CarrierRefusal(options.result, options.signal);
    if (!refusal.empty())
        return Fail(options.result, refusal);
    std::unique_ptr<AudioSystem> system = MakeAudioSystem();
    std::string error;
    const int channel = std::max(0, options.source.channel);
    std::unique_ptr<AudioCapture> stream =
        system->OpenCapture(options.source.device, rate, CaptureChannels(options.source.channel), error);
    if (!stream)
        return Fail(options.result, error);
    MeasureSession session(options.result, options.signal, rate);
    std::string problem;
    if (!session.Start(problem))
        return Fail(options.result, problem);
    WavWriter save;
    if (!options.source.save.empty() && !save.Open(options.source.save, rate, stream->Channels(), stream->DeviceEncoding()))
        return Fail(options.result, "cannot write " + options.source.save);

    CatchInterrupt();
    session.Say("recording " + std::string(options.source.device.empty() ? "the default device" : "\"" + options.source.device + "\"") +
                " at " + std::to_string(rate) + " Hz, " + stream->FormatWords() + " (" + system->Name() + "), measuring channel " +
                std::to_string(channel + 1) +
                (options.seconds > 0 ? " for " + Fixed(options.seconds, 1) + " s" : "") + "; Ctrl-C ends it with the result");
    const DeviceRunEnd end = CaptureInto(*stream, session, channel, SampleLimit(options.seconds, rate), options.source.save.empty() ? nullptr : &save,
                                         nullptr, nullptr);
    session.Finish();
    SayCaptureEnd(session, end, options.source.save.empty() ? nullptr : &save, options.source.save);
    return session.Report();
}

}  // namespace

int MeasureCommand(const MeasureOptions& options)
{
    return options.source.fromDevice ? MeasureDevice(options) : MeasureFile(options);
}
