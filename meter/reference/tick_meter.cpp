#include "meter/reference/tick_meter.h"

#include "meter/reference/station_format.h"
#include "meter/reference/tick_envelope.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
// A tick: an edge this many times the envelope's median level. Rayleigh
// noise passes 5 times its median (5.9 deviations) once in 3e7 looks: once
// in about two days of seconds searched 12 ms either side.
constexpr double DETECTION_RATIO = 5.0;
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
// Classifying a second by what follows the start at the tick's pitch
// (mean envelope over the tick's own): a minute tone (800 ms) or CHU's
// 300 ms pulse go on; WWV's tick and CHU's 10 ms ticks do not.
constexpr double GOES_ON = 0.4;
constexpr double NIST_TONE_FROM_SECONDS = 0.050, NIST_TONE_TO_SECONDS = 0.300;
constexpr double CHU_PULSE_FROM_SECONDS = 0.030, CHU_PULSE_TO_SECONDS = 0.250;
constexpr double CHU_MINUTE_FROM_SECONDS = 0.350, CHU_MINUTE_TO_SECONDS = 0.450;
// A second tick in the second (DUT1's doubled ticks): from 15 ms after the
// first to the second's end, at least half the first's edge, over by 2 N,
// and not at the other station's start (20 ms either side).
constexpr double EXTRA_FROM_SECONDS = 0.015, EXTRA_TO_SECONDS = 0.900;
constexpr double EXTRA_SHARE = 0.5;
constexpr double QUIET_SHARE = 0.3;
constexpr double EXTRA_QUIET_SECONDS = 0.025;
constexpr double OTHER_GUARD_SECONDS = 0.020;
// The tones are asked whose the ticks are until this many votes are in.
constexpr int PLENTY_OF_VOTES = 240;
// WWV's and WWVH's pulses go on at the pitch once a minute (the minute
// tone); this many seconds that do in a minute are CHU's 300 ms pulses,
// followed where a search heard a stretch of CHU's 10 ms ticks only.
// Counted where the pulse keeps this share of its start's level (CHU's
// and the minute tone keep all of it; after a faded tick the noise reaches
// half of it) and starts at this share of the recent ticks' level at least.
// Why: docs/accuracy.md#ticks-identity
constexpr size_t CHU_PULSES_IN_A_MINUTE = 3;
constexpr double STEADY_PULSE = 0.8;
constexpr double STRONG_PULSE_SHARE = 0.5;
// WWV's and WWVH's hour tone replaces the tick at 1500 Hz.
constexpr double HOUR_LOOK_SECONDS = 0.200;
// A train found again within this of a pitch is the same train (a
// search's pitch scatters by a few hertz; WWV's and WWVH's are 200 Hz
// apart). The trains the searches heard are remembered up to a number.
constexpr double SAME_PITCH_HZ = 40;
constexpr size_t REMEMBERED_TRAINS = 8;
// A station gone this many seconds in a row: search again.
constexpr int LOST_SECONDS = 8;
// Found again within this of where it was: the same segment.
constexpr double SAME_PLACE_SECONDS = 0.001;
// The line's timing weights: no tick is taken as better than this, since
// a second path moves strong ticks too. Why: docs/accuracy.md#ticks-scatter
constexpr double SCATTER_FLOOR_SECONDS = 0.00002;
// Steps found over the whole run: at least this large (smaller ones move
// the rate less than the ticks' scatter does). Why: docs/accuracy.md#ticks-steps
constexpr double SPLIT_FLOOR_SECONDS = 0.0001;
// Samples at or beyond this are clipped; a tick with clipped samples within
// this of its start is not timed. Clips are remembered up to a number (a
// stream clipping all the time clips the ticks too).
constexpr float CLIP_LEVEL = 0.999f;
constexpr double CLIP_GUARD_SECONDS = 0.010;
constexpr size_t MAXIMUM_CLIPS = 4096;
// The ticks are there while found in more than this share of the seconds
// followed (a fade takes some, the stations omit one or two a minute).
constexpr double PRESENT_SHARE = 0.5;
// A figure: at least this many ticks over this long.
constexpr int64_t MINIMUM_TICKS = 20;
constexpr double MINIMUM_SECONDS = 20;
constexpr double SILENT_DBFS = -100;
constexpr double STEADY_TONE_DB = 25;
// A receiver's audio passes nothing below a few hundred hertz: pulses once
// a second whose strongest frequency lies under this carry no tick's pitch
// (a second pulse's edges, or DC, given as ticks).
constexpr double NO_PITCH_BELOW_HZ = 100;

double Dbfs(double amplitude)
{
    return amplitude > 0 ? 20 * std::log10(amplitude) : -1e9;
}

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
        // The level in four running sums (the same order on every build),
        // the clips looked for only in a piece that reaches full scale.
        float squares[4] = {0, 0, 0, 0}, largest[4] = {0, 0, 0, 0};
        size_t i = 0;
        for (; i + 4 <= n; i += 4)
            for (int k = 0; k < 4; ++k) {
                const float v = samples[from + i + k];
                squares[k] += v * v;
                largest[k] = std::max(largest[k], std::fabs(v));
            }
        for (; i < n; ++i) {
            const float v = samples[from + i];
            squares[0] += v * v;
            largest[0] = std::max(largest[0], std::fabs(v));
        }
        sumSquares += (static_cast<double>(squares[0]) + squares[1]) + (static_cast<double>(squares[2]) + squares[3]);
        const float pieceLargest = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
        peak = std::max(peak, static_cast<double>(pieceLargest));
        for (size_t j = 0; pieceLargest >= CLIP_LEVEL && j < n; ++j) {
            if (std::fabs(samples[from + j]) < CLIP_LEVEL)
                continue;
            ++clipped;
            const double at = static_cast<double>(samplesPushed + j);
            if (clips.empty() || at - clips.back() > 1)
                clips.push_back(at);
            else
                clips.back() = at;  // a run of clipped samples: its end
            if (clips.size() > MAXIMUM_CLIPS)
                clips.pop_front();
        }
        samplesPushed += n;
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
    const std::vector<ToneVotes> heard = RememberTrains(lastSearch, votes);
    if (reception.pitchHz > 0) {
        // Found before: the same pitch is the same station.
        for (size_t i = 0; i < lastSearch.trains.size() && chosen < 0; ++i)
            if (std::fabs(lastSearch.trains[i].pitchHz - reception.pitchHz) < SAME_PITCH_HZ &&
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

// Adds each train's votes to those of the same train (its pitch) in
// earlier searches; the votes of each, all searches' together. A train
// whose pulses were CHU's in any search is CHU's.
std::vector<ToneVotes> TickMeter::RememberTrains(TickSearch& search, const std::vector<ToneVotes>& votes)
{
    std::vector<ToneVotes> all = votes;
    for (size_t i = 0; i < search.trains.size(); ++i) {
        TickTrain& train = search.trains[i];
        auto same = std::find_if(heardTrains.begin(), heardTrains.end(),
                                 [&](const HeardTrain& h) { return std::fabs(h.pitchHz - train.pitchHz) < SAME_PITCH_HZ; });
        if (same == heardTrains.end()) {
            if (heardTrains.size() >= REMEMBERED_TRAINS)
                heardTrains.erase(heardTrains.begin());
            heardTrains.push_back({train.pitchHz, false, ToneVotes()});
            same = heardTrains.end() - 1;
        }
        same->longPulses = same->longPulses || train.longPulses;
        train.longPulses = same->longPulses;
        same->votes.Add(votes[i]);
        all[i] = same->votes;
    }
    return all;
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
                                   static_cast<size_t>(centre + window) + 1, edgeSamples, noise, DETECTION_RATIO);
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
        o.clipped = ClippedNear(InputPosition(o.position));
    }
    Classify(envelope, spanStart, noise, o);
    if (o.kind == SecondClass::Tick)
        noiseLevel = noiseLevel > 0 ? 0.8 * noiseLevel + 0.2 * measuredNoise : measuredNoise;
    if (settings.station != TimeStation::Chu)
        reception.voice.Second(o.index, SecondPower(o.position));
    // The tones' word, until they have said plenty (then the time they
    // cost each second is saved).
    const ToneVotes& v = reception.votes;
    if (settings.station != TimeStation::Chu && o.kind != SecondClass::Missed && v.wwv + v.wwvh + v.upper + v.lower < PLENTY_OF_VOTES) {
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

// What the second is: a tick, a marker (a long tone, CHU's short ticks),
// nothing; and a second tick in it.
void TickMeter::Classify(const PitchEnvelope& envelope, int64_t spanStart, double noise, Observation& o)
{
    const double startAt = o.position - static_cast<double>(spanStart);
    const size_t start = static_cast<size_t>(std::max(0.0, std::floor(startAt)));
    const auto at = [&](double seconds) { return start + static_cast<size_t>(std::lrint(seconds * rate)); };
    const double pulse = envelope.After(start, edgeSamples);
    if (o.kind == SecondClass::Missed) {
        // WWV's and WWVH's hour: 1500 Hz instead of the tick.
        const TickFormat format = TickFormatOf(settings.station);
        if (settings.station == TimeStation::Chu || tickLevel <= 0)
            return;
        const double distance = format.hourToneHz - format.pitchHz;
        // On the lower sideband (once the tones have said so) it lies below.
        const bool lower = reception.votes.SidebandDecided() && reception.votes.SaysLower();
        const double hz = lower ? reception.pitchHz - distance : reception.pitchHz + distance;
        const size_t length = static_cast<size_t>(HOUR_LOOK_SECONDS * rate);
        if (hz > 100 && hz < 0.45 * rate &&
            2 * ToneLevel(held.data() + (spanStart - heldStart) + start, length, hz, rate, edgeSamples) > GOES_ON * tickLevel) {
            o.kind = SecondClass::Marker;
            reception.voice.MinuteAt(o.index);
        }
        return;
    }
    tickLevel = tickLevel <= 0 ? o.level : 0.9 * tickLevel + 0.1 * o.level;
    if (settings.station == TimeStation::Chu) {
        const double goesOn = envelope.MeanAfter(at(CHU_PULSE_FROM_SECONDS), at(CHU_PULSE_TO_SECONDS), edgeSamples, pulse);
        const double minute = envelope.MeanAfter(at(CHU_MINUTE_FROM_SECONDS), at(CHU_MINUTE_TO_SECONDS), edgeSamples, pulse);
        if (goesOn < GOES_ON || minute > GOES_ON)
            o.kind = SecondClass::Marker;  // 10 ms before code or voice; 0.5 s or 1 s at the minute
        return;
    }
    const double goesOn = envelope.MeanAfter(at(NIST_TONE_FROM_SECONDS), at(NIST_TONE_TO_SECONDS), edgeSamples, pulse);
    if (goesOn > GOES_ON) {
        o.kind = SecondClass::Marker;  // the minute tone
        reception.voice.MinuteAt(o.index);
        if (goesOn > STEADY_PULSE && o.level >= STRONG_PULSE_SHARE * tickLevel)
            GoesOn(o.index);
        return;
    }
    // A doubled tick: the strongest short edge later in the second.
    const double guard = OTHER_GUARD_SECONDS * rate;
    const double other = reception.trains > 1 ? reception.otherDelaySeconds * rate : -1e9;
    double best = 0;
    size_t bestAt = 0;
    for (size_t n = at(EXTRA_FROM_SECONDS); n < at(EXTRA_TO_SECONDS) && n + 3 * edgeSamples < envelope.Size(); ++n) {
        const double fromTick = static_cast<double>(n) - startAt;
        if (std::fabs(fromTick - other) < guard || std::fabs(fromTick - other + rate) < guard)
            continue;
        const double e = envelope.Edge(n, edgeSamples);
        if (e > best) {
            best = e;
            bestAt = n;
        }
    }
    // Shaped like the tick: as strong, out of quiet at the pitch, and over
    // within its length (a voice's partial at the pitch is none of these).
    const double strength = envelope.Edge(start, edgeSamples);
    const double extraAfter = envelope.After(bestAt, edgeSamples);
    const size_t quietFrom = bestAt > static_cast<size_t>(EXTRA_QUIET_SECONDS * rate) ? bestAt - static_cast<size_t>(EXTRA_QUIET_SECONDS * rate) : 0;
    if (best > EXTRA_SHARE * strength && best > DETECTION_RATIO * noise && extraAfter > EXTRA_SHARE * pulse &&
        envelope.MeanAfter(quietFrom, bestAt - std::min(bestAt, edgeSamples), edgeSamples, extraAfter) < QUIET_SHARE &&
        envelope.After(bestAt + edgeSamples + edgeSamples / 2, edgeSamples) < QUIET_SHARE * extraAfter) {
        o.hasExtra = true;
        o.extraPosition = static_cast<double>(spanStart) + static_cast<double>(bestAt);
    }
}

// Second `index` of WWV's or WWVH's went on at the pitch like a minute
// tone: more of them in a minute are CHU's pulses.
void TickMeter::GoesOn(int64_t index)
{
    goingOn.push_back(index);
    while (goingOn.front() <= index - 60)
        goingOn.pop_front();
    if (goingOn.size() >= CHU_PULSES_IN_A_MINUTE)
        chuPulses = true;
}

// The steps' word on the ticks, into their observations.
void TickMeter::ApplyVerdicts()
{
    for (const TickSteps::Verdict& v : steps.TakeVerdicts())
        for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            if (it->index == v.index && it->kind == SecondClass::Tick) {
                it->judged = true;
                it->accepted = v.used;
                it->segment = v.segment;
                if (v.jump)
                    it->flags |= EVENT_JUMP;
                if (!v.used)
                    it->flags |= EVENT_OUTLIER;
                break;
            }
}

// Emits the observations whose verdicts are in, in order.
void TickMeter::Settle()
{
    while (!pending.empty() && pending.front().judged) {
        Observation& o = pending.front();
        if (o.kind == SecondClass::Tick)
            settledSegment = o.segment;
        else
            o.segment = settledSegment;
        EmitObservation(o);
        pending.pop_front();
    }
}

void TickMeter::EmitObservation(const Observation& o)
{
    ReferenceEvent e;
    e.index = o.index;
    e.referenceSeconds = static_cast<double>(o.index);
    e.position = InputPosition(o.position);
    e.scatter = o.scatter * decimator.Factor();
    e.segment = o.segment;
    e.levelDbfs = Dbfs(o.level);
    e.flags = o.flags;
    switch (o.kind) {
    case SecondClass::Missed:
        e.flags |= EVENT_MISSED;
        ++missed;
        break;
    case SecondClass::Marker:
        e.flags |= EVENT_MARKER;
        ++rejected;
        break;
    case SecondClass::Tick:
        if (o.clipped) {
            e.flags |= EVENT_CLIPPED;
            ++rejected;
        } else if (o.accepted) {
            if (line.CanPredict(o.segment))
                e.residual = e.position - line.Predict(e.referenceSeconds, o.segment);
            line.Add(e.referenceSeconds, e.position, e.scatter, o.segment);
            usedTicks.push_back({e.referenceSeconds, e.position, e.scatter, o.segment});
            e.flags |= EVENT_USED;
            ++used;
        } else {
            e.flags |= EVENT_OUTLIER;
            ++rejected;
        }
        break;
    }
    Emit(e);
    if (o.hasExtra) {
        ReferenceEvent extra = e;
        extra.flags = EVENT_EXTRA;
        extra.position = InputPosition(o.extraPosition);
        extra.residual = 0;
        ++rejected;
        Emit(extra);
    }
}

// Whether samples at full scale lie near an input position (the tick's
// start and its length): a clipped tick's start cannot be trusted. Asked
// as each second is measured, in order: clips before it are forgotten.
bool TickMeter::ClippedNear(double position)
{
    const double guard = CLIP_GUARD_SECONDS * settings.sampleRate;
    while (!clips.empty() && clips.front() < position - guard)
        clips.pop_front();
    return !clips.empty() && clips.front() <= position + guard;
}

double TickMeter::WanderAllowance(double seconds) const
{
    if (seconds <= 0)
        return 0;
    const double scale = settings.delayTimeScaleSeconds;
    return seconds <= scale ? settings.delayRate : settings.delayRate * std::pow(scale / seconds, 1.5);
}

ReferenceEstimate TickMeter::Estimate() const
{
    ReferenceEstimate estimate;
    // The segments the steps made, and those only the whole run shows.
    std::vector<SegmentPoint> points;
    points.reserve(usedTicks.size());
    for (const UsedTick& u : usedTicks)
        points.push_back({u.seconds, u.position, 1 / (u.scatter * u.scatter), u.segment});
    const Splits splits = SplitAtSteps(points, SPLIT_FLOOR_SECONDS * settings.sampleRate);
    const auto fitWith = [&](size_t splitAt) {
        EventLine line;
        for (size_t i = 0; i < points.size(); ++i)
            line.Add(usedTicks[i].seconds, usedTicks[i].position, usedTicks[i].scatter,
                     points[i].segment + (splitAt > 0 && i >= splitAt ? 1 : 0));
        const EventLineFit plain = line.Fit();
        return line.Fit(WanderAllowance(plain.seconds) * plain.seconds);
    };
    EventLineFit fit = fitWith(0);
    const double allowance = WanderAllowance(fit.seconds);
    if (splits.doubtfulAt > 0 && fit.valid) {
        // A step the run cannot tell from chance: the figure with it and
        // without it differ by what the uncertainty must hold too.
        const EventLineFit split = fitWith(splits.doubtfulAt);
        if (split.valid)
            fit.slopeUncertainty = std::hypot(fit.slopeUncertainty, split.slope - fit.slope);
    }
    estimate.eventsUsed = used;
    estimate.eventsMissed = missed;
    estimate.eventsRejected = rejected;
    estimate.steps = steps.Steps() + splits.added;
    estimate.segments = fit.segments;
    estimate.scatterSamples = fit.scatter;
    estimate.seconds = fit.seconds;
    estimate.wanderAllowancePpm = allowance * 1e6;
    const double nominal = settings.sampleRate;
    if (fit.valid) {
        estimate.rateHz = fit.slope;
        estimate.ppm = (fit.slope / nominal - 1) * 1e6;
        estimate.uncertaintyPpm = fit.slopeUncertainty / nominal * 1e6;
    }
    estimate.valid = fit.valid && fit.used >= MINIMUM_TICKS && fit.seconds >= MINIMUM_SECONDS && StationProblem().empty();
    if (estimate.steps >= 3) {
        char text[120];
        std::snprintf(text, sizeof text, "the ticks' arrival stepped %lld times (the path changed, or samples were lost)",
                      static_cast<long long>(estimate.steps));
        estimate.unsteady = text;
    }
    return estimate;
}

// The tones' word against the station followed, once they have said enough.
std::string TickMeter::StationProblem() const
{
    if (settings.station == TimeStation::Chu)
        return {};
    if (chuPulses)
        return NotTheAskedText(settings.station, "300 ms long: CHU's");
    const ToneVotes& tones = reception.votes;
    const VoiceTiming& voice = reception.voice;
    bool heardWwvh = false;
    std::string how;
    if (tones.Decided()) {
        heardWwvh = tones.SaysWwvh();
        how = TonesTellText(heardWwvh ? TimeStation::Wwvh : TimeStation::Wwv);
    } else if (voice.Decided()) {
        // No tones to go by (minutes of announcements): the voice's time.
        heardWwvh = voice.SaysWwvh();
        how = heardWwvh ? "the voice speaks from 45 s to 52.5 s" : "the voice speaks from 52.5 s to the minute";
    } else {
        return {};
    }
    if (heardWwvh == (settings.station == TimeStation::Wwvh))
        return {};
    const TimeStation heard = heardWwvh ? TimeStation::Wwvh : TimeStation::Wwv;
    return NotTheAskedText(settings.station, std::string(CallSign(heard)) + "'s (" + how + ")");
}

// Why ticks followed are not there (now).
std::string TickMeter::FollowingProblem() const
{
    char text[160];
    if (static_cast<double>(ticksFound) <= PRESENT_SHARE * static_cast<double>(secondsFollowed)) {
        std::snprintf(text, sizeof text, "ticks found in only %lld of the %lld seconds followed: the station faded or was too weak",
                      static_cast<long long>(ticksFound), static_cast<long long>(secondsFollowed));
        return text;
    }
    if (mode == Mode::Searching && lostAtSeconds >= 0) {
        std::snprintf(text, sizeof text, "the ticks were lost at %.0f s and not found again", lostAtSeconds);
        return text;
    }
    return {};
}

std::string TickMeter::WhatWasHeard() const
{
    char text[200];
    const double rms = samplesPushed > 0 ? std::sqrt(sumSquares / static_cast<double>(samplesPushed)) : 0;
    if (samplesPushed == 0)
        return "no samples";
    if (peak <= 0 || Dbfs(rms) < SILENT_DBFS) {
        std::snprintf(text, sizeof text, "the input is silent (%.0f dBFS): no ticks", peak > 0 ? Dbfs(rms) : -999.0);
        return text;
    }
    if (lastSearch.seconds <= 0) {
        std::snprintf(text, sizeof text, "%.1f s heard: too short to look for ticks", samplesPushed / static_cast<double>(settings.sampleRate));
        return text;
    }
    if (!searchProblem.empty())
        return searchProblem;
    if (lastSearch.onsetsPerSecond >= 1.5) {
        std::snprintf(text, sizeof text, "%.1f pulses a second, not one: not a time station's ticks", lastSearch.onsetsPerSecond);
        return text;
    }
    if (lastSearch.strongestOverMedianDb >= STEADY_TONE_DB) {
        std::snprintf(text, sizeof text, "a steady tone at %.0f Hz (%.0f dBFS) and no ticks", lastSearch.strongestHz, Dbfs(rms));
        return text;
    }
    if (lastSearch.onsetsPerSecond >= 0.5 && lastSearch.strongestHz < NO_PITCH_BELOW_HZ) {
        std::snprintf(text, sizeof text,
                      "pulses once a second without a tone in them (strongest at %.0f Hz): a second pulse, not a time "
                      "station's ticks (--reference pps measures it)",
                      lastSearch.strongestHz);
        return text;
    }
    std::snprintf(text, sizeof text, "no ticks: noise at %.0f dBFS (strongest at %.0f Hz)", Dbfs(rms), lastSearch.strongestHz);
    return text;
}

ReferenceHeard TickMeter::Heard() const
{
    ReferenceHeard heard;
    heard.seconds = samplesPushed / static_cast<double>(settings.sampleRate);
    const double rms = samplesPushed > 0 ? std::sqrt(sumSquares / static_cast<double>(samplesPushed)) : 0;
    heard.rmsDbfs = Dbfs(rms);
    heard.peakDbfs = Dbfs(peak);
    heard.clippedSamples = clipped;
    heard.strongestHz = lastSearch.strongestHz;
    if (everLocked) {
        heard.eventsPerSecond = secondsFollowed > 0 ? static_cast<double>(ticksFound) / secondsFollowed : 0;
        heard.problem = StationProblem();
        if (heard.problem.empty())
            heard.problem = FollowingProblem();
        heard.present = heard.problem.empty();
    } else {
        heard.eventsPerSecond = lastSearch.onsetsPerSecond;
        heard.problem = WhatWasHeard();
    }
    return heard;
}
