// What the winmm playback and capture streams share: a ring of buffers the
// driver returns in the order it was given them, the event it sets at each
// return, the xruns and clock points found on the way, and the rule that a
// device holding queued buffers past the stall limit is lost.
#pragma once

#include "audio/audio_device.h"
#include "audio/winmm_backend.h"
#include "platform/wave_event.h"
#include "platform/wave_format.h"

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

class WinmmStream : public AudioStream {
public:
    std::vector<AudioXrun> TakeXruns() override;
    std::vector<AudioClockPoint> TakeClockPoints() override;
    std::string ErrorText() const override { return errorText; }

protected:
    // `label` names the device as the messages show it: "capture device 0
    // ("Speakers") at 8000 Hz".
    WinmmStream(AudioDirection direction, int sampleRate, std::string label, const WinmmStreamSettings& settings);

    size_t BufferCount() const { return headers.size(); }
    size_t BufferSamples() const { return bufferSamples; }
    WAVEHDR& Header(size_t index) { return headers[index]; }
    int16_t* Samples(size_t index) { return &samples[index * bufferSamples]; }
    char* Bytes(size_t index) { return reinterpret_cast<char*>(Samples(index)); }

    // The driver holds `index` from now on.
    void NoteQueued(size_t index);
    size_t QueuedCount() const { return queued.size(); }
    // The buffers the driver has given back since the last call, oldest
    // first. A driver returns buffers in the order it got them, so the
    // first one still out ends the list.
    std::vector<size_t> TakeReturned();
    // True while some header is still with the driver.
    bool AnyHeaderInQueue() const;

    // A wake-up stamps the newest buffer it found: the event is set when a
    // buffer is done and the performance counter is read after its flag was
    // seen, so the stamp is later than the completion, never earlier. Older
    // buffers found in the same wake-up finished an unknown time before it
    // and get no point: their stamps would only add lateness.
    void AddClockPoint(uint64_t frames);
    // Samples lost or missing at `frame`; the clock points after it start a
    // new segment.
    void AddXrun(uint64_t frame);

    void MarkLost(const std::string& why);
    bool IsLost() const { return lost; }
    // Marks the stream lost when the driver has held queued buffers past
    // the stall limit without returning one; true when it is lost.
    bool CheckStall();
    // The device's wait begins now (it was started).
    void RestartStallClock();
    // Waits for the driver's event until `deadline` (performance-counter
    // seconds) or the stall limit, whichever comes first.
    void WaitForReturn(double deadline);
    static double DeadlineAfter(int timeoutMs);

    // The headers and samples stay where they are while a driver that did
    // not give them back might still write them: kept for the life of the
    // process rather than freed under it.
    void AbandonBuffers();

    DWORD_PTR EventCallback() const { return event.Callback(); }
    bool HasEvent() const { return event.IsValid(); }

    const std::string label;

private:
    WaveEvent event;
    std::vector<WAVEHDR> headers;
    std::vector<int16_t> samples;
    size_t bufferSamples;
    double stallLimitSeconds;
    std::deque<size_t> queued;
    double lastProgress = 0;  // when a buffer last came back, or the queue last started
    uint64_t segment = 0;
    bool lost = false;
    std::string errorText;
    std::vector<AudioXrun> xruns;
    std::vector<AudioClockPoint> clockPoints;
};
