// What a stream tells of its time, and the bookkeeping both backends share:
// its position, the xruns found on the way (each starts a new segment of
// clock points), and a bounded list of clock points, handed out by
// TakeXruns/TakeClockPoints. Portable: no sound system here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// An underrun (playback) or overrun (capture): samples the device did not
// get or could not keep.
struct AudioXrun {
    uint64_t frame = 0;   // the stream position where it happened
    double seconds = 0;   // the same in seconds of the stream
};

// Where the stream was at a moment of the system's monotonic clock: the
// frames the device had played or captured by then. Taken where the sound
// system stamps it itself (ALSA: the status's timestamp; winmm: the
// performance counter when a buffer comes back), once per period.
// `segment` goes up by one after each xrun: the stream's position keeps
// counting, but what the card did meanwhile is unknown.
struct AudioClockPoint {
    uint64_t frames = 0;
    double systemSeconds = 0;
    uint32_t segment = 0;
};

class StreamTimeline {
public:
    explicit StreamTimeline(int sampleRate) : sampleRate(sampleRate) {}

    // Frames the stream has moved: ALSA's read or written, winmm's returned
    // by the driver.
    uint64_t Position() const { return position; }
    void Advance(uint64_t frames) { position += frames; }

    // Samples lost or missing at the current position; the clock points
    // after it start a new segment.
    void AddXrun();
    // A clock point of the current segment. Untaken points are kept up to
    // CLOCK_POINT_LIMIT; past it the older half is dropped.
    void AddClockPoint(uint64_t frames, double systemSeconds);
    // True while points wait to be taken.
    bool PointsWaiting() const { return !points.empty(); }

    // Since the last call, oldest first.
    std::vector<AudioXrun> TakeXruns();
    std::vector<AudioClockPoint> TakeClockPoints();

    static constexpr size_t CLOCK_POINT_LIMIT = 1 << 16;

private:
    int sampleRate;
    uint64_t position = 0;
    uint32_t segment = 0;
    std::vector<AudioXrun> xruns;
    std::vector<AudioClockPoint> points;
};
