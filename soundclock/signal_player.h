// The test signal played in a thread of its own while the main thread
// records (loop, calibrate): the playback's clock stamps taken by the
// thread that drives it, its underruns handed to the main thread as
// notes to print, and its end.
#pragma once

#include "soundclock/live_audio.h"
#include "soundclock/loop_rates.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SignalPlayer {
public:
    // Starts playing `signal` on `stream` (on `signalChannels`, silence on
    // the others) until Stop(), Ctrl-C, or the device is lost.
    SignalPlayer(AudioPlayback& stream, const SignalChoice& signal, uint32_t signalChannels);
    ~SignalPlayer();
    SignalPlayer(const SignalPlayer&) = delete;
    SignalPlayer& operator=(const SignalPlayer&) = delete;

    // Whether the playback has ended by itself (lost, or Ctrl-C).
    bool Ended() const { return ended.load(); }
    // The underruns' words since the last call, for the main thread to print.
    std::vector<std::string> TakeNotes();
    int64_t Underruns();
    // Ends the playback and waits for the thread; then End() and Stamps()
    // hold the whole run.
    void Stop();
    const DeviceRunEnd& End() const { return end; }
    const StampLog& Stamps() const { return stamps; }

private:
    AudioPlayback& stream;
    std::mutex mutex;
    std::vector<std::string> notes;
    int64_t underruns = 0;
    std::atomic<bool> stopping{false}, ended{false};
    DeviceRunEnd end;
    StampLog stamps;
    std::thread thread;
};
