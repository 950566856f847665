// The clock offset between the card that played the transmitter's signal
// and the card that recorded it, measured from the recording as it streams
// past.
//
// The burst repeats every FRAME_SAMPLES samples of the playing card; in the
// recording, burst k lies at position m_k = m_0 + FRAME_SAMPLES (1 + e) k,
// where e is the offset (positive: the recording card runs fast). For each
// burst the meter fits the recording at full rate, by least squares, onto
// the burst's two real parts (the synthesis's envelope times the cosine and
// the sine of the carrier; meter/burst_fit.h), and takes from the fit
//   - the delay: the whole lag that fits best, and the fraction of a sample
//     whose fit explains the most of the recording (the coarse ruler), and
//   - the carrier phase there, from the two amplitudes, which turns by 2 pi
//     per carrier period of delay: the fine ruler, 1/(carrier / rate)
//     samples long, unwrapped by the burst's own delay (the difference of
//     the two rulers changes little from burst to burst), so it follows
//     offsets up to 1 % and jumps of any size.
// The fit holds the carrier's image (the real recording's component at
// minus the carrier) in its model, so neither ruler follows the fractional
// delay; it allows for the burst's stretch by the offset as the line has it
// so far, and a line's first bursts are measured again once it has one.
// Both delays, less FRAME_SAMPLES k, go into weighted least-squares lines
// against k; the slope over FRAME_SAMPLES is the offset. The line of the
// phase is the result; the delay's line is the cross-check.
//
// A burst far from where the line expects it is either an outlier (left
// out) or the first of a jump (samples dropped, repeated or inserted): the
// next burst decides. A jump of a whole number of samples (of either card)
// keeps the line's intercept; any other starts a new one. The first few
// bursts, before there is a line, must step evenly, or the line starts
// again; so does a line that rejects burst after burst. A burst not found where expected is searched for in
// the whole frame around it. Nothing is kept per burst (but the samples of a
// young line's first bursts): memory stays flat.
#pragma once

#include "meter/burst_fit.h"
#include "meter/burst_reference.h"
#include "meter/line_fit.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What became of one burst (one CSV row); flags are BLOCK_* bits.
enum BlockFlag : unsigned {
    BLOCK_USED = 1u << 0,     // in the fit
    BLOCK_LOST = 1u << 1,     // no burst where expected, nor near it
    BLOCK_OUTLIER = 1u << 2,  // found, but off the line: left out
    BLOCK_JUMP = 1u << 3,     // the first burst after a jump
    BLOCK_CLIPPED = 1u << 4,  // samples at full scale in the burst
    BLOCK_SEARCHED = 1u << 5, // found by a search of the whole frame
};

struct BlockRecord {
    int64_t block = 0;        // burst index since the signal was first found
    double time = 0;          // seconds into the recording
    int64_t peakLag = 0;      // the integer peak, in samples, modulo FRAME_SAMPLES
    double delay = 0;         // position - FRAME_SAMPLES * block, samples, from the correlation's shape
    double phaseDelay = 0;    // the same from the carrier phase (unwrapped, samples)
    double carrierPhase = 0;  // radians, -pi..pi
    double level = 0;         // dB relative to full scale, RMS over the burst
    unsigned flags = 0;
    // For a burst used: its phase delay in the line's terms (the jumps taken
    // out), and the intercept it belongs to. A new one starts after a jump
    // that is not a whole number of samples and where the line starts again:
    // across the two the delay is not continuous.
    double linePhaseDelay = 0;
    int64_t segment = 0;
};

struct JumpEvent {
    double time = 0;     // seconds into the recording, where the burst showed it
    double samples = 0;  // positive: later (samples inserted), negative: earlier (dropped)
};

struct ClockEstimate {
    bool valid = false;
    double ppm = 0;             // from the carrier phase
    double uncertaintyPpm = 0;  // standard uncertainty, from the residuals
    double delayPpm = 0;        // from the delay alone
    double delayUncertaintyPpm = 0;
    bool agree = true;          // phase and delay agree within their uncertainties
    int64_t blocksUsed = 0;
    double secondsUsed = 0;     // from the first to the last burst used
};

// What was seen, for a clear word when no signal was found.
struct InputSummary {
    uint64_t samples = 0;
    double rmsDbfs = -1e9;
    double peakDbfs = -1e9;
    double zeroCrossingHz = 0;    // half the sign changes per second
    double bestCorrelation = 0;   // the highest normalised correlation with the burst, 0..1
    uint64_t clippedSamples = 0;
    int64_t lostBlocks = 0, outlierBlocks = 0, clippedBlocks = 0;
};

struct MeterSettings {
    int32_t recordingRate = 8000;  // the recording's samples per second (for times)
    int32_t signalRate = 8000;     // the signal's settings, as for the transmitter
    double carrierFrequency = 1500;
};

class ClockEstimator {
public:
    explicit ClockEstimator(const MeterSettings& settings);

    // Feeds the next samples of the recording.
    void Push(const int16_t* samples, size_t count);
    // At the end of the recording: settles a burst still waiting.
    void Finish();

    ClockEstimate Estimate() const;
    InputSummary Summary() const;
    const std::vector<JumpEvent>& Jumps() const { return jumps; }
    int64_t JumpCount() const { return jumpCount; }
    // Seconds of audio read so far.
    double SecondsRead() const { return static_cast<double>(sampleCount) / settings.recordingRate; }

    // Called once per burst, in order (the --csv rows).
    void OnBlock(std::function<void(const BlockRecord&)> observer) { blockObserver = std::move(observer); }
    // Called on each jump as soon as it is confirmed.
    void OnJump(std::function<void(const JumpEvent&)> observer) { jumpObserver = std::move(observer); }

    // At most this many jumps are kept for the report; more are counted.
    static constexpr size_t KEPT_JUMPS = 100;

private:
    struct Peak {
        int64_t lag = 0;
        double magnitude = 0;   // |correlation|
        double normalised = 0;  // 0..1: how well the samples there match the burst
        double re = 0, im = 0;
    };
    struct Measurement {
        int64_t block = 0;
        int64_t lag = 0;
        double position = 0;  // fine position, absolute samples
        double phase = 0;     // carrier phase at the burst, radians
        double magnitude = 0;
        double level = 0;
        unsigned flags = 0;
    };

    bool Step();
    bool TryAcquire();
    void TrackNext();
    Peak CorrelateAt(int64_t lag) const;
    Peak BestIn(int64_t firstLag, int64_t lastLag, double* meanPower) const;
    bool LooksLikeBurst(const Peak& peak, double meanPower) const;
    Measurement Measure(const Peak& peak, int64_t block, unsigned flags) const;
    double CurrentStretch() const;
    void FineFix(const float* samples, const Peak& peak, double stretch, Measurement& m) const;
    void RemeasureYoung();
    void FlushReports();
    void Consider(const Measurement& m);
    void Accept(const Measurement& m, double delay, double phaseDelay);
    void Report(const Measurement& m, double delay, double phaseDelay);
    void RecordJump(const JumpEvent& event);
    double ExpectedPosition(int64_t block) const;
    double PhaseDelayNear(double phase, double target) const;
    double SnapJump(double jump, bool& snapped) const;
    double PredictedDelay(int64_t block) const;
    double PredictedPhaseDelay(int64_t block) const;
    const float* At(int64_t position) const { return window.data() + (position - windowStart); }
    void DropBefore(int64_t position);

    MeterSettings settings;
    BurstReference reference;
    BurstFit fit;
    long double radiansPerSample = 0;
    double carrierWavelength = 0;                  // samples per carrier cycle

    // the recording, from windowStart on
    std::vector<float> window;
    int64_t windowStart = 0;
    uint64_t sampleCount = 0;
    // what was seen
    long double sumSquares = 0;
    int peakAbs = 0;
    uint64_t signChanges = 0;
    bool lastNegative = false;
    uint64_t clippedSamples = 0;
    mutable double bestCorrelation = 0;

    // state of the search and the track
    bool locked = false;
    int64_t searchStart = 0;
    int64_t nextBlock = 0;
    int64_t originLag = 0;     // the first burst's lag: positions are kept relative to it
    double jumpTotal = 0;      // the jumps so far, taken out of the positions
    double typicalMagnitude = 0;
    SegmentedLineFit phaseLine, delayLine;
    double lastDelay = 0, lastPhaseDelay = 0;  // of the last burst used
    double lastStep = 0;                       // its delay's change from the one before
    double firstUsedPosition = 0, lastUsedPosition = 0;
    // A burst off the line, waiting for the next to tell a jump from an outlier.
    bool pendingValid = false;
    Measurement pending;
    double pendingOffset = 0;  // its delay's distance from the line (coarse)
    double pendingJump = 0;    // the jump it would be, refined by the phase
    int64_t consecutiveRejected = 0;
    bool pendingSnapped = false;
    int64_t segment = 0;  // counts the intercepts, restarts included (BlockRecord::segment)

    // The first bursts of the line, measured again once its slope is known.
    struct YoungBurst {
        Measurement measurement;
        double weight = 0;
        double phaseDelay = 0;
        size_t report = 0;  // its row among the held ones
    };
    std::vector<YoungBurst> youngBursts;
    std::vector<float> youngWindows;  // their samples, BurstFit::WindowLength() each
    // Their rows (and those between), held until then.
    std::vector<BlockRecord> heldReports;
    bool holdingReports = false, youngReportsHeld = false;

    std::vector<JumpEvent> jumps;
    int64_t jumpCount = 0;
    int64_t lostBlocks = 0, outlierBlocks = 0, clippedBlocks = 0;
    std::function<void(const BlockRecord&)> blockObserver;
    std::function<void(const JumpEvent&)> jumpObserver;
};
