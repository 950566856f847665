#include "soundclock/live_audio.h"

#include "meter/wav_format.h"
#include "transmitter/dsp/stream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <utility>
#include <vector>

namespace {

volatile std::sig_atomic_t interruptSeen = 0;

extern "C" void OnInterrupt(int)
{
    interruptSeen = 1;
    // The next Ctrl-C ends the program at once. (Windows resets the
    // handler by itself; this makes Linux do the same.)
    std::signal(SIGINT, SIG_DFL);
}

std::string Seconds(double seconds)
{
    return Fixed(seconds, 2) + " s";
}

}  // namespace

void CatchInterrupt()
{
    interruptSeen = 0;
    std::signal(SIGINT, OnInterrupt);
}

bool Interrupted()
{
    return interruptSeen != 0;
}

bool WavWriter::Open(const std::string& path, int rate, int channelCount, SampleEncoding deviceEncoding)
{
    file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    sampleRate = rate;
    channels = channelCount;
    encoding = WavEncodingFor(deviceEncoding);
    const std::string header = MakeWavHeader(rate, static_cast<uint16_t>(channels), WAV_SIZE_UNKNOWN, encoding);
    failed = std::fwrite(header.data(), 1, header.size(), file) != header.size();
    return !failed;
}

bool WavWriter::Write(const int32_t* samples, size_t frames)
{
    if (file == nullptr || failed)
        return false;
    const size_t count = frames * static_cast<size_t>(channels);
    std::vector<unsigned char> out(count * SampleBytes(encoding));
    EncodeSamples(encoding, samples, count, out.data());
    failed = std::fwrite(out.data(), 1, out.size(), file) != out.size();
    bytes += out.size();
    return !failed;
}

bool WavWriter::Close()
{
    if (file == nullptr)
        return !failed;
    // The sizes, now that they are known (past 4 GiB they stay "unknown").
    const std::string header = MakeWavHeader(sampleRate, static_cast<uint16_t>(channels), bytes, encoding);
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fwrite(header.data(), 1, header.size(), file) != header.size())
        failed = true;
    if (std::fclose(file) != 0)
        failed = true;
    file = nullptr;
    return !failed;
}

AudioResult WriteMono(AudioPlayback& stream, const int16_t* mono, size_t count, size_t& done, int timeoutMs,
                      std::vector<int16_t>& frames, uint32_t signalChannels)
{
    if (stream.Channels() == 1 && (signalChannels & 1u))
        return stream.Write(mono, count, done, timeoutMs);
    frames.resize(count * static_cast<size_t>(stream.Channels()));
    SpreadMono(mono, count, stream.Channels(), signalChannels, frames.data());
    return stream.Write(frames.data(), count, done, timeoutMs);
}

EndWords CaptureEndWords(const DeviceRunEnd& end)
{
    EndWords words;
    if (end.kind == DeviceRunEnd::Lost) {
        words.partial = LostText("recording", end);
        words.say = words.partial + "; the result covers what was measured until then";
        words.always = true;
    } else if (end.kind == DeviceRunEnd::Interrupted)
        words.say = "stopped by Ctrl-C after " + Fixed(end.seconds, 1) + " s";
    return words;
}

std::string LostText(const char* stream, const DeviceRunEnd& end)
{
    return "device lost at " + Seconds(end.seconds) + " of the " + stream + ": " + end.text;
}

int CaptureChannels(int channel)
{
    return channel < 0 ? 1 : std::max(channel + 1, 2);
}

void TakeChannel(const int32_t* frames, size_t count, int channels, int channel, int16_t* out)
{
    for (size_t i = 0; i < count; ++i)
        out[i] = Int16FromInt32(frames[i * static_cast<size_t>(channels) + static_cast<size_t>(channel)]);
}

void TakeChannel(const int32_t* frames, size_t count, int channels, int channel, float* out)
{
    constexpr float FULL_SCALE = 2147483648.0f;
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<float>(frames[i * static_cast<size_t>(channels) + static_cast<size_t>(channel)]) / FULL_SCALE;
}

std::string OverrunText(const AudioXrun& xrun)
{
    return "overrun at " + Seconds(xrun.seconds) + " of the recording: the capture lost samples there (stepped over like a jump)";
}

namespace {

// Whether the run ends before its next chunk: the user interrupted it, or
// the caller's `stop` says so.
bool EndsHere(const std::function<bool()>& stop, DeviceRunEnd& end)
{
    if (Interrupted())
        end.kind = DeviceRunEnd::Interrupted;
    else if (stop && stop())
        end.kind = DeviceRunEnd::Stopped;
    return end.kind != DeviceRunEnd::Complete;
}

void Lose(DeviceRunEnd& end, std::string text)
{
    end.kind = DeviceRunEnd::Lost;
    end.text = std::move(text);
}

}  // namespace

DeviceRunEnd CaptureFrames(AudioCapture& stream, const CaptureSink& sink, uint64_t limit, WavWriter* save,
                           const std::function<bool()>& stop, const std::function<void()>& between)
{
    const int rate = stream.SampleRate();
    const int channels = stream.Channels();
    // About 20 ms at a time: the live line and the reports stay current.
    const size_t chunk = static_cast<size_t>(std::max(64, rate / 50));
    std::vector<int32_t> frames(chunk * static_cast<size_t>(channels));
    uint64_t read = 0;
    IdleWatch idle;
    DeviceRunEnd end;
    while (read < limit) {
        if (EndsHere(stop, end))
            break;
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(chunk, limit - read));
        size_t got = 0;
        idle.Start();
        const AudioResult result = stream.Read(frames.data(), wanted, got, DEVICE_WAIT_MS);
        for (const AudioXrun& xrun : stream.TakeXruns())
            if (sink.overrun)
                sink.overrun(xrun);
        if (between)
            between();
        if (result == AudioResult::Lost) {
            Lose(end, stream.ErrorText());
            break;
        }
        if (got > 0) {
            sink.frames(frames.data(), got, channels);
            if (save != nullptr)
                save->Write(frames.data(), got);
            read += got;
        }
        if (idle.TooLong(got)) {
            Lose(end, "the capture device gave no samples for " + Fixed(DEVICE_SILENT_LIMIT_S, 0) + " s");
            break;
        }
    }
    end.seconds = static_cast<double>(read) / rate;
    stream.Stop();
    return end;
}

DeviceRunEnd CaptureInto(AudioCapture& stream, MeasureSession& session, int channel, uint64_t limit, WavWriter* save,
                         const std::function<bool()>& stop, const std::function<void()>& between)
{
    int64_t& overruns = session.Facts().overruns;
    if (overruns < 0)
        overruns = 0;
    const CaptureSink sink = ChannelSink<int16_t>(
        channel, [&](const int16_t* samples, size_t count) { session.Push(samples, count); },
        [&](const AudioXrun& xrun) {
            ++overruns;
            session.Say(OverrunText(xrun));
        });
    return CaptureFrames(stream, sink, limit, save, stop, between);
}

DeviceRunEnd PlaySignal(AudioPlayback& stream, const SignalChoice& signal, uint64_t limit, const std::function<bool()>& stop,
                        const std::function<void(const AudioXrun&)>& underrun, uint32_t signalChannels)
{
    const int rate = stream.SampleRate();
    Synthesis synthesis = InitialisedSynthesis(signal.rate, signal.carrier);
    std::vector<int16_t> samples;
    std::vector<int16_t> frames;
    size_t next = 0;  // the first of `samples` not yet written
    uint64_t written = 0;
    IdleWatch idle;
    DeviceRunEnd end;
    auto report = [&] {
        for (const AudioXrun& xrun : stream.TakeXruns())
            if (underrun)
                underrun(xrun);
    };
    while (written < limit) {
        if (EndsHere(stop, end))
            break;
        if (next == samples.size()) {
            // 64 symbols (256 samples) at a time, as many as the limit needs.
            samples.clear();
            next = 0;
            AppendStream(synthesis, 64, samples);
        }
        const size_t count = static_cast<size_t>(std::min<uint64_t>(samples.size() - next, limit - written));
        size_t done = 0;
        idle.Start();
        const AudioResult result = WriteMono(stream, samples.data() + next, count, done, DEVICE_WAIT_MS, frames, signalChannels);
        report();
        if (result == AudioResult::Lost) {
            Lose(end, stream.ErrorText());
            break;
        }
        next += done;
        written += done;
        if (idle.TooLong(done)) {
            Lose(end, "the playback device took no samples for " + Fixed(DEVICE_SILENT_LIMIT_S, 0) + " s");
            break;
        }
    }
    end.seconds = static_cast<double>(written) / rate;
    if (end.kind == DeviceRunEnd::Complete) {
        // What is queued plays out: the buffer's length and a margin.
        const AudioResult drained = stream.Drain(3000);
        report();
        if (drained == AudioResult::Lost)
            Lose(end, stream.ErrorText());
        else if (drained == AudioResult::Timeout)
            Lose(end, "the playback device did not play out what was queued within 3 s");
    }
    stream.Stop();
    return end;
}
