#include "meter/clock_estimator.h"

#include "common/signal_facts.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr long double TWO_PI = 2 * PI;

// A burst is recognised where the samples match it at least this well
// (normalised correlation, 1 for a clean burst) ...
constexpr double MIN_MATCH = 0.7;
// ... and its correlation power stands out this far above the average over
// the frame searched (a steady tone or noise gives a few times at most).
constexpr double MIN_PEAK_TO_MEAN = 25;
// A tracked burst must keep at least this fraction of the usual magnitude.
constexpr double MIN_MAGNITUDE_FRACTION = 0.5;
// Lags searched around the expected position: wide while the line is
// young (up to 1 % offset moves a burst 10 samples a frame), then narrow.
constexpr int WIDE_TRACK = 16;
constexpr int NARROW_TRACK = 4;
constexpr int SEARCH_HALF = FRAME_SAMPLES / 2;
// A delay this far off the line (samples), or six of its deviations, is a
// jump or an outlier.
constexpr double JUMP_THRESHOLD = 0.5;
// A jump this close to a whole number of samples (of either card) is taken
// as exactly that, so the line goes on with the same intercept.
constexpr double SNAP_TOLERANCE = 0.05;
// A phase delay this far off the line, or this many deviations, is an outlier.
constexpr double OUTLIER_FLOOR = 0.05;
constexpr double OUTLIER_DEVIATIONS = 6;
constexpr int64_t MIN_BLOCKS = 8;
// The first bursts are taken as they come; the line judges the later ones.
constexpr int64_t YOUNG_BLOCKS = 6;
// This many bursts rejected in a row restart the line.
constexpr int64_t RESTART_AFTER_REJECTED = 4;
// The largest bias of the parabola through the peak and its neighbours
// (samples): at full rate the peak is round, and the parabola is off by
// under 0.01 samples on the burst (a V-shaped fit, made for a triangular
// peak, by up to 0.08).
constexpr double FINE_DELAY_BIAS = 0.02;
// Below this much of the window's old part is dropped at once.
constexpr int64_t WINDOW_SLACK = 16384;

double Db(double ratio) { return ratio > 0 ? 10 * std::log10(ratio) : -1e9; }

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

ClockEstimator::ClockEstimator(const MeterSettings& meterSettings)
    : settings(meterSettings), reference(MakeBurstReference(meterSettings.signalRate, meterSettings.carrierFrequency))
{
    radiansPerSample = TWO_PI * reference.carrierPerSample;
    carrierWavelength = reference.carrierPerSample != 0 ? static_cast<double>(1 / std::fabs(reference.carrierPerSample)) : 0;
    const size_t length = reference.envelope.size();
    referenceRe.resize(length);
    referenceIm.resize(length);
    for (size_t n = 0; n < length; ++n) {
        const long double angle = -radiansPerSample * static_cast<long double>(n);
        referenceRe[n] = static_cast<double>(reference.envelope[n] * std::cos(angle));
        referenceIm[n] = static_cast<double>(reference.envelope[n] * std::sin(angle));
        referenceEnergy += reference.envelope[n] * reference.envelope[n];
    }
    searchStart = 1;
}

void ClockEstimator::Push(const int16_t* samples, size_t count)
{
    window.reserve(window.size() + count);
    for (size_t i = 0; i < count; ++i) {
        const int value = samples[i];
        window.push_back(static_cast<float>(value));
        sumSquares += static_cast<long double>(value) * value;
        const int magnitude = value < 0 ? -value : value;
        peakAbs = std::max(peakAbs, magnitude);
        if (magnitude >= 32767)
            ++clippedSamples;
        const bool negative = value < 0;
        if (value != 0) {
            if (sampleCount > 0 && negative != lastNegative)
                ++signChanges;
            lastNegative = negative;
        }
        ++sampleCount;
    }
    while (Step()) {
    }
}

void ClockEstimator::DropBefore(int64_t position)
{
    const int64_t drop = position - windowStart;
    if (drop < WINDOW_SLACK || drop > static_cast<int64_t>(window.size()))
        return;
    window.erase(window.begin(), window.begin() + drop);
    windowStart = position;
}

bool ClockEstimator::Step()
{
    const int64_t available = windowStart + static_cast<int64_t>(window.size());
    const int64_t length = static_cast<int64_t>(referenceRe.size());
    if (!locked) {
        if (searchStart + FRAME_SAMPLES + length + 1 > available)
            return false;
        return TryAcquire();
    }
    const int64_t centre = std::llround(ExpectedPosition(nextBlock));
    if (centre + SEARCH_HALF + length + 1 > available)
        return false;
    TrackNext();
    return true;
}

// Where burst `block` is expected, in absolute samples.
double ClockEstimator::ExpectedPosition(int64_t block) const
{
    double delay = 0;
    if (phaseLine.Count() >= 3)
        delay = static_cast<double>(phaseLine.Predict(block)) + (lastDelay - lastPhaseDelay);
    else if (delayLine.Count() >= 2)
        delay = static_cast<double>(delayLine.Predict(block));
    else if (delayLine.Count() == 1)
        delay = lastDelay;
    return static_cast<double>(originLag) + static_cast<double>(FRAME_SAMPLES) * static_cast<double>(block) + jumpTotal + delay;
}

ClockEstimator::Peak ClockEstimator::CorrelateAt(int64_t lag) const
{
    Peak peak;
    peak.lag = lag;
    const float* samples = At(lag);
    double re = 0, im = 0, energy = 0;
    const size_t length = referenceRe.size();
    for (size_t n = 0; n < length; ++n) {
        const double x = samples[n];
        re += x * referenceRe[n];
        im += x * referenceIm[n];
        energy += x * x;
    }
    peak.re = re;
    peak.im = im;
    peak.magnitude = std::sqrt(re * re + im * im);
    const double scale = std::sqrt(energy * referenceEnergy);
    peak.normalised = scale > 0 ? std::min(1.0, std::sqrt(2.0) * peak.magnitude / scale) : 0;
    return peak;
}

// The strongest correlation over lags firstLag..lastLag; meanPower gets
// the average power over them.
ClockEstimator::Peak ClockEstimator::BestIn(int64_t firstLag, int64_t lastLag, double* meanPower) const
{
    firstLag = std::max(firstLag, windowStart + 1);
    const size_t length = referenceRe.size();
    double bestPower = -1, sumPower = 0;
    int64_t bestLag = firstLag;
    for (int64_t lag = firstLag; lag <= lastLag; ++lag) {
        const float* samples = At(lag);
        double re = 0, im = 0;
        for (size_t n = 0; n < length; ++n) {
            re += samples[n] * referenceRe[n];
            im += samples[n] * referenceIm[n];
        }
        const double power = re * re + im * im;
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

bool ClockEstimator::LooksLikeBurst(const Peak& peak, double meanPower) const
{
    return peak.normalised >= MIN_MATCH && peak.magnitude * peak.magnitude >= MIN_PEAK_TO_MEAN * meanPower &&
           peak.magnitude > 0;
}

bool ClockEstimator::TryAcquire()
{
    double meanPower = 0;
    const Peak peak = BestIn(searchStart, searchStart + FRAME_SAMPLES - 1, &meanPower);
    if (LooksLikeBurst(peak, meanPower)) {
        locked = true;
        originLag = peak.lag;
        nextBlock = 1;
        typicalMagnitude = peak.magnitude;
        Consider(Measure(peak, 0, BLOCK_SEARCHED));
        return true;
    }
    searchStart += FRAME_SAMPLES;
    DropBefore(searchStart - 2);
    return true;
}

void ClockEstimator::TrackNext()
{
    const int64_t block = nextBlock++;
    const int64_t centre = std::llround(ExpectedPosition(block));
    const int half = (phaseLine.Count() >= 4 && !pendingValid) ? NARROW_TRACK : WIDE_TRACK;
    double meanPower = 0;
    Peak peak = BestIn(centre - half, centre + half, &meanPower);
    const double floor = MIN_MAGNITUDE_FRACTION * typicalMagnitude;
    bool found = peak.lag > centre - half && peak.lag < centre + half && peak.magnitude >= floor &&
                 peak.normalised >= MIN_MATCH;
    unsigned flags = 0;
    if (!found) {
        peak = BestIn(centre - SEARCH_HALF, centre + SEARCH_HALF - 1, &meanPower);
        found = LooksLikeBurst(peak, meanPower) && peak.magnitude >= floor;
        flags = BLOCK_SEARCHED;
    }
    if (found) {
        Consider(Measure(peak, block, flags));
    } else {
        ++lostBlocks;
        Measurement lost;
        lost.block = block;
        lost.lag = centre;
        lost.position = static_cast<double>(centre);
        lost.flags = BLOCK_LOST | flags;
        Report(lost, 0, 0);
    }
    DropBefore(centre);
}

ClockEstimator::Measurement ClockEstimator::Measure(const Peak& peak, int64_t block, unsigned flags) const
{
    Measurement m;
    m.block = block;
    m.lag = peak.lag;
    m.magnitude = peak.magnitude;
    m.flags = flags;
    // The parabola through the peak's magnitude and its neighbours'.
    const double before = CorrelateAt(peak.lag - 1).magnitude;
    const double after = CorrelateAt(peak.lag + 1).magnitude;
    double fraction = 0;
    const double curvature = 2 * peak.magnitude - before - after;
    if (curvature > 0)
        fraction = (after - before) / (2 * curvature);
    m.position = static_cast<double>(peak.lag) + std::clamp(fraction, -0.5, 0.5);
    // The phase of the correlation, less the local oscillator's phase at
    // the lag (the reference runs from phase 0 at its first sample).
    const long double cycles = static_cast<long double>(peak.lag) * reference.carrierPerSample;
    const long double oscillator = TWO_PI * (cycles - std::floor(cycles));
    m.phase = WrapPhase(std::atan2(static_cast<long double>(peak.im), static_cast<long double>(peak.re)) - oscillator);
    // Level and clipping over the burst.
    const float* samples = At(peak.lag);
    double energy = 0;
    bool clipped = false;
    for (size_t n = 0; n < referenceRe.size(); ++n) {
        energy += static_cast<double>(samples[n]) * samples[n];
        clipped = clipped || std::fabs(samples[n]) >= 32767;
    }
    m.level = Db(energy / static_cast<double>(referenceRe.size()) / (32768.0 * 32768.0));
    if (clipped)
        m.flags |= BLOCK_CLIPPED;
    return m;
}

// The delay the phase gives (it turns by -2 pi per carrier wavelength of
// delay), of all the values congruent modulo a wavelength the one nearest
// to `target`. Both in the lines' terms: with the jumps so far taken out,
// which the phase, measured on the recording as it is, still holds.
double ClockEstimator::PhaseDelayNear(double phase, double target) const
{
    const double base = -phase / static_cast<double>(TWO_PI) * carrierWavelength;
    const double turns = std::round((target + jumpTotal - base) / carrierWavelength);
    return base + turns * carrierWavelength - jumpTotal;
}

double ClockEstimator::PredictedDelay(int64_t block) const
{
    return delayLine.Count() >= 2 ? static_cast<double>(delayLine.Predict(block)) : lastDelay;
}

double ClockEstimator::PredictedPhaseDelay(int64_t block) const
{
    if (phaseLine.Count() >= 3)
        return static_cast<double>(phaseLine.Predict(block));
    return lastPhaseDelay + (PredictedDelay(block) - lastDelay);
}

// A jump of a whole number of samples of the recording (dropped or inserted
// there) or of the signal (so 1 + offset recording samples each) is taken
// as exact; anything else is left as measured.
double ClockEstimator::SnapJump(double jump, bool& snapped) const
{
    const double stretch = 1 + static_cast<double>(phaseLine.Slope()) / FRAME_SAMPLES;
    const double recordingSide = std::round(jump);
    const double signalSide = std::round(jump / stretch) * stretch;
    const double best = std::fabs(jump - recordingSide) <= std::fabs(jump - signalSide) ? recordingSide : signalSide;
    snapped = std::fabs(jump - best) <= SNAP_TOLERANCE;
    return snapped ? best : jump;
}

void ClockEstimator::Consider(const Measurement& m)
{
    const double delay = m.position - static_cast<double>(originLag) - static_cast<double>(FRAME_SAMPLES) * static_cast<double>(m.block) - jumpTotal;
    if (delayLine.Count() == 0) {
        Accept(m, delay, PhaseDelayNear(m.phase, delay));
        return;
    }
    // The phase is unwrapped by the delay: the difference between the two
    // rulers changes little from burst to burst (by the sub-sample fit's
    // noise, or slowly under a frequency shift), so the phase's delay is
    // taken as the one nearest to this burst's delay plus that difference.
    const double coarse = delay + (lastPhaseDelay - lastDelay);
    if (phaseLine.Count() < YOUNG_BLOCKS) {
        // Too young for a line to judge by. The first bursts must step
        // evenly; a jump among them starts the line again from here.
        const double step = delay - lastDelay;
        if (phaseLine.Count() >= 2 && std::fabs(step - lastStep) > JUMP_THRESHOLD) {
            // Reported as measured by the delay (a whole number of samples
            // when it is that to within a quarter).
            const double size = step - lastStep;
            const double whole = std::round(size);
            RecordJump({m.position / settings.recordingRate, std::fabs(size - whole) < 0.25 ? whole : size});
            phaseLine = SegmentedLineFit();
            delayLine = SegmentedLineFit();
            ++segment;
            Accept(m, delay, PhaseDelayNear(m.phase, delay));
            return;
        }
        lastStep = step;
        Accept(m, delay, PhaseDelayNear(m.phase, coarse));
        return;
    }
    if (consecutiveRejected >= RESTART_AFTER_REJECTED) {
        // Burst after burst off the line: the line itself is wrong (a poor
        // start on a noisy recording). Start it again from here.
        phaseLine = SegmentedLineFit();
        delayLine = SegmentedLineFit();
        consecutiveRejected = 0;
        ++segment;
        Accept(m, delay, PhaseDelayNear(m.phase, delay));
        return;
    }
    const double offset = delay - PredictedDelay(m.block);
    const double expectedPhaseDelay = PredictedPhaseDelay(m.block);
    const double limit = std::max(OUTLIER_FLOOR, OUTLIER_DEVIATIONS * static_cast<double>(phaseLine.ResidualDeviation()));
    const double delayLimit = std::max(JUMP_THRESHOLD, OUTLIER_DEVIATIONS * static_cast<double>(delayLine.ResidualDeviation()));
    if (pendingValid) {
        pendingValid = false;
        // Shifted like the burst before, by the delay and by the phase?
        const double shifted = PhaseDelayNear(m.phase, coarse) - expectedPhaseDelay;
        if (std::fabs(offset - pendingOffset) < delayLimit && std::fabs(shifted - pendingJump) <= limit) {
            // A jump, from that burst on.
            jumpTotal += pendingJump;
            if (!pendingSnapped) {
                phaseLine.StartSegment();
                delayLine.StartSegment();
                ++segment;
            }
            RecordJump({pending.position / settings.recordingRate, pendingJump});
            Measurement first = pending;
            first.flags |= BLOCK_JUMP;
            const double firstDelay = first.position - static_cast<double>(originLag) -
                                      static_cast<double>(FRAME_SAMPLES) * static_cast<double>(first.block) - jumpTotal;
            Accept(first, firstDelay, PhaseDelayNear(first.phase, PredictedPhaseDelay(first.block)));
        } else {
            ++outlierBlocks;
            ++consecutiveRejected;
            pending.flags |= BLOCK_OUTLIER;
            Report(pending, 0, 0);
        }
        Consider(m);
        return;
    }
    // Off the line by the delay (a jump of a sample or more), or by the
    // phase alone (a part of a sample, or a damaged burst): held until the
    // next burst says whether it is a jump or an outlier.
    const bool offByDelay = std::fabs(offset) > delayLimit;
    const double phaseDelay = PhaseDelayNear(m.phase, coarse);
    const double phaseOffset = phaseDelay - expectedPhaseDelay;
    if (offByDelay || (phaseLine.Count() >= MIN_BLOCKS && std::fabs(phaseOffset) > limit)) {
        pending = m;
        pendingValid = true;
        pendingOffset = offset;
        pendingJump = SnapJump(phaseOffset, pendingSnapped);
        return;
    }
    Accept(m, delay, phaseDelay);
}

void ClockEstimator::RecordJump(const JumpEvent& event)
{
    ++jumpCount;
    if (jumps.size() < KEPT_JUMPS)
        jumps.push_back(event);
    if (jumpObserver)
        jumpObserver(event);
}

void ClockEstimator::Accept(const Measurement& m, double delay, double phaseDelay)
{
    // Weighted by the burst's power: the phase's scatter goes as 1 / power.
    double weight = 1;
    if (typicalMagnitude > 0) {
        const double relative = m.magnitude / typicalMagnitude;
        weight = std::clamp(relative * relative, 0.1, 10.0);
    }
    phaseLine.Add(static_cast<long double>(m.block), phaseDelay, weight);
    delayLine.Add(static_cast<long double>(m.block), delay, weight);
    typicalMagnitude = 0.9 * typicalMagnitude + 0.1 * m.magnitude;
    if (phaseLine.Count() == 1)
        firstUsedPosition = m.position;
    lastUsedPosition = m.position;
    lastDelay = delay;
    lastPhaseDelay = phaseDelay;
    consecutiveRejected = 0;
    if (m.flags & BLOCK_CLIPPED)
        ++clippedBlocks;
    Measurement used = m;
    used.flags |= BLOCK_USED;
    Report(used, delay, phaseDelay);
}

void ClockEstimator::Report(const Measurement& m, double delay, double phaseDelay)
{
    if (!blockObserver)
        return;
    BlockRecord record;
    record.block = m.block;
    record.time = m.position / settings.recordingRate;
    record.peakLag = ((m.lag % FRAME_SAMPLES) + FRAME_SAMPLES) % FRAME_SAMPLES;
    record.delay = (m.flags & (BLOCK_USED | BLOCK_OUTLIER)) ? delay + jumpTotal : 0;
    record.phaseDelay = (m.flags & (BLOCK_USED | BLOCK_OUTLIER)) ? phaseDelay + jumpTotal : 0;
    record.carrierPhase = m.phase;
    record.level = (m.flags & BLOCK_LOST) ? -1e9 : m.level;
    record.flags = m.flags;
    record.linePhaseDelay = (m.flags & BLOCK_USED) ? phaseDelay : 0;
    record.segment = segment;
    blockObserver(record);
}

void ClockEstimator::Finish()
{
    if (pendingValid) {
        pendingValid = false;
        ++outlierBlocks;
        pending.flags |= BLOCK_OUTLIER;
        Report(pending, 0, 0);
    }
}

ClockEstimate ClockEstimator::Estimate() const
{
    ClockEstimate estimate;
    estimate.blocksUsed = phaseLine.Count();
    estimate.secondsUsed = (lastUsedPosition - firstUsedPosition) / settings.recordingRate;
    if (phaseLine.Count() < MIN_BLOCKS || !phaseLine.HasSlope())
        return estimate;
    estimate.valid = true;
    const double toPpm = 1e6 / FRAME_SAMPLES;
    estimate.ppm = static_cast<double>(phaseLine.Slope()) * toPpm;
    estimate.uncertaintyPpm = static_cast<double>(phaseLine.SlopeUncertainty()) * toPpm;
    estimate.delayPpm = static_cast<double>(delayLine.Slope()) * toPpm;
    estimate.delayUncertaintyPpm = static_cast<double>(delayLine.SlopeUncertainty()) * toPpm;
    // The delay's sub-sample fit has a small bias that follows the
    // fractional delay: not noise, so its residuals understate it. Allow
    // for it as a bound over the span, besides five combined uncertainties.
    const double combined = std::hypot(estimate.uncertaintyPpm, estimate.delayUncertaintyPpm);
    const double biasBound = 2 * FINE_DELAY_BIAS / (static_cast<double>(estimate.blocksUsed) * FRAME_SAMPLES) * 1e6;
    estimate.agree = std::fabs(estimate.ppm - estimate.delayPpm) <= 5 * combined + biasBound;
    return estimate;
}

InputSummary ClockEstimator::Summary() const
{
    InputSummary summary;
    summary.samples = sampleCount;
    if (sampleCount > 0) {
        summary.rmsDbfs = Db(static_cast<double>(sumSquares / sampleCount) / (32768.0 * 32768.0));
        summary.peakDbfs = Db(static_cast<double>(peakAbs) * peakAbs / (32768.0 * 32768.0));
        summary.zeroCrossingHz = static_cast<double>(signChanges) / 2 / (static_cast<double>(sampleCount) / settings.recordingRate);
    }
    summary.bestCorrelation = bestCorrelation;
    summary.clippedSamples = clippedSamples;
    summary.lostBlocks = lostBlocks;
    summary.outlierBlocks = outlierBlocks;
    summary.clippedBlocks = clippedBlocks;
    return summary;
}
