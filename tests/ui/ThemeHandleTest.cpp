#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ThemeHandle.h"

namespace {

// A uxtheme stand-in: hands out numbered themes and can make a handle stale
// the way a theme switch does.
struct FakeTheme {
    std::vector<std::wstring> opened;
    std::vector<UINT> openDpis;
    std::vector<HTHEME> closed;
    std::vector<HTHEME> drawnWith;
    HTHEME stale = nullptr;
    bool forDpiFails = false;
    bool active = true;
    int next = 1;
    std::wstring subApp;
    const wchar_t* idList = L"unset";
} fake;

HTHEME WINAPI OpenForDpi(HWND, const wchar_t* classList, UINT dpi)
{
    if (fake.forDpiFails)
        return nullptr;
    fake.opened.push_back(std::wstring(L"dpi:") + classList);
    fake.openDpis.push_back(dpi);
    return (HTHEME)(INT_PTR)fake.next++;
}
HTHEME WINAPI Open(HWND, const wchar_t* classList)
{
    fake.opened.push_back(classList);
    return (HTHEME)(INT_PTR)fake.next++;
}
HRESULT WINAPI CloseTheme(HTHEME theme)
{
    fake.closed.push_back(theme);
    return S_OK;
}
BOOL WINAPI IsActive()
{
    return fake.active;
}
HRESULT WINAPI Draw(HTHEME theme, HDC, int, int, const RECT*, const RECT*)
{
    fake.drawnWith.push_back(theme);
    return theme == fake.stale || !theme ? (HRESULT)0x80070006 : S_OK;
}
HRESULT WINAPI SetTheme(HWND, const wchar_t* subApp, const wchar_t* idList)
{
    fake.subApp = subApp ? subApp : L"(null)";
    fake.idList = idList;
    return S_OK;
}
UINT WINAPI Dpi(HWND)
{
    return 144;
}

OptionalApiTable FakeTable()
{
    OptionalApiTable table = {};
    table.OpenThemeDataForDpi = &OpenForDpi;
    table.OpenThemeData = &Open;
    table.CloseThemeData = &CloseTheme;
    table.IsThemeActive = &IsActive;
    table.DrawThemeBackground = &Draw;
    table.SetWindowTheme = &SetTheme;
    table.GetDpiForWindow = &Dpi;
    return table;
}

class ThemeHandleTest : public ::testing::Test {
protected:
    void SetUp() override { fake = FakeTheme(); }
    OptionalApi api{FakeTable()};
    HWND window = (HWND)0x77;
    RECT rect = {0, 0, 10, 10};
};

TEST_F(ThemeHandleTest, OpensForTheWindowsDpiAndFallsBackToOpenThemeData)
{
    ThemeHandle theme(api);
    ASSERT_TRUE(theme.Open(window, L"TOOLBAR"));
    ASSERT_EQ(1u, fake.opened.size());
    EXPECT_EQ(L"dpi:TOOLBAR", fake.opened[0]);
    EXPECT_EQ(144u, fake.openDpis[0]);
    EXPECT_EQ(window, theme.Window());

    fake.forDpiFails = true;
    ASSERT_TRUE(theme.Open(window, L"Explorer::TreeView"));
    EXPECT_EQ(L"Explorer::TreeView", fake.opened.back());
    ASSERT_EQ(1u, fake.closed.size()); // the first theme was closed before
    EXPECT_EQ((HTHEME)1, fake.closed[0]);
    EXPECT_STREQ(L"Explorer::TreeView", theme.ClassList());
}

TEST_F(ThemeHandleTest, WithoutAClassListNothingOpens)
{
    ThemeHandle theme(api);
    ASSERT_TRUE(theme.Open(window, L"BUTTON"));
    EXPECT_FALSE(theme.Open(window, nullptr));
    EXPECT_FALSE(theme.IsOpen());
    EXPECT_FALSE(theme.Open(window, L""));
    EXPECT_EQ(1u, fake.opened.size());
    EXPECT_EQ(1u, fake.closed.size());
}

TEST_F(ThemeHandleTest, AThemeMadeStaleByASwitchDrawsOnTheFirstCallAfterIt)
{
    ThemeHandle theme(api);
    ASSERT_TRUE(theme.Open(window, L"TOOLBAR"));
    HTHEME before = theme.Handle();
    fake.stale = before; // the user switched themes
    EXPECT_TRUE(theme.DrawBackground(nullptr, 1, 1, &rect));
    ASSERT_EQ(2u, fake.drawnWith.size());
    EXPECT_EQ(before, fake.drawnWith[0]);
    EXPECT_NE(before, theme.Handle());
    EXPECT_EQ(theme.Handle(), fake.drawnWith[1]);
    EXPECT_EQ(L"dpi:TOOLBAR", fake.opened.back()); // same class list, same window
    ASSERT_EQ(1u, fake.closed.size());
    EXPECT_EQ(before, fake.closed[0]);
}

TEST_F(ThemeHandleTest, StaleHandlesAreOnlyReopenedWithVisualStylesOn)
{
    ThemeHandle theme(api);
    ASSERT_TRUE(theme.Open(window, L"TOOLBAR"));
    fake.stale = theme.Handle();
    fake.active = false;
    EXPECT_FALSE(theme.DrawBackground(nullptr, 1, 1, &rect));
    EXPECT_EQ(1u, fake.drawnWith.size());
    EXPECT_EQ(1u, fake.opened.size());
}

HRESULT WINAPI AlwaysStale(HTHEME theme, HDC, int, int, const RECT*, const RECT*)
{
    fake.drawnWith.push_back(theme);
    return (HRESULT)0x80070006;
}

TEST_F(ThemeHandleTest, AHandleThatStaysStaleIsRetriedOnlyOnce)
{
    OptionalApiTable table = FakeTable();
    table.DrawThemeBackground = &AlwaysStale;
    OptionalApi stuckApi(table);
    ThemeHandle theme(stuckApi);
    ASSERT_TRUE(theme.Open(window, L"TOOLBAR"));
    EXPECT_FALSE(theme.DrawBackground(nullptr, 1, 1, &rect));
    EXPECT_EQ(2u, fake.drawnWith.size());
    EXPECT_EQ(2u, fake.opened.size());
}

TEST_F(ThemeHandleTest, ANeverOpenedThemeOpensAtItsFirstDrawing)
{
    ThemeHandle theme(api);
    EXPECT_FALSE(theme.Open(window, nullptr));
    EXPECT_FALSE(theme.DrawBackground(nullptr, 1, 1, &rect)); // nothing to open
    EXPECT_TRUE(fake.opened.empty());
}

TEST_F(ThemeHandleTest, ClosesOnceAndWhenDestroyed)
{
    {
        ThemeHandle theme(api);
        theme.Open(window, L"TOOLBAR");
        theme.Close();
        theme.Close();
        EXPECT_EQ(1u, fake.closed.size());
        theme.Open(window, L"TOOLBAR");
    }
    EXPECT_EQ(2u, fake.closed.size());
}

TEST_F(ThemeHandleTest, SetWindowThemePassesNoIdList)
{
    ThemeHandle theme(api);
    EXPECT_TRUE(theme.SetWindowTheme(window, L"DarkMode_Explorer"));
    EXPECT_EQ(L"DarkMode_Explorer", fake.subApp);
    EXPECT_EQ(nullptr, fake.idList);
}

TEST(ThemeHandle, WithoutUxthemeEverythingFailsQuietly)
{
    OptionalApiTable empty = {};
    OptionalApi api(empty);
    ThemeHandle theme(api);
    RECT rect = {0, 0, 4, 4};
    SIZE size;
    EXPECT_FALSE(theme.Open(nullptr, L"BUTTON"));
    EXPECT_FALSE(theme.DrawBackground(nullptr, 1, 1, &rect));
    EXPECT_FALSE(theme.SetWindowTheme(nullptr, L"Explorer"));
    EXPECT_FALSE(theme.IsPartiallyTransparent(1, 1));
    EXPECT_FALSE(theme.DrawParentBackground(nullptr, nullptr, &rect));
    EXPECT_FALSE(theme.PartSize(nullptr, 1, 1, nullptr, TS_TRUE, &size));
}

TEST(ThemeHandle, RealUxthemeOnARealWindow)
{
    HWND button = CreateWindowExW(0, L"BUTTON", L"b", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(nullptr, button);
    {
        ThemeHandle theme;
        EXPECT_TRUE(theme.SetWindowTheme(button, L"Explorer"));
        int opened = theme.Open(button, L"BUTTON");
        EXPECT_EQ(opened == 1, theme.IsOpen());
        HDC dc = GetDC(button);
        RECT rect = {0, 0, 50, 20};
        // Drawing works when visual styles are on; without them it fails cleanly.
        EXPECT_EQ(opened, theme.DrawBackground(dc, 1, 1, &rect));
        ReleaseDC(button, dc);
    }
    DestroyWindow(button);
}

} // namespace
