#include "tests/reference/pps_signal.h"

#include "common/extended_trig.h"
#include "common/signal_facts.h"

#include <algorithm>
#include <cmath>

namespace {

// The anti-alias filter's half span, samples: a Blackman window this wide
// leaves the sinc's stop band 74 dB down, as a card's decimation filter.
constexpr double FILTER_HALF_SPAN = 32;
// The edge's response is tabulated this finely (per sample): cubic Hermite
// interpolation between the points errs by about (step)^4 / 384 of the
// response's fourth derivative, below 1e-9 of the height.
constexpr int TABLE_STEPS_PER_SAMPLE = 64;
// Each table step integrated over this many sub-steps (trapezoids): the
// table's values and slopes then agree to 1e-8, so the interpolation shows
// no ripple from step to step.
constexpr int SUB_STEPS = 8;
// A high-passed pulse is followed until its tail is this many time
// constants old (e^-20 of the pulse: below a float's resolution of it).
constexpr double TAIL_TIME_CONSTANTS = 20;
// The hum's phasors are computed afresh this often and rotated in between.
constexpr int HUM_REFRESH_SAMPLES = 1024;

double Sinc(double x)
{
    return x == 0 ? 1.0 : std::sin(static_cast<double>(PI) * x) / (static_cast<double>(PI) * x);
}

// The response to one unit edge at t = 0 (t in the card's samples), as the
// card records it: E(t) = exp(-t / tau) F(t), with F tabulated over the
// filter's span and the ramp, and constant after it.
class EdgeResponse {
public:
    EdgeResponse(double cutoff, double riseSamples, double tauSamples);
    double operator()(double t) const;
    // Where the response has settled into its plain decay (or level), and
    // that decay's factor (the response is Settled() exp(-t / tau) from there).
    double End() const { return end; }
    double Settled() const { return values.empty() ? 1.0 : values.back(); }

private:
    double LowPass(double t) const;
    double Derivative(double t) const;  // of the edge before the high-pass: d(t)
    double LowPassStep(double t) const;


    double cutoff, rise, tau;
    double start = 0, end = 0;
    std::vector<double> values, slopes;  // F and F' on the grid
    std::vector<double> lowPassSteps;    // the low-pass's step response, finer still (for the ramp)
};

EdgeResponse::EdgeResponse(double cutoff, double riseSamples, double tauSamples)
    : cutoff(cutoff), rise(riseSamples), tau(tauSamples)
{
    start = cutoff > 0 ? -FILTER_HALF_SPAN : 0;
    end = (cutoff > 0 ? FILTER_HALF_SPAN : 0) + rise;
    if (end <= start)
        return;  // a bare step: no table
    const double step = 1.0 / TABLE_STEPS_PER_SAMPLE;
    const size_t count = static_cast<size_t>(std::ceil((end - start) / step)) + 1;
    end = start + static_cast<double>(count - 1) * step;
    if (cutoff > 0 && rise > 0) {
        const double fine = step / SUB_STEPS;
        const size_t fineCount = static_cast<size_t>(std::ceil(2 * FILTER_HALF_SPAN / fine)) + 2;
        lowPassSteps.assign(fineCount, 0);
        for (size_t i = 1; i < fineCount; ++i) {
            const double t = -FILTER_HALF_SPAN + static_cast<double>(i) * fine;
            lowPassSteps[i] = lowPassSteps[i - 1] + 0.5 * fine * (LowPass(t - fine) + LowPass(t));
        }
    }
    values.assign(count, 0);
    slopes.assign(count, 0);
    auto integrand = [&](double t) { return Derivative(t) * (tau > 0 ? std::exp(t / tau) : 1.0); };
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const double t = start + static_cast<double>(i) * step;
        if (i > 0) {
            const double h = step / SUB_STEPS;
            for (int j = 0; j < SUB_STEPS; ++j) {
                const double a = t - step + j * h;
                sum += 0.5 * h * (integrand(a) + integrand(a + h));
            }
        }
        values[i] = sum;
        slopes[i] = integrand(t);
    }
}

double EdgeResponse::LowPass(double t) const
{
    if (std::fabs(t) >= FILTER_HALF_SPAN)
        return 0;
    const double phase = (t + FILTER_HALF_SPAN) / (2 * FILTER_HALF_SPAN);
    const double twoPi = 2 * static_cast<double>(PI);
    const double window = 0.42 - 0.5 * std::cos(twoPi * phase) + 0.08 * std::cos(2 * twoPi * phase);
    return 2 * cutoff * Sinc(2 * cutoff * t) * window;
}

double EdgeResponse::Derivative(double t) const
{
    if (rise <= 0)
        return LowPass(t);
    if (cutoff <= 0)
        return t >= 0 && t < rise ? 1 / rise : 0;
    // The low-pass of a ramp's slope (a box of 1 / rise over [0, rise)):
    // the difference of the low-pass's step response over the rise.
    return (LowPassStep(t) - LowPassStep(t - rise)) / rise;
}

double EdgeResponse::LowPassStep(double t) const
{
    if (t <= -FILTER_HALF_SPAN)
        return 0;
    if (t >= FILTER_HALF_SPAN)
        return lowPassSteps.back();
    const double where = (t + FILTER_HALF_SPAN) * TABLE_STEPS_PER_SAMPLE * SUB_STEPS;
    const size_t i = std::min(static_cast<size_t>(where), lowPassSteps.size() - 2);
    const double u = where - static_cast<double>(i);
    return (1 - u) * lowPassSteps[i] + u * lowPassSteps[i + 1];
}

double EdgeResponse::operator()(double t) const
{
    const double decay = tau > 0 ? std::exp(-t / tau) : 1.0;
    if (values.empty())
        return t >= 0 ? decay : 0;
    if (t <= start)
        return 0;
    if (t >= end)
        return decay * values.back();
    const double step = 1.0 / TABLE_STEPS_PER_SAMPLE;
    const double where = (t - start) / step;
    const size_t i = std::min(static_cast<size_t>(where), values.size() - 2);
    const double u = where - static_cast<double>(i);
    const double u2 = u * u, u3 = u2 * u;
    const double f = (2 * u3 - 3 * u2 + 1) * values[i] + (u3 - 2 * u2 + u) * step * slopes[i] +
                     (-2 * u3 + 3 * u2) * values[i + 1] + (u3 - u2) * step * slopes[i + 1];
    return decay * f;
}

// xorshift64*: the same numbers on every build.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
    uint64_t Next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    // Eight uniforms (16 bits each, four from each draw) less four, scaled
    // to unit variance: tails cut at 4.9, and no logarithm or cosine of the
    // C library, whose last bits differ between builds.
    double Normal()
    {
        uint64_t sum = 0;
        for (int draw = 0; draw < 2; ++draw) {
            const uint64_t bits = Next();
            sum += (bits & 0xFFFF) + ((bits >> 16) & 0xFFFF) + ((bits >> 32) & 0xFFFF) + (bits >> 48);
        }
        constexpr double SCALE = 1.0 / 65536;
        constexpr double ROOT_THREE_HALVES = 1.2247448713915890491;
        return ((static_cast<double>(sum) + 4.0) * SCALE - 4.0) * ROOT_THREE_HALVES;
    }

private:
    uint64_t state;
};

struct Pulse {
    double seconds;  // the leading edge's reference time
    double level;
};

// The pulses, in order of their leading edges.
std::vector<Pulse> Pulses(const PpsSignal& signal)
{
    auto listed = [](const std::vector<int64_t>& list, double t) {
        return std::find(list.begin(), list.end(), static_cast<int64_t>(t)) != list.end();
    };
    double lost = 0;
    for (const PpsSignal::Step& step : signal.steps)
        lost += std::max(0.0, step.samples) / signal.clock.ActualRate();
    std::vector<Pulse> pulses;
    const double first = std::floor(signal.clock.startSeconds) - 2;
    const double last = signal.clock.startSeconds + signal.seconds * (1 + 1e-3) + lost + 1;
    for (double t = first; t <= last; t += 1)
        if (!listed(signal.missingPulses, t))
            pulses.push_back({t, listed(signal.loudPulses, t) ? signal.loudLevel : signal.level});
    for (double t : signal.extraPulses)
        pulses.push_back({t, signal.level});
    std::sort(pulses.begin(), pulses.end(), [](const Pulse& a, const Pulse& b) { return a.seconds < b.seconds; });
    return pulses;
}

// Mains hum: a fundamental and its harmonics, each a phasor rotated from
// sample to sample and computed afresh now and then.
class Hum {
public:
    Hum(const PpsSignal& signal, Random& random)
    {
        amplitudes.push_back(signal.humLevel);
        for (double relative : signal.humHarmonics)
            amplitudes.push_back(signal.humLevel * relative);
        for (size_t k = 0; k < amplitudes.size(); ++k) {
            frequencies.push_back(signal.humHz * static_cast<double>(k + 1));
            phases.push_back(random.Uniform());
        }
        phasors.resize(amplitudes.size());
        steps.resize(amplitudes.size());
    }
    // At reference time `seconds`, the next sample `interval` later.
    double At(double seconds, double interval, bool fresh)
    {
        double sum = 0;
        for (size_t k = 0; k < amplitudes.size(); ++k) {
            if (amplitudes[k] == 0)
                continue;
            if (fresh) {
                phasors[k] = Phasor(frequencies[k] * seconds + phases[k]);
                steps[k] = Phasor(frequencies[k] * interval);
            }
            sum += amplitudes[k] * phasors[k].sine;
            const SineCosine p = phasors[k], s = steps[k];
            phasors[k] = {p.sine * s.cosine + p.cosine * s.sine, p.cosine * s.cosine - p.sine * s.sine};
        }
        return sum;
    }

private:
    static SineCosine Phasor(long double turns)
    {
        const long double reduced = turns - std::floor(turns + 0.5L);
        return ExtendedSineCosine(2 * PI * reduced);
    }
    std::vector<double> amplitudes, frequencies, phases;
    std::vector<SineCosine> phasors, steps;
};

}  // namespace

double FromDbfs(double dbfs)
{
    return std::pow(10.0, dbfs / 20);
}

std::vector<float> MakePpsSignal(const PpsSignal& signal)
{
    const CardClock& clock = signal.clock;
    const double rate = clock.ActualRate();
    const double tau = signal.highPassHz > 0 ? clock.nominalRate / (2 * static_cast<double>(PI) * signal.highPassHz) : 0;
    const EdgeResponse edge(signal.antiAliasFraction, signal.riseSeconds * rate, tau);
    const double width = signal.widthSeconds * rate;
    const double trailingGain = tau > 0 ? std::exp(width / tau) : 1;
    // How long after its leading edge a pulse still shows, samples.
    const double memory = width + edge.End() + (tau > 0 ? TAIL_TIME_CONSTANTS * tau : 0) + 1;
    const std::vector<Pulse> pulses = Pulses(signal);
    Random random(signal.seed);
    Hum hum(signal, random);
    const double sign = signal.rising ? 1.0 : -1.0;

    const size_t count = static_cast<size_t>(std::nearbyint(signal.seconds * clock.nominalRate));
    std::vector<float> samples(count);
    double shift = 0;  // card samples the stream has skipped (lost) so far
    size_t nextStep = 0, firstPulse = 0;
    bool stepped = true;
    for (size_t n = 0; n < count; ++n) {
        double cardSample = static_cast<double>(n) + shift;
        while (nextStep < signal.steps.size() && clock.TimeOf(0) + cardSample / rate >= signal.steps[nextStep].atSeconds) {
            shift += signal.steps[nextStep++].samples;
            cardSample = static_cast<double>(n) + shift;
            stepped = true;
        }
        const double seconds = clock.startSeconds + cardSample / rate;
        double value = 0;
        while (firstPulse < pulses.size() && cardSample - clock.SampleAt(pulses[firstPulse].seconds) > memory)
            ++firstPulse;
        for (size_t k = firstPulse; k < pulses.size(); ++k) {
            const double t = cardSample - clock.SampleAt(pulses[k].seconds);
            if (t < -FILTER_HALF_SPAN - 1)
                break;
            // Both edges past the filter's span: the high-pass's plain decay,
            // one exponential for the two.
            const double both = t - width >= edge.End() && tau > 0
                                    ? edge.Settled() * std::exp(-t / tau) * (1 - trailingGain)
                                    : edge(t) - edge(t - width);
            value += sign * pulses[k].level * both;
        }
        value += hum.At(seconds, 1 / rate, stepped || n % HUM_REFRESH_SAMPLES == 0);
        stepped = false;
        value += signal.noiseRms * random.Normal();
        samples[n] = static_cast<float>(std::clamp(signal.gain * value, -1.0, 1.0));
    }
    return samples;
}
