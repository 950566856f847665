// The result of a measurement of two cards' offset (measure and loop): a
// line on standard output, or one JSON object, and the exit status; or,
// when there is no figure, why not, with what was heard.
#pragma once

#include "soundclock/failure.h"
#include "soundclock/json_writer.h"
#include "soundclock/options.h"
#include "meter/clock_estimator.h"

#include <cstdint>
#include <string>

// What the result says besides the figure.
struct RunFacts {
    int recordingRate = 0;
    SignalChoice signal;
    // Why the result covers only part of the run (a device lost); empty:
    // it covers all that was asked for. A partial result has status 2.
    std::string partial;
    // The xruns of a live run, -1 where there is no such side: the
    // capture's overruns, the playback's underruns (loop).
    int64_t overruns = -1;
    int64_t underruns = -1;
    // More of the result: fields of its JSON, and lines printed after its line.
    JsonObject extraJson;
    std::string extraLine;
};

class TrackOutput;
int PrintResult(const ClockEstimator& meter, const ResultOptions& options, const RunFacts& facts,
                const TrackOutput* track = nullptr);
// A recording made at a rate this far from the signal's is not of it.
constexpr double RATE_MISMATCH_LIMIT = 0.02;
bool RateFits(int recordingRate, const SignalChoice& signal);
// What stands in the way of recording the signal at `recordRate` (a rate
// too far from the signal's, a carrier the meter cannot measure); empty
// when nothing does. A carrier measured less well is warned about.
std::string RecordingRefusal(const ResultOptions& options, const SignalChoice& signal, int recordRate);
// A carrier the meter cannot measure is refused (the reason returned, empty
// otherwise); one it measures less well than its figures say is warned about.
std::string CarrierRefusal(const ResultOptions& options, const SignalChoice& signal);
// Why there is no figure, with what was heard.
std::string NoSignalText(const ClockEstimator& meter, int recordingRate, const SignalChoice& signal);
// Heavily clipped bursts distort the correlation's shape: no figure when
// more than half of them had samples at full scale.
bool MostlyClipped(const ClockEstimator& meter);
// The once-a-second line while it measures.
std::string OffsetLiveText(const ClockEstimator& meter);
// "-3 samples at 8.01 s".
std::string JumpText(const JumpEvent& jump);
