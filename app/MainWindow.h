#pragma once

#include <windows.h>
#include <shellapi.h>

#include "compare/ComparedMachines.h"
#include "compare/MarkedTreeSink.h"
#include "devices/DeviceTree.h"
#include "services/SettingsStore.h"
#include "snapshot/SnapshotBinding.h"
#include "ui/AccessibleNames.h"
#include "ui/DeferredCall.h"
#include "ui/DialogWindow.h"
#include "ui/IconEdit.h"
#include "ui/LayoutAnchors.h"
#include "ui/LinkControl.h"
#include "ui/ListViewControl.h"
#include "ui/PopupMenu.h"
#include "ui/SizeGrip.h"
#include "ui/Splitter.h"
#include "ui/StringTable.h"
#include "ui/TreeViewControl.h"
#include "ui/WindowPlacement.h"
#include "update/AutoUpdater.h"

// The whole visible program: the device tree on the left, the property list
// of the selected device on the right, the filter box below. Refreshes run
// through timer 1, so that F5, the Refresh commands and bursts of
// device-change broadcasts all end in one rebuild; the first one is posted,
// so that the window's first paint shows the filled tree.
class MainWindow : public DialogWindow {
public:
    static const UINT_PTR RefreshTimer = 1;
    static const UINT StartRefreshDelay = 1;
    static const UINT DeviceChangeDelay = 500;
    static const UINT FirstRefreshMessage = WM_APP + 1;
    // Text colour of devices with a problem.
    static const COLORREF ProblemColour = 0x0000EC;
    // Room the splitter keeps for the tree, for the list and for the window
    // beyond the list's left edge, in 96-DPI pixels.
    static constexpr int PaneMinimum = 100;
    // Bit of "Flags": the automatic update check is switched off.
    static const DWORD UpdateCheckOff = 0x01;

    MainWindow();

    // The one main window of the process.
    static MainWindow& Current();

    int OnInitDialog() override;
    int CanClose(INT_PTR result) override;
    int OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    DeviceTree& Model() { return model_; }
    TreeViewControl& Tree() { return tree_; }
    ListViewControl& List() { return list_; }
    PopupMenu& Menu() { return menu_; }
    Splitter& Divider() { return splitter_; }
    IconEdit& FilterBox() { return filterBox_; }
    LinkControl& Link() { return link_; }
    AutoUpdater& Updater() { return updater_; }
    SizeGrip& Grip() { return grip_; }
    // The user-interface language's texts (tests choose the language).
    StringTable& Strings() { return strings_; }
    DWORD Flags() const { return flags_; }

    // The list's comparison: columns 0 and 2 by text, ASCII letters folded;
    // the other columns are left to the list's own rules.
    int CompareRows(int first, int second, int* declined);
    // Where the window keeps what it remembers between runs (tests point
    // it elsewhere).
    void UseSettingsKey(HKEY root, const wchar_t* path);
    // Where the update check asks (tests point it at a loopback server).
    void UseUpdateEndpoint(const wchar_t* url) { updateEndpoint_ = url; }
    // Start-up milestones, for measuring where the start's time goes: the
    // observer hears a short name after each step of the start and of the
    // first refresh. The program itself observes nothing.
    typedef void (*StartupObserver)(const char* milestone, void* data);
    void ObserveStartup(StartupObserver observer, void* data);

    // Snapshots. A snapshot's path as the only argument of `commandLine`
    // is shown at start instead of this computer.
    void UseCommandLine(const wchar_t* commandLine);
    const wchar_t* StartSnapshot() const { return startSnapshot_.Text(); }
    // Saves this machine (or the snapshot shown) to `path`; 1 when saved,
    // else the user has been told why.
    int SaveSnapshotTo(const wchar_t* path);
    // Shows the snapshot `path` instead of what is shown; 1 when shown, else
    // the user has been told why and the view is as it was.
    int OpenSnapshotFile(const wchar_t* path);
    // The live machine again.
    void ShowThisComputer();
    bool ShowsSnapshot() const { return !snapshotPath_.IsEmpty(); }
    const wchar_t* SnapshotPath() const { return snapshotPath_.Text(); }
    const SnapshotBinding& Snapshots() const { return snapshots_; }

    // Comparisons. Compares what is shown (this machine or the snapshot)
    // with the snapshot `path`, the older of the two as before, and shows
    // the union of both; 1 when shown, else the user has been told why.
    int CompareWithSnapshotFile(const wchar_t* path);
    // What was shown before the comparison, again.
    void EndComparison();
    // Only the changed devices with their ancestors, or every device.
    void ShowChangedOnly(bool on);
    bool ShowsComparison() const { return comparing_; }
    const ComparedMachines& Comparison() const { return compared_; }
    // The list's column of the values before, while a comparison is shown.
    static const int BeforeColumn = 4;

private:
    void Milestone(const char* name);
    void SetUpTree();
    void SetUpList();
    void ReadFlags();
    // At `at` (screen coordinates), or at the cursor for nullptr.
    void ShowTreeMenu(HTREEITEM item, const POINT* at);
    void ShowListMenu(int item, const POINT* at);
    int OnContextMenu(HWND control, LPARAM lParam);
    [[nodiscard]] int LoadMenu(int menuId, UINT copyId, UINT refreshId);
    void SetUpFurnishings();
    void NameControls();
    void FitLinkToItsText();
    int ItemTextWidth(int id);
    RECT ItemRect(int id) const;
    void MoveItem(int id, const RECT& rect);
    void ShowUpdateChoice();
    void StartUpdateCheck();
    static void AfterFirstPicture(void* self);
    static void ProveRunning(void* self);
    void RestorePlacement();
    void SavePlacement();
    void StartRefresh(UINT delay);
    void Refresh();
    void FilterText(WideString& filter);
    void Refilter();
    void AddSnapshotMenuItems();
    void UpdateSnapshotState();
    void SaveSnapshot();
    void OpenSnapshot();
    typedef int (*AskForFile)(HWND owner, StringTable& strings, const wchar_t* folder, WideString& path);
    typedef int (MainWindow::*UseFile)(const wchar_t* path);
    void ChooseSnapshotThen(AskForFile ask, UseFile use);
    int ServeSnapshot(const wchar_t* path);
    void SwitchMachine(DeviceBinding* binding);
    // Shows `binding`'s machine, ending a comparison shown.
    void ShowMachine(DeviceBinding* binding);
    void CompareWithSnapshot();
    int CaptureShown(std::shared_ptr<const Snapshot>& shown);
    void RefreshComparison();
    TreeSink& ShownTree();
    void FillList(DeviceNode* node);
    void FillComparedList(DeviceNode* node);
    void ShowBeforeColumn(bool on);
    void ToggleChangedOnly();
    void OnDropFiles(HDROP drop);
    void ShowMessage(const WideString& text);
    void SnapshotFolder(WideString& folder);
    void RememberSnapshotFolder(const wchar_t* path);
    static LRESULT CALLBACK FilterSnapshotKeys(int code, WPARAM wParam, LPARAM lParam);
    void CopyListRows();
    void CopyTreeItem();
    bool ControlKeyDown() const;
    // `colour` on the window's background, `highContrast` in such a scheme.
    void ColourItem(NMTVCUSTOMDRAW* draw, COLORREF colour, COLORREF highContrast) const;
    // Message results of handled notifications go to DWLP_MSGRESULT.
    INT_PTR Handled(LRESULT result);

    static void OnTreeSelectionChanged(const TVITEMW* item, void* self);
    static void OnTreeKeyDown(WORD key, void* self);
    static void OnTreeContextMenu(HTREEITEM item, void* self);
    static void OnListContextMenu(int item, LPARAM param, void* self);
    static int OnTreeCustomDraw(NMTVCUSTOMDRAW* draw, LRESULT* result, void* self);
    static void OnListKeyDown(int item, LPARAM param, WORD key, void* self);
    static int OnListCompare(int first, int second, int* declined, ListViewControl* list,
                             void* self);

    DeviceTree model_;
    TreeViewControl tree_;
    ListViewControl list_;
    IconEdit filterBox_;
    Splitter splitter_;
    LinkControl link_;
    LayoutAnchors anchors_;
    WindowPlacement placement_;
    PopupMenu menu_;
    AutoUpdater updater_;
    StringTable strings_;
    SizeGrip grip_;
    AccessibleNames names_;
    SettingsStore settings_;
    DWORD flags_ = 0;
    // The colour scheme as the tree's current paint found it.
    bool highContrast_ = false;
    bool themed_ = false;
    HKEY settingsRoot_ = HKEY_CURRENT_USER;
    WideString settingsPath_{L"Software\\Tollbrook\\Quillmere"};
    WideString updateEndpoint_;
    StartupObserver startupObserver_ = nullptr;
    void* startupData_ = nullptr;
    bool started_ = false; // the first refresh has ended
    DeferredCall afterStart_;
    // The proof that an updated program runs, given once its window has
    // answered for a while after the first picture.
    DeferredCall proof_;
    // Set from the first close on: the update check's wait dispatches
    // messages, and a second close arriving then is the same close.
    bool closing_ = false;
    // The snapshot shown (its full path; empty: this computer) and the one
    // the command line asked for.
    SnapshotBinding snapshots_;
    WideString snapshotPath_;
    WideString startSnapshot_;
    HHOOK snapshotKeys_ = nullptr;
    LibraryHolder liveSetupLibrary_;
    // The comparison shown: its machines, the tree that marks its changes,
    // the snapshot compared with, the list's images of marked rows.
    ComparedMachines compared_;
    MarkedTreeSink markedTree_;
    bool comparing_ = false;
    WideString comparedPath_;
    SnapshotHeader comparedHeader_;
    // What the window showed when the comparison began (saved as such).
    std::shared_ptr<const Snapshot> shownMoment_;
    int rowImages_[DeviceComparison::ChangeCount] = {};
};
