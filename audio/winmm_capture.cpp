// An overrun is every buffer back, full, with none queued: the driver had
// nowhere to put what the card recorded next, and that is lost. It is found
// when the buffers are next looked at, at the position where the kept
// samples end.
#include "audio/winmm_capture.h"

#include <algorithm>
#include <deque>

namespace {

class WinmmCapture final : public WinmmStream {
public:
    WinmmCapture(WaveInDevice& device, const std::string& label, int sampleRate, const WinmmStreamSettings& settings)
        : WinmmStream(AudioDirection::Capture, sampleRate, label, settings), device(device)
    {
    }
    ~WinmmCapture() override { Stop(); }

    // Opens the device, queues the ring and starts; false with `error` set.
    bool Open(UINT deviceId, std::string& error);

    AudioResult Read(int16_t* samples, size_t count, size_t& done, int timeoutMs) override;
    AudioResult Write(const int16_t*, size_t, size_t& done, int) override;
    AudioResult Drain(int) override { return IsLost() ? AudioResult::Lost : AudioResult::Ok; }
    void Stop() override;

private:
    // Recording starts at the first read, not at the open: a program that
    // opens its other device (or does anything else) in between would
    // otherwise find the ring overrun before it read a sample.
    void StartRecording();
    void CollectReturned();
    // Hands buffer `index` to the driver; a refusal loses the device.
    MMRESULT Queue(size_t index);

    WaveInDevice& device;
    HWAVEIN handle = nullptr;
    std::deque<int16_t> captured;  // back from the driver, not yet read
    uint64_t capturedFrames = 0;
    bool started = false;
};

bool WinmmCapture::Open(UINT deviceId, std::string& error)
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
        error = "cannot open " + label + ", 16-bit mono: " + DriverText(device, opened, "waveInOpen");
        return false;
    }
    MMRESULT result = MMSYSERR_NOERROR;
    const char* call = "waveInPrepareHeader";
    for (size_t i = 0; i < BufferCount() && result == MMSYSERR_NOERROR; ++i) {
        SetWaveHeader(Header(i), Bytes(i), static_cast<DWORD>(BufferSamples() * 2), 0);
        result = device.PrepareHeader(handle, &Header(i), WAVE_HEADER_SIZE);
        if (result == MMSYSERR_NOERROR) {
            call = "waveInAddBuffer";
            result = Queue(i);
        }
    }
    if (result != MMSYSERR_NOERROR) {
        error = "cannot start " + label + ": " + DriverText(device, result, call);
        Stop();
        return false;
    }
    return true;
}

AudioResult WinmmCapture::Read(int16_t* samples, size_t count, size_t& done, int timeoutMs)
{
    done = 0;
    if (handle == nullptr)
        MarkLost("the stream was stopped");
    if (!started && !IsLost())
        StartRecording();
    const double deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        if (!IsLost())
            CollectReturned();
        // What came back before a loss is still read: the run keeps it.
        if (!captured.empty() || count == 0) {
            done = std::min(count, captured.size());
            std::copy_n(captured.begin(), done, samples);
            captured.erase(captured.begin(), captured.begin() + static_cast<std::ptrdiff_t>(done));
            return AudioResult::Ok;
        }
        if (IsLost() || CheckStall())
            return AudioResult::Lost;
        if (PerformanceCounterSeconds() >= deadline)
            return AudioResult::Timeout;
        WaitForReturn(deadline);
    }
}

AudioResult WinmmCapture::Write(const int16_t*, size_t, size_t& done, int)
{
    done = 0;
    MarkLost("a capture stream cannot be written");
    return AudioResult::Lost;
}

// Reset gives every queued buffer back at once (what they hold is
// dropped); only then may the headers be unprepared and the device closed.
void WinmmCapture::Stop()
{
    if (handle == nullptr)
        return;
    device.Reset(handle);
    for (size_t i = 0; i < BufferCount(); ++i)
        device.UnprepareHeader(handle, &Header(i), WAVE_HEADER_SIZE);
    device.Close(handle);
    handle = nullptr;
    if (AnyHeaderInQueue())
        AbandonBuffers();
}

void WinmmCapture::StartRecording()
{
    started = true;
    RestartStallClock();
    const MMRESULT result = device.Start(handle);
    if (result != MMSYSERR_NOERROR)
        MarkLost(DriverText(device, result, "waveInStart"));
}

void WinmmCapture::CollectReturned()
{
    const std::vector<size_t> returned = TakeReturned();
    if (returned.empty())
        return;
    for (size_t index : returned) {
        const size_t count = std::min<size_t>(Header(index).dwBytesRecorded / 2, BufferSamples());
        captured.insert(captured.end(), Samples(index), Samples(index) + count);
        capturedFrames += count;
    }
    AddClockPoint(capturedFrames);
    if (QueuedCount() == 0)
        AddXrun(capturedFrames);
    for (size_t index : returned) {
        const MMRESULT result = Queue(index);
        if (result != MMSYSERR_NOERROR) {
            MarkLost(DriverText(device, result, "waveInAddBuffer"));
            return;
        }
    }
}

MMRESULT WinmmCapture::Queue(size_t index)
{
    const MMRESULT result = device.AddBuffer(handle, &Header(index), WAVE_HEADER_SIZE);
    if (result == MMSYSERR_NOERROR)
        NoteQueued(index);
    return result;
}

}  // namespace

std::unique_ptr<AudioStream> OpenWinmmCapture(WaveInDevice& device, UINT deviceId, const std::string& label,
                                              int sampleRate, const WinmmStreamSettings& settings,
                                              std::string& error)
{
    auto stream = std::make_unique<WinmmCapture>(device, label, sampleRate, settings);
    if (!stream->Open(deviceId, error))
        return nullptr;
    return stream;
}
