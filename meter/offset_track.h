// The offset as it moves: fed the meter's bursts (ClockEstimator::OnBlock),
// it fits a line per window of the recording as the windows end, and keeps
// one phase value per burst for the steadiness test and the Allan deviation
// at the end (8 bytes a burst: an hour at 48000 Hz is 1.4 MB).
//
// The windows' fits follow the whole-run fit's rule: a new intercept where
// the meter starts one, so a jump inside a window costs nothing. The phase
// series is made continuous there instead, each new stretch continuing the
// last one's local slope, for the second differences of the Allan deviation.
#pragma once

#include "meter/allan_deviation.h"
#include "meter/clock_estimator.h"
#include "meter/steadiness.h"
#include "meter/window_estimate.h"

#include <cstdint>
#include <functional>
#include <vector>


struct TrackSettings {
    double intervalSeconds = 0;  // the windows' length; 0: no windows
    int32_t signalRate = 8000;   // bursts come every FRAME_SAMPLES samples of it
    // What the rulers may be off by in any burst's phase delay, systematically
    // (samples, RMS): the error that follows the fractional delay. Allowed
    // for in every uncertainty the track gives.
    double systematicSamples = RULER_SYSTEMATIC_SAMPLES;
};

class OffsetTrack {
public:
    explicit OffsetTrack(const TrackSettings& settings);

    void Add(const BlockRecord& record);
    // At the end of the recording: the last window, however short.
    void Finish();
    // Called as each window ends, in order.
    void OnWindow(std::function<void(const WindowEstimate&)> observer) { windowObserver = std::move(observer); }

    Steadiness Judge() const;
    std::vector<StabilityPoint> Stability() const;
    // Seconds between bursts, of the playing card's clock.
    double BlockSeconds() const;

    // A window needs this many bursts for a line with a scatter to judge it by.
    static constexpr int64_t MIN_WINDOW_BLOCKS = 5;

private:
    void AddToSeries(const BlockRecord& record);
    void AddToWindow(const BlockRecord& record);
    void CloseWindow(bool atEnd);

    TrackSettings settings;
    // the phase series, one value per burst from the first used on (NaN where
    // none was used), and where its stretches start
    int64_t firstBlock = -1;
    std::vector<double> series;
    std::vector<size_t> stretchStarts;
    int64_t lastSegment = -1;
    double stitch = 0;  // added to the current stretch to continue the last
    // the window being filled
    int64_t windowIndex = -1;
    int64_t windowSegment = -1;
    double lastTime = 0;
    SegmentedLineFit window;
    std::function<void(const WindowEstimate&)> windowObserver;
};
