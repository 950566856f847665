// A tick's start by its envelope at the tick's pitch, in a stretch of
// (decimated) samples: the pieces the tick meter measures each second with.
//
// The samples are mixed down by the pitch and summed over windows of N
// samples (the tick's edge length): |After(n)| is the envelope of what
// starts at n, |Before(n)| of what ends there. Their difference, the edge
// strength, peaks where a pulse of the pitch starts after less of it:
// at the start of a 5 ms tick in its silence as at the start of a 300 ms
// pulse. Its peak is a triangle (rising over N samples, falling after);
// the start is where lines through its two flanks meet, which the
// rounding of the tip by the receiver's filter does not move. Only the
// magnitudes are used: the receiver's tuning (the pitch's phase) does not
// matter, and a pitch off by a few tens of hertz costs little
// (sinc(df N / rate)).
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

// A unit phasor stepping by -2 pi hz / rate a sample, for mixing a pitch
// down to 0 Hz. The step is formed once from the extended sine, so every
// build mixes with the same bits; it is re-normalised every 1024 steps so
// that rounding does not make it grow.
class PitchMixer {
public:
    PitchMixer(double hz, double rate);
    std::complex<double> Next();

private:
    std::complex<double> step, value{1, 0};
    unsigned count = 0;
};

// A linear-phase FIR Hilbert transformer (odd taps only, centred: no
// delay): with the samples themselves it makes the analytic signal, whose
// mixing down leaves no image at twice the pitch.
class HilbertFilter {
public:
    explicit HilbertFilter(double sampleRate = 8000);
    // The quadrature part at samples[i], samples outside [0, count) taken as 0.
    double Quadrature(const float* samples, size_t count, size_t i) const;

private:
    std::vector<double> taps;  // taps[k] for k = 0..half; h[-k] = -h[k]
};

class PitchEnvelope {
public:
    // Mixes the analytic signal of samples[0..count) down by `pitchHz` at `sampleRate` and keeps
    // their running sums; the samples are not kept.
    void Load(const float* samples, size_t count, double pitchHz, double sampleRate);
    size_t Size() const { return prefix.empty() ? 0 : prefix.size() - 1; }

    // |sum over [n, n + N)| and |sum over [n - N, n)|; 0 outside the stretch.
    double After(size_t n, size_t N) const;
    double Before(size_t n, size_t N) const;
    double Edge(size_t n, size_t N) const { return After(n, N) - Before(n, N); }
    // The mean of After over [from, to), every `step` samples, over
    // `reference`: how much of the pitch goes on after a pulse's start.
    double MeanAfter(size_t from, size_t to, size_t N, double reference) const;

private:
    std::vector<std::complex<double>> prefix;  // prefix[n]: sum of the mixed samples before n
    HilbertFilter hilbert;
    double hilbertRate = 8000;
};

struct TickEdge {
    bool found = false;
    double position = 0;  // the start, samples into the stretch (fractional)
    double strength = 0;  // the edge strength at its peak
    double after = 0;     // |After| there: the pulse's envelope over N
    double scatter = 0;   // the start's standard deviation from the noise, samples
};

// The strongest edge in [from, to) (the peak must lie inside; the flanks
// may reach N beyond), found when its strength is at least `threshold`
// times `noise` (the envelope's level where no pulse is, as After gives it).
TickEdge FindEdge(const PitchEnvelope& envelope, size_t from, size_t to, size_t N, double noise, double threshold);

// The start of the earliest pulse in [from, to), timed over short windows
// of N samples: of the edge strength's local peaks, the earliest that
// reaches `firstShare` of the strongest (a second path's start comes after
// the first one's, and may be the stronger), by its rising flank alone:
// |After| grows linearly from N samples before a start, and the echo of a
// second path comes into it only after the start, where the falling flank
// is. The start is where the line through that flank reaches 0, plus N.
TickEdge FindFirstEdge(const PitchEnvelope& envelope, size_t from, size_t to, size_t N, double noise, double firstShare);

// The envelope's noise level: the median of After over the stretch (every
// N / 2 samples), which a pulse shorter than half of it does not move.
double EnvelopeNoise(const PitchEnvelope& envelope, size_t N);

// The mean level of a tone of `hz` in samples[0..count): the mean of
// |sum over windows of N| / N, N samples apart (a tone of amplitude a
// gives a / 2; a pitch off by less than rate / (4 N) loses little).
double ToneLevel(const float* samples, size_t count, double hz, double sampleRate, size_t N);
