#include "meter/burst_fit.h"

#include "common/signal_facts.h"

#include <algorithm>
#include <cmath>

namespace {

// The weighting's impulse response: a raised-cosine spectrum, 1 up to
// `pass`, 0 from `stop` on (cycles per sample), as a function of time in
// samples. It falls off as 1 / t^3 beyond about 1 / (2 (stop - pass)).
double WeightKernel(double t, double pass, double stop)
{
    const double centre = (pass + stop) / 2;
    const double half = (stop - pass) / 2;
    const double x = 2 * centre * t;
    const double sinc = std::fabs(x) < 1e-12 ? 1 : std::sin(static_cast<double>(PI) * x) / (static_cast<double>(PI) * x);
    const double u = 4 * half * t;
    const double denominator = 1 - u * u;
    const double taper = std::fabs(denominator) < 1e-9 ? static_cast<double>(PI) / 4
                                                        : std::cos(2 * static_cast<double>(PI) * half * t) / denominator;
    return 2 * centre * sinc * taper;
}

// The inverse of the symmetric 2x2 matrix (xx, xy, yy).
void Invert(double xx, double xy, double yy, double* inverse)
{
    const double determinant = xx * yy - xy * xy;
    if (!(determinant > 0)) {
        inverse[0] = inverse[1] = inverse[2] = 0;
        return;
    }
    inverse[0] = yy / determinant;
    inverse[1] = -xy / determinant;
    inverse[2] = xx / determinant;
}

// The cubic through r(-1), r(0), r(1), r(2) as c0 + c1 t + c2 t^2 + c3 t^3.
struct Cubic {
    double k[4];
    Cubic(double before, double at, double next, double after)
    {
        k[0] = at;
        k[1] = -before / 3 - at / 2 + next - after / 6;
        k[2] = (before + next) / 2 - at;
        k[3] = (after - before) / 6 + (at - next) / 2;
    }
    double Value(double t) const { return k[0] + t * (k[1] + t * (k[2] + t * k[3])); }
    double Slope(double t) const { return k[1] + t * (2 * k[2] + t * 3 * k[3]); }
    double Curve(double t) const { return 2 * k[2] + 6 * k[3] * t; }
};

}  // namespace

BurstFit::BurstFit(const BurstReference& reference)
{
    length = reference.envelope.size();
    cosine.resize(length);
    sine.resize(length);
    for (size_t n = 0; n < length; ++n) {
        const long double cycles = static_cast<long double>(n) * reference.carrierPerSample;
        const long double angle = 2 * PI * (cycles - std::floor(cycles));
        cosine[n] = static_cast<double>(reference.envelope[n] * std::cos(angle));
        sine[n] = static_cast<double>(reference.envelope[n] * std::sin(angle));
    }
    double xx = 0, xy = 0, yy = 0;
    for (size_t n = 0; n < length; ++n) {
        xx += cosine[n] * cosine[n];
        xy += cosine[n] * sine[n];
        yy += sine[n] * sine[n];
    }
    Invert(xx, xy, yy, lagInverse);

    // The weighted regressors at each step of the grid, and their Gram
    // matrix (that of the weighted, band-limited burst: the same at every
    // fraction).
    width = length + 2 * MARGIN;
    const int steps = 2 * TABLE_STEPS + 4;
    table.assign(static_cast<size_t>(steps) * 4 * width, 0);
    // The burst's centre (of its energy), about which a stretch is taken.
    double moment = 0, energy = 0;
    for (size_t n = 0; n < length; ++n) {
        const double e2 = reference.envelope[n] * reference.envelope[n];
        moment += static_cast<double>(n) * e2;
        energy += e2;
    }
    const double centre = energy > 0 ? moment / energy : 0;
    constexpr double H = 1e-4;  // the kernel's derivative by a central difference
    for (int index = 0; index < steps; ++index) {
        const double fraction = static_cast<double>(index - TABLE_STEPS - 1) / TABLE_STEPS;
        double* c = table.data() + static_cast<size_t>(index) * 4 * width;
        double* s = c + width;
        double* dc = s + width;
        double* ds = dc + width;
        // The kernel and its slope at m - MARGIN - fraction - i, by m - i.
        const size_t span = width + length;
        std::vector<double> kernelAt(span), slopeAt(span);
        for (size_t k = 0; k < span; ++k) {
            const double at = static_cast<double>(k) - static_cast<double>(length) - MARGIN - fraction;
            kernelAt[k] = WeightKernel(at, WEIGHT_PASS, WEIGHT_STOP);
            slopeAt[k] = (WeightKernel(at + H, WEIGHT_PASS, WEIGHT_STOP) - WeightKernel(at - H, WEIGHT_PASS, WEIGHT_STOP)) / (2 * H);
        }
        for (size_t m = 0; m < width; ++m) {
            const double t = static_cast<double>(m) - MARGIN - fraction;
            double sumC = 0, sumS = 0, slopeC = 0, slopeS = 0;
            for (size_t i = 0; i < length; ++i) {
                const double g = kernelAt[m + length - i];
                const double slope = slopeAt[m + length - i];
                sumC += cosine[i] * g;
                sumS += sine[i] * g;
                slopeC += cosine[i] * slope;
                slopeS += sine[i] * slope;
            }
            c[m] = sumC;
            s[m] = sumS;
            // b((t - centre) / (1 + e) + centre) = b(t) - e (t - centre) b'(t) + ...
            dc[m] = -(t - centre) * slopeC;
            ds[m] = -(t - centre) * slopeS;
        }
    }
    std::vector<double> kernel(2 * length + 1);
    for (size_t k = 0; k < kernel.size(); ++k)
        kernel[k] = WeightKernel(static_cast<double>(k) - static_cast<double>(length), WEIGHT_PASS, WEIGHT_STOP);
    xx = xy = yy = 0;
    for (size_t n = 0; n < length; ++n) {
        for (size_t p = 0; p < length; ++p) {
            const double g = kernel[n + length - p];
            xx += cosine[n] * cosine[p] * g;
            xy += cosine[n] * sine[p] * g;
            yy += sine[n] * sine[p] * g;
        }
    }
    Invert(xx, xy, yy, inverse);
}

BurstFit::Match BurstFit::AtLag(const float* samples) const
{
    double rc = 0, rs = 0, total = 0;
    for (size_t n = 0; n < length; ++n) {
        const double x = samples[n];
        rc += x * cosine[n];
        rs += x * sine[n];
        total += x * x;
    }
    Match match;
    match.cosine = lagInverse[0] * rc + lagInverse[1] * rs;
    match.sine = lagInverse[1] * rc + lagInverse[2] * rs;
    match.energy = std::max(0.0, match.cosine * rc + match.sine * rs);
    match.normalised = total > 0 ? std::min(1.0, std::sqrt(match.energy / total)) : 0;
    return match;
}

BurstFit::Products BurstFit::At(const float* start, int step, double stretch) const
{
    const double* c = table.data() + static_cast<size_t>(step + TABLE_STEPS + 1) * 4 * width;
    const double* s = c + width;
    Products r;
    if (stretch == 0) {
        for (size_t m = 0; m < width; ++m) {
            const double x = start[m];
            r.c += x * c[m];
            r.s += x * s[m];
        }
        return r;
    }
    const double* dc = s + width;
    const double* ds = dc + width;
    double rdc = 0, rds = 0;
    for (size_t m = 0; m < width; ++m) {
        const double x = start[m];
        r.c += x * c[m];
        r.s += x * s[m];
        rdc += x * dc[m];
        rds += x * ds[m];
    }
    r.c += stretch * rdc;
    r.s += stretch * rds;
    return r;
}

BurstFit::Fine BurstFit::Refine(const float* samples, double stretch) const
{
    const float* start = samples - MARGIN;
    Fine fine;
    // Coarse: a parabola through the energy at -1/2, 0, +1/2.
    const int half = TABLE_STEPS / 2;
    const double left = Energy(At(start, -half)), middle = Energy(At(start, 0)), right = Energy(At(start, half));
    double estimate = 0;
    {
        const double curvature = 2 * middle - left - right;
        if (curvature > 0)
            estimate = std::clamp((right - left) / (2 * curvature), -1.5, 1.5) * 0.5;
        else
            estimate = right > left ? 0.5 : -0.5;
    }
    // Medium: a parabola through steps two apart around it.
    int centre = std::clamp(static_cast<int>(std::lround(estimate * TABLE_STEPS)), -TABLE_STEPS + 2, TABLE_STEPS - 2);
    {
        const double a = Energy(At(start, centre - 2)), b = Energy(At(start, centre)), c = Energy(At(start, centre + 2));
        const double curvature = 2 * b - a - c;
        double offset = curvature > 0 ? std::clamp((c - a) / (2 * curvature), -1.0, 1.0) : (c > a ? 1.0 : -1.0);
        estimate = (centre + 2 * offset) / TABLE_STEPS;
    }
    // Fine: the products between steps by a cubic through four of them,
    // and Newton's steps to the energy's maximum.
    int cell = std::clamp(static_cast<int>(std::floor(estimate * TABLE_STEPS)), -TABLE_STEPS, TABLE_STEPS - 1);
    double t = estimate * TABLE_STEPS - cell;
    Products nodes[4];
    for (int k = 0; k < 4; ++k)
        nodes[k] = At(start, cell - 1 + k, stretch);
    for (int iteration = 0; iteration < 12; ++iteration) {
        const Cubic pc(nodes[0].c, nodes[1].c, nodes[2].c, nodes[3].c);
        const Cubic ps(nodes[0].s, nodes[1].s, nodes[2].s, nodes[3].s);
        const double rc = pc.Value(t), rs = ps.Value(t);
        const double dc = pc.Slope(t), ds = ps.Slope(t);
        const double cc = pc.Curve(t), cs = ps.Curve(t);
        // E = r' H r with H the inverse Gram matrix: E' = 2 r_t' H r and
        // E'' = 2 (r_tt' H r + r_t' H r_t), r_t and r_tt the derivatives by t.
        const double hr0 = inverse[0] * rc + inverse[1] * rs, hr1 = inverse[1] * rc + inverse[2] * rs;
        const double slope = 2 * (dc * hr0 + ds * hr1);
        const double curve = 2 * (cc * hr0 + cs * hr1 + inverse[0] * dc * dc + 2 * inverse[1] * dc * ds + inverse[2] * ds * ds);
        double next = curve < 0 ? t - slope / curve : t + (slope > 0 ? 0.5 : -0.5);
        const double stepSize = std::fabs(next - t);
        if (next < 0 && cell > -TABLE_STEPS) {
            --cell;
            nodes[3] = nodes[2], nodes[2] = nodes[1], nodes[1] = nodes[0];
            nodes[0] = At(start, cell - 1, stretch);
            t = std::max(next + 1, 0.0);
            continue;
        }
        if (next > 1 && cell < TABLE_STEPS - 1) {
            ++cell;
            nodes[0] = nodes[1], nodes[1] = nodes[2], nodes[2] = nodes[3];
            nodes[3] = At(start, cell + 2, stretch);
            t = std::min(next - 1, 1.0);
            continue;
        }
        t = std::clamp(next, 0.0, 1.0);
        if (stepSize < 1e-9)
            break;
    }
    const Cubic pc(nodes[0].c, nodes[1].c, nodes[2].c, nodes[3].c);
    const Cubic ps(nodes[0].s, nodes[1].s, nodes[2].s, nodes[3].s);
    const double rc = pc.Value(t), rs = ps.Value(t);
    const double a = inverse[0] * rc + inverse[1] * rs;
    const double b = inverse[1] * rc + inverse[2] * rs;
    fine.fraction = (cell + t) / TABLE_STEPS;
    fine.phase = std::atan2(-b, a);
    fine.energy = a * rc + b * rs;
    fine.valid = fine.energy > 0 && std::fabs(fine.fraction) <= 1;
    return fine;
}
