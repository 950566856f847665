#include "tests/reference/tone_signal.h"

#include "common/signal_facts.h"

#include <cmath>

namespace {

double Amplitude(double levelDbfs)
{
    return levelDbfs <= NO_LEVEL ? 0 : std::pow(10.0, levelDbfs / 20);
}

// splitmix64: a well-mixed 64-bit value from any 64-bit input.
uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// In (0, 1].
double Uniform(uint64_t bits)
{
    return (static_cast<double>(bits >> 11) + 1) * 0x1.0p-53;
}

// A standard normal value from a hash of (seed, stream, n): Box and Muller's
// pair, one member each for even and odd n.
double Normal(uint64_t seed, uint64_t stream, int64_t n)
{
    const uint64_t pair = static_cast<uint64_t>(n) >> 1;
    const uint64_t key = Mix(seed ^ Mix(stream ^ Mix(pair)));
    const double radius = std::sqrt(-2 * std::log(Uniform(key)));
    const double angle = 2 * static_cast<double>(PI) * Uniform(Mix(key));
    return radius * ((n & 1) ? std::sin(angle) : std::cos(angle));
}

// cos(2 pi cycles), with the whole turns taken off at extended precision
// first: the phase of an hour's tone keeps all of a double's digits.
double CosineOfTurns(long double cycles)
{
    const double turn = static_cast<double>(cycles - std::floor(cycles));
    return std::cos(2 * static_cast<double>(PI) * turn);
}

constexpr uint64_t NOISE_STREAM = 1, WALK_STREAM = 2;

}  // namespace

ToneSignal::ToneSignal(const ToneSignalSettings& settings)
    : settings(settings), amplitude(Amplitude(settings.levelDbfs)), humAmplitude(Amplitude(settings.hum.levelDbfs))
{
    const CardClock& clock = settings.clock;
    secondsPerSample = 1 / (clock.nominalRate * (1 + static_cast<long double>(clock.ppm) * 1e-6L));
    const ToneWander& w = settings.wander;
    wanders = w.sinePpm != 0 || w.walkPpmPerRootSecond != 0 || w.jumpAtSeconds >= 0;
    for (const ExtraTone& other : settings.others)
        otherAmplitudes.push_back(Amplitude(other.levelDbfs));
    if (std::isfinite(settings.snrDb))
        noiseDeviation = std::sqrt(amplitude * amplitude / 2 / std::pow(10.0, settings.snrDb / 10));
    walkKnots.push_back(0);
    walkIntegrals.push_back(0);
}

long double ToneSignal::IntegralOfWander(long double t)
{
    const ToneWander& w = settings.wander;
    long double integral = 0;
    if (w.sinePpm != 0) {
        const long double period = w.sinePeriodSeconds;
        integral += w.sinePpm * 1e-6L * period / (2 * PI) * (1 - CosineOfTurns(t / period));
    }
    if (w.jumpAtSeconds >= 0 && t > w.jumpAtSeconds)
        integral += w.jumpPpm * 1e-6L * (t - w.jumpAtSeconds);
    if (w.walkPpmPerRootSecond != 0 && t > 0) {
        // y at whole seconds, a random walk; straight between them.
        const size_t second = static_cast<size_t>(std::floor(t));
        while (walkKnots.size() <= second + 1) {
            const size_t k = walkKnots.size();
            const long double y = walkKnots[k - 1] +
                                  w.walkPpmPerRootSecond * 1e-6L * Normal(settings.seed, WALK_STREAM, static_cast<int64_t>(k));
            walkIntegrals.push_back(walkIntegrals[k - 1] + (walkKnots[k - 1] + y) / 2);
            walkKnots.push_back(y);
        }
        const long double into = t - static_cast<long double>(second);
        const long double y0 = walkKnots[second], y1 = walkKnots[second + 1];
        integral += walkIntegrals[second] + into * (y0 + (y1 - y0) * into / 2);
    }
    return integral;
}

double ToneSignal::Noise(int64_t n) const
{
    return noiseDeviation > 0 ? noiseDeviation * Normal(settings.seed, NOISE_STREAM, n) : 0;
}

float ToneSignal::Sample(int64_t n)
{
    const long double t = settings.clock.startSeconds + static_cast<long double>(n) * secondsPerSample;
    const ToneWander& w = settings.wander;
    const long double wander = wanders ? IntegralOfWander(t) : 0;
    long double cycles = settings.toneHz * (t + wander) + settings.startPhaseCycles;
    if (w.phaseStepAtSeconds >= 0 && t > w.phaseStepAtSeconds)
        cycles += w.phaseStepCycles;
    const bool silent = settings.toneLeftOut || t < settings.toneFromSeconds ||
                       (t >= settings.silentFromSeconds && t < settings.silentToSeconds);
    double value = (silent ? 0 : amplitude * CosineOfTurns(cycles)) + Noise(n);
    if (humAmplitude > 0) {
        // cos k x from cos x, by Chebyshev's recurrence.
        const double c1 = CosineOfTurns(settings.hum.hz * t);
        double previous = 1, current = c1;
        for (int k = 1; k <= settings.hum.harmonics; ++k) {
            value += humAmplitude / k * current;
            const double next = 2 * c1 * current - previous;
            previous = current;
            current = next;
        }
    }
    for (size_t i = 0; i < settings.others.size(); ++i)
        value += otherAmplitudes[i] * CosineOfTurns(settings.others[i].hz * t);
    return static_cast<float>(value);
}

std::vector<float> ToneSignal::Next(size_t count)
{
    std::vector<float> out(count);
    for (size_t i = 0; i < count; ++i, ++delivered) {
        while (nextSlip < settings.slips.size() && settings.slips[nextSlip].atSample == delivered) {
            cardOffset += settings.slips[nextSlip].dropped - settings.slips[nextSlip].repeated;
            ++nextSlip;
        }
        out[i] = Sample(delivered + cardOffset);
    }
    return out;
}

std::vector<float> ToneSamples(const ToneSignalSettings& settings, double seconds)
{
    ToneSignal signal(settings);
    return signal.Next(static_cast<size_t>(std::llrint(seconds * settings.clock.nominalRate)));
}
