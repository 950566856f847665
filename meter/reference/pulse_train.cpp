#include "meter/reference/pulse_train.h"

#include "meter/robust_line.h"

#include <algorithm>
#include <cmath>

namespace {

// Every this many samples judged for the noise: a median of hundreds is
// good to a few per cent, and the threshold needs no better.
constexpr size_t NOISE_STRIDE = 16;
// A train's edges are of one pulse: heights within this factor.
constexpr double HEIGHT_RATIO = 2.5;
// A run whose samples step by at least this much of its highest
// difference is an edge; less, a short pulse's doublet.
constexpr double STEP_EDGE = 0.5;
// Pulses within this fraction of a second of half a second wide cannot
// tell their leading edge by the width.
constexpr double HALF_SECOND_BAND = 0.05;

EdgeCandidate Measure(const double* difference, int64_t first, size_t begin, size_t end)
{
    double highest = 0, sum = 0;
    for (size_t i = begin; i < end; ++i) {
        highest = std::max(highest, std::fabs(difference[i]));
        sum += difference[i];
    }
    EdgeCandidate candidate;
    for (size_t i = begin; i < end; ++i) {
        const double value = std::fabs(difference[i]);
        const bool localPeak = (i == begin || value >= std::fabs(difference[i - 1])) &&
                               (i + 1 == end || value >= std::fabs(difference[i + 1]));
        if (localPeak && value >= 0.5 * highest) {
            candidate.position = first + static_cast<int64_t>(i);
            candidate.peak = value;
            candidate.sign = difference[i] > 0 ? 1 : -1;
            break;
        }
    }
    candidate.step = highest > 0 ? sum / highest : 0;
    return candidate;
}

// The edges a second apart from `start` on, one for each of `pulses`
// seconds; empty if the chain breaks.
std::vector<size_t> Chain(const std::vector<EdgeCandidate>& candidates, size_t start, double rate, int pulses)
{
    std::vector<size_t> chain = {start};
    const double tolerance = PULSE_PERIOD_TOLERANCE * rate;
    for (int k = 1; k < pulses; ++k) {
        const double target = static_cast<double>(candidates[chain.back()].position) + rate;
        size_t best = SIZE_MAX;
        for (size_t i = chain.back() + 1; i < candidates.size(); ++i) {
            const double distance = static_cast<double>(candidates[i].position) - target;
            if (distance > tolerance)
                break;
            const double ratio = candidates[i].peak / candidates[start].peak;
            if (distance >= -tolerance && ratio < HEIGHT_RATIO && ratio > 1 / HEIGHT_RATIO &&
                (best == SIZE_MAX || std::fabs(distance) < std::fabs(static_cast<double>(candidates[best].position) - target)))
                best = i;
        }
        if (best == SIZE_MAX)
            return {};
        chain.push_back(best);
    }
    return chain;
}

struct Train {
    std::vector<size_t> members;
    int sign = 0;  // of the samples' step; 0: a doublet
};

int StepSign(const std::vector<EdgeCandidate>& candidates, const std::vector<size_t>& members)
{
    std::vector<double> steps;
    for (size_t i : members)
        steps.push_back(candidates[i].step);
    const double step = Median(steps);
    return std::fabs(step) >= STEP_EDGE ? (step > 0 ? 1 : -1) : 0;
}

// Pulses a second: a doublet is one, an edge half of one.
double PulsesIn(int doublets, int rising, int falling)
{
    return doublets + std::max(rising, falling);
}

// Which of two opposite edges a second apart leads.
size_t Leading(const std::vector<Train>& trains, const std::vector<EdgeCandidate>& candidates, double rate,
               PulsePolarity polarity)
{
    const double gap = std::fmod(static_cast<double>(candidates[trains[1].members[0]].position -
                                                     candidates[trains[0].members[0]].position) + 4 * rate,
                                 rate) / rate;
    if (gap < 0.5 - HALF_SECOND_BAND)
        return 0;
    if (gap > 0.5 + HALF_SECOND_BAND)
        return 1;
    const int wanted = polarity == PulsePolarity::Falling ? -1 : 1;
    return trains[0].sign == wanted ? 0 : 1;
}

}  // namespace

double DifferenceNoise(const double* difference, size_t count)
{
    std::vector<double> values;
    values.reserve(count / NOISE_STRIDE + 1);
    for (size_t i = 0; i < count; i += NOISE_STRIDE)
        values.push_back(std::fabs(difference[i]));
    return MAD_TO_DEVIATION * Median(values);
}

std::vector<EdgeCandidate> FindEdgeCandidates(const double* difference, int64_t first, size_t count, size_t after,
                                              double threshold)
{
    std::vector<EdgeCandidate> found;
    const size_t total = count + after;
    size_t i = 0;
    while (i < count) {
        if (std::fabs(difference[i]) <= threshold) {
            ++i;
            continue;
        }
        size_t end = i + 1, quiet = 0;
        for (size_t j = i + 1; j < total && quiet < EDGE_RUN_GAP; ++j) {
            if (std::fabs(difference[j]) > threshold) {
                end = j + 1;
                quiet = 0;
            } else
                ++quiet;
        }
        // The run's step is judged over its quiet sides too.
        const size_t from = i >= EDGE_RUN_GAP / 4 ? i - EDGE_RUN_GAP / 4 : 0;
        const size_t to = std::min(total, end + EDGE_RUN_GAP / 4);
        EdgeCandidate candidate = Measure(difference, first, i, end);
        const EdgeCandidate wide = Measure(difference, first, from, to);
        candidate.step = wide.step;
        found.push_back(candidate);
        i = end + EDGE_RUN_GAP;
    }
    return found;
}

PulseTrainVerdict FindPulseTrain(const std::vector<EdgeCandidate>& candidates, int64_t spanBegin, double rate,
                                 int pulses, PulsePolarity polarity)
{
    PulseTrainVerdict verdict;
    // What the candidates alone say: doublets and each sign's edges a second.
    int doublets = 0, rising = 0, falling = 0;
    for (const EdgeCandidate& c : candidates) {
        if (std::fabs(c.step) < STEP_EDGE)
            ++doublets;
        else
            ++(c.step > 0 ? rising : falling);
    }
    verdict.pulsesPerSecond = PulsesIn(doublets, rising, falling) / pulses;
    std::vector<Train> trains;
    std::vector<char> taken(candidates.size(), 0);
    for (size_t start = 0; start < candidates.size(); ++start) {
        if (static_cast<double>(candidates[start].position - spanBegin) >= rate)
            break;
        if (taken[start])
            continue;
        std::vector<size_t> chain = Chain(candidates, start, rate, pulses);
        if (chain.empty())
            continue;
        for (size_t i : chain)
            taken[i] = 1;
        trains.push_back({chain, StepSign(candidates, chain)});
    }
    if (trains.empty())
        return verdict;
    verdict.periodic = true;
    doublets = rising = falling = 0;
    for (const Train& train : trains)
        ++(train.sign == 0 ? doublets : train.sign > 0 ? rising : falling);
    const double trainPulses = PulsesIn(doublets, rising, falling);
    const bool onePulse = trains.size() == 1 || (trains.size() == 2 && rising == 1 && falling == 1);
    if (!onePulse) {
        verdict.pulsesPerSecond = std::max(trainPulses, verdict.pulsesPerSecond);
        return verdict;
    }
    const size_t lead = trains.size() == 1 ? 0 : Leading(trains, candidates, rate, polarity);
    for (size_t i : trains[lead].members)
        verdict.leading.push_back(candidates[i]);
    verdict.leadingSign = trains[lead].sign;
    if (trains.size() == 2) {
        const int64_t a = candidates[trains[lead].members[0]].position;
        const int64_t b = candidates[trains[1 - lead].members[0]].position;
        verdict.widthSamples = std::fmod(static_cast<double>(b - a) + 4 * rate, rate);
    }
    verdict.pulsesPerSecond = 1;
    verdict.found = true;
    return verdict;
}
