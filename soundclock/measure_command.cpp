// soundclock measure: the clock offset from a recording of the signal, or
// live from a device.
#include "soundclock/commands.h"
#include "soundclock/console.h"
#include "soundclock/live_audio.h"
#include "soundclock/measure_session.h"

#include "audio/audio_device.h"
#include "meter/recording_reader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A recording made at a rate this far from the signal's is not of it.
constexpr double RATE_MISMATCH_LIMIT = 0.02;

bool RateFits(int recordingRate, const SignalChoice& signal)
{
    return std::fabs(static_cast<double>(recordingRate) / signal.rate - 1) <= RATE_MISMATCH_LIMIT;
}

std::string RateMismatchText(int recordingRate, const SignalChoice& signal, const char* how)
{
    return "the recording runs at " + std::to_string(recordingRate) + " Hz, the signal at " + std::to_string(signal.rate) +
           " Hz (STANAG.SET or --signal-rate): " + how;
}

uint64_t SampleLimit(double seconds, int rate)
{
    return seconds > 0 ? static_cast<uint64_t>(std::llround(seconds * rate)) : UINT64_MAX;
}

int MeasureFile(const MeasureOptions& options)
{
    std::FILE* file = stdin;
    if (options.input == "-") {
        if (IsTerminal(stdin))
            throw UsageError{"measure: standard input is a terminal; give a FILE or pipe a recording in"};
        UseBinaryMode(stdin);
    } else {
        file = std::fopen(options.input.c_str(), "rb");
        if (file == nullptr)
            return Fail(options.result, "cannot open " + options.input);
    }
    FileSource source(file);
    RecordingReader reader;
    std::string problem;
    const bool opened = options.raw ? reader.OpenRaw(source, static_cast<int32_t>(options.rawRate), problem)
                                    : reader.OpenWav(source, options.channel, problem);
    if (!opened)
        return Fail(options.result, (options.input == "-" ? std::string("standard input") : options.input) + ": " + problem);
    if (!options.result.quiet && reader.Channels() > 1)
        std::fprintf(stderr, "soundclock: %d channels: measuring channel %d%s\n", reader.Channels(), reader.Channel() + 1,
                     options.channel < 0 ? " (--channel N for another)" : "");
    if (!RateFits(reader.SampleRate(), options.signal))
        return Fail(options.result, RateMismatchText(reader.SampleRate(), options.signal, "record at the signal's rate"));
    const std::string refusal = CarrierRefusal(options.result, options.signal);
    if (!refusal.empty())
        return Fail(options.result, refusal);

    MeasureSession session(options.result, options.signal, reader.SampleRate());
    if (!session.Start(problem))
        return Fail(options.result, problem);
    const uint64_t limit = SampleLimit(options.seconds, reader.SampleRate());
    uint64_t read = 0;
    std::vector<int16_t> samples(8192);
    while (read < limit) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(samples.size(), limit - read));
        const size_t got = reader.ReadSamples(samples.data(), wanted);
        if (got == 0)
            break;
        session.Push(samples.data(), got);
        read += got;
    }
    session.Finish();
    if (source.Failed())
        return session.Fail("reading " + options.input + " failed");
    if (reader.MissingBytes() > 0)
        session.Say("the recording ends " + std::to_string(reader.MissingBytes()) +
                    " bytes before the end its data chunk declares; measured what is there");
    return session.Report();
}

int MeasureDevice(const MeasureOptions& options)
{
    const int rate = options.deviceRate > 0 ? options.deviceRate : options.signal.rate;
    if (!RateFits(rate, options.signal))
        return Fail(options.result, RateMismatchText(rate, options.signal, "record at (nearly) the signal's rate"));
    const std::string refusal = CarrierRefusal(options.result, options.signal);
    if (!refusal.empty())
        return Fail(options.result, refusal);
    std::unique_ptr<AudioSystem> system = MakeAudioSystem();
    std::string error;
    std::unique_ptr<AudioCapture> stream = system->OpenCapture(options.device, rate, 1, error);
    if (!stream)
        return Fail(options.result, error);
    MeasureSession session(options.result, options.signal, rate);
    std::string problem;
    if (!session.Start(problem))
        return Fail(options.result, problem);
    WavWriter save;
    if (!options.save.empty() && !save.Open(options.save, rate, stream->Channels(), stream->DeviceEncoding()))
        return Fail(options.result, "cannot write " + options.save);

    CatchInterrupt();
    session.Say("recording " + std::string(options.device.empty() ? "the default device" : "\"" + options.device + "\"") +
                " at " + std::to_string(rate) + " Hz (" + system->Name() + ")" +
                (options.seconds > 0 ? " for " + Fixed(options.seconds, 1) + " s" : "") + "; Ctrl-C ends it with the result");
    const DeviceRunEnd end = CaptureInto(*stream, session, SampleLimit(options.seconds, rate), options.save.empty() ? nullptr : &save,
                                         nullptr, nullptr);
    session.Finish();
    if (!options.save.empty() && !save.Close())
        session.Say("writing " + options.save + " failed", true);
    if (end.kind == DeviceRunEnd::Lost) {
        session.Facts().partial = LostText("recording", end);
        session.Say(session.Facts().partial + "; the result covers what was measured until then", true);
    } else if (end.kind == DeviceRunEnd::Interrupted)
        session.Say("stopped by Ctrl-C after " + Fixed(end.seconds, 1) + " s");
    return session.Report();
}

}  // namespace

int MeasureCommand(const MeasureOptions& options)
{
    return options.fromDevice ? MeasureDevice(options) : MeasureFile(options);
}
