// The transmitter's signal: the Barker burst symbol stream and its
// modulation into 16-bit audio samples.
//
// One frame is FRAME_LENGTH symbol positions: the 13 Barker chips as BPSK
// symbols (+1/-1), then silence. Each symbol becomes SAMPLES_PER_SYMBOL
// output samples through a four-phase polyphase low-pass, is mixed onto a
// real carrier of `carrierFrequency` Hz and scaled by OUTPUT_AMPLITUDE.
//
// Numbers: every stored value (taps, coefficients, sums, phase) is a double;
// every product and sum is formed in `long double` (x87 80-bit on all our
// compilers) and rounded back to double where it is stored, by an explicit
// cast, which GCC honours even when the x87 unit computes doubles (32-bit
// build); -ffp-contract=off keeps each rounding. The carrier's sine and
// cosine come from ExtendedSineCosine, so all builds give the same bits.
#pragma once

#include <cstdint>
#include <vector>

struct ComplexValue { double re; double im; };

constexpr int FRAME_LENGTH = 256;
constexpr int SAMPLES_PER_SYMBOL = 4;
constexpr double OUTPUT_AMPLITUDE = 16000;

class Synthesis {
public:
    // settings as read at start-up; InitSynthesis applies the defaults again
    int32_t sampleRate = 0;
    double carrierFrequency = 0;

    // Once, before the first symbol: pi, the defaults, the Barker table and
    // the polyphase table. Tables that already exist are kept.
    void InitSynthesis();
    // Steps framePosition (incremented before use, 255 wraps to 0) and sets
    // currentSymbol to the chip at that position, or leaves it (0 after
    // the burst).
    void AdvanceSymbol();
    // writes 4 signed 16-bit little-endian samples into out[0..7]
    // Shifts `symbol` into the delay line (it is first heard in the next
    // call) and advances the carrier phase by four samples.
    void FillSymbolSamples(unsigned char* out, ComplexValue symbol);
    // AdvanceSymbol, then FillSymbolSamples(out, currentSymbol): the work of
    // one finished playback buffer.
    void NextSymbolSamples(unsigned char* out);

    // The filtered baseband value (I, Q) of sample `sampleIndex` (0..3)
    // from the current delay line, before the carrier; 0 before the first
    // FillSymbolSamples.
    ComplexValue FilterOutput(int sampleIndex) const;

    // state, named as the system names it (public, read by tests)
    double pi = 0;
    int32_t barkerLength = 0;
    int32_t filterLength = 0;
    std::vector<double> barkerTable;      // 0..13
    std::vector<double> polyphaseTable;   // 0..44
    std::vector<ComplexValue> delayLine;  // 0..11, allocated on first FillSymbolSamples
    int32_t framePosition = 0;
    ComplexValue currentSymbol{0, 0};
    double carrierPhase = 0;

private:
    int TapsPerPhase() const { return filterLength / SAMPLES_PER_SYMBOL; }
    void FillPolyphaseTable();
    void ShiftIntoDelayLine(ComplexValue symbol);
    void AdvanceCarrierPhase();
};
