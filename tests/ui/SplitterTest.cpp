#include <gtest/gtest.h>

#include "ControlHost.h"
#include "ToolkitDialog.h"
#include "services/RegistryKey.h"

namespace {

struct Layout {
    RECT divider, tree, list;
};

Layout ReadLayout(const ToolkitDialog& dialog)
{
    return {dialog.ItemRect(IDC_TK_DIVIDER), dialog.ItemRect(IDC_TK_TREE), dialog.ItemRect(IDC_TK_LIST)};
}

POINT Centre(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// Press in the divider's middle, move by `dx`, `dy`, release there.
void Drag(HWND divider, int dx, int dy)
{
    POINT press = Centre(divider);
    PostMouseAt(divider, WM_LBUTTONDOWN, press);
    PostMouseAt(divider, WM_MOUSEMOVE, {press.x + dx, press.y + dy});
    PostMouseAt(divider, WM_LBUTTONUP, {press.x + dx, press.y + dy});
}

SIZE Frame(HWND window)
{
    RECT rect, client;
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    return {Width(rect) - client.right, Height(rect) - client.bottom};
}

class SplitterTest : public ::testing::TestWithParam<UINT> {
protected:
    void SetUp() override { FakeDpi::Reset(); }
    void TearDown() override { FakeDpi::Reset(); }
};

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
    // Moved into the gap, as tall as the tree.
    EXPECT_TRUE(SameRect({start.tree.right, start.tree.top, start.list.left, start.tree.bottom}, start.divider));

    POINT press = Centre(divider);
    PostMouseAt(divider, WM_LBUTTONDOWN, press);
    ASSERT_TRUE(dialog.splitter.IsDragging());
    EXPECT_EQ(divider, GetCapture());
    PostMouseAt(divider, WM_MOUSEMOVE, {press.x + 30, press.y + 7});
    Layout moved = ReadLayout(dialog);
    EXPECT_TRUE(SameRect({start.divider.left + 30, start.divider.top, start.divider.right + 30,
                          start.divider.bottom}, moved.divider));
    EXPECT_TRUE(SameRect({start.tree.left, start.tree.top, start.tree.right + 30, start.tree.bottom}, moved.tree));
    EXPECT_TRUE(SameRect({start.list.left + 30, start.list.top, start.list.right, start.list.bottom}, moved.list));

    // Pixel by pixel to the left, the tree stops at its minimum; to the
    // right, the list does.
    for (int x = press.x + 30; x > press.x - 400; --x)
        PostMouseAt(divider, WM_MOUSEMOVE, {x, press.y});
    EXPECT_EQ(minimum, Width(dialog.ItemRect(IDC_TK_TREE)));
    for (int x = press.x - 400; x < press.x + 600; ++x)
        PostMouseAt(divider, WM_MOUSEMOVE, {x, press.y});
    Layout right = ReadLayout(dialog);
    EXPECT_EQ(minimum, Width(right.list));
    EXPECT_EQ(right.tree.right, right.divider.left);

    PostMouseAt(divider, WM_LBUTTONUP, {press.x + 600, press.y});
    EXPECT_FALSE(dialog.splitter.IsDragging());
    EXPECT_NE(divider, GetCapture());
    PostMouseAt(divider, WM_MOUSEMOVE, press);
    EXPECT_TRUE(SameRect(right.divider, dialog.ItemRect(IDC_TK_DIVIDER))) << "moved after the release";
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

    dialog.Resize(Width(window) + 100, Height(window) + 50);
    Layout grown = ReadLayout(dialog);
    EXPECT_TRUE(SameRect({start.tree.left, start.tree.top, start.tree.right, start.tree.bottom + 50}, grown.tree));
    EXPECT_TRUE(SameRect({start.divider.left, start.divider.top, start.divider.right, start.divider.bottom + 50},
                         grown.divider));
    EXPECT_TRUE(SameRect({start.list.left, start.list.top, start.list.right + 100, start.list.bottom + 50},
                         grown.list));

    dialog.Resize(50, 50);
    SIZE frame = Frame(dialog.Window());
    EXPECT_EQ(start.list.left + minimum + frame.cx, Width(dialog.WindowRect()));
    EXPECT_EQ(start.list.top + minimum + frame.cy, Height(dialog.WindowRect()));
    EXPECT_EQ(minimum - (client.right - start.list.right), Width(dialog.ItemRect(IDC_TK_LIST)));

    dialog.Resize(Width(window), Height(window));
    Layout back = ReadLayout(dialog);
    EXPECT_TRUE(SameRect(start.tree, back.tree) && SameRect(start.list, back.list) &&
                SameRect(start.divider, back.divider));
}

TEST_F(SplitterTest, RightAfterADpiChangeNoMinimumHoldsThenTheNewScaleDoes)
{
    ToolkitDialog dialog;
    dialog.Furnish();
    dialog.Show();
    RECT list = dialog.ItemRect(IDC_TK_LIST);
    FakeDpi::dpi = 144; // the dialog moved to a monitor of another DPI
    // Narrower than the 96-DPI minimum, wider than the system's own.
    dialog.Resize(list.left + 50, 200);
    EXPECT_EQ(list.left + 50, Width(dialog.WindowRect())) << "the first WM_WINDOWPOSCHANGING applies no minimum";
    // Measured again once the messages of the change are handled.
    ASSERT_TRUE(ToolkitDialog::WaitFor([&]() { return !dialog.splitter.IsMeasurePending(); }));
    dialog.Resize(50, 50);
    EXPECT_EQ(list.left + 150 + Frame(dialog.Window()).cx, Width(dialog.WindowRect()))
        << "WM_WINDOWPOSCHANGED measured again at 144 DPI";
}

// The position is kept in 96-DPI pixels: the same layout at any DPI, and
// at the same DPI the same pixel wherever the scale can say it.
TEST_P(SplitterTest, ASavedPositionComesBackAtTheNextStart)
{
    FakeDpi::dpi = GetParam();
    const double scale = GetParam() / 96.0;
    ScopedTestKey key(L"SplitterPosition");
    Layout saved;
    {
        ToolkitDialog dialog;
        dialog.Furnish();
        dialog.Show();
        Drag(dialog.Item(IDC_TK_DIVIDER), 60, 0);
        saved = ReadLayout(dialog);
        ASSERT_EQ(1, dialog.splitter.SavePosition(key.Root(), key.Path(), L"Splitter"));
    }
    const int storedLeft = (int)(saved.divider.left / scale + 0.5);
    EXPECT_EQ(std::to_wstring(storedLeft) + L"," + std::to_wstring((int)(saved.divider.top / scale + 0.5)),
              ReadText(key, L"Splitter"));
    for (UINT dpi : {GetParam(), 96u + 144u - GetParam()}) {
        FakeDpi::dpi = dpi;
        ToolkitDialog next;
        next.Furnish();
        ASSERT_EQ(1, next.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter")) << dpi;
        Layout loaded = ReadLayout(next);
        if (dpi == GetParam())
            EXPECT_NEAR(saved.divider.left, loaded.divider.left, dpi == 96 ? 0 : 1);
        else
            EXPECT_EQ((int)(storedLeft * dpi / 96.0), loaded.divider.left) << "at " << dpi;
        EXPECT_EQ(loaded.divider.left, loaded.tree.right);
        EXPECT_EQ(loaded.divider.right, loaded.list.left);
    }
}

TEST_F(SplitterTest, StoredPositionsThatHideAPaneOrAreNoPositionAreRefused)
{
    ScopedTestKey key(L"SplitterHostile");
    ToolkitDialog dialog;
    dialog.Furnish();
    Layout start = ReadLayout(dialog);
    std::wstring tooFar = std::to_wstring(start.list.right - 100 - Width(start.divider) + 1) + L",5";
    const wchar_t* refused[] = {L"",          L"abc",           L"5,5",           L"1,2,3",
                                L"160",       L"160;5",         L"0x90,5",        L"99999,5",
                                L"-50,5",     L"2147483647,0",  L"-2147483648,0", L"4294967456,0",
                                L"160,5,",    tooFar.c_str()};
    for (const wchar_t* text : refused) {
        WriteText(key, L"Splitter", text);
        EXPECT_EQ(0, dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter")) << text;
        Layout after = ReadLayout(dialog);
        EXPECT_TRUE(SameRect(start.divider, after.divider) && SameRect(start.tree, after.tree) &&
                    SameRect(start.list, after.list)) << text;
    }
    WriteText(key, L"Splitter", L" 150 , 5 ");
    EXPECT_EQ(1, dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter"));
    EXPECT_EQ(150, dialog.ItemRect(IDC_TK_DIVIDER).left);
    RegistryKey writer;
    ASSERT_TRUE(writer.CreateWrite(key.Root(), key.Path()) && writer.WriteDword(L"Splitter", 0x00310031));
    EXPECT_EQ(0, dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter")) << "a number is no text";
}

TEST_F(SplitterTest, TheDividerIsHookedOncePaintedWithTheDialogBrushAndShowsTheResizeCursor)
{
    ToolkitDialog dialog;
    dialog.Furnish();
    dialog.Show();
    HWND divider = dialog.Item(IDC_TK_DIVIDER);
    EXPECT_NE(nullptr, GetPropW(divider, L"_C_SubClassing_Property_73706C69"));
    EXPECT_EQ(0, dialog.splitter.Init(0, divider, dialog.Item(IDC_TK_TREE), dialog.Item(IDC_TK_LIST), 1, 1, 1, 1));
    // A black-rectangle static, painted in the dialog's colour instead.
    RedrawWindow(divider, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(dialog.Window());
    LOGBRUSH brush = {};
    GetObjectW((HBRUSH)SendMessageW(dialog.Window(), WM_CTLCOLORDLG, (WPARAM)dc, (LPARAM)dialog.Window()),
               sizeof brush, &brush);
    ReleaseDC(dialog.Window(), dc);
    EXPECT_EQ(brush.lbColor, ClientPixel(divider, 2, 10));
    // Static controls let the mouse through; the divider must not.
    POINT centre = Centre(divider);
    EXPECT_EQ(HTCLIENT, SendMessageW(divider, WM_NCHITTEST, 0, MAKELPARAM(centre.x, centre.y)));
    SetCursorPos(centre.x, centre.y);
    EXPECT_TRUE(ToolkitDialog::WaitFor([&]() {
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
        if (message == WM_WINDOWPOSCHANGED)
            splitter.OnWindowPosChanged((const WINDOWPOS*)lParam);
        return 0;
    });
    HWND child[3];
    const RECT places[3] = {{5, 5, 375, 125}, {5, 125, 375, 131}, {5, 131, 375, 281}};
    for (int i = 0; i < 3; ++i)
        child[i] = CreateWindowExW(0, i == 1 ? L"STATIC" : L"LISTBOX", L"",
                                   WS_CHILD | WS_VISIBLE | (i == 1 ? SS_BLACKRECT : WS_BORDER | LBS_NOINTEGRALHEIGHT),
                                   places[i].left, places[i].top, Width(places[i]), Height(places[i]),
                                   host.Window(), nullptr, nullptr, nullptr);
    ASSERT_EQ(1, splitter.Init(0, child[1], child[0], child[2], 100, 100, 50, 50));
    EXPECT_TRUE(splitter.IsHorizontal());
    auto rect = [&](int i) {
        RECT r;
        GetWindowRect(child[i], &r);
        MapWindowPoints(nullptr, host.Window(), (POINT*)&r, 2);
        return r;
    };
    Drag(child[1], 40, 20);
    EXPECT_TRUE(SameRect({5, 5, 375, 145}, rect(0)));
    EXPECT_TRUE(SameRect({5, 145, 375, 151}, rect(1)));
    EXPECT_TRUE(SameRect({5, 151, 375, 281}, rect(2)));
    Drag(child[1], 0, 200);
    EXPECT_TRUE(SameRect({5, 151, 375, 281}, rect(2))) << "below the lower pane's minimum";

    RECT window;
    GetWindowRect(host.Window(), &window);
    SetWindowPos(host.Window(), nullptr, 0, 0, Width(window) + 50, Height(window) + 30,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ToolkitDialog::Pump();
    EXPECT_TRUE(SameRect({5, 5, 425, 145}, rect(0)));
    EXPECT_TRUE(SameRect({5, 145, 425, 151}, rect(1)));
    EXPECT_TRUE(SameRect({5, 151, 425, 311}, rect(2)));
    splitter.Detach();
    for (HWND window : child)
        DestroyWindow(window);
}
