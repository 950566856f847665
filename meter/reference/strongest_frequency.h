// The strongest frequency in a stream, for saying what was heard when it
// is not the reference: a Hann-windowed power spectrum of blocks of about
// a quarter of a second, averaged over the first blocks and one in
// SPECTRUM_BLOCK_STRIDE after them (the cost stays far below the stream's).
#pragma once

#include "meter/reference/radix2_fft.h"

#include <cstddef>
#include <vector>

class SpectrumPeak {
public:
    explicit SpectrumPeak(int sampleRate);
    void Push(const float* samples, size_t count);
    // Hz, between bins by a parabola through the peak's neighbours; 0
    // before the first block or with nothing but DC.
    double StrongestHz() const;

private:
    void Analyse();

    int sampleRate;
    Radix2Fft fft;
    std::vector<float> block;
    std::vector<double> window, power;
    size_t filled = 0;
    long blocks = 0, analysed = 0;
};
