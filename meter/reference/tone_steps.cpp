#include "meter/reference/tone_steps.h"

#include "meter/reference/tone_demodulator.h"
#include "meter/steadiness.h"

#include <algorithm>
#include <cmath>

namespace {

// Blocks to either side of a step: a line's worth.
constexpr double MIN_SIDE_SECONDS = 2;
// A stream that loses samples more often than this in one search is
// stepped over by the tracker's own test, or is no stream to measure with.
constexpr int64_t MAX_STEPS = 32;

struct Scan {
    bool found = false;
    size_t at = 0;  // the first point after the step
};

// Points [begin, end): one segment.
Scan ScanSegment(const std::vector<TonePoint>& points, size_t begin, size_t end, double correlationFactor,
                 double floorSamples)
{
    Scan scan;
    const double n = static_cast<double>(end - begin);
    if (end - begin < 8)
        return scan;
    // The segment's own line, unweighted: residuals r about it, times u
    // about their mean.
    double meanX = 0, meanY = 0;
    for (size_t i = begin; i < end; ++i) {
        meanX += points[i].seconds / n;
        meanY += points[i].position / n;
    }
    double sxx = 0, sxy = 0;
    for (size_t i = begin; i < end; ++i) {
        const double u = points[i].seconds - meanX;
        sxx += u * u;
        sxy += u * (points[i].position - meanY);
    }
    if (!(sxx > 0))
        return scan;
    const double slope = sxy / sxx;
    std::vector<double> residual(end - begin);
    double squares = 0;
    for (size_t i = begin; i < end; ++i) {
        residual[i - begin] = points[i].position - meanY - slope * (points[i].seconds - meanX);
        squares += residual[i - begin] * residual[i - begin];
    }
    const double noise = squares / (n - 2) * correlationFactor + floorSamples * floorSamples;
    // From the end backwards: sums over the points from k on.
    double count = 0, sumU = 0, sumUU = 0, sumR = 0, sumUR = 0;
    double bestStep = 0, bestBend = 0;
    size_t candidates = 0;
    for (size_t k = end - 1; k > begin; --k) {
        const double u = points[k].seconds - meanX, r = residual[k - begin];
        ++count;
        sumU += u;
        sumUU += u * u;
        sumR += r;
        sumUR += u * r;
        if (points[end - 1].seconds - points[k].seconds < MIN_SIDE_SECONDS ||
            points[k].seconds - points[begin].seconds < MIN_SIDE_SECONDS)
            continue;
        ++candidates;
        // A step: 0 before k, 1 from k on, less its parts along 1 and u.
        const double stepNorm = count - count * count / n - sumU * sumU / sxx;
        if (stepNorm > 0 && sumR * sumR / stepNorm > bestStep) {
            bestStep = sumR * sumR / stepNorm;
            scan.at = k;
        }
        // A bend: 0 before k, u - u_k from k on.
        const double h = sumU - count * u, hh = sumUU - 2 * u * sumU + count * u * u, hu = sumUU - u * sumU;
        const double bendNorm = hh - h * h / n - hu * hu / sxx;
        const double bend = sumUR - u * sumR;
        if (bendNorm > 0)
            bestBend = std::max(bestBend, bend * bend / bendNorm);
    }
    if (candidates == 0 || !(noise > 0))
        return scan;
    // Neighbouring blocks overlap: about one candidate in BLOCK_OVERLAP is
    // independent of the others.
    const double independent = std::max(1.0, static_cast<double>(candidates) / BLOCK_OVERLAP);
    scan.found = bestStep > ChiSquareLimit(1, FALSE_ALARM / independent) * noise && bestStep > bestBend;
    return scan;
}

}  // namespace

int64_t SplitAtSteps(std::vector<TonePoint>& points, double correlationFactor, double floorSamples)
{
    int64_t found = 0;
    for (bool again = true; again && found < MAX_STEPS;) {
        again = false;
        for (size_t begin = 0; begin < points.size() && !again;) {
            size_t end = begin;
            while (end < points.size() && points[end].segment == points[begin].segment)
                ++end;
            const Scan scan = ScanSegment(points, begin, end, correlationFactor, floorSamples);
            if (scan.found) {
                // The blocks that may hold it go; what follows starts a segment.
                const int64_t at = points[scan.at].index;
                for (size_t i = scan.at; i < points.size(); ++i)
                    ++points[i].segment;
                points.erase(std::remove_if(points.begin(), points.end(),
                                            [at](const TonePoint& p) {
                                                return p.index >= at - BLOCK_OVERLAP / 2 && p.index < at + BLOCK_OVERLAP / 2;
                                            }),
                             points.end());
                ++found;
                again = true;
            }
            begin = end;
        }
    }
    return found;
}
