// The discrete Fourier transform of a power-of-two length, in place, both
// ways:
//
//   Forward: X[k] = sum over n of x[n] exp(-2 pi i k n / N)
//   Inverse: x[n] = 1/N sum over k of X[k] exp(+2 pi i k n / N)
//
// unscaled forward (a sine of amplitude A on a bin's centre, under a
// window w, gives |X[k]| = A/2 sum w). Radix 2, decimation in time.
//
// The twiddle factors come from UnitPhasor (phasor.h), not the C library,
// so that every build (native, 32- and 64-bit Windows) gets the same bits.
// A plan holds them for one length; it is built once and applied to any
// number of buffers of that length.
#pragma once

#include "meter/reference/phasor.h"

#include <complex>
#include <cstddef>
#include <vector>

class Radix2Fft {
public:
    // `size`: a power of two, 1 or more.
    explicit Radix2Fft(size_t size);

    size_t Size() const { return size; }
    // `data` holds Size() values; on return, their transform.
    void Forward(std::complex<double>* data) const;
    void Inverse(std::complex<double>* data) const;

private:
    void Transform(std::complex<double>* data, bool inverse) const;

    size_t size;
    // Each stage's factors in a row, exp(-pi i k / span) for k < span, for
    // span = 1, 2, 4 .. N/2 (N - 1 in all): a stage reads them in order,
    // not strided through one table.
    std::vector<std::complex<double>> twiddles;
};

// The forward transform of real values, at half the cost: the even and odd
// samples as one complex sequence of half the length, transformed and
// parted again. Gives bins 0 .. N/2 (the rest are their conjugates).
class RealFft {
public:
    // `size`: a power of two, 2 or more.
    explicit RealFft(size_t size);

    size_t Size() const { return size; }
    // `input` holds Size() values; `bins` gets Size()/2 + 1.
    void Forward(const std::vector<double>& input, std::vector<std::complex<double>>& bins) const;

private:
    size_t size;
    Radix2Fft half;
    std::vector<std::complex<double>> twiddles;  // exp(-2 pi i k / N), k < N/2
    mutable std::vector<std::complex<double>> packed;
};
