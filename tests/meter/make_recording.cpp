// Writes a test recording as WAV to standard output: the transmitter's
// stream with its clock scaled, optionally noise, dropped samples and
// inserted silence, and a clock that moves. For trying soundclock by hand
// and for the plots in docs/.
//
//   make_recording RATE CARRIER PPM SECONDS [SNR_DB [SEED]] [drop SECONDS COUNT] [zeros SECONDS COUNT]
//                  [ramp PPM_PER_MINUTE] [wander PPM PERIOD_S] [warmup PPM SECONDS]
#include "meter/wav_format.h"
#include "tests/meter/stretched_signal.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_recording RATE CARRIER PPM SECONDS [SNR_DB [SEED]] [drop S N] [zeros S N] [ramp PPM_PER_MIN]"
                             " [wander PPM PERIOD_S] [warmup PPM SECONDS]\n");
        return 2;
    }
    RecordingRecipe recipe;
    recipe.rate = std::atoi(argv[1]);
    recipe.carrier = std::atof(argv[2]);
    recipe.ppm = std::atof(argv[3]);
    recipe.seconds = std::atof(argv[4]);
    int next = 5;
    // SNR and seed are numbers; the words after them are not.
    const auto isNumber = [&](int i) { return i < argc && std::strchr("0123456789-+.", argv[i][0]) != nullptr; };
    if (isNumber(next))
        recipe.snrDb = std::atof(argv[next++]);
    if (isNumber(next))
        recipe.seed = std::strtoull(argv[next++], nullptr, 10);
    // The clock's movement; the faults after it.
    std::vector<char*> faults;
    for (int i = next; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "ramp" && i + 1 < argc)
            recipe.rampPpmPerMinute = std::atof(argv[++i]);
        else if (word == "wander" && i + 2 < argc) {
            recipe.wanderPpm = std::atof(argv[++i]);
            recipe.wanderPeriodSeconds = std::atof(argv[++i]);
        } else if (word == "warmup" && i + 2 < argc) {
            recipe.warmUpPpm = std::atof(argv[++i]);
            recipe.warmUpSeconds = std::atof(argv[++i]);
        } else
            faults.push_back(argv[i]);
    }
    argc = next + static_cast<int>(faults.size());
    std::copy(faults.begin(), faults.end(), argv + next);
    std::vector<int16_t> samples = MakeRecording(recipe);
    // Faults, applied in the order given, at positions of the recording.
    for (; next + 2 < argc; next += 3) {
        const auto at = static_cast<size_t>(std::atof(argv[next + 1]) * recipe.rate);
        const auto count = static_cast<size_t>(std::atol(argv[next + 2]));
        if (at > samples.size())
            continue;
        if (std::strcmp(argv[next], "drop") == 0)
            samples.erase(samples.begin() + static_cast<long>(at), samples.begin() + static_cast<long>(std::min(at + count, samples.size())));
        else
            samples.insert(samples.begin() + static_cast<long>(at), count, 0);
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // samples, not text
#endif
    const std::string header = MakeWavHeader(recipe.rate, 1, samples.size() * 2);
    std::fwrite(header.data(), 1, header.size(), stdout);
    for (int16_t sample : samples) {
        const auto bits = static_cast<uint16_t>(sample);
        std::putchar(bits & 0xFF);
        std::putchar(bits >> 8);
    }
    return 0;
}
