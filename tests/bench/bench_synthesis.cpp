// Cost of the transmitter's per-buffer work against its real-time budget:
// one playback buffer (one symbol, four samples) lasts 4 / sampleRate s.
#include "tests/bench/timing.h"
#include "common/extended_trig.h"
#include "transmitter/dsp/stream.h"
#include "transmitter/dsp/synthesis.h"

#include <cstdio>

namespace {

void BenchAtRate(int32_t sampleRate, double carrierFrequency)
{
    const double budget = 1e9 * SAMPLES_PER_SYMBOL / sampleRate;
    char name[96];
    unsigned char out[2 * SAMPLES_PER_SYMBOL] = {};

    Synthesis fill = InitialisedSynthesis(sampleRate, carrierFrequency);
    std::snprintf(name, sizeof name, "FillSymbolSamples at %d/%g", sampleRate, carrierFrequency);
    ReportAgainstBudget(name, TimeRepeatedly([&] { fill.FillSymbolSamples(out, fill.currentSymbol); }), budget);
    KeepResult(out);

    // What the playback does per finished buffer, over the real frame.
    Synthesis buffer = InitialisedSynthesis(sampleRate, carrierFrequency);
    std::snprintf(name, sizeof name, "AdvanceSymbol + FillSymbolSamples at %d/%g", sampleRate,
                  carrierFrequency);
    ReportAgainstBudget(name, TimeRepeatedly([&] { buffer.NextSymbolSamples(out); }), budget);
    KeepResult(out);
}

}  // namespace

int main()
{
    BenchAtRate(8000, 1500);
    BenchAtRate(9600, 1800);

    // The carrier's sine and cosine, four per call: for scale, no budget.
    double angle = 0;
    long double total = 0;
    const TimingResult trig = TimeRepeatedly([&] {
        const SineCosine sc = ExtendedSineCosine(angle);
        total += sc.cosine;
        angle = angle < 6 ? angle + 0.37 : 0;
    });
    KeepResult(total);
    std::printf("%-44s %12.1f ns/call\n", "ExtendedSineCosine", trig.nanosecondsPerCall);
    return 0;
}
