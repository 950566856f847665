// What a reference that arrives in the audio gives the meter: events, each
// a moment of the reference's own time and where it fell in the card's
// samples. A GPS receiver's second pulse gives one a second (its leading
// edge); a time station's ticks one a second (the tick's start); a steady
// tone one per block of samples (the moment its phase says it is).
//
// The card's rate is the slope of position against reference time: a card
// that runs fast takes more samples between two pulses than its nominal
// rate says.
#pragma once

#include <cstdint>

// What became of an event (one CSV row); flags are EVENT_* bits.
enum ReferenceEventFlag : unsigned {
    EVENT_USED = 1u << 0,      // in the line
    EVENT_MISSED = 1u << 1,    // none where one was due (a missing pulse, a second without a tick)
    EVENT_EXTRA = 1u << 2,     // one where none was due (a second pulse inside a second, a doubled tick)
    EVENT_CLIPPED = 1u << 3,   // samples at full scale around it: its timing cannot be trusted
    EVENT_OUTLIER = 1u << 4,   // found, but off the line by more than its scatter allows
    EVENT_JUMP = 1u << 5,      // the first after a step (samples lost or repeated, a path change)
    EVENT_MARKER = 1u << 6,    // a minute or hour tone, an announcement: recognised, not a tick
};

struct ReferenceEvent {
    // The reference's count: pulse or tick number from the first found
    // (whole seconds of the reference; a missed second keeps its number),
    // or the tone's block number.
    int64_t index = 0;
    // The reference's time at the event, seconds from its first event:
    // `index` for a pulse or a tick; the tone's unwrapped phase, in cycles,
    // over its frequency.
    double referenceSeconds = 0;
    // Where it fell: samples from the first sample pushed, with the
    // fraction of a sample kept (a pulse's edge is good to a hundredth).
    double position = 0;
    // Its own standard deviation in samples, as the detector judges it from
    // the signal and the noise (0: unknown): the line's weights.
    double scatter = 0;
    // The line's intercept it belongs to: a new one after a discontinuity
    // of the stream (an xrun reported, or a step the events show).
    uint32_t segment = 0;
    unsigned flags = 0;
    // Its distance from the line when it was judged (samples), for the CSV.
    double residual = 0;
    // The event's level (dBFS over the event), for the CSV and the checks.
    double levelDbfs = 0;
};
