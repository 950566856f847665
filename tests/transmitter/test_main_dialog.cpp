// The transmitter's main dialog: the states a user sees with their
// captions, failures, close requests and the sound-card dialog.
#include "tests/transmitter/transmitter_fixture.h"

#include <vector>

TEST_F(TransmitterTest, DialogHasItsCaptionAndButtonsInTabOrder)
{
    char caption[64] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "Stanag 4285 Pharolet");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)) & 0x80C80000u, 0x80C80000u);
    HWND onOff = GetDlgItem(dialog, ID_TRANSMIT_BUTTON);
    HWND soundcard = GetDlgItem(dialog, ID_SOUNDCARD_BUTTON);
    EXPECT_EQ(GetWindow(dialog, GW_CHILD), onOff);
    EXPECT_EQ(GetNextDlgTabItem(dialog, onOff, FALSE), soundcard);
    EXPECT_EQ(Caption(), "Turn On");
    EXPECT_EQ(GetControlText(dialog, ID_SOUNDCARD_BUTTON), "Soundcard");
}

TEST_F(TransmitterTest, OffOpeningRunningStoppingOff)
{
    struct Step {
        const char* state;
        std::function<void()> action;
        DeviceState deviceState;
        bool deviceHandle;
        const char* caption;
        size_t queued;
    };
    const std::vector<Step> steps{
        {"Off", [] {}, DeviceState::Closed, false, "Turn On", 0},
        {"Opening", [&] { ClickOnOff(); }, DeviceState::Opening, true, "Turn On", 0},
        {"Running", [&] { Pump(); }, DeviceState::Playing, true, "Turn Off", BUFFER_COUNT},
        {"Running, buffers refilled", [&] { Play(10); }, DeviceState::Playing, true, "Turn Off", BUFFER_COUNT},
        {"Stopping", [&] { ClickOnOff(); }, DeviceState::Stopping, true, "Turn Off", 0},
        {"Off again", [&] { Pump(); }, DeviceState::Closed, false, "Turn On", 0},
    };
    for (const Step& step : steps) {
        step.action();
        EXPECT_EQ(transmitter.deviceState, step.deviceState) << step.state;
        EXPECT_EQ(transmitter.waveOutHandle != nullptr, step.deviceHandle) << step.state;
        EXPECT_EQ(Caption(), step.caption) << step.state;
        EXPECT_EQ(device.QueuedCount(), step.queued) << step.state;
    }
    EXPECT_EQ(device.CountCalls("Open"), 1u);
    EXPECT_EQ(device.CountCalls("PrepareHeader"), static_cast<size_t>(BUFFER_COUNT));
    EXPECT_EQ(device.CountCalls("Write"), BUFFER_COUNT + 10u);
    EXPECT_EQ(device.ruleViolations, 0);
}

TEST_F(TransmitterTest, FailedOpenBeepsShowsTheBoxAndStaysOff)
{
    struct Case {
        const char* name;
        MMRESULT openResult;
        int32_t selectedDevice;
    };
    const Case cases[] = {
        {"device refuses", MMSYSERR_ALLOCATED, 0},
        {"format refused", WAVERR_BADFORMAT, 0},
        {"no such device", MMSYSERR_NOERROR, 7},
    };
    for (const Case& c : cases) {
        boxes.alerts.clear();
        device.openResult = c.openResult;
        transmitter.selectedDevice = c.selectedDevice;
        ClickOnOff();
        Pump();
        ASSERT_EQ(boxes.alerts.size(), 2u) << c.name;
        EXPECT_EQ(boxes.alerts[0].kind, RecordedAlert::Beep) << c.name;
        EXPECT_EQ(boxes.alerts[0].style, static_cast<UINT>(MB_ICONEXCLAMATION));
        EXPECT_EQ(boxes.alerts[1].kind, RecordedAlert::Box) << c.name;
        EXPECT_EQ(boxes.alerts[1].text, "Error opening waveform audio device!");
        EXPECT_EQ(boxes.alerts[1].caption, "STANAG 4285");
        EXPECT_EQ(boxes.alerts[1].style, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
        EXPECT_EQ(boxes.alerts[1].owner, nullptr);
        EXPECT_EQ(transmitter.waveOutHandle, nullptr) << c.name;
        EXPECT_EQ(Caption(), "Turn On") << c.name;
    }
    EXPECT_EQ(device.CountCalls("PrepareHeader"), 0u);

    // It can be tried again.
    device.openResult = MMSYSERR_NOERROR;
    transmitter.selectedDevice = 0;
    SwitchOn();
}

// The caption turns back exactly when the close notification is handled,
// and by then every header is unprepared and the device closed.
TEST_F(TransmitterTest, StopSilencesAtOnceAndTheCaptionFollowsTheDevice)
{
    SwitchOn();
    Play(BUFFER_COUNT + 100);
    const size_t writesBefore = device.CountCalls("Write");

    ClickOnOff();
    EXPECT_EQ(device.CountCalls("Reset"), 1u) << "stopped inside the click";
    EXPECT_EQ(device.QueuedCount(), 0u) << "nothing left to play";

    while (transmitter.waveOutHandle != nullptr) {
        EXPECT_EQ(Caption(), "Turn Off");
        ASSERT_TRUE(DispatchNextMessage(dialog)) << "the device never closed";
    }
    EXPECT_EQ(Caption(), "Turn On");
    EXPECT_EQ(device.CountCalls("UnprepareHeader"), static_cast<size_t>(BUFFER_COUNT));
    EXPECT_EQ(device.CountCalls("Close"), 1u);
    EXPECT_EQ(device.closesWithPreparedHeaders, 0);
    EXPECT_EQ(device.CountCalls("Write"), writesBefore) << "returned buffers are not refilled";
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.ruleViolations, 0);
    for (const WAVEHDR& header : transmitter.waveHeaders)
        EXPECT_EQ(header.dwFlags & WHDR_PREPARED, 0u);

    // Unprepare of every header comes after the reset and before the close.
    size_t resetAt = 0, firstUnprepare = 0, closeAt = 0;
    for (size_t i = 0; i < device.calls.size(); ++i) {
        const std::string& f = device.calls[i].function;
        if (f == "Reset") resetAt = i;
        if (f == "UnprepareHeader" && firstUnprepare == 0) firstUnprepare = i;
        if (f == "Close") closeAt = i;
    }
    EXPECT_LT(resetAt, firstUnprepare);
    EXPECT_EQ(closeAt, firstUnprepare + BUFFER_COUNT);
}

TEST_F(TransmitterTest, CloseRequestWaitsForTheDeviceOrEndsAtOnce)
{
    struct Way {
        const char* name;
        void (*request)(HWND dialog);
    };
    const Way ways[] = {
        {"close box", [](HWND d) { SendMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"Esc command", [](HWND d) { SendMessageA(d, WM_COMMAND, IDCANCEL, 0); }},
        {"Esc key", [](HWND d) {
             PostMessageA(d, WM_KEYDOWN, VK_ESCAPE, 1);
             DispatchNextMessage(d); // the key alone, through IsDialogMessageA
         }},
    };
    for (const Way& way : ways) {
        for (bool running : {false, true}) {
            ScriptedWaveOut waveOut;
            RecordingMessageBoxes messageBoxes;
            Transmitter program(waveOut, messageBoxes, TransmitterSettings{8000, 1500.0});
            HWND window = program.CreateMainDialog();
            program.MainDialog().Start();
            if (running) {
                ClickButton(window, ID_TRANSMIT_BUTTON);
                PumpMessages(window);
                waveOut.PlayBuffers(20);
                PumpMessages(window);
            }
            way.request(window);
            if (running) {
                EXPECT_TRUE(IsWindow(window)) << way.name << ": held back while the device is open";
                EXPECT_TRUE(program.closePending) << way.name;
                EXPECT_EQ(waveOut.CountCalls("Reset"), 1u) << way.name;
                PumpMessages(window);
                EXPECT_FALSE(waveOut.IsOpen()) << way.name;
                EXPECT_EQ(waveOut.closesWithPreparedHeaders, 0) << way.name;
            }
            EXPECT_FALSE(IsWindow(window)) << way.name << (running ? ", running" : ", off");
        }
    }
}

// Mend: a close request between the open and the device's open
// notification must still close the device and end the dialog (nothing
// is queued yet, so no returned buffer would ever close it).
TEST_F(TransmitterTest, CloseRequestBeforeTheOpenNotificationStillCloses)
{
    ClickOnOff(); // Opening: MM_WOM_OPEN is still queued
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(dialog));
    Pump();
    EXPECT_EQ(device.CountCalls("Write"), 0u);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.closesWithPreparedHeaders, 0);
    EXPECT_FALSE(IsWindow(dialog));
}

// Mend: the header in MM_WOM_DONE is written to, so one that is not ours
// (a message posted by anyone) is ignored.
TEST_F(TransmitterTest, ForeignBufferNotificationsAreIgnored)
{
    WAVEHDR foreign{};
    char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    foreign.lpData = bytes;
    foreign.dwBufferLength = sizeof bytes;
    for (bool running : {false, true}) {
        if (running)
            SwitchOn();
        const size_t writes = device.CountCalls("Write");
        const int32_t position = transmitter.synthesis.framePosition;
        PostMessageA(dialog, MM_WOM_DONE, 0, reinterpret_cast<LPARAM>(&foreign));
        PostMessageA(dialog, MM_WOM_DONE, 0, reinterpret_cast<LPARAM>(reinterpret_cast<char*>(transmitter.waveHeaders.data()) + 4));
        Pump();
        EXPECT_EQ(device.CountCalls("Write"), writes);
        EXPECT_EQ(transmitter.synthesis.framePosition, position);
        EXPECT_EQ(bytes[0], 1);
    }
}

// Mend: notifications that do not fit the device's state change nothing. A
// buffer cannot come back before the device reported open (nothing is
// queued yet), and the open is reported once: queueing the ring again
// would hand the device headers it already holds.
TEST_F(TransmitterTest, NotificationsOutOfTurnAreIgnored)
{
    ClickOnOff(); // Opening: the open notification is still queued
    SendMessageA(dialog, MM_WOM_DONE, 0, reinterpret_cast<LPARAM>(&transmitter.waveHeaders[0]));
    EXPECT_EQ(device.CountCalls("Write"), 0u) << "a buffer back before the open";
    EXPECT_EQ(transmitter.synthesis.framePosition, 0);
    Pump();
    ASSERT_EQ(transmitter.deviceState, DeviceState::Playing);
    EXPECT_EQ(device.CountCalls("Write"), static_cast<size_t>(BUFFER_COUNT));

    SendMessageA(dialog, MM_WOM_OPEN, 0, 0);
    EXPECT_EQ(device.CountCalls("Write"), static_cast<size_t>(BUFFER_COUNT)) << "a second open";
    EXPECT_EQ(Caption(), "Turn Off");
    Play(10);
    EXPECT_EQ(device.ruleViolations, 0);
}

// "Soundcard" while the signal runs: the selection dialog switches it off
// through the on/off button, the stop completes while it is open, and the
// signal stays off after OK; the next "Turn On" uses the new device.
TEST_F(TransmitterTest, SoundcardDialogSwitchesARunningSignalOff)
{
    SwitchOn();
    Play(100);
    std::string captionInsideDialog;
    bool mainDialogDisabled = false;
    LaterAction chooseSecondDevice(20, [&] {
        HWND selection = transmitter.soundcard.soundcardDialog;
        ASSERT_NE(selection, nullptr);
        captionInsideDialog = Caption();
        mainDialogDisabled = !IsWindowEnabled(dialog);
        SendDlgItemMessageA(selection, ID_DEVICE_LIST, CB_SETCURSEL, 1, 0);
        ClickButton(selection, ID_DEVICE_OK);
    });
    ClickButton(dialog, ID_SOUNDCARD_BUTTON); // returns when the selection dialog has ended
    ASSERT_TRUE(chooseSecondDevice.HasRun());
    EXPECT_EQ(captionInsideDialog, "Turn On") << "stopped while the selection dialog was open";
    EXPECT_TRUE(mainDialogDisabled);
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_EQ(device.CountCalls("Reset"), 1u) << "clicked once";
    EXPECT_EQ(transmitter.selectedDevice, 1);

    Pump();
    EXPECT_EQ(Caption(), "Turn On");
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.CountCalls("Open"), 1u) << "not restarted";

    SwitchOn();
    EXPECT_EQ(device.openedDeviceId, 1u);
}

// The selection dialog asks the transmitter for its device when it opens
// and at OK: whatever the state, the signal is off once the dialog has
// ended, and a device is reset at most once.
TEST_F(TransmitterTest, SoundcardDialogLeavesTheSignalOffFromEveryState)
{
    struct Case {
        const char* state;
        std::function<void()> enter;
        size_t resets;
    };
    const std::vector<Case> cases{
        {"Off", [] {}, 0},
        {"Opening", [&] { ClickOnOff(); }, 1}, // opens inside the dialog, stopped at OK
        {"Playing", [&] { SwitchOn(); }, 1},
        {"Stopping", [&] { SwitchOn(); ClickOnOff(); }, 1},
    };
    for (const Case& c : cases) {
        device.calls.clear();
        c.enter();
        LaterAction pressOk(20, [&] { ClickButton(transmitter.soundcard.soundcardDialog, ID_DEVICE_OK); });
        ClickButton(dialog, ID_SOUNDCARD_BUTTON);
        ASSERT_TRUE(pressOk.HasRun()) << c.state;
        Pump();
        EXPECT_EQ(device.CountCalls("Reset"), c.resets) << c.state;
        EXPECT_EQ(transmitter.deviceState, DeviceState::Closed) << c.state;
        EXPECT_EQ(Caption(), "Turn On") << c.state;
        EXPECT_FALSE(device.IsOpen()) << c.state;
    }
}
