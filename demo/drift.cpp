#include "demo/drift.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace demo {

namespace {

// The change from one lag reading to the next, taken the short way round
// the 512 lags: 511 followed by 2 is a step of +3.
int WrappedStep(int from, int to)
{
    int step = (to - from) % PEAK_LAGS;
    if (step >= PEAK_LAGS / 2)
        step -= PEAK_LAGS;
    if (step < -PEAK_LAGS / 2)
        step += PEAK_LAGS;
    return step;
}

} // namespace

void DriftMeter::Segment::Add(double t, int y)
{
    if (count == 0) {
        firstSeconds = t;
        lowest = highest = y;
    } else if (y > highest) {
        rises.push_back({t, y});
    } else if (y < lowest) {
        falls.push_back({t, y});
    }
    lastSeconds = t;
    ++count;
    sumT += t;
    sumY += y;
    sumTT += t * t;
    sumTY += t * y;
    lowest = std::min(lowest, y);
    highest = std::max(highest, y);
}

double DriftMeter::Segment::CentredSumTT() const
{
    return count == 0 ? 0.0 : sumTT - sumT * sumT / count;
}

double DriftMeter::Segment::CentredSumTY() const
{
    return count == 0 ? 0.0 : sumTY - sumT * sumY / count;
}

void DriftMeter::Add(double seconds, int lag)
{
    ++readings;
    if (segments.empty()) {
        segments.emplace_back();
        unwrappedLag = lag;
    } else {
        const int step = WrappedStep(previousLag, lag);
        if (std::abs(step) > maxDriftStep) {
            ++jumps;
            segments.emplace_back();
        }
        unwrappedLag += step;
    }
    previousLag = lag;
    segments.back().Add(seconds, unwrappedLag);
}

void DriftMeter::AddWholePairs(const std::vector<NewLag>& newLags, int& lags, double& seconds)
{
    if (newLags.size() < 2)
        return;
    const NewLag& first = newLags.front();
    for (auto last = newLags.rbegin(); last != newLags.rend(); ++last) {
        const int crossed = std::abs(last->lag - first.lag);
        if (crossed >= 2 && crossed % 2 == 0) {
            lags += crossed;
            seconds += last->seconds - first.seconds;
            return;
        }
    }
}

double DriftMeter::LagsPerSecond() const
{
    size_t rises = 0, falls = 0;
    for (const Segment& segment : segments) {
        rises += segment.rises.size();
        falls += segment.falls.size();
    }
    int lags = 0;
    double seconds = 0;
    for (const Segment& segment : segments)
        AddWholePairs(rises >= falls ? segment.rises : segment.falls, lags, seconds);
    if (lags >= 2 && seconds > 0)
        return (rises >= falls ? lags : -lags) / seconds;
    return FittedLagsPerSecond();
}

double DriftMeter::FittedLagsPerSecond() const
{
    // Pooled within-segment regression: every segment keeps its own
    // intercept, they share the slope.
    double sumTT = 0, sumTY = 0;
    for (const Segment& segment : segments) {
        sumTT += segment.CentredSumTT();
        sumTY += segment.CentredSumTY();
    }
    return sumTT > 0 ? sumTY / sumTT : 0.0;
}

double DriftMeter::SecondsCovered() const
{
    double seconds = 0;
    for (const Segment& segment : segments)
        seconds += segment.lastSeconds - segment.firstSeconds;
    return seconds;
}

int DriftMeter::LargestSpread() const
{
    int spread = 0;
    for (const Segment& segment : segments)
        spread = std::max(spread, segment.highest - segment.lowest);
    return spread;
}

std::optional<double> StillPosition(const std::vector<DriftAtPosition>& measurements)
{
    if (measurements.size() < 2)
        return std::nullopt;
    double sumW = 0, sumP = 0, sumD = 0;
    for (const DriftAtPosition& m : measurements) {
        sumW += m.weight;
        sumP += m.weight * m.position;
        sumD += m.weight * m.lagsPerSecond;
    }
    if (!(sumW > 0))
        return std::nullopt;
    const double meanP = sumP / sumW, meanD = sumD / sumW;
    double sumPP = 0, sumPD = 0;
    for (const DriftAtPosition& m : measurements) {
        sumPP += m.weight * (m.position - meanP) * (m.position - meanP);
        sumPD += m.weight * (m.position - meanP) * (m.lagsPerSecond - meanD);
    }
    if (!(sumPP > 0))
        return std::nullopt;
    const double slope = sumPD / sumPP;
    // A trackbar step changes the drift by about 0.001 lags per block
    // (0.008 lags per second at 8000 Hz); a slope far below that means the
    // peak does not follow the correction at all.
    constexpr double LEAST_SLOPE = 1e-4;
    if (!(std::fabs(slope) >= LEAST_SLOPE))
        return std::nullopt;
    return meanP - meanD / slope;
}

bool StoodStill(const DriftMeter& meter, double driftPerStep)
{
    constexpr int MAX_STILL_SPREAD = 2;
    constexpr double MAX_STILL_STEPS = 8.0;
    return meter.LargestSpread() <= MAX_STILL_SPREAD &&
           std::fabs(meter.LagsPerSecond() / driftPerStep) <= MAX_STILL_STEPS;
}

double DriftPerStep(int sampleRate)
{
    const double blocksPerSecond = static_cast<double>(sampleRate) / (2 * PEAK_LAGS);
    return PEAK_LAGS * blocksPerSecond / CLOCK_STEPS_PER_UNIT;
}

double ImpliedStillPosition(const DriftAtPosition& measurement, double driftPerStep)
{
    return measurement.position - measurement.lagsPerSecond / driftPerStep;
}

PairVerdict JudgePair(double found, const DriftAtPosition& below, const DriftAtPosition& above, double driftPerStep,
                      double tolerance)
{
    double positions[] = {found, ImpliedStillPosition(below, driftPerStep), ImpliedStillPosition(above, driftPerStep)};
    const bool confirmed =
        std::fabs(positions[1] - found) <= tolerance && std::fabs(positions[2] - found) <= tolerance;
    if (confirmed)
        return {true, (positions[0] + positions[1] + positions[2]) / 3};
    std::sort(std::begin(positions), std::end(positions));
    return {false, positions[1]};
}

} // namespace demo
