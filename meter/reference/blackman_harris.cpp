#include "meter/reference/blackman_harris.h"

#include "meter/reference/phasor.h"

namespace {

constexpr double A0 = 0.35875, A1 = 0.48829, A2 = 0.14128, A3 = 0.01168;

}  // namespace

std::vector<double> BlackmanHarris(size_t length)
{
    // Half of it, and the other half its mirror: symmetric to the last bit.
    const size_t half = length / 2;
    const std::vector<std::complex<double>> turn = PhasorSeries(0, 1.0L / static_cast<long double>(length), half + 1);
    std::vector<double> window(length);
    for (size_t n = 0; n <= half && n < length; ++n) {
        // cos 2x and cos 3x from cos x (Chebyshev's polynomials).
        const double c = turn[n].real();
        window[n] = A0 - A1 * c + A2 * (2 * c * c - 1) - A3 * (4 * c * c * c - 3 * c);
        if (n > 0)
            window[length - n] = window[n];
    }
    return window;
}
