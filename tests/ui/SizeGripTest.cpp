#include <gtest/gtest.h>

#include <vector>

#include "ControlHost.h"
#include "ui/SizeGrip.h"

namespace {

// Routes the host's messages to the grip as a dialog's handlers do.
void Route(ControlHost& host, SizeGrip& grip)
{
    host.SetHandler([&grip](UINT message, WPARAM, LPARAM lParam, LRESULT* result) {
        switch (message) {
        case WM_SIZE:
            grip.OnSize();
            return 0;
        case WM_PAINT:
            *result = 0;
            return grip.OnPaint();
        case WM_NCHITTEST:
            *result = grip.HitTest(lParam);
            return 1;
        }
        return 0;
    });
}

// The client point one pixel inside the bottom-right corner, in screen coordinates.
LPARAM ClientCorner(HWND window, int inset)
{
    RECT client;
    GetClientRect(window, &client);
    POINT point = {client.right - inset, client.bottom - inset};
    ClientToScreen(window, &point);
    return MAKELPARAM(point.x, point.y);
}

int NonWhitePixels(HWND window, const RECT& area)
{
    HDC dc = GetDC(window);
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            count += GetPixel(dc, x, y) != RGB(255, 255, 255);
    ReleaseDC(window, dc);
    return count;
}

struct ThemeCalls {
    int opens = 0;
    bool themeOn = true; // off: high contrast, or the classic look
    int sizes = 0;
    std::vector<RECT> drawn;
    HRESULT drawResult = S_OK;
} Calls;

HTHEME WINAPI OpenTheme(HWND, const wchar_t*)
{
    ++Calls.opens;
    return Calls.themeOn ? (HTHEME)0x5151 : nullptr;
}
HRESULT WINAPI CloseTheme(HTHEME)
{
    return S_OK;
}
HRESULT WINAPI GripperSize(HTHEME, HDC, int part, int state, RECT*, THEMESIZE which, SIZE* size)
{
    ++Calls.sizes;
    if (part != SizeGrip::GripperPart || state != 0 || which != TS_DRAW)
        return E_INVALIDARG;
    size->cx = 20;
    size->cy = 22;
    return S_OK;
}
HRESULT WINAPI DrawGripper(HTHEME, HDC, int part, int state, const RECT* rect, const RECT*)
{
    if (part == SizeGrip::GripperPart && state == 0)
        Calls.drawn.push_back(*rect);
    return Calls.drawResult;
}

} // namespace

TEST(SizeGrip, CornerAnswersAsSizingBorderUnlessMaximised)
{
    ControlHost host(300, 200);
    SizeGrip grip;
    ASSERT_EQ(1, grip.Attach(host.Window()));
    Route(host, grip);
    SIZE size = grip.GripSize();
    ThemeHandle status;
    SIZE themed = {};
    HDC dc = GetDC(host.Window());
    if (status.Open(host.Window(), L"status") &&
        status.PartSize(dc, SizeGrip::GripperPart, 0, nullptr, TS_DRAW, &themed)) {
        EXPECT_EQ(themed.cx, size.cx) << "the theme's gripper";
        EXPECT_EQ(themed.cy, size.cy);
    } else {
        OptionalApi& api = OptionalApi::Shared();
        EXPECT_EQ(api.SystemMetricForDpi(SM_CXHSCROLL, 96), size.cx) << "the scroll bar sizes";
        EXPECT_EQ(api.SystemMetricForDpi(SM_CYVSCROLL, 96), size.cy);
    }
    ReleaseDC(host.Window(), dc);

    EXPECT_EQ(HTBOTTOMRIGHT, SendMessageW(host.Window(), WM_NCHITTEST, 0, ClientCorner(host.Window(), 2)));
    EXPECT_EQ(HTCLIENT, SendMessageW(host.Window(), WM_NCHITTEST, 0, ClientCorner(host.Window(), 60)));
    RECT window;
    GetWindowRect(host.Window(), &window);
    LPARAM caption = MAKELPARAM((window.left + window.right) / 2, window.top + GetSystemMetrics(SM_CYFRAME) + 2);
    EXPECT_EQ(HTCAPTION, SendMessageW(host.Window(), WM_NCHITTEST, 0, caption))
        << "answers other than client and border are passed through";

    RedrawWindow(host.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_GT(NonWhitePixels(host.Window(), grip.Square()), 0) << "the gripper is drawn";

    ShowWindow(host.Window(), SW_MAXIMIZE);
    ControlHost::Pump();
    if (IsZoomed(host.Window())) {
        EXPECT_EQ(HTCLIENT, SendMessageW(host.Window(), WM_NCHITTEST, 0, ClientCorner(host.Window(), 2)));
        EXPECT_EQ(0, grip.OnPaint());
        RedrawWindow(host.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        EXPECT_EQ(0, NonWhitePixels(host.Window(), grip.Square())) << "no gripper when maximised";
    }
    ShowWindow(host.Window(), SW_RESTORE);
    host.SetHandler(nullptr);
    grip.Detach();
}

TEST(SizeGrip, ThemedGripperIsMeasuredOnceAndAgainAfterDpiChange)
{
    OptionalApiTable table = {};
    table.OpenThemeData = OpenTheme;
    table.CloseThemeData = CloseTheme;
    table.GetThemePartSize = GripperSize;
    table.DrawThemeBackground = DrawGripper;
    OptionalApi api(table);
    Calls = ThemeCalls();

    ControlHost host(300, 200);
    SizeGrip grip(api);
    ASSERT_EQ(1, grip.Attach(host.Window()));
    Route(host, grip);
    RedrawWindow(host.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    SetWindowPos(host.Window(), nullptr, 0, 0, 320, 210, SWP_NOMOVE | SWP_NOZORDER);
    RedrawWindow(host.Window(), nullptr, nullptr, RDW_UPDATENOW);

    EXPECT_EQ(1, Calls.sizes) << "measured once";
    ASSERT_GE(Calls.drawn.size(), 2u);
    RECT client;
    GetClientRect(host.Window(), &client);
    const RECT& last = Calls.drawn.back();
    EXPECT_EQ(client.right - 20, last.left);
    EXPECT_EQ(client.bottom - 22, last.top);
    EXPECT_EQ(client.right, last.right);
    EXPECT_EQ(client.bottom, last.bottom);

    grip.OnDpiChanged();
    EXPECT_EQ(20, grip.GripSize().cx);
    EXPECT_EQ(2, Calls.sizes) << "measured again at the new DPI";
    EXPECT_EQ(2, Calls.opens) << "with a theme opened for the new DPI";
    // Visual styles switched off (a high-contrast scheme): the handle of
    // the old theme is not kept, and the grip takes the scroll bar's size.
    Calls.themeOn = false;
    grip.OnThemeChanged();
    EXPECT_EQ(3, Calls.opens);
    EXPECT_EQ(GetSystemMetrics(SM_CXHSCROLL), grip.GripSize().cx);
    Calls.themeOn = true;
    grip.OnThemeChanged();
    EXPECT_EQ(20, grip.GripSize().cx);

    // A theme that cannot draw leaves the classic gripper.
    Calls.drawResult = E_FAIL;
    RedrawWindow(host.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_GT(NonWhitePixels(host.Window(), grip.Square()), 0);
    host.SetHandler(nullptr);
    grip.Detach();
}
