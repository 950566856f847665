// The sample rates at which a wave device may be opened.
//
// Under Wine with a PulseAudio server, opening a wave device at a rate the
// audio server cannot represent does not fail: it aborts the whole process
// inside the audio driver, before the program can show its message. The
// wave-out and wave-in opens therefore refuse such rates themselves, with
// the result a device gives for a format it does not support
// (WAVERR_BADFORMAT), so the program reports the failure as it would for any
// other refused format. The range was found by trying: 384000 opens, 384001
// aborts. 100 Hz is kept as the lower end; nothing slower is useful for a
// four-samples-per-symbol signal.
#pragma once

#include <cstdint>

constexpr uint32_t LOWEST_DEVICE_SAMPLE_RATE = 100;
constexpr uint32_t HIGHEST_DEVICE_SAMPLE_RATE = 384000;

constexpr bool IsDeviceSampleRate(uint32_t samplesPerSecond)
{
    return samplesPerSecond >= LOWEST_DEVICE_SAMPLE_RATE
        && samplesPerSecond <= HIGHEST_DEVICE_SAMPLE_RATE;
}
