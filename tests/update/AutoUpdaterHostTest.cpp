#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "ZipBuilder.h"
#include "common/DialogAnswerer.h"
#include "common/LoopbackServer.h"
#include "common/ScopedTestKey.h"
#include "common/TempDirectory.h"
#include "services/FileHash.h"
#include "update/AutoUpdater.h"

// The whole update as the program lives it: the host program (a build of
// version 1.9, copied into a temporary directory as Quillmere.exe) runs the
// check for a window of its own, the test answers its questions, and the
// update replaces it and starts its successor.

namespace {

const DWORD Patience = 120000;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

class Installation {
public:
    Installation() : root_(L"host")
    {
        program_ = std::wstring(root_.Path()) + L"\\program";
        CreateDirectoryW(program_.c_str(), nullptr);
        host_ = ReadBytes(TestDirectory() + L"updatehost.exe");
        WriteBytes(Program(), host_);
        WriteBytes(program_ + L"\\Readme.txt", "old readme");
    }
    const std::wstring& Directory() const { return program_; }
    std::wstring Program() const { return program_ + L"\\Quillmere.exe"; }
    const std::string& Host() const { return host_; }

    // Runs "Quillmere.exe check" and gives back its exit code (the outcome).
    DWORD RunCheck(const std::wstring& url, const wchar_t* keyPath, DWORD flags)
    {
        std::wstring command = L"\"" + Program() + L"\" check \"" + url + L"\" \"" + keyPath +
                               L"\" " + std::to_wstring(flags);
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(Program().c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                            program_.c_str(), &startup, &process))
            return 0xFFFFFFFF;
        CloseHandle(process.hThread);
        process_ = process.dwProcessId;
        DWORD code = 0xFFFFFFFE;
        if (WaitForSingleObject(process.hProcess, Patience) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        else
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess);
        return code;
    }
    DWORD Process() const { return process_; }

    // What the restarted program noted, waiting for it a while.
    std::string WaitForRestart() const
    {
        std::wstring marker = program_ + L"\\restarted.txt";
        DWORD start = GetTickCount();
        std::string noted;
        while ((noted = ReadBytes(marker)).empty() && GetTickCount() - start < Patience)
            Sleep(50);
        return noted;
    }

private:
    TempDirectory root_;
    std::wstring program_;
    std::string host_;
    DWORD process_ = 0;
};

std::string AnswerFor(const LoopbackServer& server, const std::string& version,
                      const std::string& files, const std::string& restart)
{
    return "<update><application>Quillmere</application><version>" + version +
           "</version><info><en>Quillmere " + version + " is ready. Install it now?</en></info>" +
           restart + "<files>" + files + "</files></update>";
}

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM data)
{
    std::pair<std::wstring, HWND>* search = (std::pair<std::wstring, HWND>*)data;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (!handle)
        return TRUE;
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    bool ours = QueryFullProcessImageNameW(handle, 0, image, &size) &&
                lstrcmpiW(image, search->first.c_str()) == 0 && IsWindowVisible(window) &&
                GetWindow(window, GW_OWNER) == nullptr;
    CloseHandle(handle);
    if (!ours)
        return TRUE;
    search->second = window;
    return FALSE;
}

// The top-level window of the program started from `image`, waiting for it.
HWND WaitForProgramWindow(const std::wstring& image)
{
    std::pair<std::wstring, HWND> search(image, nullptr);
    DWORD start = GetTickCount();
    while (!search.second && GetTickCount() - start < Patience) {
        EnumWindows(&FindProgramWindow, (LPARAM)&search);
        if (!search.second)
            Sleep(100);
    }
    return search.second;
}

std::wstring CaptionOf(HWND window)
{
    wchar_t text[256] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 256, (LPARAM)text, SMTO_BLOCK, 10000, &ignored);
    return text;
}

// The registry key that Quillmere.exe writes when it closes; removed again
// when a test created it.
class ProductKeyGuard {
public:
    ProductKeyGuard()
    {
        HKEY key = nullptr;
        existed_ = RegOpenKeyExW(HKEY_CURRENT_USER, Path, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (key)
            RegCloseKey(key);
    }
    ~ProductKeyGuard()
    {
        if (!existed_)
            DeleteRegistryTree(HKEY_CURRENT_USER, Path);
    }

private:
    static constexpr const wchar_t* Path = L"Software\\Tollbrook\\Quillmere";
    bool existed_ = false;
};

} // namespace

TEST(AutoUpdaterHost, AcceptedUpdateSwapsTheFilesAndTheNewProgramRuns)
{
    Installation installation;
    ScopedTestKey key(L"host");
    LoopbackServer server;
    std::string next = ReadBytes(TestDirectory() + L"updatehost_next.exe");
    std::string archive = BuildZip({{"Quillmere.exe", next}, {"Help/Guide.txt", "new guide"}});
    std::string files = "<url name=\"Quillmere.exe\" zip=\"Quillmere.zip\">" +
                        Narrow(server.Url(L"/Quillmere.zip")) + "</url><url name=\"Readme.txt\">" +
                        Narrow(server.Url(L"/Readme.txt")) + "</url>";
    server.Script(HttpAnswer(200, AnswerFor(server, "1.10", files,
                                            "<restart><en>Restart Quillmere now?</en></restart>")));
    server.Script(HttpAnswer(200, archive));
    server.Script(HttpAnswer(200, "new readme"));
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));

    EXPECT_EQ((DWORD)AutoUpdater::Restarted,
              installation.RunCheck(server.Url(L"/common/update.php?p=quillmere"), key.Path(),
                                    AutoUpdater::CheckNow));
    EXPECT_EQ("1.10\r\n", installation.WaitForRestart());
    ASSERT_EQ(2, boxes.Count());
    EXPECT_EQ(L"Quillmere 1.10 is ready. Install it now?", boxes.Boxes()[0].text);
    EXPECT_EQ(L"Restart Quillmere now?", boxes.Boxes()[1].text);
    DirectoryState state = StateOf(installation.Directory());
    state.erase(L"restarted.txt");
    DirectoryState expected = {
        {L"Quillmere.exe", next},
        {L"Quillmere_old.exe", installation.Host()},
        {L"Help", "<dir>"},
        {L"Help\\Guide.txt", "new guide"},
        {L"Readme.txt", "new readme"},
        {L"Readme_old.txt", "old readme"},
    };
    EXPECT_TRUE(state == expected) << NamesOf(state);
}

// The release's own update archive (build/dist/Quillmere.zip) replaces the
// program, and Quillmere.exe starts from the program's directory.
TEST(AutoUpdaterHost, TheReleaseArchiveReplacesTheProgram)
{
    std::wstring release = TestDirectory() + L"..\\dist\\Quillmere.zip";
    std::string archive = ReadBytes(release);
    ASSERT_FALSE(archive.empty()) << "the build makes the release archive first";
    WideString digest;
    ASSERT_EQ(1, FileSha256(release.c_str(), digest));
    Installation installation;
    ScopedTestKey key(L"release");
    ProductKeyGuard productKey;
    LoopbackServer server;
    std::string files = "<url name=\"Quillmere.exe\" zip=\"Quillmere.zip\" sha256=\"" +
                        Narrow(digest.Text()) + "\">" + Narrow(server.Url(L"/Quillmere.zip")) +
                        "</url>";
    // An empty restart text restarts at once.
    server.Script(HttpAnswer(200, AnswerFor(server, "2.0", files, "<restart><en></en></restart>")));
    server.Script(HttpAnswer(200, archive));
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));

    EXPECT_EQ((DWORD)AutoUpdater::Restarted,
              installation.RunCheck(server.Url(L"/common/update.php?p=quillmere"), key.Path(),
                                    AutoUpdater::CheckNow));
    EXPECT_EQ(1, boxes.Count());
    EXPECT_EQ(installation.Host(), ReadBytes(installation.Directory() + L"\\Quillmere_old.exe"));
    EXPECT_EQ(ReadBytes(TestDirectory() + L"..\\dist\\Quillmere.exe"), ReadBytes(installation.Program()));
    EXPECT_TRUE(ReadBytes(installation.Directory() + L"\\Quillmere_new.zip").empty());

    HWND window = WaitForProgramWindow(installation.Program());
    ASSERT_NE(nullptr, window) << "Quillmere.exe did not start";
    EXPECT_EQ(0u, CaptionOf(window).find(L"Quillmere ["));
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (handle) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(handle, Patience));
        CloseHandle(handle);
    }
}

TEST(AutoUpdaterHost, DeclinedOrFailedUpdatesChangeNothing)
{
    Installation installation;
    ScopedTestKey key(L"declined");
    LoopbackServer server;
    DirectoryState before = StateOf(installation.Directory());
    std::string files = "<url name=\"Quillmere.exe\">" + Narrow(server.Url(L"/Quillmere.exe")) +
                        "</url>";
    std::wstring url = server.Url(L"/common/update.php?p=quillmere");
    {
        DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDNO));
        server.Script(HttpAnswer(200, AnswerFor(server, "1.10", files, "")));
        EXPECT_EQ((DWORD)AutoUpdater::Declined,
                  installation.RunCheck(url, key.Path(), AutoUpdater::CheckNow));
        // The declined version is not offered again, the next week neither.
        EXPECT_EQ((DWORD)AutoUpdater::NoUpdate,
                  installation.RunCheck(url, key.Path(), AutoUpdater::CheckNow));
        EXPECT_EQ(1, boxes.Count());
        // Within the week there is no check at all.
        size_t requests = server.RequestCount();
        EXPECT_EQ(100u, installation.RunCheck(url, key.Path(), 0));
        EXPECT_EQ(requests, server.RequestCount());
    }
    {
        DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));
        server.Script(HttpAnswer(200, AnswerFor(server, "1.11", files, "<restart><en></en></restart>")));
        server.Script(LoopbackReply().Send(HttpHead(200, "Content-Length: 900000\r\n") +
                                           installation.Host().substr(0, 300000)));
        EXPECT_EQ((DWORD)AutoUpdater::InstallFailed,
                  installation.RunCheck(url, key.Path(), AutoUpdater::CheckNow));
        EXPECT_EQ(1, boxes.Count());
    }
    EXPECT_TRUE(StateOf(installation.Directory()) == before) << NamesOf(StateOf(installation.Directory()));
}
