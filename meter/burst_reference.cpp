#include "meter/burst_reference.h"

#include "transmitter/dsp/stream.h"

BurstReference MakeBurstReference(int32_t signalRate, double carrierFrequency)
{
    Synthesis synthesis = InitialisedSynthesis(signalRate, carrierFrequency);
    BurstReference reference;
    reference.carrierPerSample = static_cast<long double>(synthesis.carrierFrequency) / synthesis.sampleRate;

    // The first frame after start-up lacks its first chip: run through it
    // and take the second, complete one. The baseband of each sample is
    // what the transmitter multiplies by its carrier.
    unsigned char buffer[2 * SAMPLES_PER_SYMBOL];
    std::vector<double> frame;
    for (int symbol = 0; symbol < 2 * FRAME_LENGTH; ++symbol) {
        synthesis.NextSymbolSamples(buffer);
        if (symbol < FRAME_LENGTH - 1 || symbol == 2 * FRAME_LENGTH - 1)
            continue;  // the second frame starts with the call for position 0
        for (int i = 0; i < SAMPLES_PER_SYMBOL; ++i)
            frame.push_back(synthesis.FilterOutput(i).re);
    }
    size_t first = 0;
    while (first < frame.size() && frame[first] == 0)
        ++first;
    size_t last = frame.size();
    while (last > first && frame[last - 1] == 0)
        --last;
    reference.envelope.assign(frame.begin() + static_cast<std::ptrdiff_t>(first), frame.begin() + static_cast<std::ptrdiff_t>(last));
    reference.offsetInFrame = static_cast<int>(first);
    return reference;
}
