// soundclock signal: the transmitter's test signal as a file or a stream.
#include "meter/cli/commands.h"
#include "meter/cli/console.h"

#include "common/settings.h"
#include "meter/wav_format.h"
#include "transmitter/dsp/stream.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

SignalChoice SettingsFromFile()
{
    const TransmitterSettings settings = LoadSettings<double>();
    return {settings.sampleRate, settings.carrierFrequency};
}

void CheckSignalChoice(const SignalChoice& choice)
{
    if (choice.rate < 1000 || choice.rate > 384000)
        throw UsageError{"the signal's sample rate " + std::to_string(choice.rate) + " Hz is not one a sound card plays (1000 to 384000 Hz)"};
    if (!(choice.carrier > 0 && choice.carrier < choice.rate / 2.0))
        throw UsageError{"the carrier " + std::to_string(choice.carrier) + " Hz must lie between 0 and half the sample rate"};
}

int SignalCommand(Arguments& arguments)
{
    SignalChoice choice = SettingsFromFile();
    std::string output = "-";
    bool raw = false;
    double seconds = -1;
    while (!arguments.Done()) {
        const std::string option = arguments.Take();
        if (option == "-o" || option == "--output")
            output = arguments.Value(option);
        else if (option == "--raw")
            raw = true;
        else if (option == "--seconds") {
            seconds = arguments.Number(option);
            if (seconds <= 0)
                throw UsageError{"--seconds: more than 0 is needed"};
        } else if (option == "--rate")
            choice.rate = static_cast<int>(arguments.Integer(option, 1, 10000000));
        else if (option == "--carrier")
            choice.carrier = arguments.Number(option);
        else
            throw UsageError{"signal: unknown option " + option};
    }
    CheckSignalChoice(choice);

    std::FILE* file = stdout;
    if (output == "-") {
        if (IsTerminal(stdout))
            throw UsageError{"signal: standard output is a terminal; give -o FILE or pipe it into a player"};
        UseBinaryMode(stdout);
    } else {
        file = std::fopen(output.c_str(), "wb");
        if (file == nullptr) {
            std::fprintf(stderr, "soundclock: cannot write %s\n", output.c_str());
            return EXIT_UNUSABLE;
        }
    }

    // Whole symbols of four samples, enough to cover the time asked for.
    const bool endless = seconds < 0;
    const uint64_t symbols = endless ? 0 : static_cast<uint64_t>(std::ceil(seconds * choice.rate / SAMPLES_PER_SYMBOL));
    bool ok = true;
    if (!raw) {
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
        std::fprintf(stderr, "soundclock: writing %s failed\n", output == "-" ? "standard output" : output.c_str());
        return EXIT_UNUSABLE;
    }
    return EXIT_WITHIN;
}
