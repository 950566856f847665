// write_stream RATE CARRIER SECONDS > file.raw: the transmitter's signal as
// raw 16-bit little-endian mono samples, from the synthesis library. The
// performance script plays it into the receiver with pacat, a source that
// never has a gap, to find the rates the receiver sustains on its own.
#include "transmitter/dsp/stream.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: write_stream RATE CARRIER SECONDS\n");
        return 2;
    }
    const int32_t rate = std::atoi(argv[1]);
    const double carrier = std::atof(argv[2]);
    const double seconds = std::atof(argv[3]);
    const auto symbols = static_cast<size_t>(seconds * rate / SAMPLES_PER_SYMBOL);
    const std::vector<int16_t> samples = SynthesizeStream(rate, carrier, symbols);
    // Little-endian hosts only (x86): the samples are written as they lie in memory.
    return std::fwrite(samples.data(), sizeof(int16_t), samples.size(), stdout) == samples.size() ? 0 : 1;
}
