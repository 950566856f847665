// A card's sample rate against a reference that arrives in its samples:
// the common face of the pulse, tone and tick meters (pps_meter.h,
// tone_meter.h, tick_meter.h). The samples of one channel go in as the
// stream delivers them; events come out as they are settled, and the rate
// from the line through them (event_line.h) at any time.
//
// Positions count samples from the first pushed. A discontinuity the
// stream reports (an xrun: samples lost or repeated, how many unknown)
// starts a new intercept for what follows; one it did not report shows as
// a step in the events and is stepped over the same way.
//
// Memory stays bounded by the run's length in events (one a second for a
// pulse or a tick), never by its samples.
#pragma once

#include "meter/reference/reference_event.h"
#include "meter/reference/reference_kind.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct ReferenceEstimate {
    bool valid = false;          // enough events over enough time for a slope
    double rateHz = 0;           // the card's samples per second of the reference
    double ppm = 0;              // from the nominal rate; positive: the card runs fast
    double uncertaintyPpm = 0;   // standard uncertainty
    double seconds = 0;          // reference time from the first event used to the last
    int64_t eventsUsed = 0;
    int64_t eventsMissed = 0;    // due and not there
    int64_t eventsRejected = 0;  // extra, clipped, outliers, markers
    int segments = 0;            // intercepts with events used
    int64_t steps = 0;           // discontinuities stepped over (reported or found)
    double scatterSamples = 0;   // the used events' RMS distance from the line
    // What the figure's uncertainty allows for beyond the events' own
    // scatter (a time station's path delay wandering), in ppm; 0: none.
    double wanderAllowancePpm = 0;
    // The reference did not hold still: a tone whose frequency wandered or
    // jumped, ticks whose delay moved more than a path does. Empty: steady.
    std::string unsteady;
};

// What was heard, for the first seconds' word and for the message when
// there is no usable reference.
struct ReferenceHeard {
    double seconds = 0;          // of samples pushed
    double rmsDbfs = -1e9;
    double peakDbfs = -1e9;
    uint64_t clippedSamples = 0;
    double eventsPerSecond = 0;  // pulses or ticks found a second (tone: 0)
    double strongestHz = 0;      // the strongest frequency in the input (0: none)
    bool present = false;        // the reference is there, as far as can be told yet
    // Why no figure can be given, in words, when the reference is not
    // there or not usable ("2 pulses a second: ..."); empty otherwise.
    std::string problem;
};

// An amplitude (a peak, an rms) in dBFS; ReferenceHeard's -1e9 for none.
double AmplitudeDbfs(double amplitude);

class ReferenceMeter {
public:
    virtual ~ReferenceMeter() = default;

    // The next samples of the channel, full scale +-1.
    virtual void Push(const float* samples, size_t count) = 0;
    // The stream lost or repeated samples before the next ones pushed.
    virtual void MarkDiscontinuity() = 0;
    // The end of the input: settles what is waiting.
    virtual void Finish() = 0;

    virtual ReferenceEstimate Estimate() const = 0;
    virtual ReferenceHeard Heard() const = 0;
    // The reference's time between events (a pulse or a tick: a second; a
    // tone: its block), the Allan deviation's tau0.
    virtual double EventSeconds() const { return 1.0; }

    // Called once per event, in order of position, once it is settled.
    void OnEvent(std::function<void(const ReferenceEvent&)> observer) { eventObserver = std::move(observer); }

protected:
    void Emit(const ReferenceEvent& event) const
    {
        if (eventObserver)
            eventObserver(event);
    }

private:
    std::function<void(const ReferenceEvent&)> eventObserver;
};

// The meter for `kind` on a stream of `sampleRate` samples a second; null
// for the system clock, which is the stream's stamps (meter/rate_fit.h),
// not a meter of samples.
std::unique_ptr<ReferenceMeter> MakeReferenceMeter(const ReferenceKind& kind, int sampleRate);
