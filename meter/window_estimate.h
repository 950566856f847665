// One window's figure of a run that is followed as it moves (the burst's
// offset, meter/offset_track.h; a card against a reference,
// meter/reference/reference_track.h).
#pragma once

#include <cstdint>

// Without `valid` the window held too few points for a line.
struct WindowEstimate {
    double startSeconds = 0, endSeconds = 0;  // of the recording, or of the reference's time
    bool valid = false;
    double ppm = 0;
    double uncertaintyPpm = 0;  // from its residuals (and, for the burst, the rulers' systematic error)
    int64_t blocks = 0;         // the bursts or events in it
};
