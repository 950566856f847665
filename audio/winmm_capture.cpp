// An overrun is every buffer back, full, with none queued: the driver had
// nowhere to put what the card recorded next, and that is lost. It is found
// when the buffers are next looked at, at the position where the kept
// samples end.
#include "audio/winmm_capture.h"

#include <algorithm>
#include <deque>

namespace {

class WinmmCapture final : public AudioCapture {
public:
    WinmmCapture(WaveInDevice& device, const std::string& label, int sampleRate, const WinmmStreamSettings& settings)
        : AudioCapture(sampleRate), ring(label, AudioDirection::Capture, sampleRate, settings, timeline, life), device(device)
    {
    }
    ~WinmmCapture() override { Stop(); }

    // Opens the device, queues the ring; false with `error` set.
    bool Open(UINT deviceId, int leastChannels, std::string& error);

    AudioResult Read(int32_t* samples, size_t frames, size_t& done, int timeoutMs) override;
    void Stop() override;

private:
    // Recording starts at the first read, not at the open: a program that
    // opens its other device (or does anything else) in between would
    // otherwise find the ring overrun before it read a sample.
    void StartRecording();
    void CollectReturned();
    // Hands buffer `index` to the driver; a refusal loses the device.
    MMRESULT Queue(size_t index);

    WinmmRing ring;
    WaveInDevice& device;
    HWAVEIN handle = nullptr;
    std::deque<int32_t> captured;  // back from the driver, not yet read: whole frames
};

bool WinmmCapture::Open(UINT deviceId, int leastChannels, std::string& error)
{
    WinmmFormat opened;
    if (!ring.Open(device, handle, deviceId, CaptureFormats(leastChannels), "waveInOpen", opened, error))
        return false;
    SetLayout(opened.channels, opened.encoding);
    MMRESULT result = MMSYSERR_NOERROR;
    const char* call = "waveInPrepareHeader";
    for (size_t i = 0; i < ring.BufferCount() && result == MMSYSERR_NOERROR; ++i) {
        SetWaveHeader(ring.Header(i), ring.Bytes(i), static_cast<DWORD>(ring.BufferFrames() * ring.FrameBytes()), 0);
        result = device.PrepareHeader(handle, &ring.Header(i), WAVE_HEADER_SIZE);
        if (result == MMSYSERR_NOERROR) {
            call = "waveInAddBuffer";
            result = Queue(i);
        }
    }
    if (result != MMSYSERR_NOERROR) {
        error = "cannot start " + ring.label + ": " + DriverText(device, result, call);
        Stop();
        return false;
    }
    return true;
}

AudioResult WinmmCapture::Read(int32_t* samples, size_t frames, size_t& done, int timeoutMs)
{
    done = 0;
    if (life.State() == StreamState::Stopped)
        ring.MarkLost("the stream was stopped");
    if (life.State() == StreamState::Ready)
        StartRecording();
    const size_t channels = static_cast<size_t>(Channels());
    const double deadline = WinmmRing::DeadlineAfter(timeoutMs);
    for (;;) {
        if (life.Usable())
            CollectReturned();
        // What came back before a loss is still read: the run keeps it.
        if (!captured.empty() || frames == 0) {
            done = std::min(frames, captured.size() / channels);
            const auto end = captured.begin() + static_cast<std::ptrdiff_t>(done * channels);
            std::copy(captured.begin(), end, samples);
            captured.erase(captured.begin(), end);
            return AudioResult::Ok;
        }
        if (ring.CheckStall())
            return AudioResult::Lost;
        if (PerformanceCounterSeconds() >= deadline)
            return AudioResult::Timeout;
        ring.WaitForReturn(deadline);
    }
}

void WinmmCapture::Stop()
{
    if (life.Stop())
        ring.Close(device, handle);
}

void WinmmCapture::StartRecording()
{
    life.Run();
    ring.RestartStallClock();
    const MMRESULT result = device.Start(handle);
    if (result != MMSYSERR_NOERROR)
        ring.MarkLost(DriverText(device, result, "waveInStart"));
}

void WinmmCapture::CollectReturned()
{
    const std::vector<size_t> returned = ring.TakeReturned();
    if (returned.empty())
        return;
    std::vector<int32_t> decoded;
    for (size_t index : returned) {
        const size_t count = std::min<size_t>(ring.Header(index).dwBytesRecorded / ring.FrameBytes(), ring.BufferFrames());
        decoded.resize(count * static_cast<size_t>(Channels()));
        DecodeSamples(DeviceEncoding(), reinterpret_cast<const unsigned char*>(ring.Bytes(index)), decoded.size(),
                      decoded.data());
        captured.insert(captured.end(), decoded.begin(), decoded.end());
        timeline.Advance(count);
    }
    ring.AddClockPoint();
    if (ring.QueuedCount() == 0)
        timeline.AddXrun();
    for (size_t index : returned) {
        const MMRESULT result = Queue(index);
        if (result != MMSYSERR_NOERROR) {
            ring.MarkLost(DriverText(device, result, "waveInAddBuffer"));
            return;
        }
    }
}

MMRESULT WinmmCapture::Queue(size_t index)
{
    const MMRESULT result = device.AddBuffer(handle, &ring.Header(index), WAVE_HEADER_SIZE);
    if (result == MMSYSERR_NOERROR)
        ring.NoteQueued(index);
    return result;
}

}  // namespace

std::unique_ptr<AudioCapture> OpenWinmmCapture(WaveInDevice& device, UINT deviceId, const std::string& label,
                                               int sampleRate, int leastChannels, const WinmmStreamSettings& settings,
                                               std::string& error)
{
    auto stream = std::make_unique<WinmmCapture>(device, label, sampleRate, settings);
    if (!stream->Open(deviceId, leastChannels, error))
        return nullptr;
    return stream;
}
