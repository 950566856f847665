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
// The parts, each with its contract in its header:
//   - meter/input_summary.h: what the input held (level, peak, zero
//     crossings, clipping), signal or not;
//   - meter/burst_search.h: the burst found and measured, first in a search
//     frame by frame, then where the line expects it;
//   - meter/burst_line.h: the line, its outliers and jumps (the next burst
//     decides), and where it starts again;
//   - meter/early_bursts.h: a young line's first bursts measured again, and
//     the rows (OnBlock) held back until then.
// ClockEstimator feeds one into the next. Nothing is kept per burst (but
// the samples of a young line's first bursts): memory stays flat.
#pragma once

#include "meter/block_record.h"
#include "meter/burst_line.h"
#include "meter/burst_search.h"
#include "meter/early_bursts.h"
#include "meter/input_summary.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

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

    ClockEstimate Estimate() const { return line.Estimate(); }
    InputSummary Summary() const;
    const std::vector<JumpEvent>& Jumps() const { return jumps; }
    int64_t JumpCount() const { return jumpCount; }
    // Seconds of audio read so far.
    double SecondsRead() const { return static_cast<double>(input.Samples()) / settings.recordingRate; }

    // Called once per burst, in order (the --csv rows); a young line's rows
    // may come up to MAX_HELD_ROWS bursts late (meter/early_bursts.h).
    void OnBlock(std::function<void(const BlockRecord&)> observer) { early.OnRow(std::move(observer)); }
    // Called on each jump as soon as it is confirmed.
    void OnJump(std::function<void(const JumpEvent&)> observer) { jumpObserver = std::move(observer); }

    // At most this many jumps are kept for the report; more are counted.
    static constexpr size_t KEPT_JUMPS = 100;

private:
    bool Step();
    void Take(const BurstMeasurement& burst);
    void Settle(const LineVerdict& verdict);
    void RemeasureYoungLine();
    void RecordJump(const JumpEvent& event);

    MeterSettings settings;
    InputStatistics input;
    BurstSearch search;
    BurstLine line;
    EarlyBursts early;
    int64_t nextBlock = 0;  // the burst the search looks for next
    std::vector<JumpEvent> jumps;
    int64_t jumpCount = 0;
    std::function<void(const JumpEvent&)> jumpObserver;
};
