// soundclock rate against the system clock: one card's actual sample rate
// from the (position, time) stamps its backend takes once a period.
#include "soundclock/commands.h"
#include "soundclock/failure.h"
#include "soundclock/rate_commands.h"
#include "soundclock/text_format.h"
#include "soundclock/live_audio.h"
#include "soundclock/measure_session.h"
#include "soundclock/progress_line.h"
#include "soundclock/rate_report.h"

#include "audio/audio_device.h"
#include "audio/system_clock.h"
#include "meter/rate_fit.h"
#include "transmitter/dsp/stream.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// What a playback stream gets: the test signal, or digital silence.
class PlaybackSamples {
public:
    PlaybackSamples(const SignalChoice& signal, int deviceRate, bool silence)
        : silence(silence), synthesis(InitialisedSynthesis(deviceRate, signal.carrier))
    {
    }
    // The samples not yet written (never empty).
    const int16_t* Pending(size_t& count)
    {
        if (next == samples.size()) {
            samples.clear();
            next = 0;
            if (silence)
                samples.assign(SILENCE_CHUNK, 0);
            else
                AppendStream(synthesis, SYMBOLS_PER_CHUNK, samples);
        }
        count = samples.size() - next;
        return samples.data() + next;
    }
    void Written(size_t count) { next += count; }

private:
    static constexpr size_t SILENCE_CHUNK = 256;
    static constexpr size_t SYMBOLS_PER_CHUNK = 64;
    bool silence;
    Synthesis synthesis;
    std::vector<int16_t> samples;
    size_t next = 0;
};

struct RateRun {
    std::vector<RatePoint> points;
    double latenessDrift = 0;  // the stream's allowance (AudioStream::LatenessDriftSeconds)
    int64_t xruns = 0;
    uint64_t frames = 0;  // read or written
    std::string lostText;  // the device failed: its words
};

void TakeStamps(AudioStream& stream, RateRun& run, ProgressLine& live, bool quiet)
{
    for (const AudioClockPoint& point : stream.TakeClockPoints())
        run.points.push_back({point.frames, point.systemSeconds, point.segment});
    for (const AudioXrun& xrun : stream.TakeXruns()) {
        ++run.xruns;
        if (quiet)
            continue;
        live.Break();
        std::fprintf(stderr, "soundclock: %s at %.2f s of the stream: the stamps after it get an intercept of their own\n",
                     stream.Direction() == AudioDirection::Capture ? "overrun" : "underrun", xrun.seconds);
    }
}

// The stream opened, as the interface its direction has.
struct RateStream {
    std::unique_ptr<AudioCapture> capture;
    std::unique_ptr<AudioPlayback> playback;
    AudioStream& Stream() { return capture ? static_cast<AudioStream&>(*capture) : *playback; }
};

AudioResult MoveSamples(RateStream& stream, PlaybackSamples& playback, std::vector<int32_t>& buffer,
                        std::vector<int16_t>& frames, size_t wanted, size_t& done)
{
    if (stream.capture) {
        const size_t channels = static_cast<size_t>(stream.capture->Channels());
        return stream.capture->Read(buffer.data(), std::min(wanted, buffer.size() / channels), done, DEVICE_WAIT_MS);
    }
    size_t count = 0;
    const int16_t* samples = playback.Pending(count);
    const AudioResult result = WriteMono(*stream.playback, samples, std::min(count, wanted), done, DEVICE_WAIT_MS, frames);
    playback.Written(done);
    return result;
}

RateEstimate Fit(const RateRun& run, int rate)
{
    return FitRate(run.points.data(), run.points.size(), rate, run.latenessDrift);
}

// Runs the stream until `limit` frames, Ctrl-C, or the device fails.
RateRun RunStream(RateStream& opened, const RateOptions& options, uint64_t limit)
{
    AudioStream& stream = opened.Stream();
    const int rate = stream.SampleRate();
    PlaybackSamples playback(options.signal, rate, options.silence);
    std::vector<int32_t> buffer(static_cast<size_t>(std::max(64, rate / 50)) * static_cast<size_t>(stream.Channels()));
    std::vector<int16_t> frames;
    ProgressLine live(!options.result.quiet);
    RateRun run;
    run.latenessDrift = stream.LatenessDriftSeconds();
    IdleWatch idle;
    while (run.frames < limit && !Interrupted()) {
        size_t done = 0;
        idle.Start();
        const AudioResult result = MoveSamples(opened, playback, buffer, frames, static_cast<size_t>(limit - run.frames), done);
        TakeStamps(stream, run, live, options.result.quiet);
        if (result == AudioResult::Lost) {
            run.lostText = stream.ErrorText();
            break;
        }
        run.frames += done;
        if (idle.TooLong(done)) {
            run.lostText = "it moved no samples for " + std::to_string(static_cast<int>(DEVICE_SILENT_LIMIT_S)) + " s";
            break;
        }
        if (live.Due())
            live.Print(RateLiveText(static_cast<double>(run.frames) / rate, Fit(run, rate)));
    }
    stream.Stop();
    TakeStamps(stream, run, live, options.result.quiet);
    live.Break();
    return run;
}

// The stamps as taken, for a plot or another fit: frames, system seconds
// (the monotonic clock's own zero), segment.
bool WriteStamps(const std::string& path, const std::vector<RatePoint>& points)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return false;
    std::fprintf(file, "frames,system_s,segment\n");
    for (const RatePoint& point : points)
        std::fprintf(file, "%llu,%.9f,%u\n", static_cast<unsigned long long>(point.frames), point.systemSeconds,
                     static_cast<unsigned>(point.segment));
    return std::fclose(file) == 0;
}

std::string DeviceName(const RateOptions& options)
{
    return options.source.device.empty() ? "default" : options.source.device;
}

std::string SecondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

}  // namespace

int RateAgainstSystem(const RateOptions& options)
{
    const int rate = options.source.deviceRate > 0 ? options.source.deviceRate : options.signal.rate;
    const char* side = options.playback ? "playback" : "capture";
    std::unique_ptr<AudioSystem> system = MakeAudioSystem();
    std::string error;
    RateStream stream;
    if (options.playback)
        stream.playback = system->OpenPlayback(options.source.device, rate, 1, error);
    else
        stream.capture = system->OpenCapture(options.source.device, rate, 1, error);
    if (!stream.capture && !stream.playback)
        return Fail(options.result, error);

    CatchInterrupt();
    const uint64_t limit =
        options.seconds > 0 ? static_cast<uint64_t>(std::llround(options.seconds * rate)) : UINT64_MAX;
    const RateRun run = RunStream(stream, options, limit);
    if (!run.lostText.empty())
        return Fail(options.result, std::string("the ") + side + " device \"" + DeviceName(options) + "\" was lost after " +
                                 SecondsText(static_cast<double>(run.frames) / rate) + ": " + run.lostText);

    if (!options.result.csv.empty() && !WriteStamps(options.result.csv, run.points))
        return Fail(options.result, "cannot write " + options.result.csv);
    RateReport report;
    report.estimate = Fit(run, rate);
    if (!report.estimate.valid)
        return Fail(options.result, std::string("the ") + side + " device gave " + std::to_string(run.points.size()) +
                                 " clock stamps in " + SecondsText(static_cast<double>(run.frames) / rate) +
                                 " of the stream, too few for a rate");
    report.nominalRate = rate;
    report.direction = side;
    report.device = DeviceName(options);
    report.xruns = run.xruns;
    report.clock = ReadSystemClockState();
    report.haveExpect = options.result.haveExpect;
    report.expect = options.result.expect;
    report.tolerance = options.result.tolerance;

    const std::string warning = SystemClockWarning(report.clock);
    if (!warning.empty())
        std::fprintf(stderr, "soundclock: warning: %s\n", warning.c_str());
    if (options.result.json)
        std::printf("%s\n", RateJson(report).Text().c_str());
    else
        std::printf("%s\n%s\n", RateResultLine(report).c_str(), SystemClockLine(report.clock).c_str());
    std::fflush(stdout);
    return WithinExpectation(report) ? EXIT_WITHIN : EXIT_OUTSIDE;
}
