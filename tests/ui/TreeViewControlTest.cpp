#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string.h>
#include <vector>

#include "ControlHost.h"
#include "devices/DeviceTree.h"
#include "ui/TreeViewControl.h"
#include "ui/uitest.h"
#include "ui/wrappers.h"

namespace {

const DWORD TreeStyle = TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | WS_TABSTOP;

// What the callbacks saw, in order.
struct TreeEvents {
    std::vector<LPARAM> selected;
    std::vector<LPARAM> selecting;
    std::vector<LPARAM> collapsing;
    std::vector<HTREEITEM> contextItems;
    std::vector<WORD> keys;
    std::vector<DWORD> drawStages;
    int beginEdits = 0;
    int endEdits = 0;
    bool hookedDuringEnd = true;
    TreeViewControl* control = nullptr;
};

// A DPI the test can change, behind GetDpiForWindow and GetSystemMetricsForDpi.
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

// TVM_GETITEMRECT takes the item in the rectangle it fills.
RECT ItemRect(HWND tree, HTREEITEM item)
{
    RECT rect = {};
    memcpy(&rect, &item, sizeof item);
    if (!SendMessageW(tree, TVM_GETITEMRECT, TRUE, (LPARAM)&rect))
        return RECT{};
    return rect;
}

LRESULT CALLBACK CountRedraws(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR data)
{
    if (message == WM_SETREDRAW)
        ((std::vector<WPARAM>*)data)->push_back(wParam);
    return DefSubclassProc(window, message, wParam, lParam);
}

class TreeViewControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakeDpi = 96;
        host.SetHandler([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
            if (message == WM_NOTIFY)
                return control.OnNotify(host.Window(), wParam, lParam, result);
            return 0;
        });
        events.control = &control;
    }

    void Attach(DWORD options, DWORD extraStyle = 0)
    {
        tree = host.CreateChild(WC_TREEVIEWW, TreeStyle | extraStyle, 1004);
        ASSERT_TRUE(tree);
        ASSERT_EQ(1, control.Init(tree, GetModuleHandleW(nullptr), options));
    }

    HTREEITEM Add(HTREEITEM parent, const wchar_t* text, LPARAM param, int image = 0)
    {
        return control.InsertItem(parent, TVI_LAST, text, image, image, 0, param, 0);
    }

    HTREEITEM Child(HTREEITEM item) const
    {
        return (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item);
    }

    bool IsExpanded(HTREEITEM item) const
    {
        return (SendMessageW(tree, TVM_GETITEMSTATE, (WPARAM)item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    }

    // A right click as the mouse gives it: the control waits for the button
    // to come up before it reports the click.
    void RightClick(HTREEITEM item)
    {
        RECT rect = ItemRect(tree, item);
        ASSERT_GT(rect.bottom, rect.top);
        LPARAM point = MAKELPARAM(rect.left + 3, (rect.top + rect.bottom) / 2);
        PostMessageW(tree, WM_RBUTTONUP, 0, point);
        SendMessageW(tree, WM_RBUTTONDOWN, MK_RBUTTON, point);
        ControlHost::Pump();
    }

    ControlHost host;
    // The events outlive the control: its detach at the end of a test
    // still deletes items and repaints, and the callbacks record that.
    TreeEvents events;
    TreeViewControl control;
    HWND tree = nullptr;
};

TEST_F(TreeViewControlTest, ItemsImagesAndExpansionReadBackFromTheControl)
{
    Attach(TreeViewControl::KeepChildrenOnCollapse);
    EXPECT_EQ(TreeViewControl::KeepChildrenOnCollapse, control.Flags());
    ASSERT_TRUE(control.Images().Handle());
    EXPECT_EQ((HIMAGELIST)SendMessageW(tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0), control.Images().Handle());
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), control.Images().Width());

    EXPECT_EQ(0, control.AddIconResource(IDI_TEST));
    HICON copy = (HICON)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_COPY), IMAGE_ICON, 32, 32, 0);
    ASSERT_TRUE(copy);
    EXPECT_EQ(1, control.AddIcon(copy));
    DestroyIcon(copy);
    EXPECT_EQ(-1, control.AddIconResource(9999));
    EXPECT_EQ(2, control.Images().Count());

    HTREEITEM root = Add(TVI_ROOT, L"Root", 11, 0);
    HTREEITEM child = Add(root, L"Disk drive", 22, 1);
    HTREEITEM leaf = Add(child, L"Partition", 33, 1);
    ASSERT_TRUE(root && child && leaf);
    EXPECT_TRUE(control.SetItemChildren(root, 1));
    EXPECT_TRUE(control.SetItemChildren(child, 1));
    EXPECT_TRUE(control.Expand(root, TVE_EXPAND));

    WideString text;
    TVITEMW item = {};
    ASSERT_EQ(1, control.GetItem(child, TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE |
                                            TVIF_CHILDREN | TVIF_STATE, &item, &text));
    EXPECT_STREQ(L"Disk drive", text.Text());
    EXPECT_EQ(22, item.lParam);
    EXPECT_EQ(1, item.iImage);
    EXPECT_EQ(1, item.iSelectedImage);
    EXPECT_EQ(1, item.cChildren);
    ASSERT_EQ(1, control.GetItem(leaf, TVIF_CHILDREN, &item, nullptr));
    EXPECT_EQ(0, item.cChildren);
    EXPECT_TRUE(IsExpanded(root));
    EXPECT_FALSE(IsExpanded(child));
    EXPECT_EQ(child, Child(root));

    EXPECT_EQ(0, control.SelectedItemText(text, nullptr));
    ASSERT_EQ(1, control.Select(child));
    LPARAM param = 0;
    ASSERT_EQ(1, control.SelectedItemText(text, &param));
    EXPECT_STREQ(L"Disk drive", text.Text());
    EXPECT_EQ(22, param);

    EXPECT_EQ(1, control.SetItem(child, TVIF_TEXT | TVIF_IMAGE, 0, 0, L"Renamed", 0, 0, 0, 0));
    ASSERT_EQ(1, control.GetItem(child, TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM, &item, &text));
    EXPECT_STREQ(L"Renamed", text.Text());
    EXPECT_EQ(0, item.iImage);
    EXPECT_EQ(22, item.lParam); // not in the mask, so untouched

    control.Clear();
    EXPECT_EQ(0, (int)SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    EXPECT_EQ(0, control.Images().Count());
}

TEST_F(TreeViewControlTest, ClearingKeepsTheImagesWhenAsked)
{
    Attach(TreeViewControl::KeepImagesOnClear);
    control.AddIconResource(IDI_TEST);
    Add(TVI_ROOT, L"Root", 1);
    control.Clear();
    EXPECT_EQ(0, (int)SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    EXPECT_EQ(1, control.Images().Count());
}

TEST_F(TreeViewControlTest, RealSelectionReachesTheSelectionCallbacks)
{
    Attach(4);
    TreeItemCallbacks callbacks = {};
    callbacks.selectionChanged = [](const TVITEMW* item, void* user) {
        ((TreeEvents*)user)->selected.push_back(item->lParam);
    };
    callbacks.selectionChanging = [](const TVITEMW* item, void* user) {
        ((TreeEvents*)user)->selecting.push_back(item->lParam);
    };
    control.RegisterItemCallbacks(callbacks, &events);
    HTREEITEM first = Add(TVI_ROOT, L"First", 100);
    HTREEITEM second = Add(TVI_ROOT, L"Second", 200);

    ASSERT_TRUE(SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)first));
    ASSERT_EQ(1, control.Select(second));
    EXPECT_EQ((std::vector<LPARAM>{100, 200}), events.selected);
    EXPECT_EQ((std::vector<LPARAM>{100, 200}), events.selecting);

    // The keyboard moves the selection as well.
    SendMessageW(tree, WM_KEYDOWN, VK_UP, 0);
    ASSERT_EQ(3u, events.selected.size());
    EXPECT_EQ(100, events.selected.back());
}

TEST_F(TreeViewControlTest, RightClickReportsTheDropHighlightedItemElseTheSelection)
{
    Attach(4);
    TreeInputCallbacks input = {};
    input.contextMenu = [](HTREEITEM item, void* user) { ((TreeEvents*)user)->contextItems.push_back(item); };
    control.RegisterInputCallbacks(input, &events);
    HTREEITEM selected = Add(TVI_ROOT, L"Selected", 1);
    HTREEITEM target = Add(TVI_ROOT, L"Under the mouse", 2);
    ASSERT_EQ(1, control.Select(selected));

    // Windows marks the item under the right button as drop target while
    // the click is reported; Wine does not, so the mark is set here.
    ASSERT_TRUE(SendMessageW(tree, TVM_SELECTITEM, TVGN_DROPHILITE, (LPARAM)target));
    RightClick(target);
    ASSERT_EQ(1u, events.contextItems.size());
    EXPECT_EQ(target, events.contextItems[0]);
    EXPECT_EQ(selected, control.SelectedItem());

    SendMessageW(tree, TVM_SELECTITEM, TVGN_DROPHILITE, 0);
    RightClick(target);
    ASSERT_EQ(2u, events.contextItems.size());
    EXPECT_EQ(selected, events.contextItems[1]);
}

TEST_F(TreeViewControlTest, KeysReachTheKeyCallbackAndOtherControlsAreNotHandled)
{
    Attach(4);
    HTREEITEM item = Add(TVI_ROOT, L"Item", 1);
    control.Select(item);

    // No key callback yet: the notification is the control's own business.
    NMTVKEYDOWN key = {};
    key.hdr.hwndFrom = tree;
    key.hdr.idFrom = 1004;
    key.hdr.code = TVN_KEYDOWN;
    key.wVKey = VK_F5;
    LRESULT result = 0;
    EXPECT_EQ(0, control.OnNotify(host.Window(), 1004, (LPARAM)&key, &result));

    TreeInputCallbacks input = {};
    input.keyDown = [](WORD key, void* user) { ((TreeEvents*)user)->keys.push_back(key); };
    control.RegisterInputCallbacks(input, &events);
    SendMessageW(tree, WM_KEYDOWN, VK_F5, 0);
    SendMessageW(tree, WM_KEYDOWN, 'C', 0);
    EXPECT_EQ((std::vector<WORD>{VK_F5, 'C'}), events.keys);

    key.hdr.hwndFrom = host.Window();
    EXPECT_EQ(0, control.OnNotify(host.Window(), 1004, (LPARAM)&key, &result));
    EXPECT_EQ(2u, events.keys.size());
}

TEST_F(TreeViewControlTest, CustomDrawColoursTheItemsTheOwnerPicks)
{
    Attach(4);
    TreeInputCallbacks input = {};
    input.customDraw = [](NMTVCUSTOMDRAW* draw, LRESULT* result, void* user) {
        ((TreeEvents*)user)->drawStages.push_back(draw->nmcd.dwDrawStage);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
            *result = CDRF_NOTIFYITEMDRAW;
            return 1;
        }
        if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT && draw->nmcd.lItemlParam == 2) {
            draw->clrText = 0x0000EC;
            *result = CDRF_DODEFAULT;
            return 1;
        }
        return 0;
    };
    control.RegisterInputCallbacks(input, &events);
    Add(TVI_ROOT, L"Healthy device", 1);
    HTREEITEM problem = Add(TVI_ROOT, L"MMMMMMMMMMMM", 2);
    InvalidateRect(tree, nullptr, TRUE);
    UpdateWindow(tree);

    int itemPaints = 0;
    for (DWORD stage : events.drawStages)
        itemPaints += stage == CDDS_ITEMPREPAINT;
    ASSERT_FALSE(events.drawStages.empty());
    EXPECT_EQ((DWORD)CDDS_PREPAINT, events.drawStages[0]);
    EXPECT_GE(itemPaints, 2);

    RECT rect = ItemRect(tree, problem);
    ASSERT_GT(rect.bottom, rect.top);
    int red = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            red += ClientPixel(tree, x, y) == 0x0000EC;
    EXPECT_GT(red, 0) << "the problem item's text is drawn in red";
}

TEST_F(TreeViewControlTest, RedrawSuspensionNests)
{
    Attach(4);
    std::vector<WPARAM> redraws;
    SetWindowSubclass(tree, &CountRedraws, 1, (DWORD_PTR)&redraws);

    control.SetRedraw(true); // nothing to resume
    EXPECT_TRUE(redraws.empty());
    control.SetRedraw(false);
    control.SetRedraw(false);
    EXPECT_EQ(2, control.RedrawDepth());
    control.SetRedraw(true);
    EXPECT_EQ(1, control.RedrawDepth());
    EXPECT_EQ((std::vector<WPARAM>{FALSE}), redraws);
    control.SetRedraw(true);
    control.SetRedraw(true);
    EXPECT_EQ(0, control.RedrawDepth());
    EXPECT_EQ((std::vector<WPARAM>{FALSE, TRUE}), redraws);
    RemoveWindowSubclass(tree, &CountRedraws, 1);
}

// Collapsing by the keyboard, as the user does it.
void CollapseByKey(HWND tree, TreeViewControl& control, HTREEITEM item)
{
    control.Select(item);
    SendMessageW(tree, WM_KEYDOWN, VK_LEFT, 0);
}

TEST_F(TreeViewControlTest, CollapsingKeepsTheChildrenOnlyWithTheOption)
{
    TreeItemCallbacks callbacks = {};
    callbacks.collapsing = [](const TVITEMW* item, void* user) {
        ((TreeEvents*)user)->collapsing.push_back(item->lParam);
    };
    for (DWORD options : {DWORD(TreeViewControl::KeepChildrenOnCollapse), DWORD(0)}) {
        SCOPED_TRACE(options);
        if (tree) {
            control.Detach();
            DestroyWindow(tree);
        }
        events.collapsing.clear();
        Attach(options);
        control.RegisterItemCallbacks(callbacks, &events);
        HTREEITEM parent = Add(TVI_ROOT, L"Parent", 7);
        Add(parent, L"Child", 8);
        control.SetItemChildren(parent, 1);
        control.Expand(parent, TVE_EXPAND);
        ASSERT_TRUE(IsExpanded(parent));

        CollapseByKey(tree, control, parent);
        EXPECT_EQ((std::vector<LPARAM>{7}), events.collapsing);
        EXPECT_FALSE(IsExpanded(parent));
        if (options)
            EXPECT_TRUE(Child(parent)) << "the child survives the collapse";
        else
            EXPECT_FALSE(Child(parent)) << "the collapse resets the item";
    }
}

TEST_F(TreeViewControlTest, LabelEditorWantsAllKeysWhileEditing)
{
    Attach(4, TVS_EDITLABELS);
    TreeInputCallbacks input = {};
    input.beginLabelEdit = [](NMTVDISPINFOW*, void* user) -> LRESULT {
        ((TreeEvents*)user)->beginEdits++;
        return 0;
    };
    input.endLabelEdit = [](NMTVDISPINFOW*, void* user) -> LRESULT {
        TreeEvents* events = (TreeEvents*)user;
        events->endEdits++;
        events->hookedDuringEnd = events->control->IsEditingLabel();
        return 0;
    };
    control.RegisterInputCallbacks(input, &events);
    HTREEITEM item = Add(TVI_ROOT, L"Editable", 1);
    SetFocus(tree);
    HWND edit = (HWND)SendMessageW(tree, TVM_EDITLABELW, 0, (LPARAM)item);
    ASSERT_TRUE(edit);
    EXPECT_EQ(1, events.beginEdits);
    EXPECT_TRUE(control.IsEditingLabel());
    EXPECT_EQ(DLGC_WANTALLKEYS, SendMessageW(edit, WM_GETDLGCODE, 0, 0));

    SendMessageW(tree, TVM_ENDEDITLABELNOW, TRUE, 0);
    ControlHost::Pump();
    EXPECT_GE(events.endEdits, 1); // Wine reports the end once more when the editor goes
    EXPECT_FALSE(events.hookedDuringEnd) << "the hook is gone before the owner hears of the end";
    EXPECT_FALSE(control.IsEditingLabel());
}

TEST_F(TreeViewControlTest, DpiChangeKeepsHeightIndentAndIcons)
{
    OptionalApi api(DpiTable());
    control.UseOptionalApi(api);
    Attach(4, TVS_NONEVENHEIGHT); // else the control rounds 27 down to 26
    control.AddIconResource(IDI_TEST);
    control.AddIconResource(IDI_COPY);
    int indent = (int)SendMessageW(tree, TVM_GETINDENT, 0, 0);
    EXPECT_EQ(indent, control.Indent96());
    ASSERT_EQ(1, control.SetItemHeight(18));
    EXPECT_EQ(18, (int)SendMessageW(tree, TVM_GETITEMHEIGHT, 0, 0));

    fakeDpi = 144;
    ASSERT_EQ(1, control.OnDpiChanged());
    EXPECT_DOUBLE_EQ(1.5, control.Scale());
    EXPECT_EQ(27, (int)SendMessageW(tree, TVM_GETITEMHEIGHT, 0, 0));
    EXPECT_EQ(indent * 3 / 2, (int)SendMessageW(tree, TVM_GETINDENT, 0, 0));
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON) * 3 / 2, control.Images().Width());
    EXPECT_EQ(2, control.Images().Count()) << "items keep their icons";
    EXPECT_EQ((HIMAGELIST)SendMessageW(tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0), control.Images().Handle());

    fakeDpi = 96;
    ASSERT_EQ(1, control.OnDpiChanged());
    EXPECT_EQ(18, (int)SendMessageW(tree, TVM_GETITEMHEIGHT, 0, 0));
}

TEST_F(TreeViewControlTest, DetachEmptiesTheTreeAndLetsGoOfTheImageList)
{
    Attach(TreeViewControl::CheckBoxes | 4);
    EXPECT_TRUE(GetWindowLongW(tree, GWL_STYLE) & TVS_CHECKBOXES);
    Add(TVI_ROOT, L"Item", 1);
    ASSERT_EQ(1, control.Detach());
    EXPECT_EQ(0, (int)SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    EXPECT_FALSE(SendMessageW(tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0));
    EXPECT_FALSE(control.Window());
    EXPECT_EQ(0, control.Detach());
    EXPECT_EQ(nullptr, control.InsertItem(TVI_ROOT, TVI_LAST, L"late", 0, 0, 0, 0, 0));
    // A new attach works on the same control.
    EXPECT_EQ(1, control.Init(tree, GetModuleHandleW(nullptr), 4));
}

// The device model fills the real control through its sink interface.
TEST_F(TreeViewControlTest, DeviceModelRebuildsIntoTheRealTree)
{
    Attach(4);
    DeviceTree model;
    DeviceNode* root = new DeviceNode(&model, 1);
    model.TopLevel().Append(root);
    DeviceNode* controller = new DeviceNode(&model, 2);
    controller->name = L"Storage controller";
    controller->icon = (HICON)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_COPY), IMAGE_ICON, 32, 32, 0);
    root->children.Append(controller);
    DeviceNode* disk = new DeviceNode(&model, 3);
    disk->name = L"Disk drive";
    controller->children.Append(disk);
    DeviceNode* volume = new DeviceNode(&model, 4);
    volume->name = L"Volume";
    disk->children.Append(volume);
    DeviceNode* keyboard = new DeviceNode(&model, 5);
    keyboard->name = L"Keyboard";
    root->children.Append(keyboard);

    // With a filter the cached nodes are shown without asking the system.
    model.RebuildTree(control, L"disk");
    EXPECT_EQ(0, control.RedrawDepth());
    EXPECT_EQ(4, (int)SendMessageW(tree, TVM_GETCOUNT, 0, 0)) << "Root, controller, disk, volume";
    HTREEITEM rootItem = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    ASSERT_TRUE(rootItem);
    WideString text;
    TVITEMW item = {};
    ASSERT_EQ(1, control.GetItem(rootItem, TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE, &item, &text));
    EXPECT_STREQ(L"Root", text.Text());
    EXPECT_EQ((LPARAM)root, item.lParam);
    EXPECT_EQ(1, item.cChildren);
    EXPECT_EQ(model.DefaultImage(), item.iImage);
    EXPECT_TRUE(IsExpanded(rootItem));

    HTREEITEM controllerItem = Child(rootItem);
    ASSERT_EQ(1, control.GetItem(controllerItem, TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE, &item, &text));
    EXPECT_STREQ(L"Storage controller", text.Text());
    EXPECT_NE(model.DefaultImage(), item.iImage) << "the class icon was added";
    EXPECT_EQ(item.iImage, item.iSelectedImage);
    EXPECT_FALSE(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)controllerItem)) << "no keyboard";

    HTREEITEM volumeItem = Child(Child(controllerItem));
    ASSERT_EQ(1, control.GetItem(volumeItem, TVIF_TEXT | TVIF_CHILDREN, &item, &text));
    EXPECT_STREQ(L"Volume", text.Text());
    EXPECT_EQ(0, item.cChildren);
    EXPECT_EQ(2, control.Images().Count());
    // As expanding each item once its children are in leaves them: the
    // parents open and marked as opened once, the leaf neither.
    const LRESULT opened = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    for (HTREEITEM parent : {rootItem, controllerItem, Child(controllerItem)})
        EXPECT_EQ(opened, SendMessageW(tree, TVM_GETITEMSTATE, (WPARAM)parent, opened));
    EXPECT_EQ(0, SendMessageW(tree, TVM_GETITEMSTATE, (WPARAM)volumeItem, opened));

    // Again with another filter: the items start afresh, the images stay.
    model.RebuildTree(control, L"keyb");
    EXPECT_EQ(2, (int)SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    EXPECT_EQ(2, control.Images().Count());
    // Emptied by someone else, the list gets its images again.
    control.RemoveAllImages();
    model.RebuildTree(control, L"stor");
    EXPECT_EQ(2, control.Images().Count());
    controllerItem = Child((HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    ASSERT_EQ(1, control.GetItem(controllerItem, TVIF_IMAGE, &item, &text));
    EXPECT_EQ(1, item.iImage);
    control.Detach(); // items go before the nodes do
}

} // namespace
