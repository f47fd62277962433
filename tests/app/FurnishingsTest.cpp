#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "app/Clipboard.h"
#include "common/ImportHook.h"
#include "common/LoopbackServer.h"
#include "common/TlsServer.h"
#include "services/RegistryKey.h"

#include <algorithm>

namespace {

// What a test does while a context menu's own loop runs: it looks at the
// menu, then picks a command (or 0 to dismiss the menu).
std::function<UINT()> WhileMenuIsOpen;
HWND MenuOwner = nullptr;

void CALLBACK InsideMenuLoop(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    UINT command = WhileMenuIsOpen ? WhileMenuIsOpen() : 0;
    EndMenu();
    if (command)
        PostMessageW(MenuOwner, WM_COMMAND, command, 0);
}

// Right-clicks a control of the main window as the control reports it.
void RightClick(MainWindow& window, HWND control, std::function<UINT()> inside)
{
    WhileMenuIsOpen = std::move(inside);
    MenuOwner = window.Window();
    SetTimer(window.Window(), 77, 200, InsideMenuLoop);
    NMHDR click = {control, (UINT_PTR)GetDlgCtrlID(control), (UINT)NM_RCLICK};
    SendMessageW(window.Window(), WM_NOTIFY, click.idFrom, (LPARAM)&click);
}

bool Grayed(MainWindow& window, UINT command)
{
    return (window.Menu().ItemState(command, PopupMenu::ByCommand) & MF_GRAYED) != 0;
}

void WriteFlags(const ScopedTestKey& key, const void* data, DWORD size, DWORD type)
{
    RegistryKey settings;
    ASSERT_TRUE(settings.CreateWrite(key.Root(), key.Path()));
    ASSERT_TRUE(settings.WriteBlock(L"Flags", data, size, type));
}

unsigned long long StoredFlags(const ScopedTestKey& key)
{
    RegistryKey settings;
    unsigned long long flags = 0xDEAD;
    if (!settings.OpenRead(key.Root(), key.Path()) || !settings.ReadNumber(L"Flags", &flags))
        return 0xDEAD;
    return flags;
}

} // namespace

TEST_F(MainWindowTest, ListMenuGraysCopyWithoutSelectedRowsAndCopies)
{
    WaitForTree();
    script.Then([&]() {
        HTREEITEM item = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        SelectListRows(List(), {});
        RightClick(window, List(), [&]() {
            EXPECT_STREQ(L"&Copy", window.Menu().ItemText(ID_LIST_COPY, PopupMenu::ByCommand));
            EXPECT_STREQ(L"&Refresh", window.Menu().ItemText(ID_LIST_REFRESH, PopupMenu::ByCommand));
            EXPECT_TRUE(Grayed(window, ID_LIST_COPY));
            EXPECT_FALSE(Grayed(window, ID_LIST_REFRESH));
            return 0u;
        });
        return true;
    });
    script.Wait(300);
    script.Then([&]() {
        Clipboard::SetText(window.Window(), L"untouched");
        SelectListRows(List(), {1});
        RightClick(window, List(), [&]() {
            EXPECT_FALSE(Grayed(window, ID_LIST_COPY)) << "a row is selected";
            return (UINT)ID_LIST_COPY;
        });
        return true;
    });
    script.Then([&]() { return ClipboardText() != L"untouched"; });
    script.Then([&]() {
        std::wstring row = ListCell(List(), 1, 0) + L"\t" + ListCell(List(), 1, 1) + L"\t" +
                           ListCell(List(), 1, 2) + L"\t" + ListCell(List(), 1, 3) + L"\r\n";
        EXPECT_EQ(row, ClipboardText());
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, TreeMenuSelectsTheRightClickedItemAndRefreshes)
{
    HTREEITEM clicked = nullptr;
    WaitForTree();
    script.Then([&]() {
        // No item under the click and none selected: Copy has nothing to copy.
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, 0);
        RightClick(window, Tree(), [&]() {
            EXPECT_STREQ(L"&Copy", window.Menu().ItemText(ID_TREE_COPY, PopupMenu::ByCommand));
            EXPECT_TRUE(Grayed(window, ID_TREE_COPY));
            return 0u;
        });
        return true;
    });
    script.Wait(300);
    script.Then([&]() {
        // The control marks the item under a right click as drop target.
        clicked = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_DROPHILITE, (LPARAM)clicked);
        RightClick(window, Tree(), [&]() {
            EXPECT_FALSE(Grayed(window, ID_TREE_COPY));
            EXPECT_EQ(clicked, (HTREEITEM)SendMessageW(Tree(), TVM_GETNEXTITEM, TVGN_CARET, 0));
            EXPECT_GT(ListCount(List()), 30) << "selecting it filled the list";
            return (UINT)ID_TREE_REFRESH;
        });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_DROPHILITE, 0);
        return true;
    });
    // Refresh rebuilds the tree, which leaves nothing selected and the list empty.
    script.Then([&]() { return ListCount(List()) == 0 && TreeCount(Tree()) > 1; });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, UpdateCheckBoxKeepsTheOtherFlagBits)
{
    const DWORD stored = 0x80000010;
    WriteFlags(settings, &stored, sizeof(stored), REG_DWORD);
    WaitForTree();
    script.Then([&]() {
        EXPECT_EQ(1, window.IsButtonChecked(IDC_AUTO_UPDATE)) << "bit 0 clear: the check is on";
        SendMessageW(window.Item(IDC_AUTO_UPDATE), BM_CLICK, 0, 0);
        EXPECT_EQ(0, window.IsButtonChecked(IDC_AUTO_UPDATE));
        PostMessageW(window.Item(IDC_EXIT), BM_CLICK, 0, 0);
        return true;
    });
    script.UntilTheWindowCloses();
    EXPECT_EQ(1, script.Run());
    EXPECT_EQ(0x80000011u, StoredFlags(settings));

    MainWindow again;
    UseTestSettings(again, settings);
    WindowScript next(again);
    next.Then([&]() {
        EXPECT_EQ(0, again.IsButtonChecked(IDC_AUTO_UPDATE)) << "switched off at the last run";
        return true;
    });
    EXPECT_EQ(42, next.Run());
    EXPECT_EQ(0x80000011u, StoredFlags(settings));
}

TEST_F(MainWindowTest, HostileFlagsLeaveTheCheckOn)
{
    const wchar_t garbage[] = L"\x7777\x0001garbage";
    WriteFlags(settings, garbage, sizeof(garbage), REG_SZ);
    WaitForTree();
    script.Then([&]() {
        EXPECT_EQ(1, window.IsButtonChecked(IDC_AUTO_UPDATE));
        return true;
    });
    EXPECT_EQ(42, script.Run());
    EXPECT_EQ(0u, StoredFlags(settings)) << "written back as a number";
}

TEST_F(MainWindowTest, SizeGripAnswersInTheCornerOfTheWindow)
{
    WaitForTree();
    script.Then([&]() {
        RECT client;
        GetClientRect(window.Window(), &client);
        POINT corner = {client.right - 2, client.bottom - 2};
        POINT middle = {client.right / 2, client.bottom / 2};
        ClientToScreen(window.Window(), &corner);
        ClientToScreen(window.Window(), &middle);
        // Through the dialog's own procedure: the answer is the message result.
        EXPECT_EQ(HTBOTTOMRIGHT, SendMessageW(window.Window(), WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y)));
        EXPECT_NE(HTBOTTOMRIGHT, SendMessageW(window.Window(), WM_NCHITTEST, 0, MAKELPARAM(middle.x, middle.y)));
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

namespace {

RECT ClientRectOf(HWND dialog, HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, (POINT*)&rect, 2);
    return rect;
}

int WidthOf(const RECT& rect)
{
    return rect.right - rect.left;
}

int HeightOf(const RECT& rect)
{
    return rect.bottom - rect.top;
}

void PostMouse(HWND window, UINT message, int x, int y)
{
    // The real cursor goes along, so a move the system reports for it while
    // a control holds the mouse lands where the test points.
    POINT screen = {x, y};
    ClientToScreen(window, &screen);
    SetCursorPos(screen.x, screen.y);
    WPARAM keys = message == WM_LBUTTONUP ? 0 : MK_LBUTTON;
    PostMessageW(window, message, keys, MAKELPARAM((WORD)(short)x, (WORD)(short)y));
}

// Press in the divider, move by `dx`, release there.
void DragDivider(HWND divider, int dx)
{
    RECT rect;
    GetClientRect(divider, &rect);
    int x = rect.right / 2, y = rect.bottom / 2;
    PostMouse(divider, WM_LBUTTONDOWN, x, y);
    PostMouse(divider, WM_MOUSEMOVE, x + dx, y);
    PostMouse(divider, WM_LBUTTONUP, x + dx, y);
}

// The names of the registry values written while it lives, in order.
std::vector<std::wstring>* Written = nullptr;
ImportHook* SetValueHook = nullptr;

LONG WINAPI RecordSetValue(HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size)
{
    if (Written)
        Written->push_back(name ? name : L"");
    typedef LONG(WINAPI * SetValue)(HKEY, const wchar_t*, DWORD, DWORD, const BYTE*, DWORD);
    return ((SetValue)SetValueHook->Original())(key, name, reserved, type, data, size);
}

struct WriteRecorder {
    std::vector<std::wstring> names;
    ImportHook hook{"advapi32.dll", "RegSetValueExW", (const void*)&RecordSetValue};
    WriteRecorder()
    {
        SetValueHook = &hook;
        Written = &names;
    }
    ~WriteRecorder() { Written = nullptr; }
    // The values of interest in the order of their first writes.
    std::vector<std::wstring> Saved() const
    {
        std::vector<std::wstring> order;
        for (const std::wstring& name : names)
            if ((name == L"Main" || name == L"Splitter" || name == L"ListView" || name == L"Flags") &&
                std::find(order.begin(), order.end(), name) == order.end())
                order.push_back(name);
        return order;
    }
};

// What a window remembers between runs, as far as a user can see it.
struct Remembered {
    RECT window;
    int dividerLeft;
    int keyWidth;
};

Remembered Observe(MainWindow& window)
{
    Remembered seen = {};
    GetWindowRect(window.Window(), &seen.window);
    seen.dividerLeft = ClientRectOf(window.Window(), window.Item(IDC_SPLITTER)).left;
    seen.keyWidth = (int)SendMessageW(window.Item(IDC_LIST), LVM_GETCOLUMNWIDTH, 0, 0);
    return seen;
}

} // namespace

TEST_F(MainWindowTest, ClearIconEmptiesTheFilterAndRereadsTheMachine)
{
    int all = 0, locates = 0;
    WaitForTree();
    script.Then([&]() {
        all = TreeCount(Tree());
        TypeInFilter(L"Keyboard");
        EXPECT_LT(TreeCount(Tree()), all);
        locates = SimulatedMachine::Calls("CM_Locate_DevNodeW");
        int icon = -window.FilterBox().IconSize() / 2;
        PostMouse(Filter(), WM_LBUTTONDOWN, icon, 6);
        PostMouse(Filter(), WM_LBUTTONUP, icon, 6);
        return true;
    });
    script.Then([&]() { return GetWindowTextLengthW(Filter()) == 0; });
    script.Then([&]() {
        EXPECT_EQ(locates + 1, SimulatedMachine::Calls("CM_Locate_DevNodeW"));
        EXPECT_EQ(all, TreeCount(Tree()));
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, ResizingAnchorsTheBottomRowAndDraggingMovesTheBoundary)
{
    std::vector<RECT> before;
    const int ids[] = {IDC_EXIT, IDC_FILTER, IDC_AUTO_UPDATE, IDC_LINK, IDC_TREE, IDC_LIST, IDC_SPLITTER};
    WaitForTree();
    script.Then([&]() {
        for (int id : ids)
            before.push_back(ClientRectOf(window.Window(), window.Item(id)));
        RECT rect;
        GetWindowRect(window.Window(), &rect);
        SetWindowPos(window.Window(), nullptr, 0, 0, WidthOf(rect) + 100, HeightOf(rect) + 50,
                     SWP_NOMOVE | SWP_NOZORDER);
        return true;
    });
    script.Then([&]() {
        std::vector<RECT> after;
        for (int id : ids)
            after.push_back(ClientRectOf(window.Window(), window.Item(id)));
        for (int i : {0, 2, 3}) { // Exit, check box, link: the bottom-right corner
            EXPECT_EQ(before[i].left + 100, after[i].left) << ids[i];
            EXPECT_EQ(before[i].top + 50, after[i].top) << ids[i];
            EXPECT_EQ(WidthOf(before[i]), WidthOf(after[i])) << ids[i];
        }
        EXPECT_EQ(before[1].left, after[1].left) << "the filter box stays left";
        EXPECT_EQ(before[1].top + 50, after[1].top);
        EXPECT_EQ(WidthOf(before[1]) + 100, WidthOf(after[1]));
        EXPECT_EQ(WidthOf(before[4]), WidthOf(after[4])) << "the tree keeps its width";
        EXPECT_EQ(HeightOf(before[4]) + 50, HeightOf(after[4]));
        EXPECT_EQ(WidthOf(before[5]) + 100, WidthOf(after[5])) << "the list takes the new width";
        EXPECT_EQ(HeightOf(before[5]) + 50, HeightOf(after[5]));
        EXPECT_EQ(HeightOf(before[6]) + 50, HeightOf(after[6])) << "the divider spans the panes";
        EXPECT_EQ(after[4].right, after[6].left) << "the divider fills the gap";
        EXPECT_EQ(after[6].right, after[5].left);
        before = after;
        DragDivider(window.Item(IDC_SPLITTER), 40);
        return true;
    });
    script.Then([&]() { return !window.Divider().IsDragging(); });
    script.Then([&]() {
        RECT tree = ClientRectOf(window.Window(), Tree());
        RECT list = ClientRectOf(window.Window(), List());
        EXPECT_EQ(WidthOf(before[4]) + 40, WidthOf(tree));
        EXPECT_EQ(before[5].left + 40, list.left);
        EXPECT_EQ(before[5].right, list.right);
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, EveryClosePathSavesInOrderAndTheNextStartComesBack)
{
    struct ClosePath {
        const char* name;
        std::function<void(MainWindow&)> close;
        INT_PTR result;
    };
    const ClosePath paths[] = {
        {"Exit", [](MainWindow& w) { PostMessageW(w.Item(IDC_EXIT), BM_CLICK, 0, 0); }, 1},
        {"Escape", [](MainWindow& w) { PostMessageW(w.Item(IDC_TREE), WM_KEYDOWN, VK_ESCAPE, 0); }, 0},
        {"close box", [](MainWindow& w) { PostMessageW(w.Window(), WM_SYSCOMMAND, SC_CLOSE, 0); }, 0},
    };
    int shift = 0;
    for (const ClosePath& path : paths) {
        SCOPED_TRACE(path.name);
        shift += 30;
        Remembered left = {};
        WriteRecorder recorder;
        {
            MainWindow first;
            UseTestSettings(first, settings);
            WindowScript run(first);
            run.Then([&]() { return TreeCount(first.Item(IDC_TREE)) > 1; });
            run.Then([&]() {
                SetWindowPos(first.Window(), nullptr, 40 + shift, 30 + shift, 900 + shift, 640,
                             SWP_NOZORDER);
                SendMessageW(first.Item(IDC_LIST), LVM_SETCOLUMNWIDTH, 0, 120 + shift);
                DragDivider(first.Item(IDC_SPLITTER), shift);
                return true;
            });
            run.Then([&]() { return !first.Divider().IsDragging(); });
            run.Then([&]() {
                left = Observe(first);
                recorder.names.clear();
                path.close(first);
                return true;
            });
            run.UntilTheWindowCloses();
            EXPECT_EQ(path.result, run.Run());
        }
        EXPECT_EQ((std::vector<std::wstring>{L"Main", L"Splitter", L"ListView", L"Flags"}), recorder.Saved());

        MainWindow second;
        UseTestSettings(second, settings);
        WindowScript next(second);
        Remembered back = {};
        next.Then([&]() { return TreeCount(second.Item(IDC_TREE)) > 1; });
        next.Then([&]() {
            back = Observe(second);
            return true;
        });
        EXPECT_EQ(42, next.Run());
        EXPECT_EQ(left.window.left, back.window.left);
        EXPECT_EQ(left.window.top, back.window.top);
        EXPECT_EQ(left.window.right, back.window.right);
        EXPECT_EQ(left.window.bottom, back.window.bottom);
        EXPECT_EQ(left.dividerLeft, back.dividerLeft);
        EXPECT_EQ(left.keyWidth, back.keyWidth);
    }
}

TEST_F(MainWindowTest, HostileStoredValuesNeverGiveAnUnusableWindow)
{
    SIZE template_ = {};
    {
        MainWindow clean;
        UseTestSettings(clean, settings);
        WindowScript run(clean);
        run.Then([&]() {
            RECT rect;
            GetWindowRect(clean.Window(), &rect);
            template_ = {WidthOf(rect), HeightOf(rect)};
            return true;
        });
        EXPECT_EQ(42, run.Run());
    }
    struct Stored {
        const wchar_t* main;
        const wchar_t* splitter;
    };
    const Stored cases[] = {
        {L"garbage", L"nonsense"},
        {L"3,-32000,-32000,-31000,-31000", L"-5,-5"},
        {L"1,0,0,100000,100000", L"99999,3"},
        {L"2,10,10,20,20", L"0,0"},
        {L"0,5000,5000,6000,6000", L"1,2,3"},
        {L"1,200,100,100,50", L"2147483647,-2147483648"},
        {L"9,1,1,1,1,1", L""},
    };
    const BYTE listView[] = {9, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0,
                             0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0};
    const BYTE flags[] = {0xFF, 0x01, 0x02};
    for (const Stored& stored : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&stored - cases));
        RegistryKey key;
        ASSERT_TRUE(key.CreateWrite(settings.Root(), settings.Path()));
        key.WriteText(L"Main", stored.main);
        key.WriteText(L"Splitter", stored.splitter);
        key.WriteBlock(L"ListView", listView, sizeof(listView));
        key.WriteBlock(L"Flags", flags, sizeof(flags));
        key.Close();

        MainWindow window;
        UseTestSettings(window, settings);
        WindowScript run(window);
        run.Then([&]() { return TreeCount(window.Item(IDC_TREE)) > 1; });
        run.Then([&]() {
            RECT rect;
            GetWindowRect(window.Window(), &rect);
            EXPECT_NE(nullptr, MonitorFromRect(&rect, MONITOR_DEFAULTTONULL)) << "on a monitor";
            EXPECT_GE(WidthOf(rect), template_.cx);
            EXPECT_GE(HeightOf(rect), template_.cy);
            EXPECT_TRUE(IsWindowVisible(window.Window()) && !IsIconic(window.Window()));
            EXPECT_GE(WidthOf(ClientRectOf(window.Window(), window.Item(IDC_TREE))), MainWindow::PaneMinimum);
            EXPECT_GE(WidthOf(ClientRectOf(window.Window(), window.Item(IDC_LIST))), MainWindow::PaneMinimum);
            for (int column = 0; column < 4; ++column) {
                int width = (int)SendMessageW(window.Item(IDC_LIST), LVM_GETCOLUMNWIDTH, column, 0);
                EXPECT_TRUE(width > 0 && width < 10000) << "column " << column;
            }
            EXPECT_EQ(1, window.IsButtonChecked(IDC_AUTO_UPDATE));
            return true;
        });
        EXPECT_EQ(42, run.Run());
    }
}

TEST_F(MainWindowTest, UpdateCheckRunsWhileTheBoxIsCheckedAndNotAfterItWasCleared)
{
    LoopbackServer server;
    server.Script(HttpAnswer(404, ""));
    // The check asks over https only: the loopback server behind a TLS relay.
    const std::wstring endpoint = RelayedUrl(server.Port(), L"/common/update.php?p=quillmere");
    window.UseUpdateEndpoint(endpoint.c_str());
    WaitForTree();
    DWORD treeShown = 0, asked = 0;
    script.Then([&]() {
        treeShown = GetTickCount();
        return true;
    });
    script.Then([&]() { return server.RequestCount() == 1; });
    script.Then([&]() {
        asked = GetTickCount();
        std::string request = server.Requests()[0];
        EXPECT_EQ(0u, request.find("GET /common/update.php?p=quillmere&v=")) << request;
        EXPECT_NE(std::string::npos, request.find("&id=")) << request;
        SendMessageW(window.Item(IDC_AUTO_UPDATE), BM_CLICK, 0, 0);
        PostMessageW(window.Item(IDC_EXIT), BM_CLICK, 0, 0);
        return true;
    });
    script.UntilTheWindowCloses();
    EXPECT_EQ(1, script.Run());
    EXPECT_EQ(1u, StoredFlags(settings) & 1);

    // Due again by its time, but switched off: the next start asks nobody.
    RegistryKey key;
    ASSERT_TRUE(key.CreateWrite(settings.Root(), settings.Path()) && key.WriteNumber(L"LastCheck", 0));
    key.Close();
    MainWindow again;
    UseTestSettings(again, settings);
    again.UseUpdateEndpoint(endpoint.c_str());
    WindowScript next(again);
    next.Then([&]() { return TreeCount(again.Item(IDC_TREE)) > 1; });
    // Several times as long as the first start took to ask.
    next.Wait(std::max<DWORD>(1500, 3 * (asked - treeShown)));
    EXPECT_EQ(42, next.Run());
    EXPECT_EQ(1u, server.RequestCount());
}

// A close that arrives while the first one waits for the update check
// (its wait dispatches messages) is the same close: the window's state is
// saved once, while the window was still shown.
TEST_F(MainWindowTest, ASecondCloseWhileTheFirstWaitsForTheCheckSavesNothingMore)
{
    LoopbackServer server;
    server.Script(LoopbackReply()
                      .Send(HttpHead(200, "Content-Length: 1000\r\n") + "<update>")
                      .Trickle(" ", 30, 1000));
    const std::wstring endpoint = RelayedUrl(server.Port(), L"/common/update.php?p=quillmere");
    window.UseUpdateEndpoint(endpoint.c_str());
    WriteRecorder recorder;
    WaitForTree();
    script.Then([&]() { return server.RequestCount() == 1; });
    script.Then([&]() {
        recorder.names.clear();
        PostMessageW(window.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageW(window.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    });
    script.UntilTheWindowCloses();
    EXPECT_EQ(0, script.Run());
    for (const wchar_t* name : {L"Main", L"Splitter", L"ListView", L"Flags"})
        EXPECT_EQ(1, std::count(recorder.names.begin(), recorder.names.end(), std::wstring(name)))
            << std::string(name, name + wcslen(name));
}

TEST_F(MainWindowTest, TheMakersAddressIsShownWholeBesideTheCheckBox)
{
    WaitForTree();
    script.Then([&]() {
        EXPECT_STREQ(L"www.tollbrook.example", window.Link().Text());
        EXPECT_STREQ(L"https://www.tollbrook.example/", window.Link().Url());
        RECT link = ClientRectOf(window.Window(), window.Item(IDC_LINK));
        RECT box = ClientRectOf(window.Window(), window.Item(IDC_AUTO_UPDATE));
        RECT filter = ClientRectOf(window.Window(), Filter());
        EXPECT_GE(WidthOf(link), window.Link().TextExtent().cx) << "no letter is cut off";
        EXPECT_LE(box.right, link.left + 1) << "the link does not cover the check box";
        EXPECT_LE(filter.right, box.left);
        return true;
    });
    EXPECT_EQ(42, script.Run());
}
