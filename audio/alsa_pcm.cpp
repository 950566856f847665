#include "audio/alsa_pcm.h"
#include "audio/alsa_support.h"

#include <algorithm>
#include <cerrno>
#include <thread>

AlsaPcm::AlsaPcm(snd_pcm_t* pcm, std::string name, AudioDirection direction, int sampleRate, const AlsaSetup& setup,
                 StreamTimeline& timeline, StreamLife& life)
    : pcm(pcm), name(std::move(name)), direction(direction), sampleRate(sampleRate), setup(setup), timeline(timeline),
      life(life)
{
}

AlsaPcm::~AlsaPcm()
{
    snd_pcm_close(pcm);
}

AudioResult AlsaPcm::Move(size_t frames, size_t& done, int timeoutMs, const Transfer& transfer)
{
    done = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (frames > 0) {
        const snd_pcm_sframes_t moved = transfer(frames);
        if (moved > 0) {
            done = static_cast<size_t>(moved);
            timeline.Advance(done);
            NoteClockPoint();
            return AudioResult::Ok;
        }
        const Wait waited = moved == -EAGAIN || moved == 0 ? WaitUntil(deadline)
                            : Recover(static_cast<int>(moved)) ? Wait::Ready
                                                               : Wait::Lost;
        switch (waited) {
        case Wait::Ready: break;
        case Wait::Interrupted: return AudioResult::Ok;  // a signal: back to the caller, which may want to stop
        case Wait::Timeout: return AudioResult::Timeout;
        case Wait::Lost: return AudioResult::Lost;
        }
    }
    return AudioResult::Ok;
}

AudioResult AlsaPcm::Start()
{
    if (snd_pcm_state(pcm) != SND_PCM_STATE_PREPARED)
        return AudioResult::Ok;
    const int err = snd_pcm_start(pcm);
    return err < 0 && !Recover(err) ? AudioResult::Lost : AudioResult::Ok;
}

AudioResult AlsaPcm::Drain(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Less than a buffer written: the stream waits for its start
    // threshold; start it by hand.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
        const int err = snd_pcm_start(pcm);
        if (err < 0)
            return Lose(err, "starting");
    }
    // Not snd_pcm_drain: in non-blocking mode the plugins differ in how its
    // end shows, and some (pulse) never let the delay reach nothing. What
    // is queued has played once the delay is gone, the stream has run dry
    // (the underrun at the end is the end, not an xrun), or the time it
    // takes to play has passed.
    snd_pcm_sframes_t queued = 0;
    int err = snd_pcm_delay(pcm, &queued);
    if (err == -EPIPE || (err == 0 && queued <= 0))
        return AudioResult::Ok;
    if (err < 0)
        return Lose(err, "draining");
    const auto playedOut = Clock::now() + std::chrono::milliseconds(1000 * queued / sampleRate + 100);
    if (playedOut > deadline)
        return AudioResult::Timeout;
    while (Clock::now() < playedOut) {
        snd_pcm_sframes_t delay = 0;
        err = snd_pcm_delay(pcm, &delay);
        if (err == -EPIPE || (err == 0 && delay <= 0))
            return AudioResult::Ok;
        if (err < 0 && err != -EAGAIN)
            return Lose(err, "draining");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return AudioResult::Ok;
}

// A hw PCM, or alsa-lib's own converters over one, passes on the driver's
// stamps of its interrupts; a plugin of an audio server (pulse, pipewire:
// ioplug) stamps what the server says, and anything else is taken for the
// same.
double AlsaPcm::LatenessDriftSeconds() const
{
    switch (snd_pcm_type(pcm)) {
    case SND_PCM_TYPE_HW:
    case SND_PCM_TYPE_PLUG:
    case SND_PCM_TYPE_LINEAR:
    case SND_PCM_TYPE_RATE:
    case SND_PCM_TYPE_ROUTE:
    case SND_PCM_TYPE_COPY: return CARD_LATENESS_DRIFT_S;
    default: return SERVER_LATENESS_DRIFT_S;
    }
}

// Waits in snd_pcm_wait, a second at most at a time, until the device is
// ready or `deadline`.
AlsaPcm::Wait AlsaPcm::WaitUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return Wait::Timeout;
    const int ready = snd_pcm_wait(pcm, static_cast<int>(std::min<long long>(left, 1000)));
    if (ready >= 0)
        return Wait::Ready;
    if (ready == -EINTR)
        return Wait::Interrupted;
    return Recover(ready) ? Wait::Ready : Wait::Lost;
}

// An xrun or a suspend: put on the timeline, and the stream prepared again
// (a capture also started again). False, with the stream lost, for
// anything else or when that fails.
bool AlsaPcm::Recover(int err)
{
    if (err != -EPIPE && err != -ESTRPIPE) {
        Lose(err, direction == AudioDirection::Capture ? "reading" : "writing");
        return false;
    }
    timeline.AddXrun();
    return ResumeOrPrepare(err);
}

bool AlsaPcm::ResumeOrPrepare(int err)
{
    int fixed = 0;
    if (err == -ESTRPIPE) {
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while ((fixed = snd_pcm_resume(pcm)) == -EAGAIN && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (fixed < 0)
            fixed = snd_pcm_prepare(pcm);
    } else
        fixed = snd_pcm_prepare(pcm);
    if (fixed == 0 && direction == AudioDirection::Capture)
        fixed = snd_pcm_start(pcm);
    if (fixed == 0)
        return true;
    Lose(fixed, err == -EPIPE ? "recovering from an xrun" : "resuming after a suspend");
    return false;
}

AudioResult AlsaPcm::Lose(int err, const char* during)
{
    life.Lose(std::string("the ") + DirectionWord(direction) + " device " + Quoted(name) + " failed while " + during +
              ": " + AlsaErrorWords(err));
    return AudioResult::Lost;
}

// Where the stream is, stamped by the sound system, about once a period.
void AlsaPcm::NoteClockPoint()
{
    const uint64_t frames = timeline.Position();
    if (timeline.PointsWaiting() && frames - lastPointFrames < setup.period)
        return;
    snd_pcm_status_t* status = nullptr;
    snd_pcm_status_alloca(&status);
    if (snd_pcm_status(pcm, status) < 0 || snd_pcm_status_get_state(status) != SND_PCM_STATE_RUNNING)
        return;
    snd_htimestamp_t stamp{};
    snd_pcm_status_get_htstamp(status, &stamp);
    if (stamp.tv_sec == 0 && stamp.tv_nsec == 0)
        return;
    // The device's pointer: what it has captured, or taken to play. Not
    // the playback's delay: through an audio server's plugin that is the
    // server's interpolated latency, which wanders on its own
    // (docs/accuracy.md#playback-delay-wanders); the pointer moves when the
    // server takes samples, on its own clock. On a card the two differ by
    // the constant lag of its FIFO.
    const int64_t avail = static_cast<int64_t>(snd_pcm_status_get_avail(status));
    int64_t position = static_cast<int64_t>(frames);
    if (direction == AudioDirection::Capture)
        position += avail;
    else
        position -= static_cast<int64_t>(setup.buffer) - avail;
    if (position < 0)
        return;
    timeline.AddClockPoint(static_cast<uint64_t>(position), static_cast<double>(stamp.tv_sec) + stamp.tv_nsec * 1e-9);
    lastPointFrames = frames;
}
