#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <stdlib.h>
#include <string>
#include <vector>

#include "ControlHost.h"
#include "common/ScopedTestKey.h"
#include "devices/DeviceTree.h"
#include "properties/PropertyList.h"
#include "services/RegistryKey.h"
#include "ui/ListViewControl.h"
#include "ui/wrappers.h"

namespace {

const DWORD ListStyle = LVS_REPORT | LVS_SHOWSELALWAYS | WS_TABSTOP;
const DWORD MainWindowOptions = 0x10C;

UINT fakeDpi = 96;
UINT WINAPI FakeDpiForWindow(HWND) { return fakeDpi; }
int WINAPI FakeMetricsForDpi(int index, UINT dpi) { return MulDiv(GetSystemMetrics(index), (int)dpi, 96); }

OptionalApiTable DpiTable()
{
    OptionalApiTable table = {};
    table.GetDpiForWindow = &FakeDpiForWindow;
    table.GetSystemMetricsForDpi = &FakeMetricsForDpi;
    return table;
}

// Messages that reach the list, recorded below the wrapper's own hook.
struct SentMessages {
    std::vector<UINT> messages;
    std::vector<WPARAM> selectedColumns;
    bool refuseSortEx = false;
};

LRESULT CALLBACK RecordMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR data)
{
    SentMessages* sent = (SentMessages*)data;
    if (message == LVM_SORTITEMSEX || message == LVM_SORTITEMS || message == LVM_SETSELECTEDCOLUMN ||
        message == WM_SETREDRAW)
        sent->messages.push_back(message);
    if (message == LVM_SETSELECTEDCOLUMN)
        sent->selectedColumns.push_back(wParam);
    if (message == LVM_SORTITEMSEX && sent->refuseSortEx)
        return 0; // as a list without the message answers
    return DefSubclassProc(window, message, wParam, lParam);
}

struct ListEvents {
    std::vector<std::string> calls;
    int item = -2;
    LPARAM param = -2;
    WORD key = 0;
    int compareCalls = 0;
    ListViewControl* compareList = nullptr;
};

class ListViewControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakeDpi = 96;
        host.SetHandler([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
            if (message == WM_NOTIFY)
                return control.OnNotify(wParam, lParam, result);
            return 0;
        });
    }

    void Attach(DWORD options = MainWindowOptions, DWORD extraStyle = 0)
    {
        list = host.CreateChild(WC_LISTVIEWW, ListStyle | extraStyle, 1005);
        ASSERT_TRUE(list);
        ASSERT_EQ(1, control.Init(list, GetModuleHandleW(nullptr), options, IDI_ARROW_DOWN,
                                  IDI_ARROW_UP, 0, 0));
        control.SetExtendedStyle(0x10020, 0x10020);
        const wchar_t* titles[] = {L"Key", L"Key Details", L"Value", L"Value Details"};
        const int widths[] = {300, 200, 300, 200};
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(i, control.InsertColumn(titles[i], i, widths[i], 0, 0));
    }

    void AddRows(std::initializer_list<const wchar_t*> values, int column = 2)
    {
        int param = 1;
        for (const wchar_t* value : values) {
            int item = control.InsertItem(0x7FFFFFFF, 0, L"key", param++, 8);
            ASSERT_GE(item, 0);
            control.SetItemText(item, column, value);
        }
    }

    std::wstring Text(int item, int column) const
    {
        WideString text;
        control.GetItemText(item, column, text);
        return text.Text();
    }

    HDITEMW HeaderItem(int column) const
    {
        HDITEMW item = {};
        item.mask = HDI_FORMAT | HDI_IMAGE;
        SendMessageW(control.Header(), HDM_GETITEMW, (WPARAM)column, (LPARAM)&item);
        return item;
    }

    // The arrow a column shows, whichever way this comctl32 draws it: sort
    // bits from 6.0 on, an image on the right before.
    std::string Arrow(int column) const
    {
        HDITEMW item = HeaderItem(column);
        if (item.fmt & HDF_SORTUP)
            return "up";
        if (item.fmt & HDF_SORTDOWN)
            return "down";
        if ((item.fmt & (HDF_IMAGE | HDF_BITMAP_ON_RIGHT)) == (HDF_IMAGE | HDF_BITMAP_ON_RIGHT))
            return item.iImage == 1 ? "up" : item.iImage == 0 ? "down" : "image?";
        return "none";
    }

    void ClickHeader(int column)
    {
        RECT rect = {};
        ASSERT_TRUE(SendMessageW(control.Header(), HDM_GETITEMRECT, (WPARAM)column, (LPARAM)&rect));
        LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        SendMessageW(control.Header(), WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageW(control.Header(), WM_LBUTTONUP, 0, point);
        ControlHost::Pump();
    }

    ControlHost host{900, 400};
    ListViewControl control;
    HWND list = nullptr;
};

TEST_F(ListViewControlTest, InitSetsUpImageListsHeaderArrowsAndSubclass)
{
    Attach();
    EXPECT_EQ(MainWindowOptions, control.Flags() & 0xFFFF);
    EXPECT_TRUE(control.Header());
    EXPECT_EQ(4, control.HeaderItemCount());
    ASSERT_TRUE(control.SmallImages().Handle());
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), control.SmallImages().Width());
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), control.NormalImages().Width());
    EXPECT_EQ((HIMAGELIST)SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0), control.SmallImages().Handle());
    ASSERT_TRUE(control.HeaderImages());
    EXPECT_EQ(2, ImageList_GetImageCount(control.HeaderImages()));
    EXPECT_EQ((HIMAGELIST)SendMessageW(control.Header(), HDM_GETIMAGELIST, 0, 0), control.HeaderImages());
    EXPECT_EQ(-1, control.SortColumn()) << "no sort style, so unsorted";
    EXPECT_NE(0u, control.ComctlVersion());
    EXPECT_EQ(0, control.AddIcon(IDI_LIST_ITEM));
    EXPECT_EQ(1, control.NormalImages().Count());
    EXPECT_EQ(300, (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0)) << "300 at 96 DPI";
    HWND header = control.Header();

    wchar_t name[SubclassHook::PropertyNameLength];
    SubclassHook::PropertyName(SubclassTag("lis1"), name);
    EXPECT_TRUE(GetPropW(list, name));
    control.Detach();
    EXPECT_FALSE(GetPropW(list, name));
    EXPECT_FALSE(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    EXPECT_FALSE(SendMessageW(header, HDM_GETIMAGELIST, 0, 0));
    EXPECT_FALSE(control.Window());
}

TEST_F(ListViewControlTest, RowsInsertedThroughTheSinkReadBackWithTheirGroups)
{
    Attach();
    control.AddIcon(IDI_LIST_ITEM);
    control.EnableGroupView(true);
    EXPECT_TRUE(control.Flags() & ListViewControl::GroupView);
    control.AddGroup(L"Miscellaneous", 8, LVGA_HEADER_LEFT, -1, LVGS_COLLAPSIBLE);
    control.AddGroup(L"Registry Properties", 7, LVGA_HEADER_LEFT, -1, LVGS_COLLAPSIBLE);

    ListSink& sink = control;
    PropertyList::AddRow(sink, L"DevInstance", L"", L"0x1", L"", 8);
    PropertyList::AddRow(sink, L"CM_DRP_HARDWAREID", L"", L"A, B", L"2 values", 7);
    ASSERT_EQ(2, control.ItemCount());
    EXPECT_EQ(L"DevInstance", Text(0, 0));
    EXPECT_EQ(L"0x1", Text(0, 2));
    EXPECT_EQ(L"CM_DRP_HARDWAREID", Text(1, 0));
    EXPECT_EQ(L"", Text(1, 1));
    EXPECT_EQ(L"A, B", Text(1, 2));
    EXPECT_EQ(L"2 values", Text(1, 3));
    EXPECT_EQ(L"", Text(2, 0)) << "no third row";

    LVITEMW item = {};
    item.mask = LVIF_IMAGE | LVIF_PARAM;
    item.iItem = 1;
    ASSERT_TRUE(SendMessageW(list, LVM_GETITEMW, 0, (LPARAM)&item));
    EXPECT_EQ(0, item.iImage);
    EXPECT_EQ(0, item.lParam);
    // Wine shows no groups but keeps the id it was given, like Windows.
    item.mask = LVIF_GROUPID;
    item.iGroupId = -5;
    ASSERT_TRUE(SendMessageW(list, LVM_GETITEMW, 0, (LPARAM)&item));
    if (item.iGroupId != -5 && item.iGroupId != 0) {
        EXPECT_EQ(7, item.iGroupId);
    }

    // No image: the item takes none.
    int plain = control.InsertItem(0x7FFFFFFF, -2, L"plain", 5, 8);
    ASSERT_EQ(2, plain);
    WideString text;
    LPARAM param = 0;
    ASSERT_EQ(1, control.GetItem(plain, 0, &text, &param));
    EXPECT_STREQ(L"plain", text.Text());
    EXPECT_EQ(5, param);
    EXPECT_EQ(plain, control.FindItemByParam(5));
    EXPECT_EQ(-1, control.FindItemByParam(77));
}

namespace {

// A comctl32 with groups as far as the wrapper can tell (Wine's list view
// ignores the group messages): the groups inserted and set, and the state
// it reports.
struct GroupControl {
    std::vector<LVGROUP> inserted, set;
    UINT reportedState = 0;
};

LRESULT CALLBACK AnswerGroups(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    GroupControl* control = (GroupControl*)data;
    LVGROUP* group = (LVGROUP*)lParam;
    if (message == LVM_INSERTGROUP || message == LVM_SETGROUPINFO)
        (message == LVM_INSERTGROUP ? control->inserted : control->set).push_back(*group);
    else if (message == LVM_GETGROUPINFO)
        group->state = control->reportedState & group->stateMask;
    else
        return DefSubclassProc(window, message, wParam, lParam);
    return message == LVM_INSERTGROUP ? 0 : (LRESULT)wParam;
}

} // namespace

TEST_F(ListViewControlTest, GroupsGetTheStateBitsTheyAreGivenAndKeepThem)
{
    control.AssumeCommonControlsVersion(0x60010);
    Attach();
    GroupControl groups;
    SetWindowSubclass(list, &AnswerGroups, 1, (DWORD_PTR)&groups);
    groups.reportedState = LVGS_COLLAPSIBLE;
    control.AddGroup(L"Miscellaneous", 8, LVGA_HEADER_LEFT, -1, LVGS_COLLAPSIBLE);
    ASSERT_EQ(1u, groups.inserted.size());
    EXPECT_EQ((UINT)LVGS_COLLAPSIBLE, groups.inserted[0].state);
    EXPECT_EQ((UINT)LVGS_COLLAPSIBLE, groups.inserted[0].stateMask) << "a zero mask applies nothing";
    EXPECT_TRUE(groups.set.empty()) << "the state read back is the one given";
    groups.reportedState = 0; // a control that dropped it
    control.AddGroup(L"Class Properties", 1, LVGA_HEADER_LEFT, -1, LVGS_COLLAPSIBLE);
    ASSERT_EQ(1u, groups.set.size());
    EXPECT_EQ((UINT)LVGS_COLLAPSIBLE, groups.set[0].state & groups.set[0].stateMask);
    RemoveWindowSubclass(list, &AnswerGroups, 1);
}

TEST_F(ListViewControlTest, EmptyingKeepsOrResetsTheSortState)
{
    Attach();
    DeviceTree model;
    ASSERT_EQ(1, model.Start());
    AddRows({L"one", L"two"});
    control.SortBy(2, false);

    // What a refresh does: the model empties the list and keeps the order.
    ASSERT_EQ(1, model.FillPropertyList(control, nullptr));
    EXPECT_EQ(0, control.ItemCount());
    EXPECT_EQ(0, control.RedrawDepth());
    EXPECT_EQ(2, control.SortColumn());
    EXPECT_FALSE(control.SortAscending());
    EXPECT_EQ("down", Arrow(2));

    AddRows({L"three"});
    control.DeleteAllItems(false);
    EXPECT_EQ(0, control.ItemCount());
    EXPECT_EQ(-1, control.SortColumn());
    EXPECT_EQ("none", Arrow(2)) << "the arrow follows the reset";
    model.Stop();
    EXPECT_EQ(0, model.FillPropertyList(control, nullptr));
}

TEST_F(ListViewControlTest, HeaderClicksSortAscendingThenDescendingWithTheArrow)
{
    Attach();
    AddRows({L"b", L"a"});
    control.SortBy(0, true);
    EXPECT_EQ("up", Arrow(0));

    ClickHeader(0);
    EXPECT_EQ(0, control.SortColumn());
    EXPECT_FALSE(control.SortAscending());
    EXPECT_EQ("down", Arrow(0));
    ClickHeader(0);
    EXPECT_TRUE(control.SortAscending());
    EXPECT_EQ("up", Arrow(0));

    ClickHeader(0);
    ClickHeader(2); // another column always starts ascending
    EXPECT_EQ(2, control.SortColumn());
    EXPECT_TRUE(control.SortAscending());
    EXPECT_EQ("none", Arrow(0));
    EXPECT_EQ("up", Arrow(2));
}

TEST_F(ListViewControlTest, ArrowsAreSortBitsFromVersion6AndImagesBefore)
{
    control.AssumeCommonControlsVersion(0x60010);
    Attach();
    control.SortBy(1, false);
    EXPECT_EQ(HDF_SORTDOWN, HeaderItem(1).fmt & (HDF_SORTUP | HDF_SORTDOWN | HDF_IMAGE));
    control.SortBy(1, true);
    EXPECT_EQ(HDF_SORTUP, HeaderItem(1).fmt & (HDF_SORTUP | HDF_SORTDOWN | HDF_IMAGE));
    control.SortBy(3, true);
    EXPECT_EQ(0, HeaderItem(1).fmt & (HDF_SORTUP | HDF_SORTDOWN | HDF_IMAGE | HDF_BITMAP_ON_RIGHT));
    control.Detach();
    DestroyWindow(list);

    control.AssumeCommonControlsVersion(0x50051);
    Attach();
    control.SortBy(1, false);
    HDITEMW item = HeaderItem(1);
    EXPECT_EQ(HDF_IMAGE | HDF_BITMAP_ON_RIGHT, item.fmt & (HDF_SORTUP | HDF_SORTDOWN | HDF_IMAGE | HDF_BITMAP_ON_RIGHT));
    EXPECT_EQ(0, item.iImage) << "image 0 is the descending arrow";
    control.SortBy(1, true);
    EXPECT_EQ(1, HeaderItem(1).iImage);
    control.SortBy(2, true);
    EXPECT_EQ(0, HeaderItem(1).fmt & (HDF_IMAGE | HDF_BITMAP_ON_RIGHT));
    EXPECT_EQ(CLR_NONE != ImageList_GetBkColor(control.HeaderImages()), true);
}

TEST_F(ListViewControlTest, SortBySendsSortItemsExAndFallsBackToSortItems)
{
    Attach(MainWindowOptions & ~ListViewControl::NoSelectedColumn);
    SentMessages sent;
    SetWindowSubclass(list, &RecordMessages, 1, (DWORD_PTR)&sent);
    AddRows({L"pear", L"apple", L"fig"});

    control.SortBy(2, true);
    EXPECT_EQ((std::vector<UINT>{LVM_SETSELECTEDCOLUMN, LVM_SORTITEMSEX}), sent.messages);
    EXPECT_EQ((std::vector<WPARAM>{2}), sent.selectedColumns);

    // Where the list cannot sort by index, it sorts by item parameter; the
    // parameters here are distinct, so that path sorts for real under Wine.
    sent.messages.clear();
    sent.refuseSortEx = true;
    control.SortBy(2, true);
    EXPECT_EQ((std::vector<UINT>{LVM_SETSELECTEDCOLUMN, LVM_SORTITEMSEX, LVM_SORTITEMS}), sent.messages);
    EXPECT_EQ(L"apple", Text(0, 2));
    EXPECT_EQ(L"fig", Text(1, 2));
    EXPECT_EQ(L"pear", Text(2, 2));
    control.SortBy(2, false);
    EXPECT_EQ(L"pear", Text(0, 2));
    EXPECT_EQ(L"apple", Text(2, 2));

    sent.messages.clear();
    control.SortBy(-1, true);
    EXPECT_EQ((std::vector<UINT>{LVM_SETSELECTEDCOLUMN}), sent.messages) << "unsorted sorts nothing";
    RemoveWindowSubclass(list, &RecordMessages, 1);
}

TEST_F(ListViewControlTest, TheMainWindowsOptionsLeaveTheSortedColumnUnhighlighted)
{
    Attach();
    SentMessages sent;
    SetWindowSubclass(list, &RecordMessages, 1, (DWORD_PTR)&sent);
    control.Resort();
    EXPECT_TRUE(sent.messages.empty()) << "unsorted: re-sorting does nothing";
    control.SortBy(1, true);
    EXPECT_EQ((std::vector<UINT>{LVM_SORTITEMSEX}), sent.messages);
    RemoveWindowSubclass(list, &RecordMessages, 1);
}

TEST_F(ListViewControlTest, ComparisonKnowsByteSizesNumbersAndSeparators)
{
    Attach();
    control.SortBy(2, true); // the list is empty: nothing moves while rows are compared below
    AddRows({L"1.5 kB", L"900 Byte", L"2 MB", L"1536 Byte", L"9", L"10", L"12:30", L"1230"});
    EXPECT_GT(control.CompareItems(0, 1), 0) << "1.5 kB above 900 Byte";
    EXPECT_LT(control.CompareItems(0, 2), 0) << "1.5 kB below 2 MB";
    EXPECT_EQ(0, control.CompareItems(0, 3)) << "1.5 kB is 1536 Byte";
    EXPECT_LT(control.CompareItems(4, 5), 0) << "9 before 10";
    EXPECT_EQ(0, control.CompareItems(6, 7)) << "the colon is ignored";
    EXPECT_EQ(0, control.CompareItems(0, 99)) << "a row that cannot be read compares equal";

    std::wstring separator = control.ThousandsSeparator();
    ASSERT_FALSE(separator.empty());
    std::wstring grouped = L"1" + separator + L"234" + separator + L"567";
    EXPECT_EQ(0, control.CompareTexts(grouped.c_str(), L"1234567"));
    EXPECT_LT(control.CompareTexts(L"Device 2", L"device 10"), 0);

    // The direction is set on an empty list: Wine cannot sort by index and
    // would shuffle the rows.
    control.DeleteAllItems(true);
    control.SortBy(2, false);
    AddRows({L"1.5 kB", L"900 Byte", L"2 MB", L"1536 Byte", L"9", L"10"});
    EXPECT_LT(control.CompareItems(0, 1), 0) << "descending turns sizes round";
    EXPECT_GT(control.CompareItems(4, 5), 0) << "and texts";
    EXPECT_EQ(0, control.CompareItems(0, 3));

    double bytes = 0;
    EXPECT_EQ(1, ListViewControl::ParseByteSize(L"3 GByte", &bytes));
    EXPECT_DOUBLE_EQ(3.0 * 1073741824.0, bytes);
    EXPECT_EQ(1, ListViewControl::ParseByteSize(L"2 PB", &bytes));
    EXPECT_DOUBLE_EQ(2.0 * 1125899906842624.0, bytes);
    EXPECT_EQ(1, ListViewControl::ParseByteSize(L"many kB", &bytes));
    EXPECT_DOUBLE_EQ(0, bytes);
    EXPECT_EQ(0, ListViewControl::ParseByteSize(L"5 kb", &bytes)) << "units are case-sensitive";
    EXPECT_EQ(0, ListViewControl::ParseByteSize(L"42", &bytes));
}

TEST_F(ListViewControlTest, TheCompareCallbackDecidesUnlessItDeclines)
{
    Attach();
    ListEvents events;
    ListViewCallbacks callbacks = {};
    // The main window's rule: its own order on column 0, the list's elsewhere.
    callbacks.compare = [](int first, int second, int* declined, ListViewControl* list, void* user) {
        ListEvents* events = (ListEvents*)user;
        events->compareCalls++;
        events->compareList = list;
        if (list->SortColumn() != 0) {
            *declined = 1;
            return 12345;
        }
        WideString a;
        WideString b;
        list->GetItemText(first, 0, a);
        list->GetItemText(second, 0, b);
        int order = CompareAsciiNoCase(a.Text(), b.Text());
        return list->SortAscending() ? order : -order;
    };
    control.RegisterCallbacks(callbacks, &events);
    control.SortBy(0, true);
    int zeta = control.InsertItem(0x7FFFFFFF, 0, L"zeta 2", 0, 8);
    int alpha = control.InsertItem(0x7FFFFFFF, 0, L"Alpha 10", 0, 8);
    control.SetItemText(zeta, 2, L"9");
    control.SetItemText(alpha, 2, L"10");

    events.compareCalls = 0;
    EXPECT_GT(control.CompareItems(zeta, alpha), 0);
    EXPECT_EQ(1, events.compareCalls);
    EXPECT_EQ(&control, events.compareList);
    control.SortBy(0, false);
    EXPECT_LT(control.CompareItems(zeta, alpha), 0) << "the callback minds the direction";

    control.SortBy(2, true);
    events.compareCalls = 0;
    EXPECT_LT(control.CompareItems(zeta, alpha), 0) << "declined: 9 before 10, not 12345";
    EXPECT_EQ(1, events.compareCalls);
}

TEST_F(ListViewControlTest, RedrawSuspensionNestsForListAndHeader)
{
    Attach();
    SentMessages onList;
    SentMessages onHeader;
    SetWindowSubclass(list, &RecordMessages, 1, (DWORD_PTR)&onList);
    SetWindowSubclass(control.Header(), &RecordMessages, 1, (DWORD_PTR)&onHeader);
    control.SetRedraw(true);
    control.SetRedraw(false);
    control.SetRedraw(false);
    control.SetRedraw(true);
    EXPECT_EQ(1, control.RedrawDepth());
    EXPECT_EQ(1u, onList.messages.size());
    EXPECT_EQ(1u, onHeader.messages.size());
    control.SetRedraw(true);
    control.SetRedraw(true);
    EXPECT_EQ(0, control.RedrawDepth());
    EXPECT_EQ(2u, onList.messages.size());
    EXPECT_EQ(2u, onHeader.messages.size());
    RemoveWindowSubclass(list, &RecordMessages, 1);
    RemoveWindowSubclass(control.Header(), &RecordMessages, 1);
}

TEST_F(ListViewControlTest, ColumnLayoutSavesAndLoadsBackExactly)
{
    ScopedTestKey key(L"ListViewLayout");
    Attach();
    int order[4] = {2, 0, 3, 1};
    ASSERT_TRUE(SendMessageW(list, LVM_SETCOLUMNORDERARRAY, 4, (LPARAM)order));
    const int widths[4] = {120, 0, 333, 75};
    for (int i = 0; i < 4; ++i)
        SendMessageW(list, LVM_SETCOLUMNWIDTH, (WPARAM)i, widths[i]);
    ASSERT_EQ(1, control.SaveColumns(key.Root(), key.Path(), L"ListView"));

    RegistryKey reader;
    ASSERT_EQ(1, reader.OpenRead(key.Root(), key.Path()));
    DWORD block[8] = {};
    ASSERT_EQ(1, reader.ReadBlock(L"ListView", block, sizeof block)) << "exactly 4 × 8 bytes";
    EXPECT_EQ((std::vector<DWORD>{2, 0, 3, 1, 120, 0, 333, 75}), std::vector<DWORD>(block, block + 8));

    int plain[4] = {0, 1, 2, 3};
    SendMessageW(list, LVM_SETCOLUMNORDERARRAY, 4, (LPARAM)plain);
    for (int i = 0; i < 4; ++i)
        SendMessageW(list, LVM_SETCOLUMNWIDTH, (WPARAM)i, 50);
    ASSERT_EQ(1, control.LoadColumns(key.Root(), key.Path(), L"ListView"));
    int loaded[4] = {};
    SendMessageW(list, LVM_GETCOLUMNORDERARRAY, 4, (LPARAM)loaded);
    EXPECT_EQ((std::vector<int>{2, 0, 3, 1}), std::vector<int>(loaded, loaded + 4));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(widths[i], (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, (WPARAM)i, 0)) << i;
    EXPECT_EQ(0, control.RedrawDepth());
}

TEST_F(ListViewControlTest, DamagedLayoutsAreRefusedWithoutHarm)
{
    ScopedTestKey key(L"ListViewDamaged");
    Attach();
    RegistryKey writer;
    ASSERT_EQ(1, writer.CreateWrite(key.Root(), key.Path()));
    auto layoutUnchanged = [this]() {
        int order[4] = {};
        SendMessageW(list, LVM_GETCOLUMNORDERARRAY, 4, (LPARAM)order);
        for (int i = 0; i < 4; ++i) {
            if (order[i] != i || SendMessageW(list, LVM_GETCOLUMNWIDTH, (WPARAM)i, 0) != (i % 2 ? 200 : 300))
                return false;
        }
        return true;
    };
    ASSERT_TRUE(layoutUnchanged());

    EXPECT_EQ(0, control.LoadColumns(key.Root(), key.Path(), L"ListView")) << "missing";
    DWORD five[10] = {0, 1, 2, 3, 4, 10, 10, 10, 10, 10};
    writer.WriteBlock(L"ListView", five, sizeof five);
    EXPECT_EQ(0, control.LoadColumns(key.Root(), key.Path(), L"ListView")) << "written for five columns";
    struct Case {
        const char* what;
        DWORD block[8];
    } cases[] = {
        {"order out of range", {0, 1, 2, 4, 10, 10, 10, 10}},
        {"order repeated", {0, 1, 1, 3, 10, 10, 10, 10}},
        {"negative order", {0xFFFFFFFF, 1, 2, 3, 10, 10, 10, 10}},
        {"absurd width", {0, 1, 2, 3, 10, 0x7FFFFFFF, 10, 10}},
        {"negative width", {0, 1, 2, 3, 10, 10, 0xFFFFFFF6, 10}},
    };
    for (const Case& c : cases) {
        writer.WriteBlock(L"ListView", c.block, sizeof c.block);
        EXPECT_EQ(0, control.LoadColumns(key.Root(), key.Path(), L"ListView")) << c.what;
        EXPECT_TRUE(layoutUnchanged()) << c.what;
    }
    writer.WriteBlock(L"ListView", five, 31);
    EXPECT_EQ(0, control.LoadColumns(key.Root(), key.Path(), L"ListView")) << "one byte short";
    EXPECT_TRUE(layoutUnchanged());

    // Random blocks of the right size: either a valid layout or nothing.
    srand(4711);
    for (int round = 0; round < 200; ++round) {
        DWORD block[8];
        for (DWORD& value : block)
            value = (DWORD)(rand() % 5 == 0 ? rand() * 65536u + rand() : rand() % 5);
        writer.WriteBlock(L"ListView", block, sizeof block);
        int loaded = control.LoadColumns(key.Root(), key.Path(), L"ListView");
        int order[4] = {};
        SendMessageW(list, LVM_GETCOLUMNORDERARRAY, 4, (LPARAM)order);
        bool seen[4] = {};
        for (int column : order) {
            ASSERT_TRUE(column >= 0 && column < 4);
            ASSERT_FALSE(seen[column]);
            seen[column] = true;
        }
        if (loaded) {
            EXPECT_EQ((int)block[4], (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
        }
    }
    EXPECT_EQ(0, control.RedrawDepth());
}

TEST_F(ListViewControlTest, WidthsAreKeptAt96DpiAcrossScales)
{
    ScopedTestKey key(L"ListViewDpi");
    OptionalApi api(DpiTable());
    fakeDpi = 144;
    control.UseOptionalApi(api);
    Attach();
    EXPECT_DOUBLE_EQ(1.5, control.Scale());
    EXPECT_EQ(450, (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON) * 3 / 2, control.SmallImages().Width());
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, 300);
    ASSERT_EQ(1, control.SaveColumns(key.Root(), key.Path(), L"ListView"));
    RegistryKey reader;
    reader.OpenRead(key.Root(), key.Path());
    DWORD block[8] = {};
    ASSERT_EQ(1, reader.ReadBlock(L"ListView", block, sizeof block));
    EXPECT_EQ(200u, block[4]) << "300 pixels at 144 DPI";

    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, 10);
    ASSERT_EQ(1, control.LoadColumns(key.Root(), key.Path(), L"ListView"));
    EXPECT_EQ(300, (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));

    // The monitor changes to 96 DPI: every column shrinks by the ratio.
    control.AddIcon(IDI_LIST_ITEM);
    fakeDpi = 96;
    SendMessageW(list, WM_DPICHANGED_BEFOREPARENT, 0, 0);
    EXPECT_DOUBLE_EQ(1.0, control.Scale());
    EXPECT_EQ(200, (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
    EXPECT_EQ(300, (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 2, 0)) << "450 at 144 DPI";
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), control.SmallImages().Width());
    EXPECT_EQ(1, control.SmallImages().Count()) << "rows keep their icon";
    EXPECT_EQ(0, control.RedrawDepth());

    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, 10);
    ASSERT_EQ(1, control.LoadColumns(key.Root(), key.Path(), L"ListView"));
    EXPECT_EQ(200, (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
}

TEST_F(ListViewControlTest, KeysAndClicksReachTheCallbacks)
{
    Attach();
    ListEvents events;
    ListViewCallbacks callbacks = {};
    callbacks.keyDown = [](int item, LPARAM param, WORD key, void* user) {
        ListEvents* events = (ListEvents*)user;
        events->calls.push_back("key");
        events->item = item;
        events->param = param;
        events->key = key;
    };
    callbacks.returnKey = [](int item, LPARAM param, void* user) {
        ((ListEvents*)user)->calls.push_back("return " + std::to_string(item));
    };
    callbacks.contextMenu = [](int item, LPARAM param, void* user) {
        ((ListEvents*)user)->calls.push_back("menu " + std::to_string(item) + " " + std::to_string(param));
    };
    control.RegisterCallbacks(callbacks, &events);
    AddRows({L"first", L"second", L"third"});

    SendMessageW(list, WM_KEYDOWN, VK_F5, 0);
    EXPECT_EQ(-1, events.item) << "nothing selected";
    EXPECT_EQ(0, events.param);
    EXPECT_EQ(VK_F5, events.key);
    SendMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ((std::vector<std::string>{"key", "key"}), events.calls)
        << "Enter without a selection is only a key to the control";

    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 1, (LPARAM)&state);
    SendMessageW(list, WM_KEYDOWN, 'C', 0);
    EXPECT_EQ(1, events.item);
    EXPECT_EQ(2, events.param);
    SendMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ("return 1", events.calls.back());

    // Right click on empty space below the rows; the control waits for the
    // button to come up before it reports the click.
    PostMessageW(list, WM_RBUTTONUP, 0, MAKELPARAM(200, 300));
    SendMessageW(list, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(200, 300));
    ControlHost::Pump();
    int menus = 0;
    for (const std::string& call : events.calls)
        menus += call.rfind("menu", 0) == 0;
    EXPECT_GE(menus, 1);

    // Ctrl+A selects everything; A alone is swallowed. (The click on empty
    // space cleared the selection.)
    SendMessageW(list, LVM_SETITEMSTATE, 1, (LPARAM)&state);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    SendMessageW(list, WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(1, (int)SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
    BYTE pressed[256];
    memcpy(pressed, keys, sizeof pressed);
    pressed[VK_CONTROL] = 0x80;
    SetKeyboardState(pressed);
    SendMessageW(list, WM_KEYDOWN, 'A', 0);
    SetKeyboardState(keys);
    EXPECT_EQ(3, (int)SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
    EXPECT_EQ(0, control.RedrawDepth());
}

// Ends the header menu from inside its own loop after looking at it.
ListViewControl* menuList = nullptr;
UINT menuFirstState = 0;
UINT menuSecondState = 0;
void CALLBACK LookAtMenuThenClose(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    menuFirstState = menuList->Menu().ItemState(ListViewControl::ColumnMenuFirstId, PopupMenu::ByCommand);
    menuSecondState = menuList->Menu().ItemState(ListViewControl::ColumnMenuFirstId + 1, PopupMenu::ByCommand);
    EndMenu();
}

TEST_F(ListViewControlTest, HeaderMenuShowsAndTogglesColumns)
{
    Attach(MainWindowOptions | ListViewControl::ColumnMenu);
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, 0);
    menuList = &control;
    SetTimer(host.Window(), 77, 50, &LookAtMenuThenClose);
    NMHDR click = {control.Header(), 0, (UINT)NM_RCLICK};
    SendMessageW(list, WM_NOTIFY, 0, (LPARAM)&click);
    ControlHost::Pump();
    EXPECT_TRUE(menuFirstState & MF_CHECKED) << "a visible column is checked";
    EXPECT_FALSE(menuSecondState & MF_CHECKED) << "a hidden one is not";

    SendMessageW(list, WM_COMMAND, ListViewControl::ColumnMenuFirstId, 0);
    EXPECT_EQ(0, (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0)) << "checked: hidden";
    SendMessageW(list, WM_COMMAND, ListViewControl::ColumnMenuFirstId + 1, 0);
    EXPECT_EQ(100, (int)SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0)) << "unchecked: shown";
    SendMessageW(list, WM_COMMAND, ListViewControl::ColumnMenuFirstId + 9, 0);
    EXPECT_EQ(4, control.HeaderItemCount()) << "no such column: nothing happens";
}

} // namespace
