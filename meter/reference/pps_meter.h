// A card's sample rate against a GPS receiver's second pulse on its line
// input: the leading edge of each pulse, timed to a small fraction of a
// sample, and the line through (pulse number, edge position).
//
// How (docs/reference-pps.md tells it at length):
//   1. The first difference of the samples: a pulse's edge becomes the
//      card's impulse response, short and alike for every pulse; DC and
//      most of the mains hum go.
//   2. Candidate edges, a quarter of a second at a time, where the
//      difference stands well above its own noise; the train
//      of one a second among them (pulse_train.h) locks the meter, and says
//      which edge leads.
//   3. The edge's template, from the first PPS_LEARN_PULSES pulses aligned
//      by their own fine delays (edge_template.h).
//   4. Every pulse then timed against the template by maximum likelihood,
//      searched for near where the line puts it (and over the second
//      round it where it is not there; pulse_timing.h).
//   5. Where there is no usable pulse, why, in words (pps_words.h).
//
// Faults, recognised, counted and never fitted: a pulse that is missing
// (EVENT_MISSED), one that is extra (EVENT_EXTRA), one with samples at
// full scale (EVENT_CLIPPED), one off the line by far more than its
// scatter that the next does not follow (EVENT_OUTLIER). A step in the
// positions that the next pulse confirms is a discontinuity of the stream:
// a whole number of samples (a block lost or repeated) keeps the
// intercept, anything else starts a segment (EVENT_JUMP on the first
// pulse after it). A discontinuity the stream reports is judged by the
// first pulse after it alone; one reported before the template is learnt
// starts the lock afresh (the pulses before it are not used).
//
// Contract:
//   - Push() takes any number of samples; nothing is kept of them but a
//     ring of a few seconds and a pulse's worth a second: memory grows
//     with the events (the line's points), never with the samples.
//   - Events are emitted in order of position once settled: a pulse is
//     held back until the next one has been found (a step must be
//     confirmed), and the first PPS_LEARN_PULSES until the template is
//     learnt. Finish() settles the rest.
//   - Positions count samples from the first pushed, with the fraction
//     kept. They carry a constant delay (the card's filter, the template's
//     origin near the edge's steepest point): only their differences mean
//     anything.
//   - `polarity` is asked only where the width cannot tell which edge
//     leads (a pulse within 50 ms of half a second wide): a card may
//     invert its input, so an edge's sign alone is not trusted.
//   - The card's rate must lie within 0.2 % of `sampleRate`.
#pragma once

#include "meter/reference/edge_template.h"
#include "meter/reference/pulse_line.h"
#include "meter/reference/pulse_train.h"
#include "meter/reference/reference_meter.h"
#include "meter/reference/sample_ring.h"
#include "meter/reference/strongest_frequency.h"

#include <cstdint>
#include <deque>
#include <vector>

// The first pulses, aligned, make the edge's template.
constexpr int PPS_LEARN_PULSES = 16;

class PpsMeter : public ReferenceMeter {
public:
    PpsMeter(int sampleRate, PulsePolarity polarity = PulsePolarity::Either);

    void Push(const float* samples, size_t count) override;
    void MarkDiscontinuity() override;
    void Finish() override;

    ReferenceEstimate Estimate() const override;
    ReferenceHeard Heard() const override;

private:
    enum class Mode { Acquiring, Learning, Tracking };
    struct LearntPulse {
        PulseObservation seen;  // a coarse position while the template is not there
        std::vector<double> window;
    };

    // The pulses timed and clipped so far, those waiting for the template
    // among them.
    void CountFound(int64_t& found, int64_t& clippedPulses) const;
    // More edges between the seconds than pulses on them: what was locked
    // to is no second pulse (a time station's ticks, a tone, a signal's
    // own rhythm), and it gives no figure.
    bool NotASecondPulse() const;

    void Advance(bool final);
    void Reacquire(int64_t from);
    void ScanChunk(int64_t begin, int64_t end);
    void TryToLock(int64_t spanBegin);
    void Learn(bool final);
    // A pulse found at `centre` while the template is learnt: its window, or why none.
    LearntPulse Learnt(int64_t index, int64_t centre) const;
    void StartTracking();
    void Track(bool final);

    double PredictedPosition(int64_t index) const;

    void Observe(const PulseObservation& seen);
    void CountExtras(int64_t upTo);
    void Flush(bool all);

    const int rate;
    const PulsePolarity polarity;
    SampleRing ring;
    SpectrumPeak spectrum;

    // What was heard.
    double sumSquares = 0;
    double peak = 0;
    uint64_t clippedSamples = 0;

    // Scanning for candidate edges.
    int64_t scannedTo = 1;             // the next first difference to scan
    int64_t acquireFrom = 1;           // where the candidates for a lock begin
    std::deque<EdgeCandidate> candidates;
    PulseTrainVerdict verdict;         // the latest try to lock
    bool tried = false;

    // The train locked to.
    Mode mode = Mode::Acquiring;
    int leadingSign = 0;
    double widthSamples = 0;
    double period = 0;                 // samples a second, as the train showed it
    std::vector<LearntPulse> learning;
    int64_t nextIndex = 0;             // the next pulse due
    int64_t lastFoundIndex = -1;
    double lastFoundPosition = 0;
    int missedInRow = 0;
    EdgeTemplate edge;

    // The line through the pulses, across the stream's steps.
    PulseLine pulses;

    // Events waiting to be settled.
    std::vector<ReferenceEvent> pending;
    int64_t extrasCountedTo = 0;
    std::deque<double> recentEdges;    // the last pulses' positions: no extra is counted there

    int64_t extras = 0;
    int64_t reportedSteps = 0;         // discontinuities the stream reported
    int64_t lockedAt = -1;             // the position of the first pulse locked to
};
