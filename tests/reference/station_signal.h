// A time station's broadcast as a short-wave receiver's audio reaches a
// sound card, made with a known truth: the card's clock (card_clock.h) is
// the only thing a rate can be measured against, so the truth of every
// measurement on this signal is `clock.ppm`.
//
// The broadcast (station_format.h): each station's real minute (ticks,
// omitted seconds, minute and hour tones, standard tones, the 100 Hz time
// code, CHU's FSK code, DUT1's doubled ticks or split pulses, the voice as
// band-limited syllabic noise) as an analytic signal of the station's own
// time. The path: a propagation delay that wanders and may jump once, a
// second path later by a given delay and weaker by a given level, each
// path fading on its own. The receiver: SSB, all audio shifted by a pitch
// offset (the carrier's audio frequency), inverted on the lower sideband
// (audio = offset - broadcast frequency), white noise at a given SNR and
// the passband 300 to 3000 Hz. The card: its clock, and samples dropped or
// repeated once.
//
// Every sample is the broadcast evaluated at that sample's exact moment of
// reference time, less the path delay at that moment. Reference time 0 is
// the top of an hour: clock.startSeconds = 600.5 starts half a second into
// minute 10.
//
// Levels: a tick has the amplitude `level` (a sine, full scale 1);
// minute and hour tones and CHU's pulses the same; the standard tones half
// of it, the time code's subcarrier a fifth, the voice about half at its
// syllables' peaks, CHU's FSK 0.7 of it. The SNR is the station's mean
// audio power (all stations and paths, unfaded) over that of the noise,
// both in the passband.
#pragma once

#include "meter/reference/reference_kind.h"
#include "tests/reference/card_clock.h"
#include "tests/reference/hf_channel.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

// One station as it arrives at the receiver.
struct StationArrival {
    TimeStation station = TimeStation::Wwv;
    double level = 0.3;              // the tick's amplitude, unfaded
    double delaySeconds = 0.008;     // the first path's propagation delay
    FadingKind fading = FadingKind::None;
    double fadingSeconds = 3;        // the fading's correlation time
    double echoDelaySeconds = 0.001; // a second path, this much later
    double echoLevel = 0;            // its amplitude over the first's (0: none)
    double wanderRmsSeconds = 0;     // the delay wanders (hf_channel.h)
    double wanderTimeScaleSeconds = 1200;
    double jumpSeconds = 0;          // the delay steps by this ...
    double jumpAtSeconds = -1;       // ... at this reference time (< 0: never)
    int dut1Tenths = 0;              // DUT1 in tenths of a second (-8..8)
};

struct Reception {
    CardClock clock;
    std::vector<StationArrival> stations;
    double pitchOffsetHz = 0;        // SSB: the carrier's audio frequency
    bool lowerSideband = false;
    double snrDb = std::numeric_limits<double>::infinity();
    // The stream loses (> 0) or repeats (< 0) this many samples at card
    // sample `faultAtSample` (< 0: never).
    int64_t faultAtSample = -1;
    int64_t faultSamples = 0;
    uint64_t seed = 1;
};

class StationSignal {
public:
    explicit StationSignal(const Reception& reception);
    ~StationSignal();

    // The next `count` samples of the stream.
    void Generate(float* out, size_t count);
    std::vector<float> Generate(size_t count);

    // The truth. The stream sample at which the tick that station `index`
    // broadcast at reference second `second` arrives on its first path
    // (before the receiver's filter, whose delay is the same for every
    // tick).
    double ArrivalSample(size_t index, int64_t second);
    // The audio frequency a broadcast frequency is heard at.
    double HeardHz(double broadcastHz) const;

private:
    struct Path;
    double MeanPower();
    double NextCardSample();

    Reception reception;
    std::vector<std::unique_ptr<Path>> paths;
    TestRandom noise;
    ReceiverPassband passband;
    double noiseDeviation = 0;
    std::vector<std::unique_ptr<DelayWander>> wanders;  // one a station, shared by its paths
    int64_t cardSample = 0;     // the next the card takes
    bool faultDone = false;
    std::vector<float> recent;  // the last samples, for a repeat
    std::deque<float> again;    // the repeated ones still to deliver
};
