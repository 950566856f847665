#include "transmitter/dsp/synthesis.h"

#include "common/extended_trig.h"
#include "common/phase.h"
#include "common/rounding.h"
#include "common/signal_facts.h"

#include <cmath>

namespace {

// b(1)..b(22) of the 43-tap symmetric low-pass that shapes each symbol;
// b(44 - j) = b(j), centre b(22). The taps sum to 0.967057211404.
constexpr int kBaseTapCount = 43;
constexpr double kBaseTapsToCentre[22] = {
    -0.00037431768913, -0.0210997775123,  -0.00582761531675, 0.00202742566687,
    0.0109706415249,   0.0132101078099,   0.00458353148865,  -0.0111409532827,
    -0.0230555976595,  -0.0199138939836,  0.000877916565828, 0.0285627169488,
    0.0433970433042,   0.0290784514096,   -0.0139534870617,  -0.0636703946324,
    -0.0853111124469,  -0.0505247884959,  0.0437692486652,   0.168727502656,
    0.274923748625,    0.316544418236,
};

// b(j) for j = 1..43, and 0 outside, as the polyphase sums need.
double BaseTap(int j)
{
    if (j < 1 || j > kBaseTapCount)
        return 0.0;
    const int fromCentre = j <= 22 ? j : kBaseTapCount + 1 - j;
    return kBaseTapsToCentre[fromCentre - 1];
}

// Arrays are allocated once, zero-filled; asking again keeps the existing
// one and its contents.
template <typename T>
void AllocateOnce(std::vector<T>& array, int highestIndex, T zero)
{
    if (array.empty())
        array.assign(static_cast<size_t>(highestIndex) + 1, zero);
}

// Signed two's-complement low 16 bits, little-endian.
void StoreSample(unsigned char* out, long long value)
{
    const auto bits = static_cast<uint16_t>(static_cast<unsigned long long>(value));
    out[0] = static_cast<unsigned char>(bits & 0xFF);
    out[1] = static_cast<unsigned char>(bits >> 8);
}

// Brings a phase that the single subtraction of 2*pi left outside [0, 2*pi)
// (negative carrier, or a carrier of sampleRate or more) fully back into
// range. A phase that is no longer finite (nonsensical settings) restarts
// at 0 rather than poisoning every later sample.
double FullyReducedPhase(double phase, double twoPi)
{
    if (!std::isfinite(phase))
        return 0.0;
    return WrapIntoTurn<double>(phase, twoPi, [](long double value) { return static_cast<double>(value); });
}

}  // namespace

void Synthesis::InitSynthesis()
{
    pi = static_cast<double>(PI);
    if (carrierFrequency == 0)
        carrierFrequency = DEFAULT_CARRIER_FREQUENCY;
    if (sampleRate == 0)
        sampleRate = DEFAULT_SAMPLE_RATE;
    barkerLength = BARKER_LENGTH;
    filterLength = 44;

    AllocateOnce(barkerTable, barkerLength, 0.0);
    for (int i = 0; i < barkerLength; ++i)
        barkerTable[i] = BARKER_CHIPS[i];

    AllocateOnce(polyphaseTable, filterLength, 0.0);
    FillPolyphaseTable();
}

// Entry 4m + p is the sum of b(4m+1-p) .. b(4m+4-p), in that order, divided
// by 4, even where fewer than four of those taps exist (n = 1, 2, 3, 40).
// The sum runs in long double, the quotient is stored as a double.
void Synthesis::FillPolyphaseTable()
{
    for (int n = 0; n < filterLength; ++n) {
        const int m = n / SAMPLES_PER_SYMBOL;
        const int p = n % SAMPLES_PER_SYMBOL;
        long double sum = 0.0L;
        for (int t = 1; t <= SAMPLES_PER_SYMBOL; ++t)
            sum += BaseTap(SAMPLES_PER_SYMBOL * m + t - p);
        polyphaseTable[n] = static_cast<double>(sum / 4);
    }
}

void Synthesis::AdvanceSymbol()
{
    framePosition += 1;
    if (framePosition > FRAME_LENGTH - 1)
        framePosition = 0;
    // Positions past the table leave the symbol as it is: entry 13 has just
    // set it to 0, which it stays for the rest of the frame.
    if (framePosition >= 0 && framePosition < static_cast<int32_t>(barkerTable.size()))
        currentSymbol = {barkerTable[framePosition], 0.0};
}

void Synthesis::FillSymbolSamples(unsigned char* out, ComplexValue symbol)
{
    // Playback never starts before InitSynthesis; should a caller forget
    // it, set up the tables here rather than read outside them.
    if (polyphaseTable.empty())
        InitSynthesis();
    AllocateOnce(delayLine, TapsPerPhase(), ComplexValue{0, 0});
    ShiftIntoDelayLine(symbol);

    for (int i = 0; i < SAMPLES_PER_SYMBOL; ++i) {
        const ComplexValue baseband = FilterOutput(i);
        const SineCosine carrier = ExtendedSineCosine(carrierPhase);
        // Re{(I + jQ) e^(j phase)}, scaled, all in long double.
        const long double v = OUTPUT_AMPLITUDE * (baseband.re * carrier.cosine - baseband.im * carrier.sine);
        StoreSample(out + 2 * i, RoundHalfEven(v));
        AdvanceCarrierPhase();
    }
}

void Synthesis::NextSymbolSamples(unsigned char* out)
{
    AdvanceSymbol();
    FillSymbolSamples(out, currentSymbol);
}

// Index 0 is the oldest symbol; the newest goes to the last entry and is
// not heard before the next call.
void Synthesis::ShiftIntoDelayLine(ComplexValue symbol)
{
    const int newest = TapsPerPhase();
    for (int j = 0; j < newest; ++j)
        delayLine[j] = delayLine[j + 1];
    delayLine[newest] = symbol;
}

// I and Q over delay-line entries 0..10 with taps sampleIndex, +4, +8, ...;
// each product and sum in long double, each running sum stored as a double.
ComplexValue Synthesis::FilterOutput(int sampleIndex) const
{
    if (delayLine.empty())  // nothing sent yet: the filter holds only zeros
        return {0, 0};
    const long double firstTap = polyphaseTable[sampleIndex];
    double sumI = static_cast<double>(firstTap * delayLine[0].re);
    double sumQ = static_cast<double>(firstTap * delayLine[0].im);
    for (int k = 1; k < TapsPerPhase(); ++k) {
        const long double tap = polyphaseTable[sampleIndex + SAMPLES_PER_SYMBOL * k];
        sumI = static_cast<double>(sumI + tap * delayLine[k].re);
        sumQ = static_cast<double>(sumQ + tap * delayLine[k].im);
    }
    return {sumI, sumQ};
}

// One sample's step, (pi * 2 * carrierFrequency) / sampleRate, formed in
// long double and added in long double, the phase stored as a double. Then
// 2*pi is subtracted once if the phase has reached it: for carriers from 0
// to sampleRate that keeps it in [0, 2*pi). Other carriers would let it run
// away until the carrier is noise, so they fall back to a full reduction.
void Synthesis::AdvanceCarrierPhase()
{
    const long double twoPi = static_cast<long double>(pi) * 2;
    const long double step = static_cast<long double>(pi) * 2 * carrierFrequency / sampleRate;
    carrierPhase = static_cast<double>(carrierPhase + step);
    if (!(twoPi > carrierPhase))
        carrierPhase = static_cast<double>(carrierPhase - twoPi);
    if (!(carrierPhase >= 0 && carrierPhase < twoPi))
        carrierPhase = FullyReducedPhase(carrierPhase, static_cast<double>(twoPi));
}
