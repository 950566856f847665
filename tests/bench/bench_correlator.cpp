// Cost of the receiver's per-buffer and per-block work against its
// real-time budget: one capture buffer (1024 samples) and one block both
// last 1024 / sampleRate s, 128 ms at 8000 Hz. Everything runs on the GUI
// thread, so the rest of that time is the dialog's.
#include "receiver/dsp/correlator.h"
#include "common/memory_picture.h"
#include "receiver/dsp/receiver_arithmetic.h"
#include "tests/bench/timing.h"
#include "transmitter/dsp/stream.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t BACKGROUND = 0x00C8D0D4;

// A receiver at these settings that has already seen a few blocks of the
// transmitter's signal, so every lag correlates real samples.
std::unique_ptr<Correlator> WarmCorrelator(int32_t sampleRate, float carrierFrequency,
                                           const std::vector<int16_t>& stream)
{
    auto correlator = std::make_unique<Correlator>();
    correlator->InitCorrelator(sampleRate, carrierFrequency);
    for (size_t start = 0; start + BLOCK_LENGTH <= stream.size(); start += BLOCK_LENGTH)
        correlator->ResampleBuffer({reinterpret_cast<const unsigned char*>(stream.data() + start),
                                    CAPTURE_BUFFER_BYTES, CAPTURE_BUFFER_BYTES});
    return correlator;
}

// The correlation in its straightforward order: all 130 taps multiplied,
// zeros included, each partial sum a float.
float FullCorrelationPower(const Correlator& c, int32_t lag)
{
    float re = 0, im = 0;
    for (int32_t k = 0; k < REFERENCE_LENGTH; ++k) {
        const long double tap = c.referenceTaps[k];
        re = StoreFloat(re + tap * c.decimatedWindow[lag + 2 * k].re);
        im = StoreFloat(im + tap * c.decimatedWindow[lag + 2 * k].im);
    }
    return StoreFloat(static_cast<long double>(re) * re + static_cast<long double>(im) * im);
}

void BenchAtRate(int32_t sampleRate, float carrierFrequency)
{
    const double budget = 1e9 * BLOCK_LENGTH / sampleRate;
    const std::vector<int16_t> stream = SynthesizeStream(sampleRate, carrierFrequency, 4 * 256);
    char name[96];

    // Signal processing alone, no pictures connected.
    auto bare = WarmCorrelator(sampleRate, carrierFrequency, stream);
    std::snprintf(name, sizeof name, "ProcessBlock at %d/%g, no pictures", sampleRate, carrierFrequency);
    ReportAgainstBudget(name, TimeRepeatedly([&] { bare->ProcessBlock(); }), budget);
    KeepResult(bare->peakIndex);

    // With both pictures drawn into memory (the waterfall full, so it
    // scrolls every block as in a long run).
    auto drawn = WarmCorrelator(sampleRate, carrierFrequency, stream);
    MemoryPicture waterfall(WATERFALL_WIDTH, WATERFALL_HEIGHT, BACKGROUND);
    MemoryPicture curve(CURVE_WIDTH, CURVE_HEIGHT, BACKGROUND);
    drawn->display.Connect(&waterfall, &curve, BACKGROUND);
    drawn->display.waterfallRow = WATERFALL_HEIGHT;
    std::snprintf(name, sizeof name, "ProcessBlock at %d/%g, memory pictures", sampleRate,
                  carrierFrequency);
    ReportAgainstBudget(name, TimeRepeatedly([&] { drawn->ProcessBlock(); }), budget);
    KeepResult(waterfall.pixels[0]);

    // One whole capture buffer: copy, resample, and the block it completes.
    auto buffers = WarmCorrelator(sampleRate, carrierFrequency, stream);
    buffers->SetClockPosition(900);
    size_t start = 0;
    std::snprintf(name, sizeof name, "ResampleBuffer (2048 bytes) at %d/%g", sampleRate, carrierFrequency);
    ReportAgainstBudget(name, TimeRepeatedly([&] {
                            buffers->ResampleBuffer(
                                {reinterpret_cast<const unsigned char*>(stream.data() + start),
                                 CAPTURE_BUFFER_BYTES, CAPTURE_BUFFER_BYTES});
                            start = (start + BLOCK_LENGTH) % (stream.size() - BLOCK_LENGTH);
                        }),
                        budget);
    KeepResult(buffers->peakIndex);
}

// The 512 correlations of a block: the correlator's (zero taps skipped)
// against the straightforward sum, which must give the same bits.
void BenchCorrelation()
{
    const std::vector<int16_t> stream = SynthesizeStream(8000, 1500, 4 * 256);
    auto c = WarmCorrelator(8000, 1500, stream);
    bool identical = true;
    for (int32_t lag = 0; lag < HALF_BLOCK_LENGTH; ++lag) {
        const float fast = c->CorrelationPower(lag, c->decimatedWindow);
        const float full = FullCorrelationPower(*c, lag);
        identical = identical && std::memcmp(&fast, &full, sizeof fast) == 0;
    }
    float sum = 0;
    const TimingResult skipping = TimeRepeatedly([&] {
        for (int32_t lag = 0; lag < HALF_BLOCK_LENGTH; ++lag)
            sum += c->CorrelationPower(lag, c->decimatedWindow);
    });
    const TimingResult full = TimeRepeatedly([&] {
        for (int32_t lag = 0; lag < HALF_BLOCK_LENGTH; ++lag)
            sum += FullCorrelationPower(*c, lag);
    });
    KeepResult(sum);
    std::printf("%-44s %12.1f ns/block\n", "512 correlations, zero taps skipped", skipping.nanosecondsPerCall);
    std::printf("%-44s %12.1f ns/block  (same bits: %s)\n", "512 correlations, all 130 taps",
                full.nanosecondsPerCall, identical ? "yes" : "NO");
}

}  // namespace

int main()
{
    BenchAtRate(8000, 1500);
    BenchAtRate(9600, 1500);
    BenchCorrelation();
    return 0;
}
