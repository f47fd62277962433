#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

#include "ControlHost.h"
#include "FakeFonts.h"
#include "common/WindowProbe.h"
#include "services/ProgramLaunch.h"
#include "ui/DividerLine.h"
#include "ui/SysLinkControl.h"
#include "ui/TextLabel.h"

namespace {

HWND MakeStatic(HWND parent, const wchar_t* text, DWORD style, int x, int y, int width, int height)
{
    return CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                           parent, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// How many pixels of each colour the control paints, through its own
// WM_PRINTCLIENT into a bitmap (no screen involved).
std::map<COLORREF, int> PaintedColours(HWND control)
{
    RECT client;
    GetClientRect(control, &client);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    SendMessageW(control, WM_PRINTCLIENT, (WPARAM)dc, PRF_CLIENT);
    GdiFlush();
    std::map<COLORREF, int> colours;
    const DWORD* pixel = (const DWORD*)bits;
    for (int i = 0; i < client.right * client.bottom; ++i) {
        DWORD p = pixel[i];
        ++colours[RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF)];
    }
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return colours;
}

std::wstring launched;

BOOL WINAPI RecordLaunch(SHELLEXECUTEINFOW* info)
{
    launched = info->lpParameters ? info->lpParameters : L"";
    return TRUE;
}

} // namespace

TEST(TextLabel, ShrinksALongTitleUntilItFitsAndNeverBelowThreePixels)
{
    ControlHost host;
    const std::wstring title = L"Quillmere has stopped working.";
    HWND control = MakeStatic(host.Window(), title.c_str(), SS_CENTERIMAGE, 5, 5, 160, 24);
    TextLabel label;
    ASSERT_EQ(1, label.Init(control, nullptr, 40, 0x753709, 0x753709,
                            TextLabel::ShrinkToFit | TextLabel::RefitOnNewText, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, GetWindowTextLengthW(control) - (int)title.size()); // WM_GETTEXT answers the label's text
    EXPECT_LT(label.FontHeight(), 40);
    EXPECT_TRUE(TextFitsClient(control, label.Font(), title));
    EXPECT_EQ((LRESULT)label.Font(), SendMessageW(control, WM_GETFONT, 0, 0));
    EXPECT_EQ((UINT)(DT_SINGLELINE | DT_VCENTER), label.Format());

    // A one-letter text fills the control's height again; one that cannot
    // fit stops at the smallest font.
    SetWindowTextW(control, L"Q");
    EXPECT_GT(label.FontHeight(), 18);
    EXPECT_TRUE(TextFitsClient(control, label.Font(), L"Q"));
    SetWindowTextW(control, std::wstring(400, L'W').c_str());
    EXPECT_EQ(TextLabel::SmallestFontHeight, label.FontHeight());

    label.Detach();
    wchar_t text[8] = {};
    GetWindowTextW(control, text, 8); // the static's own text again
    EXPECT_STREQ(L"WWWWWWW", text);
}

TEST(TextLabel, TakesTheFirstInstalledFaceOfItsList)
{
    FakeFonts fonts;
    DialogFontPlatform platform = fonts.Platform();
    WideString face;
    fonts.installed = {L"Verdana", L"MS Sans Serif"};
    TextLabel::ChooseFace(L"", platform, face);
    EXPECT_STREQ(L"Verdana", face.Text());
    fonts.installed = {L"MS Sans Serif"};
    TextLabel::ChooseFace(nullptr, platform, face);
    EXPECT_STREQ(L"MS Sans Serif", face.Text());
    fonts.installed = {};
    TextLabel::ChooseFace(nullptr, platform, face);
    EXPECT_STREQ(L"Verdana", face.Text());
    fonts.installed = {L"Tahoma", L"Arial"};
    TextLabel::ChooseFace(L" No Such Face , Tahoma;Arial", platform, face);
    EXPECT_STREQ(L"Tahoma", face.Text());
}

TEST(TextLabel, PaintsInTheColourOfItsStateOnTheParentsBrush)
{
    ControlHost host;
    HBRUSH parentBrush = CreateSolidBrush(RGB(0, 200, 0));
    host.SetHandler([&](UINT message, WPARAM, LPARAM, LRESULT* result) {
        if (message != WM_CTLCOLORSTATIC)
            return 0;
        *result = (LRESULT)parentBrush;
        return 1;
    });
    HWND control = MakeStatic(host.Window(), L"Hover me", 0, 5, 5, 200, 30);
    const COLORREF text = RGB(200, 0, 0), hover = RGB(0, 0, 200);
    TextLabel label;
    ASSERT_EQ(1, label.Init(control, nullptr, 20, text, hover,
                            TextLabel::HoverColour | TextLabel::Bold | TextLabel::SolidFrame, nullptr,
                            nullptr, nullptr));
    EXPECT_EQ(0, label.Init(control, nullptr, 20, text, hover, 0, nullptr, nullptr, nullptr));
    std::map<COLORREF, int> painted = PaintedColours(control);
    EXPECT_GT(painted[RGB(0, 200, 0)], 1000);
    EXPECT_GT(painted[text], 20);
    EXPECT_EQ(0, painted[hover]);

    EXPECT_EQ(HTCLIENT, SendMessageW(control, WM_NCHITTEST, 0, MAKELPARAM(10, 10)));
    SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(8, 15)); // over the text
    EXPECT_TRUE(label.State() & TextLabel::Hot);
    painted = PaintedColours(control);
    EXPECT_GT(painted[hover], 20);
    SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(190, 15)); // right of it
    EXPECT_FALSE(label.State() & TextLabel::Hot);

    EnableWindow(control, FALSE);
    painted = PaintedColours(control);
    EXPECT_GT(painted[GetSysColor(COLOR_GRAYTEXT)], 20);
    EXPECT_EQ(0, painted[text]);
    label.Detach();
    DeleteObject(parentBrush);
}

TEST(DividerLine, SizesTheControlForItsModeAndPaintsIt)
{
    ControlHost host;
    HWND horizontal = MakeStatic(host.Window(), L"", SS_ETCHEDHORZ, 20, 40, 200, 2);
    HWND vertical = MakeStatic(host.Window(), L"", SS_ETCHEDVERT, 250, 20, 2, 100);
    HWND flat = MakeStatic(host.Window(), L"", 0, 20, 80, 200, 3);
    // Left, top, width and height in the parent.
    auto placement = [&](HWND control) {
        RECT rect;
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, host.Window(), (POINT*)&rect, 2);
        return std::vector<long>{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
    };
    // The etched styles may come with an edge that widens the window.
    std::vector<long> before = placement(horizontal);
    std::vector<long> beforeVertical = placement(vertical);
    DividerLine first, second, third;
    ASSERT_EQ(1, first.Init(horizontal, 0, 0x808080));
    ASSERT_EQ(1, second.Init(vertical, 0, 0x808080));
    ASSERT_EQ(1, third.Init(flat, DividerLine::Flat, RGB(10, 20, 30)));
    DividerLine again;
    EXPECT_EQ(0, again.Init(horizontal, 0, 0));

    EXPECT_EQ((std::vector<long>{before[0] - 2, before[1] - 1, before[2] + 3, 5}), placement(horizontal));
    EXPECT_EQ((std::vector<long>{beforeVertical[0] - 1, beforeVertical[1] - 2, 5, beforeVertical[3] + 3}),
              placement(vertical));
    EXPECT_FALSE(GetWindowLongPtrW(horizontal, GWL_EXSTYLE) & WS_EX_STATICEDGE);
    EXPECT_EQ((std::vector<long>{20, 80, 200, 1}), placement(flat));
    EXPECT_TRUE(first.IsHorizontal());
    EXPECT_FALSE(second.IsHorizontal());
    EXPECT_TRUE(GetWindowLongPtrW(flat, GWL_EXSTYLE) & WS_EX_TRANSPARENT);

    InvalidateRect(flat, nullptr, TRUE);
    UpdateWindow(flat);
    host.Pump();
    EXPECT_EQ(RGB(10, 20, 30), ClientPixel(flat, 100, 0));
    // Without a visual style the themed line is an etched edge: its
    // shadow runs two pixels below the band's top.
    // Themed or as an etched edge, the band shows a line across the
    // host's background.
    UpdateWindow(horizontal);
    host.Pump();
    int drawn = 0;
    for (int y = 0; y < 5; ++y)
        drawn += ClientPixel(horizontal, 50, y) != GetSysColor(COLOR_WINDOW);
    EXPECT_GT(drawn, 0);
}

TEST(SysLinkControl, OpensAnAddressAndReportsALinkWithout)
{
    ControlHost host;
    struct Report {
        int index = -1;
        std::wstring id;
    } report;
    ShellExecuteExProc previous = UseShellExecute(&RecordLaunch);
    launched.clear();
    SysLinkControl link;
    ASSERT_EQ(1, link.Create(host.Window(), 10, 10, 300, 40,
                             L"Go to <a href=\"https://www.tollbrook.example/\">our site</a> or "
                             L"<a id=\"local\">stay</a> & read",
                             0, [](int index, const wchar_t* id, void* data) {
                                 ((Report*)data)->index = index;
                                 ((Report*)data)->id = id;
                             },
                             &report));
    EXPECT_TRUE(GetWindowLongPtrW(link.Window(), GWL_STYLE) & WS_TABSTOP);
    // Enter on the first link, then on the second after Tab: the link
    // sends NM_RETURN to its parent, whose hook hands it over.
    SetFocus(link.Window());
    SendMessageW(link.Window(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(L"url.dll,FileProtocolHandler https://www.tollbrook.example/", launched);
    SendMessageW(link.Window(), WM_KEYDOWN, VK_TAB, 0);
    SendMessageW(link.Window(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(1, report.index);
    EXPECT_EQ(L"local", report.id);

    // A link whose parent forwards its notifications leaves the parent alone.
    SysLinkControl forwarded;
    ASSERT_EQ(1, forwarded.Create(host.Window(), 10, 60, 200, 20, L"<a>x</a>",
                                  SysLinkControl::ParentForwards | SysLinkControl::NoTabStop, nullptr,
                                  nullptr));
    EXPECT_FALSE(GetWindowLongPtrW(forwarded.Window(), GWL_STYLE) & WS_TABSTOP);
    NMLINK click = {};
    click.hdr = {forwarded.Window(), 0, (UINT)NM_CLICK};
    EXPECT_EQ(0, link.Notify((LPARAM)&click));
    EXPECT_EQ(1, forwarded.Notify((LPARAM)&click));
    link.Destroy();
    EXPECT_FALSE(IsWindow(click.hdr.hwndFrom) && click.hdr.hwndFrom == link.Window());
    UseShellExecute(previous == &ShellExecuteExW ? nullptr : previous);

    EXPECT_TRUE(SysLinkControl::IsMarkupSafe(L"C:\\Program Files\\R&D\\x_Debug.txt"));
    EXPECT_FALSE(SysLinkControl::IsMarkupSafe(L"a\"b"));
    EXPECT_FALSE(SysLinkControl::IsMarkupSafe(L"<a href=x>"));
}
