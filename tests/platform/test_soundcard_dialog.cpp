// The "Select soundcard" dialog on real windows, for both directions: the
// list, the choice, the warning and the hooks.
#include "common/ui_facts.h"
#include "platform/soundcard_dialog.h"
#include "platform/controls.h"
#include "platform/dialog.h"
#include "tests/platform/support/message_pump.h"
#include "tests/platform/support/recording_message_boxes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ListedDevices final : public WaveDeviceCatalog {
public:
    std::vector<std::string> names;
    unsigned DeviceCount() override { return static_cast<unsigned>(names.size()); }
    std::string ProductName(unsigned index) override { return names.at(index); }
};

// A stand-in for a main dialog: the selection dialog's owner.
class MainDialogStandIn {
public:
    MainDialogStandIn() : dialog(Layout(), nullptr)
    {
        window = dialog.Create();
        dialog.Start();
    }

    static DialogLayout Layout()
    {
        DialogLayout layout;
        layout.caption = "Main";
        layout.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
        layout.width = 178;
        layout.height = 44;
        return layout;
    }

    Dialog dialog;
    HWND window = nullptr;
};

struct Harness {
    explicit Harness(AudioDirection direction) : selection(direction, devices, boxes, selectedDevice)
    {
    }

    // Runs the dialog modally; `inside` acts on it from within its loop.
    void Run(std::function<void(HWND)> inside)
    {
        LaterAction action(20, [&] { inside(selection.soundcardDialog); });
        selection.ChangeSoundcard(main.window);
        ASSERT_TRUE(action.HasRun());
    }

    ListedDevices devices;
    RecordingMessageBoxes boxes;
    int32_t selectedDevice = 0;
    MainDialogStandIn main;
    SoundcardSelection selection;
};

std::vector<std::string> ListedNames(HWND dialog)
{
    std::vector<std::string> names;
    const LRESULT count = SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char name[64] = "";
        SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
        names.push_back(name);
    }
    return names;
}

LRESULT Selection(HWND dialog)
{
    return SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_GETCURSEL, 0, 0);
}

} // namespace

TEST(SoundcardDialog, WindowAndControlsAsBuilt)
{
    Harness h(AudioDirection::Output);
    h.devices.names = {"Speakers"};
    h.Run([&](HWND dialog) {
        char caption[64] = "";
        GetWindowTextA(dialog, caption, sizeof caption);
        EXPECT_STREQ(caption, "Select soundcard");
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), h.main.window);
        EXPECT_FALSE(IsWindowEnabled(h.main.window));
        EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        RECT client{};
        GetClientRect(dialog, &client);
        EXPECT_EQ(client.right, 237);
        EXPECT_EQ(client.bottom, 60);
        POINT corner{100, 100};
        ClientToScreen(h.main.window, &corner);
        RECT frame{};
        GetWindowRect(dialog, &frame);
        EXPECT_EQ(frame.left, corner.x);
        EXPECT_EQ(frame.top, corner.y);

        HWND list = GetDlgItem(dialog, ID_DEVICE_LIST);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(list, GWL_STYLE)), 0x50010002u);
        EXPECT_EQ(GetNextDlgTabItem(dialog, list, FALSE), GetDlgItem(dialog, ID_DEVICE_OK));
        EXPECT_EQ(GetControlText(dialog, ID_DEVICE_OK), "OK");

        auto brush = reinterpret_cast<HBRUSH>(SendMessageA(dialog, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(dialog)));
        LOGBRUSH colour{};
        GetObjectA(brush, sizeof colour, &colour);
        EXPECT_EQ(colour.lbColor, RGB(224, 255, 255));
        SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_TRUE(IsWindowEnabled(h.main.window));
    EXPECT_EQ(h.selection.soundcardDialog, nullptr);
}

TEST(SoundcardDialog, ListsNamesInIndexOrderAndStoresTheChoice)
{
    struct Case {
        const char* name;
        int32_t selectedBefore;
        LRESULT preselected;
        int choose;           // -2: close box, -1: leave as it is, else pick that entry
        int32_t selectedAfter;
    };
    const Case cases[] = {
        {"remembered device shown, OK keeps it", 1, 1, -1, 1},
        {"another device chosen", 0, 0, 2, 2},
        {"remembered index gone: nothing selected, OK stores -1", 5, CB_ERR, -1, -1},
        {"close box leaves the value", 2, 2, -2, 2},
        {"-1 stays -1", -1, CB_ERR, -1, -1},
    };
    for (AudioDirection direction : {AudioDirection::Input, AudioDirection::Output}) {
        for (const Case& c : cases) {
            Harness h(direction);
            h.devices.names = {"Zeta Line", "Alpha Mic", "Mid Card"};
            h.selectedDevice = c.selectedBefore;
            std::vector<std::string> listed;
            LRESULT preselected = -99;
            h.Run([&](HWND dialog) {
                listed = ListedNames(dialog);
                preselected = Selection(dialog);
                if (c.choose >= 0)
                    SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_SETCURSEL, static_cast<WPARAM>(c.choose), 0);
                if (c.choose == -2)
                    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                else
                    ClickButton(dialog, ID_DEVICE_OK);
            });
            EXPECT_EQ(listed, h.devices.names) << c.name;
            EXPECT_EQ(preselected, c.preselected) << c.name;
            EXPECT_EQ(h.selectedDevice, c.selectedAfter) << c.name;
            EXPECT_TRUE(h.boxes.alerts.empty()) << c.name;
        }
    }
}

TEST(SoundcardDialog, NoDevicesWarnsAndOkStoresMinusOne)
{
    struct Case {
        AudioDirection direction;
        const char* warning;
    };
    const Case cases[] = {
        {AudioDirection::Output, "You have no audio output devices!"},
        {AudioDirection::Input, "You have no audio input devices!"},
    };
    for (const Case& c : cases) {
        Harness h(c.direction);
        LRESULT count = -1;
        h.Run([&](HWND dialog) {
            count = SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_GETCOUNT, 0, 0);
            ClickButton(dialog, ID_DEVICE_OK);
        });
        EXPECT_EQ(count, 0);
        ASSERT_EQ(h.boxes.alerts.size(), 1u);
        EXPECT_EQ(h.boxes.alerts[0].text, c.warning);
        EXPECT_EQ(h.boxes.alerts[0].caption, "Warning");
        EXPECT_EQ(h.boxes.alerts[0].style, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
        EXPECT_EQ(h.boxes.alerts[0].owner, nullptr);
        EXPECT_EQ(h.selectedDevice, -1);
    }
}

TEST(SoundcardDialog, HooksRunAroundTheModalRun)
{
    Harness h(AudioDirection::Input);
    h.devices.names = {"Line In"};
    std::vector<std::string> events;
    h.selection.beforeModalRun = [&] {
        events.push_back(h.selection.soundcardDialog != nullptr && !IsWindowVisible(h.selection.soundcardDialog)
                             ? "before, dialog built but not shown"
                             : "before, wrong moment");
    };
    h.selection.afterModalRun = [&] {
        events.push_back(h.selection.soundcardDialog == nullptr ? "after, dialog gone" : "after, wrong moment");
    };
    h.Run([&](HWND dialog) {
        events.push_back("running");
        SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(events, (std::vector<std::string>{"before, dialog built but not shown", "running", "after, dialog gone"}));
}

// The program is asked to let go of its device when the dialog initialises
// and again at "OK" (the transmitter stops a running signal there), in
// either direction; a dialog closed without "OK" asks only once.
TEST(SoundcardDialog, ReleaseHookRunsAtInitialisationAndAtOk)
{
    struct Case {
        AudioDirection direction;
        bool pressOk;
        int expectedCalls;
    };
    const Case cases[] = {
        {AudioDirection::Output, true, 2},
        {AudioDirection::Output, false, 1},
        {AudioDirection::Input, true, 2},
    };
    for (const Case& c : cases) {
        Harness h(c.direction);
        h.devices.names = {"Speakers"};
        int calls = 0;
        h.selection.releaseDevice = [&] { ++calls; };
        int callsAtInit = -1;
        h.Run([&](HWND dialog) {
            callsAtInit = calls;
            if (c.pressOk)
                ClickButton(dialog, ID_DEVICE_OK);
            else
                SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        EXPECT_EQ(callsAtInit, 1) << c.pressOk;
        EXPECT_EQ(calls, c.expectedCalls) << c.pressOk;
    }
}
