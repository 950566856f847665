// One block: mixing, low-pass and decimation, correlation, peak search.
#include "receiver/dsp/correlator.h"

#include "receiver/dsp/oscillator.h"
#include "receiver/dsp/receiver_arithmetic.h"

#include <cmath>

void Correlator::ProcessBlock()
{
    MixAndDecimate(inputBlock, decimatedWindow, phaseIncrement);
    peakIndex = CorrelateLags(decimatedWindow, lagMagnitudes);
    // The pictures first: a readout may look at the drawn block.
    display.ShowBlock(lagMagnitudes, halfBlockLength);
    if (readout != nullptr)
        readout->SetPeakText(FormatPeakText(peakIndex).c_str());
}

// Contract: reads block[0..1023] and the last 43 mixed samples of the
// previous call; writes basebandHistory[0..1066] and moves window on by
// 512 samples, its newest 512 (1024..1535) being the block low-passed and
// decimated by 2. Output i is the filter over mixed samples 2i - 43 .. 2i - 1
// of this block (negative ones from the previous block), so the decimation
// grid runs on without a break from block to block.
void Correlator::MixAndDecimate(const std::array<float, BLOCK_LENGTH>& block, DecimatedWindow& window,
                                float oscillatorStep)
{
    for (int32_t i = 0; i < lowpassLength; ++i)
        basebandHistory[i] = basebandHistory[blockLength + i];

    // Multiply by e^(-j phase), the oscillator starting at phase 0 in
    // every block.
    float phase = 0;
    for (int32_t n = 0; n < blockLength; ++n) {
        const SineCosine oscillator = ExtendedSineCosine(phase);
        const long double sample = block[n];
        basebandHistory[lowpassLength + n].re = StoreFloat(sample * oscillator.cosine);
        basebandHistory[lowpassLength + n].im = StoreFloat(-oscillator.sine * sample);
        phase = AdvanceOscillatorPhase(phase, oscillatorStep);
    }

    for (int32_t i = 0; i < 2 * halfBlockLength; ++i)
        window[i] = window[halfBlockLength + i];
    for (int32_t i = 0; i < halfBlockLength; ++i)
        window[2 * halfBlockLength + i] = LowpassAt(2 * i);
}

ComplexSample Correlator::LowpassAt(int32_t s) const
{
    ComplexSample sum{0, 0};
    for (int32_t k = 0; k < lowpassLength; ++k) {
        sum.re = AddProduct(sum.re, lowpassTaps[k], basebandHistory[s + k].re);
        sum.im = AddProduct(sum.im, lowpassTaps[k], basebandHistory[s + k].im);
    }
    return sum;
}

// Taps that are exactly zero (13..129) are skipped: their term is +0 or -0
// (the window holds finite values only), and adding a zero to a float sum
// leaves it unchanged, except that a -0 sum may become +0; the square
// removes that sign. So the power is bit for bit that of the full sum over
// all 130 taps, at a tenth of the work. The power itself is one expression:
// both squares and their sum at extended precision, rounded once.
float Correlator::CorrelationPower(int32_t lag, const DecimatedWindow& window) const
{
    ComplexSample c{0, 0};
    for (int32_t k = 0; k < referenceLength; ++k) {
        const float tap = referenceTaps[k];
        if (tap == 0)
            continue;
        c.re = AddProduct(c.re, tap, window[lag + 2 * k].re);
        c.im = AddProduct(c.im, tap, window[lag + 2 * k].im);
    }
    const long double re = c.re, im = c.im;
    return StoreFloat(re * re + im * im);
}

// Lag i of this block and lag i of the next are one block of input apart,
// so a signal that repeats every block peaks at the same lag every time.
int32_t Correlator::CorrelateLags(const DecimatedWindow& window, LagMagnitudes& magnitudes)
{
    float best = 0;
    int32_t peak = 0;
    for (int32_t i = 0; i < halfBlockLength; ++i) {
        const float power = CorrelationPower(i, window);
        if (power > best) {  // strictly: equal powers keep the lower lag
            best = power;
            peak = i;
        }
        // sqrtl is exactly rounded on every build (x87 fsqrt)
        magnitudes[i] = StoreFloat(std::sqrt(static_cast<long double>(power)));
    }
    return peak;
}
