#include "meter/reference/fir_decimator.h"

#include "common/extended_trig.h"
#include "common/signal_facts.h"

#include <cmath>

namespace {

// Taps per unit of the decimation factor: with the Kaiser window below the
// transition band is about 0.6 of the output rate wide, centred on its
// half: 50 dB down where an alias would land on 2.9 kHz at 8 kHz out.
constexpr int TAPS_PER_FACTOR = 10;
constexpr double KAISER_BETA = 4.5;
constexpr double PI_DOUBLE = 3.14159265358979323846;

double BesselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
        if (term < 1e-17 * sum)
            break;
    }
    return sum;
}

}  // namespace

FirDecimator::FirDecimator(int factor_) : factor(factor_ < 1 ? 1 : factor_)
{
    if (factor == 1)
        return;
    const int length = TAPS_PER_FACTOR * factor + 1;
    const double middle = 0.5 * (length - 1);
    const double cutoff = 0.5 / factor;  // cycles per input sample
    std::vector<double> h(length);
    double sum = 0;
    for (int k = 0; k < length; ++k) {
        const double t = k - middle;
        // The sine from the extended one (angle reduced to a turn): the
        // same taps on every build.
        const long double turns = static_cast<long double>(cutoff) * t;
        const long double angle = 2 * PI * (turns - std::floor(turns));
        const double sine = static_cast<double>(ExtendedSineCosine(angle).sine);
        const double sinc = t == 0 ? 2 * cutoff : sine / (PI_DOUBLE * t);
        const double ratio = t / middle;
        h[k] = sinc * BesselI0(KAISER_BETA * std::sqrt(1 - ratio * ratio)) / BesselI0(KAISER_BETA);
        sum += h[k];
    }
    taps.resize(length);
    for (int k = 0; k < length; ++k)
        taps[k] = static_cast<float>(h[k] / sum);  // unit gain at 0 Hz; symmetric
    history.assign(length - 1, 0.0f);
}

void FirDecimator::Reset()
{
    if (factor == 1)
        return;
    history.assign(taps.size() - 1, 0.0f);
    phase = 0;
}

void FirDecimator::Process(const float* in, size_t count, std::vector<float>& out)
{
    if (factor == 1) {
        out.insert(out.end(), in, in + count);
        return;
    }
    const size_t length = taps.size();
    const size_t kept = length - 1;
    history.insert(history.end(), in, in + count);
    // Output j ends on input j * factor: the first new input at such an index.
    size_t end = kept + (factor - phase) % static_cast<size_t>(factor);
    const size_t available = history.size();
    for (; end < available; end += factor) {
        const float* x = &history[end + 1 - length];
        // Four running sums in a fixed order: the same bits on every build.
        float a0 = 0, a1 = 0, a2 = 0, a3 = 0;
        size_t k = 0;
        for (; k + 4 <= length; k += 4) {
            a0 += taps[k] * x[k];
            a1 += taps[k + 1] * x[k + 1];
            a2 += taps[k + 2] * x[k + 2];
            a3 += taps[k + 3] * x[k + 3];
        }
        for (; k < length; ++k)
            a0 += taps[k] * x[k];
        out.push_back((a0 + a1) + (a2 + a3));
    }
    phase = (phase + count) % static_cast<size_t>(factor);
    history.erase(history.begin(), history.end() - static_cast<std::ptrdiff_t>(kept));
}

int DecimationFor(int sampleRate, int minimumRate)
{
    int best = 1;
    for (int d = 2; minimumRate > 0 && sampleRate / d >= minimumRate; ++d)
        if (sampleRate % d == 0)
            best = d;
    return best;
}
