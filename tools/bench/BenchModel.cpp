// Measures the device model against bare control work on large simulated
// machines: an unfiltered rebuild, filtered rebuilds per keystroke and one
// property list fill. Each figure is printed with its ratio to a baseline
// measured in the same run: the very same tree and list operations, recorded
// once and replayed straight into the controls without the model.
//
// Run with WINEDLLOVERRIDES=setupapi=n,b from build/bin (./build.sh bench).

#include <windows.h>
#include <commctrl.h>
#include <math.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "devices/DeviceTree.h"
#include "ui/ListViewControl.h"
#include "ui/TreeViewControl.h"

namespace {

double Now()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

// A tree sink that forwards to the real wrapper and keeps what it was asked,
// so the same work can be replayed without the model.
struct TreeOperation {
    int parent; // index of the parent insertion, -1 for the root
    std::wstring text;
    bool hasIcon;
};

class RecordingTree : public TreeSink {
public:
    explicit RecordingTree(TreeSink& target) : target_(target) {}
    void SetRedraw(bool on) override { target_.SetRedraw(on); }
    void DeleteAllItems() override { target_.DeleteAllItems(); inserted_.clear(); items.clear(); }
    void RemoveAllImages() override { target_.RemoveAllImages(); }
    int AddIconResource(int id) override { return target_.AddIconResource(id); }
    int AddIcon(HICON icon) override
    {
        pendingIcon_ = true;
        return target_.AddIcon(icon);
    }
    HTREEITEM InsertItem(HTREEITEM parent, HTREEITEM after, const wchar_t* text, int image,
                         int selected, int children, LPARAM param) override
    {
        HTREEITEM item = target_.InsertItem(parent, after, text, image, selected, children, param);
        int parentIndex = -1;
        for (int i = (int)inserted_.size() - 1; i >= 0 && parent != TVI_ROOT; --i)
            if (inserted_[i] == parent) {
                parentIndex = i;
                break;
            }
        items.push_back({parentIndex, text, pendingIcon_});
        pendingIcon_ = false;
        inserted_.push_back(item);
        return item;
    }
    bool SetItemChildren(HTREEITEM item, int children) override
    {
        return target_.SetItemChildren(item, children);
    }
    bool Expand(HTREEITEM item, UINT action) override { return target_.Expand(item, action); }

    std::vector<TreeOperation> items;

private:
    TreeSink& target_;
    std::vector<HTREEITEM> inserted_;
    bool pendingIcon_ = false;
};

// The bare work: the same items, images, child flags and expansions sent
// straight to the control.
void ReplayTree(HWND tree, HIMAGELIST images, HICON icon, const std::vector<TreeOperation>& items)
{
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    SendMessageW(tree, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);
    ImageList_RemoveAll(images);
    ImageList_ReplaceIcon(images, -1, icon);
    std::vector<HTREEITEM> handles(items.size());
    std::vector<bool> hasChildren(items.size());
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].parent >= 0)
            hasChildren[items[i].parent] = true;
    for (size_t i = 0; i < items.size(); ++i) {
        int image = items[i].hasIcon ? ImageList_ReplaceIcon(images, -1, icon) : 0;
        TVINSERTSTRUCTW insert = {};
        insert.hParent = items[i].parent >= 0 ? handles[items[i].parent] : TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
        insert.item.pszText = (LPWSTR)items[i].text.c_str();
        insert.item.iImage = insert.item.iSelectedImage = image;
        handles[i] = (HTREEITEM)SendMessageW(tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
    }
    // children flags and expansion, children before parents as the model does
    for (size_t i = items.size(); i-- > 0;) {
        if (hasChildren[i]) {
            TVITEMW set = {};
            set.mask = TVIF_CHILDREN;
            set.hItem = handles[i];
            set.cChildren = 1;
            SendMessageW(tree, TVM_SETITEMW, 0, (LPARAM)&set);
        }
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)handles[i]);
    }
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree, nullptr, TRUE);
    UpdateWindow(tree);
}

struct ListRow {
    std::wstring cells[4];
    int group;
};

class RecordingList : public ListSink {
public:
    explicit RecordingList(ListSink& target) : target_(target) {}
    void DeleteAllItems(bool keep) override { target_.DeleteAllItems(keep); rows.clear(); }
    void SetRedraw(bool on) override { target_.SetRedraw(on); }
    int InsertItem(int index, int image, const wchar_t* text, LPARAM param, int group) override
    {
        rows.push_back({{text, L"", L"", L""}, group});
        return target_.InsertItem(index, image, text, param, group);
    }
    bool SetItemText(int item, int column, const wchar_t* text) override
    {
        if (!rows.empty())
            rows.back().cells[column] = text;
        return target_.SetItemText(item, column, text);
    }
    void Resort() override { target_.Resort(); }

    std::vector<ListRow> rows;

private:
    ListSink& target_;
};

void ReplayList(ListViewControl& list, const std::vector<ListRow>& rows)
{
    HWND control = list.Window();
    SendMessageW(control, WM_SETREDRAW, FALSE, 0);
    SendMessageW(control, LVM_DELETEALLITEMS, 0, 0);
    for (const ListRow& row : rows) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
        item.iItem = 0x7FFFFFFF;
        item.pszText = (LPWSTR)row.cells[0].c_str();
        int index = (int)SendMessageW(control, LVM_INSERTITEMW, 0, (LPARAM)&item);
        for (int column = 1; column < 4; ++column) {
            LVITEMW text = {};
            text.iSubItem = column;
            text.pszText = (LPWSTR)row.cells[column].c_str();
            SendMessageW(control, LVM_SETITEMTEXTW, index, (LPARAM)&text);
        }
    }
    list.Resort();
    SendMessageW(control, WM_SETREDRAW, TRUE, 0);
    UpdateWindow(control);
}

template <class Work> double Best(int rounds, Work work)
{
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        double start = Now();
        work();
        double elapsed = Now() - start;
        if (elapsed < best)
            best = elapsed;
    }
    return best;
}

void Report(const char* what, double model, double baseline)
{
    printf("  %-44s %9.2f ms   baseline %9.2f ms   ratio %.2f\n", what, model, baseline,
           baseline > 0 ? model / baseline : 0.0);
}

// How many items a filtered rebuild shows: the matches, their ancestors and
// the whole subtree of each match.
int ShownCount(const wchar_t* filter, DeviceNode* first, int check)
{
    int shown = 0;
    for (DeviceNode* node = first; node; node = node->next) {
        int match = check ? DeviceTree::MatchFilter(filter, node) : 0;
        if (match == 2)
            continue;
        shown += 1 + ShownCount(filter, node->children.First(), match);
    }
    return shown;
}

// The candidate filter whose rebuild shows the share of nodes closest to `share`.
std::wstring FilterShowing(DeviceTree& model, int total, double share)
{
    const wchar_t* candidates[] = {L"USB", L"HID", L"Disk", L"Volume", L"PCI", L"Audio",
                                   L"Network", L"Device", L"Intel", L"Port", L"Hub",
                                   L"Keyboard", L"Mouse", L"Monitor", L"Storage", L"e", L"a"};
    std::wstring best = L"e";
    double bestDistance = 1e9;
    for (const wchar_t* candidate : candidates) {
        int shown = ShownCount(candidate, model.TopLevel().First(), 2);
        double distance = fabs((double)shown / total - share);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

void RunMachine(const wchar_t* file, HWND treeWindow, HWND listWindow, int rounds)
{
    wchar_t path[MAX_PATH];
    GetFullPathNameW(file, MAX_PATH, path, nullptr);
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", path);

    TreeViewControl tree;
    tree.Init(treeWindow, GetModuleHandleW(nullptr), TreeViewControl::KeepChildrenOnCollapse);
    ListViewControl list;
    list.Init(listWindow, GetModuleHandleW(nullptr), 0x10C, 0, 0, 0, 0);
    const wchar_t* titles[] = {L"Key", L"Key Details", L"Value", L"Value Details"};
    for (int i = 0; i < 4; ++i)
        list.InsertColumn(titles[i], i, 200, 0, 0);
    list.SortBy(0, true);

    DeviceTree model;
    model.Start();
    RecordingTree recording(tree);
    model.RebuildTree(recording, nullptr); // warm: loads the machine and its registry
    std::vector<TreeOperation> all = recording.items;
    if (all.empty()) {
        printf("%ls: the simulator offered no devices\n", file);
        return;
    }
    printf("%ls: %u devnodes\n", file, (unsigned)all.size());
    HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
    HIMAGELIST images = (HIMAGELIST)SendMessageW(treeWindow, TVM_GETIMAGELIST, TVSIL_NORMAL, 0);

    double model1 = Best(rounds, [&]() { model.RebuildTree(tree, nullptr); });
    double base1 = Best(rounds, [&]() { ReplayTree(treeWindow, images, icon, all); });
    Report("unfiltered rebuild (reads the machine)", model1, base1);

    const double shares[] = {0.10, 0.90};
    const char* labels[] = {"filtered rebuild, ~10% match", "filtered rebuild, most match"};
    for (int i = 0; i < 2; ++i) {
        std::wstring filter = FilterShowing(model, (int)all.size(), shares[i]);
        RecordingTree filtered(tree);
        model.RebuildTree(filtered, filter.c_str());
        std::vector<TreeOperation> shown = filtered.items;
        double modelTime = Best(rounds, [&]() { model.RebuildTree(tree, filter.c_str()); });
        double baseTime = Best(rounds, [&]() { ReplayTree(treeWindow, images, icon, shown); });
        char label[128];
        sprintf(label, "%s (\"%ls\", %u shown)", labels[i], filter.c_str(), (unsigned)shown.size());
        Report(label, modelTime, baseTime);
    }

    // The device with 200 properties.
    DeviceNode* busiest = nullptr;
    std::vector<DeviceNode*> stack = {model.TopLevel().First()};
    while (!stack.empty() && !busiest) {
        DeviceNode* node = stack.back();
        stack.pop_back();
        for (DeviceNode* n = node; n; n = n->next) {
            WideString id;
            if (n->InstanceId(id) && id.Find(L"DEV_15F3&SUBSYS_00008086") >= 0) {
                busiest = n;
                break;
            }
            if (n->children.First())
                stack.push_back(n->children.First());
        }
    }
    if (busiest) {
        RecordingList rows(list);
        model.FillPropertyList(rows, busiest);
        std::vector<ListRow> recorded = rows.rows;
        double fill = Best(rounds, [&]() { model.FillPropertyList(list, busiest); });
        double replay = Best(rounds, [&]() { ReplayList(list, recorded); });
        char label[128];
        sprintf(label, "property list fill (%u rows)", (unsigned)recorded.size());
        Report(label, fill, replay);
    }
    model.Stop();
    tree.Detach();
    list.Detach();
}

} // namespace

// Arguments: machine files (default: the 5,000- and 20,000-node machines).
int wmain(int argc, wchar_t** argv)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HWND frame = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 1000, 700, nullptr, nullptr, nullptr, nullptr);
    HWND tree = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | 0x27, 0, 0, 400, 650,
                                frame, (HMENU)1004, nullptr, nullptr);
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 410, 0,
                                580, 650, frame, (HMENU)1005, nullptr, nullptr);
    printf("Quillmere model benchmark (best of several rounds; ratio = model / bare controls)\n");
    if (argc > 1) {
        for (int i = 1; i < argc; ++i)
            RunMachine(argv[i], tree, list, 1);
    } else {
        RunMachine(L"machine_5000.txt", tree, list, 2);
        RunMachine(L"machine_20000.txt", tree, list, 1);
    }
    DestroyWindow(frame);
    return 0;
}
