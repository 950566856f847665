// A stream's life as one state, with the moves between states the backends
// make (both backends, the same machine):
//
//   Ready --Run (first read or write)--> Running --End (drain)--> Ending
//   Ending --Run (written again)--> Running
//   Ready, Running, Ending --Lose (a failure)--> Lost
//   any --Stop--> Stopped
//
// Lost and Stopped are final but for Stop, which releases a lost stream's
// device too. A move the table does not have leaves the state as it is.
#pragma once

#include <string>

enum class StreamState {
    Ready,    // opened and configured; nothing moved yet
    Running,  // moving samples
    Ending,   // playback: Drain has begun; what runs dry now is the end, not an underrun
    Lost,     // failed for good: Words() says why
    Stopped,  // Stop() ended it; the device is released
};

class StreamLife {
public:
    StreamState State() const { return state; }
    // Samples may still move: Ready, Running or Ending.
    bool Usable() const { return state == StreamState::Ready || state == StreamState::Running || state == StreamState::Ending; }

    void Run();
    void End();
    // The first words of a failure are kept: what follows is mostly its
    // echo. A stopped stream keeps its state but takes the words, so a
    // call on it says why it failed.
    void Lose(const std::string& why);
    // True when this call stopped the stream: the caller releases the device.
    bool Stop();

    const std::string& Words() const { return words; }

private:
    StreamState state = StreamState::Ready;
    std::string words;
};
