#include "meter/reference/tick_meter.h"

#include "meter/reference/station_format.h"
#include "meter/reference/tick_envelope.h"
#include "meter/reference/tick_second.h"
#include "meter/reference/tick_words.h"

#include <algorithm>
#include <cmath>

namespace {

// Decimate to at least this rate: the ticks' pitch goes up to 3 kHz.
constexpr int INTERNAL_MINIMUM_RATE = 8000;
// The search folds this many seconds: a fading station is there in most
// of them, and a card up to 100 ppm off moves the ticks by 1.2 ms in them.
constexpr int SEARCH_SECONDS = 12;
// Each second is measured over a stretch from 60 ms before the tick's
// start to 960 ms after it (the minute tone, CHU's hour tone, a doubled
// tick), the start looked for within this of where the line puts it:
// inside WWV's protected zone, wide enough for a path's jump and a small
// unreported loss of samples.
constexpr double BEFORE_SECONDS = 0.060, AFTER_SECONDS = 0.960;
constexpr double WINDOW_SECONDS = 0.012;
constexpr double FIRST_WINDOW_SECONDS = 0.025;  // just after the search
// The start is timed over windows this long: the noise moves the crossing
// of the flanks by its deviation over a window times the window's length
// over the edge's height, which grows as the square root of the length;
// the receiver's filter rounds the edge over about 0.3 ms, and a second
// path a millisecond later must not reach into the first's edge.
// Why: docs/accuracy.md#ticks-scatter
constexpr double TIMING_SECONDS = 0.001;
// The first path's start: looked for up to this long before the strongest
// edge, and taken where it reaches this share of it (a weaker first path
// is still the start; a deep fade of it leaves the second path's, an
// outlier). Why: docs/accuracy.md#ticks-scatter
constexpr double EARLIER_SECONDS = 0.002;
constexpr double FIRST_PATH_SHARE = 0.35;
// ... and at least this share of the recent ticks' level: on a clean
// channel a standard tone's start at 30 ms would pass the first test in a
// second without a tick.
constexpr double TICK_SHARE = 0.25;
// A station gone this many seconds in a row: search again.
constexpr int LOST_SECONDS = 8;
// Found again within this of where it was: the same segment.
constexpr double SAME_PLACE_SECONDS = 0.001;
// The line's timing weights: no tick is taken as better than this, since
// a second path moves strong ticks too. Why: docs/accuracy.md#ticks-scatter
constexpr double SCATTER_FLOOR_SECONDS = 0.00002;
// A tick with clipped samples within this of its start is not timed.
constexpr double CLIP_GUARD_SECONDS = 0.010;

}  // namespace

TickMeter::TickMeter(const TickMeterSettings& settings_)
    : settings(settings_),
      decimator(DecimationFor(settings_.sampleRate, INTERNAL_MINIMUM_RATE)),
      rate(settings_.sampleRate / decimator.Factor()),
      steps(settings_.sampleRate / decimator.Factor())
{
    edgeSamples = static_cast<size_t>(std::lrint(TickFormatOf(settings.station).edgeSeconds * rate));
    timingSamples = static_cast<size_t>(std::lrint(TIMING_SECONDS * rate));
}

void TickMeter::Push(const float* samples, size_t count)
{
    // In pieces of a tenth of a second, so that the clips remembered are
    // those of the seconds being measured, however much is pushed at once.
    const size_t piece = static_cast<size_t>(settings.sampleRate / 10 + 1);
    for (size_t from = 0; from < count; from += piece) {
        const size_t n = std::min(piece, count - from);
        level.Add(samples + from, n);
        decimator.Process(samples + from, n, held);
        Process(false);
    }
}

void TickMeter::MarkDiscontinuity()
{
    breaks.push_back(heldStart + static_cast<int64_t>(held.size()));
}

void TickMeter::Finish()
{
    Process(true);
    steps.Flush();
    ApplyVerdicts();
    Settle();
}

void TickMeter::Process(bool finishing)
{
    for (;;) {
        const bool progressed = mode == Mode::Searching ? TrySearch(finishing) : MeasureNextSecond();
        if (!progressed)
            break;
    }
    Trim();
}

// Drops the samples nothing will look at again.
void TickMeter::Trim()
{
    int64_t keep = mode == Mode::Searching ? searchStart
                                           : static_cast<int64_t>(std::floor(nextPredicted)) - 2 * rate;
    keep = std::min<int64_t>(keep, heldStart + static_cast<int64_t>(held.size()));
    if (keep - heldStart > 4 * rate) {
        held.erase(held.begin(), held.begin() + (keep - heldStart));
        heldStart = keep;
    }
}

TickReception TickMeter::Reception() const
{
    TickReception r = reception;
    r.sidebandKnown = r.votes.SidebandDecided();
    r.lowerSideband = r.sidebandKnown && r.votes.SaysLower();
    return r;
}

double TickMeter::InputPosition(double internal) const
{
    return internal * decimator.Factor() - decimator.Delay();
}

bool TickMeter::TrySearch(bool finishing)
{
    const int64_t available = heldStart + static_cast<int64_t>(held.size()) - searchStart;
    // A break inside the window: start after it.
    for (int64_t b : breaks)
        if (b > searchStart && b < searchStart + std::min<int64_t>(available, SEARCH_SECONDS * rate))
            searchStart = b;
    const int64_t length = heldStart + static_cast<int64_t>(held.size()) - searchStart;
    const bool full = length >= SEARCH_SECONDS * rate;
    if (!full && !(finishing && length >= 3 * rate && !everLocked))
        return false;
    const int64_t seconds = std::min<int64_t>(length / rate, SEARCH_SECONDS);
    const float* x = held.data() + (searchStart - heldStart);
    lastSearch = SearchTicks(x, static_cast<size_t>(seconds * rate), rate);
    std::vector<ToneVotes> votes(lastSearch.trains.size());
    for (size_t i = 0; i < lastSearch.trains.size(); ++i)
        for (int64_t s = 0; s < seconds; ++s)
            votes[i].Add(VoteByTones(x, static_cast<size_t>(seconds * rate),
                                     static_cast<size_t>(s * rate + std::lrint(lastSearch.trains[i].offset)),
                                     lastSearch.trains[i].pitchHz, rate));
    int chosen = -1;
    // Whose each train is, by what this search and the earlier ones heard
    // of it: a train found to be another station's is not taken for the
    // one asked in a stretch where the tones are silent (the voice, a
    // minute of announcements), nor CHU's pulses for ticks in a stretch of
    // its 10 ms ticks.
    const std::vector<ToneVotes> heard = identity.Remember(lastSearch, votes);
    if (reception.pitchHz > 0) {
        // Found before: the same pitch is the same station.
        for (size_t i = 0; i < lastSearch.trains.size() && chosen < 0; ++i)
            if (SamePitch(lastSearch.trains[i].pitchHz, reception.pitchHz) &&
                lastSearch.trains[i].longPulses == reception.longPulses)
                chosen = static_cast<int>(i);
        if (chosen >= 0)
            reception.votes.Add(votes[chosen]);
    } else {
        // What a search says against the trains it heard stands until
        // another says something (a stretch with no train says nothing).
        std::string problem;
        chosen = ChooseTrain(lastSearch, heard, settings.station, problem);
        if (!problem.empty())
            searchProblem = problem;
        if (chosen >= 0)
            reception.votes = heard[chosen];
    }
    if (chosen >= 0 && Lock(lastSearch, chosen, searchStart))
        return true;
    if (!full)
        return false;
    searchStart += seconds * rate;
    return true;
}

bool TickMeter::Lock(const TickSearch& search, int chosen, int64_t windowStart)
{
    const TickTrain& train = search.trains[chosen];
    reception.locked = true;
    reception.pitchHz = train.pitchHz;
    reception.longPulses = train.longPulses;
    // The other station: ticks of the same length 200 Hz away.
    reception.trains = 1;
    const double pairHz = TickFormatOf(TimeStation::Wwvh).pitchHz - TickFormatOf(TimeStation::Wwv).pitchHz;
    for (size_t i = 0; i < search.trains.size(); ++i) {
        const TickTrain& other = search.trains[i];
        if (static_cast<int>(i) == chosen || other.longPulses != train.longPulses ||
            std::fabs(std::fabs(other.pitchHz - train.pitchHz) - pairHz) > 0.25 * pairHz)
            continue;
        reception.trains = 2;
        reception.otherPitchHz = other.pitchHz;
        const double apart = (other.offset - train.offset) / rate;
        reception.otherDelaySeconds = apart - std::floor(apart);
        break;
    }
    // The first start far enough into the window for the stretch before it.
    double first = static_cast<double>(windowStart) + train.offset;
    while (first - BEFORE_SECONDS * rate - static_cast<double>(edgeSamples) < static_cast<double>(windowStart))
        first += rate;
    if (everLocked) {
        // Found again: the index counts on by the seconds gone by, the
        // segment too unless it is where the line would have it.
        steps.Flush();
        ApplyVerdicts();
        int64_t lastIndex = nextIndex - 1;
        double lastPosition = nextPredicted - rate;
        steps.LastUsed(lastIndex, lastPosition);
        const double gone = (first - lastPosition) / steps.Slope();
        const int64_t index = lastIndex + static_cast<int64_t>(std::llrint(gone));
        const double expected = lastPosition + steps.Slope() * static_cast<double>(index - lastIndex);
        if (std::fabs(first - expected) > SAME_PLACE_SECONDS * rate)
            steps.NewSegment();
        nextIndex = std::max(index, nextIndex);
    }
    steps.Anchor(nextIndex, first);
    everLocked = true;
    lostAtSeconds = -1;
    nextPredicted = first;
    lostSeconds = 0;
    mode = Mode::Tracking;
    return true;
}

bool TickMeter::MeasureNextSecond()
{
    const double predicted = nextPredicted;
    const int64_t from = static_cast<int64_t>(std::floor(predicted - BEFORE_SECONDS * rate)) - static_cast<int64_t>(edgeSamples);
    const int64_t to = static_cast<int64_t>(std::ceil(predicted + AFTER_SECONDS * rate)) + 2 * static_cast<int64_t>(edgeSamples);
    if (to > heldStart + static_cast<int64_t>(held.size()))
        return false;
    if (from < heldStart) {
        // The line puts the tick before what is still held: it has gone
        // wrong (the ticks it was drawn through are followed within a few
        // milliseconds of it, so this should not happen; reading there
        // would be reading what is gone). Look for the train again in
        // what no second has been measured from yet.
        searchStart = std::max(heldStart, measuredTo);
        mode = Mode::Searching;
        return true;
    }
    for (int64_t b : breaks)
        if (b > from && b <= to) {
            // The stream broke inside this second: what follows is at an
            // unknown distance; search again from the break.
            breaks.erase(std::remove_if(breaks.begin(), breaks.end(), [&](int64_t x) { return x <= b; }), breaks.end());
            searchStart = b;
            mode = Mode::Searching;
            return true;
        }
    Observation o = Measure(nextIndex, predicted);
    measuredTo = to;
    ++secondsFollowed;
    pending.push_back(o);
    Observation& added = pending.back();
    if (added.kind == SecondClass::Tick || added.kind == SecondClass::Marker) {
        ++ticksFound;
        lostSeconds = 0;
    } else {
        ++lostSeconds;
    }
    if (added.kind == SecondClass::Tick)
        steps.Add(added.index, added.position);
    else
        added.judged = true;
    ApplyVerdicts();
    ++nextIndex;
    nextPredicted = steps.Predict(nextIndex);
    Settle();
    if (lostSeconds >= LOST_SECONDS) {
        searchStart = static_cast<int64_t>(std::floor(nextPredicted - BEFORE_SECONDS * rate));
        mode = Mode::Searching;
        lostAtSeconds = InputPosition(nextPredicted) / settings.sampleRate;
    }
    return true;
}

TickMeter::Observation TickMeter::Measure(int64_t k, double predicted)
{
    Observation o;
    o.index = k;
    o.position = predicted;
    const int64_t spanStart = static_cast<int64_t>(std::floor(predicted - BEFORE_SECONDS * rate)) - static_cast<int64_t>(edgeSamples);
    const int64_t spanEnd = static_cast<int64_t>(std::ceil(predicted + AFTER_SECONDS * rate)) + 2 * static_cast<int64_t>(edgeSamples);
    PitchEnvelope envelope;
    envelope.Load(held.data() + (spanStart - heldStart), static_cast<size_t>(spanEnd - spanStart), reception.pitchHz, rate);
    // The envelope's median in a second of a minute tone is the tone: the
    // noise is taken as the smaller of it and twice the recent ticks' one.
    const double measuredNoise = EnvelopeNoise(envelope, edgeSamples);
    const double noise = noiseLevel > 0 ? std::min(measuredNoise, 2 * noiseLevel) : measuredNoise;
    const double window = (steps.HasLine() ? WINDOW_SECONDS : FIRST_WINDOW_SECONDS) * rate;
    const double centre = predicted - static_cast<double>(spanStart);
    const TickEdge edge = FindEdge(envelope, static_cast<size_t>(std::max(0.0, centre - window)),
                                   static_cast<size_t>(centre + window) + 1, edgeSamples, noise, TICK_DETECTION_RATIO);
    // The envelope is the analytic signal's: a sine of amplitude a sums to
    // a N over N samples.
    if (edge.found && edge.after / static_cast<double>(edgeSamples) >= TICK_SHARE * tickLevel) {
        // Found over the whole edge; timed over its first millisecond.
        const double half = 0.5 * static_cast<double>(edgeSamples);
        const double fineNoise = noise * std::sqrt(static_cast<double>(timingSamples) / static_cast<double>(edgeSamples));
        const TickEdge fine = FindFirstEdge(envelope, static_cast<size_t>(std::max(1.0, edge.position - EARLIER_SECONDS * rate)),
                                            static_cast<size_t>(edge.position + half) + 1, timingSamples, fineNoise, FIRST_PATH_SHARE);
        const TickEdge& used = fine.found ? fine : edge;
        o.kind = SecondClass::Tick;
        o.position = static_cast<double>(spanStart) + used.position;
        o.scatter = std::max(used.scatter, SCATTER_FLOOR_SECONDS * rate);
        o.level = edge.after / static_cast<double>(edgeSamples);
        o.clipped = level.ClippedNear(InputPosition(o.position), CLIP_GUARD_SECONDS * settings.sampleRate);
    }
    Classify(envelope, spanStart, noise, o);
    if (o.kind == SecondClass::Tick)
        noiseLevel = noiseLevel > 0 ? 0.8 * noiseLevel + 0.2 * measuredNoise : measuredNoise;
    if (settings.station != TimeStation::Chu)
        reception.voice.Second(o.index, SecondPower(o.position));
    // The tones' word, until they have said plenty (then the time they
    // cost each second is saved).
    if (settings.station != TimeStation::Chu && o.kind != SecondClass::Missed && WantsMoreVotes(reception.votes)) {
        const size_t start = static_cast<size_t>(std::llrint(o.position)) - static_cast<size_t>(spanStart);
        reception.votes.Add(VoteByTones(held.data() + (spanStart - heldStart), static_cast<size_t>(spanEnd - spanStart),
                                        start, reception.pitchHz, rate));
    }
    return o;
}

// The mean power of a second between its ticks, from 40 ms after its
// start to 930 ms (within the stretch measured): where the voice speaks.
double TickMeter::SecondPower(double start) const
{
    const int64_t from = static_cast<int64_t>(start) + static_cast<int64_t>(0.040 * rate);
    const int64_t to = static_cast<int64_t>(start) + static_cast<int64_t>(0.930 * rate);
    double sum = 0;
    for (int64_t i = from; i < to; ++i) {
        const double v = held[static_cast<size_t>(i - heldStart)];
        sum += v * v;
    }
    return to > from ? sum / static_cast<double>(to - from) : 0;
}

// What the second is (tick_second.h); what it says of the minute and of
// whose the ticks are.
void TickMeter::Classify(const PitchEnvelope& envelope, int64_t spanStart, double noise, Observation& o)
{
    if (o.kind != SecondClass::Missed)
        tickLevel = tickLevel <= 0 ? o.level : 0.9 * tickLevel + 0.1 * o.level;
    SecondContext context;
    context.station = settings.station;
    context.rate = rate;
    context.edgeSamples = edgeSamples;
    context.pitchHz = reception.pitchHz;
    context.lowerSideband = reception.votes.SidebandDecided() && reception.votes.SaysLower();
    context.otherDelay = reception.trains > 1 ? reception.otherDelaySeconds * rate : -1e9;
    context.tickLevel = tickLevel;
    context.noise = noise;
    const SecondShape shape = ClassifySecond(envelope, held.data() + (spanStart - heldStart), o.position - static_cast<double>(spanStart),
                                             o.kind, o.level, context);
    o.kind = shape.kind;
    if (shape.minute)
        reception.voice.MinuteAt(o.index);
    if (shape.steadyPulse)
        identity.GoesOn(o.index);
    if (shape.hasExtra) {
        o.hasExtra = true;
        o.extraPosition = static_cast<double>(spanStart) + static_cast<double>(shape.extraAt);
    }
}

ReferenceHeard TickMeter::Heard() const
{
    ReferenceHeard heard;
    heard.seconds = level.Samples() / static_cast<double>(settings.sampleRate);
    heard.rmsDbfs = AmplitudeDbfs(level.Rms());
    heard.peakDbfs = AmplitudeDbfs(level.Peak());
    heard.clippedSamples = level.Clipped();
    heard.strongestHz = lastSearch.strongestHz;
    if (everLocked) {
        heard.eventsPerSecond = secondsFollowed > 0 ? static_cast<double>(ticksFound) / secondsFollowed : 0;
        heard.problem = identity.Problem(settings.station, reception.votes, reception.voice);
        if (heard.problem.empty())
            heard.problem = TicksGoneText(ticksFound, secondsFollowed, mode == Mode::Searching ? lostAtSeconds : -1);
        heard.present = heard.problem.empty();
    } else {
        heard.eventsPerSecond = lastSearch.onsetsPerSecond;
        heard.problem = NoTicksText(lastSearch, searchProblem, level.Samples(), level.Rms(), level.Peak(), settings.sampleRate);
    }
    return heard;
}
