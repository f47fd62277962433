#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "app/Clipboard.h"
#include "properties/PropertyList.h"
#include "resources/resource.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

TEST_F(MainWindowTest, ShowsTheWholeMachineExpandedUnderRoot)
{
    int devnodes = 0;
    WaitForTree();
    script.Then([&]() {
        HTREEITEM root = (HTREEITEM)SendMessageW(Tree(), TVM_GETNEXTITEM, TVGN_ROOT, 0);
        EXPECT_EQ(L"Root", TreeText(Tree(), root));
        EXPECT_EQ(nullptr, (HTREEITEM)SendMessageW(Tree(), TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)root));
        WalkTree(Tree(), root, [&](HTREEITEM item) {
            ++devnodes;
            TVITEMW request = {};
            request.mask = TVIF_STATE | TVIF_CHILDREN;
            request.hItem = item;
            request.stateMask = TVIS_EXPANDED;
            SendMessageW(Tree(), TVM_GETITEMW, 0, (LPARAM)&request);
            if (request.cChildren) {
                EXPECT_TRUE(request.state & TVIS_EXPANDED);
            }
            return true;
        });
        EXPECT_EQ(nullptr, (HTREEITEM)SendMessageW(Tree(), TVM_GETNEXTITEM, TVGN_CARET, 0));
        EXPECT_EQ(0, ListCount(List()));
        WideString caption;
        GetWindowTextW(window.Window(), caption.Buffer(), caption.Capacity() - 1);
        caption.Recompute();
        // The tests' builds accept updates signed with a key whose private
        // half anyone can read, and say so.
        EXPECT_STREQ(L"Quillmere [1.00] (test build)", caption.Text());
        return true;
    });
    EXPECT_EQ(42, script.Run());
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(78, devnodes) << "the default machine has 78 devnodes";
}

TEST_F(MainWindowTest, SelectingADeviceFillsTheListInItsGroups)
{
    WaitForTree();
    script.Then([&]() {
        HTREEITEM ethernet = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        EXPECT_NE(nullptr, ethernet);
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)ethernet);
        return true;
    });
    script.Then([&]() {
        int rows = ListCount(List());
        EXPECT_GT(rows, 30);
        std::vector<std::wstring> keys;
        for (int i = 0; i < rows; ++i)
            keys.push_back(ListCell(List(), i, 0));
        for (const wchar_t* key : {L"DevInstance", L"Device Id", L"Status", L"CM_DRP_DEVICEDESC",
                                   L"CM_DRP_CLASSGUID"})
            EXPECT_NE(keys.end(), std::find(keys.begin(), keys.end(), key)) << "missing a row";
        for (int i = 0; i < rows; ++i) {
            if (keys[i] == L"DevInstance") {
                EXPECT_EQ(L"0x2B", ListCell(List(), i, 2));
            }
            if (keys[i] == L"CM_DRP_CLASSGUID") {
                EXPECT_EQ(L"Net", ListCell(List(), i, 3));
            }
        }
        // Wine's list view refuses group view and so keeps no group ids;
        // where the control accepts groups, every row must carry its own.
        if (!(window.List().Flags() & ListViewControl::GroupViewAccepted))
            return true;
        bool sawGroup[9] = {};
        for (int i = 0; i < rows; ++i) {
            int group = ListGroup(List(), i);
            EXPECT_TRUE(group >= 1 && group <= 8) << "row " << i;
            if (group < 1 || group > 8)
                continue;
            sawGroup[group] = true;
            if (ListCell(List(), i, 0) == L"DevInstance") {
                EXPECT_EQ(GroupMiscellaneous, group);
                EXPECT_EQ(L"0x2B", ListCell(List(), i, 2));
            }
            if (ListCell(List(), i, 0) == L"CM_DRP_CLASSGUID") {
                EXPECT_EQ(GroupRegistryProperties, group);
                EXPECT_EQ(L"Net", ListCell(List(), i, 3));
            }
        }
        for (int g : {GroupMiscellaneous, GroupRegistryProperties, GroupDeviceProperties,
                      GroupDriverRegistry})
            EXPECT_TRUE(sawGroup[g]) << "group " << g;
        return true;
    });
    // tools/screenshot.sh photographs the window at this point.
    wchar_t hold[16] = {};
    if (GetEnvironmentVariableW(L"QUILL_SCREENSHOT_HOLD", hold, 16))
        script.Wait((DWORD)_wtoi(hold));
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, FilteringAtEveryKeystrokeAndEmptyingRereads)
{
    int all = 0, locates = 0;
    std::vector<int> counts;
    std::unique_ptr<SentMessageCounter> insertions;
    WaitForTree();
    script.Then([&]() {
        all = TreeCount(Tree());
        locates = SimulatedMachine::Calls("CM_Locate_DevNodeW");
        for (const wchar_t* step : {L"U", L"S", L"B"}) {
            TypeInFilter(step);
            counts.push_back(TreeCount(Tree()));
        }
        EXPECT_EQ(locates, SimulatedMachine::Calls("CM_Locate_DevNodeW"));
        EXPECT_LT(counts.back(), all);
        EXPECT_GE(counts[0], counts[1]);
        EXPECT_GE(counts[1], counts[2]);
        EXPECT_GT(counts.back(), 1);
        // F5 with a filter only filters again: the tree is filled anew
        // without reading the machine.
        insertions.reset(new SentMessageCounter(Tree(), TVM_INSERTITEMW));
        SendMessageW(Tree(), WM_KEYDOWN, VK_F5, 0);
        return true;
    });
    script.Then([&]() { return insertions->Count() >= counts.back(); });
    script.Then([&]() {
        EXPECT_EQ(locates, SimulatedMachine::Calls("CM_Locate_DevNodeW"));
        EXPECT_EQ(counts.back(), TreeCount(Tree()));
        SetWindowTextW(Filter(), L"");
        EXPECT_EQ(locates + 1, SimulatedMachine::Calls("CM_Locate_DevNodeW"));
        EXPECT_EQ(all, TreeCount(Tree()));
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

namespace {

// When each refresh read the machine: a stand-in put into the window's own
// device binding notes the time of every root lookup and passes it on.
FARPROC BoundLocate = nullptr;
std::vector<DWORD> LocateTimes;

CONFIGRET WINAPI NotedLocate(PDEVINST root, DEVINSTID_W id, ULONG flags)
{
    LocateTimes.push_back(GetTickCount());
    return ((CONFIGRET(WINAPI*)(PDEVINST, DEVINSTID_W, ULONG))BoundLocate)(root, id, flags);
}

} // namespace

TEST_F(MainWindowTest, ABurstOfDeviceChangesGivesOneRefreshAfterTheLast)
{
    DWORD lastBroadcast = 0;
    DWORD quietUntil = 0;
    int sent = 0;
    DeviceApi& api = window.Model().Api();
    WaitForTree();
    script.Then([&]() {
        BoundLocate = api.Slot(DeviceApi::Slot_CM_Locate_DevNodeW);
        EXPECT_NE(nullptr, BoundLocate);
        LocateTimes.clear();
        api.SetSlot(DeviceApi::Slot_CM_Locate_DevNodeW, (FARPROC)NotedLocate);
        return true;
    });
    script.Then([&]() {
        SendMessageW(window.Window(), WM_DEVICECHANGE, 7 /* DBT_DEVNODES_CHANGED */, 0);
        lastBroadcast = GetTickCount();
        return ++sent == 5;
    });
    // The refresh comes 500 ms after the last broadcast, not before; once it
    // has come, a while as long again shows that no second one follows.
    script.Then([&]() {
        if (LocateTimes.empty())
            return false;
        EXPECT_GE(LocateTimes[0] - lastBroadcast, 490u) << "refreshed before 500 ms had passed";
        quietUntil = GetTickCount() + 2 * std::max<DWORD>(500, LocateTimes[0] - lastBroadcast);
        return true;
    });
    script.Then([&]() { return (int)(GetTickCount() - quietUntil) >= 0; });
    script.Then([&]() {
        EXPECT_EQ(1u, LocateTimes.size()) << "one refresh for the whole burst";
        EXPECT_EQ(0, ListCount(List()));
        api.SetSlot(DeviceApi::Slot_CM_Locate_DevNodeW, BoundLocate);
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, CopiesTreeItemsAndListRows)
{
    WaitForTree();
    script.Then([&]() {
        // Owned by another window, so that a copy is seen to take it over.
        Clipboard::SetText(Tree(), L"untouched");
        PressWithControl(Tree(), 'C'); // nothing selected
        EXPECT_EQ(L"untouched", ClipboardText());
        EXPECT_EQ(Tree(), GetClipboardOwner());

        HTREEITEM item = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        std::wstring text = TreeText(Tree(), item);
        PressWithControl(Tree(), 'C');
        EXPECT_EQ(text, ClipboardText());
        // Windows refuses the data of a clipboard emptied without an owner.
        EXPECT_EQ(window.Window(), GetClipboardOwner());

        SelectListRows(List(), {0, 2, 5});
        PressWithControl(List(), 'C');
        std::wstring rows = ClipboardText();
        std::wstring expected;
        for (int row : {0, 2, 5}) {
            for (int column = 0; column < 4; ++column) {
                if (column)
                    expected += L"\t";
                expected += ListCell(List(), row, column);
            }
            expected += L"\r\n";
        }
        EXPECT_EQ(expected, rows);
        EXPECT_EQ(3, (int)std::count(rows.begin(), rows.end(), L'\n'));

        SelectListRows(List(), {});
        SendMessageW(window.Window(), WM_COMMAND, ID_LIST_COPY, 0);
        EXPECT_EQ(L"", ClipboardText());
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, EscapeClosesWithZeroAndEnterDoesNothing)
{
    bool stillOpen = false;
    WaitForTree();
    script.Then([&]() {
        // A close hides the window before the command returns.
        SendMessageW(window.Window(), WM_COMMAND, IDOK, 0);
        stillOpen = IsWindow(window.Window()) && IsWindowVisible(window.Window());
        PostMessageW(Tree(), WM_KEYDOWN, VK_ESCAPE, 0);
        return true;
    });
    script.UntilTheWindowCloses();
    EXPECT_EQ(0, script.Run());
    EXPECT_TRUE(stillOpen);
}

TEST_F(MainWindowTest, ExitClosesWithOne)
{
    WaitForTree();
    script.Then([&]() {
        PostMessageW(window.Item(IDC_EXIT), BM_CLICK, 0, 0);
        return true;
    });
    script.UntilTheWindowCloses();
    EXPECT_EQ(1, script.Run());
}

TEST_F(MainWindowTest, ClickingTheKeyHeaderTwiceSortsUpThenDown)
{
    WaitForTree();
    script.Then([&]() {
        HTREEITEM item = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        EXPECT_EQ(1, HeaderArrow(List(), 0)) << "sorted by Key ascending at start";
        ClickHeader(window.Window(), List(), 2);
        EXPECT_EQ(1, HeaderArrow(List(), 2));
        EXPECT_EQ(0, HeaderArrow(List(), 0));
        ClickHeader(window.Window(), List(), 0);
        EXPECT_EQ(1, HeaderArrow(List(), 0));
        EXPECT_EQ(0, HeaderArrow(List(), 2));
        EXPECT_EQ(0, window.List().SortColumn());
        EXPECT_TRUE(window.List().SortAscending());
        ClickHeader(window.Window(), List(), 0);
        EXPECT_EQ(-1, HeaderArrow(List(), 0));
        EXPECT_FALSE(window.List().SortAscending());

        // The comparison itself, on rows of the list as it stands.
        int a = -1, b = -1;
        for (int i = 0; i < ListCount(List()); ++i) {
            if (ListCell(List(), i, 0) == L"DevInstance")
                a = i;
            if (ListCell(List(), i, 0) == L"CM_DRP_CLASS")
                b = i;
        }
        int declined = 0;
        EXPECT_GT(0, window.CompareRows(a, b, &declined)) << "descending puts D before C";
        EXPECT_EQ(0, declined);
        ClickHeader(window.Window(), List(), 1);
        window.CompareRows(a, b, &declined);
        EXPECT_EQ(1, declined) << "Key Details is left to the list's own comparison";
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, AProblemDeviceIsDrawnRed)
{
    int redPixels = -1;
    WaitForTree();
    script.Then([&]() {
        HTREEITEM problem =
            FindTreeNode(Tree(), [](const DeviceNode* n) { return n && (n->status & 0x400); });
        EXPECT_NE(nullptr, problem);
        SendMessageW(Tree(), TVM_ENSUREVISIBLE, 0, (LPARAM)problem);
        UpdateWindow(Tree());
        RECT rect;
        memcpy(&rect, &problem, sizeof(problem));
        SendMessageW(Tree(), TVM_GETITEMRECT, TRUE, (LPARAM)&rect);
        HDC dc = GetDC(Tree());
        redPixels = 0;
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x)
                if (GetPixel(dc, x, y) == MainWindow::ProblemColour)
                    ++redPixels;
        ReleaseDC(Tree(), dc);
        return true;
    });
    EXPECT_EQ(42, script.Run());
    EXPECT_GT(redPixels, 5) << "the item's text is drawn in red";
}

namespace {

struct TemplateItem {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    std::wstring windowClass;
    std::wstring text;
};

// Reads a string or ordinal field of a classic dialog template.
const WORD* ReadField(const WORD* p, std::wstring& text)
{
    text.clear();
    if (*p == 0xFFFF) {
        static const wchar_t* const Classes[] = {L"Button", L"Edit", L"Static"};
        WORD atom = p[1];
        if (atom >= 0x80 && atom <= 0x82)
            text = Classes[atom - 0x80];
        return p + 2;
    }
    while (*p)
        text += (wchar_t)*p++;
    return p + 1;
}

} // namespace

TEST(MainWindowTemplate, DialogIsBuiltAsTabled)
{
    HRSRC found = FindResourceExW(nullptr, RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN),
                                  MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_NE(nullptr, found) << "template 102 has one language block, German";
    const BYTE* bytes = (const BYTE*)LockResource(LoadResource(nullptr, found));
    const DLGTEMPLATE* dialog = (const DLGTEMPLATE*)bytes;
    EXPECT_EQ(0x82CF0840u, dialog->style);
    EXPECT_EQ(476, dialog->cx);
    EXPECT_EQ(289, dialog->cy);
    ASSERT_EQ(7, dialog->cdit);

    const WORD* p = (const WORD*)(dialog + 1);
    std::wstring field;
    p = ReadField(p, field); // menu
    p = ReadField(p, field); // class
    p = ReadField(p, field);
    EXPECT_EQ(L"Dialog", field);
    EXPECT_EQ(8, *p++);
    p = ReadField(p, field);
    EXPECT_EQ(L"MS Sans Serif", field);

    const TemplateItem expected[] = {
        {0x50810027, 5, 5, 175, 260, 1004, L"SysTreeView32", L"Tree1"},
        {0x50810009, 185, 5, 285, 260, 1005, L"SysListView32", L"List1"},
        {0x50810080, 5, 270, 205, 14, 1006, L"Edit", L""},
        {0x50010003, 220, 270, 120, 14, 1008, L"Button", L"Automatically check for updates"},
        {0x50030202, 350, 270, 60, 14, 1009, L"Static", L"Static"}, // a tab stop
        {0x50010000, 421, 270, 50, 14, 1000, L"Button", L"Exit"},
        {0x50000004, 160, 70, 46, 152, 1007, L"Static", L""},
    };
    for (const TemplateItem& want : expected) {
        p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)p;
        SCOPED_TRACE(want.id);
        EXPECT_EQ(want.style, item->style);
        EXPECT_EQ(want.x, item->x);
        EXPECT_EQ(want.y, item->y);
        EXPECT_EQ(want.cx, item->cx);
        EXPECT_EQ(want.cy, item->cy);
        EXPECT_EQ(want.id, item->id);
        p = (const WORD*)(item + 1);
        p = ReadField(p, field);
        EXPECT_EQ(0, CompareAsciiNoCase(want.windowClass.c_str(), field.c_str()));
        p = ReadField(p, field);
        EXPECT_EQ(want.text, field);
        WORD extra = *p++;
        p = (const WORD*)((const BYTE*)p + extra);
    }

    // Menus and strings the context menus are built from.
    EXPECT_NE(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(IDM_LIST_MENU), RT_MENU));
    EXPECT_NE(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(IDM_TREE_MENU), RT_MENU));
    for (int icon = IDI_PROGRAM; icon <= IDI_REFRESH; ++icon)
        EXPECT_NE(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(icon), RT_GROUP_ICON)) << icon;
    EXPECT_NE(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(IDC_HAND_CURSOR), RT_GROUP_CURSOR));
    wchar_t text[64];
    LoadStringW(nullptr, IDS_COPY, text, 64);
    EXPECT_STREQ(L"&Copy", text);
}
