// soundclock signal: the transmitter's test signal as a file, a stream, or
// played on a device.
#include "soundclock/text_format.h"
#include "soundclock/commands.h"
#include "soundclock/console.h"
#include "soundclock/live_audio.h"

#include "audio/audio_device.h"
#include "meter/wav_format.h"
#include "transmitter/dsp/stream.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void Say(const std::string& text)
{
    std::fprintf(stderr, "soundclock: %s\n", text.c_str());
    std::fflush(stderr);
}

int PlayOnDevice(const SignalOptions& options)
{
    std::unique_ptr<AudioSystem> system = MakeAudioSystem();
    std::string error;
    std::unique_ptr<AudioPlayback> stream = system->OpenPlayback(options.device, options.signal.rate, 1, error);
    if (!stream) {
        Say(error);
        return EXIT_UNUSABLE;
    }
    const std::string device = options.device.empty() ? "default" : options.device;
    CatchInterrupt();
    Say("playing the signal (" + std::to_string(options.signal.rate) + " Hz, carrier " + Fixed(options.signal.carrier, 1) +
        " Hz) on \"" + device + "\" (" + system->Name() + ")" +
        (options.seconds > 0 ? " for " + Fixed(options.seconds, 1) + " s" : "") + "; Ctrl-C stops it");
    int64_t underruns = 0;
    // Whole symbols of four samples, enough to cover the time asked for.
    const uint64_t limit = options.seconds > 0
                               ? static_cast<uint64_t>(std::ceil(options.seconds * options.signal.rate / SAMPLES_PER_SYMBOL)) *
                                     SAMPLES_PER_SYMBOL
                               : UINT64_MAX;
    const DeviceRunEnd end = PlaySignal(*stream, options.signal, limit, nullptr, [&](const AudioXrun& xrun) {
        ++underruns;
        Say("underrun at " + Fixed(xrun.seconds, 2) + " s of the signal: the device ran out of samples (a gap in the sound)");
    });
    const std::string summary = "played " + Fixed(end.seconds, 1) + " s of the signal, " +
                                (underruns == 0 ? std::string("no underruns")
                                                : std::to_string(underruns) + (underruns == 1 ? " underrun" : " underruns"));
    if (end.kind == DeviceRunEnd::Lost) {
        Say(LostText("signal", end) + " (" + summary + ")");
        return EXIT_UNUSABLE;
    }
    Say(std::string(end.kind == DeviceRunEnd::Interrupted ? "stopped by Ctrl-C: " : "done: ") + summary);
    return EXIT_WITHIN;
}

}  // namespace

int SignalCommand(const SignalOptions& options)
{
    if (options.toDevice)
        return PlayOnDevice(options);
    const SignalChoice& choice = options.signal;
    const std::string& output = options.output;
    std::FILE* file = stdout;
    if (output == "-") {
        if (IsTerminal(stdout))
            throw UsageError{"signal: standard output is a terminal; give -o FILE or pipe it into a player"};
        UseBinaryMode(stdout);
    } else {
        file = std::fopen(output.c_str(), "wb");
        if (file == nullptr) {
            Say("cannot write " + output);
            return EXIT_UNUSABLE;
        }
    }

    // Whole symbols of four samples, enough to cover the time asked for.
    const bool endless = options.seconds < 0;
    const uint64_t symbols = endless ? 0 : static_cast<uint64_t>(std::ceil(options.seconds * choice.rate / SAMPLES_PER_SYMBOL));
    bool ok = true;
    if (!options.raw) {
        const std::string header = MakeWavHeader(choice.rate, 1, endless ? WAV_SIZE_UNKNOWN : symbols * SAMPLES_PER_SYMBOL * 2);
        ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    }
    Synthesis synthesis = InitialisedSynthesis(choice.rate, choice.carrier);
    std::vector<int16_t> samples;
    std::vector<unsigned char> bytes;
    constexpr uint64_t SYMBOLS_PER_WRITE = 1024;
    for (uint64_t done = 0; ok && (endless || done < symbols);) {
        const uint64_t count = endless ? SYMBOLS_PER_WRITE : std::min(SYMBOLS_PER_WRITE, symbols - done);
        samples.clear();
        AppendStream(synthesis, static_cast<size_t>(count), samples);
        bytes.resize(samples.size() * 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            const auto bits = static_cast<uint16_t>(samples[i]);
            bytes[2 * i] = static_cast<unsigned char>(bits & 0xFF);
            bytes[2 * i + 1] = static_cast<unsigned char>(bits >> 8);
        }
        ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        done += count;
    }
    ok = std::fflush(file) == 0 && ok;
    if (file != stdout)
        ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        Say("writing " + std::string(output == "-" ? "standard output" : output) + " failed");
        return EXIT_UNUSABLE;
    }
    return EXIT_WITHIN;
}
