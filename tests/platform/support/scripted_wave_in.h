// A wave-in device for tests: it records nothing until told to, then fills
// the oldest queued buffer from a sample source of the test's choosing and
// posts MM_WIM_DATA to the callback window as a real driver does (the
// device handle in wParam, the header in lParam, headers in queue order),
// or sets the callback event (CALLBACK_EVENT).
// It records every call, checks the rules a driver enforces (prepared
// before added, not unprepared or closed while queued, no use of a closed
// handle) and can be told to fail any call.
//
// Stop returns the buffer being filled at once, shorter (as a real device
// does with the samples recorded so far); Reset returns every queued
// buffer, empty.
//
// It records in the format it was opened in (16, 24 or 32 bits, any
// channels; it can be told to refuse some with WAVERR_BADFORMAT): every
// channel of a frame carries the source's sample in its top 16 bits, and a
// wider sample carries channel + 1 in the byte below them, so a reader
// that keeps the full width sees it. Each open gets a new handle unless reuseHandles is set,
// which mimics a driver that hands a reopened device the handle it had.
#pragma once

#include "platform/wave_in.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

struct WaveInCall {
    std::string function; // "Open", "PrepareHeader", "AddBuffer", "Start", "Stop", "Reset",
                          // "UnprepareHeader", "Close", "GetErrorText"
    HWAVEIN handle = nullptr;
    WAVEHDR* header = nullptr;
    MMRESULT result = MMSYSERR_NOERROR;
};

class ScriptedWaveIn final : public WaveInDevice {
public:
    // The devices listed by GetNumDevs/GetDevCaps, by index.
    std::vector<std::string> deviceNames{"Scripted Microphone"};
    // The samples the device records, in order; silence once they run out.
    std::vector<int16_t> source;
    // Frames in the buffer that Stop returns (at most a buffer's worth).
    uint32_t samplesBeforeStop = 300;
    // The formats Open accepts: no fewer channels than this, samples of
    // these sizes.
    WORD leastChannels = 1;
    std::vector<WORD> acceptedBits{16, 24, 32};
    bool reuseHandles = false;

    // Makes `function` return `result`, after `successesFirst` further calls
    // of it have gone through. Open failures leave no device open.
    void FailCall(const std::string& function, MMRESULT result, int successesFirst = 0);

    // What happened.
    std::vector<WaveInCall> calls;
    WAVEFORMATEX openedFormat{};
    UINT openedDeviceId = 0;
    DWORD_PTR openedCallback = 0;
    DWORD_PTR openedInstance = 0;
    DWORD openedFlags = 0;
    UINT errorTextSize = 0;     // the text buffer size of the last GetErrorText
    int ruleViolations = 0;     // calls a real driver would reject
    int closesWithPreparedHeaders = 0;
    size_t sourcePosition = 0;  // samples of `source` recorded so far

    // Fills the `count` oldest queued buffers completely while recording:
    // each is marked done and returned with MM_WIM_DATA. Returns how many.
    size_t RecordBuffers(size_t count);
    size_t QueuedCount() const { return queue.size(); }
    bool IsOpen() const { return openHandle != nullptr; }
    bool IsRecording() const { return recording; }
    HWAVEIN Handle() const { return openHandle; }
    size_t CountCalls(const std::string& function) const;
    // The names of the calls from index `first` on, space-separated.
    std::string CallSequence(size_t first = 0) const;

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(UINT deviceId, WAVEINCAPSA* caps, UINT capsSize) override;
    MMRESULT Open(HWAVEIN* handle, UINT deviceId, const WAVEFORMATEX* format,
                  DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override;
    MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Start(HWAVEIN handle) override;
    MMRESULT Stop(HWAVEIN handle) override;
    MMRESULT Reset(HWAVEIN handle) override;
    MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Close(HWAVEIN handle) override;
    MMRESULT GetErrorText(MMRESULT error, char* text, UINT textSize) override;

    // The text GetErrorText gives for `error`.
    static std::string ErrorText(MMRESULT error);

private:
    struct Failure {
        MMRESULT result;
        int successesFirst;
    };

    bool ScriptedFailure(const std::string& function, MMRESULT& result);
    MMRESULT Record(const char* function, HWAVEIN handle, WAVEHDR* header, MMRESULT result);
    bool IsCurrent(HWAVEIN handle) const { return handle != nullptr && handle == openHandle; }
    void Fill(WAVEHDR* header, uint32_t frameCount);
    void Return(WAVEHDR* header);
    void Notify(UINT message, LPARAM lParam);

    std::map<std::string, Failure> failures;
    bool scriptedResultPending = false; // the result being recorded was scripted, not a rule
    HWAVEIN openHandle = nullptr;
    HWND notifyWindow = nullptr;
    HANDLE notifyEvent = nullptr;
    unsigned opens = 0;
    bool recording = false;
    std::deque<WAVEHDR*> queue;
    std::set<WAVEHDR*> prepared;
};
