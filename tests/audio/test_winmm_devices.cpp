// The winmm devices as soundclock names them, and how they fail: a device
// that cannot be opened says so in the driver's words with what was asked;
// a device that goes away mid-run is lost within the stall limit, never
// waited on for ever.
#include "tests/audio/winmm_fixture.h"

#include <functional>

namespace {

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST_F(WinmmTest, DevicesAreListedInIndexOrderAndOpenedByIndexOrName)
{
    waveIn.deviceNames = {"Line In", "USB Audio", "Microphone"};
    auto system = System();
    const std::vector<AudioDeviceInfo> devices = system->Devices(AudioDirection::Capture);
    ASSERT_EQ(devices.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(devices[i].index, i);
        EXPECT_EQ(devices[i].name, waveIn.deviceNames[i]);
        EXPECT_EQ(devices[i].isDefault, i == 0);
    }
    const struct {
        std::string device;
        UINT opened;
    } OPENS[] = {{"", 0}, {"2", 2}, {"USB Audio", 1}, {"usb audio", 1}, {"Microphone", 2}};
    for (const auto& open : OPENS) {
        auto stream = OpenOrFail(*system, AudioDirection::Capture, 8000, open.device);
        EXPECT_EQ(waveIn.openedDeviceId, open.opened) << open.device;
    }
}

struct OpenFailure {
    const char* name;
    std::function<void(WinmmTest&)> arrange;
    AudioDirection direction;
    std::string device;
    std::vector<std::string> errorParts;
};

const OpenFailure OPEN_FAILURES[] = {
    {"a format the output refuses", [](WinmmTest& t) { t.waveOut.openResult = WAVERR_BADFORMAT; },
     AudioDirection::Playback, "0",
     {"cannot open playback device 0 (\"Scripted Speakers\") at 7996 Hz",
      ScriptedWaveOut::ErrorText(WAVERR_BADFORMAT), "waveOutOpen"}},
    {"an input held by another program", [](WinmmTest& t) { t.waveIn.FailCall("Open", MMSYSERR_ALLOCATED); },
     AudioDirection::Capture, "",
     {"capture device 0 (\"Scripted Microphone\") at 7996 Hz", ScriptedWaveIn::ErrorText(MMSYSERR_ALLOCATED)}},
    {"an index beyond the devices", [](WinmmTest&) {}, AudioDirection::Capture, "3",
     {"capture device 3 at 7996 Hz", ScriptedWaveIn::ErrorText(MMSYSERR_BADDEVICEID),
      "Windows lists 1 capture device"}},
    {"a name no device has", [](WinmmTest&) {}, AudioDirection::Playback, "Headphones",
     {"no playback device named \"Headphones\"", "0 \"Scripted Speakers\""}},
    {"a name two devices share", [](WinmmTest& t) { t.waveIn.deviceNames = {"USB Audio", "USB Audio"}; },
     AudioDirection::Capture, "USB Audio", {"devices 0 and 1 are both named \"USB Audio\""}},
    {"an input that refuses its buffers", [](WinmmTest& t) { t.waveIn.FailCall("AddBuffer", MMSYSERR_NOMEM, 2); },
     AudioDirection::Capture, "0",
     {"cannot start capture device 0", ScriptedWaveIn::ErrorText(MMSYSERR_NOMEM), "waveInAddBuffer"}},
};

TEST_F(WinmmTest, ADeviceThatCannotBeOpenedSaysWhyAndWhatWasAsked)
{
    for (const OpenFailure& c : OPEN_FAILURES) {
        waveIn = ScriptedWaveIn{};
        waveOut = ScriptedWaveOut{};
        c.arrange(*this);
        std::string error;
        if (c.direction == AudioDirection::Capture)
            EXPECT_EQ(System()->OpenCapture(c.device, 7996, 1, error), nullptr) << c.name;
        else
            EXPECT_EQ(System()->OpenPlayback(c.device, 7996, 1, error), nullptr) << c.name;
        for (const std::string& part : c.errorParts)
            EXPECT_TRUE(Contains(error, part)) << c.name << ": " << error << "\n  lacks: " << part;
        // Nothing is left open or prepared behind a failed open.
        EXPECT_FALSE(waveIn.IsOpen()) << c.name;
        EXPECT_FALSE(waveOut.IsOpen()) << c.name;
        EXPECT_EQ(waveIn.closesWithPreparedHeaders + waveOut.closesWithPreparedHeaders, 0) << c.name;
    }
}

// Each case runs the stream until the device is gone; the call after that
// must give Lost (a 10 s timeout would give Timeout if the stall limit did
// not end the wait), with the words the text must hold.
struct LossCase {
    const char* name;
    AudioDirection direction;
    std::function<AudioResult(WinmmTest&, AudioStream&)> run;
    std::vector<std::string> errorParts;
};

constexpr int LONG_WAIT_MS = 10000;
const std::vector<int16_t> RING_OF_SAMPLES(RING_BUFFERS * BUFFER_SAMPLES_AT_8000 + 1, 7);

AudioResult ReadLongWait(AudioStream& stream)
{
    std::vector<int32_t> buffer(4096 * static_cast<size_t>(stream.Channels()));
    size_t done = 0;
    return WinmmTest::Capture(stream).Read(buffer.data(), 4096, done, LONG_WAIT_MS);
}

const LossCase LOSS_CASES[] = {
    {"capture: the device stops returning buffers", AudioDirection::Capture,
     [](WinmmTest& t, AudioStream& s) {
         t.waveIn.RecordBuffers(2);
         WinmmTest::ReadAvailable(s, 4096);
         return ReadLongWait(s);
     },
     {"capture device 0", "gave no buffer back"}},
    {"capture: the driver refuses a buffer back", AudioDirection::Capture,
     [](WinmmTest& t, AudioStream& s) {
         t.waveIn.FailCall("AddBuffer", MMSYSERR_NODRIVER);
         t.waveIn.RecordBuffers(1);
         // What came back before the loss is still read.
         const size_t read = WinmmTest::ReadAvailable(s, 4096).size();
         EXPECT_EQ(read, BUFFER_SAMPLES_AT_8000);
         return ReadLongWait(s);
     },
     {"capture device 0", ScriptedWaveIn::ErrorText(MMSYSERR_NODRIVER), "waveInAddBuffer"}},
    {"playback: the device stops returning buffers", AudioDirection::Playback,
     [](WinmmTest&, AudioStream& s) {
         size_t done = 0;
         return WinmmTest::Playback(s).Write(RING_OF_SAMPLES.data(), RING_OF_SAMPLES.size(), done, LONG_WAIT_MS);
     },
     {"playback device 0", "gave no buffer back"}},
    {"playback: the device vanishes", AudioDirection::Playback,
     [](WinmmTest& t, AudioStream& s) {
         WinmmTest::WriteNow(s, RING_OF_SAMPLES.data(), 2 * BUFFER_SAMPLES_AT_8000);
         t.waveOut.vanished = true;
         size_t done = 0;
         return WinmmTest::Playback(s).Write(RING_OF_SAMPLES.data(), BUFFER_SAMPLES_AT_8000, done, LONG_WAIT_MS);
     },
     {"playback device 0", ScriptedWaveOut::ErrorText(MMSYSERR_NODRIVER), "waveOutWrite"}},
    {"playback: the device stops during the drain", AudioDirection::Playback,
     [](WinmmTest&, AudioStream& s) {
         WinmmTest::WriteNow(s, RING_OF_SAMPLES.data(), 1000);
         return WinmmTest::Playback(s).Drain(LONG_WAIT_MS);
     },
     {"playback device 0", "gave no buffer back"}},
};

TEST_F(WinmmTest, ALostDeviceEndsTheWaitWithTheReason)
{
    settings.stallLimitMs = 100;
    for (const LossCase& c : LOSS_CASES) {
        waveIn = ScriptedWaveIn{};
        waveOut = ScriptedWaveOut{};
        auto system = System();
        auto stream = OpenOrFail(*system, c.direction, 8000);
        ASSERT_NE(stream, nullptr) << c.name;
        EXPECT_EQ(c.run(*this, *stream), AudioResult::Lost) << c.name;
        const std::string error = stream->ErrorText();
        for (const std::string& part : c.errorParts)
            EXPECT_TRUE(Contains(error, part)) << c.name << ": " << error << "\n  lacks: " << part;
        stream->Stop();
    }
}

}  // namespace
