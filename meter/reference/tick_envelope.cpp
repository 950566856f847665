#include "meter/reference/tick_envelope.h"

#include "common/extended_trig.h"
#include "common/signal_facts.h"

#include <algorithm>
#include <cmath>

namespace {

// The flanks are fitted between these fractions of the peak's strength:
// above the upper one the receiver's filter rounds the tip, below the
// lower one the noise and a second path's edge weigh more.
constexpr double FLANK_LOW = 0.25;
constexpr double FLANK_HIGH = 0.8;
// The Hilbert filter's half length at 8 kHz (Blackman-windowed): its
// magnitude is within 1 % of 1 from 200 Hz to 3.8 kHz, so that a pitch's
// mirror image (which would ripple the envelope's flanks as the tick moves
// across the samples) is 40 dB down for a tick at 300 Hz too.
constexpr int HILBERT_HALF_AT_8K = 23;
constexpr double PI_DOUBLE = 3.14159265358979323846;
// Rayleigh noise: median = 1.1774 sigma.
constexpr double RAYLEIGH_MEDIAN = 1.1774;

// A weighted line through a flank. The weights fall to 0 at the flank's
// ends, so that as the tick moves across the samples no point enters or
// leaves the fit with a jump (the flanks ripple a little with the
// receiver's filter, and a point that came in whole would move the line).
struct Flank {
    double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    int n = 0;
    void Add(double x, double y, double w)
    {
        sw += w;
        sx += w * x;
        sy += w * y;
        sxx += w * x * x;
        sxy += w * x * y;
        ++n;
    }
    bool Fit(double& slope, double& intercept) const
    {
        const double d = sw * sxx - sx * sx;
        if (n < 3 || d <= 0)
            return false;
        slope = (sw * sxy - sx * sy) / d;
        intercept = (sy - slope * sx) / sw;
        return true;
    }
};

double FlankWeight(double e, double peak)
{
    const double lo = FLANK_LOW * peak, hi = FLANK_HIGH * peak;
    return e <= lo || e >= hi ? 0.0 : (e - lo) * (hi - e) / ((hi - lo) * (hi - lo));
}

// |z| as the square root of its norm: std::abs goes through hypot, which
// guards against overflow our sums never come near, at several times the
// cost; the envelope is taken at every sample of every second.
double Magnitude(std::complex<double> z)
{
    return std::sqrt(z.real() * z.real() + z.imag() * z.imag());
}

// The rising flank up to the peak at `top` (of strength `peak`), from the
// tip down while it lasts, at most N samples.
Flank RisingFlank(const PitchEnvelope& envelope, size_t top, size_t N, double peak)
{
    Flank rising;
    for (size_t n = top; n > 0 && top - n <= N; --n) {
        const double e = envelope.Edge(n - 1, N);
        if (e < FLANK_LOW * peak)
            break;
        rising.Add(static_cast<double>(n - 1) - static_cast<double>(top), e, FlankWeight(e, peak));
    }
    return rising;
}

// The edge found at sample `top`, its start `offset` from it.
TickEdge EdgeAt(const PitchEnvelope& envelope, size_t top, double offset, double peak, size_t N, double noise)
{
    TickEdge edge;
    // The start lies near the tip; a flank bent by a second path can put
    // it far off, where the tip is the better guess.
    edge.found = true;
    edge.position = static_cast<double>(top) + (std::fabs(offset) > 2 ? 0.0 : offset);
    edge.strength = peak;
    edge.after = envelope.After(top, N);
    // The rising flank climbs `peak` over N samples: noise of `sigma` on it
    // moves the crossing by about sigma N / peak.
    edge.scatter = noise / RAYLEIGH_MEDIAN * static_cast<double>(N) / peak;
    return edge;
}

}  // namespace

PitchMixer::PitchMixer(double hz, double rate)
{
    const SineCosine sc = ExtendedSineCosine(2 * PI * static_cast<long double>(hz) / static_cast<long double>(rate));
    step = {static_cast<double>(sc.cosine), -static_cast<double>(sc.sine)};
}

std::complex<double> PitchMixer::Next()
{
    const std::complex<double> now = value;
    value *= step;
    if (++count % 1024 == 0)
        value /= Magnitude(value);
    return now;
}

HilbertFilter::HilbertFilter(double sampleRate)
{
    // Half length in proportion to the rate, so that the pass band starts
    // at the same frequency whatever the rate.
    const int half = std::max(7, static_cast<int>(std::lrint(HILBERT_HALF_AT_8K * sampleRate / 8000)) | 1);
    taps.assign(half + 1, 0.0);
    for (int k = 1; k <= half; k += 2) {
        // Blackman; the cosines from the extended sine, the same bits on every build.
        const double c1 = static_cast<double>(ExtendedSineCosine(PI * k / (half + 1)).cosine);
        const double c2 = static_cast<double>(ExtendedSineCosine(2 * PI * k / (half + 1)).cosine);
        const double window = 0.42 + 0.5 * c1 + 0.08 * c2;
        taps[k] = 2 / (PI_DOUBLE * k) * window;
    }
}

double HilbertFilter::Quadrature(const float* samples, size_t count, size_t i) const
{
    double sum = 0;
    const size_t half = taps.size() - 1;
    for (size_t k = 1; k <= half; k += 2) {
        const double later = i + k < count ? samples[i + k] : 0.0;
        const double earlier = i >= k ? samples[i - k] : 0.0;
        sum += taps[k] * (earlier - later);
    }
    return sum;
}

void PitchEnvelope::Load(const float* samples, size_t count, double pitchHz, double sampleRate)
{
    if (hilbertRate != sampleRate) {
        hilbert = HilbertFilter(sampleRate);
        hilbertRate = sampleRate;
    }
    prefix.assign(count + 1, 0.0);
    PitchMixer mixer(pitchHz, sampleRate);
    std::complex<double> sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::complex<double> analytic(samples[i], hilbert.Quadrature(samples, count, i));
        sum += analytic * mixer.Next();
        prefix[i + 1] = sum;
    }
}

double PitchEnvelope::After(size_t n, size_t N) const
{
    if (n + N >= prefix.size())
        return 0;
    return Magnitude(prefix[n + N] - prefix[n]);
}

double PitchEnvelope::Before(size_t n, size_t N) const
{
    if (n < N || n >= prefix.size())
        return 0;
    return Magnitude(prefix[n] - prefix[n - N]);
}

double PitchEnvelope::MeanAfter(size_t from, size_t to, size_t N, double reference) const
{
    const size_t step = std::max<size_t>(1, N / 2);
    double sum = 0;
    int count = 0;
    for (size_t n = from; n < to && n + N < prefix.size(); n += step, ++count)
        sum += After(n, N);
    return count > 0 && reference > 0 ? sum / count / reference : 0;
}

TickEdge FindEdge(const PitchEnvelope& envelope, size_t from, size_t to, size_t N, double noise, double threshold)
{
    TickEdge edge;
    to = std::min(to, envelope.Size());
    size_t best = from;
    double peak = -1;
    for (size_t n = from; n < to; ++n) {
        const double e = envelope.Edge(n, N);
        if (e > peak) {
            peak = e;
            best = n;
        }
    }
    if (peak <= 0 || peak < threshold * noise)
        return edge;
    // Lines through the flanks, from the tip outwards while they last.
    const Flank rising = RisingFlank(envelope, best, N, peak);
    Flank falling;
    for (size_t n = best + 1; n - best <= N; ++n) {
        const double e = envelope.Edge(n, N);
        if (e < FLANK_LOW * peak)
            break;
        falling.Add(static_cast<double>(n) - static_cast<double>(best), e, FlankWeight(e, peak));
    }
    double b1 = 0, a1 = 0, b2 = 0, a2 = 0;
    double offset = 0;
    if (rising.Fit(b1, a1) && falling.Fit(b2, a2) && b1 > 0 && b2 < 0) {
        offset = (a2 - a1) / (b1 - b2);
    } else {
        // Too few points on a flank (a very short window): the tip's parabola.
        const double l = best > 0 ? envelope.Edge(best - 1, N) : peak, r = envelope.Edge(best + 1, N);
        const double curvature = l - 2 * peak + r;
        offset = curvature < 0 ? 0.5 * (l - r) / curvature : 0;
    }
    // Two flanks: about two independent windows' worth of noise.
    return EdgeAt(envelope, best, offset, peak, N, noise / std::sqrt(2.0));
}

TickEdge FindFirstEdge(const PitchEnvelope& envelope, size_t from, size_t to, size_t N, double noise, double firstShare)
{
    TickEdge edge;
    to = std::min(to, envelope.Size());
    if (from + 2 >= to || from == 0)
        return edge;
    std::vector<double> e(to + 1 - from + 1);
    for (size_t n = from - 1; n <= to; ++n)
        e[n - (from - 1)] = envelope.Edge(n, N);
    const auto at = [&](size_t n) { return e[n - (from - 1)]; };
    double strongest = 0;
    for (size_t n = from; n < to; ++n)
        strongest = std::max(strongest, at(n));
    size_t first = to;
    for (size_t n = from; n < to && first == to; ++n)
        if (at(n) >= firstShare * strongest && at(n) >= at(n - 1) && at(n) >= at(n + 1))
            first = n;
    if (first == to || strongest <= 0)
        return edge;
    const double peak = at(first);
    const Flank rising = RisingFlank(envelope, first, N, peak);
    double slope = 0, intercept = 0;
    double offset = 0;
    if (rising.Fit(slope, intercept) && slope > 0)
        offset = -intercept / slope + static_cast<double>(N);
    return EdgeAt(envelope, first, offset, peak, N, noise);
}

double EnvelopeNoise(const PitchEnvelope& envelope, size_t N)
{
    std::vector<double> levels;
    const size_t step = std::max<size_t>(1, N / 2);
    for (size_t n = 0; n + N < envelope.Size(); n += step)
        levels.push_back(envelope.After(n, N));
    if (levels.empty())
        return 0;
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    return levels[levels.size() / 2];
}

double ToneLevel(const float* samples, size_t count, double hz, double sampleRate, size_t N)
{
    if (N == 0 || count < N)
        return 0;
    PitchMixer mixer(hz, sampleRate);
    double sum = 0;
    int windows = 0;
    for (size_t start = 0; start + N <= count; start += N, ++windows) {
        std::complex<double> window = 0;
        for (size_t i = start; i < start + N; ++i)
            window += static_cast<double>(samples[i]) * mixer.Next();
        sum += Magnitude(window) / static_cast<double>(N);
    }
    return windows > 0 ? sum / windows : 0;
}
