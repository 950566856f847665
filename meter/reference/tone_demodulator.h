// The tone's phase, block by block: each block of samples, weighted by a
// Blackman-Harris window (blackman_harris.h), is correlated with a complex
// oscillator at the tone's frequency as found (within a few hundredths of
// a hertz); the sum's argument is the tone's phase at the block's centre,
// its magnitude the tone's amplitude. A block is BLOCK_SECONDS long and a
// new one starts every quarter of that: the window's main lobe is then
// 16 Hz to either side (hum 30 Hz from a 20 Hz tone, and the tone's own
// image at -20 Hz, lie in its sidelobes, 92 dB down), and the overlapping
// blocks weight every sample alike, so that a line through their phases
// comes within a few per cent of the Cramer-Rao bound for a tone in white
// noise. Their noise is correlated from block to block, by
// CorrelationFactor(). Why: docs/accuracy.md#tone-blocks
//
// Contract:
//   - Push() takes any number of samples (a stream's buffers as they come)
//     and appends every block whose last sample has arrived to `blocks`, in
//     order. At most BLOCK_OVERLAP blocks are open at a time, each two sums;
//     memory is the window's table (4 hop complex values), none per sample.
//   - Block k starts at firstSample + k hop (firstSample: the position of
//     the first sample pushed, counted by the caller); its phase holds at
//     its centre, start + 2 hop. A tone cos(2 pi (nu n + p)) gives the
//     fraction of nu centre + p, in [-1/2, 1/2).
//   - MarkDiscontinuity(): the stream lost or repeated samples before the
//     next ones; the blocks open then hold samples from both sides and come
//     out marked `straddlesGap`.
//   - A frequency off the oscillator's by d cycles a sample turns the phase
//     by d a sample and lowers the amplitude (a tenth of a bin: 0.02 dB);
//     it biases neither.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr double BLOCK_SECONDS = 0.25;
constexpr int BLOCK_OVERLAP = 4;  // blocks covering each sample
// What a block's phase may be off by that no noise explains, RMS, in
// cycles: the float samples' rounding (a tone without noise scatters by
// 3e-10 cycles at 8000 Hz). The tests of steps and of steadiness allow it,
// so that a tone without noise reads steady; a 16-bit card's own rounding
// is twelve times this. Why: docs/accuracy.md#tone-steadiness
constexpr double SYSTEMATIC_CYCLES = 1e-8;
// A 16-bit card's largest positive sample: a sample this large or larger
// (either sign) was clipped.
constexpr float CLIP_LEVEL = 32767.0f / 32768.0f;

// A stream's hop between blocks: a quarter of BLOCK_SECONDS, in samples.
int ToneHop(int sampleRate);

struct ToneBlock {
    int64_t index = 0;          // from the demodulator's first block
    double centre = 0;          // samples, where its phase holds
    double phaseCycles = 0;     // the tone's phase there, [-1/2, 1/2)
    double amplitude = 0;       // the tone's (a full-scale sine: 1)
    float peak = 0;             // the largest |sample| in it
    bool straddlesGap = false;  // a reported discontinuity falls inside it
};

class ToneDemodulator {
public:
    ToneDemodulator(double cyclesPerSample, int hop, int64_t firstSample);

    void Push(const float* samples, size_t count, std::vector<ToneBlock>& blocks);
    void MarkDiscontinuity();

    int Hop() const { return hop; }
    int Length() const { return BLOCK_OVERLAP * hop; }
    double CyclesPerSample() const { return cyclesPerSample; }
    // Consecutive blocks share samples: the variance of the sum of many
    // blocks' phase errors, over the sum of their variances (2.0 for this
    // window at this overlap, from the window itself: sum over lags m of
    // sum w[n] w[n + m hop] / sum w^2).
    double CorrelationFactor() const { return correlationFactor; }
    // A block's phase deviation, in cycles, for a tone of `amplitude` in
    // white noise of variance `noiseVariance` a sample.
    double PhaseDeviation(double amplitude, double noiseVariance) const;

private:
    struct OpenBlock {
        int64_t index = 0, start = 0;
        // Two pairs of sums, over the even and the odd samples of the block
        // (the additions of one do not wait on the other's), each taken in
        // the samples' order: the same bits whatever the buffers.
        double re[2] = {0, 0}, im[2] = {0, 0};
        float peak = 0;
        bool straddlesGap = false;
    };
    void Accumulate(OpenBlock& block, const float* samples, int64_t from, int64_t to, int64_t firstOfPush) const;
    ToneBlock Finished(const OpenBlock& block) const;

    double cyclesPerSample;
    int hop;
    std::vector<double> tableRe, tableIm;  // w[n] exp(-2 pi i nu (n - 2 hop))
    double windowSum = 0, windowSquares = 0, correlationFactor = 1;
    int64_t nextSample;      // the position of the next sample pushed
    int64_t nextStart;       // of the next block to open
    int64_t nextIndex = 0;
    std::vector<OpenBlock> open;
};
