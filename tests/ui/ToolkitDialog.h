#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/ScopedTestKey.h"

#include "ui/IconEdit.h"
#include "ui/LayoutAnchors.h"
#include "ui/LinkControl.h"
#include "services/OptionalApi.h"
#include "ui/Splitter.h"
#include "ui/WindowPlacement.h"
#include "ui/toolkit.h"

// The DPI and the DPI-context calls the toolkit sees in these tests: Wine
// has one DPI only. Monitors are Wine's own.
struct FakeDpi {
    static UINT dpi;
    static std::vector<DPI_AWARENESS_CONTEXT> contexts; // every SetThreadDpiAwarenessContext
    static std::vector<DWORD> dialogBehaviours;        // values of SetDialogDpiChangeBehavior
    static void Reset();
    static OptionalApiTable Table();
};

// Dark mode answered by the test instead of the running system.
class TestIconEdit : public IconEdit {
public:
    explicit TestIconEdit(OptionalApi& api) : IconEdit(api) {}
    int dark = 0;

protected:
    int DarkModeWanted() override { return dark; }
};

class TestLinkControl : public LinkControl {
public:
    explicit TestLinkControl(OptionalApi& api) : LinkControl(api) {}
    int dark = 0;

protected:
    int DarkModeWanted() override { return dark; }
};

struct DialogCommand {
    int id;
    int code;
    HWND control;
};

// The toolkit test dialog (IDD_TOOLKIT), modeless and hidden when made, with
// the furnishings wired the way the main window wires them: WM_SIZE to the
// anchors, WM_WINDOWPOSCHANGING and WM_WINDOWPOSCHANGED to the splitter,
// WM_DPICHANGED to both.
// Wrappers are attached by the tests (Furnish attaches all of them).
class ToolkitDialog {
public:
    ToolkitDialog();
    ~ToolkitDialog();
    ToolkitDialog(const ToolkitDialog&) = delete;
    ToolkitDialog& operator=(const ToolkitDialog&) = delete;

    HWND Window() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    // A control's rectangle in the dialog's client coordinates.
    RECT ItemRect(int id) const;
    RECT WindowRect() const;
    // Everything, in the main window's order and with its arguments.
    void Furnish();
    void Show();
    // Grows or shrinks the window by SetWindowPos; WM_SIZE follows from it.
    void Resize(int width, int height);

    OptionalApi api;
    LayoutAnchors anchors;
    Splitter splitter;
    TestIconEdit filter;
    TestLinkControl link;
    WindowPlacement placement;

    std::vector<DialogCommand> commands;
    int repositions = 0;
    // Offered every message first; 1 when handled.
    std::function<int(UINT message, WPARAM wParam, LPARAM lParam)> handler;

    static void Pump();
    // Pumps until `condition` holds or `milliseconds` have gone by.
    static bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds = 5000);

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
};

int Width(const RECT& rect);
int Height(const RECT& rect);
::testing::AssertionResult SameRect(const RECT& expected, const RECT& actual);

// A mouse message for `window` at a point of its client area or of the
// screen, posted and dispatched like one from the mouse.
void PostMouse(HWND window, UINT message, int x, int y);
void PostMouseAt(HWND window, UINT message, POINT screen);

// REG_SZ values of a test key; "(none)" for a missing one.
void WriteText(const ScopedTestKey& key, const wchar_t* name, const wchar_t* text);
std::wstring ReadText(const ScopedTestKey& key, const wchar_t* name);
