// The receiver's real main dialog on a scripted wave-in device and a
// message-box recorder, driven by sending and pumping window messages; and
// a reference correlator with in-memory pictures, fed the same buffers, to
// say what the dialog must show.
#pragma once

#include "common/ui_facts.h"
#include "platform/controls.h"
#include "receiver/receiver.h"
#include "tests/platform/support/message_pump.h"
#include "tests/platform/support/recording_message_boxes.h"
#include "tests/platform/support/scripted_wave_in.h"
#include "tests/receiver/dsp/receiver_test_support.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

// What the receiver must compute and draw for the same capture buffers.
struct ReferenceReceiver : ReceiverUnderTest {
    ReferenceReceiver() : ReceiverUnderTest(8000, 1500, GetSysColor(COLOR_BTNFACE)) {}
};

class ReceiverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device.deviceNames = {"Scripted Microphone", "Scripted Line In"};
        dialog = receiver->CreateMainDialog();
        ASSERT_NE(dialog, nullptr);
        receiver->MainDialog().Start();
        Pump();
    }

    void Pump() { PumpMessages(dialog); }
    std::string Text(int id) const { return GetControlText(dialog, id); }
    HWND Trackbar() const { return GetDlgItem(dialog, ID_CLOCK_TRACKBAR); }

    // Lets the device fill `count` buffers, handing each back as it goes.
    void Record(size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(device.RecordBuffers(1), 1u) << "nothing queued at buffer " << i;
            Pump();
        }
    }

    // The samples of the next `count` full buffers the device will record.
    const int16_t* SourceAt(size_t buffer) const { return device.source.data() + buffer * BLOCK_LENGTH; }

    ScriptedWaveIn device;
    RecordingMessageBoxes boxes;
    std::unique_ptr<Receiver> receiver = std::make_unique<Receiver>(device, boxes, ReceiverSettings{8000, 1500.0f});
    HWND dialog = nullptr;
};
