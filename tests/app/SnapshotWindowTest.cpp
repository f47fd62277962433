// The main window with snapshots: opened from the command line, by a drop
// and by Ctrl+O through the system's dialog, saved by Ctrl+S, read again by
// a refresh, left by Back to This Computer; bad files and failed saves are
// told in the user's language while the view stays.

#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "common/DialogAnswerer.h"
#include "common/ScratchFile.h"
#include "common/TempDirectory.h"
#include "snapshot/SnapshotCapture.h"
#include "snapshot/SnapshotReader.h"
#include "snapshot/SnapshotWriter.h"

#include <shlobj.h>

#include <string>

namespace {

const char FarAwayMachine[] =
    "setupclass {4D36E972-E325-11CE-BFC1-08002BE10318} Net\n"
    "  icon 1E90FF\n"
    "device \"HTREE\\\\ROOT\\\\0\"\n"
    "  device \"PCI\\\\FARAWAY\\\\1\"\n"
    "    class Net\n"
    "    status 0x0180200A\n"
    "    reg DEVICEDESC sz \"Far-away adapter\"\n"
    "  device \"PCI\\\\FARAWAY\\\\2\"\n"
    "    status 0x01802400\n"
    "    problem 22\n"
    "    reg DEVICEDESC sz \"Far-away disabled device\"\n";

// A snapshot of the machine described by `machineText`, as text.
std::string SnapshotOf(const char* machineText, const wchar_t* computer)
{
    SimulatedMachine machine(machineText);
    DeviceTree model;
    model.Start();
    SnapshotHeader header;
    header.computer = computer;
    header.taken = L"2026-12-01T10:00:00Z";
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

std::wstring SystemMenuText(HWND window, UINT id, UINT* state = nullptr)
{
    HMENU menu = GetSystemMenu(window, FALSE);
    wchar_t text[256] = {};
    GetMenuStringW(menu, id, text, 256, MF_BYCOMMAND);
    if (state)
        *state = GetMenuState(menu, id, MF_BYCOMMAND);
    return text;
}

// WM_DROPFILES as the shell sends it for one file.
void DropFile(HWND window, const std::wstring& path)
{
    size_t size = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, size);
    DROPFILES* drop = (DROPFILES*)GlobalLock(memory);
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    memcpy(drop + 1, path.c_str(), path.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    PostMessageW(window, WM_DROPFILES, (WPARAM)memory, 0);
}

// A key with Ctrl held, through the dialog's own message loop.
void PostControlKey(HWND control, WORD key)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    PostMessageW(control, WM_KEYDOWN, key, 0);
}

void ReleaseControl()
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
}

// The boxes seen besides the main window itself, which is a dialog too.
std::vector<DialogAnswerer::Seen> OtherBoxes(const DialogAnswerer& answerer)
{
    std::vector<DialogAnswerer::Seen> others;
    for (const DialogAnswerer::Seen& seen : answerer.Boxes())
        if (seen.caption.compare(0, 11, L"Quillmere [") != 0)
            others.push_back(seen);
    return others;
}

class SnapshotWindowTest : public MainWindowTest {
protected:
    SnapshotWindowTest() : file(L".quillmere.json")
    {
        EXPECT_TRUE(file.Write(SnapshotOf(FarAwayMachine, L"FAR-AWAY")));
    }

    void WaitForCount(int count)
    {
        script.Then([this, count]() { return TreeCount(Tree()) == count; });
    }

    ScratchFile file;
};

} // namespace

TEST_F(SnapshotWindowTest, CommandLineShowsTheSnapshotUntilBackToThisComputer)
{
    window.UseCommandLine((L"Quillmere.exe \"" + std::wstring(file.Path()) + L"\"").c_str());
    WaitForCount(3);
    script.Then([&]() {
        EXPECT_TRUE(window.ShowsSnapshot());
        std::wstring caption = Caption(window.Window());
        EXPECT_NE(std::wstring::npos, caption.find(L"Quillmere [1.00] (test build) - ")) << caption;
        EXPECT_NE(std::wstring::npos, caption.find(L"(FAR-AWAY, 2026-12-01 10:00 UTC)")) << caption;
        std::wstring name = file.Path();
        EXPECT_NE(std::wstring::npos, caption.find(name.substr(name.rfind(L'\\') + 1))) << caption;
        HTREEITEM adapter = FindTreeNode(Tree(), [](const DeviceNode* n) { return n && n->name == L"Far-away adapter"; });
        EXPECT_NE(nullptr, adapter);
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)adapter);
        EXPECT_GT(ListCount(List()), 3);
        UINT state = 0;
        SystemMenuText(window.Window(), ID_THIS_COMPUTER, &state);
        EXPECT_FALSE(state & MF_GRAYED);

        // A device change of this machine leaves the snapshot alone: no
        // refresh is even timed (the live machine below times one).
        SendMessageW(window.Window(), WM_DEVICECHANGE, 7 /* DBT_DEVNODES_CHANGED */, 0);
        EXPECT_FALSE(KillTimer(window.Window(), MainWindow::RefreshTimer));
        EXPECT_GT(ListCount(List()), 3);

        SendMessageW(window.Window(), WM_SYSCOMMAND, ID_THIS_COMPUTER, 0);
        return true;
    });
    WaitForCount(78);
    script.Then([&]() {
        EXPECT_FALSE(window.ShowsSnapshot());
        EXPECT_EQ(L"Quillmere [1.00] (test build)", Caption(window.Window()));
        UINT state = 0;
        SystemMenuText(window.Window(), ID_THIS_COMPUTER, &state);
        EXPECT_TRUE(state & MF_GRAYED);
        SendMessageW(window.Window(), WM_DEVICECHANGE, 7, 0);
        EXPECT_TRUE(KillTimer(window.Window(), MainWindow::RefreshTimer)) << "the live machine refreshes";
        return true;
    });
    EXPECT_EQ(42, script.Run());
    EXPECT_TRUE(script.Finished());
}

TEST_F(SnapshotWindowTest, DroppedFileAndRefreshReadTheFileAgain)
{
    WaitForTree();
    script.Then([&]() {
        DropFile(window.Window(), file.Path());
        return true;
    });
    WaitForCount(3);
    script.Then([&]() {
        // The file changes; a refresh reads it again.
        EXPECT_TRUE(file.Write(SnapshotOf(
            "device \"HTREE\\\\ROOT\\\\0\"\n  device \"X\\\\1\"\n  device \"X\\\\2\"\n  device \"X\\\\3\"\n",
            L"FAR-AWAY")));
        SendMessageW(Tree(), WM_KEYDOWN, VK_F5, 0);
        return true;
    });
    WaitForCount(4);
    EXPECT_EQ(42, script.Run());
    EXPECT_TRUE(script.Finished());
}

TEST_F(SnapshotWindowTest, ControlOOpensThroughTheDialogAndCancelChangesNothing)
{
    int answered = 0;
    DialogAnswerer boxes(0, ExceptMainWindow(window, [&](HWND box, int) {
        if (++answered == 1)
            DialogAnswerer::Click(box, IDCANCEL);
        else
            ChooseFile(file.Path())(box, 0);
    }));
    WaitForTree();
    script.Then([&]() {
        PostControlKey(Tree(), 'O');
        return true;
    });
    script.Then([&]() { return answered == 1; });
    script.Then([&]() {
        ReleaseControl();
        EXPECT_FALSE(window.ShowsSnapshot());
        EXPECT_EQ(78, TreeCount(Tree()));
        PostControlKey(List(), 'O');
        return true;
    });
    WaitForCount(3);
    script.Then([&]() {
        ReleaseControl();
        EXPECT_TRUE(window.ShowsSnapshot());
        return true;
    });
    EXPECT_EQ(42, script.Run());
    EXPECT_TRUE(script.Finished());
    ASSERT_EQ(2u, OtherBoxes(boxes).size());
    EXPECT_EQ(L"Open Snapshot", OtherBoxes(boxes)[0].caption);
}

TEST_F(SnapshotWindowTest, ControlSSavesThroughTheDialog)
{
    TempDirectory folder(L"snapshot-save");
    WideString target = folder.File(L"saved.quillmere.json");
    DialogAnswerer boxes(0, ExceptMainWindow(window, ChooseFile(target.Text())));
    WaitForTree();
    script.Then([&]() {
        PostControlKey(Tree(), 'S');
        return true;
    });
    script.Then([&]() { return !folder.Read(L"saved.quillmere.json").empty(); });
    script.Then([&]() {
        ReleaseControl();
        return true;
    });
    EXPECT_EQ(42, script.Run());
    EXPECT_TRUE(script.Finished());
    std::string text = folder.Read(L"saved.quillmere.json");
    Snapshot saved;
    SnapshotProblem problem;
    ASSERT_EQ(1, SnapshotReader::Read(text.data(), text.size(), saved, problem)) << problem.kind;
    EXPECT_EQ(78u, saved.devices.size());
    EXPECT_EQ(L"1.00", saved.header.quillmere);
    ASSERT_EQ(1u, OtherBoxes(boxes).size());
    EXPECT_EQ(L"Save Snapshot", OtherBoxes(boxes)[0].caption);
    // The next dialog starts in this folder.
    ScopedTestKey& key = settings;
    HKEY opened = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key.Root(), key.Path(), 0, KEY_READ, &opened));
    wchar_t remembered[MAX_PATH] = {};
    DWORD size = sizeof remembered;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(opened, L"SnapshotFolder", nullptr, nullptr, (BYTE*)remembered, &size));
    RegCloseKey(opened);
    EXPECT_STREQ(folder.Path(), remembered);
}

TEST_F(SnapshotWindowTest, BadFilesAndFailedSavesAreToldInGermanWhileTheViewStays)
{
    window.Strings().SetSelector(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ScratchFile bad(L".quillmere.json");
    ASSERT_TRUE(bad.Write("{\"format\": \"Quillmere snapshot\", \"version\": 3, \"devices\": []}"));
    TempDirectory folder(L"snapshot-readonly");
    ASSERT_TRUE(folder.Write(L"kept.quillmere.json", "kept"));
    WideString kept = folder.File(L"kept.quillmere.json");
    SetFileAttributesW(kept.Text(), FILE_ATTRIBUTE_READONLY);
    DialogAnswerer boxes(0, ExceptMainWindow(window, DialogAnswerer::Press(IDOK)));
    WaitForTree();
    script.Then([&]() {
        EXPECT_EQ(L"Momentaufnahme s&peichern\u2026\tStrg+S", SystemMenuText(window.Window(), ID_SAVE_SNAPSHOT));
        EXPECT_EQ(L"Momentaufnahme \u00f6&ffnen\u2026\tStrg+O", SystemMenuText(window.Window(), ID_OPEN_SNAPSHOT));
        EXPECT_EQ(L"Zur\u00fcck zu &diesem Computer", SystemMenuText(window.Window(), ID_THIS_COMPUTER));
        EXPECT_EQ(0, window.OpenSnapshotFile(bad.Path()));
        EXPECT_EQ(0, window.SaveSnapshotTo(kept.Text()));
        EXPECT_FALSE(window.ShowsSnapshot());
        EXPECT_EQ(78, TreeCount(Tree()));
        return true;
    });
    EXPECT_EQ(42, script.Run());
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ("kept", folder.Read(L"kept.quillmere.json"));
    std::vector<DialogAnswerer::Seen> seen = OtherBoxes(boxes);
    ASSERT_EQ(2u, seen.size());
    EXPECT_NE(std::wstring::npos, seen[0].text.find(L"kann nicht ge\u00f6ffnet werden")) << seen[0].text;
    EXPECT_NE(std::wstring::npos, seen[0].text.find(L"Formatversion 3")) << seen[0].text;
    EXPECT_NE(std::wstring::npos, seen[1].text.find(L"konnte nicht als")) << seen[1].text;
    EXPECT_NE(std::wstring::npos, seen[1].text.find(L"Es wurde keine Datei geschrieben.")) << seen[1].text;
}

TEST_F(SnapshotWindowTest, ASavedMachineShowsAsItDidLive)
{
    TempDirectory folder(L"snapshot-shown");
    ASSERT_TRUE(folder.Write(L"DESKTOP-7Q2K 2026-12-01.quillmere.json", SnapshotOf(nullptr, L"DESKTOP-7Q2K")));
    WideString saved = folder.File(L"DESKTOP-7Q2K 2026-12-01.quillmere.json");
    std::vector<std::wstring> live;
    auto rowsOfTheEthernetAdapter = [&](std::vector<std::wstring>& rows) {
        HTREEITEM ethernet = FindTreeNode(Tree(), [](const DeviceNode* n) { return n && n->devnode == 43; });
        EXPECT_NE(nullptr, ethernet);
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)ethernet);
        rows.clear();
        for (int i = 0; i < ListCount(List()); ++i)
            rows.push_back(ListCell(List(), i, 0) + L"\t" + ListCell(List(), i, 1) + L"\t" +
                           ListCell(List(), i, 2) + L"\t" + ListCell(List(), i, 3));
    };
    WaitForTree();
    script.Then([&]() {
        rowsOfTheEthernetAdapter(live);
        EXPECT_GT(live.size(), 30u);
        EXPECT_EQ(1, window.OpenSnapshotFile(saved.Text()));
        return true;
    });
    script.Then([&]() {
        EXPECT_EQ(78, TreeCount(Tree()));
        std::vector<std::wstring> shown;
        rowsOfTheEthernetAdapter(shown);
        EXPECT_EQ(live, shown);
        return true;
    });
    // tools/screenshot.sh snapshot photographs the window at this point.
    wchar_t hold[16] = {};
    if (GetEnvironmentVariableW(L"QUILL_SCREENSHOT_HOLD", hold, 16))
        script.Wait((DWORD)_wtoi(hold));
    EXPECT_EQ(42, script.Run());
    EXPECT_TRUE(script.Finished());
}
