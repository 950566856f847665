// The shape of a pulse's leading edge in the first difference of the
// samples, learnt from the pulses themselves, and each edge's delay
// against it by maximum likelihood.
//
// The first difference turns a step into the card's impulse response (its
// anti-alias filter's ringing, its AC coupling's slow tail), short and the
// same for every pulse whatever the pulse's width; it takes out DC and most
// of the mains hum (by 2 sin(pi f / rate): 44 dB at 50 Hz and 48 kHz). A
// pulse shorter than the filter's span gives a doublet instead; the
// template is whatever the pulses show, so both are timed alike.
//
// The template is moved by an exact band-limited shift (in the frequency
// domain, over a zero-padded window whose ends are tapered to nothing), so
// the timing has no error that depends on where the edge falls between
// two samples: with a card off its rate that fraction drifts from pulse
// to pulse, and such an error would read as a rate.
//
// The fit (Gauss-Newton) is of y[n] = a T(n - delay) + b + c n over the
// central EDGE_FIT_LENGTH samples: the amplitude, the delay, and a local
// baseline (what is left of hum and of earlier pulses' AC-coupled tails).
#pragma once

#include "meter/reference/radix2_fft.h"

#include <complex>
#include <vector>

// Samples of the first difference in a fit, centred on the edge: the
// span of a card's anti-alias filter (about 32 samples either side of its
// peak) and of a short pulse's two edges.
constexpr int EDGE_FIT_LENGTH = 64;
// A window as the template and the fit take it: the fit's samples and as
// many again as margins, where the template tapers to nothing before it is
// shifted. Index EDGE_WINDOW_LENGTH / 2 is the coarse edge.
constexpr int EDGE_WINDOW_LENGTH = 128;

struct EdgeFit {
    bool converged = false;
    double delay = 0;         // samples after the window's centre
    double amplitude = 0;     // over the template's (a pulse like those learnt from: 1)
    double delayScatter = 0;  // standard, samples, from the fit's residuals
};

class EdgeTemplate {
public:
    EdgeTemplate();
    bool Learnt() const { return !central.empty(); }

    // Learns from `windows` (each EDGE_WINDOW_LENGTH samples of the first
    // difference, centred on a pulse's coarse edge), aligning them by their
    // own delays, found afresh against each round's template. Returns each
    // window's delay against the final template (their mean is 0: the
    // template's origin is the pulses' mean edge).
    std::vector<double> Learn(const std::vector<std::vector<double>>& windows);

    // The edge in `window` (EDGE_WINDOW_LENGTH samples, centred as above).
    EdgeFit Fit(const double* window) const;

    // How much of the template (unshifted) the EDGE_FIT_LENGTH samples at
    // `fitWindow` hold: 1 for a pulse like those learnt from, about 0 for
    // none, negative for an edge of the other sign. For searching.
    double Match(const double* fitWindow) const;

private:
    void SetShape(const std::vector<double>& shape);
    // The template delayed by `delay` samples over the fit's samples, and
    // its slope there (per sample).
    void Shifted(double delay, double* values, double* slopes) const;

    Radix2Fft fft;
    std::vector<std::complex<double>> spectrum;  // of the tapered, zero-padded template
    std::vector<double> central;                 // the unshifted fit span, its mean taken out
    double centralEnergy = 0;
};
