#include "meter/reference/edge_template.h"

#include "common/signal_facts.h"

#include <algorithm>
#include <cmath>

namespace {

// Zero padding to twice the window: a shift of a few samples wraps nothing
// of the (tapered) template round into the fit's span.
constexpr int FFT_SIZE = 2 * EDGE_WINDOW_LENGTH;
constexpr int MARGIN = (EDGE_WINDOW_LENGTH - EDGE_FIT_LENGTH) / 2;
// The taper's cosine roll-off at each end of a window, samples; inside it
// the window is untouched.
constexpr int TAPER = MARGIN - 8;
// Rounds of align-and-average: the delays settle to 1e-4 sample in two.
constexpr int LEARN_ROUNDS = 3;
constexpr int MAX_ITERATIONS = 12;
// Converged when the delay's step falls below this (samples): far below
// any edge's scatter.
constexpr double DELAY_TOLERANCE = 1e-9;
// A delay beyond this many samples means the coarse edge was elsewhere.
constexpr double DELAY_LIMIT = 4;
// Whole-sample delays tried for the fit's start, either way: a coarse
// edge (the earliest peak of a run) may be a lobe off.
constexpr int COARSE_SEARCH = 3;

// Solves the n x n system `a` x = `b` (row-major) by Gaussian elimination
// with partial pivoting; false if singular. `a` and `b` are overwritten.
bool Solve(double* a, double* b, int n)
{
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int row = col + 1; row < n; ++row)
            if (std::fabs(a[row * n + col]) > std::fabs(a[pivot * n + col]))
                pivot = row;
        if (a[pivot * n + col] == 0)
            return false;
        if (pivot != col) {
            for (int k = 0; k < n; ++k)
                std::swap(a[col * n + k], a[pivot * n + k]);
            std::swap(b[col], b[pivot]);
        }
        for (int row = col + 1; row < n; ++row) {
            const double f = a[row * n + col] / a[col * n + col];
            for (int k = col; k < n; ++k)
                a[row * n + k] -= f * a[col * n + k];
            b[row] -= f * b[col];
        }
    }
    for (int row = n - 1; row >= 0; --row) {
        double sum = b[row];
        for (int k = row + 1; k < n; ++k)
            sum -= a[row * n + k] * b[k];
        b[row] = sum / a[row * n + row];
    }
    return true;
}

// The margins' mean taken out (the pulses' baseline differs from one to the
// next with the hum's phase) and the margins tapered to nothing.
std::vector<double> Prepared(const std::vector<double>& window)
{
    double sum = 0;
    for (int i = 0; i < MARGIN; ++i)
        sum += window[i] + window[EDGE_WINDOW_LENGTH - 1 - i];
    const double mean = sum / (2 * MARGIN);
    std::vector<double> out(EDGE_WINDOW_LENGTH);
    for (int i = 0; i < EDGE_WINDOW_LENGTH; ++i) {
        const int fromEnd = std::min(i, EDGE_WINDOW_LENGTH - 1 - i);
        const double taper = fromEnd >= TAPER ? 1.0 : 0.5 - 0.5 * std::cos(static_cast<double>(PI) * (fromEnd + 0.5) / TAPER);
        out[i] = (window[i] - mean) * taper;
    }
    return out;
}

// The signed frequency of bin k, radians per sample; 0 at Nyquist (the
// template has nothing there, and a real shift cannot keep it).
double BinFrequency(int k)
{
    const int signedBin = k <= FFT_SIZE / 2 ? k : k - FFT_SIZE;
    return k == FFT_SIZE / 2 ? 0 : 2 * static_cast<double>(PI) * signedBin / FFT_SIZE;
}

}  // namespace

EdgeTemplate::EdgeTemplate() : fft(FFT_SIZE) {}

void EdgeTemplate::SetShape(const std::vector<double>& shape)
{
    spectrum.assign(FFT_SIZE, 0);
    for (int i = 0; i < EDGE_WINDOW_LENGTH; ++i)
        spectrum[i] = shape[i];
    fft.Forward(spectrum.data());
    spectrum[FFT_SIZE / 2] = 0;
    central.assign(shape.begin() + MARGIN, shape.begin() + MARGIN + EDGE_FIT_LENGTH);
    double mean = 0;
    for (double v : central)
        mean += v;
    mean /= EDGE_FIT_LENGTH;
    centralEnergy = 0;
    for (double& v : central) {
        v -= mean;
        centralEnergy += v * v;
    }
}

void EdgeTemplate::Shifted(double delay, double* values, double* slopes) const
{
    // Delay by d: each bin times exp(-i w d); its slope: times i w as
    // well. Both are real signals, so one inverse transform carries the
    // two (the slope as the imaginary part).
    std::vector<std::complex<double>> z(FFT_SIZE);
    const std::complex<double> step = UnitPhasor(-static_cast<long double>(delay) / FFT_SIZE);
    double pr = 1, pi = 0;
    for (int k = 0; k <= FFT_SIZE / 2; ++k) {
        const double w = BinFrequency(k);
        const double sr = spectrum[k].real(), si = spectrum[k].imag();
        z[k] = {(sr * pr - si * pi) * (1 - w), (sr * pi + si * pr) * (1 - w)};
        if (k > 0 && k < FFT_SIZE / 2) {
            // The mirror bin: the conjugate phasor, the opposite frequency.
            const int mirror = FFT_SIZE - k;
            const double mr = spectrum[mirror].real(), mi = spectrum[mirror].imag();
            z[mirror] = {(mr * pr + mi * pi) * (1 + w), (mi * pr - mr * pi) * (1 + w)};
        }
        const double next = pr * step.real() - pi * step.imag();
        pi = pr * step.imag() + pi * step.real();
        pr = next;
    }
    fft.Inverse(z.data());
    for (int n = 0; n < EDGE_FIT_LENGTH; ++n) {
        values[n] = z[MARGIN + n].real();
        slopes[n] = z[MARGIN + n].imag();
    }
}

EdgeFit EdgeTemplate::Fit(const double* window) const
{
    EdgeFit fit;
    const double* y = window + MARGIN;
    double values[EDGE_FIT_LENGTH], slopes[EDGE_FIT_LENGTH];
    // Start from the whole-sample delay that matches best: a doublet's
    // lobes would hold the fit in the wrong one from a sample off.
    int start = 0;
    for (int shift = -COARSE_SEARCH; shift <= COARSE_SEARCH; ++shift)
        if (Match(y + shift) > Match(y + start))
            start = shift;
    // a, delay, b, c: the baseline's slope per fit length, centred.
    double theta[4] = {Match(y + start), static_cast<double>(start), 0, 0};
    double normal[16], rhs[4], differenced[16];
    double rss = 0;
    for (int iteration = 0; iteration < MAX_ITERATIONS; ++iteration) {
        Shifted(theta[1], values, slopes);
        std::fill(normal, normal + 16, 0.0);
        std::fill(differenced, differenced + 16, 0.0);
        std::fill(rhs, rhs + 4, 0.0);
        rss = 0;
        double previous[4] = {0, 0, 0, 0};
        for (int n = 0; n <= EDGE_FIT_LENGTH; ++n) {
            const double u = (n - (EDGE_FIT_LENGTH - 1) / 2.0) / EDGE_FIT_LENGTH;
            const bool inside = n < EDGE_FIT_LENGTH;
            const double j[4] = {inside ? values[n] : 0, inside ? -theta[0] * slopes[n] : 0, inside ? 1.0 : 0,
                                 inside ? u : 0};
            for (int p = 0; p < 4; ++p)
                for (int q = 0; q < 4; ++q)
                    differenced[p * 4 + q] += (j[p] - previous[p]) * (j[q] - previous[q]);
            std::copy(j, j + 4, previous);
            if (!inside)
                break;
            const double r = y[n] - (theta[0] * values[n] + theta[2] + theta[3] * u);
            rss += r * r;
            for (int p = 0; p < 4; ++p) {
                rhs[p] += j[p] * r;
                for (int q = 0; q < 4; ++q)
                    normal[p * 4 + q] += j[p] * j[q];
            }
        }
        double inverseDelay[16];
        std::copy(normal, normal + 16, inverseDelay);
        double unit[4] = {0, 1, 0, 0};
        if (!Solve(normal, rhs, 4) || !Solve(inverseDelay, unit, 4))
            return fit;
        for (int p = 0; p < 4; ++p)
            theta[p] += rhs[p];
        if (std::fabs(theta[1]) > DELAY_LIMIT || !std::isfinite(theta[1]))
            return fit;
        // The scatter as of this iteration's residuals (once the step is
        // negligible, those are the final ones). The samples' noise is
        // white; their first difference's is not (each sample's noise is in
        // two neighbours, with opposite signs), so the delay's variance is
        // the sandwich v' D v s^2 / 2, with v the delay's row of the inverse
        // normal matrix and D the model's slopes differenced the same way.
        double quadratic = 0;
        for (int p = 0; p < 4; ++p)
            for (int q = 0; q < 4; ++q)
                quadratic += unit[p] * differenced[p * 4 + q] * unit[q];
        fit.delayScatter = std::sqrt(std::max(0.0, rss / (EDGE_FIT_LENGTH - 4) / 2 * quadratic));
        if (std::fabs(rhs[1]) < DELAY_TOLERANCE && iteration > 0) {
            fit.converged = true;
            break;
        }
    }
    fit.delay = theta[1];
    fit.amplitude = theta[0];
    return fit;
}

double EdgeTemplate::Match(const double* fitWindow) const
{
    double sum = 0;
    for (int n = 0; n < EDGE_FIT_LENGTH; ++n)
        sum += fitWindow[n] * central[n];
    return centralEnergy > 0 ? sum / centralEnergy : 0;
}

std::vector<double> EdgeTemplate::Learn(const std::vector<std::vector<double>>& windows)
{
    std::vector<std::vector<double>> prepared;
    for (const std::vector<double>& window : windows)
        prepared.push_back(Prepared(window));
    std::vector<double> delays(windows.size(), 0);
    std::vector<std::complex<double>> buffer(FFT_SIZE);
    for (int round = 0; round < LEARN_ROUNDS; ++round) {
        // Each window moved back by its delay, and the average taken.
        std::vector<double> shape(EDGE_WINDOW_LENGTH, 0);
        for (size_t k = 0; k < prepared.size(); ++k) {
            std::fill(buffer.begin(), buffer.end(), 0.0);
            for (int i = 0; i < EDGE_WINDOW_LENGTH; ++i)
                buffer[i] = prepared[k][i];
            fft.Forward(buffer.data());
            const std::complex<double> step = UnitPhasor(static_cast<long double>(delays[k]) / FFT_SIZE);
            std::complex<double> phasor = 1;
            for (int b = 0; b <= FFT_SIZE / 2; ++b) {
                buffer[b] *= b == FFT_SIZE / 2 ? 0.0 : 1.0;
                buffer[b] *= phasor;
                if (b > 0 && b < FFT_SIZE / 2)
                    buffer[FFT_SIZE - b] *= std::conj(phasor);
                phasor *= step;
            }
            fft.Inverse(buffer.data());
            for (int i = 0; i < EDGE_WINDOW_LENGTH; ++i)
                shape[i] += buffer[i].real() / static_cast<double>(prepared.size());
        }
        SetShape(shape);
        double mean = 0;
        for (size_t k = 0; k < windows.size(); ++k) {
            delays[k] = Fit(windows[k].data()).delay;
            mean += delays[k] / static_cast<double>(windows.size());
        }
        for (double& delay : delays)
            delay -= mean;
    }
    return delays;
}
