#include "tests/reference/hf_channel.h"

#include <cmath>

namespace {

constexpr double TWO_PI = 6.283185307179586476925;
constexpr int RAYLEIGH_PHASORS = 16;
constexpr int WANDER_SINUSOIDS = 6;
constexpr double SLOW_FADING_DB = 6.0;

}  // namespace

uint64_t TestRandom::Next()
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double TestRandom::Uniform()
{
    return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0);
}

double TestRandom::Gaussian()
{
    if (hasSpare) {
        hasSpare = false;
        return spare;
    }
    double u = Uniform();
    while (u <= 0)
        u = Uniform();
    const double radius = std::sqrt(-2.0 * std::log(u));
    const std::complex<double> p = UnitPhasor(Uniform());
    spare = radius * p.imag();
    hasSpare = true;
    return radius * p.real();
}

std::complex<double> TestRandom::ComplexGaussian()
{
    const double re = Gaussian();
    return {re * std::sqrt(0.5), Gaussian() * std::sqrt(0.5)};
}

std::complex<double> UnitPhasor(double cycles)
{
    // Quarter turns off, then Taylor series on [-pi/4, pi/4].
    const double quarters = std::nearbyint(4 * (cycles - std::nearbyint(cycles)));
    const double x = TWO_PI * (cycles - std::nearbyint(cycles) - 0.25 * quarters);
    const double x2 = x * x;
    const double s = x * (1 - x2 * (1.0 / 6) * (1 - x2 * (1.0 / 20) * (1 - x2 * (1.0 / 42) * (1 - x2 * (1.0 / 72) * (1 - x2 * (1.0 / 110))))));
    const double c = 1 - x2 * 0.5 * (1 - x2 * (1.0 / 12) * (1 - x2 * (1.0 / 30) * (1 - x2 * (1.0 / 56) * (1 - x2 * (1.0 / 90) * (1 - x2 * (1.0 / 132))))));
    switch ((static_cast<int>(quarters) % 4 + 4) % 4) {
    case 1: return {-s, c};
    case 2: return {-c, -s};
    case 3: return {s, -c};
    default: return {c, s};
    }
}

Fading::Fading(FadingKind kind_, double timeConstantSeconds, TestRandom& random) : kind(kind_)
{
    const int count = kind == FadingKind::Rayleigh ? RAYLEIGH_PHASORS : WANDER_SINUSOIDS;
    for (int i = 0; i < count && kind != FadingKind::None; ++i) {
        if (kind == FadingKind::Rayleigh)
            frequencies.push_back(random.Gaussian() / (TWO_PI * timeConstantSeconds));
        else
            frequencies.push_back(1 / (TWO_PI * timeConstantSeconds * std::exp2(2 * random.Uniform() - 1)));
        phases.push_back(random.Uniform());
    }
}

std::complex<double> Fading::Evaluate(double seconds) const
{
    std::complex<double> sum = 0;
    if (kind == FadingKind::Rayleigh) {
        for (size_t i = 0; i < frequencies.size(); ++i)
            sum += UnitPhasor(frequencies[i] * seconds + phases[i]);
        return sum / std::sqrt(static_cast<double>(frequencies.size()));
    }
    double g = 0;
    for (size_t i = 0; i < frequencies.size(); ++i)
        g += UnitPhasor(frequencies[i] * seconds + phases[i]).real();
    g *= std::sqrt(2.0 / static_cast<double>(frequencies.size()));
    // Mean power 1: E[exp(2 a g)] = exp(2 a^2) for a Gaussian g of unit RMS.
    const double a = SLOW_FADING_DB * std::log(10.0) / 20;
    return std::exp(a * g - a * a);
}

std::complex<double> Fading::Gain(double seconds)
{
    if (kind == FadingKind::None)
        return 1.0;
    return grid.At(seconds, [this](double t) { return Evaluate(t); });
}

DelayWander::DelayWander(double rmsSeconds, double timeScaleSeconds, TestRandom& random)
{
    amplitude = rmsSeconds * std::sqrt(2.0 / WANDER_SINUSOIDS);
    for (int i = 0; i < WANDER_SINUSOIDS && rmsSeconds > 0; ++i) {
        frequencies.push_back(1 / (TWO_PI * timeScaleSeconds * std::exp2(2 * random.Uniform() - 1)));
        phases.push_back(random.Uniform());
    }
}

double DelayWander::At(double seconds)
{
    if (frequencies.empty())
        return 0;
    return grid.At(seconds, [this](double t) {
        double sum = 0;
        for (size_t i = 0; i < frequencies.size(); ++i)
            sum += UnitPhasor(frequencies[i] * t + phases[i]).imag();
        return std::complex<double>(amplitude * sum, 0);
    }).real();
}

ReceiverPassband::ReceiverPassband(double sampleRate)
{
    AddButterworth(sampleRate, 300, 4, true);
    AddButterworth(sampleRate, 3000, 6, false);
}

void ReceiverPassband::AddButterworth(double sampleRate, double cornerHz, int order, bool highPass)
{
    // Each conjugate pole pair of the analogue prototype, by the bilinear
    // transform with the corner prewarped.
    const double k = std::tan(TWO_PI * cornerHz / (2 * sampleRate));
    for (int i = 0; i < order / 2; ++i) {
        const double q = 1 / (2 * std::cos(TWO_PI * (2 * i + 1) / (8.0 * order) * 2));
        const double norm = 1 / (1 + k / q + k * k);
        Section s{};
        if (highPass) {
            s.b0 = norm;
            s.b1 = -2 * norm;
        } else {
            s.b0 = k * k * norm;
            s.b1 = 2 * k * k * norm;
        }
        s.b2 = s.b0;
        s.a1 = 2 * (k * k - 1) * norm;
        s.a2 = (1 - k / q + k * k) * norm;
        sections.push_back(s);
    }
}

double ReceiverPassband::Filter(double x)
{
    for (Section& s : sections) {
        const double y = s.b0 * x + s.b1 * s.x1 + s.b2 * s.x2 - s.a1 * s.y1 - s.a2 * s.y2;
        s.x2 = s.x1;
        s.x1 = x;
        s.y2 = s.y1;
        s.y1 = y;
        x = y;
    }
    return x;
}

double ReceiverPassband::NoiseGain() const
{
    ReceiverPassband copy = *this;
    for (Section& s : copy.sections)
        s.x1 = s.x2 = s.y1 = s.y2 = 0;
    double sum = 0;
    for (int n = 0; n < 200000; ++n) {
        const double y = copy.Filter(n == 0 ? 1.0 : 0.0);
        sum += y * y;
    }
    return sum;
}
