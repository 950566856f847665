#include "tests/reference/station_signal.h"

#include "meter/reference/station_format.h"

#include <algorithm>
#include <cmath>

namespace {

// Levels of the broadcast's parts against the tick's (station_signal.h).
constexpr double STANDARD_TONE_LEVEL = 0.5;
constexpr double SUBCARRIER_LEVEL = 0.2;
constexpr double VOICE_LEVEL = 0.5;
constexpr double FSK_LEVEL = 0.7;
// The voice: syllables of this length, each a burst of noise made of this
// many partials in the speech band, under a raised-cosine envelope.
constexpr double SYLLABLE_SECONDS = 0.18;
constexpr int VOICE_PARTIALS = 8;
constexpr double VOICE_LOW_HZ = 300, VOICE_HIGH_HZ = 2800;
// The second tick of a doubled one, after the first (the sources say
// "doubled" without the spacing: docs/reference-ticks.md#sources).
constexpr double DOUBLED_TICK_SECONDS = 0.100;
// CHU's split pulse: a gap in the 300 ms pulse (same remark).
constexpr double SPLIT_FROM_SECONDS = 0.150, SPLIT_TO_SECONDS = 0.170;

// Every part of the broadcast is switched on and off with raised-cosine
// ramps this long: a transmitter's audio is band-limited, and a hard gate
// sampled at the card would alias, its shape (and so its start) depending
// on where between two samples it fell.
constexpr double RAMP_SECONDS = 0.0005;

uint64_t Hash(uint64_t a, uint64_t b)
{
    TestRandom r(a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull));
    return r.Next();
}

double HashUniform(uint64_t a, uint64_t b, uint64_t c)
{
    return static_cast<double>(Hash(Hash(a, b), c) >> 11) * (1.0 / 9007199254740992.0);
}

// 1 inside [from, to), 0 outside, with the ramps inside the interval.
double Gate(double x, double from, double to)
{
    if (x <= from || x >= to)
        return 0;
    const double edge = std::min(x - from, to - x);
    return edge >= RAMP_SECONDS ? 1.0 : 0.5 - 0.5 * UnitPhasor(0.5 * edge / RAMP_SECONDS).real();
}

// A tone of `hz` at the station's time `t` (phase continuous over time),
// on while `into` is in [from, to).
std::complex<double> Tone(double hz, double t, double level, double into, double from, double to)
{
    const double gate = Gate(into, from, to);
    return gate > 0 ? level * gate * UnitPhasor(hz * t) : 0;
}

// A pulse of `hz` over [from, to) of the second, its phase from the
// second's start (a sine from 0).
std::complex<double> Pulse(double hz, double intoSecond, double level, double from, double to)
{
    const double gate = Gate(intoSecond, from, to);
    return gate > 0 ? level * gate * UnitPhasor(hz * intoSecond - 0.25) : 0;
}

}  // namespace

// One syllable of the voice: its partials, drawn once (per path).
struct Syllable {
    int64_t number = INT64_MIN;
    bool pause = true;
    double loudness = 0;
    double hz[VOICE_PARTIALS] = {};
    double phase[VOICE_PARTIALS] = {};
};

namespace {

std::complex<double> Voice(TimeStation station, double t, double level, Syllable& syllable)
{
    const double floorT = std::floor(t / SYLLABLE_SECONDS);
    const int64_t number = static_cast<int64_t>(floorT);
    if (number != syllable.number) {
        const uint64_t key = static_cast<uint64_t>(number) * 4 + static_cast<uint64_t>(station);
        syllable.number = number;
        // A pause between words now and then.
        syllable.pause = HashUniform(key, 99, 0) < 0.2;
        syllable.loudness = (0.6 + 0.8 * HashUniform(key, 98, 0)) / std::sqrt(static_cast<double>(VOICE_PARTIALS) / 2);
        for (int i = 0; i < VOICE_PARTIALS; ++i) {
            syllable.hz[i] = VOICE_LOW_HZ + (VOICE_HIGH_HZ - VOICE_LOW_HZ) * HashUniform(key, i, 1);
            syllable.phase[i] = HashUniform(key, i, 2);
        }
    }
    if (syllable.pause)
        return 0;
    const double envelope = 0.5 - 0.5 * UnitPhasor(t / SYLLABLE_SECONDS - floorT).real();
    std::complex<double> sum = 0;
    for (int i = 0; i < VOICE_PARTIALS; ++i)
        sum += UnitPhasor(syllable.hz[i] * t + syllable.phase[i]);
    return level * syllable.loudness * envelope * sum;
}

// The bits of CHU's code in second `second`: ten characters of a start
// bit (space), eight data bits (least significant first) and two stop bits
// (mark); the data made up (the meter does not decode it).
bool ChuBit(int64_t second, int bit)
{
    const int within = bit % 11;
    if (within == 0)
        return false;
    if (within >= 9)
        return true;
    const uint64_t byte = Hash(static_cast<uint64_t>(second), static_cast<uint64_t>(bit / 11)) & 0xFF;
    return (byte >> (within - 1)) & 1;
}

std::complex<double> ChuCode(int64_t second, double into, double level)
{
    // The FSK's phase, continuous: mark up to the data, then bit by bit.
    double cycles = CHU_MARK_HZ * (std::min(into, CHU_DATA_START_SECONDS) - CHU_CODE_START_SECONDS);
    if (into > CHU_DATA_START_SECONDS) {
        const double inData = into - CHU_DATA_START_SECONDS;
        const int bits = std::min(110, static_cast<int>(inData / CHU_BIT_SECONDS));
        for (int b = 0; b < bits; ++b)
            cycles += (ChuBit(second, b) ? CHU_MARK_HZ : CHU_SPACE_HZ) * CHU_BIT_SECONDS;
        const double rest = inData - bits * CHU_BIT_SECONDS;
        cycles += (bits < 110 && !ChuBit(second, bits) ? CHU_SPACE_HZ : CHU_MARK_HZ) * rest;
    }
    return level * UnitPhasor(cycles);
}

bool InProtectedZone(double into)
{
    return into < PROTECTED_AFTER_SECONDS || into >= 1 - PROTECTED_BEFORE_SECONDS;
}

}  // namespace

// What a station broadcasts in one of its seconds, worked out once a second.
struct SecondPlan {
    int64_t s = INT64_MIN;
    int second = 0;
    SecondKind kind = SecondKind::Omitted;
    TickFormat format{};
    bool dut1 = false;
    double toneHz = 0;           // the standard tone (0: none)
    double subcarrierTo = 0;     // the time code's pulse ends (0: none)
    double voiceFrom = 1, voiceTo = 0;  // the voice within the second
};

// A path's memory of the broadcast: the second and the syllable it is in.
struct BroadcastState {
    SecondPlan plan;
    Syllable syllable;
};

namespace {

SecondPlan PlanSecond(const StationArrival& a, int64_t s)
{
    SecondPlan p;
    p.s = s;
    const int minute = static_cast<int>(((s / 60) % 60 + 60) % 60);
    p.second = static_cast<int>((s % 60 + 60) % 60);
    p.kind = KindOfSecond(a.station, minute, p.second);
    p.format = TickFormatOf(a.station);
    p.dut1 = Dut1MarkedSecond(a.dut1Tenths, p.second);
    if (a.station == TimeStation::Chu)
        return p;
    if (p.second >= 1 && p.second <= 44)
        p.toneHz = StandardToneHz(a.station, minute);
    if (p.second != 0)
        p.subcarrierTo = p.second % 10 == 9 ? SUBCARRIER_MARKER_SECONDS
                         : (Hash(static_cast<uint64_t>(s), 7) & 1) ? SUBCARRIER_ONE_SECONDS
                                                                    : SUBCARRIER_ZERO_SECONDS;
    const VoiceWindow voice = TimeVoiceWindow(a.station);
    if (AnnouncementMinute(a.station, minute) && p.second >= 1 && p.second <= 44) {
        p.voiceFrom = 0;
        p.voiceTo = 1;
    } else if (p.second + 1 > voice.fromSecond && p.second < voice.toSecond) {
        p.voiceFrom = std::max(0.0, voice.fromSecond - p.second);
        p.voiceTo = std::min(1.0, voice.toSecond - p.second);
    }
    return p;
}

std::complex<double> NistSecond(const StationArrival& a, const SecondPlan& p, double into, double t, Syllable& syllable)
{
    std::complex<double> z = 0;
    switch (p.kind) {
    case SecondKind::Tick: z += Pulse(p.format.pitchHz, into, 1, 0, p.format.tickSeconds); break;
    case SecondKind::MinuteTone: z += Pulse(p.format.pitchHz, into, 1, 0, p.format.minuteToneSeconds); break;
    case SecondKind::HourTone: z += Pulse(p.format.hourToneHz, into, 1, 0, p.format.hourToneSeconds); break;
    default: break;
    }
    if (p.dut1)
        z += Pulse(p.format.pitchHz, into - DOUBLED_TICK_SECONDS, 1, 0, p.format.tickSeconds);
    if (InProtectedZone(into))
        return z;
    const double open = PROTECTED_AFTER_SECONDS, close = 1 - PROTECTED_BEFORE_SECONDS;
    if (p.toneHz > 0)
        z += Tone(p.toneHz, t, STANDARD_TONE_LEVEL, into, open, close);
    if (p.subcarrierTo > 0)
        z += Tone(SUBCARRIER_HZ, t, SUBCARRIER_LEVEL, into, SUBCARRIER_START_SECONDS, p.subcarrierTo);
    if (into >= p.voiceFrom && into < p.voiceTo)
        z += Gate(into, open, close) * Voice(a.station, t, VOICE_LEVEL, syllable);
    return z;
}

std::complex<double> ChuSecond(const SecondPlan& p, double into, double t, Syllable& syllable)
{
    const TickFormat& format = p.format;
    switch (p.kind) {
    case SecondKind::Tick:
        if (p.dut1)
            return Pulse(format.pitchHz, into, 1, 0, SPLIT_FROM_SECONDS) + Pulse(format.pitchHz, into, 1, SPLIT_TO_SECONDS, format.tickSeconds);
        return Pulse(format.pitchHz, into, 1, 0, format.tickSeconds);
    case SecondKind::MinuteTone: return Pulse(format.pitchHz, into, 1, 0, format.minuteToneSeconds);
    case SecondKind::HourTone: return Pulse(format.hourToneHz, into, 1, 0, format.hourToneSeconds);
    case SecondKind::ShortTick:
        if (into < format.edgeSeconds)
            return Pulse(format.pitchHz, into, 1, 0, format.edgeSeconds);
        if (p.second <= CHU_LAST_CODE_SECOND)
            return Gate(into, CHU_CODE_START_SECONDS, CHU_CODE_END_SECONDS) * ChuCode(p.s, into, FSK_LEVEL);
        return Gate(into, 2 * format.edgeSeconds, 0.95) * Voice(TimeStation::Chu, t, VOICE_LEVEL, syllable);
    case SecondKind::Omitted: break;
    }
    return 0;
}

// The station's audio (analytic, the tick of amplitude 1) at its own time
// t, seconds from the top of an hour.
std::complex<double> Broadcast(const StationArrival& a, double t, BroadcastState& state)
{
    const double floorT = std::floor(t);
    const int64_t s = static_cast<int64_t>(floorT);
    if (s != state.plan.s)
        state.plan = PlanSecond(a, s);
    const double into = t - floorT;
    if (a.station == TimeStation::Chu)
        return ChuSecond(state.plan, into, t, state.syllable);
    return NistSecond(a, state.plan, into, t, state.syllable);
}

}  // namespace

// One propagation path of one station: its delay and its fading.
struct StationSignal::Path {
    const StationArrival* arrival;
    double extraDelay;  // 0, or the echo's
    double level;
    Fading fading;
    DelayWander* wander;  // shared by a station's paths
    BroadcastState state;

    double Delay(double t) const
    {
        double d = arrival->delaySeconds + extraDelay + wander->At(t);
        if (arrival->jumpAtSeconds >= 0 && t >= arrival->jumpAtSeconds)
            d += arrival->jumpSeconds;
        return d;
    }
};

StationSignal::StationSignal(const Reception& reception_)
    : reception(reception_), noise(reception_.seed * 7919 + 17), passband(reception_.clock.nominalRate)
{
    TestRandom random(reception.seed);
    for (const StationArrival& a : reception.stations) {
        wanders.push_back(std::make_unique<DelayWander>(a.wanderRmsSeconds, a.wanderTimeScaleSeconds, random));
        DelayWander* wander = wanders.back().get();
        paths.push_back(std::make_unique<Path>(Path{&a, 0.0, a.level, Fading(a.fading, a.fadingSeconds, random), wander, {}}));
        if (a.echoLevel > 0)
            paths.push_back(std::make_unique<Path>(
                Path{&a, a.echoDelaySeconds, a.level * a.echoLevel, Fading(a.fading, a.fadingSeconds, random), wander, {}}));
    }
    // The stations are referred to through `reception`'s own copy.
    for (size_t i = 0, p = 0; i < reception.stations.size(); ++i) {
        paths[p++]->arrival = &reception.stations[i];
        if (reception.stations[i].echoLevel > 0)
            paths[p++]->arrival = &reception.stations[i];
    }
    if (std::isfinite(reception.snrDb))
        noiseDeviation = std::sqrt(MeanPower() / std::pow(10.0, reception.snrDb / 10) / passband.NoiseGain());
}

StationSignal::~StationSignal() = default;

double StationSignal::MeanPower()
{
    // The unfaded audio over the first minute, at spread-out moments.
    constexpr int POINTS = 30000;
    double power = 0;
    for (const auto& path : paths) {
        double sum = 0;
        BroadcastState state;
        for (int i = 0; i < POINTS; ++i) {
            const double t = reception.clock.startSeconds + 60.0 * (i + 0.5) / POINTS;
            sum += std::norm(Broadcast(*path->arrival, t, state));
        }
        power += path->level * path->level * sum / POINTS / 2;
    }
    return power;
}

double StationSignal::HeardHz(double broadcastHz) const
{
    return reception.lowerSideband ? reception.pitchOffsetHz - broadcastHz : reception.pitchOffsetHz + broadcastHz;
}

double StationSignal::NextCardSample()
{
    const double t = reception.clock.TimeOf(cardSample++);
    std::complex<double> z = 0;
    for (const auto& path : paths)
        z += path->level * path->fading.Gain(t) * Broadcast(*path->arrival, t - path->Delay(t), path->state);
    if (reception.lowerSideband)
        z = std::conj(z);
    double x = (z * UnitPhasor(reception.pitchOffsetHz * t)).real();
    if (noiseDeviation > 0)
        x += noiseDeviation * noise.Gaussian();
    return passband.Filter(x);
}

void StationSignal::Generate(float* out, size_t count)
{
    const size_t repeat = reception.faultSamples < 0 ? static_cast<size_t>(-reception.faultSamples) : 0;
    for (size_t i = 0; i < count; ++i) {
        if (!again.empty()) {
            out[i] = again.front();
            again.pop_front();
            continue;
        }
        if (!faultDone && reception.faultAtSample >= 0 && cardSample == reception.faultAtSample) {
            faultDone = true;
            for (int64_t k = 0; k < reception.faultSamples; ++k)
                NextCardSample();
            if (repeat > 0) {
                again.assign(recent.end() - static_cast<std::ptrdiff_t>(std::min(repeat, recent.size())), recent.end());
                --i;
                continue;
            }
        }
        const float x = static_cast<float>(NextCardSample());
        out[i] = x;
        if (repeat > 0) {
            recent.push_back(x);
            if (recent.size() > 2 * repeat)
                recent.erase(recent.begin(), recent.end() - static_cast<std::ptrdiff_t>(repeat));
        }
    }
}

std::vector<float> StationSignal::Generate(size_t count)
{
    std::vector<float> out(count);
    Generate(out.data(), count);
    return out;
}

double StationSignal::ArrivalSample(size_t index, int64_t second)
{
    const Path* first = nullptr;
    for (const auto& path : paths)
        if (path->arrival == &reception.stations[index] && path->extraDelay == 0)
            first = path.get();
    double t = static_cast<double>(second);
    for (int k = 0; k < 4; ++k)
        t = static_cast<double>(second) + first->Delay(t);
    const double card = reception.clock.SampleAt(t);
    if (reception.faultAtSample >= 0 && card >= static_cast<double>(reception.faultAtSample))
        return card - static_cast<double>(reception.faultSamples);
    return card;
}
