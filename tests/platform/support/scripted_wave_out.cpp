#include "tests/platform/support/scripted_wave_out.h"

#include <algorithm>
#include <cstring>

size_t ScriptedWaveOut::PlayBuffers(size_t count)
{
    size_t playedCount = 0;
    while (playedCount < count && !queue.empty()) {
        WAVEHDR* header = queue.front();
        queue.pop_front();
        played.insert(played.end(), header->lpData, header->lpData + header->dwBufferLength);
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        Notify(MM_WOM_DONE, reinterpret_cast<LPARAM>(header));
        ++playedCount;
    }
    return playedCount;
}

size_t ScriptedWaveOut::CountCalls(const std::string& function) const
{
    size_t count = 0;
    for (const WaveOutCall& call : calls)
        count += call.function == function;
    return count;
}

UINT ScriptedWaveOut::GetNumDevs()
{
    return static_cast<UINT>(deviceNames.size());
}

MMRESULT ScriptedWaveOut::GetDevCaps(UINT deviceId, WAVEOUTCAPSA* caps, UINT capsSize)
{
    if (deviceId >= deviceNames.size() || capsSize < sizeof *caps)
        return MMSYSERR_BADDEVICEID;
    *caps = WAVEOUTCAPSA{};
    strncpy(caps->szPname, deviceNames[deviceId].c_str(), MAXPNAMELEN - 1);
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveOut::Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format,
                               DWORD_PTR callback, DWORD_PTR /*instance*/, DWORD flags)
{
    openedDeviceId = deviceId;
    if (format != nullptr)
        openedFormat = *format;
    const bool known = deviceId == WAVE_MAPPER ? !deviceNames.empty() : deviceId < deviceNames.size();
    const bool accepted = format != nullptr && format->nChannels >= leastChannels &&
                          std::find(acceptedBits.begin(), acceptedBits.end(), format->wBitsPerSample) != acceptedBits.end();
    MMRESULT result = openResult != MMSYSERR_NOERROR ? openResult
                    : !known                         ? MMSYSERR_BADDEVICEID
                    : IsOpen()                       ? MMSYSERR_ALLOCATED
                    : !accepted                      ? WAVERR_BADFORMAT
                                                     : MMSYSERR_NOERROR;
    if (result != MMSYSERR_NOERROR) {
        // A failed open leaves no valid handle behind; the caller must not use it.
        *handle = reinterpret_cast<HWAVEOUT>(static_cast<uintptr_t>(0xBAD));
        return Record("Open", nullptr, result);
    }
    ++opens;
    openHandle = reinterpret_cast<HWAVEOUT>(static_cast<uintptr_t>(0x1000 + opens));
    *handle = openHandle;
    notifyWindow = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW ? reinterpret_cast<HWND>(callback) : nullptr;
    notifyEvent = (flags & CALLBACK_TYPEMASK) == CALLBACK_EVENT ? reinterpret_cast<HANDLE>(callback) : nullptr;
    Record("Open", nullptr, result);
    Notify(MM_WOM_OPEN, 0);
    return result;
}

MMRESULT ScriptedWaveOut::PrepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize)
{
    if (!IsCurrent(handle) || headerSize != sizeof(WAVEHDR) || (header->dwFlags & WHDR_INQUEUE))
        return Record("PrepareHeader", header, MMSYSERR_INVALPARAM);
    header->dwFlags |= WHDR_PREPARED;
    prepared.insert(header);
    return Record("PrepareHeader", header, MMSYSERR_NOERROR);
}

MMRESULT ScriptedWaveOut::Write(HWAVEOUT handle, WAVEHDR* header, UINT headerSize)
{
    if (vanished)
        return Record("Write", header, MMSYSERR_NODRIVER);
    if (!IsCurrent(handle) || headerSize != sizeof(WAVEHDR) || (header->dwFlags & WHDR_INQUEUE))
        return Record("Write", header, MMSYSERR_INVALPARAM);
    if (!(header->dwFlags & WHDR_PREPARED))
        return Record("Write", header, WAVERR_UNPREPARED);
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    queue.push_back(header);
    return Record("Write", header, MMSYSERR_NOERROR);
}

MMRESULT ScriptedWaveOut::Reset(HWAVEOUT handle)
{
    if (vanished)
        return Record("Reset", nullptr, MMSYSERR_NODRIVER);
    if (!IsCurrent(handle))
        return Record("Reset", nullptr, MMSYSERR_INVALHANDLE);
    Record("Reset", nullptr, MMSYSERR_NOERROR);
    // Every queued buffer comes back at once, unplayed, in queue order.
    while (!queue.empty()) {
        WAVEHDR* header = queue.front();
        queue.pop_front();
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        Notify(MM_WOM_DONE, reinterpret_cast<LPARAM>(header));
    }
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveOut::UnprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize)
{
    if (vanished)
        return Record("UnprepareHeader", header, MMSYSERR_NODRIVER);
    if (!IsCurrent(handle) || headerSize != sizeof(WAVEHDR))
        return Record("UnprepareHeader", header, MMSYSERR_INVALPARAM);
    if (header->dwFlags & WHDR_INQUEUE)
        return Record("UnprepareHeader", header, WAVERR_STILLPLAYING);
    header->dwFlags &= ~WHDR_PREPARED;
    prepared.erase(header);
    return Record("UnprepareHeader", header, MMSYSERR_NOERROR);
}

MMRESULT ScriptedWaveOut::Close(HWAVEOUT handle)
{
    if (vanished)
        return Record("Close", nullptr, MMSYSERR_NODRIVER);
    if (!IsCurrent(handle))
        return Record("Close", nullptr, MMSYSERR_INVALHANDLE);
    if (!queue.empty())
        return Record("Close", nullptr, WAVERR_STILLPLAYING);
    if (!prepared.empty())
        ++closesWithPreparedHeaders;
    prepared.clear();
    Record("Close", nullptr, MMSYSERR_NOERROR);
    Notify(MM_WOM_CLOSE, 0);
    openHandle = nullptr;
    return MMSYSERR_NOERROR;
}

MMRESULT ScriptedWaveOut::GetErrorText(MMRESULT error, char* text, UINT textSize)
{
    if (text != nullptr && textSize > 0) {
        strncpy(text, ErrorText(error).c_str(), textSize - 1);
        text[textSize - 1] = '\0';
    }
    return Record("GetErrorText", nullptr, MMSYSERR_NOERROR);
}

std::string ScriptedWaveOut::ErrorText(MMRESULT error)
{
    return "Scripted driver error " + std::to_string(error);
}

MMRESULT ScriptedWaveOut::Record(const char* function, WAVEHDR* header, MMRESULT result)
{
    calls.push_back({function, header, result});
    if (result != MMSYSERR_NOERROR && std::strcmp(function, "Open") != 0)
        ++ruleViolations;
    return result;
}

void ScriptedWaveOut::Notify(UINT message, LPARAM lParam)
{
    if (notifyWindow != nullptr)
        PostMessageA(notifyWindow, message, reinterpret_cast<WPARAM>(openHandle), lParam);
    if (notifyEvent != nullptr)
        SetEvent(notifyEvent);
}
