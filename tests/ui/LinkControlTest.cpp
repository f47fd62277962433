#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolkitDialog.h"
#include "services/ProgramLaunch.h"
#include "services/RegistryKey.h"

namespace {

struct Launch {
    std::wstring file, parameters, verb;
};
std::vector<Launch> launches;

BOOL WINAPI RecordLaunch(SHELLEXECUTEINFOW* info)
{
    launches.push_back({info->lpFile ? info->lpFile : L"", info->lpParameters ? info->lpParameters : L"",
                        info->lpVerb ? info->lpVerb : L""});
    return TRUE;
}

int CountPixels(HWND window, COLORREF colour)
{
    RECT client;
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    int count = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x)
            count += GetPixel(dc, x, y) == colour;
    ReleaseDC(window, dc);
    return count;
}

void Repaint(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    ToolkitDialog::Pump();
}

class LinkControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeDpi::Reset();
        launches.clear();
        UseShellExecute(&RecordLaunch);
        control = dialog.Item(IDC_TK_LINK);
        dialog.link.UseBrowserSettingsKey(browser.Root(), browser.Path());
    }
    void TearDown() override
    {
        dialog.link.Detach();
        UseShellExecute(nullptr);
    }

    void Setting(const wchar_t* key, const wchar_t* name, const wchar_t* value)
    {
        RegistryKey writer;
        ASSERT_TRUE(writer.CreateWrite(browser.Root(), browser.SubPath(key)) && writer.WriteText(name, value));
    }
    void Attach(DWORD options = LinkControl::ParentFont, const wchar_t* text = L"tollbrook.example")
    {
        dialog.link.Detach();
        ASSERT_EQ(1, dialog.link.Init(control, text, L"https://tollbrook.example/", IDC_TOOLKIT_HAND, options));
        dialog.Show();
    }
    // The screen point in the middle of the link's text, and one on the
    // control beside the (right-aligned, short) text.
    POINT OnText() const
    {
        RECT client;
        GetClientRect(control, &client);
        POINT point = {client.right - dialog.link.TextExtent().cx / 2, client.bottom / 2};
        ClientToScreen(control, &point);
        return point;
    }
    POINT BesideText() const
    {
        RECT client;
        GetClientRect(control, &client);
        POINT point = {2, client.bottom / 2};
        ClientToScreen(control, &point);
        return point;
    }
    // The real cursor goes there; the system's mouse moves follow.
    bool CursorTo(POINT screen, bool hot)
    {
        SetCursorPos(screen.x, screen.y);
        return ToolkitDialog::WaitFor([&]() { return ((dialog.link.Flags() & LinkControl::Hot) != 0) == hot; });
    }

    ScopedTestKey browser{L"Browser"};
    ToolkitDialog dialog;
    HWND control = nullptr;
};

} // namespace

TEST_F(LinkControlTest, ColoursAndUnderlineFollowTheBrowserSettings)
{
    Attach();
    EXPECT_EQ(0xCC6600u, dialog.link.NormalColour());
    EXPECT_EQ(GetSysColor(COLOR_HOTLIGHT), dialog.link.HoverColour());
    EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), dialog.link.DisabledColour());
    EXPECT_EQ(LinkControl::UnderlineAlways, dialog.link.UnderlineMode());
    EXPECT_TRUE(dialog.link.Flags() & LinkControl::UseHoverColour);

    Setting(L"Settings", L"Anchor Color", L"0,0,255");
    Setting(L"Settings", L"Anchor Color Hover", L"255, 0, 0");
    Setting(L"Settings", L"Use Anchor Hover Color", L"no");
    Setting(L"Main", L"Anchor Underline", L"Hover");
    Attach();
    EXPECT_EQ(RGB(0, 0, 255), dialog.link.NormalColour());
    EXPECT_EQ(RGB(255, 0, 0), dialog.link.HoverColour());
    EXPECT_FALSE(dialog.link.Flags() & LinkControl::UseHoverColour);
    EXPECT_EQ(LinkControl::UnderlineOnHover, dialog.link.UnderlineMode());
    Setting(L"Main", L"Anchor Underline", L"yes");
    Attach();
    Repaint(control);
    EXPECT_GT(CountPixels(control, RGB(0, 0, 255)), dialog.link.TextExtent().cx / 2) << "drawn pure blue";

    for (const wchar_t* bad : {L"0,0", L"0,0,256", L"a,b,c", L"0,0,255,1", L"-1,0,0"}) {
        Setting(L"Settings", L"Anchor Color", bad);
        Attach();
        EXPECT_EQ(0xCC6600u, dialog.link.NormalColour()) << std::string(bad, bad + wcslen(bad));
    }
    Setting(L"Main", L"Use_DlgBox_Colors", L"YES");
    Attach();
    EXPECT_EQ(GetSysColor(COLOR_HOTLIGHT), dialog.link.NormalColour());
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), dialog.link.HoverColour());

    // Dark application mode wins over every setting, with the dialog light.
    dialog.link.dark = 1;
    Attach();
    EXPECT_EQ(LinkControl::DarkModeColour, dialog.link.NormalColour());
    Repaint(control);
    EXPECT_GT(CountPixels(control, LinkControl::DarkModeColour), dialog.link.TextExtent().cx / 2);
}

TEST_F(LinkControlTest, TheTextIsUnderlinedOnHoverAndTheCursorIsAHand)
{
    Setting(L"Main", L"Anchor Underline", L"hover");
    Setting(L"Settings", L"Use Anchor Hover Color", L"no");
    Attach(LinkControl::ParentFont, L"home");
    ASSERT_TRUE(CursorTo(BesideText(), false));
    Repaint(control);
    int plain = CountPixels(control, dialog.link.NormalColour());
    EXPECT_GT(plain, 0);

    ASSERT_TRUE(CursorTo(OnText(), true));
    Repaint(control);
    int underlined = CountPixels(control, dialog.link.NormalColour());
    EXPECT_GE(underlined, plain + dialog.link.TextExtent().cx * 3 / 4) << "one line under the text";
    SendMessageW(control, WM_SETCURSOR, (WPARAM)control, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(LoadCursorW(nullptr, IDC_HAND), GetCursor());

    ASSERT_TRUE(CursorTo(BesideText(), false)) << "beside the text is not on it";
    SendMessageW(control, WM_SETCURSOR, (WPARAM)control, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(LoadCursorW(nullptr, IDC_ARROW), GetCursor());
    Repaint(control);
    EXPECT_EQ(plain, CountPixels(control, dialog.link.NormalColour()));

    RECT exitButton;
    GetWindowRect(dialog.Item(IDC_TK_EXIT), &exitButton);
    ASSERT_TRUE(CursorTo(OnText(), true));
    ASSERT_TRUE(CursorTo({exitButton.left + 5, exitButton.top + 5}, false)) << "left the control";
}

TEST_F(LinkControlTest, AClickOpensTheTargetOnceAndOnlyWhenReleasedOnTheText)
{
    Attach();
    ASSERT_TRUE(CursorTo(OnText(), true));
    PostMouseAt(control, WM_LBUTTONDOWN, OnText());
    EXPECT_TRUE(launches.empty()) << "not on the press";
    PostMouseAt(control, WM_LBUTTONUP, OnText());
    ASSERT_EQ(1u, launches.size());
    EXPECT_EQ(L"rundll32.exe", launches[0].file);
    EXPECT_EQ(L"url.dll,FileProtocolHandler https://tollbrook.example/", launches[0].parameters);
    EXPECT_EQ(L"open", launches[0].verb);

    // Pressed on the text, released after the mouse left it.
    PostMouseAt(control, WM_LBUTTONDOWN, OnText());
    EXPECT_EQ(control, GetCapture());
    RECT exitButton;
    GetWindowRect(dialog.Item(IDC_TK_EXIT), &exitButton);
    POINT away = {exitButton.left + 5, exitButton.top + 5};
    ASSERT_TRUE(CursorTo(away, false));
    PostMouseAt(control, WM_LBUTTONUP, away);
    EXPECT_EQ(1u, launches.size()) << "released elsewhere";
    EXPECT_NE(control, GetCapture());

    // Pressed beside the text, released on it.
    ASSERT_TRUE(CursorTo(BesideText(), false));
    PostMouseAt(control, WM_LBUTTONDOWN, BesideText());
    ASSERT_TRUE(CursorTo(OnText(), true));
    PostMouseAt(control, WM_LBUTTONUP, OnText());
    EXPECT_EQ(1u, launches.size()) << "pressed beside the text";

    // Out and back in before the release is still one click.
    PostMouseAt(control, WM_LBUTTONDOWN, OnText());
    ASSERT_TRUE(CursorTo(away, false));
    ASSERT_TRUE(CursorTo(OnText(), true));
    PostMouseAt(control, WM_LBUTTONUP, OnText());
    EXPECT_EQ(2u, launches.size());
}

TEST_F(LinkControlTest, SpaceAndEnterOpenTheTargetOnceEach)
{
    Attach();
    EXPECT_EQ(DLGC_WANTALLKEYS, SendMessageW(control, WM_GETDLGCODE, VK_SPACE, 0));
    EXPECT_EQ(DLGC_WANTALLKEYS, SendMessageW(control, WM_GETDLGCODE, VK_RETURN, 0));
    SetFocus(control);
    EXPECT_TRUE(dialog.link.Flags() & LinkControl::Focused);
    PostMessageW(control, WM_KEYDOWN, VK_SPACE, 0x00390001);
    PostMessageW(control, WM_KEYDOWN, VK_SPACE, 0x40390001); // held: repeats
    PostMessageW(control, WM_KEYDOWN, VK_SPACE, 0x40390001);
    PostMessageW(control, WM_KEYUP, VK_SPACE, 0xC0390001);
    ToolkitDialog::Pump();
    EXPECT_EQ(1u, launches.size());
    PostMessageW(control, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ToolkitDialog::Pump();
    EXPECT_EQ(2u, launches.size());

    // The owner may take the activation instead.
    Attach(LinkControl::ParentFont | LinkControl::CommandToParent);
    SetFocus(control);
    PostMessageW(control, WM_KEYDOWN, VK_SPACE, 0x00390001);
    ToolkitDialog::Pump();
    EXPECT_EQ(2u, launches.size());
    ASSERT_EQ(1u, dialog.commands.size());
    EXPECT_EQ(IDC_TK_LINK, dialog.commands[0].id);
    EXPECT_EQ(control, dialog.commands[0].control);
}

TEST_F(LinkControlTest, TheTextLivesInTheLinkAndGoesBackOnDetach)
{
    Attach();
    wchar_t own[64] = L"?";
    InternalGetWindowText(control, own, 64);
    EXPECT_STREQ(L"", own) << "the static draws nothing of its own";
    wchar_t text[8];
    EXPECT_EQ(7, GetWindowTextW(control, text, 8));
    EXPECT_STREQ(L"tollbro", text);
    EXPECT_EQ(17, GetWindowTextLengthW(control));
    LONG oldWidth = dialog.link.TextExtent().cx;
    SetWindowTextW(control, L"tollbrook.example/support");
    EXPECT_STREQ(L"tollbrook.example/support", dialog.link.Text());
    EXPECT_GT(dialog.link.TextExtent().cx, oldWidth);

    EnableWindow(control, FALSE);
    EXPECT_TRUE(dialog.link.Flags() & LinkControl::Disabled);
    Repaint(control);
    EXPECT_GT(CountPixels(control, dialog.link.DisabledColour()), 0);
    EnableWindow(control, TRUE);
    EXPECT_FALSE(dialog.link.Flags() & LinkControl::Disabled);

    EXPECT_NE(nullptr, GetPropW(control, L"_C_SubClassing_Property_6C696E6B"));
    dialog.link.Detach();
    EXPECT_EQ(nullptr, GetPropW(control, L"_C_SubClassing_Property_6C696E6B"));
    InternalGetWindowText(control, own, 64);
    EXPECT_STREQ(L"tollbrook.example/support", own);
}
