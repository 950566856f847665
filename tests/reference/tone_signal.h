// A steady tone as a card records it, with a known truth: the card's clock
// (card_clock.h), the tone (frequency, level, phase), white noise at a
// given SNR over the whole band, mains hum and its harmonics, other tones,
// and the faults the tone meter must see: a frequency that wanders (a sine
// or a random walk) or jumps, a phase that steps, samples the stream drops
// or repeats.
//
// Every sample is a function of the card's sample number alone: the tone
// is evaluated at the sample's exact moment of the reference's time (no
// error accumulates over hours: the phase of sample n is f (t0 + n / rate)
// at extended precision, reduced to a turn before its cosine is taken in
// double precision), and the noise comes from a hash of the seed and n, so
// that a repeated sample repeats its noise too. Levels are dBFS of a sine's
// amplitude (a full-scale sine: 0 dBFS); samples are floats, full scale 1.
#pragma once

#include "tests/reference/card_clock.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

constexpr double NO_LEVEL = -1e9;  // dBFS: absent

struct ExtraTone {
    double hz = 0;
    double levelDbfs = NO_LEVEL;
};

struct MainsHum {
    double hz = 50;
    double levelDbfs = NO_LEVEL;  // the fundamental's
    int harmonics = 1;            // the k-th (k = 1 ..) at 1/k of the fundamental's amplitude
};

// The tone's frequency moving, as a fractional offset y(t) of the
// reference's time (its phase gains f times the integral of y).
struct ToneWander {
    double sinePpm = 0, sinePeriodSeconds = 60;  // y = sinePpm sin(2 pi t / period)
    double walkPpmPerRootSecond = 0;             // a random walk, steps each second
    double jumpAtSeconds = -1, jumpPpm = 0;      // y steps by jumpPpm from then on
    double phaseStepAtSeconds = -1, phaseStepCycles = 0;
};

// The stream loses `dropped` samples, or delivers the last `repeated` ones
// again, before the sample it delivers as number `atSample`.
struct SampleSlip {
    int64_t atSample = 0;
    int64_t dropped = 0, repeated = 0;
};

struct ToneSignalSettings {
    CardClock clock;
    double toneHz = 1000;
    double levelDbfs = -6;
    double startPhaseCycles = 0;
    double snrDb = std::numeric_limits<double>::infinity();  // the tone's power over the noise's, 0 .. rate/2
    bool toneLeftOut = false;  // the noise and the rest without the tone (the noise as its SNR says)
    // The tone begins then, in its time (the generator started after the card): before, the rest alone.
    double toneFromSeconds = -std::numeric_limits<double>::infinity();
    double silentFromSeconds = -1, silentToSeconds = -1;  // the tone away then (a cable pulled), in its time
    MainsHum hum;
    std::vector<ExtraTone> others;
    ToneWander wander;
    std::vector<SampleSlip> slips;  // in order of atSample
    uint64_t seed = 1;
};

class ToneSignal {
public:
    explicit ToneSignal(const ToneSignalSettings& settings);

    // The next `count` samples the stream delivers.
    std::vector<float> Next(size_t count);
    // The card's sample `n` (before any slip).
    float Sample(int64_t n);

private:
    long double IntegralOfWander(long double seconds);
    double Noise(int64_t n) const;

    ToneSignalSettings settings;
    long double secondsPerSample = 0;  // of the reference's time
    bool wanders = false;
    double amplitude = 0, noiseDeviation = 0, humAmplitude = 0;
    std::vector<double> otherAmplitudes;
    int64_t delivered = 0;   // samples the stream has delivered
    int64_t cardOffset = 0;  // card sample = delivered + cardOffset
    size_t nextSlip = 0;
    std::vector<long double> walkKnots, walkIntegrals;  // y and its integral at whole seconds
};

// `seconds` of a signal, as one buffer.
std::vector<float> ToneSamples(const ToneSignalSettings& settings, double seconds);
