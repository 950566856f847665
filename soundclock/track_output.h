// The offset as it moves, on the command line: --interval S (a line per
// window before the result), --track FILE (the windows as CSV), --adev FILE
// (the Allan deviation as CSV), the steadiness words on the result line and
// their fields in --json. Fed the meter's bursts by whichever command
// measures (a file, or a device as it records).
#pragma once

#include "soundclock/json_writer.h"
#include "soundclock/options.h"
#include "meter/offset_track.h"

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
    TrackOutput(const TrackOptions& options, int32_t signalRate, bool json);
    ~TrackOutput();

    // Opens the files, so that a name that cannot be written is refused
    // before the measurement; "" or what went wrong.
    std::string Open();
    // Before a window's line on standard output (to end a live line first).
    void BeforeLine(std::function<void()> callback) { beforeLine = std::move(callback); }
    void Add(const BlockRecord& record) { track.Add(record); }
    // At the end of the recording: the last window, the judgement and the
    // Allan deviation (and --adev's file); "" or what went wrong.
    std::string Finish();

    // The result line's words on steadiness, after the offset with its
    // uncertainty `uncertaintyPpm`; and the --json fields.
    std::string ResultWords(double uncertaintyPpm) const;
    JsonObject Json() const;

private:
    void Window(const WindowEstimate& window);

    TrackOptions options;
    bool json;
    OffsetTrack track;
    std::FILE* trackFile = nullptr;
    std::FILE* adevFile = nullptr;
    std::vector<WindowEstimate> windows;  // for --json: one per interval
    Steadiness steadiness;
    std::vector<StabilityPoint> stability;
    std::function<void()> beforeLine;
};
