// Whose ticks the tick meter follows, over a run: what every search heard
// of each train (the tones' votes, CHU's pulses), kept for the next search
// (a stretch where the tones are silent, or of CHU's 10 ms ticks, says
// nothing against what an earlier one heard); the seconds going on like
// WWV's minute tone more than once a minute (CHU's 300 ms pulses); and,
// from these, the tones' votes and the voice's time in the minute
// (tick_voice.h), the words for ticks that are another station's.
//
// What goes in: each search's trains and their votes, the seconds going
// on, the votes and the voice the meter gathered. What comes out: each
// train's votes over all searches, and the words. Keeps: up to eight
// trains heard, and the last minute's seconds going on.
// Why the numbers: docs/accuracy.md#ticks-identity
#pragma once

#include "meter/reference/reference_kind.h"
#include "meter/reference/tick_search.h"
#include "meter/reference/tick_voice.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Whether a train found at `a` Hz is the one found at `b`: a search's
// pitch scatters by a few hertz; WWV's and WWVH's are 200 Hz apart.
bool SamePitch(double a, double b);

// Whether the tones are still worth asking: they have not said plenty yet
// (then the time they cost each second is saved).
bool WantsMoreVotes(const ToneVotes& votes);

class StationIdentity {
public:
    // Adds each train's votes (votes[i] for search.trains[i]) to those of
    // the same train in earlier searches; returns the votes of each, all
    // searches' together. A train whose pulses were CHU's in any search is
    // CHU's (search.trains[i].longPulses is set so).
    std::vector<ToneVotes> Remember(TickSearch& search, const std::vector<ToneVotes>& votes);

    // Second `index` of WWV's or WWVH's went on at the pitch like a minute
    // tone (indices increasing).
    void GoesOn(int64_t index);
    // More of them in a minute than the stations send: CHU's pulses.
    bool ChuPulses() const { return chuPulses; }

    // Why the ticks followed are not `asked`'s, in words, by CHU's pulses,
    // the tones' votes or else the voice's time; empty while they say
    // nothing against it.
    std::string Problem(TimeStation asked, const ToneVotes& tones, const VoiceTiming& voice) const;

private:
    struct HeardTrain {
        double pitchHz;
        bool longPulses;  // CHU's, in some search
        ToneVotes votes;
    };
    std::vector<HeardTrain> heardTrains;
    std::deque<int64_t> goingOn;  // the last minute's seconds going on like a minute tone
    bool chuPulses = false;
};
