// One measurement, whatever feeds it: a file, a device, or the loop. The
// samples go in; the live line, the jumps and the CSV rows come out as
// they are found; at the end the result (offset_result.h) and the exit
// status.
#pragma once

#include "soundclock/offset_result.h"
#include "soundclock/options.h"
#include "soundclock/progress_line.h"
#include "meter/clock_estimator.h"
#include "meter/offset_track.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class TrackOutput;

class MeasureSession {
public:
    MeasureSession(const ResultOptions& options, const SignalChoice& signal, int recordingRate);
    ~MeasureSession();
    MeasureSession(const MeasureSession&) = delete;
    MeasureSession& operator=(const MeasureSession&) = delete;

    // Opens the CSV log: false, with `problem`, when it cannot.
    bool Start(std::string& problem);
    void Push(const int16_t* samples, size_t count);
    // "soundclock: TEXT" on standard error, clear of the live line; with
    // --quiet only when `always` (failures).
    void Say(const std::string& text, bool always = false);
    // The end of the input: the last burst settled, the CSV written out.
    void Finish();

    double SecondsRead() const { return meter.SecondsRead(); }
    const ClockEstimator& Meter() const { return meter; }
    const ResultOptions& Options() const { return options; }
    RunFacts& Facts() { return facts; }

    int Report();
    int Fail(const std::string& message);

private:
    ResultOptions options;
    RunFacts facts;
    ClockEstimator meter;
    ProgressLine live;
    std::FILE* csv = nullptr;
    OffsetTrack offsetTrack;
    std::unique_ptr<TrackOutput> track;
    std::string trackProblem;
};
