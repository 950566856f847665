// Capture: the ring of eight buffers at the device, the failures that end
// the program, the pause and restart around the selection dialog, and the
// release of a device.
#include "tests/receiver/receiver_fixture.h"

#include <functional>

namespace {

constexpr UINT CAPTURE_BOX_STYLE = MB_OK | MB_TASKMODAL | MB_SETFOREGROUND;

// Blocks of `heap` still allocated.
int BusyBlocks(HANDLE heap)
{
    int busy = 0;
    PROCESS_HEAP_ENTRY entry{};
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        busy += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
    HeapUnlock(heap);
    return busy;
}

// A heap of its own for the capture buffers, filled up to leave room for
// `freeBuffers` capture buffers only; destroyed with the test. (A system
// may round the heap's maximum size up, so the room is made by filling.)
struct PrivateHeap {
    explicit PrivateHeap(int freeBuffers) : handle(HeapCreate(0, 0, 16 * 1024))
    {
        std::vector<void*> blocks;
        while (void* block = HeapAlloc(handle, 0, CAPTURE_BUFFER_BYTES))
            blocks.push_back(block);
        for (int i = 0; i < freeBuffers && !blocks.empty(); ++i) {
            HeapFree(handle, 0, blocks.back());
            blocks.pop_back();
        }
        filledBlocks = static_cast<int>(blocks.size());
    }
    ~PrivateHeap() { HeapDestroy(handle); }
    HANDLE handle;
    int filledBlocks = 0;
};

void ExpectOneCaptureBox(const RecordingMessageBoxes& boxes, const std::string& text, const char* name)
{
    ASSERT_EQ(boxes.alerts.size(), 1u) << name;
    const RecordedAlert& box = boxes.alerts[0];
    EXPECT_EQ(box.kind, RecordedAlert::Box) << name;
    EXPECT_EQ(box.text, text) << name;
    EXPECT_EQ(box.caption, "Quorvane") << name;
    EXPECT_EQ(box.style, CAPTURE_BOX_STYLE) << name;
    EXPECT_EQ(box.owner, nullptr) << name;
}

} // namespace

TEST_F(ReceiverTest, StartRecordsFromTheSelectedDeviceInTheCaptureFormat)
{
    EXPECT_EQ(device.openedDeviceId, 0u);
    EXPECT_EQ(device.openedFlags, static_cast<DWORD>(CALLBACK_WINDOW));
    EXPECT_EQ(device.openedCallback, reinterpret_cast<DWORD_PTR>(dialog));
    EXPECT_EQ(device.openedInstance, reinterpret_cast<DWORD_PTR>(dialog));
    const WAVEFORMATEX& format = device.openedFormat;
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 1);
    EXPECT_EQ(format.nSamplesPerSec, 8000u);
    EXPECT_EQ(format.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(format.nBlockAlign, 2);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.cbSize, 0);

    // Headers 1..8, each prepared and added in turn, then the start.
    std::string expected = "Open";
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k)
        expected += " PrepareHeader AddBuffer";
    EXPECT_EQ(device.CallSequence(), expected + " Start");
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k) {
        EXPECT_EQ(device.calls[2 * k - 1].header, &receiver->captureHeaders[k]);
        EXPECT_EQ(receiver->captureHeaders[k].dwBufferLength, 2048u);
        EXPECT_NE(receiver->captureHeaders[k].lpData, nullptr);
    }
    EXPECT_EQ(receiver->captureHeaders[0].lpData, nullptr) << "entry 0 is never used";
    EXPECT_TRUE(device.IsRecording());
    EXPECT_EQ(device.QueuedCount(), 8u);
    EXPECT_TRUE(boxes.alerts.empty());
    EXPECT_TRUE(IsWindowVisible(dialog));
}

// Each returned buffer goes back to the tail of the queue after it was
// processed, so the eight circulate in a fixed order; nothing is allocated.
TEST_F(ReceiverTest, RingCirculatesInAFixedOrder)
{
    std::vector<LPSTR> buffers;
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k)
        buffers.push_back(receiver->captureHeaders[k].lpData);
    const size_t before = device.calls.size();
    Record(20);
    std::vector<WAVEHDR*> added;
    for (size_t i = before; i < device.calls.size(); ++i) {
        if (device.calls[i].function == "AddBuffer")
            added.push_back(device.calls[i].header);
    }
    ASSERT_EQ(added.size(), 20u);
    for (size_t i = 0; i < added.size(); ++i)
        EXPECT_EQ(added[i], &receiver->captureHeaders[1 + i % CAPTURE_BUFFER_COUNT]) << i;
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k)
        EXPECT_EQ(receiver->captureHeaders[k].lpData, buffers[k - 1]);
    EXPECT_EQ(device.QueuedCount(), 8u);
    EXPECT_EQ(device.ruleViolations, 0);
}

// Every failure to start shows its own message and ends the main dialog;
// whatever was opened or allocated is released at once.
TEST(ReceiverStart, EachFailureShowsItsMessageAndEndsTheProgram)
{
    struct Case {
        const char* name;
        std::function<void(ScriptedWaveIn&)> scriptDevice;
        int heapRoom; // capture buffers that fit into a heap of their own; -1: the process heap
        std::string text;
        bool opened;
    };
    const Case cases[] = {
        {"device busy", [](ScriptedWaveIn& d) { d.FailCall("Open", MMSYSERR_ALLOCATED); }, -1,
         "No suitable device found", false},
        {"rate refused", [](ScriptedWaveIn& d) { d.FailCall("Open", WAVERR_BADFORMAT); }, -1,
         "No suitable device found", false},
        {"no input device", [](ScriptedWaveIn& d) { d.deviceNames.clear(); }, -1, "No suitable device found", false},
        {"heap exhausted", [](ScriptedWaveIn&) {}, 3, "Can\xB4t alloc Buffers", true},
        {"prepare refused", [](ScriptedWaveIn& d) { d.FailCall("PrepareHeader", MMSYSERR_NOMEM, 3); }, -1,
         ScriptedWaveIn::ErrorText(MMSYSERR_NOMEM), true},
        {"add refused", [](ScriptedWaveIn& d) { d.FailCall("AddBuffer", MMSYSERR_INVALHANDLE, 7); }, -1,
         ScriptedWaveIn::ErrorText(MMSYSERR_INVALHANDLE), true},
        {"start refused", [](ScriptedWaveIn& d) { d.FailCall("Start", MMSYSERR_NODRIVER); }, -1,
         ScriptedWaveIn::ErrorText(MMSYSERR_NODRIVER), true},
    };
    for (const Case& c : cases) {
        ScriptedWaveIn device;
        RecordingMessageBoxes boxes;
        c.scriptDevice(device);
        PrivateHeap heap(c.heapRoom);
        auto receiver = std::make_unique<Receiver>(device, boxes, ReceiverSettings{8000, 1500.0f});
        if (c.heapRoom >= 0)
            receiver->captureHeap = heap.handle;
        HWND dialog = receiver->CreateMainDialog();
        receiver->MainDialog().RunModal(); // returns at once: the dialog has ended

        ExpectOneCaptureBox(boxes, c.text, c.name);
        EXPECT_FALSE(IsWindow(dialog)) << c.name;
        EXPECT_EQ(device.CountCalls("Open"), 1u) << c.name;
        EXPECT_EQ(device.CountCalls("Close"), c.opened ? 1u : 0u) << c.name;
        EXPECT_FALSE(device.IsOpen()) << c.name;
        EXPECT_EQ(receiver->waveInHandle, nullptr) << c.name;
        EXPECT_EQ(device.closesWithPreparedHeaders, 0) << c.name;
        EXPECT_EQ(device.ruleViolations, 0) << c.name;
        if (device.CountCalls("GetErrorText") != 0) {
            EXPECT_EQ(device.errorTextSize, 127u) << c.name;
        }
        if (c.heapRoom >= 0) {
            EXPECT_EQ(BusyBlocks(heap.handle), heap.filledBlocks) << c.name << ": buffers freed";
        }
        receiver.reset();
    }
}

// A buffer that cannot be queued again: the driver's text, then the end.
TEST_F(ReceiverTest, RequeueFailureShowsTheDriverTextAndEndsTheProgram)
{
    device.source = TransmitterStream(4);
    device.FailCall("AddBuffer", MMSYSERR_NOMEM, 3); // the fourth re-queue fails
    Record(4);
    ExpectOneCaptureBox(boxes, ScriptedWaveIn::ErrorText(MMSYSERR_NOMEM), "re-queue");
    EXPECT_EQ(device.errorTextSize, 127u);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(receiver->correlator.display.waterfallRow, 4) << "the buffer was processed first";
}

// "Soundcard": recording stops while the selection dialog is open, the
// partial buffer the stop returns is processed there, and afterwards the
// old device is released in order and capture starts on the chosen device
// with fresh buffers. The correlator, the trackbar and the pictures go on.
TEST_F(ReceiverTest, SelectionDialogPausesAndRestartsCapture)
{
    device.source = TransmitterStream(20);
    ReferenceReceiver reference;
    Record(5);
    SendMessageA(Trackbar(), TBM_SETPOS, TRUE, 1234);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 1234), reinterpret_cast<LPARAM>(Trackbar()));
    const std::string clockText = Text(ID_CLOCK_LABEL);
    const HWAVEIN oldHandle = device.Handle();
    // What the receiver has seen by the end of the partial buffer.
    for (size_t b = 0; b < 5; ++b)
        reference.CaptureBuffer(SourceAt(b), BLOCK_LENGTH);
    reference.correlator.SetClockPosition(1234);
    reference.CaptureBuffer(SourceAt(5), device.samplesBeforeStop);

    bool recordingInside = true, mainDisabledInside = false;
    int32_t writeIndexInside = -1;
    size_t callsBeforeOk = 0;
    LaterAction chooseSecondDevice(20, [&] {
        HWND selection = receiver->soundcard.soundcardDialog;
        ASSERT_NE(selection, nullptr);
        recordingInside = device.IsRecording();
        mainDisabledInside = !IsWindowEnabled(dialog);
        writeIndexInside = receiver->correlator.blockWriteIndex;
        callsBeforeOk = device.calls.size();
        SendDlgItemMessageA(selection, ID_DEVICE_LIST, CB_SETCURSEL, 1, 0);
        ClickButton(selection, ID_DEVICE_OK);
    });
    ClickButton(dialog, ID_SOUNDCARD_BUTTON); // returns when the selection dialog has ended
    ASSERT_TRUE(chooseSecondDevice.HasRun());

    EXPECT_FALSE(recordingInside);
    EXPECT_TRUE(mainDisabledInside);
    EXPECT_EQ(writeIndexInside, reference.correlator.blockWriteIndex) << "the partial buffer was processed";
    EXPECT_EQ(receiver->selectedDevice, 1);

    // The release of the old device, in order, then a fresh start.
    std::string expected = "Stop Reset";
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k)
        expected += " UnprepareHeader";
    expected += " Close Open";
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k)
        expected += " PrepareHeader AddBuffer";
    EXPECT_EQ(device.CallSequence(callsBeforeOk), expected + " Start");
    for (size_t i = callsBeforeOk; i < device.calls.size() && device.calls[i].function != "Open"; ++i)
        EXPECT_EQ(device.calls[i].handle, oldHandle) << device.calls[i].function;
    EXPECT_EQ(device.openedDeviceId, 1u);
    EXPECT_EQ(device.closesWithPreparedHeaders, 0);
    EXPECT_EQ(device.ruleViolations, 0);
    EXPECT_TRUE(device.IsRecording());
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_TRUE(boxes.alerts.empty());

    // Everything carries on where it was.
    Pump();
    EXPECT_EQ(receiver->correlator.blockWriteIndex, writeIndexInside) << "no late header was processed";
    Record(3);
    EXPECT_EQ(receiver->correlator.display.waterfallRow, 5 + 3);
    EXPECT_EQ(SendMessageA(Trackbar(), TBM_GETPOS, 0, 0), 1234);
    EXPECT_EQ(Text(ID_CLOCK_LABEL), clockText);
    EXPECT_EQ(receiver->correlator.clockCorrection, (1000.0L - 1234) / 500000);
}

TEST_F(ReceiverTest, ClosingTheSelectionDialogRestartsOnTheSameDevice)
{
    LaterAction closeSelection(20, [&] {
        PostMessageA(receiver->soundcard.soundcardDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    ClickButton(dialog, ID_SOUNDCARD_BUTTON);
    ASSERT_TRUE(closeSelection.HasRun());
    EXPECT_EQ(receiver->selectedDevice, 0);
    EXPECT_EQ(device.CountCalls("Open"), 2u);
    EXPECT_EQ(device.openedDeviceId, 0u);
    EXPECT_TRUE(device.IsRecording());
}

// A header the released device returns is neither processed nor queued
// again: whether the new device got a new handle (the handle tells) or the
// very same one (the old notifications were discarded with the device).
TEST(ReceiverRestart, LateHeadersOfTheReleasedDeviceAreIgnored)
{
    for (bool reuseHandles : {false, true}) {
        ScriptedWaveIn device;
        device.reuseHandles = reuseHandles;
        device.source = TransmitterStream(10);
        RecordingMessageBoxes boxes;
        auto receiver = std::make_unique<Receiver>(device, boxes, ReceiverSettings{8000, 1500.0f});
        HWND dialog = receiver->CreateMainDialog();
        receiver->MainDialog().Start();
        PumpMessages(dialog);
        device.RecordBuffers(2);
        PumpMessages(dialog);
        const HWAVEIN oldHandle = device.Handle();

        // The restart as the selection dialog's end does it; the old
        // device's reset has posted seven empty headers meanwhile.
        receiver->PauseCapture();
        ASSERT_TRUE(receiver->StartCapture());
        const int32_t writeIndex = receiver->correlator.blockWriteIndex;
        const size_t calls = device.calls.size();
        PumpMessages(dialog);
        if (!reuseHandles) {
            // One more, late, of a header that looks returned: only the
            // handle tells that it is not the current device's.
            WAVEHDR& late = receiver->captureHeaders[3];
            const DWORD flags = late.dwFlags;
            late.dwFlags = WHDR_PREPARED | WHDR_DONE;
            SendMessageA(dialog, MM_WIM_DATA, reinterpret_cast<WPARAM>(oldHandle), reinterpret_cast<LPARAM>(&late));
            late.dwFlags = flags;
        }

        const char* name = reuseHandles ? "same handle" : "new handle";
        EXPECT_EQ(receiver->correlator.blockWriteIndex, writeIndex) << name;
        EXPECT_EQ(device.calls.size(), calls) << name << ": nothing queued again";
        EXPECT_EQ(device.QueuedCount(), 8u) << name;
        EXPECT_EQ(device.ruleViolations, 0) << name;
        EXPECT_TRUE(boxes.alerts.empty()) << name;
    }
}

// No input device when the selection dialog opens: the warning, an empty
// list, -1 stored by "OK", and the restart on WAVE_MAPPER fails.
TEST_F(ReceiverTest, EmptyDeviceListStoresMinusOneAndTheRestartFails)
{
    device.deviceNames.clear();
    LaterAction pressOk(20, [&] { ClickButton(receiver->soundcard.soundcardDialog, ID_DEVICE_OK); });
    ClickButton(dialog, ID_SOUNDCARD_BUTTON);
    ASSERT_TRUE(pressOk.HasRun());

    EXPECT_EQ(receiver->selectedDevice, -1);
    EXPECT_EQ(device.openedDeviceId, WAVE_MAPPER);
    ASSERT_EQ(boxes.alerts.size(), 2u);
    EXPECT_EQ(boxes.alerts[0].text, "You have no audio input devices!");
    EXPECT_EQ(boxes.alerts[0].caption, "Warning");
    EXPECT_EQ(boxes.alerts[0].style, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes.alerts[1].text, "No suitable device found");
    EXPECT_EQ(boxes.alerts[1].caption, "Quorvane");
    EXPECT_EQ(boxes.alerts[1].style, CAPTURE_BOX_STYLE);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(device.IsOpen());
}
