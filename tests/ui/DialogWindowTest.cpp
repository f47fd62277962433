#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "FakeFonts.h"
#include "ui/DarkMode.h"
#include "ui/DialogWindow.h"
#include "ui/uitest.h"

// GCC 12 pairs the class's own operator new and delete below wrongly when
// the constructor's clean-up path is inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

const UINT_PTR ScriptTimer = 501;
const UINT_PTR WatchdogTimer = 502;
const INT_PTR WatchdogResult = -99;
const UINT AppMessage = WM_APP + 1;

// Objects that are alive: a message dispatched to anything else is a
// dispatch into a deleted object.
std::set<const void*> liveDialogs;
int deadDispatches;

// Catches a message on its way to a dialog whose GWLP_USERDATA still names
// a deleted object, before the dialog procedure would call into it.
std::set<LONG_PTR> deletedDialogs;

void CheckTarget(HWND window)
{
    if (window && deletedDialogs.count(GetWindowLongPtrW(window, GWLP_USERDATA)))
        ++deadDispatches;
}

LRESULT CALLBACK WatchSent(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION)
        CheckTarget(((CWPSTRUCT*)lParam)->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK WatchPosted(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE)
        CheckTarget(((MSG*)lParam)->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A dialog that records what reaches its operations and runs a script of
// steps from a timer inside its own modal loop. A watchdog ends a dialog
// that a failing test would leave open.
class TestDialog : public DialogWindow {
public:
    typedef std::function<void(TestDialog&)> Step;

    TestDialog()
    {
        liveDialogs.insert(this);
        deletedDialogs.erase((LONG_PTR)this); // a new object at a reused address
    }
    // Only once every destructor has run is the object gone; while the base
    // destructor closes the window, messages may still reach it.
    static void* operator new(size_t size) { return malloc(size); }
    static void operator delete(void* object)
    {
        deletedDialogs.insert((LONG_PTR)object);
        free(object);
    }
    ~TestDialog() override
    {
        liveDialogs.erase(this);
        if (destroyed)
            *destroyed = true;
    }

    std::vector<std::string> log;
    std::vector<Step> steps;
    Step onInit;
    Step themeOverride;
    int initResult = 1;
    int allowClose = 1;
    INT_PTR okResult = 7;
    bool* destroyed = nullptr;
    HWND dialog = nullptr;
    LONG_PTR userData = 0;
    int themeCalls = 0;
    int erasures = 0;
    // Set by a step: the next step waits until this holds.
    std::function<bool(TestDialog&)> holdUntil;

    using DialogWindow::SetOptionBits;

    int OnInitDialog() override
    {
        Note("init");
        dialog = Window();
        userData = GetWindowLongPtrW(dialog, GWLP_USERDATA);
        SetTimer(dialog, ScriptTimer, 30, nullptr);
        SetTimer(dialog, WatchdogTimer, 20000, nullptr);
        // The dialog manager shows the dialog at its first idle moment, which
        // a busy machine lets the steps' timer come before: the steps begin
        // once it is shown (a test of a hidden start waits otherwise).
        holdUntil = [](TestDialog& t) { return IsWindowVisible(t.dialog) != 0; };
        if (onInit)
            onInit(*this);
        return initResult;
    }
    int CanClose(INT_PTR result) override
    {
        Note("canclose " + std::to_string(result));
        return allowClose;
    }
    int OnCommand(int id, WPARAM wParam, LPARAM lParam) override
    {
        Note("command " + std::to_string(id));
        if (id == IDOK) {
            Close(okResult);
            return 1;
        }
        return DialogWindow::OnCommand(id, wParam, lParam);
    }
    int OnClose() override
    {
        Note("close");
        return DialogWindow::OnClose();
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        CheckAlive();
        if (message == WM_TIMER && wParam == ScriptTimer)
            return RunNextStep(); // may have deleted this object
        if (message == WM_TIMER && wParam == WatchdogTimer) {
            EndDialog(dialog, WatchdogResult);
            return 1;
        }
        if (message == WM_DESTROY)
            Note("message destroy " + std::to_string(wParam) + " " + std::to_string(lParam));
        if (message == AppMessage)
            Note("app " + std::to_string(wParam) + " " + std::to_string(lParam));
        if (message == WM_ERASEBKGND)
            ++erasures;
        return DialogWindow::OnMessage(message, wParam, lParam);
    }
    int OnDestroy() override
    {
        Note("destroy");
        return DialogWindow::OnDestroy();
    }
    void ApplyTheme() override
    {
        Note("theme");
        ++themeCalls;
        if (themeOverride)
            themeOverride(*this);
        else
            DialogWindow::ApplyTheme();
    }

    INT_PTR Run(int templateId = IDD_EXTENDED, DWORD options = 0)
    {
        nextStep_ = 0;
        return DialogWindow::Run(GetModuleHandleW(nullptr), templateId, options, nullptr);
    }

private:
    void Note(const std::string& entry)
    {
        CheckAlive();
        log.push_back(entry);
    }
    void CheckAlive() const
    {
        if (!liveDialogs.count(this))
            ++deadDispatches;
    }
    INT_PTR RunNextStep()
    {
        if (holdUntil && !holdUntil(*this))
            return 1;
        holdUntil = nullptr;
        if (nextStep_ >= steps.size())
            return 1;
        Step step = steps[nextStep_++];
        step(*this); // the last thing done: a step may delete the dialog
        return 1;
    }

    size_t nextStep_ = 0;
};

bool Contains(const std::vector<std::string>& log, const std::string& entry)
{
    for (const std::string& e : log) {
        if (e == entry)
            return true;
    }
    return false;
}

void Post(TestDialog& t, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    PostMessageW(t.dialog, message, wParam, lParam);
}

SIZE WindowSize(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

void Resize(HWND window, int cx, int cy, UINT extra = 0)
{
    SetWindowPos(window, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | extra);
}

class DialogWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        deadDispatches = 0;
        deletedDialogs.clear();
        DWORD thread = GetCurrentThreadId();
        sent_ = SetWindowsHookExW(WH_CALLWNDPROC, &WatchSent, nullptr, thread);
        posted_ = SetWindowsHookExW(WH_GETMESSAGE, &WatchPosted, nullptr, thread);
    }
    void TearDown() override
    {
        UnhookWindowsHookEx(sent_);
        UnhookWindowsHookEx(posted_);
        EXPECT_EQ(0, deadDispatches);
    }

private:
    HHOOK sent_ = nullptr;
    HHOOK posted_ = nullptr;
};

TEST_F(DialogWindowTest, MessagesReachTheirOperationsAndTheDialogCanRunAgain)
{
    TestDialog d;
    d.steps = {
        [](TestDialog& t) { Post(t, WM_COMMAND, MAKEWPARAM(1234, BN_CLICKED)); },
        [](TestDialog& t) { Post(t, AppMessage, 5, 6); },
        [](TestDialog& t) { Post(t, WM_COMMAND, IDOK); },
    };
    EXPECT_EQ(7, d.Run());
    EXPECT_EQ(nullptr, d.Window());
    EXPECT_EQ((LONG_PTR)&d, d.userData);
    std::vector<std::string> expected = {"theme",      "init",        "command 1234", "app 5 6",
                                         "command 1",  "canclose 7",  "destroy",      "message destroy 0 0"};
    EXPECT_EQ(expected, d.log);

    d.log.clear();
    d.okResult = 3;
    EXPECT_EQ(3, d.Run());
    EXPECT_EQ(expected.size(), d.log.size());
    EXPECT_EQ("canclose 3", d.log[5]);
}

TEST_F(DialogWindowTest, CanCloseReturningZeroKeepsTheDialogOpen)
{
    TestDialog d;
    d.allowClose = 0;
    std::vector<bool> open;
    auto stillOpen = [&open](TestDialog& t) {
        open.push_back(t.Window() == t.dialog && IsWindow(t.dialog) && IsWindowVisible(t.dialog));
    };
    d.steps = {
        [](TestDialog& t) { Post(t, WM_CLOSE); },
        [&](TestDialog& t) { stillOpen(t), Post(t, WM_COMMAND, IDCANCEL); },
        // Escape goes through the dialog manager, which turns it into IDCANCEL.
        [&](TestDialog& t) { stillOpen(t), PostMessageW(t.Item(IDOK), WM_KEYDOWN, VK_ESCAPE, 0x00010001); },
        [&](TestDialog& t) { stillOpen(t), t.allowClose = 1, Post(t, WM_CLOSE); },
    };
    EXPECT_EQ(0, d.Run());
    EXPECT_EQ(std::vector<bool>({true, true, true}), open);
    std::vector<std::string> expected = {"theme",      "init",      "close",      "canclose 0",
                                         "command 2",  "canclose 0", "command 2", "canclose 0",
                                         "close",      "canclose 0", "destroy",   "message destroy 0 0"};
    EXPECT_EQ(expected, d.log);
}

TEST_F(DialogWindowTest, OnInitDialogReturningZeroEndsTheDialogWithMinusOne)
{
    TestDialog d;
    d.initResult = 0;
    d.steps = {[](TestDialog& t) { Post(t, WM_COMMAND, IDOK); }};
    EXPECT_EQ(-1, d.Run());
    EXPECT_TRUE(Contains(d.log, "canclose -1"));
    EXPECT_FALSE(Contains(d.log, "command 1"));
}

TEST_F(DialogWindowTest, OnInitDialogReturningTwoKeepsTheFocusItSet)
{
    HWND focused[2] = {}, check[2] = {};
    for (int i = 0; i < 2; ++i) {
        TestDialog d;
        d.initResult = i == 0 ? 2 : 1;
        d.onInit = [](TestDialog& t) { SetFocus(t.Item(IDC_CHECK)); };
        d.steps = {[&, i](TestDialog& t) {
            focused[i] = GetFocus();
            check[i] = t.Item(IDC_CHECK);
            Post(t, WM_COMMAND, IDOK);
        }};
        EXPECT_EQ(7, d.Run());
    }
    EXPECT_EQ(check[0], focused[0]);
    EXPECT_NE(check[1], focused[1]); // TRUE lets the dialog manager choose
}

// The face and height of the font the live dialog got.
LOGFONTW DialogFont(TestDialog& t)
{
    LOGFONTW font = {};
    HFONT handle = (HFONT)SendMessageW(t.dialog, WM_GETFONT, 0, 0);
    if (handle)
        GetObjectW(handle, sizeof font, &font);
    return font;
}

TEST_F(DialogWindowTest, TheLiveDialogGetsTheRewrittenFont)
{
    FakeFonts fonts; // Segoe UI, 9 points at 96 DPI
    DialogFontPlatform platform = fonts.Platform();
    struct Case {
        int templateId;
        DWORD options;
        const wchar_t* face;
        int points;
    } cases[] = {{IDD_EXTENDED, 0, L"Segoe UI", 9},
                 {IDD_CLASSIC, 0, L"Segoe UI", 9},
                 {IDD_EXTENDED, DialogWindow::ShellDlg2Font, L"MS Shell Dlg 2", 8}};
    HDC screen = GetDC(nullptr);
    int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    for (const Case& c : cases) {
        TestDialog d;
        d.UseFontPlatform(platform);
        LOGFONTW font = {};
        d.steps = {[&font](TestDialog& t) { font = DialogFont(t), Post(t, WM_COMMAND, IDOK); }};
        EXPECT_EQ(7, d.Run(c.templateId, c.options));
        EXPECT_STREQ(c.face, font.lfFaceName);
        EXPECT_EQ(-MulDiv(c.points, pixelsPerInch, 72), font.lfHeight);
    }
}

TEST_F(DialogWindowTest, TemplatesTheRewriteLeavesAloneRunFromTheResource)
{
    // No DS_SETFONT: the dialog uses the system font, no font of its own.
    TestDialog plain;
    HFONT font = (HFONT)1;
    plain.steps = {[&font](TestDialog& t) {
        font = (HFONT)SendMessageW(t.dialog, WM_GETFONT, 0, 0);
        Post(t, WM_COMMAND, IDOK);
    }};
    EXPECT_EQ(7, plain.Run(IDD_NO_FONT));
    EXPECT_EQ(nullptr, font);

    // The system's own message font decides; on a system whose message
    // face is none of the modern ones, the template's face stays.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0);
    const wchar_t* modern[] = {L"MS Sans Serif", L"Tahoma", L"Segoe UI", L"Microsoft YaHei UI",
                               L"Microsoft JhengHei UI"};
    bool replaced = false;
    for (const wchar_t* face : modern)
        replaced = replaced || wcscmp(face, metrics.lfMessageFont.lfFaceName) == 0;
    TestDialog system;
    LOGFONTW live = {};
    system.steps = {[&live](TestDialog& t) { live = DialogFont(t), Post(t, WM_COMMAND, IDOK); }};
    EXPECT_EQ(7, system.Run(IDD_EXTENDED));
    if (!replaced) {
        EXPECT_STREQ(L"MS Shell Dlg", live.lfFaceName);
    }
}

TEST_F(DialogWindowTest, AMissingTemplateRunsNothing)
{
    TestDialog d;
    EXPECT_EQ(-1, d.Run(9999));
    EXPECT_TRUE(d.log.empty());
}

TEST_F(DialogWindowTest, DeleteOnCloseDeletesTheObjectAndNothingReachesItAfterwards)
{
    bool destroyed = false;
    TestDialog* d = new TestDialog;
    d->destroyed = &destroyed;
    d->steps = {[](TestDialog& t) { Post(t, AppMessage), Post(t, WM_COMMAND, IDOK), Post(t, AppMessage); }};
    EXPECT_EQ(7, d->Run(IDD_EXTENDED, DialogWindow::DeleteOnClose));
    EXPECT_TRUE(destroyed);
}

TEST_F(DialogWindowTest, DeletingTheObjectWhileItsDialogRunsEndsTheDialog)
{
    bool destroyed = false;
    TestDialog* d = new TestDialog;
    d->destroyed = &destroyed;
    d->steps = {[](TestDialog& t) { Post(t, AppMessage), delete &t; }};
    EXPECT_EQ(0, d->Run());
    EXPECT_TRUE(destroyed);
}

TEST_F(DialogWindowTest, StartHiddenSuppressesTheFirstShowOnly)
{
    TestDialog d;
    std::vector<bool> visible;
    DWORD options = 0xFFFF;
    // The steps wait for the first show, which is suppressed.
    d.onInit = [](TestDialog& t) {
        t.holdUntil = [](TestDialog& t) { return !(t.Options() & DialogWindow::StartHidden); };
    };
    d.steps = {
        [&](TestDialog& t) {
            visible.push_back(IsWindowVisible(t.dialog) != 0);
            options = t.Options();
            t.Show(SW_SHOW);
        },
        [&](TestDialog& t) { visible.push_back(IsWindowVisible(t.dialog) != 0), Post(t, WM_COMMAND, IDOK); },
    };
    EXPECT_EQ(7, d.Run(IDD_EXTENDED, DialogWindow::StartHidden));
    EXPECT_EQ(std::vector<bool>({false, true}), visible);
    EXPECT_EQ(0u, options & DialogWindow::StartHidden);
}

UINT fakeDpi = 96;
UINT WINAPI FakeDpiForWindow(HWND)
{
    return fakeDpi;
}

TEST_F(DialogWindowTest, TheMinimumSizeFollowsDpiChanges)
{
    OptionalApiTable table = {};
    table.GetDpiForWindow = &FakeDpiForWindow;
    OptionalApi api(table);
    fakeDpi = 96;
    TestDialog d;
    d.UseOptionalApi(api);
    d.onInit = [](TestDialog& t) { t.SetMinimumSize(300, 200, WindowBase::Pixels96); };
    std::vector<SIZE> sizes;
    int minimumAt192 = 0;
    RECT expectedUnits = {0, 0, 100, 50};
    d.steps = {
        [&](TestDialog& t) { Resize(t.dialog, 10, 10), sizes.push_back(WindowSize(t.dialog)); },
        [&](TestDialog& t) {
            // Moved to a 192-DPI monitor: the first change of size is left alone.
            fakeDpi = 192;
            Resize(t.dialog, 10, 10);
            sizes.push_back(WindowSize(t.dialog));
        },
        [&](TestDialog& t) {
            RECT rect;
            GetWindowRect(t.dialog, &rect);
            SendMessageW(t.dialog, WM_DPICHANGED, MAKEWPARAM(192, 192), (LPARAM)&rect);
            minimumAt192 = t.MinimumWidth();
            Resize(t.dialog, 10, 10);
            sizes.push_back(WindowSize(t.dialog));
        },
        [&](TestDialog& t) {
            t.SetMinimumSize(100, 50, WindowBase::DialogUnits);
            MapDialogRect(t.dialog, &expectedUnits);
            AdjustWindowRectEx(&expectedUnits, (DWORD)GetWindowLongPtrW(t.dialog, GWL_STYLE), FALSE,
                               (DWORD)GetWindowLongPtrW(t.dialog, GWL_EXSTYLE));
            Resize(t.dialog, 10, 10);
            sizes.push_back(WindowSize(t.dialog));
        },
        [&](TestDialog& t) {
            SetWindowPos(t.dialog, nullptr, 20, 20, 10, 10, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            sizes.push_back(WindowSize(t.dialog));
            Post(t, WM_COMMAND, IDOK);
        },
    };
    EXPECT_EQ(7, d.Run());
    ASSERT_EQ(5u, sizes.size());
    EXPECT_EQ(300, sizes[0].cx);
    EXPECT_EQ(200, sizes[0].cy);
    EXPECT_EQ(10, sizes[1].cx);
    EXPECT_EQ(10, sizes[1].cy);
    EXPECT_EQ(600, minimumAt192);
    EXPECT_EQ(600, sizes[2].cx);
    EXPECT_EQ(400, sizes[2].cy);
    EXPECT_EQ(expectedUnits.right - expectedUnits.left, sizes[3].cx);
    EXPECT_EQ(expectedUnits.bottom - expectedUnits.top, sizes[3].cy);
    EXPECT_EQ(sizes[3].cx, sizes[4].cx);
}

int IconWidth(HICON icon)
{
    ICONINFO info;
    if (!GetIconInfo(icon, &info))
        return -1;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST(WindowBase, StandardIconSizes)
{
    EXPECT_EQ(16, WindowBase::StandardIconSize(16));
    EXPECT_EQ(32, WindowBase::StandardIconSize(17));
    EXPECT_EQ(32, WindowBase::StandardIconSize(32));
    EXPECT_EQ(48, WindowBase::StandardIconSize(33));
    EXPECT_EQ(48, WindowBase::StandardIconSize(48));
    EXPECT_EQ(256, WindowBase::StandardIconSize(49));
}

TEST_F(DialogWindowTest, SetIconLoadsBothSizesAndDestroysTheIconsItReplaces)
{
    OptionalApiTable empty = {};
    OptionalApi withoutLoadIconMetric(empty);
    for (int round = 0; round < 2; ++round) {
        TestDialog d;
        if (round == 1)
            d.UseOptionalApi(withoutLoadIconMetric);
        HICON first[2] = {}, second[2] = {}, afterMissing[2] = {};
        int results[3] = {};
        d.steps = {[&](TestDialog& t) {
            results[0] = t.SetIcon(IDI_TEST);
            first[0] = (HICON)SendMessageW(t.dialog, WM_GETICON, ICON_SMALL, 0);
            first[1] = (HICON)SendMessageW(t.dialog, WM_GETICON, ICON_BIG, 0);
            results[1] = t.SetIcon(IDI_TEST);
            second[0] = (HICON)SendMessageW(t.dialog, WM_GETICON, ICON_SMALL, 0);
            second[1] = (HICON)SendMessageW(t.dialog, WM_GETICON, ICON_BIG, 0);
            results[2] = t.SetIcon(9999);
            afterMissing[0] = (HICON)SendMessageW(t.dialog, WM_GETICON, ICON_SMALL, 0);
            afterMissing[1] = (HICON)SendMessageW(t.dialog, WM_GETICON, ICON_BIG, 0);
            EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), IconWidth(second[0]));
            EXPECT_EQ(WindowBase::StandardIconSize(GetSystemMetrics(SM_CXICON)), IconWidth(second[1]));
            EXPECT_EQ(-1, IconWidth(first[0])); // destroyed when replaced
            EXPECT_EQ(-1, IconWidth(first[1]));
            Post(t, WM_COMMAND, IDOK);
        }};
        EXPECT_EQ(7, d.Run());
        EXPECT_EQ(1, results[0]);
        EXPECT_EQ(1, results[1]);
        EXPECT_EQ(0, results[2]);
        EXPECT_NE(nullptr, first[0]);
        EXPECT_NE(first[0], second[0]);
        EXPECT_EQ(second[0], afterMissing[0]); // a missing icon keeps the current one
        EXPECT_EQ(second[1], afterMissing[1]);
    }
}

TEST_F(DialogWindowTest, ThinWrappersReachTheControls)
{
    TestDialog d;
    d.steps = {[](TestDialog& t) {
        std::wstring longText(1000, L'q');
        EXPECT_TRUE(t.SetItemText(IDC_TEXT, longText.c_str()));
        WideString text;
        EXPECT_TRUE(t.GetItemText(IDC_TEXT, text));
        EXPECT_EQ(longText, text.Text());
        EXPECT_FALSE(t.GetItemText(4711, text));
        EXPECT_EQ(GetDlgItem(t.dialog, IDC_CHECK), t.Item(IDC_CHECK));
        EXPECT_TRUE(t.CheckButton(IDC_CHECK, 1));
        EXPECT_EQ(1, t.IsButtonChecked(IDC_CHECK));
        t.CheckButton(IDC_CHECK, 2); // only 1 means checked
        EXPECT_EQ(0, t.IsButtonChecked(IDC_CHECK));
        t.SendItemMessage(IDC_TEXT, EM_SETLIMITTEXT, 12, 0);
        EXPECT_EQ(12, t.SendItemMessage(IDC_TEXT, EM_GETLIMITTEXT, 0, 0));
        EXPECT_TRUE(t.SetCaption(L"Renamed"));
        wchar_t caption[32];
        GetWindowTextW(t.dialog, caption, 32);
        EXPECT_STREQ(L"Renamed", caption);
        t.SetWaitCursor(1);
        EXPECT_EQ(LoadCursorW(nullptr, IDC_WAIT), GetCursor());
        t.SetWaitCursor(0);
        EXPECT_EQ(LoadCursorW(nullptr, IDC_ARROW), GetCursor());
        // A modal dialog is first shown when its loop goes idle, which a
        // loaded machine may not have reached yet.
        ShowWindow(t.dialog, SW_SHOWNA);
        EXPECT_TRUE(t.Show(SW_HIDE));   // it was visible
        EXPECT_FALSE(t.Show(SW_HIDE));  // now it was not
        Post(t, WM_COMMAND, IDOK);
    }};
    EXPECT_EQ(7, d.Run());
}

// Paints the dialog's background into a bitmap and reads one pixel back.
COLORREF ErasedColour(HWND dialog, LRESULT* result)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 64, 64);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 64, 64};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    *result = SendMessageW(dialog, WM_ERASEBKGND, (WPARAM)dc, 0);
    COLORREF colour = GetPixel(dc, 10, 10);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return colour;
}

TEST_F(DialogWindowTest, DarkModeColoursTheBackgroundAndStaticControls)
{
    TestDialog d;
    d.themeOverride = [](TestDialog& t) { t.SetOptionBits(DialogWindow::DarkModeActive, true); };
    d.steps = {[](TestDialog& t) {
        LRESULT erased = 0;
        EXPECT_EQ(DarkBackground, ErasedColour(t.dialog, &erased));
        EXPECT_NE(0, erased);
        HDC dc = CreateCompatibleDC(nullptr);
        LRESULT brush = SendMessageW(t.dialog, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)t.Item(IDC_LABEL));
        EXPECT_EQ((LRESULT)GetStockObject(DC_BRUSH), brush);
        EXPECT_EQ(DarkText, GetTextColor(dc));
        EXPECT_EQ(DarkBackground, GetBkColor(dc));
        EXPECT_EQ(DarkBackground, GetDCBrushColor(dc));

        t.SetOptionBits(DialogWindow::DarkModeActive, false);
        EXPECT_NE(DarkBackground, ErasedColour(t.dialog, &erased));
        brush = SendMessageW(t.dialog, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)t.Item(IDC_LABEL));
        EXPECT_NE((LRESULT)GetStockObject(DC_BRUSH), brush);
        DeleteDC(dc);
        Post(t, WM_COMMAND, IDOK);
    }};
    EXPECT_EQ(7, d.Run());
}

TEST_F(DialogWindowTest, TheThemeBroadcastReappliesTheThemeAndRedrawsOnlyOnAChange)
{
    TestDialog d;
    bool flip = false;
    d.themeOverride = [&flip](TestDialog& t) {
        if (flip)
            t.SetOptionBits(DialogWindow::DarkModeActive, !(t.Options() & DialogWindow::DarkModeActive));
    };
    int themeCalls[4] = {}, erasures[4] = {};
    auto broadcast = [](TestDialog& t, const wchar_t* area) {
        SendMessageW(t.dialog, WM_SETTINGCHANGE, 0, (LPARAM)area);
    };
    auto settle = [](TestDialog& t) {
        UpdateWindow(t.dialog); // paint what is pending now, not during the next step
    };
    // The theme is applied from a timer of the dialog's own, named after it:
    // KillTimer says whether a broadcast started one.
    auto timerStarted = [](TestDialog& t) {
        return KillTimer(t.dialog, (UINT_PTR)static_cast<DialogWindow*>(&t)) != 0;
    };
    auto themeApplied = [](int calls) {
        return [calls](TestDialog& t) { return t.themeCalls > calls; };
    };
    d.steps = {
        [&](TestDialog& t) {
            settle(t);
            themeCalls[0] = t.themeCalls, erasures[0] = t.erasures;
            broadcast(t, L"Policy");
            broadcast(t, nullptr);
            EXPECT_FALSE(timerStarted(t)) << "\"Policy\" and no text start no timer";
            themeCalls[1] = t.themeCalls, erasures[1] = t.erasures;
            broadcast(t, L"ImmersiveColorSet"); // the wanted state stays as it is
            t.holdUntil = themeApplied(themeCalls[1]);
        },
        [&](TestDialog& t) {
            settle(t);
            themeCalls[2] = t.themeCalls, erasures[2] = t.erasures;
            flip = true;
            broadcast(t, L"ImmersiveColorSet");
            t.holdUntil = themeApplied(themeCalls[2]);
        },
        [&](TestDialog& t) {
            settle(t);
            themeCalls[3] = t.themeCalls, erasures[3] = t.erasures;
            Post(t, WM_COMMAND, IDOK);
        },
    };
    EXPECT_EQ(7, d.Run());
    EXPECT_EQ(themeCalls[0], themeCalls[1]);
    EXPECT_EQ(themeCalls[1] + 1, themeCalls[2]);
    EXPECT_EQ(erasures[1], erasures[2]); // no change, no redraw
    EXPECT_EQ(themeCalls[2] + 1, themeCalls[3]);
    EXPECT_GT(erasures[3], erasures[2]); // the dark bit changed: redrawn
}

std::vector<std::pair<DWORD, DWORD>> dwmCalls;
int preferenceCalls;
HRESULT WINAPI RecordDwm(HWND, DWORD attribute, const void* value, DWORD)
{
    dwmCalls.push_back({attribute, *(const DWORD*)value});
    return S_OK;
}
int WINAPI RecordPreference(int)
{
    ++preferenceCalls;
    return 0;
}
int WINAPI AppsUseDark()
{
    return 1;
}

TEST_F(DialogWindowTest, ApplyThemeFollowsTheSystemOnlyWhenAsked)
{
    OptionalApiTable table = {};
    table.DwmSetWindowAttribute = &RecordDwm;
    table.SetPreferredAppMode = &RecordPreference;
    table.ShouldAppsUseDarkMode = &AppsUseDark;
    OptionalApi api(table);
    int windows10 = 0;
    DWORD build = 0;
    RunningWindows10Build(&windows10, &build);
    bool dark = DarkModeWantedOn(windows10, build, 1) != 0;

    for (DWORD options : {0ul, (unsigned long)DialogWindow::FollowDarkMode}) {
        dwmCalls.clear();
        preferenceCalls = 0;
        TestDialog d;
        d.UseOptionalApi(api);
        DWORD seen = 0;
        d.steps = {[&seen](TestDialog& t) { seen = t.Options(), Post(t, WM_COMMAND, IDOK); }};
        EXPECT_EQ(7, d.Run(IDD_EXTENDED, options));
        if (!options) {
            EXPECT_TRUE(dwmCalls.empty());
            EXPECT_EQ(0, preferenceCalls);
            continue;
        }
        EXPECT_EQ(dark, (seen & DialogWindow::DarkModeActive) != 0);
        EXPECT_EQ(DarkModePreferenceAllowedOn(windows10, build), preferenceCalls);
        ASSERT_FALSE(dwmCalls.empty()); // no "ColorPrevalence" in the test prefix
        EXPECT_EQ(20u, dwmCalls[0].first);
        EXPECT_EQ(dark ? 1u : 0u, dwmCalls[0].second);
    }
}

TEST_F(DialogWindowTest, ModelessDialogsAreDestroyedByClose)
{
    TestDialog d;
    HWND window = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_EXTENDED), nullptr,
                                     &DialogWindow::DialogProcedure, (LPARAM)&d);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(window, d.Window());
    d.SetOptionBits(DialogWindow::Modeless, true);
    d.Close(4);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, d.Window());
    EXPECT_TRUE(Contains(d.log, "canclose 4"));
    EXPECT_TRUE(Contains(d.log, "destroy"));

    // Without a window there is nothing to close and nobody is asked.
    d.log.clear();
    d.Close(5);
    EXPECT_TRUE(d.log.empty());
}

TEST_F(DialogWindowTest, DestroyingTheObjectClosesItsWindow)
{
    TestDialog* d = new TestDialog;
    HWND window = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_EXTENDED), nullptr,
                                     &DialogWindow::DialogProcedure, (LPARAM)d);
    ASSERT_NE(nullptr, window);
    d->SetOptionBits(DialogWindow::Modeless, true);
    delete d;
    EXPECT_FALSE(IsWindow(window));
}

} // namespace
