// A card's rate against a time station's second ticks as an HF receiver
// hears them (`--reference ticks:wwv`, `ticks:wwvh`, `ticks:chu`): the
// ReferenceMeter for ReferenceKind{Ticks, station}.
//
// What goes in: one channel of the receiver's audio, any rate from 8 kHz,
// tuned anyhow (AM, or SSB with the ticks' pitch anywhere from 300 to 3000
// Hz, either sideband). What comes out: an event a second (the tick's
// start, its index counting the station's seconds from the first tick
// found) and the line through them.
//
// How (each step's reasons at its constants):
//   1. The stream is decimated to between 8 and 16 kHz (fir_decimator.h).
//   2. Search (tick_search.h): the first 12 s are folded at the second to
//      find where the ticks start, their pitch, their length (CHU's 300 ms
//      against WWV's 5 ms, second by second) and whose they are; WWV and
//      WWVH heard together give two trains, the one asked for is followed.
//      What every search heard of a train (the tones' word, CHU's pulses)
//      is kept for the next.
//   3. Each second, the tick's start within 12 ms of where the line puts it,
//      by its envelope at the pitch (tick_envelope.h), to a small fraction
//      of a sample: the first path's, where a second one follows. The
//      second is classified (tick_second.h): a tick; a minute or hour tone (EVENT_MARKER);
//      CHU's 10 ms ticks before its time code and voice (EVENT_MARKER);
//      nothing (EVENT_MISSED: seconds 29 and 59, a fade); a second tick in
//      it (DUT1's doubled ticks: EVENT_EXTRA); samples at full scale at the
//      start (EVENT_CLIPPED). Only ticks go into the line. The tones and
//      the voice's time in the minute (tick_voice.h) keep saying whose
//      ticks these are, and seconds going on like WWV's minute tone more
//      than once a minute are CHU's pulses (tick_identity.h); once they
//      say another station's, no figure.
//   4. Each tick is judged twenty seconds after it came (tick_steps.h):
//      used, an outlier (a second path fading up), or the first of a step
//      (the path changed, samples were lost unreported: a new segment,
//      EVENT_JUMP, counted). Events are therefore settled and emitted
//      about twenty seconds after their tick, in order.
//   5. A discontinuity the stream reports, or ticks lost for 8 seconds,
//      sends the meter back to the search; where it finds them again is a
//      new segment (unless it is where the line would have them).
//   6. The figure (Estimate, tick_meter_figure.cpp): the robust line (event_line.h) through the
//      used ticks, in the segments found and in those only the whole run
//      shows (tick_segments.h: steps too small to see within 20 s; they
//      count in `steps` but no event was flagged for them); its
//      uncertainty, and an allowance for the path delay's slow drift,
//      which a run shorter than the ionosphere's time scale cannot tell
//      from a rate (docs/accuracy.md#ticks-wander).
//
// Memory: the events (a few doubles a second, for the figure's line) and
// about two seconds of decimated samples (fourteen while searching).
#pragma once

#include "meter/reference/event_line.h"
#include "meter/reference/fir_decimator.h"
#include "meter/reference/heard_level.h"
#include "meter/reference/reference_meter.h"
#include "meter/reference/tick_identity.h"
#include "meter/reference/tick_search.h"
#include "meter/reference/tick_second.h"
#include "meter/reference/tick_segments.h"
#include "meter/reference/tick_steps.h"
#include "meter/reference/tick_voice.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct TickMeterSettings {
    TimeStation station = TimeStation::Wwv;
    int sampleRate = 8000;
    // The path delay's rate of change that no residual shows, as a
    // standard uncertainty (fractional), over runs up to the time scale;
    // beyond it the allowance falls as (scale / run)^1.5.
    // Why: docs/accuracy.md#ticks-wander
    double delayRate = 0.05e-6;
    double delayTimeScaleSeconds = 1200;
};

// What the meter has found out about the receiver's audio.
struct TickReception {
    bool locked = false;
    double pitchHz = 0;            // the followed ticks' audio frequency
    bool longPulses = false;       // CHU's
    bool sidebandKnown = false;    // from the standard tones (WWV, WWVH)
    bool lowerSideband = false;
    int trains = 0;                // tick trains heard (2: WWV and WWVH together)
    double otherPitchHz = 0;       // the other train's
    double otherDelaySeconds = 0;  // its start after the followed one's (mod 1 s)
    ToneVotes votes;               // the tones' word on whose ticks these are
    VoiceTiming voice;             // the voice's (when in the minute it speaks)
};

class TickMeter : public ReferenceMeter {
public:
    explicit TickMeter(const TickMeterSettings& settings);

    void Push(const float* samples, size_t count) override;
    void MarkDiscontinuity() override;
    void Finish() override;
    ReferenceEstimate Estimate() const override;
    ReferenceHeard Heard() const override;

    TickReception Reception() const;

private:
    enum class Mode { Searching, Tracking };
    // A second as measured, until it is settled.
    struct Observation {
        int64_t index = 0;
        uint32_t segment = 0;
        SecondClass kind = SecondClass::Missed;
        double position = 0;    // the tick's start, internal samples (absolute)
        double scatter = 0;     // internal samples
        double level = 0;       // the tick's amplitude
        bool hasExtra = false;  // a second tick in the second
        double extraPosition = 0;
        unsigned flags = 0;     // EVENT_OUTLIER, EVENT_JUMP as judged
        bool accepted = false;  // goes into the line when settled
        bool judged = false;    // a tick's verdict is in (other seconds need none)
        bool clipped = false;   // samples at full scale at its start
    };

    void Process(bool finishing);
    bool TrySearch(bool finishing);
    bool Lock(const TickSearch& search, int chosen, int64_t windowStart);
    bool MeasureNextSecond();
    Observation Measure(int64_t k, double predicted);
    void Classify(const class PitchEnvelope& envelope, int64_t spanStart, double noise, Observation& o);
    void ApplyVerdicts();
    void Settle();
    void EmitObservation(const Observation& o);
    double InputPosition(double internal) const;
    double SecondPower(double start) const;
    double WanderAllowance(double seconds) const;
    void Trim();

    TickMeterSettings settings;
    FirDecimator decimator;
    int rate;  // of the decimated samples
    size_t edgeSamples = 0;    // the window a tick is found with
    size_t timingSamples = 0;  // and the one its start is timed with

    // The decimated samples from heldStart on.
    std::vector<float> held;
    int64_t heldStart = 0;
    std::vector<int64_t> breaks;  // where the stream reported a discontinuity

    Mode mode = Mode::Searching;
    int64_t searchStart = 0;
    TickReception reception;
    TickSearch lastSearch;
    std::string searchProblem;
    StationIdentity identity;  // what the searches and the seconds said of whose the ticks are

    // Following the ticks.
    int64_t nextIndex = 0;
    double nextPredicted = 0;
    int64_t measuredTo = 0;  // the end of the last second's stretch measured
    int lostSeconds = 0;
    double lostAtSeconds = -1;  // where the ticks followed were lost (input seconds; < 0: not lost)
    bool everLocked = false;
    TickSteps steps;
    uint32_t settledSegment = 0;
    std::deque<Observation> pending;  // measured, not yet settled
    double noiseLevel = 0;
    double tickLevel = 0;

    EventLine line;                  // the events' residuals as they are settled
    struct UsedTick { double seconds, position, scatter; uint32_t segment; };
    std::vector<UsedTick> usedTicks;  // the figure's line is made anew from these
    int64_t ticksFound = 0, secondsFollowed = 0;
    int64_t used = 0, missed = 0, rejected = 0;

    // What was heard, over all samples pushed.
    HeardLevel level;
};
