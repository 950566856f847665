// The dialog framework every dialog of both programs uses.
//
// A dialog is built at run time from an in-memory template, created
// modeless with CreateDialogIndirectParamA and kept invisible while its
// controls are added in order; then its procedure receives WM_INITDIALOG
// once, the dialog is shown, and our own modal loop runs until the window
// no longer exists.
//
// The procedure takes (dialog, message, wParam, lParam) and returns 0 for
// "not handled", after which the standard handling follows: WM_SYSCOMMAND
// with SC_CLOSE (close box, system menu, Alt+F4) ends the dialog, and
// WM_CTLCOLORDLG paints the background colour the dialog asked for. A
// control may have a command handler of its own, which receives the
// control's WM_COMMAND first; when it returns 0 the procedure receives the
// same command as well.
//
// The Dialog object is bound to its window (DWLP_USER, set from the
// creation parameter), so the procedure, usually a lambda calling a member
// function of the program's state, is reached without globals.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

using DialogProcedure = std::function<INT_PTR(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)>;
using CommandHandler = std::function<INT_PTR(HWND dialog, WPARAM wParam, LPARAM lParam)>;

enum class DialogUnits {
    // Dialog units of the template font; controls are mapped with MapDialogRect.
    DialogUnits,
    // Pixels: the window is sized so that its client area has the given size.
    Pixels,
};

struct DialogLayout {
    const char* caption = "";
    DWORD style = 0;         // the dialog's own styles; the template adds DIALOG_TEMPLATE_STYLES
    DWORD extendedStyle = 0;
    DialogUnits units = DialogUnits::DialogUnits;
    // Position and client size in `units`. In pixels the position is relative
    // to the top-left corner of the owner's client area (of the screen without
    // an owner); DS_CENTER in style centres the dialog instead.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    HWND owner = nullptr;
    std::optional<COLORREF> background; // painted through WM_CTLCOLORDLG
};

struct ControlSpec {
    ControlSpec(int id, const char* className, const char* text, int x, int y, int width, int height,
                DWORD style, DWORD extendedStyle = 0, CommandHandler onCommand = {})
        : id(id), className(className), text(text), x(x), y(y), width(width), height(height),
          style(style), extendedStyle(extendedStyle), onCommand(std::move(onCommand))
    {
    }

    int id;
    const char* className;
    const char* text;
    int x;                     // position and size in the dialog's units
    int y;
    int width;
    int height;
    DWORD style;
    DWORD extendedStyle;
    CommandHandler onCommand;  // optional: sees the control's commands first
};

class Dialog {
public:
    Dialog(DialogLayout layout, DialogProcedure procedure);
    ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the invisible dialog window; nullptr on failure.
    HWND Create();
    // Creates the next control (CreateWindowExA child, the dialog's font).
    HWND AddControl(const ControlSpec& control);
    // Disables the owner, then Start(), then the modal loop; returns once the
    // window no longer exists.
    void RunModal();
    // WM_INITDIALOG to the procedure, then shows the dialog if it still
    // exists. RunModal's first step; tests that pump messages themselves
    // call it directly.
    void Start();

    HWND Window() const { return window; }

    // Runs whenever the modal loop finds the queue empty, before its 1 ms
    // sleep: a way to notice that time has passed without a timer. It may
    // end the dialog.
    void SetIdleHandler(std::function<void()> handler) { idleHandler = std::move(handler); }

private:
    static INT_PTR CALLBACK WindowProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR StandardHandling(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void SizeInPixels();
    void FocusFirstControl();

    DialogLayout layout;
    DialogProcedure procedure;
    HWND window = nullptr;
    HBRUSH backgroundBrush = nullptr;
    bool initialised = false; // the procedure sees messages only from WM_INITDIALOG on
    std::vector<std::pair<int, CommandHandler>> commandHandlers;
    std::function<void()> idleHandler;
};

// Ends a dialog: enables its owner again, then destroys the window.
void EndDialogWindow(HWND dialog);

// One step of a modal loop: takes the next message with PeekMessageA and
// passes it through IsDialogMessageA, TranslateMessage and DispatchMessageA.
// Returns false when the queue was empty.
bool DispatchNextMessage(HWND dialog);
