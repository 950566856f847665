// An underrun is the driver running dry while the stream plays: every
// queued buffer came back before the next was written. It is found when
// the buffers are next looked at, at the position where the written stream
// ran out; the card then played silence for a time nobody measured.
#include "audio/winmm_playback.h"
#include "platform/wine.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace {

constexpr size_t NO_BUFFER = static_cast<size_t>(-1);

class WinmmPlayback final : public AudioPlayback {
public:
    WinmmPlayback(WaveOutDevice& device, const std::string& label, int sampleRate, const WinmmStreamSettings& settings)
        : AudioPlayback(sampleRate), ring(label, AudioDirection::Playback, sampleRate, settings, timeline, life), device(device)
    {
    }
    ~WinmmPlayback() override { Stop(); }

    // Opens the device and prepares every buffer; false with `error` set.
    bool Open(UINT deviceId, int channels, std::string& error);

    AudioResult Write(const int16_t* samples, size_t frames, size_t& done, int timeoutMs) override;
    AudioResult Drain(int timeoutMs) override;
    void Stop() override;
    bool ClockPointsTimeTheCard() const override { return !RunningUnderWine(); }

private:
    void CollectReturned();
    // Copies what fits into the buffer being filled (taking a free one when
    // none is) and queues it once full; the number of frames taken.
    size_t Fill(const int16_t* samples, size_t frames);
    void QueueFilling();
    bool PrepareForLength(size_t index, size_t frames);

    WinmmRing ring;
    WaveOutDevice& device;
    HWAVEOUT handle = nullptr;
    std::deque<size_t> freeBuffers;
    size_t filling = NO_BUFFER;
    size_t filled = 0;  // frames in the buffer being filled
    std::vector<int32_t> wide;  // a 16-bit frame widened, for a device that refuses 16 bits
};

bool WinmmPlayback::Open(UINT deviceId, int channels, std::string& error)
{
    WinmmFormat opened;
    if (!ring.Open(device, handle, deviceId, PlaybackFormats(channels), "waveOutOpen", opened, error))
        return false;
    SetLayout(opened.channels, opened.encoding);
    for (size_t i = 0; i < ring.BufferCount(); ++i) {
        SetWaveHeader(ring.Header(i), ring.Bytes(i), static_cast<DWORD>(ring.BufferFrames() * ring.FrameBytes()), 0);
        const MMRESULT prepared = device.PrepareHeader(handle, &ring.Header(i), WAVE_HEADER_SIZE);
        if (prepared != MMSYSERR_NOERROR) {
            error = "cannot open " + ring.label + ": " + DriverText(device, prepared, "waveOutPrepareHeader");
            Stop();
            return false;
        }
        freeBuffers.push_back(i);
    }
    return true;
}

AudioResult WinmmPlayback::Write(const int16_t* samples, size_t frames, size_t& done, int timeoutMs)
{
    done = 0;
    if (life.State() == StreamState::Stopped)
        ring.MarkLost("the stream was stopped");
    life.Run();
    const double deadline = WinmmRing::DeadlineAfter(timeoutMs);
    const size_t channels = static_cast<size_t>(Channels());
    for (;;) {
        CollectReturned();
        while (life.Usable() && done < frames) {
            const size_t taken = Fill(samples + done * channels, frames - done);
            if (taken == 0)
                break;
            done += taken;
        }
        if (ring.CheckStall())
            return AudioResult::Lost;
        if (done == frames)
            return AudioResult::Ok;
        if (PerformanceCounterSeconds() >= deadline)
            return done > 0 ? AudioResult::Ok : AudioResult::Timeout;
        ring.WaitForReturn(deadline);
    }
}

AudioResult WinmmPlayback::Drain(int timeoutMs)
{
    if (life.State() == StreamState::Stopped)
        ring.MarkLost("the stream was stopped");
    life.End();
    if (filling != NO_BUFFER && filled > 0 && life.Usable())
        QueueFilling();
    const double deadline = WinmmRing::DeadlineAfter(timeoutMs);
    for (;;) {
        CollectReturned();
        if (ring.CheckStall())
            return AudioResult::Lost;
        if (ring.QueuedCount() == 0)
            return AudioResult::Ok;
        if (PerformanceCounterSeconds() >= deadline)
            return AudioResult::Timeout;
        ring.WaitForReturn(deadline);
    }
}

void WinmmPlayback::Stop()
{
    if (life.Stop())
        ring.Close(device, handle);
}

void WinmmPlayback::CollectReturned()
{
    const std::vector<size_t> returned = ring.TakeReturned();
    for (size_t index : returned) {
        timeline.Advance(ring.Header(index).dwBufferLength / ring.FrameBytes());
        freeBuffers.push_back(index);
    }
    if (returned.empty())
        return;
    ring.AddClockPoint();
    // Run dry while Ending is the end of the stream, not an underrun.
    if (ring.QueuedCount() == 0 && life.State() == StreamState::Running)
        timeline.AddXrun();
}

size_t WinmmPlayback::Fill(const int16_t* samples, size_t frames)
{
    if (filling == NO_BUFFER) {
        if (freeBuffers.empty())
            return 0;
        filling = freeBuffers.front();
        freeBuffers.pop_front();
        filled = 0;
    }
    const size_t taken = std::min(frames, ring.BufferFrames() - filled);
    const size_t count = taken * static_cast<size_t>(Channels());
    char* at = ring.Bytes(filling) + filled * ring.FrameBytes();
    if (DeviceEncoding() == SampleEncoding::S16) {
        std::memcpy(at, samples, count * sizeof *samples);
    } else {
        wide.resize(count);
        for (size_t i = 0; i < count; ++i)
            wide[i] = static_cast<int32_t>(samples[i]) * 65536;
        EncodeSamples(DeviceEncoding(), wide.data(), count, reinterpret_cast<unsigned char*>(at));
    }
    filled += taken;
    if (filled == ring.BufferFrames())
        QueueFilling();
    return taken;
}

void WinmmPlayback::QueueFilling()
{
    const size_t index = filling;
    filling = NO_BUFFER;
    if (!PrepareForLength(index, filled))
        return;
    const MMRESULT written = device.Write(handle, &ring.Header(index), WAVE_HEADER_SIZE);
    if (written != MMSYSERR_NOERROR) {
        freeBuffers.push_back(index);
        ring.MarkLost(DriverText(device, written, "waveOutWrite"));
        return;
    }
    ring.NoteQueued(index);
}

// A header is prepared for its length: the shorter last buffer of a drain,
// and the full one after it, are prepared again.
bool WinmmPlayback::PrepareForLength(size_t index, size_t frames)
{
    WAVEHDR& header = ring.Header(index);
    const auto bytes = static_cast<DWORD>(frames * ring.FrameBytes());
    if (header.dwBufferLength == bytes)
        return true;
    MMRESULT result = device.UnprepareHeader(handle, &header, WAVE_HEADER_SIZE);
    if (result == MMSYSERR_NOERROR) {
        SetWaveHeader(header, ring.Bytes(index), bytes, 0);
        result = device.PrepareHeader(handle, &header, WAVE_HEADER_SIZE);
    }
    if (result != MMSYSERR_NOERROR) {
        freeBuffers.push_back(index);
        ring.MarkLost(DriverText(device, result, "waveOutPrepareHeader"));
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<AudioPlayback> OpenWinmmPlayback(WaveOutDevice& device, UINT deviceId, const std::string& label,
                                                 int sampleRate, int channels, const WinmmStreamSettings& settings,
                                                 std::string& error)
{
    auto stream = std::make_unique<WinmmPlayback>(device, label, sampleRate, settings);
    if (!stream->Open(deviceId, channels, error))
        return nullptr;
    return stream;
}
