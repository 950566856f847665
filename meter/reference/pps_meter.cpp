#include "meter/reference/pps_meter.h"

#include "meter/reference/pps_words.h"
#include "meter/reference/pulse_timing.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

// Candidate edges are looked for this much of a second at a time.
constexpr double CHUNK_SECONDS = 0.25;
// An edge stands this many of the first difference's noise deviations
// above it: Gaussian noise reaches it once in 5e8 samples (a stray
// candidate every few hours at 48 kHz, which the train's second-by-second
// chain never takes), and a pulse 20 dB above the noise is found.
// docs/accuracy.md#pps-detection
constexpr double DETECT_SIGMAS = 6;
// The detection threshold's floor, full scale: digital silence has no
// noise to judge by (a 24-bit card's last bit is 1.2e-7).
constexpr double THRESHOLD_FLOOR = 1e-6;
// Pulses a second apart in a row that lock the meter: a second that lacks
// its pulse or has an extra one breaks the chain, and the next try starts
// a chunk later.
constexpr int LOCK_PULSES = 3;
// The samples kept: the lock's seconds and a chunk, so that the pulses it
// found can still be timed, and the second round a pulse searched for.
constexpr double RING_SECONDS = LOCK_PULSES + 1.5;
// A pulse is looked for this many samples either side of where the line
// puts it (a whole-sample step of a few samples is found there too) before
// the whole second round it is searched.
constexpr int NARROW_SEARCH = 8;
// Pulses missing in a row before the lock counts as lost (the receiver
// lost its fix, the cable came out) and the train is looked for afresh.
constexpr int LOST_AFTER = 8;
// A rate from fewer pulses has too few residuals to judge its uncertainty by.
constexpr int64_t MIN_PULSES_FOR_RATE = 5;

}  // namespace

PpsMeter::PpsMeter(int sampleRate, PulsePolarity polarity)
    : rate(sampleRate), polarity(polarity),
      ring(static_cast<size_t>(RING_SECONDS * sampleRate) + 4 * EDGE_WINDOW_LENGTH), spectrum(sampleRate),
      pulses(sampleRate)
{
}

void PpsMeter::Push(const float* samples, size_t count)
{
    double squares = 0, highest = peak;
    uint64_t clipped = 0;
    for (size_t i = 0; i < count; ++i) {
        const double magnitude = std::fabs(static_cast<double>(samples[i]));
        squares += magnitude * magnitude;
        highest = std::max(highest, magnitude);
        clipped += magnitude >= PPS_CLIP_LEVEL;
    }
    sumSquares += squares;
    peak = highest;
    clippedSamples += clipped;
    // In pieces no longer than a chunk: the ring must not run past what is
    // still to be scanned.
    const size_t piece = static_cast<size_t>(std::max(1L, std::lrint(CHUNK_SECONDS * rate)));
    for (size_t done = 0; done < count; done += piece) {
        const size_t run = std::min(piece, count - done);
        ring.Push(samples + done, run);
        spectrum.Push(samples + done, run);
        Advance(false);
    }
}

void PpsMeter::MarkDiscontinuity()
{
    ++reportedSteps;
    if (mode == Mode::Tracking)
        pulses.MarkDiscontinuity(ring.End());
    else
        Reacquire(std::max<int64_t>(ring.End(), 1));  // the lock's pulses must come from one side of it
}

void PpsMeter::Reacquire(int64_t from)
{
    mode = Mode::Acquiring;
    learning.clear();
    candidates.clear();
    acquireFrom = from;
    missedInRow = 0;
    if (pulses.Line().Count() > 0)
        pulses.StartSegment();
}

void PpsMeter::Finish()
{
    Advance(true);
    // Too few pulses to learn the edge from: what was seen, untimed.
    for (const LearntPulse& pulse : learning) {
        if (pulse.seen.kind != PulseObservation::Kind::Timed) {
            pulses.Observe(pulse.seen, pending);
            continue;
        }
        ReferenceEvent event;
        event.index = pulse.seen.index;
        event.referenceSeconds = static_cast<double>(pulse.seen.index);
        event.position = pulse.seen.position;
        event.levelDbfs = pulse.seen.levelDbfs;
        pending.push_back(event);
    }
    learning.clear();
    pulses.Finish(pending);
    CountExtras(scannedTo);
    Flush(true);
}

void PpsMeter::Advance(bool final)
{
    const int64_t chunk = std::max<int64_t>(1, std::lrint(CHUNK_SECONDS * rate));
    for (;;) {
        const int64_t end = scannedTo + chunk;
        if (ring.End() >= end + EDGE_WINDOW_LENGTH)
            ScanChunk(scannedTo, end);
        else if (final && scannedTo < ring.End())
            ScanChunk(scannedTo, ring.End());
        else
            break;
    }
    if (mode == Mode::Learning)
        Learn(final);
    if (mode == Mode::Tracking)
        Track(final);
}

void PpsMeter::ScanChunk(int64_t begin, int64_t end)
{
    const int64_t stop = std::min(end + EDGE_WINDOW_LENGTH, ring.End());
    std::vector<double> difference(static_cast<size_t>(stop - begin));
    for (int64_t n = begin; n < stop; ++n)
        difference[static_cast<size_t>(n - begin)] = ring.Difference(n);
    const size_t count = static_cast<size_t>(end - begin);
    const double threshold = std::max(DETECT_SIGMAS * DifferenceNoise(difference.data(), count), THRESHOLD_FLOOR);
    for (const EdgeCandidate& c : FindEdgeCandidates(difference.data(), begin, count, difference.size() - count, threshold))
        // A run across the chunks' border was measured whole in the first.
        if (candidates.empty() || c.position >= candidates.back().position + EDGE_RUN_GAP)
            candidates.push_back(c);
    scannedTo = end;
    while (!candidates.empty() && candidates.front().position < ring.Begin() + EDGE_WINDOW_LENGTH)
        candidates.pop_front();
    if (mode == Mode::Acquiring && scannedTo - acquireFrom >= LOCK_PULSES * static_cast<int64_t>(rate))
        TryToLock(scannedTo - LOCK_PULSES * static_cast<int64_t>(rate));
}

void PpsMeter::TryToLock(int64_t spanBegin)
{
    std::vector<EdgeCandidate> span;
    for (const EdgeCandidate& c : candidates)
        if (c.position >= spanBegin)
            span.push_back(c);
    verdict = FindPulseTrain(span, spanBegin, rate, LOCK_PULSES, polarity);
    tried = true;
    if (!verdict.found)
        return;
    leadingSign = verdict.leadingSign;
    widthSamples = verdict.widthSamples;
    const std::vector<EdgeCandidate>& chain = verdict.leading;
    period = static_cast<double>(chain.back().position - chain.front().position) / (chain.size() - 1);
    // After a lost lock the count goes on from the last pulse found (a new
    // segment takes whatever whole seconds it missed).
    nextIndex = lastFoundIndex < 0 ? 0
                                   : lastFoundIndex + std::max<int64_t>(1, std::llrint((chain.front().position - lastFoundPosition) / period));
    if (lockedAt < 0) {
        lockedAt = chain.front().position;
        extrasCountedTo = lockedAt;
    }
    mode = Mode::Learning;
    for (const EdgeCandidate& c : chain) {
        if (edge.Learnt()) {
            Observe(TimePulse(ring, edge, nextIndex++, c.position));
            continue;
        }
        learning.push_back(Learnt(nextIndex++, c.position));
        const LearntPulse& pulse = learning.back();
        lastFoundIndex = pulse.seen.index;
        lastFoundPosition = pulse.seen.position;
    }
    if (edge.Learnt())
        mode = Mode::Tracking;
}

void PpsMeter::Learn(bool final)
{
    const double tolerance = PULSE_PERIOD_TOLERANCE * rate;
    auto fitted = [&] {
        return std::count_if(learning.begin(), learning.end(),
                             [](const LearntPulse& p) { return p.seen.kind == PulseObservation::Kind::Timed; });
    };
    while (fitted() < PPS_LEARN_PULSES) {
        const double expected = lastFoundPosition + period * static_cast<double>(nextIndex - lastFoundIndex);
        if (static_cast<double>(scannedTo) < expected + tolerance + EDGE_RUN_GAP && !final)
            return;
        if (expected + EDGE_WINDOW_LENGTH > static_cast<double>(ring.End()))
            break;
        const EdgeCandidate* nearest = nullptr;
        for (const EdgeCandidate& c : candidates)
            if (std::fabs(static_cast<double>(c.position) - expected) <= tolerance &&
                (!nearest || std::fabs(static_cast<double>(c.position) - expected) <
                                 std::fabs(static_cast<double>(nearest->position) - expected)))
                nearest = &c;
        LearntPulse pulse;
        pulse.seen.index = nextIndex++;
        pulse.seen.position = expected;
        if (nearest) {
            const int64_t at = nearest->position;
            pulse = Learnt(pulse.seen.index, at);
            lastFoundIndex = pulse.seen.index;
            lastFoundPosition = pulse.seen.position;
            missedInRow = 0;
            CountExtras(std::min(scannedTo - EDGE_RUN_GAP, at));
        } else if (++missedInRow >= LOST_AFTER) {
            Reacquire(scannedTo);
            return;
        }
        learning.push_back(pulse);
    }
    if (fitted() >= PPS_LEARN_PULSES || (final && fitted() >= LOCK_PULSES))
        StartTracking();
}

PpsMeter::LearntPulse PpsMeter::Learnt(int64_t index, int64_t centre) const
{
    LearntPulse pulse;
    pulse.seen = {PulseObservation::Kind::Timed, index, static_cast<double>(centre), 0, LevelAround(ring, centre)};
    pulse.window = DifferenceWindow(ring, centre);
    if (ClippedAround(ring, centre))
        pulse.seen.kind = PulseObservation::Kind::Clipped;
    else if (pulse.window.empty())
        pulse.seen.kind = PulseObservation::Kind::Missed;  // at the very end: not all of it was recorded
    return pulse;
}

void PpsMeter::StartTracking()
{
    std::vector<std::vector<double>> windows;
    for (const LearntPulse& pulse : learning)
        if (pulse.seen.kind == PulseObservation::Kind::Timed)
            windows.push_back(pulse.window);
    edge.Learn(windows);
    mode = Mode::Tracking;
    missedInRow = 0;
    for (const LearntPulse& pulse : learning) {
        PulseObservation seen = pulse.seen;
        if (seen.kind == PulseObservation::Kind::Timed) {
            const EdgeFit fit = edge.Fit(pulse.window.data());
            if (PulsePresent(fit)) {
                seen.position += fit.delay;
                seen.scatter = fit.delayScatter;
            } else
                seen.kind = PulseObservation::Kind::Missed;
        }
        Observe(seen);
    }
    learning.clear();
}

void PpsMeter::Track(bool final)
{
    while (mode == Mode::Tracking) {
        const double predicted = PredictedPosition(nextIndex);
        const double needed = predicted + rate / 2.0 + EDGE_WINDOW_LENGTH;
        if (static_cast<double>(ring.End()) < needed &&
            (!final || predicted + NARROW_SEARCH + EDGE_WINDOW_LENGTH / 2.0 > static_cast<double>(ring.End())))
            return;
        const int64_t centre = std::llrint(predicted);
        std::optional<int64_t> at = BestMatch(ring, edge, centre - NARROW_SEARCH, centre + NARROW_SEARCH);
        if (!at)
            at = BestMatch(ring, edge, centre - rate / 2, centre + rate / 2);
        PulseObservation seen;
        seen.index = nextIndex;
        seen.position = predicted;
        if (at)
            seen = TimePulse(ring, edge, nextIndex, *at);
        ++nextIndex;
        Observe(seen);
        CountExtras(std::min(scannedTo - EDGE_RUN_GAP, static_cast<int64_t>(seen.position)));
        Flush(false);
        if (missedInRow >= LOST_AFTER)
            Reacquire(scannedTo);
    }
}


double PpsMeter::PredictedPosition(int64_t index) const
{
    if (const std::optional<double> predicted = pulses.Predict(index))
        return *predicted;
    return lastFoundPosition + period * static_cast<double>(index - lastFoundIndex);
}

void PpsMeter::Observe(const PulseObservation& seen)
{
    missedInRow = seen.kind == PulseObservation::Kind::Missed ? missedInRow + 1 : 0;
    if (seen.kind == PulseObservation::Kind::Timed) {
        lastFoundIndex = seen.index;
        lastFoundPosition = seen.position;
        recentEdges.push_back(seen.position);
        if (recentEdges.size() > 4)
            recentEdges.pop_front();
    }
    pulses.Observe(seen, pending);
}

void PpsMeter::CountExtras(int64_t upTo)
{
    if (mode == Mode::Acquiring || lastFoundIndex < 0) {
        // Extra to nothing: no train is locked to.
        extrasCountedTo = std::max(extrasCountedTo, upTo);
        return;
    }
    const double guard = EDGE_FIT_LENGTH;
    auto near = [&](double position, double edge) { return std::fabs(position - edge) < guard; };
    for (const EdgeCandidate& c : candidates) {
        if (c.position < extrasCountedTo || c.position >= upTo)
            continue;
        const double position = static_cast<double>(c.position);
        const int64_t index = lastFoundIndex + std::llrint((position - lastFoundPosition) / period);
        const double leading = PredictedPosition(index);
        bool expected = near(position, leading) || near(position, PredictedPosition(index - 1) + widthSamples) ||
                        near(position, leading + widthSamples);
        for (double seen : recentEdges)
            expected = expected || near(position, seen) || near(position, seen + widthSamples);
        // An extra pulse's own trailing edge is not another pulse.
        const bool trailingKind = leadingSign != 0 && c.step * leadingSign < 0;
        if (expected || trailingKind)
            continue;
        ReferenceEvent event;
        event.index = index;
        event.referenceSeconds = static_cast<double>(index) + (position - leading) / period;
        event.position = position;
        event.flags = EVENT_EXTRA;
        event.residual = position - leading;
        event.levelDbfs = LevelAround(ring, c.position);
        pending.push_back(event);
        ++extras;
    }
    extrasCountedTo = std::max(extrasCountedTo, upTo);
}

void PpsMeter::Flush(bool all)
{
    double bound = all ? std::numeric_limits<double>::infinity() : static_cast<double>(extrasCountedTo);
    if (const std::optional<double> held = pulses.HeldPosition(); held && !all)
        bound = std::min(bound, *held);
    std::stable_sort(pending.begin(), pending.end(),
                     [](const ReferenceEvent& a, const ReferenceEvent& b) { return a.position < b.position; });
    size_t emitted = 0;
    while (emitted < pending.size() && pending[emitted].position < bound)
        Emit(pending[emitted++]);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(emitted));
}

void PpsMeter::CountFound(int64_t& found, int64_t& clippedPulses) const
{
    found = pulses.timed;
    clippedPulses = pulses.clipped;
    for (const LearntPulse& pulse : learning) {
        found += pulse.seen.kind == PulseObservation::Kind::Timed;
        clippedPulses += pulse.seen.kind == PulseObservation::Kind::Clipped;
    }
}

bool PpsMeter::NotASecondPulse() const
{
    int64_t found = 0, clippedPulses = 0;
    CountFound(found, clippedPulses);
    return extras > found;
}

ReferenceEstimate PpsMeter::Estimate() const
{
    ReferenceEstimate estimate;
    const EventLineFit fit = pulses.Line().Fit();
    estimate.eventsUsed = fit.used;
    estimate.eventsMissed = pulses.missed;
    estimate.eventsRejected = extras + pulses.clipped + pulses.outliers + fit.leftOut;
    estimate.segments = fit.segments;
    estimate.steps = reportedSteps + pulses.stepsFound;
    if (!fit.valid || fit.used < MIN_PULSES_FOR_RATE || NotASecondPulse())
        return estimate;
    estimate.valid = true;
    estimate.rateHz = fit.slope;
    estimate.ppm = (fit.slope / rate - 1) * 1e6;
    estimate.uncertaintyPpm = fit.slopeUncertainty / rate * 1e6;
    estimate.seconds = fit.seconds;
    estimate.scatterSamples = fit.scatter;
    return estimate;
}

ReferenceHeard PpsMeter::Heard() const
{
    ReferenceHeard heard;
    const int64_t pushed = ring.End();
    heard.seconds = static_cast<double>(pushed) / rate;
    if (pushed == 0)
        return heard;
    heard.rmsDbfs = AmplitudeDbfs(std::sqrt(sumSquares / static_cast<double>(pushed)));
    heard.peakDbfs = AmplitudeDbfs(peak);
    heard.clippedSamples = clippedSamples;
    heard.strongestHz = spectrum.StrongestHz();
    int64_t found = 0, clippedPulses = 0;
    CountFound(found, clippedPulses);
    if (mode != Mode::Acquiring || found > 0) {
        const double span = (lastFoundPosition - static_cast<double>(lockedAt)) / rate + 1;
        heard.eventsPerSecond = span > 0 ? static_cast<double>(found + clippedPulses) / span : 0;
        heard.present = mode != Mode::Acquiring && !NotASecondPulse();
        heard.problem = PpsFollowingProblem(found, clippedPulses, extras, heard.present, heard.strongestHz, LOST_AFTER);
        return heard;
    }
    heard.eventsPerSecond = verdict.pulsesPerSecond;
    heard.problem = PpsSearchProblem(verdict, tried, heard.peakDbfs, heard.rmsDbfs, heard.strongestHz);
    return heard;
}
