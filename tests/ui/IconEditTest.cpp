#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "ToolkitDialog.h"

namespace {

// Where the client area starts, in window coordinates.
POINT ClientOrigin(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return {origin.x - rect.left, origin.y - rect.top};
}

COLORREF WindowPixel(HWND window, int x, int y)
{
    HDC dc = GetWindowDC(window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

int IconCommands(const ToolkitDialog& dialog)
{
    int count = 0;
    for (const DialogCommand& command : dialog.commands) {
        if (command.id == IDC_TK_FILTER && command.code == 0) {
            EXPECT_EQ(dialog.Item(IDC_TK_FILTER), command.control);
            ++count;
        }
    }
    return count;
}

class IconEditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeDpi::Reset();
        edit = dialog.Item(IDC_TK_FILTER);
        originalOrigin = ClientOrigin(edit);
    }
    void Attach(DWORD options = 0)
    {
        ASSERT_EQ(1, dialog.filter.Init(edit, GetModuleHandleW(nullptr), IDI_TOOLKIT_FILTER, options));
        dialog.Show();
    }

    ToolkitDialog dialog;
    HWND edit = nullptr;
    POINT originalOrigin = {};
};

} // namespace

TEST(IconEdit, TheIconIsSevenTenthsOfTheHeightInStepsOfEight)
{
    EXPECT_EQ(16, IconEdit::IconSizeFor(23));
    EXPECT_EQ(24, IconEdit::IconSizeFor(35));
    EXPECT_EQ(16, IconEdit::IconSizeFor(20));
    EXPECT_EQ(8, IconEdit::IconSizeFor(17));
    EXPECT_EQ(0, IconEdit::IconSizeFor(4));
}

TEST_F(IconEditTest, TextAndCaretStayRightOfTheIconStrip)
{
    RECT window;
    GetWindowRect(edit, &window);
    Attach();
    EXPECT_EQ(IconEdit::IconSizeFor(Height(window)), dialog.filter.IconSize());
    POINT origin = ClientOrigin(edit);
    EXPECT_EQ(dialog.filter.IconMargin() + dialog.filter.IconSize(), origin.x);
    EXPECT_EQ(originalOrigin.y + dialog.filter.TextOffset(), origin.y);
    EXPECT_GT(origin.x, originalOrigin.x);

    SetFocus(edit);
    for (wchar_t ch : std::wstring(L"usb hub"))
        SendMessageW(edit, WM_CHAR, ch, 1);
    SendMessageW(edit, EM_SETSEL, 0, 0);
    POINT caret;
    ASSERT_TRUE(GetCaretPos(&caret));
    EXPECT_GE(caret.x + origin.x, dialog.filter.IconMargin() + dialog.filter.IconSize());
    // A click in the strip puts the caret at the start, never inside the strip.
    PostMouse(edit, WM_LBUTTONDOWN, -5, 5);
    PostMouse(edit, WM_LBUTTONUP, -5, 5);
    GetCaretPos(&caret);
    EXPECT_GE(caret.x, 0);

    EXPECT_EQ(1, dialog.filter.SetCueBanner(L"Filter"));
    SetWindowTextW(edit, L"");
    wchar_t cue[32] = L"";
    SendMessageW(edit, EM_GETCUEBANNER, (WPARAM)cue, 32);
    EXPECT_STREQ(L"Filter", cue);
}

TEST_F(IconEditTest, PressAndReleaseOnTheIconSendsOneCommandAndNothingElseDoes)
{
    Attach();
    const int icon = -dialog.filter.IconSize() / 2, text = 10, y = 6;
    // The strip is not border: the mouse reaches the edit there.
    RECT window;
    GetWindowRect(edit, &window);
    POINT strip = {window.left + dialog.filter.IconMargin() + 2, window.top + Height(window) / 2};
    EXPECT_EQ(HTCLIENT, SendMessageW(edit, WM_NCHITTEST, 0, MAKELPARAM(strip.x, strip.y)));

    PostMouse(edit, WM_LBUTTONDOWN, icon, y);
    PostMouse(edit, WM_LBUTTONUP, icon, y);
    EXPECT_EQ(1, IconCommands(dialog));

    PostMouse(edit, WM_LBUTTONDOWN, icon, y);
    PostMouse(edit, WM_MOUSEMOVE, text, y);
    PostMouse(edit, WM_LBUTTONUP, text, y);
    EXPECT_EQ(1, IconCommands(dialog)) << "released over the text";

    PostMouse(edit, WM_LBUTTONDOWN, text, y);
    PostMouse(edit, WM_LBUTTONUP, icon, y);
    EXPECT_EQ(1, IconCommands(dialog)) << "pressed over the text";

    PostMouse(edit, WM_LBUTTONDOWN, icon, y);
    PostMouse(edit, WM_LBUTTONUP, text, y);
    PostMouse(edit, WM_LBUTTONUP, icon, y);
    EXPECT_EQ(1, IconCommands(dialog)) << "a stray release after a cancelled click";

    PostMouse(edit, WM_LBUTTONDOWN, icon, y);
    PostMouse(edit, WM_LBUTTONUP, icon, y);
    EXPECT_EQ(2, IconCommands(dialog));
}

TEST_F(IconEditTest, TheStripIsPaintedWithTheIconInTheStatesColour)
{
    Attach(IconEdit::GreyStripWhenDisabled);
    RECT window;
    GetWindowRect(edit, &window);
    const int margin = dialog.filter.IconMargin(), size = dialog.filter.IconSize();
    RedrawWindow(edit, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    // Below the icon, inside the frame: the strip's own colour.
    const int stripX = margin + size / 2, stripY = Height(window) - 3;
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), WindowPixel(edit, stripX, stripY));
    int iconPixels = 0;
    for (int y = margin; y < margin + size; ++y)
        for (int x = margin; x < margin + size; ++x)
            iconPixels += WindowPixel(edit, x, y) != GetSysColor(COLOR_WINDOW);
    EXPECT_GT(iconPixels, size * size / 8) << "the icon is drawn";

    EnableWindow(edit, FALSE);
    ToolkitDialog::Pump();
    RedrawWindow(edit, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), WindowPixel(edit, stripX, stripY));
    EnableWindow(edit, TRUE);

    dialog.filter.Detach();
    dialog.filter.dark = 1;
    ASSERT_EQ(1, dialog.filter.Init(edit, GetModuleHandleW(nullptr), IDI_TOOLKIT_FILTER,
                                    IconEdit::FollowDarkMode));
    EXPECT_TRUE(dialog.filter.Options() & IconEdit::DarkModeActive);
    RedrawWindow(edit, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(0x191919u, WindowPixel(edit, stripX, stripY));
}

TEST_F(IconEditTest, DetachingGivesTheEditItsOwnFrameBack)
{
    Attach();
    EXPECT_NE(nullptr, GetPropW(edit, L"_C_SubClassing_Property_64696963"));
    EXPECT_EQ(0, dialog.filter.Init(edit, GetModuleHandleW(nullptr), IDI_TOOLKIT_FILTER, 0));
    dialog.filter.Detach();
    EXPECT_EQ(nullptr, GetPropW(edit, L"_C_SubClassing_Property_64696963"));
    POINT origin = ClientOrigin(edit);
    EXPECT_EQ(originalOrigin.x, origin.x);
    EXPECT_EQ(originalOrigin.y, origin.y);
}
