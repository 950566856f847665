#include "meter/reference/tick_search.h"

#include "meter/reference/tick_each_pulse.h"
#include "meter/reference/tick_envelope.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double PI_DOUBLE = 3.14159265358979323846;

// The fold's windows: the energy of the first 3 ms after a start against
// that of the 3 ms before it (within WWV's 10 ms of silence before a tick;
// and short, since WWVH's tick may come a few milliseconds after WWV's).
constexpr double RISE_SECONDS = 0.003;
constexpr double QUIET_FROM_SECONDS = 0.004, QUIET_TO_SECONDS = 0.001;
// A train: its start's power at least this many times the silence's in the
// fold and in this share of the seconds one by one (a fading station
// drops out of some; a burst train at another rate hits a place once).
constexpr double FOLD_CONTRAST = 3.0;
constexpr double SECOND_CONTRAST = 4.0;
constexpr double SEEN_FRACTION = 0.5;
// A second train at least this far from the first (a second path of the
// same station, a millisecond or two later, is no train of its own) and
// with at least this share of the first one's rise.
constexpr double TRAIN_SEPARATION_SECONDS = 0.003;
constexpr double SECOND_TRAIN_SHARE = 0.1;
// Trains of pulses kept: the ticks of one or two stations, and a CHU's.
// Besides them, tones that start again at the same place every second
// (WWV's after its protected zone, two stations' standard tones beating at
// 100 Hz) rise at many places of the fold: those are looked at and passed
// over, up to a limit.
constexpr size_t MAXIMUM_TRAINS = 3;
constexpr int MAXIMUM_LOOKS = 300;
// Long pulses, as the fold first suggests: the power 8 to 25 ms after the
// start (silence after WWV's tick) over that of the first 4 ms.
constexpr double LONG_FROM_SECONDS = 0.008, LONG_TO_SECONDS = 0.025;
constexpr double LONG_SHARE = 0.35;
// Pulses that go on for the rest of the second (WWV's tones starting again
// after the protected zone): the power 400 to 600 ms after the start over
// that of 50 to 250 ms. CHU's pulses end at 300 ms (at 500 ms once a minute).
constexpr double ON_FROM_SECONDS = 0.050, ON_TO_SECONDS = 0.250;
constexpr double LATE_FROM_SECONDS = 0.400, LATE_TO_SECONDS = 0.600;
constexpr double CONTINUOUS_SHARE = 0.5;
// The pitch: a coarse spectrum of the start (5 ms of a tick; of CHU's
// pulses the 2 to 10 ms all share, its 10 ms ticks before the code's FSK
// at 2225 Hz as its 300 ms pulses), then the phase's drift between its
// halves.
constexpr double PITCH_LOW_HZ = 250, PITCH_HIGH_HZ = 3100, PITCH_STEP_HZ = 10;
constexpr double SHORT_PITCH_SECONDS = 0.005, LONG_PITCH_SECONDS = 0.008;
constexpr int PITCH_REFINEMENTS = 2;
// Onsets anywhere: 1 ms bins rising 8 times over the 10 before, at least
// 20 ms apart, above -90 dBFS.
constexpr double ONSET_RATIO = 8.0;
constexpr double ONSET_FLOOR_POWER = 1e-9;

size_t Samples(double seconds, int rate)
{
    return static_cast<size_t>(std::lrint(seconds * rate));
}

// Sum of the fold over [from, from + length), the fold circular.
double FoldSum(const std::vector<double>& prefix, long from, long length, long period)
{
    from = ((from % period) + period) % period;
    return prefix[from + length] - prefix[from];
}

struct Fold {
    std::vector<double> prefix;  // over two periods, so that windows can wrap
    long period = 0;
    double Mean(long from, long length) const { return FoldSum(prefix, from, length, period) / length; }
};

Fold FoldEnergy(const float* x, size_t seconds, int rate)
{
    std::vector<double> fold(rate, 0.0);
    for (size_t s = 0; s < seconds; ++s)
        for (int i = 0; i < rate; ++i) {
            const double v = x[s * rate + i];
            fold[i] += v * v;
        }
    Fold f;
    f.period = rate;
    f.prefix.assign(2 * rate + 1, 0.0);
    for (long i = 0; i < 2 * rate; ++i)
        f.prefix[i + 1] = f.prefix[i] + fold[i % rate];
    return f;
}

// Whether the fold's rise at b is the highest within `rise` either side.
bool RisePeak(const std::vector<double>& score, long b, long rise)
{
    const long period = static_cast<long>(score.size());
    for (long k = 1; k <= rise; ++k)
        if (score[b] < score[(b + k) % period] || score[b] < score[(b - k + period) % period])
            return false;
    return true;
}

// How long the pulses starting at b last: a tick, CHU's 300 ms, or on.
void JudgeLength(const Fold& fold, long b, int rate, TickTrain& train)
{
    const auto at = [rate](double seconds) { return static_cast<long>(Samples(seconds, rate)); };
    train.longPulses = fold.Mean(b + at(LONG_FROM_SECONDS), at(LONG_TO_SECONDS) - at(LONG_FROM_SECONDS)) >
                       LONG_SHARE * fold.Mean(b, at(0.004));
    train.continuous = train.longPulses && fold.Mean(b + at(LATE_FROM_SECONDS), at(LATE_TO_SECONDS) - at(LATE_FROM_SECONDS)) >
                                               CONTINUOUS_SHARE * fold.Mean(b + at(ON_FROM_SECONDS), at(ON_TO_SECONDS) - at(ON_FROM_SECONDS));
}

double SeenFraction(const float* x, size_t seconds, int rate, long offset)
{
    const long rise = static_cast<long>(Samples(RISE_SECONDS, rate));
    const long quietFrom = static_cast<long>(Samples(QUIET_FROM_SECONDS, rate));
    const long quietTo = static_cast<long>(Samples(QUIET_TO_SECONDS, rate));
    int seen = 0, looked = 0;
    for (size_t s = 0; s < seconds; ++s) {
        const long start = static_cast<long>(s) * rate + offset;
        if (start - quietFrom < 0 || start + rise > static_cast<long>(seconds) * rate)
            continue;
        double a = 0, b = 0;
        for (long i = start; i < start + rise; ++i)
            a += static_cast<double>(x[i]) * x[i];
        for (long i = start - quietFrom; i < start - quietTo; ++i)
            b += static_cast<double>(x[i]) * x[i];
        ++looked;
        if (a / rise > SECOND_CONTRAST * b / (quietFrom - quietTo) && a / rise > ONSET_FLOOR_POWER)
            ++seen;
    }
    return looked > 0 ? static_cast<double>(seen) / looked : 0;
}


// The pitch of what starts at `offset` every second: the peak of the
// summed power spectra of the starts, refined by the phase's drift.
double PulsePitch(const float* x, size_t seconds, int rate, long offset, bool longPulses)
{
    const size_t length = Samples(longPulses ? LONG_PITCH_SECONDS : SHORT_PITCH_SECONDS, rate);
    const size_t skip = longPulses ? Samples(0.002, rate) : 0;
    const int bins = static_cast<int>((PITCH_HIGH_HZ - PITCH_LOW_HZ) / PITCH_STEP_HZ) + 1;
    std::vector<double> power(bins, 0.0);
    std::vector<size_t> starts;
    for (size_t s = 0; s < seconds; ++s) {
        const size_t start = s * rate + offset + skip;
        if (start + length <= seconds * rate)
            starts.push_back(start);
    }
    for (size_t start : starts)
        for (int k = 0; k < bins; ++k) {
            PitchMixer mixer(PITCH_LOW_HZ + k * PITCH_STEP_HZ, rate);
            std::complex<double> sum = 0;
            for (size_t i = 0; i < length; ++i)
                sum += static_cast<double>(x[start + i]) * mixer.Next();
            power[k] += std::norm(sum);
        }
    const int best = static_cast<int>(std::max_element(power.begin(), power.end()) - power.begin());
    double pitch = PITCH_LOW_HZ + best * PITCH_STEP_HZ;
    if (best > 0 && best + 1 < bins) {
        const double l = power[best - 1], c = power[best], r = power[best + 1];
        const double curvature = l - 2 * c + r;
        if (curvature < 0)
            pitch += PITCH_STEP_HZ * 0.5 * (l - r) / curvature;
    }
    const size_t half = length / 2;
    for (int pass = 0; pass < PITCH_REFINEMENTS && half > 0; ++pass) {
        std::complex<double> drift = 0;
        for (size_t start : starts) {
            PitchMixer mixer(pitch, rate);
            std::complex<double> first = 0, second = 0;
            for (size_t i = 0; i < 2 * half; ++i)
                (i < half ? first : second) += static_cast<double>(x[start + i]) * mixer.Next();
            drift += second * std::conj(first);
        }
        if (std::abs(drift) > 0)
            pitch += std::arg(drift) / (2 * PI_DOUBLE * static_cast<double>(half) / rate);
    }
    return pitch;
}

// The pitch of the pulses starting at b (first over the windows the fold's
// length suggests), and their length second by second: the fold's is
// moved by one long second among few (a minute tone in a short stretch)
// and misses CHU's pulses among its 10 ms ticks.
void JudgePulses(const float* x, size_t seconds, int rate, long b, TickTrain& train)
{
    train.pitchHz = PulsePitch(x, seconds, rate, b, train.longPulses);
    const EachPulse each = LookAtEachPulse(x, seconds, rate, b, train.pitchHz);
    const bool longPulses = each.LongPulses();
    if (longPulses != train.longPulses) {
        train.longPulses = longPulses;
        train.pitchHz = PulsePitch(x, seconds, rate, b, longPulses);
    }
    if (train.longPulses && each.PastChuPulses())
        train.continuous = true;  // the time code's
    if (!train.longPulses && each.NeitherEndNorGoOn())
        train.continuous = true;  // neither ticks nor CHU's: what follows WWV's protected zone
}

double OnsetsPerSecond(const float* x, size_t count, int rate)
{
    const size_t bin = std::max<size_t>(1, Samples(0.001, rate));
    std::vector<double> bins;
    for (size_t start = 0; start + bin <= count; start += bin) {
        double e = 0;
        for (size_t i = start; i < start + bin; ++i)
            e += static_cast<double>(x[i]) * x[i];
        bins.push_back(e / bin);
    }
    int onsets = 0;
    size_t last = 0;
    for (size_t i = 10; i < bins.size(); ++i) {
        double before = 0;
        for (size_t k = i - 10; k < i; ++k)
            before += bins[k];
        before /= 10;
        if (bins[i] > ONSET_RATIO * before && bins[i] > ONSET_FLOOR_POWER && (onsets == 0 || i - last >= 20)) {
            ++onsets;
            last = i;
        }
    }
    const double seconds = static_cast<double>(count) / rate;
    return seconds > 0 ? onsets / seconds : 0;
}

void StrongestFrequency(const float* x, size_t seconds, int rate, TickSearch& search)
{
    const size_t length = Samples(0.1, rate);
    const int bins = static_cast<int>((3500 - 100) / PITCH_STEP_HZ) + 1;
    std::vector<double> power(bins, 0.0);
    for (size_t s = 0; s < seconds; ++s) {
        const size_t start = s * rate + rate / 2;
        if (start + length > seconds * rate)
            continue;
        for (int k = 0; k < bins; ++k) {
            PitchMixer mixer(100 + k * PITCH_STEP_HZ, rate);
            std::complex<double> sum = 0;
            for (size_t i = 0; i < length; ++i)
                sum += static_cast<double>(x[start + i]) * mixer.Next();
            power[k] += std::norm(sum);
        }
    }
    const int best = static_cast<int>(std::max_element(power.begin(), power.end()) - power.begin());
    std::vector<double> sorted = power;
    std::nth_element(sorted.begin(), sorted.begin() + bins / 2, sorted.end());
    const double median = sorted[bins / 2];
    if (power[best] > 0) {
        search.strongestHz = 100 + best * PITCH_STEP_HZ;
        search.strongestOverMedianDb = median > 0 ? 10 * std::log10(power[best] / median) : 99;
    }
}

}  // namespace

TickSearch SearchTicks(const float* x, size_t count, int rate)
{
    TickSearch search;
    const size_t seconds = count / rate;
    search.seconds = static_cast<double>(seconds);
    search.onsetsPerSecond = OnsetsPerSecond(x, seconds * rate, rate);
    StrongestFrequency(x, seconds, rate, search);
    if (seconds < 2)
        return search;
    const Fold fold = FoldEnergy(x, seconds, rate);
    const long rise = static_cast<long>(Samples(RISE_SECONDS, rate));
    const long quietFrom = static_cast<long>(Samples(QUIET_FROM_SECONDS, rate));
    const long quietTo = static_cast<long>(Samples(QUIET_TO_SECONDS, rate));
    const double overall = fold.prefix[rate] / rate;
    std::vector<double> score(rate);
    for (long b = 0; b < rate; ++b)
        score[b] = fold.Mean(b, rise) - fold.Mean(b - quietFrom, quietFrom - quietTo);
    std::vector<long> order(rate);
    for (long b = 0; b < rate; ++b)
        order[b] = b;
    std::sort(order.begin(), order.end(), [&](long a, long b) { return score[a] > score[b]; });
    const long separation = static_cast<long>(Samples(TRAIN_SEPARATION_SECONDS, rate));
    double firstScore = 0;
    int looks = 0;
    std::vector<long> looked;  // places judged, train or not
    for (long b : order) {
        if (search.trains.size() >= MAXIMUM_TRAINS || looks > MAXIMUM_LOOKS || score[b] <= 0 ||
            score[b] < SECOND_TRAIN_SHARE * firstScore)
            break;
        bool near = false;
        for (long p : looked) {
            const long d = std::labs(b - p);
            near = near || std::min(d, rate - d) < separation;
        }
        // A train's own rise is near its start (and a loud train's is
        // higher than any other train's start): look no further there.
        // Nor where the rise is on its way to a start further on.
        if (near || !RisePeak(score, b, rise))
            continue;
        looked.push_back(b);
        ++looks;
        const double quiet = fold.Mean(b - quietFrom, quietFrom - quietTo);
        if (fold.Mean(b, rise) < FOLD_CONTRAST * quiet || fold.Mean(b, rise) < 1e-3 * overall)
            continue;
        TickTrain train;
        train.offset = static_cast<double>(b);
        train.seenFraction = SeenFraction(x, seconds, rate, b);
        if (train.seenFraction < SEEN_FRACTION)
            continue;
        JudgeLength(fold, b, rate, train);
        if (!train.continuous)
            JudgePulses(x, seconds, rate, b, train);
        if (search.trains.empty())
            firstScore = score[b];
        if (train.continuous)
            continue;
        train.level = std::sqrt(2 * std::max(0.0, fold.Mean(b, rise) - quiet) / seconds);
        if (search.trains.empty())
            firstScore = score[b];
        search.trains.push_back(train);
    }
    return search;
}

