#include "meter/reference/tick_identity.h"

#include "meter/reference/station_format.h"

#include <algorithm>
#include <cmath>

namespace {

// The tones are asked whose the ticks are until this many votes are in
// (each second votes twice, for a station and for a sideband: 120 seconds).
constexpr int PLENTY_OF_VOTES = 240;
// WWV's and WWVH's pulses go on at the pitch once a minute (the minute
// tone); this many seconds that do in a minute are CHU's 300 ms pulses,
// followed where a search heard a stretch of CHU's 10 ms ticks only.
// Why: docs/accuracy.md#ticks-identity
constexpr size_t CHU_PULSES_IN_A_MINUTE = 3;
// A train found again within this of a pitch is the same train (a
// search's pitch scatters by a few hertz; WWV's and WWVH's are 200 Hz
// apart). The trains the searches heard are remembered up to a number.
constexpr double SAME_PITCH_HZ = 40;
constexpr size_t REMEMBERED_TRAINS = 8;

}  // namespace

bool SamePitch(double a, double b)
{
    return std::fabs(a - b) < SAME_PITCH_HZ;
}

bool WantsMoreVotes(const ToneVotes& v)
{
    return v.wwv + v.wwvh + v.upper + v.lower < PLENTY_OF_VOTES;
}

std::vector<ToneVotes> StationIdentity::Remember(TickSearch& search, const std::vector<ToneVotes>& votes)
{
    std::vector<ToneVotes> all = votes;
    for (size_t i = 0; i < search.trains.size(); ++i) {
        TickTrain& train = search.trains[i];
        auto same = std::find_if(heardTrains.begin(), heardTrains.end(),
                                 [&](const HeardTrain& h) { return SamePitch(h.pitchHz, train.pitchHz); });
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

void StationIdentity::GoesOn(int64_t index)
{
    goingOn.push_back(index);
    while (goingOn.front() <= index - 60)
        goingOn.pop_front();
    if (goingOn.size() >= CHU_PULSES_IN_A_MINUTE)
        chuPulses = true;
}

std::string StationIdentity::Problem(TimeStation asked, const ToneVotes& tones, const VoiceTiming& voice) const
{
    if (asked == TimeStation::Chu)
        return {};
    if (chuPulses)
        return NotTheAskedText(asked, "300 ms long: CHU's");
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
    if (heardWwvh == (asked == TimeStation::Wwvh))
        return {};
    const TimeStation heard = heardWwvh ? TimeStation::Wwvh : TimeStation::Wwv;
    return NotTheAskedText(asked, std::string(CallSign(heard)) + "'s (" + how + ")");
}
