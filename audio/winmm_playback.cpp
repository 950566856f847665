// An underrun is the driver running dry while the stream plays: every
// queued buffer came back before the next was written. It is found when
// the buffers are next looked at, at the position where the written stream
// ran out; the card then played silence for a time nobody measured.
#include "audio/winmm_playback.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace {

constexpr size_t NO_BUFFER = static_cast<size_t>(-1);

class WinmmPlayback final : public WinmmStream {
public:
    WinmmPlayback(WaveOutDevice& device, const std::string& label, int sampleRate,
                  const WinmmStreamSettings& settings)
        : WinmmStream(AudioDirection::Playback, sampleRate, label, settings), device(device)
    {
    }
    ~WinmmPlayback() override { Stop(); }

    // Opens the device and prepares every buffer; false with `error` set.
    bool Open(UINT deviceId, std::string& error);

    AudioResult Read(int16_t*, size_t, size_t& done, int) override;
    AudioResult Write(const int16_t* samples, size_t count, size_t& done, int timeoutMs) override;
    AudioResult Drain(int timeoutMs) override;
    void Stop() override;

private:
    void CollectReturned();
    // Copies what fits into the buffer being filled (taking a free one when
    // none is) and queues it once full; the number of samples taken.
    size_t Fill(const int16_t* samples, size_t count);
    void QueueFilling();
    bool PrepareForLength(size_t index, size_t sampleCount);

    WaveOutDevice& device;
    HWAVEOUT handle = nullptr;
    std::deque<size_t> freeBuffers;
    size_t filling = NO_BUFFER;
    size_t filled = 0;
    uint64_t playedFrames = 0;
    // Drain or Stop has begun: a queue that runs dry now is the end of the
    // stream, not an underrun.
    bool ending = false;
};

bool WinmmPlayback::Open(UINT deviceId, std::string& error)
{
    if (!HasEvent()) {
        error = label + ": no event to wait on the device with";
        return false;
    }
    WAVEFORMATEX format{};
    SetWaveFormat(format, 1, SampleRate(), 16);
    const MMRESULT opened = device.Open(&handle, deviceId, &format, EventCallback(), 0, CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
        handle = nullptr;
        error = "cannot open " + label + ", 16-bit mono: " + DriverText(device, opened, "waveOutOpen");
        return false;
    }
    for (size_t i = 0; i < BufferCount(); ++i) {
        SetWaveHeader(Header(i), Bytes(i), static_cast<DWORD>(BufferSamples() * 2), 0);
        const MMRESULT prepared = device.PrepareHeader(handle, &Header(i), WAVE_HEADER_SIZE);
        if (prepared != MMSYSERR_NOERROR) {
            error = "cannot open " + label + ": " + DriverText(device, prepared, "waveOutPrepareHeader");
            Stop();
            return false;
        }
        freeBuffers.push_back(i);
    }
    return true;
}

AudioResult WinmmPlayback::Read(int16_t*, size_t, size_t& done, int)
{
    done = 0;
    MarkLost("a playback stream cannot be read");
    return AudioResult::Lost;
}

AudioResult WinmmPlayback::Write(const int16_t* samples, size_t count, size_t& done, int timeoutMs)
{
    done = 0;
    if (handle == nullptr)
        MarkLost("the stream was stopped");
    ending = false;
    const double deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        CollectReturned();
        while (!IsLost() && done < count) {
            const size_t taken = Fill(samples + done, count - done);
            if (taken == 0)
                break;
            done += taken;
        }
        if (IsLost() || CheckStall())
            return AudioResult::Lost;
        if (done == count)
            return AudioResult::Ok;
        if (PerformanceCounterSeconds() >= deadline)
            return done > 0 ? AudioResult::Ok : AudioResult::Timeout;
        WaitForReturn(deadline);
    }
}

AudioResult WinmmPlayback::Drain(int timeoutMs)
{
    if (handle == nullptr)
        MarkLost("the stream was stopped");
    ending = true;
    if (filling != NO_BUFFER && filled > 0 && !IsLost())
        QueueFilling();
    const double deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        CollectReturned();
        if (IsLost() || CheckStall())
            return AudioResult::Lost;
        if (QueuedCount() == 0)
            return AudioResult::Ok;
        if (PerformanceCounterSeconds() >= deadline)
            return AudioResult::Timeout;
        WaitForReturn(deadline);
    }
}

// Reset gives every queued buffer back at once; only then may the headers
// be unprepared and the device closed.
void WinmmPlayback::Stop()
{
    if (handle == nullptr)
        return;
    ending = true;
    device.Reset(handle);
    for (size_t i = 0; i < BufferCount(); ++i)
        device.UnprepareHeader(handle, &Header(i), WAVE_HEADER_SIZE);
    device.Close(handle);
    handle = nullptr;
    if (AnyHeaderInQueue())
        AbandonBuffers();
}

void WinmmPlayback::CollectReturned()
{
    const std::vector<size_t> returned = TakeReturned();
    for (size_t index : returned) {
        playedFrames += Header(index).dwBufferLength / 2;
        freeBuffers.push_back(index);
    }
    if (returned.empty())
        return;
    AddClockPoint(playedFrames);
    if (QueuedCount() == 0 && !ending)
        AddXrun(playedFrames);
}

size_t WinmmPlayback::Fill(const int16_t* samples, size_t count)
{
    if (filling == NO_BUFFER) {
        if (freeBuffers.empty())
            return 0;
        filling = freeBuffers.front();
        freeBuffers.pop_front();
        filled = 0;
    }
    const size_t taken = std::min(count, BufferSamples() - filled);
    std::memcpy(Samples(filling) + filled, samples, taken * sizeof *samples);
    filled += taken;
    if (filled == BufferSamples())
        QueueFilling();
    return taken;
}

void WinmmPlayback::QueueFilling()
{
    const size_t index = filling;
    filling = NO_BUFFER;
    if (!PrepareForLength(index, filled))
        return;
    const MMRESULT written = device.Write(handle, &Header(index), WAVE_HEADER_SIZE);
    if (written != MMSYSERR_NOERROR) {
        freeBuffers.push_back(index);
        MarkLost(DriverText(device, written, "waveOutWrite"));
        return;
    }
    NoteQueued(index);
}

// A header is prepared for its length: the shorter last buffer of a drain,
// and the full one after it, are prepared again.
bool WinmmPlayback::PrepareForLength(size_t index, size_t sampleCount)
{
    WAVEHDR& header = Header(index);
    const auto bytes = static_cast<DWORD>(sampleCount * 2);
    if (header.dwBufferLength == bytes)
        return true;
    MMRESULT result = device.UnprepareHeader(handle, &header, WAVE_HEADER_SIZE);
    if (result == MMSYSERR_NOERROR) {
        SetWaveHeader(header, Bytes(index), bytes, 0);
        result = device.PrepareHeader(handle, &header, WAVE_HEADER_SIZE);
    }
    if (result != MMSYSERR_NOERROR) {
        freeBuffers.push_back(index);
        MarkLost(DriverText(device, result, "waveOutPrepareHeader"));
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<AudioStream> OpenWinmmPlayback(WaveOutDevice& device, UINT deviceId, const std::string& label,
                                               int sampleRate, const WinmmStreamSettings& settings,
                                               std::string& error)
{
    auto stream = std::make_unique<WinmmPlayback>(device, label, sampleRate, settings);
    if (!stream->Open(deviceId, error))
        return nullptr;
    return stream;
}
