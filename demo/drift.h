// Measuring how fast the receiver's correlation peak moves, and finding the
// trackbar position at which it stands still, from readings of the peak
// label alone: what a user does by eye, done by numbers for the demo.
//
// The peak lag is an integer in 0..511 that wraps around, read at arbitrary
// times. Its drift is a straight line broken by two kinds of disturbance:
// the wrap from 511 to 0, which is undone, and jumps when the audio path
// loses or repeats a stretch of samples, which split the readings into
// segments.
//
// Where the peak crosses at least two lags, the drift is taken from the
// moments the peak first reaches each new lag: a lag step is sharp in time
// even though the lag itself is coarse, and counting whole pairs of lags
// stays right when the correlation favours every other lag (two decimated
// samples per transmitted chip). Otherwise it is the least-squares slope of
// all readings, fitted to all segments at once, each with its own intercept.
#pragma once

#include "common/ui_facts.h"

#include <optional>
#include <vector>

namespace demo {

// The receiver correlates 512 lags; a lag number wraps modulo this.
constexpr int PEAK_LAGS = 512;

class DriftMeter {
public:
    // A step larger than `maxDriftStep` lags between two readings is taken
    // as a jump in the audio (a stretch of samples lost or repeated), not
    // as drift. Read every few milliseconds, the drift shows as steps of
    // one lag, a few when it is fast (up to 2 lags per block at the
    // trackbar's ends) and blocks arrive back to back. Taking a fast drift
    // for a jump costs only the readings around it; taking a jump for drift
    // would spoil the measurement, so the limit should be tight.
    explicit DriftMeter(int maxDriftStep = 3) : maxDriftStep(maxDriftStep) {}

    // One reading of the peak lag at `seconds`, in increasing time order.
    void Add(double seconds, int lag);

    // The fitted drift, lags per second; 0 until two readings of one
    // segment span some time.
    double LagsPerSecond() const;
    // The seconds covered by the segments (the time the fit stands on).
    double SecondsCovered() const;
    // The largest spread of the lag within one segment, after unwrapping.
    int LargestSpread() const;
    // How many jumps split the readings.
    int Jumps() const { return jumps; }
    int Readings() const { return readings; }

private:
    // The moment the peak first reached a lag beyond all earlier ones.
    struct NewLag {
        double seconds;
        int lag;
    };

    struct Segment {
        int count = 0;
        double firstSeconds = 0, lastSeconds = 0;
        double sumT = 0, sumY = 0, sumTT = 0, sumTY = 0;
        int lowest = 0, highest = 0;
        std::vector<NewLag> rises, falls;
        void Add(double t, int y);
        double CentredSumTT() const;
        double CentredSumTY() const;
    };

    double FittedLagsPerSecond() const;
    // Lags crossed and seconds taken, over whole pairs of lags, in one direction.
    static void AddWholePairs(const std::vector<NewLag>& newLags, int& lags, double& seconds);

    int maxDriftStep;
    std::vector<Segment> segments;
    int previousLag = 0;
    int unwrappedLag = 0;
    int jumps = 0;
    int readings = 0;
};

// The drift measured with the trackbar at one position, and how much the
// fit should trust it (in proportion to one over its expected variance).
struct DriftAtPosition {
    int position;
    double lagsPerSecond;
    double weight = 1.0;
};

// The trackbar position where the drift, fitted as a straight line of the
// position by weighted least squares, crosses zero; nothing when the
// measurements do not determine it (fewer than two positions, or a drift
// that does not change with the position, as when no signal reaches the
// receiver).
std::optional<double> StillPosition(const std::vector<DriftAtPosition>& measurements);

// How much the drift changes per trackbar step, lags per second, for a
// receiver capturing at `sampleRate`: a step corrects the clock by
// 1/CLOCK_STEPS_PER_UNIT, and a block of 1024 samples spans 512 lags. The
// receiver's correction is exact, so this slope is known beforehand and a
// single measurement says on its own where the peak stands still.
double DriftPerStep(int sampleRate);

// Whether the peak stood still while `meter` watched it, as far as a watch
// of some hundred blocks can tell, with the drift per step known. Trimmed
// within a few steps the peak shows at most three neighbouring lags (it
// flickers at a lag boundary, and a correlation that favours every other
// lag makes the odd lags narrow), and its drift implies no more than a few
// steps. A fourth lag or a drift of more than 8 steps means it is off: over
// 200 blocks, 15 steps move the peak by three lags. Jumps in the audio cut
// the watch into pieces that each show fewer lags, so the drift, fitted
// across the pieces, is needed as well.
bool StoodStill(const DriftMeter& meter, double driftPerStep);

// The still position one measurement implies through that known slope.
double ImpliedStillPosition(const DriftAtPosition& measurement, double driftPerStep);

// One round of confirming a still position `found` by two measurements,
// one on either side of it, each of which implies a still position of its
// own. The round confirms when both lie within `tolerance` steps of
// `found`; the position is then the mean of the three. Otherwise the next
// round goes to the median of the three: one bad side (a lag gained or
// lost in the audio, which no jump detection can tell from drift) cannot
// move it far, and a `found` far off gives way to two sides that agree.
struct PairVerdict {
    bool confirmed;
    double position;
};
PairVerdict JudgePair(double found, const DriftAtPosition& below, const DriftAtPosition& above, double driftPerStep,
                      double tolerance);

} // namespace demo
