// The "Select soundcard" dialog both programs open from their "Soundcard"
// button: it lists the wave devices of the program's direction by product
// name, in device-index order, and stores the choice in `selectedDevice`
// (-1 when nothing is selected, which the wave open takes as WAVE_MAPPER).
//
// The program decides what happens to its own device through three hooks:
// the transmitter switches a running signal off whenever the dialog asks it
// to let go of its device (at initialisation and again at "OK"); the
// receiver pauses capture before the modal run and restarts it afterwards.
#pragma once

#include "platform/message_boxes.h"
#include "platform/wave_catalog.h"

#include <windows.h>

#include <cstdint>
#include <functional>

enum class AudioDirection { Input, Output };

class SoundcardSelection {
public:
    SoundcardSelection(AudioDirection direction, WaveDeviceCatalog& devices, MessageBoxes& messageBoxes,
                       int32_t& selectedDevice);

    // Run around the modal dialog, after it has been created and after it
    // has ended however it ended (receiver: PauseCapture / StartCapture).
    std::function<void()> beforeModalRun;
    std::function<void()> afterModalRun;
    // Asked when the dialog initialises and again at "OK": the program lets
    // go of a device it is using (transmitter: a running signal stops).
    std::function<void()> releaseDevice;

    // The own command handler of ID_SOUNDCARD_BUTTON: builds the dialog,
    // owned by `mainDialog`, runs it modally and returns 0 once it has
    // ended, so the main dialog's procedure receives the command as well.
    INT_PTR ChangeSoundcard(HWND mainDialog);
    // The dialog's procedure: 0 for every message.
    INT_PTR SoundcardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    HWND soundcardDialog = nullptr; // while the dialog exists

private:
    void FillDeviceList(HWND dialog);

    AudioDirection direction;
    WaveDeviceCatalog& devices;
    MessageBoxes& messageBoxes;
    int32_t& selectedDevice;
};
