// Cost of one MM_WIM_DATA handling in the real receiver dialog, against
// its real-time budget: the notification of a filled 1024-sample buffer,
// dispatched by the message loop, the correlator's block, the drawing into
// both picture controls with their repaints on screen, and the re-queue.
// Run it under Wine (it needs a display): the budget is one buffer period,
// 128 ms at 8000 Hz.
#include "receiver/receiver.h"
#include "tests/bench/timing.h"
#include "tests/platform/support/message_pump.h"
#include "tests/platform/support/recording_message_boxes.h"
#include "tests/platform/support/scripted_wave_in.h"
#include "transmitter/dsp/stream.h"

#include <commctrl.h>

#include <memory>

int main()
{
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    ScriptedWaveIn device;
    RecordingMessageBoxes boxes;
    auto receiver = std::make_unique<Receiver>(device, boxes, ReceiverSettings{8000, 1500.0f});
    HWND dialog = receiver->CreateMainDialog();
    receiver->MainDialog().Start();
    PumpMessages(dialog);

    // The transmitter's signal, over and over: every lag correlates real
    // samples and the waterfall, soon full, scrolls with every block.
    const std::vector<int16_t> frames = SynthesizeStream(8000, 1500.0, 8 * 256);
    auto handleOneBuffer = [&] {
        if (device.sourcePosition + BLOCK_LENGTH > device.source.size()) {
            device.source = frames;
            device.sourcePosition = 0;
        }
        device.RecordBuffers(1);
        PumpMessages(dialog);
    };
    for (int i = 0; i < 210; ++i)
        handleOneBuffer();

    ReportAgainstBudget("MM_WIM_DATA handling at 8000/1500", TimeRepeatedly(handleOneBuffer, 2.0), 128e6);
    return boxes.alerts.empty() ? 0 : 1;
}
