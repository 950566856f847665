// One measurement, whatever feeds it: a file, a device, or the loop. The
// samples go in; the live line, the jumps and the CSV rows come out as
// they are found; at the end the result line (or its JSON) and the exit
// status, from one function (PrintResult) for every source.
#pragma once

#include "soundclock/options.h"
#include "meter/clock_estimator.h"

#include <cstdint>
#include <cstdio>
#include <memory>
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
    // More of the result: fields appended to its JSON (",\"name\":..."),
    // and lines printed after its line.
    std::string extraJson;
    std::string extraLine;
};

// Prints the result (a line on standard output, or one JSON object) and
// returns its exit status; or says why there is none, with status 2.
class TrackOutput;
int PrintResult(const ClockEstimator& meter, const ResultOptions& options, const RunFacts& facts,
                const TrackOutput* track = nullptr);
// "soundclock: MESSAGE" on standard error (and {"error": ...} with
// --json): status 2.
int Fail(const ResultOptions& options, const std::string& message);
// A carrier the meter cannot measure is refused (the reason returned, empty
// otherwise); one it measures less well than its figures say is warned about.
std::string CarrierRefusal(const ResultOptions& options, const SignalChoice& signal);

class LiveLine;

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
    std::unique_ptr<LiveLine> live;
    std::FILE* csv = nullptr;
    std::unique_ptr<TrackOutput> track;
    std::string trackProblem;
};

// Fixed-point text: Fixed(1.5, 2) is "1.50", with `sign` "+1.50".
std::string Fixed(double value, int decimals, bool sign = false);
