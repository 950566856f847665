// The correlator's parameters and constant tables: block sizes, the mixing
// oscillator's step, the Barker reference and the anti-alias low-pass.
#include "receiver/dsp/correlator.h"

#include "common/signal_facts.h"
#include "receiver/dsp/receiver_arithmetic.h"

namespace {

// The level of one reference tap: the float nearest to 0.01.
constexpr float REFERENCE_TAP_LEVEL = 0.01f;

// Low-pass taps 0..21; taps 22..42 mirror 20..0. Gain 0.98440 at zero
// frequency, within 0.2 dB of it up to 0.1 x sampleRate, at least 36 dB
// down from 0.2 x sampleRate: the anti-alias filter of the decimation by 2.
constexpr float LOWPASS_HALF[] = {
    -0.00177868490585f, -0.0103341998675f,  -0.00112763430547f, 0.00228213234741f,
    0.00668936140064f,  0.00638440522604f,  0.000235942310842f, -0.00864959993006f,
    -0.0136725348567f,  -0.00910469000385f, 0.0048760975508f,   0.0203811326578f,
    0.0253860155435f,   0.0117128495191f,   -0.0174006222407f,  -0.0455661423886f,
    -0.0498811611031f,  -0.0135906928703f,  0.0624522097793f,   0.156547755698f,
    0.234221010827f,    0.264278252776f,
};
constexpr int32_t LOWPASS_CENTRE = 21;
static_assert(sizeof LOWPASS_HALF / sizeof LOWPASS_HALF[0] == LOWPASS_CENTRE + 1, "taps 0..21");
static_assert(2 * LOWPASS_CENTRE + 1 == LOWPASS_LENGTH, "a symmetric filter");

}  // namespace

void Correlator::InitCorrelator(int32_t rate, float carrier)
{
    // The settings reader has applied these defaults already; applying
    // them again keeps a zero sample rate from ever reaching the division.
    sampleRate = rate != 0 ? rate : DEFAULT_SAMPLE_RATE;
    carrierFrequency = carrier != 0 ? carrier : static_cast<float>(DEFAULT_CARRIER_FREQUENCY);

    blockLength = BLOCK_LENGTH;
    halfBlockLength = HALF_BLOCK_LENGTH;
    referenceLength = REFERENCE_LENGTH;
    lowpassLength = LOWPASS_LENGTH;

    // In extended precision, then rounded once to a float.
    phaseIncrement = StoreFloat((2.0L * PI * static_cast<long double>(carrierFrequency))
                                / static_cast<long double>(sampleRate));
    clockCorrection = 0;

    chipPattern.fill(0);
    for (int32_t k = 0; k < BARKER_LENGTH; ++k)
        chipPattern[k] = BARKER_CHIPS[k];
    for (size_t k = 0; k < referenceTaps.size(); ++k)
        referenceTaps[k] = StoreFloat(static_cast<long double>(REFERENCE_TAP_LEVEL) * chipPattern[k]);

    lowpassTaps.fill(0);
    for (int32_t k = 0; k <= LOWPASS_CENTRE; ++k) {
        lowpassTaps[k] = LOWPASS_HALF[k];
        lowpassTaps[2 * LOWPASS_CENTRE - k] = LOWPASS_HALF[k];
    }
}

void Correlator::ConnectReadouts(ReadoutSink* readoutSink)
{
    readout = readoutSink;
}
