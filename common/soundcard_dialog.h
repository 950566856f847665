// The "Select soundcard" dialog both programs open from their "Soundcard"
// button: it lists the wave devices of the program's direction by product
// name, in device-index order, and stores the choice in `selectedDevice`
// (-1 when nothing is selected, which the wave open takes as WAVE_MAPPER).
//
// The transmitter's variant first switches a running signal off: at
// initialisation and again at "OK" it clicks the main dialog's
// ID_TRANSMIT_BUTTON whenever that reads "Turn Off". The receiver pauses
// capture before the modal run and restarts it afterwards, through the two
// hooks.
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

    // The own command handler of ID_SOUNDCARD_BUTTON: builds the dialog,
    // owned by `mainDialog`, runs it modally and returns 0 once it has
    // ended, so the main dialog's procedure receives the command as well.
    INT_PTR ChangeSoundcard(HWND mainDialog);
    // The dialog's procedure: 0 for every message.
    INT_PTR SoundcardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    HWND soundcardDialog = nullptr; // while the dialog exists

private:
    void FillDeviceList(HWND dialog);
    void SwitchTransmissionOff();

    AudioDirection direction;
    WaveDeviceCatalog& devices;
    MessageBoxes& messageBoxes;
    int32_t& selectedDevice;
    HWND mainDialog = nullptr;
};
