#include "app/MainWindow.h"
#include "app/Clipboard.h"
#include "app/Deployment.h"
#include "app/SnapshotFileDialog.h"
#include "app/SnapshotMessages.h"
#include "properties/PropertyList.h"
#include "report/CrashReporter.h"
#include "resources/resource.h"
#include "services/RegistryKey.h"
#include "snapshot/SnapshotCapture.h"
#include "snapshot/SnapshotFile.h"
#include "snapshot/SnapshotReader.h"
#include "snapshot/SnapshotWriter.h"
#include "snapshot/ThisComputer.h"
#include "ui/SavedColumnLayout.h"
#include "ui/VersionText.h"
#include "update/ProgramStart.h"
#include "update/UpdateRecovery.h"
#include "update/UpdateSignature.h"

#include <shellapi.h>

#include <commctrl.h>
#include <wchar.h>
#include <windowsx.h>

namespace {

struct GroupTitle {
    const wchar_t* title;
    int id;
};

// The groups in the order they are shown.
const GroupTitle Groups[] = {
    {L"Miscellaneous", GroupMiscellaneous},
    {L"Class Properties", GroupClassProperties},
    {L"Device Properties", GroupDeviceProperties},
    {L"Registry Properties", GroupRegistryProperties},
    {L"Device Registry", GroupDeviceRegistry},
    {L"Driver Registry", GroupDriverRegistry},
    {L"Installer Registry", GroupInstallerRegistry},
    {L"Interface Registry", GroupInterfaceRegistry},
};

struct ColumnTitle {
    const wchar_t* title;
    int width;
};

const ColumnTitle Columns[] = {
    {L"Key", 300},
    {L"Key Details", 200},
    {L"Value", 300},
    {L"Value Details", 200},
};

const DWORD TreeOptions = TreeViewControl::KeepChildrenOnCollapse;
const DWORD ListOptions = ListViewControl::SortOnColumnClick | ListViewControl::SortArrows |
                          ListViewControl::NoSelectedColumn;
const DWORD TreeExtendedStyle = TVS_EX_DOUBLEBUFFER | TVS_EX_FADEINOUTEXPANDOS;
const DWORD ListExtendedStyle = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
const UINT GroupAlignLeft = 1;    // LVGA_HEADER_LEFT
const UINT GroupCollapsible = 8;  // LVGS_COLLAPSIBLE
const int CompareTextCapacity = 260;

MainWindow* Self(void* userData)
{
    return static_cast<MainWindow*>(userData);
}

} // namespace

namespace {

// Exists before the entry point runs, like the rest of the process's state.
MainWindow TheMainWindow;

// The window whose Ctrl+S and Ctrl+O the thread's dialog loop hands over.
MainWindow* g_snapshotKeysWindow = nullptr;

const wchar_t SnapshotFolderValue[] = L"SnapshotFolder";
// The layout of the list with the column of the values before, of which
// that column's width is taken.
const wchar_t ComparedColumnsValue[] = L"ListViewCompared";
const int BeforeColumnWidth = 300;

// By DeviceComparison::Change: the marks over a device's icon, and the
// icons of the list's rows that differ.
const int MarkIcons[DeviceComparison::ChangeCount] = {0, IDI_MARK_ADDED, IDI_MARK_REMOVED,
                                                      IDI_MARK_CHANGED};
const int RowIcons[DeviceComparison::ChangeCount] = {0, IDI_ROW_ADDED, IDI_ROW_REMOVED, IDI_ROW_CHANGED};

// The program's name and version; a build that accepts updates anyone can
// sign says so.
void ProgramCaption(WideString& caption)
{
    CaptionWithVersion(L"Quillmere", nullptr, caption);
    if (UpdateAcceptsTestKeys)
        caption.Append(L" (test build)");
}

// `path` made absolute, or as it is when it cannot be.
void FullPathOf(const wchar_t* path, WideString& full)
{
    if (!full.Reserve(MAX_PATH * 4) ||
        !GetFullPathNameW(path, (DWORD)full.Capacity() - 1, full.Buffer(), nullptr))
        full = path;
    else
        full.Recompute();
}

} // namespace

MainWindow::MainWindow() : markedTree_(tree_, MarkIcons) {}

MainWindow& MainWindow::Current()
{
    return TheMainWindow;
}

void MainWindow::UseSettingsKey(HKEY root, const wchar_t* path)
{
    settingsRoot_ = root;
    settingsPath_ = path;
}

void MainWindow::ObserveStartup(StartupObserver observer, void* data)
{
    startupObserver_ = observer;
    startupData_ = data;
}

void MainWindow::Milestone(const char* name)
{
    if (startupObserver_ && !started_)
        startupObserver_(name, startupData_);
}

int MainWindow::OnInitDialog()
{
    started_ = false;
    Milestone("dialog created");
    closing_ = false;
    SetIcon(IDI_PROGRAM);
    WideString caption;
    ProgramCaption(caption);
    SetCaption(caption.Text());
    CrashReporter::Current().ConfigureReporter(IDI_PROGRAM,
                                               UpdateAcceptsTestKeys ? Deployment::TestReportHost
                                                                     : Deployment::ReportHost,
                                               Deployment::ReportPath, nullptr, nullptr);
    Milestone("icon, caption, reporter");
    ReadFlags();
    Milestone("settings");
    SetUpTree();
    Milestone("tree set up");
    SetUpList();
    Milestone("list set up");
    SetUpFurnishings();
    NameControls();
    AddSnapshotMenuItems();
    Milestone("furnishings");
    RestorePlacement();
    grip_.Attach(Window());
    Milestone("placement");
    model_.Start();
    Milestone("model started");
    ShowUpdateChoice();
    // The first refresh is posted, not timed: posted messages come before
    // the first paint, so the window paints once, with its tree filled.
    if (!PostMessageW(Window(), FirstRefreshMessage, 0, 0))
        StartRefresh(StartRefreshDelay);
    return 1;
}

void MainWindow::ReadFlags()
{
    settings_.Open(SettingsStore::StoreRegistry, settingsRoot_, settingsPath_.Text());
    // Only bit 0 means something here; the others go back as they came.
    flags_ = (DWORD)settings_.ReadNumber(L"Flags", 0);
}

void MainWindow::SetUpTree()
{
    tree_.Init(Item(IDC_TREE), Instance(), TreeOptions);
    tree_.SetExtendedStyle(TreeExtendedStyle, TreeExtendedStyle);
    TreeItemCallbacks items = {};
    items.selectionChanged = OnTreeSelectionChanged;
    tree_.RegisterItemCallbacks(items, this);
    TreeInputCallbacks input = {};
    input.keyDown = OnTreeKeyDown;
    input.contextMenu = OnTreeContextMenu;
    input.customDraw = OnTreeCustomDraw;
    tree_.RegisterInputCallbacks(input, this);
}

void MainWindow::SetUpFurnishings()
{
    filterBox_.Init(Item(IDC_FILTER), Instance(), IDI_FILTER, 0);
    // The template's divider lies over the tree; the splitter moves it into
    // the gap between tree and list.
    splitter_.Init(Splitter::FillGap | Splitter::PaintDialogBrush, Item(IDC_SPLITTER), tree_.Window(),
                   list_.Window(), PaneMinimum, PaneMinimum, PaneMinimum, PaneMinimum);
    link_.Init(Item(IDC_LINK), Deployment::WebAddress, Deployment::HomePage, IDC_HAND_CURSOR,
               LinkControl::ParentFont);
    FitLinkToItsText();
    const DWORD bottomRight = LayoutAnchors::MoveRight | LayoutAnchors::MoveDown;
    anchors_.Add(Item(IDC_FILTER), LayoutAnchors::MoveDown | LayoutAnchors::StretchWidth);
    anchors_.Add(Item(IDC_AUTO_UPDATE), bottomRight);
    anchors_.Add(Item(IDC_LINK), bottomRight);
    anchors_.Add(Item(IDC_EXIT), bottomRight);
}

void MainWindow::NameControls()
{
    // The tree, the list and the filter box show no name of their own. The
    // platform's annotation names them for screen readers; the tree's and
    // the list's window texts, shown nowhere, name them for whatever reads
    // the windows themselves (the template's are "Tree1" and "List1").
    const struct {
        HWND control;
        UINT text;
        bool windowText;
    } named[] = {
        {tree_.Window(), IDS_TREE_NAME, true},
        {list_.Window(), IDS_LIST_NAME, true},
        {Item(IDC_FILTER), IDS_FILTER_NAME, false},
    };
    WideString name;
    for (const auto& control : named) {
        strings_.Get(control.text, &name);
        if (control.windowText)
            SetWindowTextW(control.control, name.Text());
        names_.Set(control.control, name.Text());
    }
}

void MainWindow::ShowUpdateChoice()
{
    CheckButton(IDC_AUTO_UPDATE, (flags_ & UpdateCheckOff) ? 0 : 1);
}

void MainWindow::AfterFirstPicture(void* self)
{
    // Work the first picture does not need, started once it is painted:
    // timers come after paints.
    MainWindow* window = static_cast<MainWindow*>(self);
    window->Milestone("after the first picture");
    CrashReporter::Current().PrepareNow();
    window->StartUpdateCheck();
    if (!window->proof_.Start(window->Window(), ProveRunning, window, ProgramStart::ProofDelay))
        ProveRunning(window);
}

void MainWindow::ProveRunning(void*)
{
    ConfirmProgramRuns();
}

void MainWindow::StartUpdateCheck()
{
    if (flags_ & UpdateCheckOff)
        return;
    // At most once a week; the last check's time is kept beside the settings.
    const wchar_t* endpoint = UpdateAcceptsTestKeys ? Deployment::TestUpdateEndpoint
                                                    : Deployment::UpdateEndpoint;
    updater_.StartCheck(updateEndpoint_.IsEmpty() ? endpoint : updateEndpoint_.Text(), Window(),
                        settingsRoot_, settingsPath_.Text(), L"LastCheck", 0, nullptr, L"1");
}

int MainWindow::ItemTextWidth(int id)
{
    HWND item = Item(id);
    WideString text;
    HDC dc = GetDC(item);
    if (!dc)
        return 0;
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(item, WM_GETFONT, 0, 0));
    SIZE size = {};
    if (GetItemText(id, text))
        GetTextExtentPoint32W(dc, text.Text(), text.Length(), &size);
    SelectObject(dc, old);
    ReleaseDC(item, dc);
    return size.cx;
}

RECT MainWindow::ItemRect(int id) const
{
    RECT rect = {};
    if (GetWindowRect(Item(id), &rect))
        MapWindowPoints(nullptr, Window(), (POINT*)&rect, 2);
    return rect;
}

void MainWindow::MoveItem(int id, const RECT& rect)
{
    MoveWindow(Item(id), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void MainWindow::FitLinkToItsText()
{
    // The maker's address is wider than the room the template gives it. The
    // link grows to the left into what the check box's text leaves free and,
    // where that is not enough, the check box moves left as well, taking the
    // room from the filter box, which stretches with the window anyway.
    if (!Item(IDC_LINK) || !Item(IDC_AUTO_UPDATE) || !Item(IDC_FILTER))
        return;
    RECT link = ItemRect(IDC_LINK), box = ItemRect(IDC_AUTO_UPDATE), filter = ItemRect(IDC_FILTER);
    // The focus rectangle needs a pixel on either side of the text.
    int needed = link_.TextExtent().cx + 2;
    if (needed <= link.right - link.left)
        return;
    UINT dpi = Api().WindowDpi(Window());
    int gap = MulDiv(6, (int)dpi, 96);
    int boxTextEnd = box.left + Api().SystemMetricForDpi(SM_CXMENUCHECK, dpi) + gap +
                     ItemTextWidth(IDC_AUTO_UPDATE) + gap;
    int left = link.right - needed;
    int shift = boxTextEnd - left;
    int filterRoom = (filter.right - filter.left) - MulDiv(PaneMinimum, (int)dpi, 96);
    if (shift > filterRoom)
        shift = filterRoom > 0 ? filterRoom : 0;
    if (shift > 0) {
        OffsetRect(&box, -shift, 0);
        filter.right -= shift;
        MoveItem(IDC_FILTER, filter);
        boxTextEnd -= shift;
    }
    link.left = left > boxTextEnd ? left : boxTextEnd;
    MoveItem(IDC_LINK, link);
    // Overlapping siblings paint over each other: the box ends where the link begins.
    if (box.right > link.left)
        box.right = link.left;
    MoveItem(IDC_AUTO_UPDATE, box);
}

void MainWindow::RestorePlacement()
{
    placement_.Load(Window(), settingsRoot_, settingsPath_.Text(), L"Main", 0);
    splitter_.LoadPosition(settingsRoot_, settingsPath_.Text(), L"Splitter");
}

void MainWindow::SavePlacement()
{
    placement_.Save(Window(), settingsRoot_, settingsPath_.Text(), L"Main", nullptr, 0);
    splitter_.SavePosition(settingsRoot_, settingsPath_.Text(), L"Splitter");
}

void MainWindow::SetUpList()
{
    list_.Init(Item(IDC_LIST), Instance(), ListOptions, IDI_SORT_DOWN, IDI_SORT_UP, 0, 0);
    list_.SetExtendedStyle(ListExtendedStyle, ListExtendedStyle);
    ListViewCallbacks callbacks = {};
    callbacks.keyDown = OnListKeyDown;
    callbacks.contextMenu = OnListContextMenu;
    callbacks.compare = OnListCompare;
    list_.RegisterCallbacks(callbacks, this);
    list_.AddIcon(IDI_PROPERTY);
    for (int i = 0; i < (int)(sizeof(Columns) / sizeof(Columns[0])); ++i)
        list_.InsertColumn(Columns[i].title, i, Columns[i].width, 0, 0);
    list_.EnableGroupView(true);
    for (const GroupTitle& group : Groups)
        list_.AddGroup(group.title, group.id, GroupAlignLeft, -1, GroupCollapsible);
    list_.SortBy(0, true);
    list_.LoadColumns(settingsRoot_, settingsPath_.Text(), L"ListView");
}

int MainWindow::CanClose(INT_PTR result)
{
    if (closing_)
        return 0;
    closing_ = true;
    // Placement and splitter are saved here, before the columns.
    SavePlacement();
    if (comparing_)
        ShowBeforeColumn(false);
    list_.SaveColumns(settingsRoot_, settingsPath_.Text(), L"ListView");
    settings_.WriteNumber(L"Flags", flags_);
    settings_.Close();
    Show(SW_HIDE);
    // Closed before its first picture was painted: a check that would start
    // now would only be stopped again below.
    if (afterStart_.IsPending()) {
        afterStart_.Cancel();
        CrashReporter::Current().PrepareNow();
    }
    proof_.Cancel();
    model_.Stop();
    menu_.Destroy();
    names_.ClearAll();
    grip_.Detach();
    tree_.Detach();
    list_.Detach();
    filterBox_.Detach();
    splitter_.Detach();
    link_.Detach();
    anchors_.Clear();
    updater_.StopCheck();
    // The update check stops here.
    if (snapshotKeys_)
        UnhookWindowsHookEx(snapshotKeys_);
    snapshotKeys_ = nullptr;
    g_snapshotKeysWindow = nullptr;
    model_.Api().UseBinding(nullptr);
    snapshots_.Stop();
    snapshotPath_.Clear();
    comparing_ = false;
    markedTree_.Show(nullptr);
    compared_.Stop();
    comparedPath_.Clear();
    shownMoment_.reset();
    liveSetupLibrary_.Release();
    return 1;
}

int MainWindow::OnCommand(int id, WPARAM wParam, LPARAM lParam)
{
    switch (id) {
    case IDC_EXIT:
        Close(1);
        return 1;
    case IDC_FILTER:
        if (HIWORD(wParam) == EN_UPDATE)
            Refilter();
        else if (HIWORD(wParam) == 0)
            // The box's clear icon; emptying it re-reads the machine.
            SetItemText(IDC_FILTER, L"");
        return 1;
    case IDC_AUTO_UPDATE:
        // Takes effect at the next start; a check under way runs on.
        if (IsButtonChecked(IDC_AUTO_UPDATE))
            flags_ &= ~UpdateCheckOff;
        else
            flags_ |= UpdateCheckOff;
        return 1;
    case ID_LIST_COPY:
        CopyListRows();
        return 1;
    case ID_TREE_COPY:
        CopyTreeItem();
        return 1;
    case ID_LIST_REFRESH:
    case ID_TREE_REFRESH:
        StartRefresh(StartRefreshDelay);
        return 1;
    case ID_SAVE_SNAPSHOT:
        SaveSnapshot();
        return 1;
    case ID_OPEN_SNAPSHOT:
        OpenSnapshot();
        return 1;
    case ID_COMPARE:
        CompareWithSnapshot();
        return 1;
    case ID_CHANGED_ONLY:
        ToggleChangedOnly();
        return 1;
    default:
        return DialogWindow::OnCommand(id, wParam, lParam);
    }
}

INT_PTR MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (tree_.OnNotify(Window(), wParam, lParam, &result) ||
            list_.OnNotify(wParam, lParam, &result))
            return Handled(result);
        break;
    }
    case WM_TIMER:
    case FirstRefreshMessage:
        Refresh();
        return 1;
    case WM_DEVICECHANGE:
        // A snapshot does not change with this machine's devices, nor does
        // a comparison of two moments.
        if (!ShowsSnapshot() && !comparing_)
            StartRefresh(DeviceChangeDelay);
        break;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case ID_SAVE_SNAPSHOT:
            SaveSnapshot();
            return 1;
        case ID_OPEN_SNAPSHOT:
            OpenSnapshot();
            return 1;
        case ID_THIS_COMPUTER:
            ShowThisComputer();
            return 1;
        case ID_COMPARE:
            CompareWithSnapshot();
            return 1;
        case ID_CHANGED_ONLY:
            ToggleChangedOnly();
            return 1;
        case ID_END_COMPARISON:
            EndComparison();
            return 1;
        }
        break;
    case WM_DROPFILES:
        OnDropFiles((HDROP)wParam);
        return 1;
    case WM_SIZE:
        grip_.OnSize();
        anchors_.Resize(wParam, lParam);
        break;
    case WM_WINDOWPOSCHANGING:
        splitter_.OnWindowPosChanging((WINDOWPOS*)lParam);
        break;
    case WM_WINDOWPOSCHANGED:
        splitter_.OnWindowPosChanged((const WINDOWPOS*)lParam);
        break;
    case WM_PAINT:
        if (grip_.OnPaint())
            return 1;
        break;
    case WM_MEASUREITEM:
        return menu_.Measure(wParam, lParam);
    case WM_DRAWITEM:
        return menu_.Draw(wParam, lParam);
    case WM_MENUCHAR: {
        LRESULT chosen = 0;
        if (menu_.OnMenuChar(wParam, lParam, &chosen))
            return Handled(chosen);
        break;
    }
    case WM_NCHITTEST:
        return Handled(grip_.HitTest(lParam));
    case WM_CONTEXTMENU:
        if (OnContextMenu((HWND)wParam, lParam))
            return 1;
        break;
    case WM_DPICHANGED:
        grip_.OnDpiChanged();
        tree_.OnDpiChanged();
        markedTree_.OnImagesRecreated();
        anchors_.OnDpiChanged();
        splitter_.OnDpiChanged();
        break;
    case WM_THEMECHANGED:
        grip_.OnThemeChanged();
        break;
    case WM_SYSCOLORCHANGE:
        // Only top-level windows hear of new system colours; the controls
        // that paint with colours of their own are told.
        for (HWND control : {tree_.Window(), list_.Window(), Item(IDC_LINK)})
            if (control)
                SendMessageW(control, WM_SYSCOLORCHANGE, wParam, lParam);
        break;
    }
    return DialogWindow::OnMessage(message, wParam, lParam);
}

INT_PTR MainWindow::Handled(LRESULT result)
{
    SetWindowLongPtrW(Window(), DWLP_MSGRESULT, result);
    return 1;
}

void MainWindow::StartRefresh(UINT delay)
{
    // Setting the timer again restarts it, so a burst of broadcasts ends in
    // one refresh after the last.
    SetTimer(Window(), RefreshTimer, delay, nullptr);
}

void MainWindow::Refresh()
{
    KillTimer(Window(), RefreshTimer);
    Milestone("first refresh begins");
    WideString filter;
    FilterText(filter);
    if (!started_ && !startSnapshot_.IsEmpty()) {
        WideString path = startSnapshot_;
        startSnapshot_.Clear();
        if (!OpenSnapshotFile(path.Text()))
            Refilter();
    } else if (comparing_ && filter.IsEmpty()) {
        RefreshComparison();
    } else if (ShowsSnapshot() && filter.IsEmpty()) {
        // As the live machine is read again, the file is: a file that no
        // longer opens leaves the view as it was.
        WideString path = snapshotPath_;
        OpenSnapshotFile(path.Text());
    } else {
        Refilter();
    }
    Milestone("first refresh ends");
    if (!started_ && !afterStart_.Start(Window(), AfterFirstPicture, this))
        AfterFirstPicture(this);
    started_ = true;
}

void MainWindow::FilterText(WideString& filter)
{
    filter.Clear();
    if (filterBox_.Window())
        GetItemText(IDC_FILTER, filter);
}

void MainWindow::Refilter()
{
    WideString filter;
    FilterText(filter);
    model_.RebuildTree(ShownTree(), filter.Text());
    model_.FillPropertyList(list_, nullptr);
}

TreeSink& MainWindow::ShownTree()
{
    if (comparing_)
        return markedTree_;
    return tree_;
}

bool MainWindow::ControlKeyDown() const
{
    return (GetKeyState(VK_CONTROL) & 0x8000) != 0;
}

void MainWindow::CopyListRows()
{
    WideString text;
    Clipboard::ListSelection(list_.Window(), text);
    Clipboard::SetText(Window(), text.Text());
}

void MainWindow::CopyTreeItem()
{
    WideString text;
    if (Clipboard::TreeSelection(tree_.Window(), text))
        Clipboard::SetText(Window(), text.Text());
}

int MainWindow::CompareRows(int first, int second, int* declined)
{
    int column = list_.SortColumn();
    if (column != 0 && column != 2) {
        *declined = 1;
        return 0;
    }
    WideString a, b;
    if (!list_.GetItemText(first, column, a) || !list_.GetItemText(second, column, b))
        return 0;
    a.Truncate(CompareTextCapacity - 1);
    b.Truncate(CompareTextCapacity - 1);
    int order = CompareAsciiNoCase(a.Text(), b.Text());
    return list_.SortAscending() ? order : -order;
}

void MainWindow::OnTreeSelectionChanged(const TVITEMW* item, void* self)
{
    Self(self)->FillList(item ? (DeviceNode*)item->lParam : nullptr);
}

int MainWindow::LoadMenu(int menuId, UINT copyId, UINT refreshId)
{
    if (!menu_.Load(menuId, Window(), Instance()))
        return 0;
    WideString text;
    menu_.SetItemIcon(copyId, PopupMenu::ByCommand, IDI_COPY);
    menu_.SetItemText(copyId, PopupMenu::ByCommand, strings_.Get(IDS_COPY, &text));
    menu_.SetItemIcon(refreshId, PopupMenu::ByCommand, IDI_REFRESH);
    menu_.SetItemText(refreshId, PopupMenu::ByCommand, strings_.Get(IDS_REFRESH, &text));
    return 1;
}

void MainWindow::ShowTreeMenu(HTREEITEM item, const POINT* at)
{
    if (!LoadMenu(IDM_TREE_MENU, ID_TREE_COPY, ID_TREE_REFRESH))
        return;
    // Selecting the item fills the list, so the menu acts on what it shows.
    if (item)
        SendMessageW(tree_.Window(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
    else
        menu_.EnableItem(ID_TREE_COPY, PopupMenu::ByCommand, true);
    menu_.Show(at);
}

void MainWindow::ShowListMenu(int item, const POINT* at)
{
    if (!LoadMenu(IDM_LIST_MENU, ID_LIST_COPY, ID_LIST_REFRESH))
        return;
    if (item < 0)
        menu_.EnableItem(ID_LIST_COPY, PopupMenu::ByCommand, true);
    menu_.Show(at);
}

int MainWindow::OnContextMenu(HWND control, LPARAM lParam)
{
    // Shift+F10 or the menu key send (-1, -1): the menu opens at the
    // selected item. Otherwise the point is where the user asked for it.
    bool keyboard = ContextMenuKeys::IsFromKeyboard(lParam);
    POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (control && control == tree_.Window()) {
        HTREEITEM item = keyboard ? nullptr : tree_.ItemAt(at);
        if (!item)
            item = tree_.SelectedItem();
        if (keyboard)
            at = tree_.MenuPoint(item);
        ShowTreeMenu(item, &at);
        return 1;
    }
    if (control && control == list_.Window()) {
        int item = list_.FirstSelected();
        if (keyboard)
            at = list_.MenuPoint(item);
        ShowListMenu(item, &at);
        return 1;
    }
    return 0;
}

void MainWindow::OnTreeContextMenu(HTREEITEM item, void* self)
{
    Self(self)->ShowTreeMenu(item, nullptr);
}

void MainWindow::OnListContextMenu(int item, LPARAM, void* self)
{
    Self(self)->ShowListMenu(item, nullptr);
}

void MainWindow::OnTreeKeyDown(WORD key, void* self)
{
    MainWindow* window = Self(self);
    if (key == 'C' && window->ControlKeyDown())
        window->CopyTreeItem();
    else if (key == VK_F5)
        window->StartRefresh(StartRefreshDelay);
}

int MainWindow::OnTreeCustomDraw(NMTVCUSTOMDRAW* draw, LRESULT* result, void* self)
{
    MainWindow* window = Self(self);
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        // Asked once a paint: a switch of the colour scheme repaints the tree.
        window->highContrast_ = window->Api().IsHighContrast() != 0;
        window->themed_ = window->Api().IsThemeActive() != 0;
        *result = CDRF_NOTIFYITEMDRAW;
        window->Handled(CDRF_NOTIFYITEMDRAW);
        return 1;
    case CDDS_ITEMPREPAINT: {
        const DeviceNode* node = (const DeviceNode*)draw->nmcd.lItemlParam;
        DeviceComparison::Change change =
            window->comparing_ ? window->compared_.ChangeOf(node) : DeviceComparison::Unchanged;
        if (change != DeviceComparison::Unchanged) {
            // Selected, the item keeps the selection's own colours: the mark
            // tells the change.
            if (!(draw->nmcd.uItemState & CDIS_SELECTED))
                window->ColourItem(draw, MarkedTreeSink::TextColour(change, false),
                                   MarkedTreeSink::TextColour(change, true));
            *result = window->markedTree_.PaintsMarks() ? CDRF_NOTIFYPOSTPAINT : CDRF_DODEFAULT;
            window->Handled(*result);
            return 1;
        }
        if (node && (node->status & DN_HAS_PROBLEM)) {
            window->ColourItem(draw, ProblemColour, GetSysColor(COLOR_GRAYTEXT));
            *result = CDRF_DODEFAULT;
            window->Handled(CDRF_DODEFAULT);
            return 1;
        }
        return 0;
    }
    case CDDS_ITEMPOSTPAINT:
        if (window->comparing_)
            window->markedTree_.PaintMark(draw, window->compared_.ChangeOf(
                                                    (const DeviceNode*)draw->nmcd.lItemlParam));
        return 0;
    default:
        return 0;
    }
}

void MainWindow::ColourItem(NMTVCUSTOMDRAW* draw, COLORREF colour, COLORREF highContrast) const
{
    // Red is readable on the window's background and on the light
    // selection of the visual style, not on the classic selection colour;
    // a high-contrast scheme allows only its own pairs, and there a problem
    // device is told apart by the scheme's colour for unavailable text (a
    // change of a comparison by another of its text colours).
    bool selected = (draw->nmcd.uItemState & CDIS_SELECTED) != 0;
    if (selected && (highContrast_ || !themed_)) {
        bool focused = GetFocus() == tree_.Window();
        draw->clrText = GetSysColor(focused ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT);
        draw->clrTextBk = GetSysColor(focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
    } else if (highContrast_) {
        draw->clrText = highContrast;
        draw->clrTextBk = GetSysColor(COLOR_WINDOW);
    } else {
        draw->clrText = colour;
    }
}

void MainWindow::OnListKeyDown(int item, LPARAM param, WORD key, void* self)
{
    MainWindow* window = Self(self);
    if (key == 'C' && window->ControlKeyDown())
        window->CopyListRows();
    else if (key == VK_F5)
        window->StartRefresh(StartRefreshDelay);
}

int MainWindow::OnListCompare(int first, int second, int* declined, ListViewControl* list,
                              void* self)
{
    return Self(self)->CompareRows(first, second, declined);
}

void MainWindow::UseCommandLine(const wchar_t* commandLine)
{
    startSnapshot_.Clear();
    int count = 0;
    wchar_t** arguments = commandLine && *commandLine ? CommandLineToArgvW(commandLine, &count) : nullptr;
    if (!arguments)
        return;
    if (count == 2)
        startSnapshot_ = arguments[1];
    LocalFree(arguments);
}

void MainWindow::AddSnapshotMenuItems()
{
    HMENU menu = GetSystemMenu(Window(), FALSE);
    if (menu) {
        WideString text;
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, ID_SAVE_SNAPSHOT, strings_.Get(IDS_SAVE_SNAPSHOT, &text));
        AppendMenuW(menu, MF_STRING, ID_OPEN_SNAPSHOT, strings_.Get(IDS_OPEN_SNAPSHOT, &text));
        AppendMenuW(menu, MF_STRING, ID_THIS_COMPUTER, strings_.Get(IDS_THIS_COMPUTER, &text));
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, ID_COMPARE, strings_.Get(IDS_COMPARE, &text));
        AppendMenuW(menu, MF_STRING, ID_CHANGED_ONLY, strings_.Get(IDS_CHANGED_ONLY, &text));
        AppendMenuW(menu, MF_STRING, ID_END_COMPARISON, strings_.Get(IDS_END_COMPARISON, &text));
    }
    // A modal dialog's loop has no accelerators: its message filter hands
    // the keys over as commands.
    g_snapshotKeysWindow = this;
    snapshotKeys_ = SetWindowsHookExW(WH_MSGFILTER, FilterSnapshotKeys, nullptr, GetCurrentThreadId());
    DragAcceptFiles(Window(), TRUE);
    UpdateSnapshotState();
}

LRESULT CALLBACK MainWindow::FilterSnapshotKeys(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG* message = (const MSG*)lParam;
    MainWindow* window = g_snapshotKeysWindow;
    if (code == MSGF_DIALOGBOX && window && window->Window() && message->message == WM_KEYDOWN &&
        (message->wParam == 'S' || message->wParam == 'O' || message->wParam == 'D') &&
        window->ControlKeyDown() && !(GetKeyState(VK_MENU) & 0x8000) &&
        (message->hwnd == window->Window() || IsChild(window->Window(), message->hwnd))) {
        UINT command = message->wParam == 'S' ? ID_SAVE_SNAPSHOT : ID_OPEN_SNAPSHOT;
        if (message->wParam == 'D')
            command = (GetKeyState(VK_SHIFT) & 0x8000) ? ID_CHANGED_ONLY : ID_COMPARE;
        PostMessageW(window->Window(), WM_COMMAND, command, 0);
        return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MainWindow::UpdateSnapshotState()
{
    WideString caption, program;
    ProgramCaption(program);
    const Snapshot* shown = snapshots_.Served();
    if (ShowsSnapshot() && shown)
        SnapshotMessages::Caption(strings_, program.Text(), snapshotPath_.Text(), shown->header.computer,
                                  shown->header.taken, caption);
    else
        caption = program;
    if (comparing_) {
        const DeviceComparison& comparison = compared_.Comparison();
        const int counts[3] = {comparison.Count(DeviceComparison::Added),
                               comparison.Count(DeviceComparison::Removed),
                               comparison.Count(DeviceComparison::Changed)};
        WideString shown = caption;
        SnapshotMessages::ComparisonCaption(strings_, shown.Text(), comparedPath_.Text(), comparedHeader_,
                                            counts, compared_.ShowsChangedOnly(), caption);
    }
    SetCaption(caption.Text());
    HMENU menu = GetSystemMenu(Window(), FALSE);
    if (menu) {
        EnableMenuItem(menu, ID_THIS_COMPUTER, MF_BYCOMMAND | (ShowsSnapshot() ? MF_ENABLED : MF_GRAYED));
        for (UINT id : {ID_CHANGED_ONLY, ID_END_COMPARISON})
            EnableMenuItem(menu, id, MF_BYCOMMAND | (comparing_ ? MF_ENABLED : MF_GRAYED));
        CheckMenuItem(menu, ID_CHANGED_ONLY,
                      MF_BYCOMMAND | (comparing_ && compared_.ShowsChangedOnly() ? MF_CHECKED : MF_UNCHECKED));
    }
}

void MainWindow::ShowMessage(const WideString& text)
{
    MessageBoxW(Window(), text.Text(), L"Quillmere", MB_OK | MB_ICONWARNING);
}

void MainWindow::SwitchMachine(DeviceBinding* binding)
{
    // While a snapshot is shown the system's setup library stays loaded, so
    // that going back finds the one the machine was read with: a library
    // loaded meanwhile as another's dependency could otherwise take its name.
    if (binding && !liveSetupLibrary_.IsLoaded())
        liveSetupLibrary_.LoadKnownDll(DeviceApi::SystemLibraries.setup);
    // The items point at the nodes that Stop deletes.
    model_.FillPropertyList(list_, nullptr);
    tree_.DeleteAllItems();
    model_.Stop();
    model_.Api().UseBinding(binding);
    model_.Start();
    if (!binding)
        liveSetupLibrary_.Release();
    WideString filter;
    FilterText(filter);
    // A filter shows the nodes of the last reading: there must be one.
    if (!filter.IsEmpty())
        model_.RebuildTree(ShownTree(), nullptr);
    Refilter();
}

void MainWindow::ShowMachine(DeviceBinding* binding)
{
    bool compared = comparing_;
    if (comparing_) {
        comparing_ = false;
        ShowBeforeColumn(false);
        markedTree_.Show(nullptr);
    }
    SwitchMachine(binding);
    if (compared) {
        compared_.Stop();
        comparedPath_.Clear();
        shownMoment_.reset();
    }
}

int MainWindow::ServeSnapshot(const wchar_t* path)
{
    auto snapshot = std::make_shared<Snapshot>();
    SnapshotProblem problem;
    WideString text;
    if (!SnapshotReader::ReadFile(path, *snapshot, problem)) {
        SnapshotMessages::NotOpened(strings_, path, problem, text);
        ShowMessage(text);
        return 0;
    }
    DWORD error = 0;
    if (!snapshots_.Serve(snapshot, &error)) {
        SnapshotMessages::NoHive(strings_, path, error, text);
        ShowMessage(text);
        return 0;
    }
    return 1;
}

int MainWindow::OpenSnapshotFile(const wchar_t* path)
{
    WideString full;
    FullPathOf(path, full);
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    int served = ServeSnapshot(full.Text());
    if (served) {
        snapshotPath_ = full;
        ShowMachine(&snapshots_);
        UpdateSnapshotState();
    }
    SetCursor(previous);
    return served;
}

void MainWindow::ShowThisComputer()
{
    if (!ShowsSnapshot())
        return;
    snapshotPath_.Clear();
    ShowMachine(nullptr);
    snapshots_.Stop();
    UpdateSnapshotState();
}

int MainWindow::SaveSnapshotTo(const wchar_t* path)
{
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const Snapshot* shown = snapshots_.Served();
    SnapshotHeader header = ShowsSnapshot() && shown ? shown->header : ThisComputerHeader();
    Snapshot snapshot;
    std::string text;
    DWORD error = 0;
    WideString message;
    int saved = 0;
    // A comparison shows the union: what it compared is saved.
    const Snapshot* compared = comparing_ ? shownMoment_.get() : nullptr;
    if (!compared && !SnapshotCapture::Capture(model_.Api(), header, snapshot))
        strings_.Get(IDS_SNAPSHOT_NOTHING_TO_SAVE, &message);
    else if (!SnapshotWriter::Write(compared ? *compared : snapshot, text) ||
             !SaveSnapshotText(path, text, &error))
        SnapshotMessages::NotSaved(strings_, path, error ? error : ERROR_OUTOFMEMORY, message);
    else
        saved = 1;
    SetCursor(previous);
    if (!saved)
        ShowMessage(message);
    return saved;
}

void MainWindow::SnapshotFolder(WideString& folder)
{
    RegistryKey settings;
    if (!settings.OpenRead(settingsRoot_, settingsPath_.Text()) ||
        !settings.ReadText(SnapshotFolderValue, folder) || folder.IsEmpty())
        SnapshotFileDialog::DocumentsFolder(folder);
}

void MainWindow::RememberSnapshotFolder(const wchar_t* path)
{
    WideString folder = path;
    int slash = -1;
    for (int i = 0; i < folder.Length(); ++i)
        if (folder.At(i) == L'\\' || folder.At(i) == L'/')
            slash = i;
    if (slash < 0)
        return;
    folder.Truncate(slash);
    RegistryKey settings;
    if (settings.CreateWrite(settingsRoot_, settingsPath_.Text()))
        settings.WriteText(SnapshotFolderValue, folder.Text());
}

void MainWindow::SaveSnapshot()
{
    const Snapshot* shown = snapshots_.Served();
    std::wstring computer = ShowsSnapshot() && shown ? shown->header.computer : ThisComputerName();
    SYSTEMTIME date;
    GetLocalTime(&date);
    if (ShowsSnapshot() && shown && shown->header.taken.size() >= 10) {
        // The day the snapshot shown was taken.
        const std::wstring& taken = shown->header.taken;
        date.wYear = (WORD)_wtoi(taken.substr(0, 4).c_str());
        date.wMonth = (WORD)_wtoi(taken.substr(5, 2).c_str());
        date.wDay = (WORD)_wtoi(taken.substr(8, 2).c_str());
    }
    WideString folder, name, path;
    SnapshotFolder(folder);
    SnapshotFileDialog::DefaultName(computer, date, name);
    if (!SnapshotFileDialog::AskSave(Window(), strings_, folder.Text(), name.Text(), path))
        return;
    if (SaveSnapshotTo(path.Text()))
        RememberSnapshotFolder(path.Text());
}

void MainWindow::OpenSnapshot()
{
    ChooseSnapshotThen(&SnapshotFileDialog::AskOpen, &MainWindow::OpenSnapshotFile);
}

// Asks for a snapshot in the folder last used and, when `use` takes the one
// chosen, remembers its folder.
void MainWindow::ChooseSnapshotThen(AskForFile ask, UseFile use)
{
    WideString folder, path;
    SnapshotFolder(folder);
    if (!ask(Window(), strings_, folder.Text(), path))
        return;
    if ((this->*use)(path.Text()))
        RememberSnapshotFolder(path.Text());
}

void MainWindow::OnDropFiles(HDROP drop)
{
    WideString path;
    UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    if (length && path.Reserve((int)length + 1) &&
        DragQueryFileW(drop, 0, path.Buffer(), (UINT)path.Capacity()))
        path.Recompute();
    DragFinish(drop);
    if (!path.IsEmpty())
        OpenSnapshotFile(path.Text());
}

void MainWindow::FillList(DeviceNode* node)
{
    if (comparing_)
        FillComparedList(node);
    else
        model_.FillPropertyList(list_, node);
}

void MainWindow::FillComparedList(DeviceNode* node)
{
    std::vector<ComparedRow> rows;
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    compared_.Rows(model_, node, rows);
    list_.DeleteAllItems(true);
    list_.SetRedraw(false);
    for (const ComparedRow& row : rows) {
        DeviceComparison::Change mark = !row.differs ? DeviceComparison::Unchanged
                                        : row.presence == ComparedRow::OnlyNow ? DeviceComparison::Added
                                        : row.presence == ComparedRow::OnlyBefore ? DeviceComparison::Removed
                                                                                    : DeviceComparison::Changed;
        int item = list_.InsertItem(0x7FFFFFFF, rowImages_[mark], row.row.key.c_str(), 0, row.row.group);
        list_.SetItemText(item, 1, row.row.keyDetails.c_str());
        list_.SetItemText(item, 2, row.row.value.c_str());
        list_.SetItemText(item, 3, row.row.valueDetails.c_str());
        // The details before only where they are not those of now.
        std::wstring before = row.beforeValue;
        if (!row.beforeDetails.empty() && row.beforeDetails != row.row.valueDetails)
            before += L" (" + row.beforeDetails + L")";
        list_.SetItemText(item, BeforeColumn, before.c_str());
    }
    if (!rows.empty())
        list_.Resort();
    list_.SetRedraw(true);
    SetCursor(previous);
}

void MainWindow::ShowBeforeColumn(bool on)
{
    if (!list_.Window())
        return;
    if (!on) {
        if (list_.HeaderItemCount() <= BeforeColumn)
            return;
        list_.SaveColumns(settingsRoot_, settingsPath_.Text(), ComparedColumnsValue);
        bool sortedByIt = list_.SortColumn() == BeforeColumn;
        list_.DeleteColumn(BeforeColumn);
        if (sortedByIt)
            list_.SortBy(0, true);
        return;
    }
    if (list_.HeaderItemCount() != BeforeColumn)
        return;
    // The width the user gave it last; the other columns keep theirs.
    int width = BeforeColumnWidth;
    SavedColumnLayout saved(BeforeColumn + 1);
    if (saved.Count() && saved.Load(settingsRoot_, settingsPath_.Text(), ComparedColumnsValue))
        width = (int)saved.Widths()[BeforeColumn];
    WideString title;
    if (list_.InsertColumn(strings_.Get(IDS_BEFORE_COLUMN, &title), BeforeColumn, width, 0, 0) != BeforeColumn)
        return;
    // Beside the value now, wherever the user has put that.
    int order[BeforeColumn + 1] = {};
    if (!SendMessageW(list_.Window(), LVM_GETCOLUMNORDERARRAY, BeforeColumn + 1, (LPARAM)order))
        return;
    int at = 0;
    for (int i = 0; i < BeforeColumn; ++i)
        if (order[i] != BeforeColumn)
            order[at++] = order[i];
    int value = 0;
    while (value < BeforeColumn && order[value] != 2)
        ++value;
    for (int i = BeforeColumn; i > value + 1; --i)
        order[i] = order[i - 1];
    order[value + 1] = BeforeColumn;
    SendMessageW(list_.Window(), LVM_SETCOLUMNORDERARRAY, BeforeColumn + 1, (LPARAM)order);
}

int MainWindow::CaptureShown(std::shared_ptr<const Snapshot>& shown)
{
    shown.reset();
    if (ShowsSnapshot() && snapshots_.Served()) {
        shown = snapshots_.ServedShared();
        return 1;
    }
    auto captured = std::make_shared<Snapshot>();
    if (!comparing_) {
        if (!SnapshotCapture::Capture(model_.Api(), ThisComputerHeader(), *captured))
            return 0;
    } else {
        // The model serves the comparison: this machine is read by a model
        // of its own.
        DeviceTree live;
        if (!live.Start() || !SnapshotCapture::Capture(live.Api(), ThisComputerHeader(), *captured))
            return 0;
    }
    shown = std::move(captured);
    return 1;
}

int MainWindow::CompareWithSnapshotFile(const wchar_t* path)
{
    WideString full;
    FullPathOf(path, full);
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    auto chosen = std::make_shared<Snapshot>();
    SnapshotProblem problem;
    std::shared_ptr<const Snapshot> shown;
    WideString message;
    int compared = 0;
    if (!SnapshotReader::ReadFile(full.Text(), *chosen, problem)) {
        SnapshotMessages::NotOpened(strings_, full.Text(), problem, message);
    } else if (!CaptureShown(shown)) {
        strings_.Get(IDS_NOTHING_TO_COMPARE, &message);
    } else {
        // The older moment is before; UTC times in one form sort as text.
        std::shared_ptr<const Snapshot> before = chosen, now = shown;
        if (!chosen->header.taken.empty() && chosen->header.taken > shown->header.taken)
            std::swap(before, now);
        // The model must leave the comparison shown before it ends.
        if (comparing_)
            ShowMachine(ShowsSnapshot() ? &snapshots_ : nullptr);
        DWORD error = 0;
        if (!compared_.Start(before, now, &error)) {
            SnapshotMessages::NoHive(strings_, full.Text(), error ? error : ERROR_OUTOFMEMORY, message);
        } else {
            comparedPath_ = full;
            comparedHeader_ = chosen->header;
            shownMoment_ = shown;
            comparing_ = true;
            markedTree_.Show(&compared_.Comparison());
            for (int change = DeviceComparison::Added; change < DeviceComparison::ChangeCount; ++change)
                if (!rowImages_[change])
                    rowImages_[change] = list_.AddIcon(RowIcons[change]);
            ShowBeforeColumn(true);
            SwitchMachine(compared_.Binding());
            compared = 1;
        }
    }
    UpdateSnapshotState();
    SetCursor(previous);
    if (!compared)
        ShowMessage(message);
    return compared;
}

void MainWindow::CompareWithSnapshot()
{
    ChooseSnapshotThen(&SnapshotFileDialog::AskCompare, &MainWindow::CompareWithSnapshotFile);
}

void MainWindow::EndComparison()
{
    if (!comparing_)
        return;
    ShowMachine(ShowsSnapshot() ? &snapshots_ : nullptr);
    UpdateSnapshotState();
}

void MainWindow::RefreshComparison()
{
    // This machine is read again (a snapshot shown stays as it is read),
    // and so is the file compared with.
    WideString path = comparedPath_;
    bool changedOnly = compared_.ShowsChangedOnly();
    if (CompareWithSnapshotFile(path.Text()) && changedOnly)
        ShowChangedOnly(true);
}

void MainWindow::ShowChangedOnly(bool on)
{
    if (!comparing_ || compared_.ShowsChangedOnly() == on)
        return;
    DWORD error = 0;
    if (!compared_.ShowChangedOnly(on, &error)) {
        WideString message;
        SnapshotMessages::NoHive(strings_, comparedPath_.Text(), error ? error : ERROR_OUTOFMEMORY, message);
        ShowMessage(message);
        return;
    }
    SwitchMachine(compared_.Binding());
    UpdateSnapshotState();
}

void MainWindow::ToggleChangedOnly()
{
    ShowChangedOnly(!compared_.ShowsChangedOnly());
}
