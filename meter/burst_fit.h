// The burst's delay and carrier phase from a least-squares fit of the
// recording, free of the leak of the carrier's image.
//
// The recording is real: around burst k it is
//   y[n] = A Re{ e^(j phi) b(n - d) },   b[n] = env[n] e^(j w n),
// the transmitter's burst (its envelope on a carrier of phase 0 at the
// burst's first sample) delayed by d = lag + f samples, f a fraction, and
// turned by phi. A complex correlation with env[n] e^(-j w n) picks up
// besides the wanted term an image, the component at minus the carrier
// seen through the burst's short envelope (13 chips of 4 samples, about
// +-rate/4 wide): large where the carrier is near 0 Hz or the Nyquist
// frequency, and it moves the phase, the magnitude and the match with the
// fractional delay. Fitted instead onto the two real regressors
// c_f = Re b(. - f) and s_f = Im b(. - f), y = a c_f - b s_f, the image is
// part of the model and no longer leaks.
//
// Two fits:
//   - AtLag: at an integer lag (f = 0), over the burst's own samples; the
//     search's detector and its match (explained energy over total).
//   - Refine: the fraction f itself, and the phase there: the explained
//     energy r(f)' G^-1 r(f) is maximised over f, with the regressors at a
//     fractional delay taken by band-limited interpolation of the real
//     burst (what a sound card's converters do to it), weighted by a
//     spectrum flat up to WEIGHT_PASS of the rate and zero from WEIGHT_STOP
//     on: what lies near the Nyquist frequency is treated differently by
//     every converter and resampler, and depends on the fractional delay
//     even on an ideal one, so it is left out of the fit. The weighted
//     regressors are tabulated on a grid of TABLE_STEPS per sample and
//     interpolated between (cubic Lagrange), once per setting.
// The fit of f is shift-invariant: a recording delayed by a further
// fraction gives f that much larger, whatever the fraction (on an
// in-band signal the inner products of band-limited sequences do not
// depend on where the sampling grid falls).
#pragma once

#include "meter/burst_reference.h"

#include <cstddef>
#include <vector>

class BurstFit {
public:
    explicit BurstFit(const BurstReference& reference);

    // Samples the fine fit reads before the lag and after the burst's end.
    static constexpr int MARGIN = 16;
    // The regressors' grid: steps per sample, over fractions -1..+1.
    static constexpr int TABLE_STEPS = 32;
    // The weighting spectrum (fractions of the sample rate).
    static constexpr double WEIGHT_PASS = 0.42;
    static constexpr double WEIGHT_STOP = 0.47;

    size_t Length() const { return length; }
    // What Refine reads: MARGIN + Length() + MARGIN samples.
    size_t WindowLength() const { return width; }

    struct Match {
        double energy = 0;      // explained energy (the fit's), in samples squared
        double normalised = 0;  // 0..1: sqrt(explained / total) over the burst
        double cosine = 0, sine = 0;  // the fitted amplitudes of c and s
    };
    // The fit at an integer lag; `samples` at the lag, `length` samples read.
    Match AtLag(const float* samples) const;
    // The raw inner products with c and s at an integer lag, and the
    // explained energy they give (the search's inner loop).
    double EnergyFromProducts(double withCosine, double withSine) const
    {
        return lagInverse[0] * withCosine * withCosine + 2 * lagInverse[1] * withCosine * withSine +
               lagInverse[2] * withSine * withSine;
    }
    const std::vector<double>& Cosine() const { return cosine; }
    const std::vector<double>& Sine() const { return sine; }

    struct Fine {
        double fraction = 0;  // f: the burst starts at lag + f
        double phase = 0;     // phi, radians: the carrier's phase at the burst's start
        double energy = 0;    // explained (weighted) energy there
        bool valid = false;
    };
    // The fit of f around an integer lag, |f| <= 1: `samples` at the lag;
    // reads from samples - MARGIN to samples + Length() + MARGIN. `stretch`
    // is the recording's samples per signal sample, less 1 (the offset
    // as known so far): the burst in the recording is that much longer,
    // which the fit allows for to first order (about the burst's centre).
    Fine Refine(const float* samples, double stretch = 0) const;

private:
    struct Products {
        double c = 0, s = 0;
    };
    // r at f = step / TABLE_STEPS, of the burst stretched by `stretch`
    // (zero: the stretch's products are not formed).
    Products At(const float* start, int step, double stretch = 0) const;
    double Energy(const Products& r) const
    {
        return inverse[0] * r.c * r.c + 2 * inverse[1] * r.c * r.s + inverse[2] * r.s * r.s;
    }

    size_t length = 0;
    std::vector<double> cosine, sine;  // the burst's real regressors at f = 0
    double lagInverse[3] = {0, 0, 0};  // their Gram matrix over the burst, inverted (xx, xy, yy)
    // The weighted regressors on the fine grid: step j (f = j / TABLE_STEPS,
    // j = -TABLE_STEPS-1 .. TABLE_STEPS+2) at table[(j + TABLE_STEPS + 1) * 4 * width]: c, s,
    // then what a stretch e takes from them per unit of e (the derivative
    // times the distance from the burst's centre).
    size_t width = 0;
    std::vector<double> table;
    double inverse[3] = {0, 0, 0};  // the weighted Gram matrix, inverted
};
