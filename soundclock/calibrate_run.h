// One run of soundclock calibrate on a card: the test signal played on its
// output channel M (silence on the others), its input recorded with the
// signal coming back on channel M and, where the reference is a signal,
// the reference on channel N; the burst's offset measured on M, the
// reference on N, and both streams' clock stamps kept, all at once.
#pragma once

#include "soundclock/live_audio.h"
#include "soundclock/loop_rates.h"
#include "soundclock/options.h"
#include "soundclock/progress_line.h"

#include "meter/calibration.h"
#include "meter/clock_estimator.h"
#include "meter/reference/reference_meter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CalibrationRun {
public:
    explicit CalibrationRun(const CalibrateOptions& options);

    // Opens the devices and runs until --seconds, Ctrl-C, or a device is
    // lost; false, with `error` in the device's words, when one cannot be
    // opened or the capture cannot be kept.
    bool Run(std::string& error);

    // The figures so far (at the end: of the whole run).
    ClockFigure Receive() const;
    LoopFigure Loop() const;
    // Each side against the system clock, where its stamps time the card.
    ClockFigure CaptureAgainstSystem() const;
    ClockFigure PlaybackAgainstSystem() const;
    bool PlaybackTimed() const { return playbackTimed; }

    const ClockEstimator& LoopMeter() const { return loop; }
    const ReferenceMeter* Reference() const { return reference.get(); }
    int RecordRate() const { return recordRate; }
    double SecondsRecorded() const { return recorded.seconds; }
    int64_t Overruns() const { return overruns; }
    int64_t Underruns() const { return underruns; }
    // Why the result covers only part of the run; empty: all of it.
    std::string Partial() const;
    bool Interrupted() const;

    void Say(const std::string& text, bool always = false);

private:
    void Frames(const int32_t* frames, size_t count, int channels);
    void Between();

    CalibrateOptions options;
    int recordRate;
    ClockEstimator loop;
    std::unique_ptr<ReferenceMeter> reference;
    StampLog captureStamps, playbackStamps;
    bool playbackTimed = true;
    int64_t overruns = 0, underruns = 0;
    DeviceRunEnd recorded, played;
    ProgressLine live;
    std::vector<int16_t> loopSamples;
    std::vector<float> referenceSamples;
};
