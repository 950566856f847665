#include "meter/reference/pps_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

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
// A pulse is there when the template fits it with at least this much of
// its height: a missing pulse leaves noise (near 0), a half-height pulse
// is still a pulse.
constexpr double PRESENT_FRACTION = 0.5;
// Samples this close to full scale are clipped.
constexpr double CLIP_LEVEL = 0.999;
// Pulses missing in a row before the lock counts as lost (the receiver
// lost its fix, the cable came out) and the train is looked for afresh.
constexpr int LOST_AFTER = 8;
// A rate from fewer pulses has too few residuals to judge its uncertainty by.
constexpr int64_t MIN_PULSES_FOR_RATE = 5;
// Below this peak the input is silent.
constexpr double SILENCE_DBFS = -90;
// Within this of a multiple of 50 or 60 Hz, the strongest frequency is the mains'.
constexpr double MAINS_TOLERANCE_HZ = 3;

double Dbfs(double amplitude)
{
    return amplitude > 0 ? 20 * std::log10(amplitude) : -1e9;
}

bool IsMains(double hz)
{
    for (double mains : {50.0, 60.0})
        for (int harmonic = 1; harmonic <= 4; ++harmonic)
            if (std::fabs(hz - mains * harmonic) <= MAINS_TOLERANCE_HZ)
                return true;
    return false;
}

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
        clipped += magnitude >= CLIP_LEVEL;
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
            Observe(Timed(nextIndex++, c.position));
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
    pulse.seen = {PulseObservation::Kind::Timed, index, static_cast<double>(centre), 0, LevelAround(centre)};
    pulse.window = DifferenceWindow(centre);
    if (ClippedAround(centre))
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
            if (fit.converged && fit.amplitude >= PRESENT_FRACTION) {
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
        std::optional<int64_t> at = BestMatch(centre - NARROW_SEARCH, centre + NARROW_SEARCH);
        if (!at)
            at = BestMatch(centre - rate / 2, centre + rate / 2);
        PulseObservation seen;
        seen.index = nextIndex;
        seen.position = predicted;
        if (at)
            seen = Timed(nextIndex, *at);
        ++nextIndex;
        Observe(seen);
        CountExtras(std::min(scannedTo - EDGE_RUN_GAP, static_cast<int64_t>(seen.position)));
        Flush(false);
        if (missedInRow >= LOST_AFTER)
            Reacquire(scannedTo);
    }
}

std::vector<double> PpsMeter::DifferenceWindow(int64_t centre) const
{
    const int64_t first = centre - EDGE_WINDOW_LENGTH / 2;
    if (first - 1 < ring.Begin() || first + EDGE_WINDOW_LENGTH > ring.End())
        return {};
    std::vector<double> window(EDGE_WINDOW_LENGTH);
    for (int i = 0; i < EDGE_WINDOW_LENGTH; ++i)
        window[i] = ring.Difference(first + i);
    return window;
}

bool PpsMeter::ClippedAround(int64_t centre) const
{
    const int64_t first = std::max(centre - EDGE_WINDOW_LENGTH / 2 - 1, ring.Begin());
    const int64_t last = std::min(centre + EDGE_WINDOW_LENGTH / 2, ring.End());
    for (int64_t n = first; n < last; ++n)
        if (std::fabs(ring[n]) >= CLIP_LEVEL)
            return true;
    return false;
}

double PpsMeter::LevelAround(int64_t centre) const
{
    double highest = 0;
    const int64_t first = std::max(centre - EDGE_WINDOW_LENGTH / 2 - 1, ring.Begin());
    const int64_t last = std::min(centre + EDGE_WINDOW_LENGTH / 2, ring.End());
    for (int64_t n = first; n < last; ++n)
        highest = std::max(highest, std::fabs(static_cast<double>(ring[n])));
    return Dbfs(highest);
}

PulseObservation PpsMeter::Timed(int64_t index, int64_t centre) const
{
    PulseObservation seen;
    seen.index = index;
    seen.position = static_cast<double>(centre);
    seen.levelDbfs = LevelAround(centre);
    if (ClippedAround(centre)) {
        seen.kind = PulseObservation::Kind::Clipped;
        return seen;
    }
    std::vector<double> window = DifferenceWindow(centre);
    if (window.empty())
        return seen;
    EdgeFit fit = edge.Fit(window.data());
    // A coarse centre a sample or more off: once more from the nearer one.
    if (fit.converged && std::fabs(fit.delay) > 0.5) {
        centre += std::llrint(fit.delay);
        window = DifferenceWindow(centre);
        if (window.empty())
            return seen;
        fit = edge.Fit(window.data());
    }
    if (!fit.converged || fit.amplitude < PRESENT_FRACTION)
        return seen;
    seen.kind = PulseObservation::Kind::Timed;
    seen.position = static_cast<double>(centre) + fit.delay;
    seen.scatter = fit.delayScatter;
    return seen;
}

std::optional<int64_t> PpsMeter::BestMatch(int64_t from, int64_t to) const
{
    // Fit windows wholly in the ring.
    from = std::max(from, ring.Begin() + 1 + EDGE_FIT_LENGTH / 2);
    to = std::min(to, ring.End() - EDGE_FIT_LENGTH / 2);
    if (to < from)
        return std::nullopt;
    std::vector<double> difference(static_cast<size_t>(to - from + EDGE_FIT_LENGTH));
    for (size_t i = 0; i < difference.size(); ++i)
        difference[i] = ring.Difference(from - EDGE_FIT_LENGTH / 2 + static_cast<int64_t>(i));
    double best = PRESENT_FRACTION;
    std::optional<int64_t> at;
    for (int64_t c = from; c <= to; ++c) {
        const double match = edge.Match(&difference[static_cast<size_t>(c - from)]);
        if (match >= best) {
            best = match;
            at = c;
        }
    }
    return at;
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
        event.levelDbfs = LevelAround(c.position);
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

ReferenceEstimate PpsMeter::Estimate() const
{
    ReferenceEstimate estimate;
    const EventLineFit fit = pulses.Line().Fit();
    estimate.eventsUsed = fit.used;
    estimate.eventsMissed = pulses.missed;
    estimate.eventsRejected = extras + pulses.clipped + pulses.outliers + fit.leftOut;
    estimate.segments = fit.segments;
    estimate.steps = reportedSteps + pulses.stepsFound;
    if (!fit.valid || fit.used < MIN_PULSES_FOR_RATE)
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
    heard.rmsDbfs = Dbfs(std::sqrt(sumSquares / static_cast<double>(pushed)));
    heard.peakDbfs = Dbfs(peak);
    heard.clippedSamples = clippedSamples;
    heard.strongestHz = spectrum.StrongestHz();
    char text[200];
    // The pulses settled, and those waiting for the template.
    int64_t found = pulses.timed, clippedPulses = pulses.clipped;
    for (const LearntPulse& pulse : learning) {
        found += pulse.seen.kind == PulseObservation::Kind::Timed;
        clippedPulses += pulse.seen.kind == PulseObservation::Kind::Clipped;
    }
    if (mode != Mode::Acquiring || found > 0) {
        const double span = (lastFoundPosition - static_cast<double>(lockedAt)) / rate + 1;
        heard.eventsPerSecond = span > 0 ? static_cast<double>(found + clippedPulses) / span : 0;
        heard.present = mode != Mode::Acquiring && extras <= found;
        if (clippedPulses > found)
            std::snprintf(text, sizeof text, "the pulses clip: %lld of %lld reach full scale; turn the input down",
                          static_cast<long long>(clippedPulses), static_cast<long long>(clippedPulses + found));
        else if (extras > found)
            // More edges between the seconds than on them: what locked was
            // no second pulse (a tone, a signal's own rhythm).
            std::snprintf(text, sizeof text, "%lld edges between the seconds for %lld on them: not one pulse a second "
                          "(strongest at %.0f Hz)", static_cast<long long>(extras), static_cast<long long>(found),
                          heard.strongestHz);
        else if (!heard.present)
            std::snprintf(text, sizeof text, "the pulse was lost: none where one was due for %d seconds", LOST_AFTER);
        else
            text[0] = 0;
        heard.problem = text;
        return heard;
    }
    heard.eventsPerSecond = verdict.pulsesPerSecond;
    if (heard.peakDbfs < SILENCE_DBFS)
        heard.problem = "silence: nothing on the input (peak below -90 dBFS); is the pulse on this channel?";
    else if (!tried)
        return heard;
    else if (verdict.pulsesPerSecond >= 1.5) {
        std::snprintf(text, sizeof text, "%.3g pulses a second, not one: not a second pulse (strongest at %.0f Hz%s)",
                      verdict.pulsesPerSecond, heard.strongestHz, IsMains(heard.strongestHz) ? ": mains pick-up" : "");
        heard.problem = text;
    } else if (!verdict.periodic && verdict.pulsesPerSecond < 0.5) {
        std::snprintf(text, sizeof text, "no pulse: nothing stands out of the noise (%.0f dBFS rms) once a second",
                      heard.rmsDbfs);
        heard.problem = text;
    } else {
        std::snprintf(text, sizeof text, "no pulse a second apart: edges come %.3g a second, not a second apart",
                      verdict.pulsesPerSecond);
        heard.problem = text;
    }
    return heard;
}
