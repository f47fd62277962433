#pragma once

// What the end-to-end tests of the main window share: a script played
// inside the window's own modal loop, and readers of its real controls.

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "common/DialogAnswerer.h"
#include "common/ScopedTestKey.h"
#include "common/SimulatedMachine.h"
#include "resources/resource.h"
#include "services/OptionalApi.h"

#include <commctrl.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// Runs the real main window modally and plays a script inside its message
// loop: each step runs on a thread timer until it reports that it is done.
class WindowScript {
public:
    typedef std::function<bool()> Step;

    WindowScript(MainWindow& window) : window_(window) {}
    void Then(Step step) { steps_.push_back(step); }
    // A step that waits `ms` milliseconds.
    void Wait(DWORD ms)
    {
        DWORD* until = new DWORD(0);
        owned_.push_back(until);
        Then([until, ms]() {
            if (!*until)
                *until = GetTickCount() + ms;
            return (int)(GetTickCount() - *until) >= 0;
        });
    }

    // A step that never finishes: the window's own close ends the run, and
    // the script's deadline fails a window that does not close.
    void UntilTheWindowCloses()
    {
        Then([]() { return false; });
    }

    INT_PTR Run()
    {
        current_ = this;
        UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
        deadline_ = GetTickCount() + 60000;
        INT_PTR result = window_.Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr);
        KillTimer(nullptr, timer);
        current_ = nullptr;
        for (DWORD* p : owned_)
            delete p;
        return result;
    }

    bool Finished() const { return next_ >= steps_.size(); }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        WindowScript* script = current_;
        if (!script || script->busy_ || !script->window_.Window())
            return;
        script->busy_ = true;
        if ((int)(GetTickCount() - script->deadline_) >= 0) {
            ADD_FAILURE() << "the script timed out at step " << script->next_;
            script->next_ = script->steps_.size();
        }
        if (script->next_ < script->steps_.size()) {
            if (script->steps_[script->next_]())
                ++script->next_;
        } else if (script->window_.Window()) {
            script->window_.Close(42); // the test's own end
        }
        script->busy_ = false;
    }

    static inline WindowScript* current_ = nullptr;
    MainWindow& window_;
    std::vector<Step> steps_;
    std::vector<DWORD*> owned_;
    size_t next_ = 0;
    bool busy_ = false;
    DWORD deadline_ = 0;
};

// Counts a message sent to one window of this thread while it lives: a step
// waits for the window to have received it instead of waiting for a time.
class SentMessageCounter {
public:
    SentMessageCounter(HWND window, UINT message) : window_(window), message_(message)
    {
        previous_ = current_;
        current_ = this;
        hook_ = SetWindowsHookExW(WH_CALLWNDPROC, Seen, nullptr, GetCurrentThreadId());
    }
    ~SentMessageCounter()
    {
        if (hook_)
            UnhookWindowsHookEx(hook_);
        current_ = previous_;
    }
    SentMessageCounter(const SentMessageCounter&) = delete;
    SentMessageCounter& operator=(const SentMessageCounter&) = delete;
    int Count() const { return count_; }

private:
    static LRESULT CALLBACK Seen(int code, WPARAM wParam, LPARAM lParam)
    {
        const CWPSTRUCT* sent = (const CWPSTRUCT*)lParam;
        for (SentMessageCounter* counter = current_; code == HC_ACTION && counter;
             counter = counter->previous_)
            if (sent->hwnd == counter->window_ && sent->message == counter->message_)
                ++counter->count_;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline SentMessageCounter* current_ = nullptr;
    SentMessageCounter* previous_ = nullptr;
    HWND window_;
    UINT message_;
    HHOOK hook_ = nullptr;
    int count_ = 0;
};

inline int TreeCount(HWND tree)
{
    return (int)SendMessageW(tree, TVM_GETCOUNT, 0, 0);
}

inline std::wstring TreeText(HWND tree, HTREEITEM item)
{
    wchar_t text[260] = {};
    TVITEMW request = {};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = text;
    request.cchTextMax = 259;
    SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&request);
    return text;
}

// Depth first: every item, calling `visit` until it returns false.
inline void WalkTree(HWND tree, HTREEITEM item, const std::function<bool(HTREEITEM)>& visit)
{
    for (; item; item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item)) {
        if (!visit(item))
            return;
        WalkTree(tree, (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item),
                 visit);
    }
}

inline HTREEITEM FindTreeNode(HWND tree, const std::function<bool(const DeviceNode*)>& match)
{
    HTREEITEM found = nullptr;
    WalkTree(tree, (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0),
             [&](HTREEITEM item) {
                 TVITEMW request = {};
                 request.mask = TVIF_PARAM;
                 request.hItem = item;
                 SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&request);
                 if (match((const DeviceNode*)request.lParam))
                     found = item;
                 return found == nullptr;
             });
    return found;
}

inline std::wstring ListCell(HWND list, int item, int column)
{
    wchar_t text[260] = {};
    LVITEMW request = {};
    request.iSubItem = column;
    request.pszText = text;
    request.cchTextMax = 259;
    SendMessageW(list, LVM_GETITEMTEXTW, item, (LPARAM)&request);
    return text;
}

inline int ListGroup(HWND list, int item)
{
    LVITEMW request = {};
    request.mask = LVIF_GROUPID;
    request.iItem = item;
    SendMessageW(list, LVM_GETITEMW, 0, (LPARAM)&request);
    return request.iGroupId;
}

inline int ListCount(HWND list)
{
    return (int)SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
}

inline std::wstring ClipboardText()
{
    std::wstring text;
    if (!OpenClipboard(nullptr))
        return L"<no clipboard>";
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data) {
        const wchar_t* p = (const wchar_t*)GlobalLock(data);
        if (p)
            text = p;
        GlobalUnlock(data);
    } else {
        text = L"<nothing>";
    }
    CloseClipboard();
    return text;
}

inline void PressWithControl(HWND control, WORD key)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(control, WM_KEYDOWN, key, 0);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
}

inline void SelectListRows(HWND list, std::initializer_list<int> rows)
{
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = 0;
    SendMessageW(list, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&state);
    state.state = LVIS_SELECTED;
    for (int row : rows)
        SendMessageW(list, LVM_SETITEMSTATE, row, (LPARAM)&state);
}

// +1 for an ascending arrow, -1 for a descending one, 0 for none; older
// common controls show the arrow as a header image instead of a format bit.
inline int HeaderArrow(HWND list, int column)
{
    HWND header = (HWND)SendMessageW(list, LVM_GETHEADER, 0, 0);
    HDITEMW item = {};
    item.mask = HDI_FORMAT | HDI_IMAGE;
    SendMessageW(header, HDM_GETITEMW, column, (LPARAM)&item);
    if (item.fmt & HDF_SORTUP)
        return 1;
    if (item.fmt & HDF_SORTDOWN)
        return -1;
    if (item.fmt & HDF_IMAGE)
        return item.iImage == 1 ? 1 : -1;
    return 0;
}

// What the list sends its parent when a column header is clicked.
inline void ClickHeader(HWND dialog, HWND list, int column)
{
    NMLISTVIEW click = {};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = GetDlgCtrlID(list);
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageW(dialog, WM_NOTIFY, click.hdr.idFrom, (LPARAM)&click);
}

// The DPI and the high-contrast setting from the test, the rest of
// OptionalApi from the system, for as long as it lives.
struct FakeSystem {
    static inline UINT dpi = 96;
    static inline bool highContrast = false;
    static UINT WINAPI Dpi(HWND) { return dpi; }
    static int WINAPI Metric(int index, UINT forDpi) { return MulDiv(GetSystemMetrics(index), (int)forDpi, 96); }
    static BOOL WINAPI Parameters(UINT action, UINT param, void* data, UINT winIni)
    {
        if (action != SPI_GETHIGHCONTRAST)
            return SystemParametersInfoW(action, param, data, winIni);
        ((HIGHCONTRASTW*)data)->dwFlags = highContrast ? HCF_HIGHCONTRASTON : 0;
        return TRUE;
    }
    FakeSystem()
    {
        dpi = 96;
        highContrast = false;
        OptionalApiTable table = {};
        table.GetDpiForWindow = &Dpi;
        table.GetSystemMetricsForDpi = &Metric;
        table.SystemParametersInfoW = &Parameters;
        table.MonitorFromPoint = &::MonitorFromPoint;
        table.GetMonitorInfoW = &::GetMonitorInfoW;
        OptionalApi::Shared().UseFixedTable(table);
    }
    ~FakeSystem() { OptionalApi::Shared().UseSystem(); }
};

// The main window's answer for a tree item about to be drawn.
inline NMTVCUSTOMDRAW DrawTreeItem(HWND window, HWND tree, HTREEITEM item, bool selected)
{
    NMTVCUSTOMDRAW draw = {};
    draw.nmcd.hdr = {tree, (UINT_PTR)GetDlgCtrlID(tree), (UINT)NM_CUSTOMDRAW};
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    SendMessageW(window, WM_NOTIFY, draw.nmcd.hdr.idFrom, (LPARAM)&draw);
    TVITEMW request = {TVIF_PARAM, item};
    SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&request);
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    draw.nmcd.dwItemSpec = (DWORD_PTR)item;
    draw.nmcd.lItemlParam = request.lParam;
    draw.nmcd.uItemState = selected ? CDIS_SELECTED : 0;
    draw.clrText = draw.clrTextBk = CLR_DEFAULT;
    SendMessageW(window, WM_NOTIFY, draw.nmcd.hdr.idFrom, (LPARAM)&draw);
    return draw;
}

// Fills the file name of the system's Open or Save dialog and presses its
// default button.
inline DialogAnswerer::Action ChooseFile(const std::wstring& path)
{
    return [path](HWND box, int) {
        const int fileName[] = {0x47C /* cmb13 */, 0x480 /* edt1 */};
        for (int id : fileName)
            if (GetDlgItem(box, id))
                SendMessageW(GetDlgItem(box, id), WM_SETTEXT, 0, (LPARAM)path.c_str());
        DialogAnswerer::Click(box, IDOK);
    };
}

// Leaves the main window alone.
inline DialogAnswerer::Action ExceptMainWindow(MainWindow& window, DialogAnswerer::Action action)
{
    return [&window, action](HWND box, int index) {
        if (box != window.Window())
            action(box, index);
    };
}

// Points a window at the test's settings and at an update endpoint where
// nothing listens, so no test writes the user's settings or asks the net.
inline void UseTestSettings(MainWindow& window, const ScopedTestKey& settings)
{
    window.UseSettingsKey(settings.Root(), settings.Path());
    window.UseUpdateEndpoint(L"http://127.0.0.1:9/common/update.php?p=quillmere");
}

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : settings(L"MainWindow"), script(window)
    {
        UseTestSettings(window, settings);
    }

    HWND Tree() { return window.Item(IDC_TREE); }
    HWND List() { return window.Item(IDC_LIST); }
    HWND Filter() { return window.Item(IDC_FILTER); }

    void WaitForTree()
    {
        script.Then([this]() { return TreeCount(Tree()) > 1; });
    }

    void TypeInFilter(const wchar_t* text)
    {
        for (const wchar_t* p = text; *p; ++p)
            SendMessageW(Filter(), WM_CHAR, *p, 0);
    }

    SimulatedMachine machine; // the default machine
    ScopedTestKey settings;
    MainWindow window;
    WindowScript script;
};
