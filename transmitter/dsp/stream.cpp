#include "transmitter/dsp/stream.h"

Synthesis InitialisedSynthesis(int32_t sampleRate, double carrierFrequency)
{
    Synthesis synthesis;
    synthesis.sampleRate = sampleRate;
    synthesis.carrierFrequency = carrierFrequency;
    synthesis.InitSynthesis();
    return synthesis;
}

int16_t DecodeSample(const unsigned char* bytes)
{
    return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
}

void AppendStream(Synthesis& synthesis, size_t symbolCount, std::vector<int16_t>& samples)
{
    samples.reserve(samples.size() + SAMPLES_PER_SYMBOL * symbolCount);
    unsigned char buffer[2 * SAMPLES_PER_SYMBOL];
    for (size_t s = 0; s < symbolCount; ++s) {
        synthesis.NextSymbolSamples(buffer);
        for (int i = 0; i < SAMPLES_PER_SYMBOL; ++i)
            samples.push_back(DecodeSample(buffer + 2 * i));
    }
}

std::vector<int16_t> SynthesizeStream(int32_t sampleRate, double carrierFrequency, size_t symbolCount)
{
    Synthesis synthesis = InitialisedSynthesis(sampleRate, carrierFrequency);
    std::vector<int16_t> samples;
    AppendStream(synthesis, symbolCount, samples);
    return samples;
}
