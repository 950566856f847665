// What the winmm playback and capture streams share: opening the device in
// the first format it accepts, a ring of buffers the driver returns in the
// order it was given them, the event it sets at each return, the clock
// points found on the way, and the rule that a device holding queued
// buffers past the stall limit is lost. It reports to the stream's
// timeline and life.
#pragma once

#include "audio/audio_device.h"
#include "audio/winmm_backend.h"
#include "audio/winmm_format.h"
#include "platform/wave_event.h"

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

// The driver's own words for `result`, and the call that got it.
template <typename Device>
std::string DriverText(Device& device, MMRESULT result, const char* call)
{
    char text[MAXERRORLENGTH] = {};
    if (device.GetErrorText(result, text, sizeof text) != MMSYSERR_NOERROR || text[0] == '\0')
        std::snprintf(text, sizeof text, "unknown driver error");
    return std::string(text) + " (" + call + " returned " + std::to_string(result) + ")";
}

class WinmmRing {
public:
    // `label` names the device as the messages show it: "capture device 0
    // ("Speakers") at 8000 Hz".
    WinmmRing(std::string label, AudioDirection direction, int sampleRate, const WinmmStreamSettings& settings,
              StreamTimeline& timeline, StreamLife& life);

    // Opens `device` in the first of `formats` it accepts (`call` names
    // the open for the messages) and makes the ring for its frames; false
    // with `error` set.
    template <typename Device, typename Handle>
    bool Open(Device& device, Handle& handle, UINT deviceId, const std::vector<WinmmFormat>& formats, const char* call,
              WinmmFormat& opened, std::string& error);

    size_t BufferCount() const { return headers.size(); }
    size_t BufferFrames() const { return bufferFrames; }
    size_t FrameBytes() const { return frameBytes; }
    WAVEHDR& Header(size_t index) { return headers[index]; }
    char* Bytes(size_t index) { return &bytes[index * bufferFrames * frameBytes]; }

    // The driver holds `index` from now on.
    void NoteQueued(size_t index);
    size_t QueuedCount() const { return queued.size(); }
    // The buffers the driver has given back since the last call, oldest
    // first. A driver returns buffers in the order it got them, so the
    // first one still out ends the list.
    std::vector<size_t> TakeReturned();
    // True while some header is still with the driver.
    bool AnyHeaderInQueue() const;

    // A wake-up stamps the newest buffer it found, at the timeline's
    // position: the event is set when a buffer is done and the performance
    // counter is read after its flag was seen, so the stamp is later than
    // the completion, never earlier. Older buffers found in the same
    // wake-up finished an unknown time before it and get no point: their
    // stamps would only add lateness.
    void AddClockPoint();

    // The stream is lost, with `why` after the label.
    void MarkLost(const std::string& why);
    // Marks the stream lost when the driver has held queued buffers past
    // the stall limit without returning one; true when it is not usable.
    bool CheckStall();
    // The device's wait begins now (it was started).
    void RestartStallClock();
    // Waits for the driver's event until `deadline` (performance-counter
    // seconds) or the stall limit, whichever comes first.
    void WaitForReturn(double deadline);
    static double DeadlineAfter(int timeoutMs);

    // Reset gives every queued buffer back at once (what they hold is
    // dropped); only then are the headers unprepared and the device closed.
    // Headers a driver did not give back stay where they are, as it might
    // still write them: kept for the life of the process rather than freed
    // under it.
    template <typename Device, typename Handle>
    void Close(Device& device, Handle& handle);

    const std::string label;

private:
    void Allocate(size_t bytesPerFrame);
    void AbandonBuffers();

    StreamTimeline& timeline;
    StreamLife& life;
    int sampleRate;
    WaveEvent event;
    std::vector<WAVEHDR> headers;
    std::vector<char> bytes;
    size_t bufferFrames;
    size_t frameBytes = 2;
    double stallLimitSeconds;
    std::deque<size_t> queued;
    double lastProgress = 0;  // when a buffer last came back, or the queue last started
};

template <typename Device, typename Handle>
bool WinmmRing::Open(Device& device, Handle& handle, UINT deviceId, const std::vector<WinmmFormat>& formats,
                     const char* call, WinmmFormat& opened, std::string& error)
{
    if (!event.IsValid()) {
        error = label + ": no event to wait on the device with";
        return false;
    }
    const MMRESULT result = OpenInFirstFormat(device, handle, deviceId, sampleRate, formats, event.Callback(), opened);
    if (result == WAVERR_BADFORMAT && formats.size() > 1) {
        error = "cannot open " + label + " in any format tried (";
        for (size_t i = 0; i < formats.size(); ++i)
            error += (i == 0 ? "" : ", ") + WinmmFormatWords(formats[i]);
        error += "): " + DriverText(device, result, call);
        return false;
    }
    if (result != MMSYSERR_NOERROR) {
        error = "cannot open " + label + ", " + WinmmFormatWords(opened) + ": " + DriverText(device, result, call);
        return false;
    }
    Allocate(opened.channels * SampleBytes(opened.encoding));
    return true;
}

template <typename Device, typename Handle>
void WinmmRing::Close(Device& device, Handle& handle)
{
    if (handle == nullptr)
        return;
    device.Reset(handle);
    for (WAVEHDR& header : headers)
        device.UnprepareHeader(handle, &header, WAVE_HEADER_SIZE);
    device.Close(handle);
    handle = nullptr;
    if (AnyHeaderInQueue())
        AbandonBuffers();
}
