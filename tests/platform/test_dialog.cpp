// The dialog framework on real windows: template, units, controls, the
// order of WM_INITDIALOG, command routing, the standard close handling and
// the modal loop.
#include "platform/dialog.h"
#include "tests/platform/support/message_pump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD MAIN_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

DialogLayout DialogUnitSpec()
{
    DialogLayout layout;
    layout.caption = "Framework Test";
    layout.style = MAIN_STYLE;
    layout.width = 178;
    layout.height = 44;
    return layout;
}

RECT ClientRect(HWND window)
{
    RECT rect{};
    GetClientRect(window, &rect);
    return rect;
}

struct Seen {
    UINT message;
    WPARAM wParam;
};

} // namespace

TEST(DialogFramework, TemplateGivesCaptionFontAndDialogUnitSize)
{
    Dialog dialog(DialogUnitSpec(), nullptr);
    HWND window = dialog.Create();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));

    char caption[64] = "";
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Framework Test");
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU);

    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");

    RECT expected{0, 0, 178, 44};
    MapDialogRect(window, &expected);
    const RECT client = ClientRect(window);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);
}

TEST(DialogFramework, ControlsAreMappedAndKeepCreationOrder)
{
    Dialog dialog(DialogUnitSpec(), nullptr);
    HWND window = dialog.Create();
    HWND first = dialog.AddControl({1002, "BUTTON", "Turn On", 121, 23, 50, 14, BUTTON_STYLE});
    HWND second = dialog.AddControl({1310, "BUTTON", "Soundcard", 1, 23, 50, 14, BUTTON_STYLE});
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);

    RECT expected{121, 23, 50, 14}; // x, y, width, height, each mapped on its own
    MapDialogRect(window, &expected);
    RECT placed{};
    GetWindowRect(first, &placed);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, expected.left);
    EXPECT_EQ(placed.top, expected.top);
    EXPECT_EQ(placed.right - placed.left, expected.right);
    EXPECT_EQ(placed.bottom - placed.top, expected.bottom);

    EXPECT_EQ(GetWindow(window, GW_CHILD), first);
    EXPECT_EQ(GetNextDlgTabItem(window, first, FALSE), second);
    EXPECT_EQ(SendMessageA(first, WM_GETFONT, 0, 0), SendMessageA(window, WM_GETFONT, 0, 0));
}

TEST(DialogFramework, PixelDialogHasClientSizeAtOwnerClientOffsetAndBackground)
{
    Dialog owner(DialogUnitSpec(), nullptr);
    HWND ownerWindow = owner.Create();

    DialogLayout layout;
    layout.caption = "Pixels";
    layout.style = WS_SYSMENU;
    layout.extendedStyle = WS_EX_TOOLWINDOW;
    layout.units = DialogUnits::Pixels;
    layout.x = 100;
    layout.y = 100;
    layout.width = 237;
    layout.height = 60;
    layout.owner = ownerWindow;
    layout.background = RGB(224, 255, 255);
    Dialog dialog(layout, nullptr);
    HWND window = dialog.Create();
    ASSERT_NE(window, nullptr);

    const RECT client = ClientRect(window);
    EXPECT_EQ(client.right, 237);
    EXPECT_EQ(client.bottom, 60);
    POINT expectedCorner{100, 100};
    ClientToScreen(ownerWindow, &expectedCorner);
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, expectedCorner.x);
    EXPECT_EQ(frame.top, expectedCorner.y);
    EXPECT_EQ(GetWindow(window, GW_OWNER), ownerWindow);

    dialog.Start();
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(window, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(window)));
    LOGBRUSH colour{};
    ASSERT_NE(GetObjectA(brush, sizeof colour, &colour), 0);
    EXPECT_EQ(colour.lbColor, RGB(224, 255, 255));
}

TEST(DialogFramework, InitDialogArrivesOnceWithControlsBeforeTheDialogIsVisible)
{
    int initCount = 0;
    bool visibleAtInit = true;
    HWND controlAtInit = nullptr;
    Dialog dialog(DialogUnitSpec(), [&](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            ++initCount;
            visibleAtInit = IsWindowVisible(window);
            controlAtInit = GetDlgItem(window, 1002);
        }
        return 0;
    });
    HWND window = dialog.Create();
    dialog.AddControl({1002, "BUTTON", "Turn On", 121, 23, 50, 14, BUTTON_STYLE});
    EXPECT_EQ(initCount, 0);
    dialog.Start();
    PumpMessages(window);
    EXPECT_EQ(initCount, 1);
    EXPECT_FALSE(visibleAtInit);
    EXPECT_NE(controlAtInit, nullptr);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST(DialogFramework, ControlHandlerSeesCommandsFirstAndMayPassThemOn)
{
    struct Case {
        INT_PTR handlerResult;
        int clickedId;
        int expectedHandlerCalls;
        int expectedProcedureCommands;
    };
    const Case cases[] = {
        {0, 1310, 1, 1}, // not handled: the procedure receives it as well
        {1, 1310, 1, 0}, // handled: the procedure never sees it
        {0, 1002, 0, 1}, // a control without a handler of its own
    };
    for (const Case& c : cases) {
        int handlerCalls = 0;
        std::vector<Seen> commands;
        Dialog dialog(DialogUnitSpec(), [&](HWND, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
            if (message == WM_COMMAND)
                commands.push_back({message, wParam});
            return 0;
        });
        HWND window = dialog.Create();
        dialog.AddControl({1002, "BUTTON", "Turn On", 121, 23, 50, 14, BUTTON_STYLE});
        dialog.AddControl({1310, "BUTTON", "Soundcard", 1, 23, 50, 14, BUTTON_STYLE,
                           0, [&](HWND, WPARAM, LPARAM) -> INT_PTR {
                               ++handlerCalls;
                               EXPECT_TRUE(commands.empty()) << "handler must come first";
                               return c.handlerResult;
                           }});
        dialog.Start();
        SendDlgItemMessageA(window, c.clickedId, BM_CLICK, 0, 0);
        PumpMessages(window);
        EXPECT_EQ(handlerCalls, c.expectedHandlerCalls) << "clicked " << c.clickedId;
        ASSERT_EQ(static_cast<int>(commands.size()), c.expectedProcedureCommands) << "clicked " << c.clickedId;
        if (!commands.empty()) {
            EXPECT_EQ(LOWORD(commands[0].wParam), c.clickedId);
        }
    }
}

TEST(DialogFramework, CloseRequestEndsTheDialogUnlessTheProcedureHoldsItBack)
{
    for (INT_PTR procedureResult : {0, 1}) {
        Dialog owner(DialogUnitSpec(), nullptr);
        HWND ownerWindow = owner.Create();
        DialogLayout layout = DialogUnitSpec();
        layout.owner = ownerWindow;
        Dialog dialog(layout, [&](HWND, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
            return message == WM_SYSCOMMAND && wParam == SC_CLOSE ? procedureResult : 0;
        });
        HWND window = dialog.Create();
        EnableWindow(ownerWindow, FALSE);
        dialog.Start();
        SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpMessages(ownerWindow);
        if (procedureResult == 0) {
            EXPECT_EQ(dialog.Window(), nullptr);
            EXPECT_FALSE(IsWindow(window));
            EXPECT_TRUE(IsWindowEnabled(ownerWindow)) << "ending enables the owner again";
        } else {
            EXPECT_EQ(dialog.Window(), window);
            EXPECT_FALSE(IsWindowEnabled(ownerWindow));
        }
    }
}

TEST(DialogFramework, ModalRunDisablesOwnerAndReturnsWhenTheWindowIsGone)
{
    Dialog owner(DialogUnitSpec(), nullptr);
    HWND ownerWindow = owner.Create();
    owner.Start();

    DialogLayout layout = DialogUnitSpec();
    layout.owner = ownerWindow;
    bool ownerEnabledDuringRun = true;
    int postedSeen = 0;
    Dialog dialog(layout, [&](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            ownerEnabledDuringRun = IsWindowEnabled(ownerWindow);
            PostMessageA(window, WM_APP, 0, 0);
        } else if (message == WM_APP) {
            ++postedSeen;
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return 0;
    });
    HWND window = dialog.Create();
    dialog.RunModal();

    EXPECT_FALSE(ownerEnabledDuringRun);
    EXPECT_EQ(postedSeen, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(IsWindowEnabled(ownerWindow));
}

TEST(DialogFramework, LaterActionRunsInsideANestedModalLoop)
{
    Dialog dialog(DialogUnitSpec(), nullptr);
    HWND window = dialog.Create();
    LaterAction closeLater(10, [&] { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); });
    dialog.RunModal();
    EXPECT_TRUE(closeLater.HasRun());
    EXPECT_FALSE(IsWindow(window));
}
