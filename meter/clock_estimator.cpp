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
// The largest bias of the delay's fit of the fraction (samples): on an
// exact channel it follows no fraction to within 1/1000 sample (the
// parabola through the correlation's magnitudes it replaced was off by up
// to 0.01 samples at 8000/1500, by far more near the range's ends).
constexpr double FINE_DELAY_BIAS = 0.002;
// At most this many rows wait for a young line's bursts to be measured again.
constexpr size_t MAX_HELD_REPORTS = 256;
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
    : settings(meterSettings),
      reference(MakeBurstReference(meterSettings.signalRate, meterSettings.carrierFrequency)),
      fit(reference)
{
    radiansPerSample = TWO_PI * reference.carrierPerSample;
    carrierWavelength = reference.carrierPerSample != 0 ? static_cast<double>(1 / std::fabs(reference.carrierPerSample)) : 0;
    searchStart = 1 + BurstFit::MARGIN;
    youngBursts.resize(static_cast<size_t>(YOUNG_BLOCKS));
    youngWindows.resize(static_cast<size_t>(YOUNG_BLOCKS) * fit.WindowLength());
}

void ClockEstimator::Push(const int16_t* samples, size_t count)
{
    if (window.capacity() < window.size() + count)
        window.reserve(std::max(2 * window.capacity(), window.size() + count));
    // The sums in integers (exact), added to the totals piece by piece.
    constexpr size_t PIECE = size_t{1} << 20;
    for (size_t start = 0; start < count; start += PIECE) {
        const size_t end = std::min(count, start + PIECE);
        uint64_t squares = 0, clipped = 0, changes = 0;
        int peak = peakAbs;
        bool negativeBefore = lastNegative;
        bool anyBefore = sampleCount + start > 0;
        for (size_t i = start; i < end; ++i) {
            const int value = samples[i];
            window.push_back(static_cast<float>(value));
            squares += static_cast<uint64_t>(value * value);
            const int magnitude = value < 0 ? -value : value;
            peak = std::max(peak, magnitude);
            clipped += magnitude >= 32767 ? 1 : 0;
            // sign changes between successive non-zero samples
            if (value != 0) {
                const bool negative = value < 0;
                changes += (anyBefore && negative != negativeBefore) ? 1 : 0;
                negativeBefore = negative;
            }
            anyBefore = true;
        }
        sumSquares += static_cast<long double>(squares);
        clippedSamples += clipped;
        signChanges += changes;
        peakAbs = peak;
        lastNegative = negativeBefore;
    }
    sampleCount += count;
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
    // the burst, and the margin the fine fit reads beyond it
    const int64_t length = static_cast<int64_t>(fit.Length()) + BurstFit::MARGIN;
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

// The least-squares fit of the burst at an integer lag (leak-free: both
// real regressors, see meter/burst_fit.h).
ClockEstimator::Peak ClockEstimator::CorrelateAt(int64_t lag) const
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
ClockEstimator::Peak ClockEstimator::BestIn(int64_t firstLag, int64_t lastLag, double* meanPower) const
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
    DropBefore(searchStart - 2 - BurstFit::MARGIN);
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
    DropBefore(centre - BurstFit::MARGIN);
}

// The recording's samples per signal sample less 1, as the lines have it
// so far (0 before they have a slope): the stretch of the burst.
double ClockEstimator::CurrentStretch() const
{
    double stretch = 0;
    if (phaseLine.Count() >= 3 && phaseLine.HasSlope())
        stretch = static_cast<double>(phaseLine.Slope()) / FRAME_SAMPLES;
    else if (delayLine.Count() >= 2 && delayLine.HasSlope())
        stretch = static_cast<double>(delayLine.Slope()) / FRAME_SAMPLES;
    return std::clamp(stretch, -0.02, 0.02);
}

// The fraction of a sample and the carrier phase from the fit of the burst
// around the integer peak (meter/burst_fit.h), `samples` at the peak's lag:
// phi is the carrier's phase at the burst's start, lag + f; less the local
// oscillator's phase there, the phase at the recording's sample 0.
void ClockEstimator::FineFix(const float* samples, const Peak& peak, double stretch, Measurement& m) const
{
    const BurstFit::Fine fine = fit.Refine(samples, stretch);
    const double fraction = fine.valid ? fine.fraction : 0;
    const long double phi = fine.valid ? fine.phase : std::atan2(-peak.im, peak.re);
    m.position = static_cast<double>(peak.lag) + fraction;
    const long double cycles = (static_cast<long double>(peak.lag) + fraction) * reference.carrierPerSample;
    const long double oscillator = TWO_PI * (cycles - std::floor(cycles));
    m.phase = WrapPhase(phi - oscillator);
}

ClockEstimator::Measurement ClockEstimator::Measure(const Peak& peak, int64_t block, unsigned flags) const
{
    Measurement m;
    m.block = block;
    m.lag = peak.lag;
    m.magnitude = peak.magnitude;
    m.flags = flags;
    FineFix(At(peak.lag), peak, CurrentStretch(), m);
    // Level and clipping over the burst.
    const float* samples = At(peak.lag);
    double energy = 0;
    bool clipped = false;
    for (size_t n = 0; n < fit.Length(); ++n) {
        energy += static_cast<double>(samples[n]) * samples[n];
        clipped = clipped || std::fabs(samples[n]) >= 32767;
    }
    m.level = Db(energy / static_cast<double>(fit.Length()) / (32768.0 * 32768.0));
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
            FlushReports();
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
        FlushReports();
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
    // The first bursts of a line were measured before the stretch was
    // known: kept, and measured again once the line has it.
    const int64_t young = phaseLine.Count();
    if (young < YOUNG_BLOCKS) {
        YoungBurst& kept = youngBursts[static_cast<size_t>(young)];
        // Its row waits for the second measurement (and the rows after it
        // with it, to keep their order).
        if (blockObserver) {
            if (young == 0) {
                FlushReports();
                youngReportsHeld = true;
            }
            holdingReports = true;
            kept.report = heldReports.size();
        }
        kept.measurement = m;
        kept.weight = weight;
        kept.phaseDelay = phaseDelay;
        const float* from = At(m.lag) - BurstFit::MARGIN;
        std::copy(from, from + fit.WindowLength(), youngWindows.begin() + static_cast<std::ptrdiff_t>(young * fit.WindowLength()));
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
    if (phaseLine.Count() == YOUNG_BLOCKS && young + 1 == YOUNG_BLOCKS)
        RemeasureYoung();
}

// The line's first bursts again, with the stretch it now has, and the lines
// made anew from them (no jump lies among them: one would have started the
// line again).
void ClockEstimator::RemeasureYoung()
{
    const double stretch = CurrentStretch();
    if (stretch == 0) {
        if (blockObserver)
            FlushReports();
        return;
    }
    SegmentedLineFit phases, delays;
    for (int64_t i = 0; i < YOUNG_BLOCKS; ++i) {
        const YoungBurst& kept = youngBursts[static_cast<size_t>(i)];
        Measurement m = kept.measurement;
        Peak peak;
        peak.lag = m.lag;
        const float* window = youngWindows.data() + i * static_cast<int64_t>(fit.WindowLength());
        FineFix(window + BurstFit::MARGIN, peak, stretch, m);
        const double delay =
            m.position - static_cast<double>(originLag) - static_cast<double>(FRAME_SAMPLES) * static_cast<double>(m.block) - jumpTotal;
        const double phaseDelay = PhaseDelayNear(m.phase, kept.phaseDelay);
        if (youngReportsHeld && kept.report < heldReports.size()) {
            BlockRecord& record = heldReports[kept.report];
            record.time = m.position / settings.recordingRate;
            record.delay = delay + jumpTotal;
            record.phaseDelay = phaseDelay + jumpTotal;
            record.linePhaseDelay = phaseDelay;
            record.carrierPhase = m.phase;
        }
        phases.Add(static_cast<long double>(m.block), phaseDelay, kept.weight);
        delays.Add(static_cast<long double>(m.block), delay, kept.weight);
        if (i == 0)
            firstUsedPosition = m.position;
        lastUsedPosition = m.position;
        lastDelay = delay;
        lastPhaseDelay = phaseDelay;
    }
    phaseLine = phases;
    delayLine = delays;
    if (blockObserver)
        FlushReports();
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
    if (holdingReports) {
        heldReports.push_back(record);
        if (heldReports.size() > MAX_HELD_REPORTS)
            FlushReports();
        return;
    }
    blockObserver(record);
}

// The rows held while the line was young, as they stand.
void ClockEstimator::FlushReports()
{
    holdingReports = false;
    youngReportsHeld = false;
    if (blockObserver)
        for (const BlockRecord& record : heldReports)
            blockObserver(record);
    heldReports.clear();
}

void ClockEstimator::Finish()
{
    if (pendingValid) {
        pendingValid = false;
        ++outlierBlocks;
        pending.flags |= BLOCK_OUTLIER;
        Report(pending, 0, 0);
    }
    FlushReports();
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
