// An open, configured ALSA PCM as both kinds of stream drive it: every wait
// on it bounded by the caller's deadline; xruns and suspends recovered and
// put on the stream's timeline with its position, anything else the
// stream's loss, in the device's own words; a clock point from the
// device's pointer and the status's timestamp about once a period.
#pragma once

#include "audio/alsa_params.h"
#include "audio/audio_device.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <functional>
#include <string>

class AlsaPcm {
public:
    // Takes over `pcm` (non-blocking, prepared, with timestamps on the
    // monotonic clock) and closes it at the end; reports to the stream's
    // `timeline` and `life`.
    AlsaPcm(snd_pcm_t* pcm, std::string name, AudioDirection direction, int sampleRate, const AlsaSetup& setup,
            StreamTimeline& timeline, StreamLife& life);
    ~AlsaPcm();
    AlsaPcm(const AlsaPcm&) = delete;
    AlsaPcm& operator=(const AlsaPcm&) = delete;

    // snd_pcm_readi or snd_pcm_writei of up to `frames` frames.
    using Transfer = std::function<snd_pcm_sframes_t(snd_pcm_uframes_t frames)>;

    // Moves up to `frames` frames with `transfer`, waiting for the device
    // until `timeoutMs` has passed; `done` gets the frames moved. Ok also
    // when a signal ended the wait (the caller may want to stop).
    AudioResult Move(size_t frames, size_t& done, int timeoutMs, const Transfer& transfer);
    // Capture: starts the device if it is only prepared.
    AudioResult Start();
    // Playback: waits until what was written has played.
    AudioResult Drain(int timeoutMs);
    // Drops what is queued.
    void Drop() { snd_pcm_drop(pcm); }

    snd_pcm_t* Handle() const { return pcm; }
    double LatenessDriftSeconds() const;

private:
    enum class Wait { Ready, Interrupted, Timeout, Lost };
    using Clock = std::chrono::steady_clock;

    Wait WaitUntil(Clock::time_point deadline);
    bool Recover(int err);
    bool ResumeOrPrepare(int err);
    AudioResult Lose(int err, const char* during);
    void NoteClockPoint();

    snd_pcm_t* pcm;
    std::string name;
    AudioDirection direction;
    int sampleRate;
    AlsaSetup setup;
    StreamTimeline& timeline;
    StreamLife& life;
    uint64_t lastPointFrames = 0;
};
