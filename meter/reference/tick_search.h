// Finding a time station's ticks in the first seconds of a stream, before
// anything about the receiver is known: where in the second they are, at
// what pitch, how long, and whose.
//
//   - Where: the short-time energy folded at the one-second period; a tick
//     shows as a sharp rise after a silence at the same place every second
//     (WWV's and WWVH's protected zone, the gap before CHU's pulse), in
//     most of the seconds (a burst train at another rate does not). Up to
//     two trains: WWV and WWVH share frequencies and arrive with different
//     delays.
//   - How long: the folded energy just after the start: CHU's 300 ms
//     pulses go on where WWV's 5 ms ticks have ended in silence; and each
//     second at the pitch, for CHU's pulses among its 10 ms ticks and for
//     pulses longer than CHU's (the time code's, not ticks).
//   - Pitch: the spectrum of the first milliseconds after each start,
//     then the phase's drift along the tick (a few hertz).
//   - Whose: by the tones between the ticks. WWV's tick is 1000 Hz and
//     WWVH's 1200 Hz; both stations' standard tones are 440, 500 or 600
//     Hz, so a WWV tick lies 400, 500 or 560 Hz above whatever standard
//     tone is heard, a WWVH tick 600, 700 or 760 Hz above, whatever the
//     receiver's tuning; on the lower sideband the audio is inverted and
//     the ticks lie as far below the tones. That gives the sideband too,
//     and with it which of two trains 200 Hz apart is which: on the upper
//     sideband WWV's is the lower pitch, on the lower sideband the higher.
#pragma once

#include "meter/reference/reference_kind.h"

#include <cstddef>
#include <string>
#include <vector>

struct TickTrain {
    double offset = 0;          // its start, samples into the stretch's first second
    double pitchHz = 0;
    bool longPulses = false;    // CHU's 300 ms pulses rather than 5 ms ticks
    // Not ticks: tones that go on (WWV's after its protected zone), or
    // pulses going on past CHU's 300 ms (the time code's on WWV's 100 Hz
    // subcarrier).
    bool continuous = false;
    double seenFraction = 0;    // of the seconds, those with a clear start there
    double level = 0;           // the pulse's amplitude (a sine's)
};

// What the tones between a train's ticks say, second by second.
struct ToneVotes {
    int wwv = 0, wwvh = 0;      // seconds whose tones put the tick at that station's place
    int upper = 0, lower = 0;   // and on that sideband
    void Add(const ToneVotes& other);
    // Enough seconds, and three in four of them agreeing.
    bool Decided() const;
    bool SaysWwvh() const { return wwvh > wwv; }
    bool SaysLower() const { return lower > upper; }
    bool SidebandDecided() const;
};

struct TickSearch {
    std::vector<TickTrain> trains;  // of pulses, the clearer first; at most three
    double onsetsPerSecond = 0;     // sharp rises in energy a second, anywhere
    double strongestHz = 0;
    double strongestOverMedianDb = 0;  // how far the strongest frequency stands out
    double seconds = 0;
};

// Looks at samples[0..count) of a stream of `rate` samples a second (the
// whole seconds of it): at least a few seconds for a fold to mean anything.
TickSearch SearchTicks(const float* samples, size_t count, int rate);

// The votes of the tones in one second whose tick starts at `start`
// (samples into samples[0..count)), for a train at `pitchHz`.
ToneVotes VoteByTones(const float* samples, size_t count, size_t start, double pitchHz, int rate);

// Words for ticks heard that are not `asked`'s: "the ticks heard are
// " + heard + ", not WWV's".
std::string NotTheAskedText(TimeStation asked, const std::string& heard);
// How the tones tell `station`'s ticks: "their pitch lies 400 to 560 Hz
// from the standard tones".
std::string TonesTellText(TimeStation station);

// Which train is `station`'s, from the search and the votes of each train
// (votes[i] for trains[i]); -1 and `problem` in words where none is.
int ChooseTrain(const TickSearch& search, const std::vector<ToneVotes>& votes, TimeStation station, std::string& problem);
