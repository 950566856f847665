// Whose ticks a train is, by the tones between them. WWV's tick is 1000
// Hz and WWVH's 1200 Hz; both stations' standard tones are 440, 500 or
// 600 Hz, so a WWV tick lies 400, 500 or 560 Hz above whatever standard
// tone is heard, a WWVH tick 600, 700 or 760 Hz above, whatever the
// receiver's tuning; on the lower sideband the audio is inverted and the
// ticks lie as far below the tones. That gives the sideband too, and with
// it which of two trains 200 Hz apart is which: on the upper sideband
// WWV's is the lower pitch, on the lower sideband the higher.
//
// One second votes (VoteByTones); the votes of many are added up by the
// caller, who keeps them (a search's, the tick meter's over a run). From
// them, and a search's trains, the train asked for (ChooseTrain), or the
// words for whose the ticks heard are. Nothing here keeps anything.
// Why the numbers: docs/accuracy.md#ticks-votes
#pragma once

#include "meter/reference/reference_kind.h"

#include <cstddef>
#include <string>
#include <vector>

struct TickSearch;

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

// The votes of the tones in one second whose tick starts at `start`
// (samples into samples[0..count)), for a train at `pitchHz`: at most one
// for a station and one for a sideband; none where no standard tone
// stands out steadily (a voice, silence between announcements).
ToneVotes VoteByTones(const float* samples, size_t count, size_t start, double pitchHz, int rate);

// Words for ticks heard that are not `asked`'s: "the ticks heard are
// " + heard + ", not WWV's".
std::string NotTheAskedText(TimeStation asked, const std::string& heard);
// How the tones tell `station`'s ticks: "their pitch lies 400 to 560 Hz
// from the standard tones".
std::string TonesTellText(TimeStation station);

// Which train is `station`'s, from the search and the votes of each train
// (votes[i] for trains[i]); -1 and `problem` in words where none is
// (`problem` is left alone where no train of ticks was heard at all).
int ChooseTrain(const TickSearch& search, const std::vector<ToneVotes>& votes, TimeStation station, std::string& problem);
