#include "meter/burst_search.h"

#include "common/signal_facts.h"
#include "meter/block_record.h"
#include "meter/input_summary.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr long double TWO_PI = 2 * PI;

// A burst is recognised where the samples match it at least this well
// (normalised correlation, 1 for a clean burst) ...
constexpr double MIN_MATCH = 0.7;
// ... and its correlation power stands out this far above the average over
// the frame searched. Noise, tones and the burst on another carrier fail
// one or the other by far; a burst 10 dB above the noise passes both by
// far (docs/accuracy.md#burst-detection).
constexpr double MIN_PEAK_TO_MEAN = 25;
// A tracked burst must keep at least this fraction of the usual magnitude.
constexpr double MIN_MAGNITUDE_FRACTION = 0.5;
// Lags searched around the expected position: wide while the line is
// young (up to 1 % offset moves a burst 10 samples a frame), then narrow.
constexpr int WIDE_TRACK = 16;
constexpr int NARROW_TRACK = 4;
// The whole frame around the expected position: half of it either side.
constexpr int SEARCH_HALF = FRAME_SAMPLES / 2;
// Below this much of the window's old part is dropped at once.
constexpr int64_t WINDOW_SLACK = 16384;

double WrapPhase(long double phase)
{
    long double wrapped = std::fmod(phase, TWO_PI);
    if (wrapped > TWO_PI / 2)
        wrapped -= TWO_PI;
    if (wrapped <= -TWO_PI / 2)
        wrapped += TWO_PI;
    return static_cast<double>(wrapped);
}

}  // namespace

BurstSearch::BurstSearch(const BurstReference& burst) : reference(burst), fit(reference), searchStart(1 + BurstFit::MARGIN) {}

void BurstSearch::Append(const int16_t* samples, size_t count)
{
    if (window.capacity() < window.size() + count)
        window.reserve(std::max(2 * window.capacity(), window.size() + count));
    window.insert(window.end(), samples, samples + count);
}

void BurstSearch::DropBefore(int64_t position)
{
    const int64_t drop = position - windowStart;
    if (drop < WINDOW_SLACK || drop > static_cast<int64_t>(window.size()))
        return;
    window.erase(window.begin(), window.begin() + drop);
    windowStart = position;
}

BurstSearch::Outcome BurstSearch::Acquire(double stretch, BurstMeasurement& first)
{
    // the frame, the burst after its last lag, and the margin the fine fit reads beyond it
    const int64_t length = static_cast<int64_t>(fit.Length()) + BurstFit::MARGIN;
    if (searchStart + FRAME_SAMPLES + length + 1 > End())
        return Outcome::NeedSamples;
    double meanPower = 0;
    const Peak peak = BestIn(searchStart, searchStart + FRAME_SAMPLES - 1, &meanPower);
    if (LooksLikeBurst(peak, meanPower)) {
        locked = true;
        first = Measure(peak, 0, BLOCK_SEARCHED, stretch);
        return Outcome::Found;
    }
    searchStart += FRAME_SAMPLES;
    DropBefore(searchStart - 2 - BurstFit::MARGIN);
    return Outcome::NotFound;
}

bool BurstSearch::CanTrack(double expected) const
{
    const int64_t length = static_cast<int64_t>(fit.Length()) + BurstFit::MARGIN;
    return std::llround(expected) + SEARCH_HALF + length + 1 <= End();
}

BurstMeasurement BurstSearch::Track(int64_t block, double expected, bool narrow, double usualMagnitude, double stretch)
{
    DropBefore(forgetBefore);
    const int64_t centre = std::llround(expected);
    const int half = narrow ? NARROW_TRACK : WIDE_TRACK;
    double meanPower = 0;
    Peak peak = BestIn(centre - half, centre + half, &meanPower);
    const double floor = MIN_MAGNITUDE_FRACTION * usualMagnitude;
    bool found = peak.lag > centre - half && peak.lag < centre + half && peak.magnitude >= floor &&
                 peak.normalised >= MIN_MATCH;
    unsigned flags = 0;
    if (!found) {
        peak = BestIn(centre - SEARCH_HALF, centre + SEARCH_HALF - 1, &meanPower);
        found = LooksLikeBurst(peak, meanPower) && peak.magnitude >= floor;
        flags = BLOCK_SEARCHED;
    }
    forgetBefore = centre - BurstFit::MARGIN;
    if (found)
        return Measure(peak, block, flags, stretch);
    ++lostBlocks;
    BurstMeasurement lost;
    lost.block = block;
    lost.lag = centre;
    lost.position = static_cast<double>(centre);
    lost.flags = BLOCK_LOST | flags;
    return lost;
}

// The least-squares fit of the burst at an integer lag (leak-free: both
// real regressors, see meter/burst_fit.h).
BurstSearch::Peak BurstSearch::CorrelateAt(int64_t lag) const
{
    Peak peak;
    peak.lag = lag;
    const BurstFit::Match match = fit.AtLag(At(lag));
    peak.magnitude = std::sqrt(match.energy);
    peak.normalised = match.normalised;
    peak.re = match.cosine;
    peak.im = match.sine;
    return peak;
}

// The strongest correlation over lags firstLag..lastLag; meanPower gets
// the average power over them.
BurstSearch::Peak BurstSearch::BestIn(int64_t firstLag, int64_t lastLag, double* meanPower)
{
    firstLag = std::max(firstLag, windowStart + 1 + BurstFit::MARGIN);
    const size_t length = fit.Length();
    const double* cosine = fit.Cosine().data();
    const double* sine = fit.Sine().data();
    double bestPower = -1, sumPower = 0;
    int64_t bestLag = firstLag;
    for (int64_t lag = firstLag; lag <= lastLag; ++lag) {
        const float* samples = At(lag);
        double withCosine = 0, withSine = 0;
        for (size_t n = 0; n < length; ++n) {
            withCosine += samples[n] * cosine[n];
            withSine += samples[n] * sine[n];
        }
        const double power = fit.EnergyFromProducts(withCosine, withSine);
        sumPower += power;
        if (power > bestPower) {
            bestPower = power;
            bestLag = lag;
        }
    }
    if (meanPower != nullptr)
        *meanPower = sumPower / static_cast<double>(std::max<int64_t>(1, lastLag - firstLag + 1));
    const Peak peak = CorrelateAt(bestLag);
    bestCorrelation = std::max(bestCorrelation, peak.normalised);
    return peak;
}

bool BurstSearch::LooksLikeBurst(const Peak& peak, double meanPower) const
{
    return peak.normalised >= MIN_MATCH && peak.magnitude * peak.magnitude >= MIN_PEAK_TO_MEAN * meanPower &&
           peak.magnitude > 0;
}

// The fraction of a sample and the carrier phase from the fit of the burst
// around the integer peak (meter/burst_fit.h), `samples` at the peak's lag:
// phi is the carrier's phase at the burst's start, lag + f; less the local
// oscillator's phase there, the phase at the recording's sample 0.
void BurstSearch::FitFraction(const float* samples, const Peak& peak, double stretch, BurstMeasurement& m) const
{
    const BurstFit::Fine fine = fit.Refine(samples, stretch);
    const double fraction = fine.valid ? fine.fraction : 0;
    const long double phi = fine.valid ? fine.phase : std::atan2(-peak.im, peak.re);
    m.position = static_cast<double>(peak.lag) + fraction;
    const long double cycles = (static_cast<long double>(peak.lag) + fraction) * reference.carrierPerSample;
    const long double oscillator = TWO_PI * (cycles - std::floor(cycles));
    m.phase = WrapPhase(phi - oscillator);
}

BurstMeasurement BurstSearch::Measure(const Peak& peak, int64_t block, unsigned flags, double stretch) const
{
    BurstMeasurement m;
    m.block = block;
    m.lag = peak.lag;
    m.magnitude = peak.magnitude;
    m.flags = flags;
    FitFraction(At(peak.lag), peak, stretch, m);
    // Level and clipping over the burst.
    const float* samples = At(peak.lag);
    double energy = 0;
    bool clipped = false;
    for (size_t n = 0; n < fit.Length(); ++n) {
        energy += static_cast<double>(samples[n]) * samples[n];
        clipped = clipped || std::fabs(samples[n]) >= CLIPPED_MAGNITUDE;
    }
    m.level = LevelDbfs(energy / static_cast<double>(fit.Length()));
    if (clipped)
        m.flags |= BLOCK_CLIPPED;
    return m;
}

BurstMeasurement BurstSearch::Refitted(const BurstMeasurement& measured, const float* samples, double stretch) const
{
    BurstMeasurement m = measured;
    Peak peak;  // the fine fit's fallback phase, should it fail, is 0's
    peak.lag = m.lag;
    FitFraction(samples + BurstFit::MARGIN, peak, stretch, m);
    return m;
}
