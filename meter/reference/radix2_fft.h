// The discrete Fourier transform of a power-of-two length, in place, both
// ways:
//
//   Forward: X[k] = sum over n of x[n] exp(-2 pi i k n / N)
//   Inverse: x[n] = 1/N sum over k of X[k] exp(+2 pi i k n / N)
//
// Radix 2, decimation in time. The twiddle factors come from
// ExtendedSineCosine (common/extended_trig.h), not the C library, so that
// every build (native, 32- and 64-bit Windows) gets the same bits. A plan
// holds them for one length; it is built once and applied to any number of
// buffers of that length.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

class Radix2Fft {
public:
    // `size`: a power of two, 2 or more.
    explicit Radix2Fft(size_t size);

    size_t Size() const { return size; }
    // `data` holds Size() values; on return, their transform.
    void Forward(std::complex<double>* data) const;
    void Inverse(std::complex<double>* data) const;

private:
    void Transform(std::complex<double>* data, bool inverse) const;

    size_t size;
    std::vector<std::complex<double>> twiddles;  // exp(-2 pi i k / N), k < N/2
};

// exp(2 pi i turns), the same bits on every build (the whole turns taken
// off at extended precision first).
std::complex<double> UnitPhasor(long double turns);
