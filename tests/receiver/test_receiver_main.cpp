// The whole program, ReceiverMain: "STANAG.SET" in the working directory,
// the main dialog run to its end, and the device released when it ends.
#include "tests/receiver/receiver_fixture.h"

#include <cstdio>
#include <fstream>

namespace {

const char* const MAIN_CAPTION = "STANAG 4285 Quorvane";

// Writes "STANAG.SET" for one test and removes it afterwards; nullptr
// content means no file at all.
struct SettingsFile {
    explicit SettingsFile(const char* content)
    {
        std::remove(SETTINGS_FILE_NAME);
        if (content != nullptr)
            std::ofstream(SETTINGS_FILE_NAME, std::ios::binary) << content;
    }
    ~SettingsFile() { std::remove(SETTINGS_FILE_NAME); }
};

// What the running program showed before its window was closed.
struct Observed {
    bool windowFound = false;
};

// Runs ReceiverMain; once its window is up, closes it like the close box.
Observed RunAndClose(WaveInDevice& device, MessageBoxes& boxes)
{
    Observed seen;
    LaterAction close(50, [&] {
        HWND window = FindWindowA(nullptr, MAIN_CAPTION);
        seen.windowFound = window != nullptr;
        if (window != nullptr)
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(ReceiverMain(device, boxes), 0);
    EXPECT_TRUE(close.HasRun());
    return seen;
}

} // namespace

TEST(ReceiverMain, SettingsFileSetsTheCaptureFormat)
{
    struct Case {
        const char* content;
        DWORD rate;
        DWORD bytesPerSecond;
    };
    const Case cases[] = {
        {nullptr, 8000, 16000},
        {"0\r\n0\r\n", 8000, 16000},
        {"9600\r\n1800\r\n", 9600, 19200},
        {"8008\r\n1500\r\n", 8008, 16016},
    };
    for (const Case& c : cases) {
        SettingsFile file(c.content);
        ScriptedWaveIn device;
        RecordingMessageBoxes boxes;
        const Observed seen = RunAndClose(device, boxes);
        const char* name = c.content ? c.content : "no file";
        EXPECT_TRUE(seen.windowFound) << name;
        EXPECT_EQ(device.openedFormat.nSamplesPerSec, c.rate) << name;
        EXPECT_EQ(device.openedFormat.nAvgBytesPerSec, c.bytesPerSecond) << name;
        EXPECT_TRUE(boxes.alerts.empty()) << name;
    }
}

// Closing the window ends the program at once, and the device is released
// on the way out, in order.
TEST(ReceiverMain, ClosingTheWindowEndsTheProgramAndReleasesTheDevice)
{
    SettingsFile file(nullptr);
    ScriptedWaveIn device;
    RecordingMessageBoxes boxes;
    RunAndClose(device, boxes);
    std::string release = "Stop Reset";
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k)
        release += " UnprepareHeader";
    const std::string calls = device.CallSequence();
    ASSERT_GE(calls.size(), release.size() + 6);
    EXPECT_EQ(calls.substr(calls.size() - release.size() - 6), release + " Close");
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.closesWithPreparedHeaders, 0);
    EXPECT_EQ(device.ruleViolations, 0);
}

// Lines ended by a line feed alone read as one value, 80001500, the rate:
// the real wave-in open refuses it before any driver sees it, and the
// program says so and ends.
TEST(ReceiverMain, ImpossibleRateFromLineFeedOnlySettingsEndsTheProgram)
{
    SettingsFile file("8000\n1500\n");
    Win32WaveIn device;
    RecordingMessageBoxes boxes;
    EXPECT_EQ(ReceiverMain(device, boxes), 0);
    ASSERT_EQ(boxes.alerts.size(), 1u);
    EXPECT_EQ(boxes.alerts[0].text, "No suitable device found");
    EXPECT_EQ(boxes.alerts[0].caption, "Quorvane");
    EXPECT_EQ(boxes.alerts[0].style, static_cast<UINT>(MB_OK | MB_TASKMODAL | MB_SETFOREGROUND));
    EXPECT_EQ(FindWindowA(nullptr, MAIN_CAPTION), nullptr);
}
