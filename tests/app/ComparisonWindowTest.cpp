// The main window comparing two moments of a simulated machine: the union
// tree with its marks and counts, the filter and "changed only" on it, the
// list's column before with its marked rows and Copy, the marks' colours in
// high contrast, two snapshots compared with each other, the column's width
// kept, and the plain view back after End Comparison.

#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "common/MachinesThatDiffer.h"
#include "common/ScratchFile.h"
#include "snapshot/SnapshotCapture.h"
#include "snapshot/SnapshotWriter.h"

#include <map>
#include <string>

namespace {

// The moment the simulator shows now, as a snapshot file's text.
std::string SnapshotText(const wchar_t* taken)
{
    DeviceTree model;
    model.Start();
    SnapshotHeader header;
    header.computer = L"DESK-7";
    header.taken = taken;
    Snapshot snapshot;
    EXPECT_EQ(1, SnapshotCapture::Capture(model.Api(), header, snapshot));
    std::string text;
    EXPECT_EQ(1, SnapshotWriter::Write(snapshot, text));
    return text;
}

std::wstring Caption(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// Every item's text with the overlay image it shows (0: none).
std::map<std::wstring, int> Overlays(HWND tree)
{
    std::map<std::wstring, int> overlays;
    WalkTree(tree, (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0), [&](HTREEITEM item) {
        TVITEMW request = {TVIF_STATE, item};
        request.stateMask = TVIS_OVERLAYMASK;
        SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&request);
        overlays[TreeText(tree, item)] = (int)((request.state & TVIS_OVERLAYMASK) >> 8);
        return true;
    });
    return overlays;
}

HTREEITEM ItemNamed(HWND tree, const wchar_t* name)
{
    return FindTreeNode(tree, [name](const DeviceNode* n) { return n && n->name == name; });
}

int RowNamed(HWND list, const std::wstring& key)
{
    for (int row = 0; row < ListCount(list); ++row)
        if (ListCell(list, row, 0) == key)
            return row;
    return -1;
}

int RowImage(HWND list, int row)
{
    LVITEMW request = {LVIF_IMAGE, row};
    SendMessageW(list, LVM_GETITEMW, 0, (LPARAM)&request);
    return request.iImage;
}

int HeaderCount(HWND list)
{
    return (int)SendMessageW((HWND)SendMessageW(list, LVM_GETHEADER, 0, 0), HDM_GETITEMCOUNT, 0, 0);
}

void PressControlShift(HWND control, WORD key, bool shift)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageW(control, WM_KEYDOWN, key, 0);
}

void ReleaseKeys()
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

const int Unmarked = 0, AddedMark = 1, RemovedMark = 2, ChangedMark = 3;

class ComparisonWindowTest : public MainWindowTest {
protected:
    ComparisonWindowTest()
        : simulated(EarlierMachine), earlierFile(L".quillmere.json"), laterFile(L".quillmere.json")
    {
        EXPECT_TRUE(earlierFile.Write(SnapshotText(L"2026-12-01T10:00:00Z")));
        simulated.Rewrite(LaterMachine);
        EXPECT_TRUE(laterFile.Write(SnapshotText(L"2026-12-08T16:30:00Z")));
    }

    void WaitForCount(int count)
    {
        script.Then([this, count]() { return TreeCount(Tree()) == count; });
    }

    // This machine: the earlier moment first, then the later one.
    SimulatedMachine simulated;
    ScratchFile earlierFile;
    ScratchFile laterFile;
};

} // namespace

TEST_F(ComparisonWindowTest, UnionShowsEveryChangeWithItsMarkRowsAndCounts)
{
    const std::map<std::wstring, int> marks = {
        {L"Root", Unmarked},           {L"First bridge", Unmarked},    {L"Network adapter", ChangedMark},
        {L"Second bridge", ChangedMark}, {L"USB hub", ChangedMark},    {L"Display adapter", ChangedMark},
        {L"Old device", RemovedMark},  {L"Sick device", ChangedMark},  {L"Steady device", Unmarked},
        {L"New device", AddedMark},
    };
    WaitForCount(9);
    script.Then([&]() {
        EXPECT_EQ(1, window.CompareWithSnapshotFile(earlierFile.Path()));
        EXPECT_TRUE(window.ShowsComparison());
        std::wstring caption = Caption(window.Window());
        EXPECT_NE(std::wstring::npos, caption.find(L"Quillmere [1.00] (test build) - compared with ")) << caption;
        EXPECT_NE(std::wstring::npos, caption.find(L"(DESK-7, 2026-12-01 10:00 UTC): 1 new, 1 removed, 5 changed"))
            << caption;
        EXPECT_EQ(10, TreeCount(Tree()));
        EXPECT_EQ(marks, Overlays(Tree()));
        // The moved hub under its present parent.
        HTREEITEM hub = ItemNamed(Tree(), L"USB hub");
        EXPECT_EQ(L"Second bridge", TreeText(Tree(), TreeView_GetParent(Tree(), hub)));

        // The adapter's rows: all of them, the two that differ marked, the
        // value before beside the value now.
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)ItemNamed(Tree(), L"Network adapter"));
        EXPECT_EQ(5, HeaderCount(List()));
        EXPECT_EQ(8, ListCount(List()));
        int version = RowNamed(List(), L"{A8B865DD-2E3D-4094-AD97-E593A70C75D6} [3]");
        int legacy = RowNamed(List(), L"Legacy");
        int speed = RowNamed(List(), L"Speed");
        if (version < 0 || legacy < 0 || speed < 0) {
            ADD_FAILURE() << "rows missing: " << version << " " << legacy << " " << speed;
            return true;
        }
        EXPECT_EQ(L"2.0", ListCell(List(), version, 2));
        EXPECT_EQ(L"1.0", ListCell(List(), version, MainWindow::BeforeColumn));
        EXPECT_EQ(L"", ListCell(List(), legacy, 2));
        EXPECT_EQ(L"yes", ListCell(List(), legacy, MainWindow::BeforeColumn));
        EXPECT_EQ(L"0x3E8 (1000)", ListCell(List(), speed, MainWindow::BeforeColumn));
        EXPECT_EQ(0, RowImage(List(), speed));
        EXPECT_NE(0, RowImage(List(), version));
        EXPECT_NE(0, RowImage(List(), legacy));
        EXPECT_NE(RowImage(List(), version), RowImage(List(), legacy));

        // Copy: the rows with both values.
        SelectListRows(List(), {version, legacy});
        SendMessageW(window.Window(), WM_COMMAND, ID_LIST_COPY, 0);
        std::wstring first = version < legacy ? L"{A8B865DD-2E3D-4094-AD97-E593A70C75D6} [3]\tDEVPKEY_Device_DriverVersion\t2.0\t\t1.0\r\n"
                                              : L"Legacy\t\t\t\tyes\r\n";
        std::wstring second = version < legacy ? L"Legacy\t\t\t\tyes\r\n"
                                               : L"{A8B865DD-2E3D-4094-AD97-E593A70C75D6} [3]\tDEVPKEY_Device_DriverVersion\t2.0\t\t1.0\r\n";
        EXPECT_EQ(first + second, ClipboardText());

        // A removed device: its old values, nothing now.
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)ItemNamed(Tree(), L"Old device"));
        int description = RowNamed(List(), L"CM_DRP_DEVICEDESC");
        EXPECT_GE(description, 0);
        EXPECT_EQ(L"", ListCell(List(), description, 2));
        EXPECT_EQ(L"Old device", ListCell(List(), description, MainWindow::BeforeColumn));

        // The filter narrows the union and keeps the marks.
        TypeInFilter(L"device");
        EXPECT_EQ((std::map<std::wstring, int>{{L"Root", Unmarked},
                                               {L"Old device", RemovedMark},
                                               {L"Sick device", ChangedMark},
                                               {L"Steady device", Unmarked},
                                               {L"New device", AddedMark}}),
                  Overlays(Tree()));
        SetWindowTextW(Filter(), L"");
        SetFocus(Tree());
        PressControlShift(Tree(), 'D', true);
        return true;
    });
    // Ctrl+Shift+D: only the changed devices and their ancestors.
    WaitForCount(9);
    script.Then([&]() {
        ReleaseKeys();
        std::map<std::wstring, int> changed = marks;
        changed.erase(L"Steady device");
        EXPECT_EQ(changed, Overlays(Tree()));
        std::wstring caption = Caption(window.Window());
        EXPECT_NE(std::wstring::npos, caption.find(L"5 changed - changed devices only")) << caption;
        UINT state = GetMenuState(GetSystemMenu(window.Window(), FALSE), ID_CHANGED_ONLY, MF_BYCOMMAND);
        EXPECT_TRUE(state & MF_CHECKED);
        TypeInFilter(L"Sick");
        EXPECT_EQ(2, TreeCount(Tree())) << "the filter narrows what is shown";
        SetWindowTextW(Filter(), L"");
        SendMessageW(window.Window(), WM_COMMAND, ID_CHANGED_ONLY, 0);
        EXPECT_EQ(10, TreeCount(Tree()));

        // The column's width is kept for the next comparison.
        ListView_SetColumnWidth(List(), MainWindow::BeforeColumn, 123);
        SendMessageW(window.Window(), WM_SYSCOMMAND, ID_END_COMPARISON, 0);
        EXPECT_FALSE(window.ShowsComparison());
        EXPECT_EQ(9, TreeCount(Tree()));
        EXPECT_EQ(4, HeaderCount(List()));
        EXPECT_EQ(L"Quillmere [1.00] (test build)", Caption(window.Window()));
        std::map<std::wstring, int> none;
        for (const auto& mark : Overlays(Tree()))
            none[mark.first] = Unmarked;
        EXPECT_EQ(none, Overlays(Tree()));
        UINT end = GetMenuState(GetSystemMenu(window.Window(), FALSE), ID_END_COMPARISON, MF_BYCOMMAND);
        EXPECT_TRUE(end & MF_GRAYED);

        EXPECT_EQ(1, window.CompareWithSnapshotFile(earlierFile.Path()));
        EXPECT_EQ(123, ListView_GetColumnWidth(List(), MainWindow::BeforeColumn));
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)ItemNamed(Tree(), L"Network adapter"));
        return true;
    });
    // tools/screenshot.sh compare photographs the window at this point,
    // wide enough for the values before and now.
    wchar_t hold[16] = {};
    if (GetEnvironmentVariableW(L"QUILL_SCREENSHOT_HOLD", hold, 16)) {
        script.Then([&]() {
            SetWindowPos(window.Window(), nullptr, 0, 0, 1180, 520, SWP_NOZORDER);
            const int widths[] = {270, 190, 110, 110, 170};
            for (int column = 0; column < 5; ++column)
                ListView_SetColumnWidth(List(), column, widths[column]);
            return true;
        });
        script.Wait((DWORD)_wtoi(hold));
    }
    EXPECT_EQ(42, script.Run());
    // Closed while comparing: the plain list's layout holds its four
    // columns, as the next start expects.
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(settings.Root(), settings.Path(), L"ListView", RRF_RT_REG_BINARY,
                                          nullptr, nullptr, &size));
    EXPECT_EQ(4u * 2 * sizeof(DWORD), size);
}

TEST_F(ComparisonWindowTest, SnapshotsCompareWithEachOtherTheOlderBeforeAndWithThemselvesUnchanged)
{
    WaitForCount(9);
    script.Then([&]() {
        // The older snapshot shown, compared with the newer one: the newer
        // one is "now", whichever was chosen.
        EXPECT_EQ(1, window.OpenSnapshotFile(earlierFile.Path()));
        EXPECT_EQ(1, window.CompareWithSnapshotFile(laterFile.Path()));
        std::wstring caption = Caption(window.Window());
        EXPECT_NE(std::wstring::npos, caption.find(L": 1 new, 1 removed, 5 changed")) << caption;
        EXPECT_EQ(AddedMark, Overlays(Tree())[L"New device"]);
        EXPECT_EQ(RemovedMark, Overlays(Tree())[L"Old device"]);

        // Compared with itself: nothing changed, nothing marked.
        EXPECT_EQ(1, window.CompareWithSnapshotFile(earlierFile.Path()));
        caption = Caption(window.Window());
        EXPECT_NE(std::wstring::npos, caption.find(L": 0 new, 0 removed, 0 changed")) << caption;
        for (const auto& mark : Overlays(Tree()))
            EXPECT_EQ(Unmarked, mark.second) << std::string(mark.first.begin(), mark.first.end());
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)ItemNamed(Tree(), L"Network adapter"));
        for (int row = 0; row < ListCount(List()); ++row)
            EXPECT_EQ(ListCell(List(), row, 2), ListCell(List(), row, MainWindow::BeforeColumn));

        // Back to this computer ends the comparison too.
        SendMessageW(window.Window(), WM_SYSCOMMAND, ID_THIS_COMPUTER, 0);
        EXPECT_FALSE(window.ShowsComparison());
        EXPECT_FALSE(window.ShowsSnapshot());
        EXPECT_EQ(9, TreeCount(Tree()));
        EXPECT_EQ(4, HeaderCount(List()));
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(ComparisonWindowTest, MarksKeepApartInHighContrastAndTheMenuSpeaksGerman)
{
    FakeSystem system;
    window.Strings().SetSelector(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    WaitForCount(9);
    script.Then([&]() {
        HMENU menu = GetSystemMenu(window.Window(), FALSE);
        wchar_t text[128] = {};
        GetMenuStringW(menu, ID_COMPARE, text, 128, MF_BYCOMMAND);
        EXPECT_EQ(std::wstring(L"Mit Momentaufnahme vergleic&hen\x2026\tStrg+D"), text);
        GetMenuStringW(menu, ID_END_COMPARISON, text, 128, MF_BYCOMMAND);
        EXPECT_EQ(std::wstring(L"Vergleich &beenden"), text);
        EXPECT_EQ(1, window.CompareWithSnapshotFile(earlierFile.Path()));
        std::wstring caption = Caption(window.Window());
        EXPECT_NE(std::wstring::npos, caption.find(L"1 neu, 1 entfernt, 5 ge\x00e4ndert")) << caption;
        EXPECT_EQ(L"Vorher", [&]() {
            wchar_t title[64] = {};
            LVCOLUMNW column = {LVCF_TEXT};
            column.pszText = title;
            column.cchTextMax = 64;
            ListView_GetColumn(List(), MainWindow::BeforeColumn, &column);
            return std::wstring(title);
        }());

        SetFocus(Tree());
        for (bool highContrast : {false, true}) {
            FakeSystem::highContrast = highContrast;
            std::map<COLORREF, std::wstring> seen;
            for (const wchar_t* name : {L"New device", L"Old device", L"Sick device", L"Steady device"}) {
                NMTVCUSTOMDRAW draw = DrawTreeItem(window.Window(), Tree(), ItemNamed(Tree(), name), false);
                EXPECT_TRUE(seen.emplace(draw.clrText, name).second)
                    << "the same colour as " << std::string(seen[draw.clrText].begin(), seen[draw.clrText].end());
                if (highContrast && draw.clrText != CLR_DEFAULT) {
                    EXPECT_EQ(GetSysColor(COLOR_WINDOW), draw.clrTextBk);
                }
            }
            EXPECT_EQ(CLR_DEFAULT, DrawTreeItem(window.Window(), Tree(), ItemNamed(Tree(), L"Steady device"), false).clrText);
            // Selected, a marked device keeps the selection's own colours.
            NMTVCUSTOMDRAW selected = DrawTreeItem(window.Window(), Tree(), ItemNamed(Tree(), L"New device"), true);
            EXPECT_EQ(CLR_DEFAULT, selected.clrText);
            EXPECT_EQ(CLR_DEFAULT, selected.clrTextBk);
        }
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(ComparisonWindowTest, ControlDComparesThroughTheDialogAndABadFileChangesNothing)
{
    ScratchFile bad(L".quillmere.json");
    EXPECT_TRUE(bad.Write("{\"format\": \"Quillmere snapshot\", \"version\": 1, "));
    int answered = 0;
    std::vector<std::wstring> captions;
    DialogAnswerer boxes(0, ExceptMainWindow(window, [&](HWND box, int) {
        wchar_t caption[128] = {};
        GetWindowTextW(box, caption, 128);
        captions.push_back(caption);
        switch (++answered) {
        case 1:
            ChooseFile(bad.Path())(box, 0);
            break;
        case 2:
            DialogAnswerer::Click(box, IDOK);
            break;
        default:
            ChooseFile(earlierFile.Path())(box, 0);
        }
    }));
    WaitForCount(9);
    script.Then([&]() {
        PressControlShift(Tree(), 'D', false);
        return true;
    });
    script.Then([&]() { return answered == 2; });
    script.Then([&]() {
        EXPECT_FALSE(window.ShowsComparison());
        EXPECT_EQ(9, TreeCount(Tree()));
        EXPECT_EQ(4, HeaderCount(List()));
        PressControlShift(List(), 'D', false);
        return true;
    });
    WaitForCount(10);
    script.Then([&]() {
        ReleaseKeys();
        EXPECT_TRUE(window.ShowsComparison());
        return true;
    });
    EXPECT_EQ(42, script.Run());
    ASSERT_EQ(3u, captions.size());
    EXPECT_EQ(L"Compare with Snapshot", captions[0]);
    EXPECT_EQ(L"Quillmere", captions[1]) << "the message that the file does not open";
}
