#include <gtest/gtest.h>

#include <string>

#include "ControlHost.h"
#include "ToolkitDialog.h"
#include "common/ScopedTestKey.h"
#include "services/RegistryKey.h"

namespace {

struct Layout {
    RECT divider, tree, list;
};

Layout ReadLayout(const ToolkitDialog& dialog)
{
    return {dialog.ItemRect(IDC_TK_DIVIDER), dialog.ItemRect(IDC_TK_TREE), dialog.ItemRect(IDC_TK_LIST)};
}

bool SameRect(const RECT& a, const RECT& b)
{
    return EqualRect(&a, &b) != 0;
}

// A mouse message for `window` at a screen point, posted and dispatched
// like one from the mouse.
void MouseAt(HWND window, UINT message, POINT screen, WPARAM keys = 0)
{
    POINT client = screen;
    ScreenToClient(window, &client);
    PostMessageW(window, message, keys, MAKELPARAM((WORD)(short)client.x, (WORD)(short)client.y));
    ToolkitDialog::Pump();
}

POINT DividerCentre(HWND divider)
{
    RECT rect;
    GetWindowRect(divider, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::wstring StoredText(const ScopedTestKey& key, const wchar_t* name)
{
    RegistryKey reader;
    WideString text;
    if (!reader.OpenRead(key.Root(), key.Path()) || !reader.ReadText(name, text))
        return L"(none)";
    return text.Text();
}

void Store(const ScopedTestKey& key, const wchar_t* name, const wchar_t* text)
{
    RegistryKey writer;
    ASSERT_TRUE(writer.CreateWrite(key.Root(), key.Path()) && writer.WriteText(name, text));
}

class SplitterTest : public ::testing::TestWithParam<UINT> {
protected:
    void SetUp() override { FakeDpi::Reset(); }
    void TearDown() override { FakeDpi::Reset(); }
};

int FrameWidth(HWND window)
{
    RECT rect, client;
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    return Width(rect) - client.right;
}

int FrameHeight(HWND window)
{
    RECT rect, client;
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    return Height(rect) - client.bottom;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Dpi, SplitterTest, ::testing::Values(96u, 144u));

TEST_P(SplitterTest, DraggingResizesBothPanesByTheDistanceAndStopsAtEachMinimum)
{
    FakeDpi::dpi = GetParam();
    const int minimum = (int)(100 * GetParam() / 96);
    ToolkitDialog dialog;
    dialog.Furnish();
    dialog.Show();
    HWND divider = dialog.Item(IDC_TK_DIVIDER);
    Layout start = ReadLayout(dialog);
    // The divider was moved into the gap, as tall as the tree.
    EXPECT_EQ(start.tree.right, start.divider.left);
    EXPECT_EQ(start.list.left, start.divider.right);
    EXPECT_EQ(start.tree.top, start.divider.top);
    EXPECT_EQ(Height(start.tree), Height(start.divider));

    POINT press = DividerCentre(divider);
    MouseAt(divider, WM_LBUTTONDOWN, press, MK_LBUTTON);
    ASSERT_TRUE(dialog.splitter.IsDragging());
    EXPECT_EQ(divider, GetCapture());
    MouseAt(divider, WM_MOUSEMOVE, {press.x + 30, press.y + 7}, MK_LBUTTON);
    Layout moved = ReadLayout(dialog);
    EXPECT_EQ(start.divider.left + 30, moved.divider.left);
    EXPECT_EQ(start.divider.top, moved.divider.top);
    EXPECT_EQ(Width(start.tree) + 30, Width(moved.tree));
    EXPECT_EQ(start.list.left + 30, moved.list.left);
    EXPECT_EQ(start.list.right, moved.list.right);
    EXPECT_EQ(Height(start.list), Height(moved.list));

    // Pixel by pixel to the left: the tree stops at its minimum.
    for (int x = press.x + 30; x > press.x - 400; --x)
        MouseAt(divider, WM_MOUSEMOVE, {x, press.y}, MK_LBUTTON);
    EXPECT_EQ(minimum, Width(dialog.ItemRect(IDC_TK_TREE)));
    // And to the right: the list stops at its minimum.
    for (int x = press.x - 400; x < press.x + 600; x += 3)
        MouseAt(divider, WM_MOUSEMOVE, {x, press.y}, MK_LBUTTON);
    Layout right = ReadLayout(dialog);
    EXPECT_GE(Width(right.list), minimum);
    EXPECT_LT(Width(right.list), minimum + 3);
    EXPECT_EQ(right.tree.right, right.divider.left);
    EXPECT_EQ(start.list.right, right.list.right);

    MouseAt(divider, WM_LBUTTONUP, {press.x + 600, press.y});
    EXPECT_FALSE(dialog.splitter.IsDragging());
    EXPECT_NE(divider, GetCapture());
    MouseAt(divider, WM_MOUSEMOVE, {press.x, press.y});
    EXPECT_TRUE(SameRect(right.divider, dialog.ItemRect(IDC_TK_DIVIDER))) << "moves after the release";
}

TEST_P(SplitterTest, TheDialogKeepsRoomForTheListAndStretchesThePanes)
{
    FakeDpi::dpi = GetParam();
    const int minimum = (int)(100 * GetParam() / 96);
    ToolkitDialog dialog;
    dialog.Furnish();
    dialog.Show();
    Layout start = ReadLayout(dialog);
    RECT window = dialog.WindowRect(), client;
    GetClientRect(dialog.Window(), &client);
    const int rightMargin = client.right - start.list.right;

    dialog.Resize(Width(window) + 100, Height(window) + 50);
    Layout grown = ReadLayout(dialog);
    EXPECT_TRUE(SameRect(RECT{start.tree.left, start.tree.top, start.tree.right, start.tree.bottom + 50},
                         grown.tree));
    EXPECT_EQ(Height(start.divider) + 50, Height(grown.divider));
    EXPECT_EQ(Width(start.divider), Width(grown.divider));
    EXPECT_EQ(start.list.left, grown.list.left);
    EXPECT_EQ(Width(start.list) + 100, Width(grown.list));
    EXPECT_EQ(Height(start.list) + 50, Height(grown.list));

    dialog.Resize(50, 50);
    RECT small = dialog.WindowRect();
    Layout squeezed = ReadLayout(dialog);
    EXPECT_EQ(start.list.left + minimum + FrameWidth(dialog.Window()), Width(small));
    EXPECT_EQ(start.list.top + minimum + FrameHeight(dialog.Window()), Height(small));
    // The list keeps the room "beyond pane 2" less its margin to the right edge.
    EXPECT_EQ(minimum - rightMargin, Width(squeezed.list));
    EXPECT_EQ(start.list.left, squeezed.list.left);

    dialog.Resize(Width(window), Height(window));
    Layout back = ReadLayout(dialog);
    EXPECT_TRUE(SameRect(start.tree, back.tree));
    EXPECT_TRUE(SameRect(start.list, back.list));
    EXPECT_TRUE(SameRect(start.divider, back.divider));
}

TEST_F(SplitterTest, RightAfterADpiChangeNoMinimumHoldsThenTheNewScaleDoes)
{
    ToolkitDialog dialog;
    dialog.Furnish();
    dialog.Show();
    RECT list = dialog.ItemRect(IDC_TK_LIST);
    FakeDpi::dpi = 144; // the dialog moved to a monitor of another DPI
    // Narrower than the 96-DPI minimum, wider than the system's own.
    const int narrow = list.left + 50;
    dialog.Resize(narrow, 200);
    EXPECT_EQ(narrow, Width(dialog.WindowRect())) << "the first WM_WINDOWPOSCHANGING applies no minimum";
    dialog.Resize(50, 50);
    EXPECT_EQ(list.left + 150 + FrameWidth(dialog.Window()), Width(dialog.WindowRect()))
        << "WM_WINDOWPOSCHANGED measured again at 144 DPI";
}

TEST_P(SplitterTest, ASavedPositionComesBackAtTheNextStart)
{
    FakeDpi::dpi = GetParam();
    ScopedTestKey key(L"SplitterPosition");
    Layout saved;
    {
        ToolkitDialog dialog;
        dialog.Furnish();
        dialog.Show();
        HWND divider = dialog.Item(IDC_TK_DIVIDER);
        POINT press = DividerCentre(divider);
        MouseAt(divider, WM_LBUTTONDOWN, press, MK_LBUTTON);
        MouseAt(divider, WM_MOUSEMOVE, {press.x + 60, press.y}, MK_LBUTTON);
        MouseAt(divider, WM_LBUTTONUP, {press.x + 60, press.y});
        saved = ReadLayout(dialog);
        ASSERT_EQ(1, dialog.splitter.SavePosition(key.Root(), key.Path(), L"Splitter"));
    }
    // Stored in 96-DPI pixels: a 144-DPI position of 3 pixels is 2.
    std::wstring expected = std::to_wstring((int)(saved.divider.left * 96.0 / GetParam() + 0.5)) +
                            L"," + std::to_wstring((int)(saved.divider.top * 96.0 / GetParam() + 0.5));
    EXPECT_EQ(expected, StoredText(key, L"Splitter"));

    ToolkitDialog next;
    next.Furnish();
    ASSERT_EQ(1, next.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter"));
    Layout loaded = ReadLayout(next);
    // Exact wherever the scale can say it; 144 DPI has 1.5 pixels per unit.
    int tolerance = GetParam() == 96 ? 0 : 1;
    EXPECT_NEAR(saved.divider.left, loaded.divider.left, tolerance);
    EXPECT_EQ(saved.divider.top, loaded.divider.top);
    EXPECT_EQ(loaded.divider.left, loaded.tree.right);
    EXPECT_EQ(loaded.divider.right, loaded.list.left);
    EXPECT_EQ(saved.list.right, loaded.list.right);
}

TEST_F(SplitterTest, APositionSavedAtOneDpiIsTheSameLayoutAtAnother)
{
    ScopedTestKey key(L"SplitterDpi");
    Store(key, L"Splitter", L"160,8");
    FakeDpi::dpi = 144;
    ToolkitDialog dialog;
    dialog.Furnish();
    ASSERT_EQ(1, dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter"));
    EXPECT_EQ(240, dialog.ItemRect(IDC_TK_DIVIDER).left);
    ASSERT_EQ(1, dialog.splitter.SavePosition(key.Root(), key.Path(), L"Splitter"));
    EXPECT_EQ(L"160," + std::to_wstring((int)(dialog.ItemRect(IDC_TK_DIVIDER).top / 1.5 + 0.5)),
              StoredText(key, L"Splitter"));
}

TEST_F(SplitterTest, StoredPositionsThatHideAPaneOrAreNoPositionAreRefused)
{
    ScopedTestKey key(L"SplitterHostile");
    ToolkitDialog dialog;
    dialog.Furnish();
    RECT client;
    GetClientRect(dialog.Window(), &client);
    Layout start = ReadLayout(dialog);
    const wchar_t* refused[] = {L"", L"abc", L"5,5", L"1,2,3", L"160", L"160;5", L"0x90,5",
                                L"99999,5", L"-50,5", L"2147483647,0", L"-2147483648,0",
                                L"4294967456,0", L"160,5,", L"160,-999999"};
    for (const wchar_t* text : refused) {
        Store(key, L"Splitter", text);
        EXPECT_EQ(0, dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter")) << text;
        Layout after = ReadLayout(dialog);
        EXPECT_TRUE(SameRect(start.divider, after.divider) && SameRect(start.tree, after.tree) &&
                    SameRect(start.list, after.list))
            << text;
    }
    // The list would be narrower than its 100 pixels.
    std::wstring tooFar = std::to_wstring(start.list.right - 100 - Width(start.divider) + 1) + L",5";
    Store(key, L"Splitter", tooFar.c_str());
    EXPECT_EQ(0, dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter")) << tooFar;
    // Blanks around the numbers are no harm.
    Store(key, L"Splitter", L" 150 , 5 ");
    EXPECT_EQ(1, dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter"));
    EXPECT_EQ(150, dialog.ItemRect(IDC_TK_DIVIDER).left);
    // A value of another type is no text.
    RegistryKey writer;
    ASSERT_TRUE(writer.CreateWrite(key.Root(), key.Path()) && writer.WriteDword(L"Splitter", 0x00310031));
    EXPECT_EQ(0, dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter"));
}

TEST_F(SplitterTest, TheDividerIsHookedOncePaintedWithTheDialogBrushAndShowsTheResizeCursor)
{
    ToolkitDialog dialog;
    dialog.Furnish();
    dialog.Show();
    HWND divider = dialog.Item(IDC_TK_DIVIDER);
    EXPECT_NE(nullptr, GetPropW(divider, L"_C_SubClassing_Property_73706C69"));
    EXPECT_EQ(0, dialog.splitter.Init(Splitter::FillGap, divider, dialog.Item(IDC_TK_TREE),
                                      dialog.Item(IDC_TK_LIST), 100, 100, 100, 100));
    EXPECT_FALSE(dialog.splitter.IsHorizontal());
    // A black-rectangle static, painted in the dialog's colour instead.
    RedrawWindow(divider, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HBRUSH dialogBrush = (HBRUSH)SendMessageW(dialog.Window(), WM_CTLCOLORDLG,
                                              (WPARAM)GetDC(dialog.Window()), (LPARAM)dialog.Window());
    LOGBRUSH brush = {};
    GetObjectW(dialogBrush, sizeof brush, &brush);
    EXPECT_EQ(brush.lbColor, ClientPixel(divider, 2, 10));

    // Static controls let the mouse through; the divider must not.
    POINT centre = DividerCentre(divider);
    EXPECT_EQ(HTCLIENT, SendMessageW(divider, WM_NCHITTEST, 0, MAKELPARAM(centre.x, centre.y)));
    SetCursorPos(centre.x, centre.y);
    ASSERT_TRUE(ToolkitDialog::WaitFor([&]() {
        SendMessageW(divider, WM_SETCURSOR, (WPARAM)divider, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return GetCursor() == LoadCursorW(nullptr, IDC_SIZEWE);
    }));

    dialog.splitter.Detach();
    EXPECT_EQ(nullptr, GetPropW(divider, L"_C_SubClassing_Property_73706C69"));
}

TEST_F(SplitterTest, AHorizontalDividerWorksAlongTheHeight)
{
    ControlHost host(400, 340);
    Splitter splitter;
    host.SetHandler([&](UINT message, WPARAM, LPARAM lParam, LRESULT*) {
        if (message == WM_WINDOWPOSCHANGING)
            splitter.OnWindowPosChanging((WINDOWPOS*)lParam);
        if (message == WM_WINDOWPOSCHANGED)
            splitter.OnWindowPosChanged((const WINDOWPOS*)lParam);
        return 0;
    });
    HWND top = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | LBS_NOINTEGRALHEIGHT,
                               5, 5, 370, 120, host.Window(), (HMENU)11, nullptr, nullptr);
    HWND bar = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 5, 125, 370, 6,
                               host.Window(), (HMENU)12, nullptr, nullptr);
    HWND bottom = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | LBS_NOINTEGRALHEIGHT,
                                  5, 131, 370, 150, host.Window(), (HMENU)13, nullptr, nullptr);
    ASSERT_EQ(1, splitter.Init(0, bar, top, bottom, 100, 100, 50, 50));
    EXPECT_TRUE(splitter.IsHorizontal());
    auto rect = [&](HWND window) {
        RECT r;
        GetWindowRect(window, &r);
        MapWindowPoints(nullptr, host.Window(), (POINT*)&r, 2);
        return r;
    };
    POINT press = DividerCentre(bar);
    MouseAt(bar, WM_LBUTTONDOWN, press, MK_LBUTTON);
    MouseAt(bar, WM_MOUSEMOVE, {press.x + 40, press.y + 20}, MK_LBUTTON);
    MouseAt(bar, WM_LBUTTONUP, {press.x + 40, press.y + 20});
    EXPECT_EQ(140, Height(rect(top)));
    EXPECT_EQ(145, rect(bar).top);
    EXPECT_EQ(5, rect(bar).left);
    EXPECT_EQ(151, rect(bottom).top);
    EXPECT_EQ(130, Height(rect(bottom)));

    RECT window;
    GetWindowRect(host.Window(), &window);
    SetWindowPos(host.Window(), nullptr, 0, 0, Width(window) + 50, Height(window) + 30,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ToolkitDialog::Pump();
    EXPECT_EQ(420, Width(rect(top)));
    EXPECT_EQ(420, Width(rect(bar)));
    EXPECT_EQ(420, Width(rect(bottom)));
    EXPECT_EQ(140, Height(rect(top)));
    EXPECT_EQ(160, Height(rect(bottom)));
    splitter.Detach();
    DestroyWindow(top);
    DestroyWindow(bar);
    DestroyWindow(bottom);
}
