// libFuzzer target for the recording reader: any bytes, as a WAV file and
// as raw samples, must be read or refused with words, never read outside
// the input; the samples read go through the clock meter as well, and read
// at full resolution they are finite.
#include "meter/clock_estimator.h"
#include "meter/recording_reader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data(data), size(size) {}
    size_t Read(unsigned char* buffer, size_t wanted) override
    {
        // Uneven pieces, as from a pipe.
        const size_t count = std::min({wanted, size - at, size_t{1} + at % 13});
        std::memcpy(buffer, data + at, count);
        at += count;
        return count;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

void Require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "reader invariant broken: %s\n", what);
    std::abort();
}

void ReadThrough(RecordingReader& reader, size_t inputSize)
{
    MeterSettings settings;
    settings.recordingRate = reader.SampleRate() > 0 ? reader.SampleRate() : 8000;
    ClockEstimator meter(settings);
    int16_t samples[257];
    size_t total = 0;
    while (size_t got = reader.ReadSamples(samples, 257)) {
        Require(got <= 257, "no more samples than asked for");
        total += got;
        meter.Push(samples, got);
    }
    meter.Finish();
    Require(total * 2 <= inputSize, "no more samples than the input holds");
    const ClockEstimate estimate = meter.Estimate();
    Require(!estimate.valid || estimate.blocksUsed >= 8, "a figure only from enough bursts");
}

// The same input read at full resolution, 16-bit and float reads mixed.
void ReadFullResolution(RecordingReader& reader, size_t inputSize)
{
    float full[129];
    int16_t narrow[5];
    size_t total = 0;
    for (;;) {
        const size_t got = reader.ReadSamples(full, 129);
        for (size_t i = 0; i < got; ++i)
            Require(std::isfinite(full[i]), "full-resolution samples are finite");
        const size_t more = reader.ReadSamples(narrow, 5);
        total += got + more;
        if (got == 0 && more == 0)
            break;
    }
    Require(total * 2 <= inputSize, "no more samples than the input holds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        MemorySource source(data, size);
        RecordingReader reader;
        std::string problem;
        const int channel = size > 0 ? data[size - 1] % 3 - 1 : -1;
        if (reader.OpenWav(source, channel, problem)) {
            Require(reader.SampleRate() >= 1 && reader.Channels() >= 1 && reader.Channel() < reader.Channels(), "a usable format");
            ReadThrough(reader, size);
        } else {
            Require(!problem.empty(), "a refusal says why");
        }
    }
    {
        MemorySource source(data, size);
        RecordingReader reader;
        std::string problem;
        if (reader.OpenWav(source, size > 1 ? data[size - 2] % 9 - 1 : -1, problem))
            ReadFullResolution(reader, size);
    }
    {
        MemorySource source(data, size);
        RecordingReader reader;
        std::string problem;
        Require(reader.OpenRaw(source, 8000, problem), "raw samples always open");
        ReadThrough(reader, size);
    }
    return 0;
}
