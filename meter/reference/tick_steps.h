// Which ticks go into the line, and where the ticks' arrival stepped.
//
// Ticks come in one a second (index, start). Each is judged when twenty
// more have come, against the line through the recent ticks of its
// segment (the last sixty), whose scatter sets the scale:
//   - a step: the judged tick and most of the twenty after it lie off
//     that line, on the same side, by more than their median can be off
//     by chance (and by at least 40 us): the path changed, or samples
//     were lost or repeated without a word. A new segment starts at it.
//     The median of twenty is not moved by a few seconds of a second path
//     fading up, or of a voice: such ticks are
//   - outliers: off the line by more than five of its scatters, alone or
//     in a short run;
//   - otherwise used.
// Why the numbers: docs/accuracy.md#ticks-steps
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class TickSteps {
public:
    struct Verdict {
        int64_t index = 0;
        bool used = false;    // into the line
        bool jump = false;    // the first of a new segment
        uint32_t segment = 0;
    };

    // `rate`: samples a second (the prediction's slope before any line).
    explicit TickSteps(double rate);

    // The next tick (indices increasing), its start in samples.
    void Add(int64_t index, double position);
    // Judges every tick still waiting, on what has come.
    void Flush();
    // The ticks from here on are a segment of their own (the stream broke).
    void NewSegment();
    // Where the search found tick `index`: predictions start from it until
    // a tick comes (the first seconds after a search may hold none: a
    // minute tone, an omitted second, CHU's short ticks).
    void Anchor(int64_t index, double position);

    // Verdicts in order of index, as they are reached.
    std::vector<Verdict> TakeVerdicts();
    // The last index judged (-1: none yet).
    int64_t JudgedUpTo() const { return judgedUpTo; }

    // Where the ticks of the current segment put tick `index`.
    double Predict(int64_t index) const;
    // The recent ticks' scatter about their line (samples), robust.
    double Scatter() const;
    bool HasLine() const { return track.size() >= MIN_TRACK; }
    // The last tick used, and the slope (samples a second) of the last line.
    bool LastUsed(int64_t& index, double& position) const;
    double Slope() const { return slope; }
    uint32_t Segment() const { return segment; }
    int64_t Steps() const { return steps; }

private:
    struct Point {
        int64_t index;
        double position;
    };
    static constexpr size_t MIN_TRACK = 10;

    void JudgeOldest(bool flushing);
    bool LooksLikeStep(const std::vector<double>& residuals, double scatter, bool flushing) const;
    void Use(const Point& p);
    // The standard error of the line's prediction at `index`, for points
    // of the given scatter.
    double PredictionDeviation(double index, double scatter) const;

    double floorSamples;
    std::deque<Point> track;    // used ticks of the current segment, the newest last
    std::deque<Point> waiting;  // measured, not yet judged
    std::vector<Verdict> verdicts;
    double slope;
    uint32_t segment = 0;
    int64_t steps = 0;
    int64_t judgedUpTo = -1;
    int outliersInRow = 0;
    bool lastUsedKnown = false;
    Point lastUsed{0, 0};
    Point anchor{0, 0};  // newer than lastUsed until a tick is used
    bool anchorKnown = false;
};
