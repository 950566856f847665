// A close request on a device that vanished while it played: the device
// never reports its close, and the window must still end, CLOSE_WAIT_MS
// after the request, from the modal loop's idle time.
#include "tests/transmitter/transmitter_fixture.h"

class CloseDeadlineTest : public TransmitterTest {
protected:
    void SetUp() override
    {
        TransmitterTest::SetUp();
        transmitter.millisecondClock = [this] { return now; };
    }

    // Running, then the device goes away and the user closes the window.
    void VanishAndRequestClose()
    {
        SwitchOn();
        Play(20);
        device.vanished = true;
        SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        Pump();
    }

    DWORD now = 0;
};

TEST_F(CloseDeadlineTest, VanishedDeviceEndsTheDialogAtTheDeadline)
{
    // Also right across the millisecond clock's wrap.
    for (DWORD start : {DWORD{1000}, DWORD{0xFFFFFFFF - 1000}}) {
        ScriptedWaveOut waveOut;
        RecordingMessageBoxes messageBoxes;
        Transmitter program(waveOut, messageBoxes, TransmitterSettings{8000, 1500.0});
        DWORD clock = start;
        program.millisecondClock = [&] { return clock; };
        HWND window = program.CreateMainDialog();
        program.MainDialog().Start();
        ClickButton(window, ID_TRANSMIT_BUTTON);
        PumpMessages(window);
        waveOut.vanished = true;
        SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpMessages(window);

        EXPECT_TRUE(IsWindow(window)) << start << ": held back, the device may still close";
        EXPECT_TRUE(program.closePending) << start;
        clock = start + CLOSE_WAIT_MS - 1;
        program.OnIdle();
        EXPECT_TRUE(IsWindow(window)) << start << ": one millisecond before the deadline";
        // A second request does not move the deadline.
        SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        clock = start + CLOSE_WAIT_MS;
        program.OnIdle();
        EXPECT_FALSE(IsWindow(window)) << start << ": at the deadline";
    }
}

TEST_F(CloseDeadlineTest, IdleTimeAloneNeverEndsTheDialog)
{
    struct Case {
        const char* state;
        std::function<void()> enter;
    };
    const Case cases[] = {
        {"Off", [] {}},
        {"Running", [&] { SwitchOn(); }},
        {"Stopping after a click on a vanished device", [&] {
             device.vanished = true;
             ClickOnOff();
             Pump();
         }},
    };
    for (const Case& c : cases) {
        c.enter();
        now += 10 * CLOSE_WAIT_MS;
        transmitter.OnIdle();
        EXPECT_TRUE(IsWindow(dialog)) << c.state;
    }
}

TEST_F(CloseDeadlineTest, HealthyDeviceClosesBeforeTheDeadline)
{
    SwitchOn();
    Play(20);
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.closesWithPreparedHeaders, 0);
    EXPECT_FALSE(IsWindow(dialog));
}

// The whole way: the modal loop's idle time reaches the deadline on its own.
TEST_F(CloseDeadlineTest, ModalLoopEndsAVanishedDevicesDialog)
{
    transmitter.millisecondClock = [this] { return now += 100; };
    VanishAndRequestClose();
    ASSERT_TRUE(IsWindow(dialog));
    bool rescued = false;
    LaterAction guard(5000, [&] {
        rescued = true;
        EndDialogWindow(dialog);
    });
    transmitter.RunMainDialog();
    EXPECT_FALSE(rescued) << "the modal loop did not end the dialog by itself";
    EXPECT_FALSE(IsWindow(dialog));
}
