#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ToolkitDialog.h"
#include "services/RegistryKey.h"

namespace {

RECT NormalRect(HWND window)
{
    WINDOWPLACEMENT placement = {sizeof placement};
    GetWindowPlacement(window, &placement);
    return placement.rcNormalPosition;
}

std::wstring RectText(int show, const RECT& rect)
{
    return std::to_wstring(show) + L"," + std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) +
           L"," + std::to_wstring(rect.right) + L"," + std::to_wstring(rect.bottom);
}

RECT At(int left, int top, int width, int height)
{
    return {left, top, left + width, top + height};
}

RECT WorkArea()
{
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

class WindowPlacementTest : public ::testing::Test {
protected:
    void SetUp() override { FakeDpi::Reset(); }
    void TearDown() override { FakeDpi::Reset(); }

    void Store(const std::wstring& text, const wchar_t* name = L"Main") { WriteText(key, name, text.c_str()); }
    std::wstring Stored(const wchar_t* name = L"Main") { return ReadText(key, name); }
    int Load(ToolkitDialog& dialog, DWORD flags = 0)
    {
        int loaded = dialog.placement.Load(dialog.Window(), key.Root(), key.Path(), L"Main", flags);
        ToolkitDialog::Pump();
        return loaded;
    }

    ScopedTestKey key{L"Placement"};
};

} // namespace

TEST_F(WindowPlacementTest, ASavedPlacementComesBackExactlyAtAnyDpi)
{
    RECT saved;
    {
        ToolkitDialog dialog;
        dialog.Furnish();
        dialog.Show();
        RECT window = dialog.WindowRect();
        SetWindowPos(dialog.Window(), nullptr, 120, 80, Width(window) + 60, Height(window) + 40,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        ToolkitDialog::Pump();
        saved = NormalRect(dialog.Window());
        ASSERT_EQ(1, dialog.placement.Save(dialog.Window(), key.Root(), key.Path(), L"Main", nullptr, 0));
        ASSERT_EQ(2u, FakeDpi::contexts.size());
        EXPECT_EQ(DPI_AWARENESS_CONTEXT_UNAWARE, FakeDpi::contexts[0]) << "read in 96-DPI coordinates";
        EXPECT_EQ(RectText(1, saved), Stored());
    }
    // The text is in 96-DPI coordinates; the system scales them, not we.
    for (UINT dpi : {96u, 144u}) {
        FakeDpi::Reset();
        FakeDpi::dpi = dpi;
        ToolkitDialog next;
        next.Furnish();
        RECT client, list = next.ItemRect(IDC_TK_LIST);
        GetClientRect(next.Window(), &client);
        const int margin = client.right - list.right, bottomMargin = client.bottom - list.bottom;
        ASSERT_EQ(1, Load(next)) << dpi;
        EXPECT_TRUE(SameRect(saved, NormalRect(next.Window()))) << "at " << dpi;
        EXPECT_TRUE(IsWindowVisible(next.Window()));
        EXPECT_EQ(1, next.repositions) << "DM_REPOSITION";
        // The checks and the final placement in the unaware context, each
        // switched back; the dialog's own DPI resizing held off around it.
        ASSERT_EQ(4u, FakeDpi::contexts.size());
        EXPECT_EQ(DPI_AWARENESS_CONTEXT_UNAWARE, FakeDpi::contexts[0]);
        EXPECT_EQ(DPI_AWARENESS_CONTEXT_UNAWARE, FakeDpi::contexts[2]);
        EXPECT_EQ(FakeDpi::contexts[1], FakeDpi::contexts[3]);
        EXPECT_NE(DPI_AWARENESS_CONTEXT_UNAWARE, FakeDpi::contexts[1]);
        EXPECT_EQ((std::vector<DWORD>{DDC_DISABLE_RESIZE, 0}), FakeDpi::dialogBehaviours);
        // The splitter stretched the list with the window.
        list = next.ItemRect(IDC_TK_LIST);
        GetClientRect(next.Window(), &client);
        EXPECT_EQ(margin, client.right - list.right);
        EXPECT_EQ(bottomMargin, client.bottom - list.bottom);
    }
}

TEST(WindowPlacement, ShowCommandsFollowTheLoadFlags)
{
    // {stored, flags, expected}
    const int cases[][3] = {
        {SW_SHOWMINIMIZED, 0, SW_SHOWNORMAL}, {SW_SHOWMINIMIZED, 0x02, SW_SHOWMINIMIZED},
        {SW_MINIMIZE, 0, SW_SHOWNORMAL},      {SW_SHOWMINNOACTIVE, 0, SW_SHOWNORMAL},
        {SW_FORCEMINIMIZE, 0, SW_SHOWNORMAL}, {SW_HIDE, 0, SW_SHOWNORMAL},
        {SW_HIDE, 0x10, SW_HIDE},             {SW_SHOWMAXIMIZED, 0, SW_SHOWMAXIMIZED},
        {SW_SHOW, 0, SW_SHOW},                {12, 0, SW_SHOWNORMAL},
        {-1, 0x10, SW_SHOWNORMAL},            {SW_SHOWNORMAL, 0x20, SW_HIDE},
        {SW_SHOWNORMAL, 0x80, SW_SHOWMINNOACTIVE}, {SW_SHOWNORMAL, 0xA0, SW_SHOWMINNOACTIVE},
    };
    for (const int* c : cases)
        EXPECT_EQ(c[2], WindowPlacement::AdjustShowCommand(c[0], (DWORD)c[1])) << c[0] << " with flags " << c[1];
}
TEST_F(WindowPlacementTest, MinimisedForcedHiddenAndMaximisedPlacements)
{
    RECT template_;
    {
        ToolkitDialog probe;
        template_ = probe.WindowRect();
    }
    RECT rect = At(150, 100, Width(template_) + 20, Height(template_) + 10);
    {
        Store(RectText(SW_SHOWMINIMIZED, rect));
        ToolkitDialog dialog;
        ASSERT_EQ(1, Load(dialog));
        EXPECT_FALSE(IsIconic(dialog.Window()));
        EXPECT_TRUE(IsWindowVisible(dialog.Window()));
        EXPECT_TRUE(SameRect(rect, dialog.WindowRect())) << "minimised";
    }
    {
        Store(RectText(SW_SHOWNORMAL, rect));
        ToolkitDialog dialog;
        ASSERT_EQ(1, Load(dialog, WindowPlacement::ForceHidden | WindowPlacement::NoReposition));
        EXPECT_FALSE(IsWindowVisible(dialog.Window()));
        EXPECT_TRUE(SameRect(rect, NormalRect(dialog.Window()))) << "forced hidden";
        EXPECT_EQ(0, dialog.repositions);
    }
    {
        Store(RectText(SW_SHOWMAXIMIZED, rect));
        ToolkitDialog dialog;
        dialog.Furnish();
        ASSERT_EQ(1, Load(dialog));
        EXPECT_TRUE(IsZoomed(dialog.Window()));
        EXPECT_EQ(0, dialog.repositions) << "a maximised window is not repositioned";
        EXPECT_TRUE(SameRect(rect, NormalRect(dialog.Window()))) << "restored rectangle of the maximised window";
        ShowWindow(dialog.Window(), SW_RESTORE);
        ToolkitDialog::Pump();
        EXPECT_TRUE(SameRect(rect, dialog.WindowRect())) << "after restoring";
    }
}

TEST_F(WindowPlacementTest, TextsThatAreNoPlacementLeaveTheTemplatesPlacement)
{
    ToolkitDialog dialog;
    dialog.Furnish();
    RECT template_ = dialog.WindowRect();
    const wchar_t* texts[] = {L"",
                              L"garbage",
                              L"1,100,100,600,500,7",
                              L"1,100,100,600",
                              L"1,0x10,100,600,500",
                              L"1,100,100,600,5000000000",
                              L"1;100;100;600;500",
                              L"1,100,100,600,",
                              L" , , , , ",
                              L"1,100,100,1.5e3,500",
                              L"1,600,500,100,100",   // inverted
                              L"1,300,300,300,700",   // no width
                              L"1,-2147483648,0,2147483647,-2147483648"};
    for (const wchar_t* text : texts) {
        Store(text);
        EXPECT_EQ(0, Load(dialog)) << std::string(text, text + wcslen(text));
        EXPECT_TRUE(SameRect(template_, dialog.WindowRect())) << std::string(text, text + wcslen(text));
        EXPECT_FALSE(IsWindowVisible(dialog.Window()));
    }
    RegistryKey writer;
    ASSERT_TRUE(writer.CreateWrite(key.Root(), key.Path()) && writer.WriteDword(L"Main", 0x00310031));
    EXPECT_EQ(0, Load(dialog)) << "a number is no text";
    DeleteRegistryTree(key.Root(), key.Path());
    EXPECT_EQ(0, Load(dialog)) << "no value";
}

TEST_F(WindowPlacementTest, RectanglesOffTheMonitorsOrOfImpossibleSizesAreMended)
{
    RECT work = WorkArea();
    RECT template_;
    {
        ToolkitDialog probe;
        template_ = probe.WindowRect();
    }
    const int w = Width(template_) + 40, h = Height(template_) + 30;
    struct Case {
        RECT stored;
        DWORD flags;
        RECT expected;
        const wchar_t* what;
    } cases[] = {
        {At(5000, 4000, w, h), 0, At(work.left + 10, work.top + 10, w, h), L"on no monitor"},
        {At(-3000, -2000, w, h), 0, At(work.left + 10, work.top + 10, w, h), L"far up and left"},
        {At(-100, -100, w, h), 0, At(work.left + 10, work.top + 10, w, h), L"corner off, rest on"},
        {At(-100, -100, w, h), WindowPlacement::AcceptBottomRightOnMonitor, At(-100, -100, w, h),
         L"bottom-right corner accepted"},
        {At(200, 150, 10, 10), 0, At(200, 150, Width(template_), Height(template_)), L"smaller than the template"},
        {At(200, 150, 10, h), 0, At(200, 150, Width(template_), h), L"narrower than the template"},
        {{100, 50, 2000000000, 2000000000}, 0,
         At(100, 50, GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)),
         L"larger than the desktop"},
        {At(-2147483600, 40000, w, h), 0, At(work.left + 10, work.top + 10, w, h), L"beyond every coordinate"},
        {At(210, 160, w + 300, h + 300), WindowPlacement::PositionOnly, At(210, 160, Width(template_), Height(template_)),
         L"position only"},
    };
    for (const Case& c : cases) {
        Store(RectText(SW_SHOWNORMAL, c.stored));
        ToolkitDialog dialog;
        ASSERT_EQ(1, Load(dialog, c.flags | WindowPlacement::NoReposition)) << std::string(c.what, c.what + wcslen(c.what));
        EXPECT_TRUE(SameRect(c.expected, dialog.WindowRect())) << std::string(c.what, c.what + wcslen(c.what));
    }
    {
        Store(RectText(SW_SHOWNORMAL, At(300, 200, w, h)));
        ToolkitDialog dialog;
        RECT before = dialog.WindowRect();
        ASSERT_EQ(1, Load(dialog, WindowPlacement::SizeOnly));
        EXPECT_TRUE(SameRect(At(before.left, before.top, w, h), dialog.WindowRect())) << "size only";
    }
    {
        Store(RectText(SW_SHOWNORMAL, At(40000, 100, w, h)));
        ToolkitDialog dialog;
        EXPECT_EQ(0, Load(dialog, WindowPlacement::NoMonitorCheck)) << "no window position at all";
        EXPECT_TRUE(SameRect(template_, dialog.WindowRect())) << "beyond the coordinate range";
    }
}

TEST_F(WindowPlacementTest, SavingAnExplicitRectangleAHiddenWindowOrThroughTheSettingsStore)
{
    ToolkitDialog dialog;
    RECT explicitRect = {10, 20, 630, 470};
    ASSERT_EQ(1, dialog.placement.Save(dialog.Window(), key.Root(), key.Path(), L"Main", &explicitRect, 0));
    EXPECT_EQ(L"5,10,20,630,470", Stored());

    // The dialog is still hidden.
    RECT normal = NormalRect(dialog.Window());
    ASSERT_EQ(1, dialog.placement.Save(dialog.Window(), key.Root(), key.Path(), L"Main", nullptr, 0));
    EXPECT_EQ(RectText(0, normal), Stored());
    WINDOWPLACEMENT real = {sizeof real};
    GetWindowPlacement(dialog.Window(), &real);
    ASSERT_EQ(1, dialog.placement.Save(dialog.Window(), key.Root(), key.Path(), L"Main", nullptr,
                                       WindowPlacement::SaveHiddenShowCommand));
    EXPECT_EQ(RectText((int)real.showCmd, normal), Stored());

    SettingsStore store;
    ASSERT_EQ(1, store.Open(SettingsStore::StoreRegistry, key.Root(), key.Path()));
    RECT moved = At(220, 130, Width(normal) + 50, Height(normal) + 20);
    ASSERT_EQ(1, dialog.placement.Save(dialog.Window(), nullptr, nullptr, L"Stored", &moved, 0, &store));
    EXPECT_EQ(RectText(5, moved), Stored(L"Stored"));
    ASSERT_EQ(1, dialog.placement.Load(dialog.Window(), nullptr, nullptr, L"Stored", 0, &store));
    EXPECT_TRUE(SameRect(moved, dialog.WindowRect())) << "through the store";
}

// Whatever the registry holds, the window ends up on a monitor, at least as
// large as its template, not minimised, and both panes keep their minimums.
TEST_F(WindowPlacementTest, ThousandsOfRandomStoredTextsLeaveAUsableWindow)
{
    std::mt19937 random(20240611);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto number = [&]() -> long long {
        switch (pick(0, 7)) {
        case 0: return pick(0, 1) ? 2147483647LL : -2147483648LL;
        case 1: return pick(-5, 20);
        case 2: return pick(-40000, 40000);
        case 3: return (long long)pick(0, 2) * 4294967296LL + pick(0, 1400);
        default: return pick(-200, 1500);
        }
    };
    auto numbers = [&](int count) {
        std::wstring text;
        for (int i = 0; i < count; ++i) {
            if (i)
                text += pick(0, 30) ? L"," : L";";
            text += std::to_wstring(i == 0 && count == 5 && pick(0, 1) ? pick(-3, 14) : number());
        }
        return text;
    };
    auto garbage = [&]() {
        static const wchar_t alphabet[] = L"0123456789,,,-+ x.\t";
        std::wstring text;
        int length = pick(0, 40);
        for (int i = 0; i < length; ++i)
            text += alphabet[pick(0, (int)(sizeof alphabet / sizeof alphabet[0]) - 2)];
        return text;
    };

    ToolkitDialog dialog;
    dialog.Furnish();
    const RECT template_ = dialog.WindowRect();
    WINDOWPLACEMENT initial = {sizeof initial};
    GetWindowPlacement(dialog.Window(), &initial);
    const int panes[] = {IDC_TK_TREE, IDC_TK_DIVIDER, IDC_TK_LIST};
    RECT paneRects[3];
    for (int i = 0; i < 3; ++i)
        paneRects[i] = dialog.ItemRect(panes[i]);

    const int rounds = 2000;
    int applied = 0;
    for (int round = 0; round < rounds; ++round) {
        if (IsIconic(dialog.Window()) || IsZoomed(dialog.Window()))
            ShowWindow(dialog.Window(), SW_RESTORE);
        SetWindowPlacement(dialog.Window(), &initial);
        for (int i = 0; i < 3; ++i)
            MoveWindow(dialog.Item(panes[i]), paneRects[i].left, paneRects[i].top, Width(paneRects[i]),
                       Height(paneRects[i]), FALSE);
        std::wstring main = pick(0, 3) ? numbers(pick(0, 9) ? 5 : pick(0, 8)) : garbage();
        std::wstring divider = pick(0, 3) ? numbers(pick(0, 9) ? 2 : pick(0, 4)) : garbage();
        Store(main);
        Store(divider, L"Splitter");
        applied += Load(dialog);
        dialog.splitter.LoadPosition(key.Root(), key.Path(), L"Splitter");
        ToolkitDialog::Pump();

        std::string texts = "Main \"" + std::string(main.begin(), main.end()) + "\" Splitter \"" +
                            std::string(divider.begin(), divider.end()) + "\"";
        RECT window = dialog.WindowRect(), client;
        GetClientRect(dialog.Window(), &client);
        ASSERT_NE(nullptr, MonitorFromRect(&window, MONITOR_DEFAULTTONULL)) << texts;
        ASSERT_FALSE(IsIconic(dialog.Window())) << texts;
        ASSERT_GE(Width(window), Width(template_)) << texts;
        ASSERT_GE(Height(window), Height(template_)) << texts;
        RECT tree = dialog.ItemRect(IDC_TK_TREE), list = dialog.ItemRect(IDC_TK_LIST);
        ASSERT_GE(Width(tree), 100) << texts;
        ASSERT_GE(Width(list), 100) << texts;
        ASSERT_GT(Height(tree), 0) << texts;
        ASSERT_GT(Height(list), 0) << texts;
        ASSERT_LE(list.right, client.right) << texts;
        ASSERT_LE(list.bottom, client.bottom) << texts;
        ASSERT_EQ(tree.right, dialog.ItemRect(IDC_TK_DIVIDER).left) << texts;
    }
    // The generator must also have produced placements that were applied.
    EXPECT_GT(applied, rounds / 20);
}
