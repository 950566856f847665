#include "tests/meter/stretched_signal.h"

#include "common/signal_facts.h"
#include "transmitter/dsp/stream.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {

// Half-width of the interpolation kernel (samples) and the table's steps
// per sample: a Kaiser-windowed sinc (beta 10) of 2 x 48 taps, about
// 100 dB down outside the pass band, read from a fine table.
constexpr int HALF_WIDTH = 48;
constexpr int TABLE_STEPS = 2048;
constexpr double KAISER_BETA = 10;

double BesselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

const std::vector<double>& KernelTable()
{
    static const std::vector<double> table = [] {
        std::vector<double> values(static_cast<size_t>(HALF_WIDTH * TABLE_STEPS + 2));
        for (size_t i = 0; i < values.size(); ++i) {
            const double x = static_cast<double>(i) / TABLE_STEPS;
            const double ratio = x / HALF_WIDTH;
            if (ratio >= 1) {
                values[i] = 0;
                continue;
            }
            const double sinc = x == 0 ? 1 : std::sin(PI * x) / (PI * x);
            values[i] = sinc * BesselI0(KAISER_BETA * std::sqrt(1 - ratio * ratio)) / BesselI0(KAISER_BETA);
        }
        return values;
    }();
    return table;
}

double Kernel(double x)
{
    const double position = std::fabs(x) * TABLE_STEPS;
    const size_t index = static_cast<size_t>(position);
    const double fraction = position - static_cast<double>(index);
    const std::vector<double>& table = KernelTable();
    if (index + 1 >= table.size())
        return 0;
    return table[index] + (table[index + 1] - table[index]) * fraction;
}

// The transmitter's stream for a setting, long enough for the longest test,
// made once.
struct Source {
    std::vector<int16_t> samples;
    std::vector<uint32_t> nonZeroBefore;  // prefix counts, to skip silence
    double burstPower = 0;
};

const Source& SourceFor(int32_t rate, double carrier, size_t sampleCount)
{
    static std::map<std::pair<int32_t, double>, Source> cache;
    Source& source = cache[{rate, carrier}];
    if (source.samples.size() < sampleCount) {
        source.samples = SynthesizeStream(rate, carrier, (sampleCount + 3) / 4 + FRAME_LENGTH);
        source.nonZeroBefore.assign(source.samples.size() + 1, 0);
        double power = 0;
        size_t count = 0;
        for (size_t i = 0; i < source.samples.size(); ++i) {
            source.nonZeroBefore[i + 1] = source.nonZeroBefore[i] + (source.samples[i] != 0);
            // The burst: samples 4..95 of every complete frame.
            const size_t inFrame = i % 1024;
            if (i >= 1024 && inFrame >= 4 && inFrame < 96) {
                power += static_cast<double>(source.samples[i]) * source.samples[i];
                ++count;
            }
        }
        source.burstPower = power / static_cast<double>(count);
    }
    return source;
}

// The share of the band up to half the rate that the burst occupies (its
// 3 dB width is 2 x 0.137 of the rate): white noise of the whole band has
// this fraction of its power in the burst's band.
constexpr double OCCUPIED_SHARE = 2 * 0.137 / 0.5;

}  // namespace

// Seeds are scrambled first: splitmix64 from seeds one increment apart
// would give the same sequence shifted by one.
NormalSource::NormalSource(uint64_t seed) : state(0)
{
    state = seed;
    state = NextBits() ^ 0x5DEECE66Dull;
}

uint64_t NormalSource::NextBits()
{
    // splitmix64
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double NormalSource::Uniform()
{
    return (static_cast<double>(NextBits() >> 11) + 0.5) / 9007199254740992.0;
}

double NormalSource::Next()
{
    if (haveSpare) {
        haveSpare = false;
        return spare;
    }
    const double radius = std::sqrt(-2 * std::log(Uniform()));
    const double angle = 2 * PI * Uniform();
    spare = radius * std::sin(angle);
    haveSpare = true;
    return radius * std::cos(angle);
}

double OffsetAt(const RecordingRecipe& recipe, double t)
{
    return recipe.ppm + recipe.rampPpmPerMinute * t / 60 + recipe.wanderPpm * std::sin(2 * PI * t / recipe.wanderPeriodSeconds) -
           recipe.warmUpPpm * std::exp(-t / recipe.warmUpSeconds);
}

double MeanOffset(const RecordingRecipe& recipe, double t0, double t1)
{
    const double w = 2 * PI / recipe.wanderPeriodSeconds;
    const double wander = recipe.wanderPpm * (std::cos(w * t0) - std::cos(w * t1)) / (w * (t1 - t0));
    const double warmUp = recipe.warmUpPpm * recipe.warmUpSeconds *
                          (std::exp(-t0 / recipe.warmUpSeconds) - std::exp(-t1 / recipe.warmUpSeconds)) / (t1 - t0);
    return recipe.ppm + recipe.rampPpmPerMinute * (t0 + t1) / 120 + wander - warmUp;
}

std::vector<int16_t> MakeRecording(const RecordingRecipe& recipe)
{
    const size_t count = static_cast<size_t>(std::llround(recipe.seconds * recipe.rate));
    const double stretch = 1 + recipe.ppm * 1e-6;
    const bool moving = recipe.rampPpmPerMinute != 0 || recipe.wanderPpm != 0 || recipe.warmUpPpm != 0;
    // The slowest the recording card gets: it then spans the most signal.
    const double slowest = 1 + 1e-6 * (recipe.ppm - std::fabs(recipe.rampPpmPerMinute) * recipe.seconds / 60 - std::fabs(recipe.wanderPpm) -
                                      std::fabs(recipe.warmUpPpm));
    const size_t needed = static_cast<size_t>(recipe.startOffset + static_cast<double>(count) / std::min(stretch, slowest)) + 2 * HALF_WIDTH + 2;
    const Source& source = SourceFor(recipe.rate, recipe.carrier, needed);
    const bool noisy = recipe.snrDb < 1e8;
    const double sigma = noisy ? std::sqrt(source.burstPower / std::pow(10.0, recipe.snrDb / 10) / OCCUPIED_SHARE) : 0;
    NormalSource noise(recipe.seed);

    std::vector<int16_t> recording(count);
    const auto last = static_cast<long long>(source.samples.size()) - 1;
    // A moving clock's signal time, summed sample by sample (the midpoint
    // rule: exact for the ramp to far below the meter's resolution).
    long double movingTime = recipe.startOffset;
    for (size_t m = 0; m < count; ++m) {
        // Recording sample m was taken at signal time u.
        const double u = moving ? static_cast<double>(movingTime) : recipe.startOffset + static_cast<double>(m) / stretch;
        if (moving)
            movingTime += 1 / (1 + 1e-6 * static_cast<long double>(OffsetAt(recipe, (static_cast<double>(m) + 0.5) / recipe.rate)));
        const long long first = std::max<long long>(0, static_cast<long long>(std::floor(u)) - HALF_WIDTH + 1);
        const long long end = std::min<long long>(last, static_cast<long long>(std::floor(u)) + HALF_WIDTH);
        double value = 0;
        if (first <= end && source.nonZeroBefore[static_cast<size_t>(end) + 1] != source.nonZeroBefore[static_cast<size_t>(first)]) {
            for (long long i = first; i <= end; ++i) {
                const int16_t sample = source.samples[static_cast<size_t>(i)];
                if (sample != 0)
                    value += sample * Kernel(u - static_cast<double>(i));
            }
        }
        if (noisy)
            value += sigma * noise.Next();
        recording[m] = static_cast<int16_t>(std::clamp(std::nearbyint(value), -32768.0, 32767.0));
    }
    return recording;
}
