// Test recordings with an exactly known clock offset: the transmitter's
// stream, its time axis stretched by 1 + offset through a windowed-sinc
// resampler of the test's own, optionally with white noise, rounded to
// 16 bits as a card would record it.
#pragma once

#include <cstdint>
#include <vector>

struct RecordingRecipe {
    int32_t rate = 8000;
    double carrier = 1500;
    double ppm = 0;             // the recording card runs this much fast
    double seconds = 60;
    double snrDb = 1e9;         // in-band signal to noise; huge: no noise
    uint64_t seed = 1;
    double startOffset = 300.25;  // signal samples skipped before the recording starts
    // A clock that moves: the offset at t seconds into the recording is
    // ppm + rampPpmPerMinute t / 60 + wanderPpm sin(2 pi t / wanderPeriod)
    // - warmUpPpm exp(-t / warmUpSeconds) (a crystal settling after power-on).
    double rampPpmPerMinute = 0;
    double wanderPpm = 0;
    double wanderPeriodSeconds = 20;
    double warmUpPpm = 0;
    double warmUpSeconds = 120;
};

std::vector<int16_t> MakeRecording(const RecordingRecipe& recipe);
// The recipe's offset at t, and its mean from t0 to t1 (ppm).
double OffsetAt(const RecordingRecipe& recipe, double t);
double MeanOffset(const RecordingRecipe& recipe, double t0, double t1);

// A deterministic standard normal source (the same numbers on every build).
class NormalSource {
public:
    explicit NormalSource(uint64_t seed);
    double Next();

private:
    uint64_t NextBits();
    double Uniform();
    uint64_t state;
    bool haveSpare = false;
    double spare = 0;
};
