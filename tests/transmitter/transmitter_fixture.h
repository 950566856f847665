// The transmitter's real main dialog on a scripted wave-out device and a
// message-box recorder, driven by sending and pumping window messages.
#pragma once

#include "common/ui_facts.h"
#include "platform/controls.h"
#include "tests/platform/support/message_pump.h"
#include "tests/platform/support/recording_message_boxes.h"
#include "tests/platform/support/scripted_wave_out.h"
#include "transmitter/transmitter.h"

#include <gtest/gtest.h>

#include <string>

class TransmitterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device.deviceNames = {"Scripted Speakers", "Scripted Headphones"};
        dialog = transmitter.CreateMainDialog();
        ASSERT_NE(dialog, nullptr);
        transmitter.MainDialog().Start();
        Pump();
    }

    void Pump() { PumpMessages(dialog); }
    std::string Caption() const { return GetControlText(dialog, ID_TRANSMIT_BUTTON); }
    void ClickOnOff() { ClickButton(dialog, ID_TRANSMIT_BUTTON); }

    // "Turn On" and the device's open notification: Running.
    void SwitchOn()
    {
        ClickOnOff();
        Pump();
        ASSERT_EQ(Caption(), "Turn Off");
    }

    // Lets the device play `count` buffers, handing each back as it goes.
    void Play(size_t count)
    {
        while (count > 0) {
            const size_t played = device.PlayBuffers(count < 500 ? count : 500);
            ASSERT_GT(played, 0u) << "nothing queued";
            count -= played;
            Pump();
        }
    }

    ScriptedWaveOut device;
    RecordingMessageBoxes boxes;
    Transmitter transmitter{device, boxes, TransmitterSettings{8000, 1500.0}};
    HWND dialog = nullptr;
};
