// A figure as it moves, on the command line: --interval S (a line per
// window before the result), --track FILE (the windows as CSV), --adev FILE
// (the Allan deviation as CSV), the steadiness words on the result line and
// their fields in --json. Fed the windows as a track ends them (the burst's
// offset, meter/offset_track.h, or a card against a reference,
// meter/reference/reference_track.h) and, at the end, the judgement and
// the Allan deviation.
#pragma once

#include "soundclock/json_writer.h"
#include "soundclock/options.h"
#include "meter/allan_deviation.h"
#include "meter/steadiness.h"
#include "meter/window_estimate.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// --interval, --track and --adev as given (interval empty: not given),
// checked. Throws UsageError.
TrackOptions TakeTrackOptions(const std::string& interval, const std::string& trackFile, const std::string& adevFile);
// What they mean, for the command's help.
extern const char* const INTERVAL_HELP;
extern const char* const TRACK_HELP;
extern const char* const ADEV_HELP;

class TrackOutput {
public:
    // `countName`: what the windows count ("blocks", "events");
    // `judgesSteadiness`: whether the run is judged steady or not (the
    // burst's offset is; a reference's figure says so of itself).
    TrackOutput(const TrackOptions& options, bool json, std::string countName, bool judgesSteadiness);
    ~TrackOutput();

    // Opens the files, so that a name that cannot be written is refused
    // before the measurement; "" or what went wrong.
    std::string Open();
    // Before a window's line on standard output (to end a live line first).
    void BeforeLine(std::function<void()> callback) { beforeLine = std::move(callback); }
    // A window as it ends: its line, its CSV row.
    void Window(const WindowEstimate& window);
    // At the end of the run: the judgement (not `valid`: none) and the
    // Allan deviation (and --adev's file); "" or what went wrong.
    std::string Finish(const Steadiness& judgement, const std::vector<StabilityPoint>& table);

    // The result line's words on steadiness, after the offset with its
    // uncertainty `uncertaintyPpm`; and the --json fields.
    std::string ResultWords(double uncertaintyPpm) const;
    JsonObject Json() const;

private:
    TrackOptions options;
    bool json;
    std::string countName;
    bool judgesSteadiness;
    std::FILE* trackFile = nullptr;
    std::FILE* adevFile = nullptr;
    std::vector<WindowEstimate> windows;  // for --json: one per interval
    Steadiness steadiness;
    std::vector<StabilityPoint> stability;
    std::function<void()> beforeLine;
};
