#include "audio/alsa_stream.h"
#include "audio/alsa_support.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Clock points kept between two TakeClockPoints calls, at most.
constexpr size_t CLOCK_POINT_LIMIT = 1 << 16;

class AlsaStream : public AudioStream {
public:
    AlsaStream(AudioDirection direction, int sampleRate, snd_pcm_t* pcm, std::string name, snd_pcm_uframes_t period,
               snd_pcm_uframes_t buffer)
        : AudioStream(direction, sampleRate), pcm(pcm), name(std::move(name)), period(period), buffer(buffer)
    {
    }
    ~AlsaStream() override
    {
        Stop();
        snd_pcm_close(pcm);
    }

    AudioResult Read(int16_t* samples, size_t count, size_t& done, int timeoutMs) override
    {
        done = 0;
        if (lost)
            return AudioResult::Lost;
        if (Direction() != AudioDirection::Capture)
            return Misuse("Read on a playback stream");
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
            const int err = snd_pcm_start(pcm);
            if (err < 0 && !Recover(err))
                return AudioResult::Lost;
        }
        while (count > 0) {
            const snd_pcm_sframes_t got = snd_pcm_readi(pcm, samples, count);
            if (got > 0) {
                done = static_cast<size_t>(got);
                frames += done;
                NoteClockPoint();
                return AudioResult::Ok;
            }
            const AudioResult waited = got == -EAGAIN || got == 0 ? WaitUntil(deadline) : RecoverOrLose(static_cast<int>(got));
            if (waited != AudioResult::Ok)
                return waited;
            if (interrupted) {  // a signal: back to the caller, which may want to stop
                interrupted = false;
                return AudioResult::Ok;
            }
        }
        return AudioResult::Ok;
    }

    AudioResult Write(const int16_t* samples, size_t count, size_t& done, int timeoutMs) override
    {
        done = 0;
        if (lost)
            return AudioResult::Lost;
        if (Direction() != AudioDirection::Playback)
            return Misuse("Write on a capture stream");
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (count > 0) {
            const snd_pcm_sframes_t put = snd_pcm_writei(pcm, samples, count);
            if (put > 0) {
                done = static_cast<size_t>(put);
                frames += done;
                NoteClockPoint();
                return AudioResult::Ok;
            }
            const AudioResult waited = put == -EAGAIN || put == 0 ? WaitUntil(deadline) : RecoverOrLose(static_cast<int>(put));
            if (waited != AudioResult::Ok)
                return waited;
            if (interrupted) {  // a signal: back to the caller, which may want to stop
                interrupted = false;
                return AudioResult::Ok;
            }
        }
        return AudioResult::Ok;
    }

    AudioResult Drain(int timeoutMs) override
    {
        if (lost)
            return AudioResult::Lost;
        if (Direction() != AudioDirection::Playback || frames == 0)
            return AudioResult::Ok;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        // Less than a buffer written: the stream waits for its start
        // threshold; start it by hand.
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
            const int err = snd_pcm_start(pcm);
            if (err < 0)
                return Lose(err, "starting");
        }
        // Not snd_pcm_drain: in non-blocking mode the plugins differ in
        // how its end shows, and some (pulse) never let the delay reach
        // nothing. What is queued has played once the delay is gone, the
        // stream has run dry (the underrun at the end is the end, not an
        // xrun), or the time it takes to play has passed.
        snd_pcm_sframes_t queued = 0;
        int err = snd_pcm_delay(pcm, &queued);
        if (err == -EPIPE || (err == 0 && queued <= 0))
            return AudioResult::Ok;
        if (err < 0)
            return Lose(err, "draining");
        const auto playedOut = Clock::now() + std::chrono::milliseconds(1000 * queued / SampleRate() + 100);
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

    void Stop() override
    {
        if (!stopped)
            snd_pcm_drop(pcm);
        stopped = true;
    }

    std::vector<AudioXrun> TakeXruns() override
    {
        std::vector<AudioXrun> taken;
        taken.swap(xruns);
        return taken;
    }

    std::vector<AudioClockPoint> TakeClockPoints() override
    {
        std::vector<AudioClockPoint> taken;
        taken.swap(points);
        return taken;
    }

    std::string ErrorText() const override { return error; }

    // A hw PCM, or alsa-lib's own converters over one, passes on the
    // driver's stamps of its interrupts; a plugin of an audio server
    // (pulse, pipewire: ioplug) stamps what the server says, and anything
    // else is taken for the same.
    double LatenessDriftSeconds() const override
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

private:
    AudioResult Misuse(const std::string& what)
    {
        error = what;
        return AudioResult::Lost;
    }

    // Waits for the device until `deadline`: Ok when it is ready (or a
    // signal came: the caller may want to look at its flags), Timeout,
    // or Lost.
    AudioResult WaitUntil(Clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return AudioResult::Timeout;
        const int ready = snd_pcm_wait(pcm, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready >= 0)
            return AudioResult::Ok;
        if (ready == -EINTR) {
            interrupted = true;
            return AudioResult::Ok;
        }
        return RecoverOrLose(ready);
    }

    AudioResult RecoverOrLose(int err) { return Recover(err) ? AudioResult::Ok : AudioResult::Lost; }

    // An xrun or a suspend: reported, and the stream prepared again
    // (capture also started again). False, with the stream lost, for
    // anything else or when that fails.
    bool Recover(int err)
    {
        if (err == -EPIPE || err == -ESTRPIPE) {
            xruns.push_back({frames, static_cast<double>(frames) / SampleRate()});
            ++segment;
            int fixed = 0;
            if (err == -ESTRPIPE) {
                const auto deadline = Clock::now() + std::chrono::seconds(1);
                while ((fixed = snd_pcm_resume(pcm)) == -EAGAIN && Clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (fixed < 0)
                    fixed = snd_pcm_prepare(pcm);
            } else
                fixed = snd_pcm_prepare(pcm);
            if (fixed == 0 && Direction() == AudioDirection::Capture)
                fixed = snd_pcm_start(pcm);
            if (fixed == 0)
                return true;
            Lose(fixed, err == -EPIPE ? "recovering from an xrun" : "resuming after a suspend");
            return false;
        }
        Lose(err, Direction() == AudioDirection::Capture ? "reading" : "writing");
        return false;
    }

    AudioResult Lose(int err, const char* during)
    {
        lost = true;
        error = std::string("the ") + DirectionWord(Direction()) + " device " + Quoted(name) + " failed while " + during +
                ": " + AlsaErrorWords(err);
        return AudioResult::Lost;
    }

    // Where the stream is, stamped by the sound system, about once a period.
    void NoteClockPoint()
    {
        if (!points.empty() && frames - lastPointFrames < period)
            return;
        snd_pcm_status_t* status = nullptr;
        snd_pcm_status_alloca(&status);
        if (snd_pcm_status(pcm, status) < 0 || snd_pcm_status_get_state(status) != SND_PCM_STATE_RUNNING)
            return;
        snd_htimestamp_t stamp{};
        snd_pcm_status_get_htstamp(status, &stamp);
        if (stamp.tv_sec == 0 && stamp.tv_nsec == 0)
            return;
        // The device's pointer: what it has captured, or taken to play.
        // Not the playback's delay: through an audio server's plugin that
        // is the server's interpolated latency, which wanders by tenths of
        // a millisecond over seconds (tens of ppm over a minute); the
        // pointer moves when the server takes samples, on its own clock.
        // On a card the two differ by the constant lag of its FIFO.
        const int64_t avail = static_cast<int64_t>(snd_pcm_status_get_avail(status));
        int64_t position = static_cast<int64_t>(frames);
        if (Direction() == AudioDirection::Capture)
            position += avail;
        else
            position -= static_cast<int64_t>(buffer) - avail;
        if (position < 0)
            return;
        if (points.size() >= CLOCK_POINT_LIMIT)
            points.erase(points.begin(), points.begin() + CLOCK_POINT_LIMIT / 2);
        points.push_back({static_cast<uint64_t>(position), static_cast<double>(stamp.tv_sec) + stamp.tv_nsec * 1e-9, segment});
        lastPointFrames = frames;
    }

    snd_pcm_t* pcm;
    std::string name;
    snd_pcm_uframes_t period;
    snd_pcm_uframes_t buffer;
    uint64_t frames = 0;  // read or written so far
    uint64_t lastPointFrames = 0;
    uint32_t segment = 0;
    bool lost = false;
    bool stopped = false;
    bool interrupted = false;
    std::string error;
    std::vector<AudioXrun> xruns;
    std::vector<AudioClockPoint> points;
};

}  // namespace

std::unique_ptr<AudioStream> MakeAlsaStream(AudioDirection direction, int sampleRate, snd_pcm_t* pcm, std::string name,
                                            snd_pcm_uframes_t period, snd_pcm_uframes_t buffer)
{
    return std::make_unique<AlsaStream>(direction, sampleRate, pcm, std::move(name), period, buffer);
}
