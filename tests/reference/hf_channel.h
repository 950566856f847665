// The parts of a short-wave path and receiver that a time station's audio
// goes through on its way to the card, for test signals: each a function
// of time (or a plain filter), seeded, so that a test signal can evaluate
// it at every sample's exact moment and name its truth.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

// A small, fast, seedable generator (splitmix64): the same numbers on
// every build, unlike the standard library's distributions.
class TestRandom {
public:
    explicit TestRandom(uint64_t seed) : state(seed) {}
    uint64_t Next();
    double Uniform();                 // [0, 1)
    double Gaussian();                // mean 0, deviation 1
    std::complex<double> ComplexGaussian();  // mean power 1

private:
    uint64_t state;
    bool hasSpare = false;
    double spare = 0;
};

// sin and cos of 2 pi `cycles`, from +, -, * only (the same bits on every
// build, and faster than the C library's): good to 1e-11.
std::complex<double> UnitPhasor(double cycles);

// A slowly varying quantity given on a 4 ms grid of time and interpolated
// linearly in between: the fading gains and the wander, whose time scales
// are a second and more (the interpolation is off by under 1e-5 of their
// swing), cost one evaluation in 4 ms, not one a sample.
class GridInterpolated {
public:
    template <class F>
    std::complex<double> At(double seconds, F evaluate);

private:
    int64_t index = INT64_MIN;
    std::complex<double> before, after;
};

// Fading of one path: a complex gain of mean power 1.
//   Rayleigh: a sum of 16 phasors whose frequencies are Gaussian with a
//   deviation of 1 / (2 pi timeConstant): its magnitude is nearly
//   Rayleigh-distributed, its correlation time `timeConstant`.
//   Slow: an amplitude (no phase) of 10^(6 dB g(t) / 20), g a sum of
//   sinusoids of unit RMS with periods about 2 pi timeConstant.
enum class FadingKind { None, Rayleigh, Slow };

class Fading {
public:
    Fading(FadingKind kind, double timeConstantSeconds, TestRandom& random);
    std::complex<double> Gain(double seconds);

private:
    std::complex<double> Evaluate(double seconds) const;
    FadingKind kind;
    std::vector<double> frequencies, phases;
    GridInterpolated grid;
};

// A path delay that wanders: a sum of six sinusoids with random phases and
// periods 2 pi timeScale times 0.5 to 2 (log-uniform), of RMS
// `rmsSeconds` in all. Its rate of change has an RMS of about
// 1.16 rmsSeconds / timeScale over the ensemble of seeds
// (docs/accuracy.md#ticks-wander).
class DelayWander {
public:
    DelayWander(double rmsSeconds, double timeScaleSeconds, TestRandom& random);
    double At(double seconds);

private:
    std::vector<double> frequencies, phases;
    double amplitude = 0;
    GridInterpolated grid;
};

// Biquad sections in cascade (Direct Form I, double): the receiver's
// passband, 300 to 3000 Hz: a 4th-order Butterworth high-pass and a
// 6th-order Butterworth low-pass by the bilinear transform.
class ReceiverPassband {
public:
    explicit ReceiverPassband(double sampleRate);
    double Filter(double x);
    // The sum of the squared impulse response: white noise of variance v
    // comes out with variance v times this.
    double NoiseGain() const;

private:
    struct Section {
        double b0, b1, b2, a1, a2;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };
    void AddButterworth(double sampleRate, double cornerHz, int order, bool highPass);
    std::vector<Section> sections;
};

template <class F>
std::complex<double> GridInterpolated::At(double seconds, F evaluate)
{
    constexpr double STEP = 4e-3;
    const double position = seconds / STEP;
    const double floorPosition = std::floor(position);
    const int64_t k = static_cast<int64_t>(floorPosition);
    if (k != index) {
        if (k == index + 1) {
            before = after;
        } else {
            before = evaluate(static_cast<double>(k) * STEP);
        }
        after = evaluate(static_cast<double>(k + 1) * STEP);
        index = k;
    }
    const double f = position - floorPosition;
    return before + (after - before) * f;
}
