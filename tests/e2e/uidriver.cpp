// uidriver.exe: drives another program's dialogs from a script given as
// arguments, for the end-to-end tests. Commands run in order; the first
// one that fails prints why and ends the driver with exit code 1.
//
//   window TITLE [MS]         wait for a top-level window titled TITLE; it becomes current
//   click ID                  post BM_CLICK to control ID of the current window
//   text ID                   print the control's text
//   wait-text ID TEXT [MS]    wait until the control's text is TEXT
//   key VK [ID]               post WM_KEYDOWN/WM_KEYUP of virtual key VK (decimal) to the
//                             control, or to the current window without ID
//   close                     post WM_SYSCOMMAND SC_CLOSE to the current window
//   wait-gone [MS]            wait until the current window no longer exists
//   count-changes ID MS       watch the control's text for MS and print how often it changed
//   trackbar ID POS           set trackbar ID to POS (TBM_SETPOS) and tell the current window as
//                             a dragged thumb does (WM_HSCROLL, TB_THUMBTRACK, POS in the high word)
//   watch-text ID MS          read the control's text for MS; print "ELAPSED_MS<TAB>TEXT" at the
//                             start and at every change
//   rect                      print the current window's screen rectangle: left top width height
//   sleep MS                  wait
//
// MS is a timeout in milliseconds (default 10000). Clicks are posted, not
// sent, so a click that opens a modal dialog does not block the driver.
#include <windows.h>
#include <commctrl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr DWORD DEFAULT_TIMEOUT_MS = 10000;

class Driver {
public:
    explicit Driver(std::vector<std::string> arguments) : arguments(std::move(arguments)) {}

    int Run();

private:
    using Command = std::function<bool()>;

    bool Window();
    bool Click();
    bool Text();
    bool WaitText();
    bool Key();
    bool Close();
    bool WaitGone();
    bool CountChanges();
    bool Trackbar();
    bool WatchText();
    bool Rect();
    bool Sleep();

    bool HasArgument() const { return next < arguments.size(); }
    std::string Argument();
    int NumberArgument();
    DWORD OptionalTimeout();
    bool NeedsWindow();
    HWND Control(int id);
    HWND ExistingControl(int id);
    static std::string WindowText(HWND window);
    bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs);
    bool Fail(const std::string& why);

    std::vector<std::string> arguments;
    size_t next = 0;
    HWND current = nullptr;
    std::string error;
};

int Driver::Run()
{
    const std::map<std::string, Command> commands{
        {"window", [this] { return Window(); }},     {"click", [this] { return Click(); }},
        {"text", [this] { return Text(); }},         {"wait-text", [this] { return WaitText(); }},
        {"key", [this] { return Key(); }},           {"close", [this] { return Close(); }},
        {"wait-gone", [this] { return WaitGone(); }}, {"rect", [this] { return Rect(); }},
        {"count-changes", [this] { return CountChanges(); }},
        {"trackbar", [this] { return Trackbar(); }}, {"watch-text", [this] { return WatchText(); }},
        {"sleep", [this] { return Sleep(); }},
    };
    while (HasArgument()) {
        const std::string name = Argument();
        auto command = commands.find(name);
        if (command == commands.end()) {
            Fail("unknown command");
        } else if (command->second()) {
            continue;
        }
        std::fprintf(stderr, "uidriver: %s: %s\n", name.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

std::string Driver::Argument()
{
    return HasArgument() ? arguments[next++] : std::string();
}

int Driver::NumberArgument()
{
    return std::atoi(Argument().c_str());
}

// A timeout is optional: it is taken only when the next argument is a number.
DWORD Driver::OptionalTimeout()
{
    if (HasArgument() && !arguments[next].empty() && std::isdigit(static_cast<unsigned char>(arguments[next][0])))
        return static_cast<DWORD>(NumberArgument());
    return DEFAULT_TIMEOUT_MS;
}

bool Driver::NeedsWindow()
{
    return current != nullptr || Fail("no current window (use: window TITLE)");
}

HWND Driver::Control(int id)
{
    return GetDlgItem(current, id);
}

// Control `id` of the current window; nullptr, with the reason, when there is none.
HWND Driver::ExistingControl(int id)
{
    if (!NeedsWindow())
        return nullptr;
    HWND control = Control(id);
    if (control == nullptr)
        Fail("no control " + std::to_string(id));
    return control;
}

std::string Driver::WindowText(HWND window)
{
    char text[512] = "";
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

bool Driver::WaitFor(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        ::Sleep(20);
    }
    return true;
}

bool Driver::Fail(const std::string& why)
{
    error = why;
    return false;
}

bool Driver::Window()
{
    const std::string title = Argument();
    const DWORD timeout = OptionalTimeout();
    if (WaitFor([&] { return (current = FindWindowA(nullptr, title.c_str())) != nullptr; }, timeout))
        return true;
    return Fail("no window titled \"" + title + "\"");
}

bool Driver::Click()
{
    HWND control = ExistingControl(NumberArgument());
    if (control == nullptr)
        return false;
    PostMessageA(control, BM_CLICK, 0, 0);
    return true;
}

bool Driver::Text()
{
    HWND control = ExistingControl(NumberArgument());
    if (control == nullptr)
        return false;
    std::printf("%s\n", WindowText(control).c_str());
    std::fflush(stdout);
    return true;
}

bool Driver::WaitText()
{
    const int id = NumberArgument();
    const std::string expected = Argument();
    const DWORD timeout = OptionalTimeout();
    if (!NeedsWindow())
        return false;
    std::string seen;
    if (WaitFor([&] { return (seen = WindowText(Control(id))) == expected; }, timeout))
        return true;
    return Fail("control " + std::to_string(id) + " reads \"" + seen + "\", not \"" + expected + "\"");
}

bool Driver::Key()
{
    const int virtualKey = NumberArgument();
    HWND target = current;
    if (HasArgument() && std::isdigit(static_cast<unsigned char>(arguments[next][0])))
        target = Control(NumberArgument());
    if (!NeedsWindow())
        return false;
    if (target == nullptr)
        return Fail("no such control");
    PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
    PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(virtualKey), static_cast<LPARAM>(0xC0000001));
    return true;
}

bool Driver::Close()
{
    if (!NeedsWindow())
        return false;
    PostMessageA(current, WM_SYSCOMMAND, SC_CLOSE, 0);
    return true;
}

bool Driver::WaitGone()
{
    const DWORD timeout = OptionalTimeout();
    if (!NeedsWindow())
        return false;
    if (WaitFor([&] { return !IsWindow(current); }, timeout))
        return true;
    return Fail("the window is still there");
}

// Shows that a program keeps working: a label it rewrites with every
// processed block changes while the signal moves.
bool Driver::CountChanges()
{
    HWND control = ExistingControl(NumberArgument());
    const DWORD duration = static_cast<DWORD>(NumberArgument());
    if (control == nullptr)
        return false;
    std::string last = WindowText(control);
    int changes = 0;
    WaitFor([&] {
        const std::string now = WindowText(control);
        changes += now != last;
        last = now;
        return false;
    }, duration);
    std::printf("%d\n", changes);
    std::fflush(stdout);
    return true;
}

bool Driver::Trackbar()
{
    HWND trackbar = ExistingControl(NumberArgument());
    const int position = NumberArgument();
    if (trackbar == nullptr)
        return false;
    SendMessageTimeoutA(trackbar, TBM_SETPOS, TRUE, position, SMTO_ABORTIFHUNG, 2000, nullptr);
    SendMessageTimeoutA(current, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(trackbar),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return true;
}

// Polled every few milliseconds: a label that a program rewrites once per
// processed block shows each new value long enough to be seen.
bool Driver::WatchText()
{
    HWND control = ExistingControl(NumberArgument());
    const DWORD duration = static_cast<DWORD>(NumberArgument());
    if (control == nullptr)
        return false;
    const DWORD start = GetTickCount();
    std::string last = WindowText(control);
    std::printf("0\t%s\n", last.c_str());
    for (DWORD elapsed = 0; elapsed < duration; elapsed = GetTickCount() - start) {
        ::Sleep(5);
        const std::string now = WindowText(control);
        if (now != last)
            std::printf("%lu\t%s\n", static_cast<unsigned long>(GetTickCount() - start), now.c_str());
        last = now;
    }
    std::fflush(stdout);
    return true;
}

bool Driver::Rect()
{
    if (!NeedsWindow())
        return false;
    RECT rect{};
    GetWindowRect(current, &rect);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    std::fflush(stdout);
    return true;
}

bool Driver::Sleep()
{
    ::Sleep(static_cast<DWORD>(NumberArgument()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    return Driver(std::vector<std::string>(argv + 1, argv + argc)).Run();
}
