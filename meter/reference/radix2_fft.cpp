#include "meter/reference/radix2_fft.h"

#include "common/extended_trig.h"
#include "common/signal_facts.h"

#include <cmath>
#include <utility>

std::complex<double> UnitPhasor(long double turns)
{
    // Into [-1/2, 1/2) turn: where ExtendedSineCosine keeps full precision.
    const long double reduced = turns - std::floor(turns + 0.5L);
    const SineCosine sc = ExtendedSineCosine(2 * PI * reduced);
    return {static_cast<double>(sc.cosine), static_cast<double>(sc.sine)};
}

Radix2Fft::Radix2Fft(size_t size) : size(size)
{
    twiddles.resize(size / 2);
    for (size_t k = 0; k < size / 2; ++k)
        twiddles[k] = UnitPhasor(-static_cast<long double>(k) / static_cast<long double>(size));
}

void Radix2Fft::Forward(std::complex<double>* data) const
{
    Transform(data, false);
}

void Radix2Fft::Inverse(std::complex<double>* data) const
{
    Transform(data, true);
    const double scale = 1.0 / static_cast<double>(size);
    for (size_t i = 0; i < size; ++i)
        data[i] *= scale;
}

void Radix2Fft::Transform(std::complex<double>* data, bool inverse) const
{
    // Bit-reversed order first, then butterflies of doubling span.
    for (size_t i = 1, j = 0; i < size; ++i) {
        size_t bit = size >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (size_t span = 1; span < size; span <<= 1) {
        const size_t stride = size / (2 * span);
        for (size_t start = 0; start < size; start += 2 * span)
            for (size_t k = 0; k < span; ++k) {
                const std::complex<double> t = twiddles[k * stride];
                const double wr = t.real(), wi = inverse ? -t.imag() : t.imag();
                const std::complex<double> a = data[start + k], b = data[start + k + span];
                // Written out: std::complex's operator* checks for
                // infinities and costs three times as much.
                const std::complex<double> bw(b.real() * wr - b.imag() * wi, b.real() * wi + b.imag() * wr);
                data[start + k] = a + bw;
                data[start + k + span] = a - bw;
            }
    }
}
