// What a program without a window needs to wait for a wave device: an
// auto-reset event the driver signals (CALLBACK_EVENT) whenever it opens,
// returns a buffer or closes, and the performance counter to stamp the
// moment a wait ended.
#pragma once

#include <windows.h>

class WaveEvent {
public:
    WaveEvent();
    ~WaveEvent();
    WaveEvent(const WaveEvent&) = delete;
    WaveEvent& operator=(const WaveEvent&) = delete;

    // False when the system had no event to give (Callback() is then 0).
    bool IsValid() const { return handle != nullptr; }
    // The open call's callback argument, with CALLBACK_EVENT in its flags.
    DWORD_PTR Callback() const { return reinterpret_cast<DWORD_PTR>(handle); }
    // Waits up to `timeoutMs` (0: only looks); true when the event was set.
    // One set wakes one wait, however many buffers came back before it: the
    // caller looks at every header's flags after each wake-up.
    bool Wait(int timeoutMs);

private:
    HANDLE handle;
};

// The performance counter in seconds: monotonic, and the system's finest
// clock for when a wait ended.
double PerformanceCounterSeconds();
