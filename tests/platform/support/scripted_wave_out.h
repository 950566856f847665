// A wave-out device for tests: it plays nothing until told to, posts
// MM_WOM_OPEN, MM_WOM_DONE and MM_WOM_CLOSE to the callback window as a
// real driver does (in order, with the header in lParam), or sets the
// callback event at each of them (CALLBACK_EVENT), records every
// call, and checks the rules a driver enforces (prepared before written,
// not unprepared or closed while queued, no use after close).
#pragma once

#include "platform/wave_out.h"

#include <deque>
#include <set>
#include <string>
#include <vector>

struct WaveOutCall {
    std::string function; // "Open", "PrepareHeader", "Write", "Reset", "UnprepareHeader", "Close",
                          // "GetErrorText"
    WAVEHDR* header = nullptr;
    MMRESULT result = MMSYSERR_NOERROR;
};

class ScriptedWaveOut final : public WaveOutDevice {
public:
    // The devices listed by GetNumDevs/GetDevCaps, by index.
    std::vector<std::string> deviceNames{"Scripted Speakers"};
    // Result of every Open while not MMSYSERR_NOERROR (the device refuses).
    MMRESULT openResult = MMSYSERR_NOERROR;
    // The formats Open accepts (others get WAVERR_BADFORMAT): no fewer
    // channels than this, samples of these sizes.
    WORD leastChannels = 1;
    std::vector<WORD> acceptedBits{16, 24, 32};
    // The device has gone away (unplugged, its audio server ended): from
    // now on every call on the open handle fails with MMSYSERR_NODRIVER,
    // nothing queued comes back and nothing more is posted.
    bool vanished = false;

    // What happened.
    std::vector<WaveOutCall> calls;
    std::vector<unsigned char> played; // bytes of the buffers played to their end, in order
    WAVEFORMATEX openedFormat{};
    UINT openedDeviceId = 0;
    int ruleViolations = 0;            // calls a real driver would reject
    int closesWithPreparedHeaders = 0;

    // Plays the `count` oldest queued buffers: each is appended to `played`,
    // marked done and returned with MM_WOM_DONE. Returns how many it played.
    size_t PlayBuffers(size_t count);
    size_t QueuedCount() const { return queue.size(); }
    bool IsOpen() const { return openHandle != nullptr; }
    size_t CountCalls(const std::string& function) const;

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(UINT deviceId, WAVEOUTCAPSA* caps, UINT capsSize) override;
    MMRESULT Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format,
                  DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override;
    MMRESULT PrepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Write(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Reset(HWAVEOUT handle) override;
    MMRESULT UnprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Close(HWAVEOUT handle) override;
    MMRESULT GetErrorText(MMRESULT error, char* text, UINT textSize) override;

    // The text GetErrorText gives for `error`.
    static std::string ErrorText(MMRESULT error);

private:
    MMRESULT Record(const char* function, WAVEHDR* header, MMRESULT result);
    bool IsCurrent(HWAVEOUT handle) const { return handle != nullptr && handle == openHandle; }
    void Notify(UINT message, LPARAM lParam);

    HWAVEOUT openHandle = nullptr;
    HWND notifyWindow = nullptr;
    HANDLE notifyEvent = nullptr;
    unsigned opens = 0;
    std::deque<WAVEHDR*> queue;
    std::set<WAVEHDR*> prepared;
};
