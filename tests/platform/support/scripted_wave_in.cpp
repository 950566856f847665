#include "tests/platform/support/scripted_wave_in.h"

#include <algorithm>
#include <cstring>

void ScriptedWaveIn::FailCall(const std::string& function, MMRESULT result, int successesFirst)
{
    failures[function] = {result, successesFirst};
}

bool ScriptedWaveIn::ScriptedFailure(const std::string& function, MMRESULT& result)
{
    auto failure = failures.find(function);
    if (failure == failures.end())
        return false;
    if (failure->second.successesFirst > 0) {
        --failure->second.successesFirst;
        return false;
    }
    result = failure->second.result;
    scriptedResultPending = true;
    return true;
}

size_t ScriptedWaveIn::RecordBuffers(size_t count)
{
    size_t recorded = 0;
    while (recording && recorded < count && !queue.empty()) {
        WAVEHDR* header = queue.front();
        queue.pop_front();
        Fill(header, header->dwBufferLength / std::max<WORD>(1, openedFormat.nBlockAlign));
        Return(header);
        ++recorded;
    }
    return recorded;
}

void ScriptedWaveIn::Fill(WAVEHDR* header, uint32_t frameCount)
{
    const size_t sampleBytes = openedFormat.wBitsPerSample / 8;
    unsigned char* at = reinterpret_cast<unsigned char*>(header->lpData);
    for (uint32_t i = 0; i < frameCount; ++i) {
        const int16_t sample = sourcePosition < source.size() ? source[sourcePosition] : 0;
        ++sourcePosition;
        for (WORD channel = 0; channel < openedFormat.nChannels; ++channel) {
            std::memset(at, 0, sampleBytes);
            if (sampleBytes > 2)
                at[sampleBytes - 3] = static_cast<unsigned char>(channel + 1);
            std::memcpy(at + sampleBytes - 2, &sample, sizeof sample);
            at += sampleBytes;
        }
    }
    header->dwBytesRecorded = frameCount * openedFormat.nBlockAlign;
}

void ScriptedWaveIn::Return(WAVEHDR* header)
{
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Notify(MM_WIM_DATA, reinterpret_cast<LPARAM>(header));
}

size_t ScriptedWaveIn::CountCalls(const std::string& function) const
{
    return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                             [&](const WaveInCall& call) { return call.function == function; }));
}

std::string ScriptedWaveIn::CallSequence(size_t first) const
{
    std::string sequence;
    for (size_t i = first; i < calls.size(); ++i)
        sequence += (sequence.empty() ? "" : " ") + calls[i].function;
    return sequence;
}

UINT ScriptedWaveIn::GetNumDevs()
{
    return static_cast<UINT>(deviceNames.size());
}

MMRESULT ScriptedWaveIn::GetDevCaps(UINT deviceId, WAVEINCAPSA* caps, UINT capsSize)
{
    if (deviceId >= deviceNames.size() || capsSize < sizeof *caps)
        return MMSYSERR_BADDEVICEID;
    *caps = WAVEINCAPSA{};
    strncpy(caps->szPname, deviceNames[deviceId].c_str(), MAXPNAMELEN - 1);
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveIn::Open(HWAVEIN* handle, UINT deviceId, const WAVEFORMATEX* format,
                              DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    openedDeviceId = deviceId;
    openedCallback = callback;
    openedInstance = instance;
    openedFlags = flags;
    if (format != nullptr)
        openedFormat = *format;
    const bool known = deviceId == WAVE_MAPPER ? !deviceNames.empty() : deviceId < deviceNames.size();
    const bool accepted = format != nullptr && format->nChannels >= leastChannels &&
                          std::find(acceptedBits.begin(), acceptedBits.end(), format->wBitsPerSample) != acceptedBits.end();
    MMRESULT result = !known ? MMSYSERR_BADDEVICEID : IsOpen() ? MMSYSERR_ALLOCATED : !accepted ? WAVERR_BADFORMAT : MMSYSERR_NOERROR;
    if (result == MMSYSERR_NOERROR)
        ScriptedFailure("Open", result);
    if (result != MMSYSERR_NOERROR) {
        // A failed open leaves no valid handle behind; the caller must not use it.
        *handle = reinterpret_cast<HWAVEIN>(static_cast<uintptr_t>(0xBAD));
        return Record("Open", nullptr, nullptr, result);
    }
    ++opens;
    openHandle = reinterpret_cast<HWAVEIN>(static_cast<uintptr_t>(0x2000 + (reuseHandles ? 1 : opens)));
    *handle = openHandle;
    notifyWindow = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW ? reinterpret_cast<HWND>(callback) : nullptr;
    notifyEvent = (flags & CALLBACK_TYPEMASK) == CALLBACK_EVENT ? reinterpret_cast<HANDLE>(callback) : nullptr;
    recording = false;
    Record("Open", openHandle, nullptr, result);
    Notify(MM_WIM_OPEN, 0);
    return result;
}

// An already prepared header stays prepared: the call succeeds without effect.
MMRESULT ScriptedWaveIn::PrepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize)
{
    MMRESULT result = MMSYSERR_NOERROR;
    if (!IsCurrent(handle) || headerSize != sizeof(WAVEHDR) || header == nullptr || header->lpData == nullptr)
        result = MMSYSERR_INVALPARAM;
    else if (header->dwFlags & WHDR_INQUEUE)
        result = WAVERR_STILLPLAYING;
    else if (!ScriptedFailure("PrepareHeader", result)) {
        header->dwFlags |= WHDR_PREPARED;
        prepared.insert(header);
    }
    return Record("PrepareHeader", handle, header, result);
}

MMRESULT ScriptedWaveIn::AddBuffer(HWAVEIN handle, WAVEHDR* header, UINT headerSize)
{
    MMRESULT result = MMSYSERR_NOERROR;
    if (!IsCurrent(handle) || headerSize != sizeof(WAVEHDR) || header == nullptr)
        result = MMSYSERR_INVALPARAM;
    else if (header->dwFlags & WHDR_INQUEUE)
        result = WAVERR_STILLPLAYING;
    else if (!(header->dwFlags & WHDR_PREPARED))
        result = WAVERR_UNPREPARED;
    else if (!ScriptedFailure("AddBuffer", result)) {
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        queue.push_back(header);
    }
    return Record("AddBuffer", handle, header, result);
}

MMRESULT ScriptedWaveIn::Start(HWAVEIN handle)
{
    MMRESULT result = MMSYSERR_NOERROR;
    if (!IsCurrent(handle))
        result = MMSYSERR_INVALHANDLE;
    else if (!ScriptedFailure("Start", result))
        recording = true;
    return Record("Start", handle, nullptr, result);
}

// The buffer being filled (the oldest queued one) comes back at once with
// what was recorded into it; empty buffers stay queued.
MMRESULT ScriptedWaveIn::Stop(HWAVEIN handle)
{
    MMRESULT result = MMSYSERR_NOERROR;
    if (!IsCurrent(handle))
        return Record("Stop", handle, nullptr, MMSYSERR_INVALHANDLE);
    if (ScriptedFailure("Stop", result))
        return Record("Stop", handle, nullptr, result);
    Record("Stop", handle, nullptr, result);
    if (recording && !queue.empty()) {
        WAVEHDR* header = queue.front();
        queue.pop_front();
        Fill(header, std::min<uint32_t>(samplesBeforeStop, header->dwBufferLength / std::max<WORD>(1, openedFormat.nBlockAlign)));
        Return(header);
    }
    recording = false;
    return result;
}

// Recording stops and every queued buffer comes back, empty, in queue order.
MMRESULT ScriptedWaveIn::Reset(HWAVEIN handle)
{
    MMRESULT result = MMSYSERR_NOERROR;
    if (!IsCurrent(handle))
        return Record("Reset", handle, nullptr, MMSYSERR_INVALHANDLE);
    if (ScriptedFailure("Reset", result))
        return Record("Reset", handle, nullptr, result);
    Record("Reset", handle, nullptr, result);
    recording = false;
    while (!queue.empty()) {
        WAVEHDR* header = queue.front();
        queue.pop_front();
        header->dwBytesRecorded = 0;
        Return(header);
    }
    return result;
}

MMRESULT ScriptedWaveIn::UnprepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize)
{
    MMRESULT result = MMSYSERR_NOERROR;
    if (!IsCurrent(handle) || headerSize != sizeof(WAVEHDR) || header == nullptr)
        result = MMSYSERR_INVALPARAM;
    else if (header->dwFlags & WHDR_INQUEUE)
        result = WAVERR_STILLPLAYING;
    else if (!ScriptedFailure("UnprepareHeader", result)) {
        header->dwFlags &= ~WHDR_PREPARED;
        prepared.erase(header);
    }
    return Record("UnprepareHeader", handle, header, result);
}

MMRESULT ScriptedWaveIn::Close(HWAVEIN handle)
{
    MMRESULT result = MMSYSERR_NOERROR;
    if (!IsCurrent(handle))
        return Record("Close", handle, nullptr, MMSYSERR_INVALHANDLE);
    if (!queue.empty())
        return Record("Close", handle, nullptr, WAVERR_STILLPLAYING);
    if (ScriptedFailure("Close", result))
        return Record("Close", handle, nullptr, result);
    if (!prepared.empty())
        ++closesWithPreparedHeaders;
    prepared.clear();
    Record("Close", handle, nullptr, result);
    Notify(MM_WIM_CLOSE, 0);
    openHandle = nullptr;
    recording = false;
    return result;
}

MMRESULT ScriptedWaveIn::GetErrorText(MMRESULT error, char* text, UINT textSize)
{
    errorTextSize = textSize;
    if (text != nullptr && textSize > 0) {
        strncpy(text, ErrorText(error).c_str(), textSize - 1);
        text[textSize - 1] = '\0';
    }
    return Record("GetErrorText", nullptr, nullptr, MMSYSERR_NOERROR);
}

std::string ScriptedWaveIn::ErrorText(MMRESULT error)
{
    return "Scripted driver error " + std::to_string(error);
}

MMRESULT ScriptedWaveIn::Record(const char* function, HWAVEIN handle, WAVEHDR* header, MMRESULT result)
{
    calls.push_back({function, handle, header, result});
    if (result != MMSYSERR_NOERROR && std::strcmp(function, "Open") != 0 && !scriptedResultPending)
        ++ruleViolations;
    scriptedResultPending = false;
    return result;
}

void ScriptedWaveIn::Notify(UINT message, LPARAM lParam)
{
    if (notifyWindow != nullptr)
        PostMessageA(notifyWindow, message, reinterpret_cast<WPARAM>(openHandle), lParam);
    if (notifyEvent != nullptr)
        SetEvent(notifyEvent);
}
