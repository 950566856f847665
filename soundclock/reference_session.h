// One card against a reference that arrives in its samples (rate
// --reference KIND), whatever feeds it: a recording or a device's capture.
// The channel's samples go in; the live line, the first seconds' word on
// whether the reference is there, the events' CSV rows and the windows
// come out as they are found; at the end the result (reference_result.h).
#pragma once

#include "soundclock/options.h"
#include "soundclock/progress_line.h"
#include "soundclock/reference_result.h"
#include "soundclock/track_output.h"

#include "meter/reference/reference_meter.h"
#include "meter/reference/reference_track.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class ReferenceSession {
public:
    ReferenceSession(const RateOptions& options, int sampleRate);
    ~ReferenceSession();
    ReferenceSession(const ReferenceSession&) = delete;
    ReferenceSession& operator=(const ReferenceSession&) = delete;

    // Opens the CSV and the track's files: false, with `problem`, when it cannot.
    bool Start(std::string& problem);
    // The next samples of the channel, full scale +-1.
    void Push(const float* samples, size_t count);
    // The stream lost or repeated samples (an xrun) before the next ones.
    void Discontinuity();
    // "soundclock: TEXT" on standard error, clear of the live line; with
    // --quiet only when `always`.
    void Say(const std::string& text, bool always = false);
    // The end of the input: what waits is settled, the files written out.
    void Finish();

    double SecondsRead() const { return static_cast<double>(samples) / sampleRate; }
    ReferenceFacts& Facts() { return facts; }
    int Report();
    int Fail(const std::string& message);

private:
    void FirstLook();
    void Row(const ReferenceEvent& event);

    RateOptions options;
    int sampleRate;
    ReferenceFacts facts;
    std::unique_ptr<ReferenceMeter> meter;
    ReferenceTrack track;
    TrackOutput trackOutput;
    ProgressLine live;
    std::FILE* csv = nullptr;
    uint64_t samples = 0;
    bool looked = false;
    std::string trackProblem;
};
