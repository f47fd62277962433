#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "UpdateTestSupport.h"
#include "ZipBuilder.h"
#include "common/DialogAnswerer.h"
#include "common/LoopbackServer.h"
#include "common/ScopedTestKey.h"
#include "common/SignedAnswer.h"
#include "common/TempDirectory.h"
#include "report/ProblemReportDialog.h"
#include "services/FileSystem.h"
#include "ui/VersionText.h"
#include "update/AutoUpdater.h"
#include "update/FileJournal.h"
#include "update/ProgramStart.h"
#include "update/UpdateNotice.h"
#include "update/UpdateSteps.h"

// The whole update as the program lives it: a host program (a build of
// version 1.9, copied into a temporary directory as Quillmere.exe) runs the
// check for a window of its own, the test answers its questions over real
// TLS, and the update replaces it, starts its successor and ends.

namespace {

const DWORD Patience = 120000;

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class Installation {
public:
    explicit Installation(const wchar_t* host = L"updatehost.exe") : root_(L"host")
    {
        program_ = std::wstring(root_.Path()) + L"\\program";
        CreateDirectoryW(program_.c_str(), nullptr);
        host_ = ReadBytes(TestDirectory() + host);
        WriteBytes(Program(), host_);
        WriteBytes(program_ + L"\\Readme.txt", "old readme");
    }
    const std::wstring& Directory() const { return program_; }
    std::wstring Program() const { return program_ + L"\\Quillmere.exe"; }
    const std::string& Host() const { return host_; }

    // Starts "Quillmere.exe check", halting at step `haltAt` when given.
    HANDLE StartCheck(const std::string& url, const wchar_t* keyPath, DWORD flags, int haltAt = 0)
    {
        std::wstring command = L"\"" + Program() + L"\" check \"" + Wide(url) + L"\" \"" +
                               keyPath + L"\" " + std::to_wstring(flags);
        if (haltAt)
            command += L" " + std::to_wstring(haltAt);
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(Program().c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                            program_.c_str(), &startup, &process))
            return nullptr;
        CloseHandle(process.hThread);
        return process.hProcess;
    }
    // Runs the check to its end and gives back its exit code (the outcome).
    DWORD RunCheck(const std::string& url, const wchar_t* keyPath, DWORD flags)
    {
        HANDLE process = StartCheck(url, keyPath, flags);
        if (!process)
            return 0xFFFFFFFF;
        DWORD code = 0xFFFFFFFE;
        if (WaitForSingleObject(process, Patience) == WAIT_OBJECT_0)
            GetExitCodeProcess(process, &code);
        else
            TerminateProcess(process, 1);
        CloseHandle(process);
        return code;
    }

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

    // The folder without the notes of the hosts.
    DirectoryState State() const
    {
        DirectoryState state = StateOf(program_);
        state.erase(L"restarted.txt");
        state.erase(L"halted.txt");
        return state;
    }

    // Ends the programs that `parent` started (the successor of a halted
    // check) and keeps none of them running.
    static void EndChildrenOf(DWORD parent)
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {sizeof entry};
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (entry.th32ParentProcessID != parent)
                continue;
            HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (child) {
                TerminateProcess(child, 1);
                WaitForSingleObject(child, 10000);
                CloseHandle(child);
            }
        }
        CloseHandle(snapshot);
    }

private:
    TempDirectory root_;
    std::wstring program_;
    std::string host_;
};

std::string AnswerFor(const std::string& version, const std::string& files,
                      const std::string& restart)
{
    return "<update><application>Quillmere</application><version>" + version +
           "</version><info><en>Quillmere " + version + " is ready. Install it now?</en></info>" +
           restart + "<files>" + files + "</files></update>";
}

// The update of the 1.9 host to 1.10 that most tests serve: the program in
// an archive with a guide, and a new readme.
struct NextVersion {
    std::string next = ReadBytes(TestDirectory() + L"updatehost_next.exe");
    std::string archive = BuildZip({{"Quillmere.exe", next}, {"Help/Guide.txt", "new guide"}});

    std::string Files(const LoopbackServer& server, const std::string& program = "") const
    {
        std::string packed = program.empty() ? archive : BuildZip({{"Quillmere.exe", program}});
        return SignedEntry(HttpsUrl(server, "/Quillmere.zip"), packed, "1.10", "Quillmere.exe",
                           "Quillmere.zip") +
               SignedEntry(HttpsUrl(server, "/Readme.txt"), "new readme", "1.10", "Readme.txt");
    }
    void Serve(LoopbackServer& server, const std::string& restart,
               const std::string& program = "") const
    {
        server.Script(HttpAnswer(200, AnswerFor("1.10", Files(server, program), restart)));
        server.Script(HttpAnswer(200, program.empty() ? archive : BuildZip({{"Quillmere.exe", program}})));
        server.Script(HttpAnswer(200, "new readme"));
    }
    DirectoryState Installed(const Installation& installation) const
    {
        return {{L"Quillmere.exe", next},
                {L"Quillmere_old.exe", installation.Host()},
                {L"Help", "<dir>"},
                {L"Help\\Guide.txt", "new guide"},
                {L"Readme.txt", "new readme"},
                {L"Readme_old.txt", "old readme"}};
    }
};

const char* const Endpoint = "/common/update.php?p=quillmere";
const std::string RestartAtOnce = "<restart><en></en></restart>";

std::wstring CaptionOf(HWND window)
{
    wchar_t text[256] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 256, (LPARAM)text, SMTO_BLOCK, 10000, &ignored);
    return text;
}

// The registry key that Quillmere.exe writes when it closes; removed again
// when a test created it. Meanwhile a Quillmere.exe started by the test
// skips its own update check (a last check of 0xFFFFFFFF), so that no
// build of the test talks to anyone but the test.
class ProductKeyGuard {
public:
    ProductKeyGuard()
    {
        HKEY key = nullptr;
        existed_ = RegOpenKeyExW(HKEY_CURRENT_USER, Path, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (key)
            RegCloseKey(key);
        if (!existed_ && RegCreateKeyW(HKEY_CURRENT_USER, Path, &key) == ERROR_SUCCESS) {
            DWORD skip = 0xFFFFFFFF;
            RegSetValueExW(key, L"LastCheck", 0, REG_DWORD, (const BYTE*)&skip, sizeof skip);
            RegCloseKey(key);
        }
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

// Sets an environment variable of this process, which the programs it
// starts inherit, for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name)
    {
        wchar_t old[4096] = {};
        had_ = GetEnvironmentVariableW(name, old, 4096) > 0;
        old_ = old;
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }

private:
    std::wstring name_;
    std::wstring old_;
    bool had_ = false;
};

// A simulated machine whose device library faults in the first refresh of
// a Quillmere.exe in `folder`: the simulator goes beside it (the update
// tests run with it chosen over Wine's own setup library) and the machine
// it reads is named for the programs the test starts.
class CrashingMachine {
public:
    explicit CrashingMachine(const std::wstring& folder) : root_(L"crashing-machine")
    {
        WriteBytes(folder + L"\\setupapi.dll", ReadBytes(TestDirectory() + L"setupapi.dll"));
        std::wstring machine = std::wstring(root_.Path()) + L"\\machine.txt";
        WriteBytes(machine, "fail CM_Get_Child crash\n"
                            "device \"HTREE\\\\ROOT\\\\0\"\n"
                            "  device \"ROOT\\\\LEGACY\\\\0000\"\n");
        variable_.reset(new ScopedVariable(L"QUILLMERE_SIM_MACHINE", machine.c_str()));
    }

private:
    TempDirectory root_;
    std::unique_ptr<ScopedVariable> variable_;
};

} // namespace

TEST(AutoUpdaterHost, AcceptedUpdateSwapsTheFilesAndTheNewProgramRuns)
{
    Installation installation;
    ScopedTestKey key(L"host");
    LoopbackServer server;
    NextVersion update;
    update.Serve(server, "<restart><en>Restart Quillmere now?</en></restart>");
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));

    EXPECT_EQ((DWORD)AutoUpdater::Restarted,
              installation.RunCheck(HttpsUrl(server, Endpoint), key.Path(), AutoUpdater::CheckNow));
    // The old program ended only once its successor was up.
    EXPECT_EQ("1.10\r\n", installation.WaitForRestart());
    HWND window = WaitForProgramWindow(installation.Program());
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(2, boxes.Count());
    EXPECT_EQ(L"Quillmere 1.10 is ready. Install it now?", boxes.Boxes()[0].text);
    EXPECT_EQ(L"Restart Quillmere now?", boxes.Boxes()[1].text);
    EXPECT_TRUE(installation.State() == update.Installed(installation))
        << NamesOf(installation.State());
    ClosePrograms(installation.Program());
}

// A successor that ends at once is rolled back: the old files return and
// the old program, still running, stays.
TEST(AutoUpdaterHost, ANewProgramThatEndsAtStartIsRolledBack)
{
    Installation installation;
    ScopedTestKey key(L"broken");
    LoopbackServer server;
    NextVersion update;
    update.Serve(server, RestartAtOnce, ReadBytes(TestDirectory() + L"updatehost_broken.exe"));
    DirectoryState before = installation.State();
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));
    EXPECT_EQ((DWORD)AutoUpdater::InstallFailed,
              installation.RunCheck(HttpsUrl(server, Endpoint), key.Path(), AutoUpdater::CheckNow));
    EXPECT_TRUE(installation.State() == before) << NamesOf(installation.State());
    EXPECT_EQ("1.9\r\n", RunPlainly(installation.Directory()));
}

// The release's own program and archive (build/dist, accepting only the
// maker's key) replace an older program, and Quillmere.exe starts from the
// program's directory.
TEST(AutoUpdaterHost, TheReleaseArchiveReplacesTheProgram)
{
    std::wstring releaseProgram = TestDirectory() + L"..\\dist\\Quillmere.exe";
    std::string archive = ReadBytes(TestDirectory() + L"..\\dist\\Quillmere.zip");
    ASSERT_FALSE(archive.empty()) << "the build makes the release archive first";
    WideString versionText;
    ASSERT_EQ(1, ProgramVersionText(releaseProgram.c_str(), versionText));
    std::string version(versionText.Text(), versionText.Text() + versionText.Length());
    Installation installation(L"updatehost_ancient.exe");
    ScopedTestKey key(L"release");
    ProductKeyGuard productKey;
    LoopbackServer server;
    server.Script(HttpAnswer(200, AnswerFor(version,
                                            SignedEntry(HttpsUrl(server, "/Quillmere.zip"), archive,
                                                        version, "Quillmere.exe", "Quillmere.zip"),
                                            RestartAtOnce)));
    server.Script(HttpAnswer(200, archive));
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));

    EXPECT_EQ((DWORD)AutoUpdater::Restarted,
              installation.RunCheck(HttpsUrl(server, Endpoint), key.Path(), AutoUpdater::CheckNow));
    // One question; the program's own window is a dialog box too.
    ASSERT_GE(boxes.Count(), 1);
    EXPECT_EQ(L"Quillmere " + Wide(version) + L" is ready. Install it now?", boxes.Boxes()[0].text);
    EXPECT_EQ(installation.Host(), ReadBytes(installation.Directory() + L"\\Quillmere_old.exe"));
    EXPECT_EQ(ReadBytes(releaseProgram), ReadBytes(installation.Program()));
    EXPECT_FALSE(HasLeftovers(installation.State()));

    HWND window = WaitForProgramWindow(installation.Program());
    ASSERT_NE(nullptr, window) << "Quillmere.exe did not start";
    std::wstring caption = CaptionOf(window);
    EXPECT_EQ(0u, caption.find(L"Quillmere ["));
    EXPECT_EQ(std::wstring::npos, caption.find(L"test build")) << "the release is no test build";
    ClosePrograms(installation.Program());
}

TEST(AutoUpdaterHost, DeclinedOrFailedUpdatesChangeNothing)
{
    Installation installation;
    ScopedTestKey key(L"declined");
    LoopbackServer server;
    NextVersion update;
    DirectoryState before = installation.State();
    std::string url = HttpsUrl(server, Endpoint);
    {
        DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDNO));
        server.Script(HttpAnswer(200, AnswerFor("1.10", update.Files(server), "")));
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
        ScopedTestKey again(L"failed");
        server.Script(HttpAnswer(200, AnswerFor("1.10", update.Files(server), RestartAtOnce)));
        server.Script(LoopbackReply().Send(HttpHead(200, "Content-Length: 900000\r\n") +
                                           update.archive.substr(0, 3000)));
        EXPECT_EQ((DWORD)AutoUpdater::InstallFailed,
                  installation.RunCheck(url, again.Path(), AutoUpdater::CheckNow));
        EXPECT_EQ(1, boxes.Count());
    }
    EXPECT_TRUE(installation.State() == before) << NamesOf(installation.State());
}

// Two instances of one folder asked at the same moment: one installs, the
// other gives way, and the program is replaced once.
TEST(AutoUpdaterHost, TwoProcessesCheckingAtOnceInstallOnce)
{
    Installation installation;
    ScopedTestKey first(L"first"), second(L"second");
    LoopbackServer server;
    NextVersion update;
    std::string answer = AnswerFor("1.10", update.Files(server), RestartAtOnce);
    server.Script(HttpAnswer(200, answer));
    server.Script(HttpAnswer(200, answer));
    // Both questions are answered together once both are up.
    std::atomic<int> asked{0};
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, [&](HWND box, int) {
        ++asked;
        std::thread([box, &asked] {
            DWORD start = GetTickCount();
            while (asked < 2 && GetTickCount() - start < Patience)
                Sleep(50);
            DialogAnswerer::Click(box, IDYES);
        }).detach();
    });
    server.Script(HttpAnswer(200, update.archive));
    server.Script(HttpAnswer(200, "new readme"));
    std::string url = HttpsUrl(server, Endpoint);
    HANDLE one = installation.StartCheck(url, first.Path(), AutoUpdater::CheckNow);
    HANDLE two = installation.StartCheck(url, second.Path(), AutoUpdater::CheckNow);
    ASSERT_TRUE(one && two);
    DWORD codes[2] = {};
    HANDLE both[2] = {one, two};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(both[i], Patience));
        GetExitCodeProcess(both[i], &codes[i]);
        CloseHandle(both[i]);
    }
    EXPECT_EQ(2, boxes.Count());
    // The second gives way while the first installs, or finds the new
    // version already there when it comes to install.
    std::sort(codes, codes + 2);
    EXPECT_TRUE(codes[0] == AutoUpdater::Abandoned || codes[0] == AutoUpdater::NoUpdate) << codes[0];
    EXPECT_EQ((DWORD)AutoUpdater::Restarted, codes[1]);
    HWND window = WaitForProgramWindow(installation.Program());
    ASSERT_NE(nullptr, window);
    ClosePrograms(installation.Program());
    EXPECT_TRUE(installation.State() == update.Installed(installation))
        << NamesOf(installation.State());
}

// The window closes while the archive's download waits for bytes after
// Yes: the program ends in time, and before it has ended, whatever the
// download had made in the folder is gone (a file still open goes with the
// process).
TEST(AutoUpdaterHost, ClosingDuringTheDownloadEndsInTimeAndLeavesTheFolderAsItWas)
{
    Installation installation;
    ScopedTestKey key(L"closing");
    LoopbackServer server;
    NextVersion update;
    DirectoryState before = installation.State();
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    server.Script(HttpAnswer(200, AnswerFor("1.10", update.Files(server), RestartAtOnce)));
    server.Script(LoopbackReply()
                      .Send(HttpHead(200, "Content-Length: " + std::to_string(update.archive.size()) +
                                              "\r\n") +
                            update.archive.substr(0, 1000))
                      .WaitFor(release, Patience));
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));
    HANDLE process = installation.StartCheck(HttpsUrl(server, Endpoint), key.Path(),
                                             AutoUpdater::CheckNow);
    ASSERT_NE(nullptr, process);
    DWORD start = GetTickCount();
    while (server.RequestCount() < 2 && GetTickCount() - start < Patience)
        Sleep(50);
    ASSERT_EQ(2u, server.RequestCount());
    EXPECT_FALSE(installation.State() == before) << "the download has begun in the folder";
    HWND window = WaitForProgramWindow(installation.Program());
    ASSERT_NE(nullptr, window);
    start = GetTickCount();
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, Patience));
    DWORD took = GetTickCount() - start;
    printf("the program ended %lu ms after its window was closed during the download\n", took);
    // The server would hold the download for two minutes.
    EXPECT_LT(took, AutoUpdater::StopPatience + 30000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    EXPECT_EQ((DWORD)AutoUpdater::Abandoned, code);
    EXPECT_TRUE(installation.State() == before) << NamesOf(installation.State());
    SetEvent(release);
    EXPECT_EQ("1.9\r\n", RunPlainly(installation.Directory()));
    EXPECT_TRUE(installation.State() == before) << NamesOf(installation.State());
    CloseHandle(release);
}

// A real Quillmere build as the new program, crashing in its first refresh
// (its device library faults): its problem report comes up while the old
// program, out of sight, still waits; once the report is answered the
// crashed build is gone, the old files are back and the old program runs.
TEST(AutoUpdaterHost, ANewQuillmereThatCrashesAfterShowingItsWindowIsRolledBack)
{
    Installation installation(L"updatehost_ancient.exe");
    CrashingMachine machine(installation.Directory());
    ScopedTestKey key(L"crashing");
    ProductKeyGuard productKey;
    std::string quillmere = ReadBytes(TestDirectory() + L"Quillmere.exe");
    std::string archive = BuildZip({{"Quillmere.exe", quillmere}});
    LoopbackServer server;
    server.Script(HttpAnswer(200, AnswerFor("1.00",
                                            SignedEntry(HttpsUrl(server, "/Quillmere.zip"), archive,
                                                        "1.00", "Quillmere.exe", "Quillmere.zip"),
                                            RestartAtOnce)));
    server.Script(HttpAnswer(200, archive));
    DirectoryState before = installation.State();
    std::atomic<bool> reported{false};
    std::atomic<bool> newWhileReported{false};
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, [&](HWND box, int) {
        if (GetDlgItem(box, IDYES)) {
            DialogAnswerer::Click(box, IDYES);
        } else if (GetDlgItem(box, ProblemReportDialog::DontSendButton)) {
            // The old program has waited: the crashed build is still in place.
            newWhileReported = ReadBytes(installation.Program()) == quillmere;
            reported = true;
            DialogAnswerer::Click(box, ProblemReportDialog::DontSendButton);
        }
    });
    EXPECT_EQ((DWORD)AutoUpdater::InstallFailed,
              installation.RunCheck(HttpsUrl(server, Endpoint), key.Path(), AutoUpdater::CheckNow));
    EXPECT_TRUE(reported) << "the new build's problem report came up";
    EXPECT_TRUE(newWhileReported);
    DirectoryState after = installation.State();
    EXPECT_FALSE(after[L"Quillmere_Debug.txt"].empty()) << "the crash left its report";
    after.erase(L"Quillmere_Debug.txt");
    after.erase(L"Quillmere_Debug.dmp");
    EXPECT_TRUE(after == before) << NamesOf(after);
    EXPECT_EQ("0.9\r\n", RunPlainly(installation.Directory()));
}

// A new program that failed is ended, but a problem report it shows (on a
// thread of its own, its main window stopped by the crash) is let finish
// first: the program then ends by itself, with the crash's code. Without a
// report up, it is ended at once.
TEST(AutoUpdaterHost, AFailedNewProgramFinishesItsProblemReportBeforeItIsEnded)
{
    TempDirectory folder(L"report-first");
    std::wstring program = std::wstring(folder.Path()) + L"\\Quillmere.exe";
    WriteBytes(program, ReadBytes(TestDirectory() + L"Quillmere.exe"));
    CrashingMachine machine(folder.Path());
    ProductKeyGuard productKey;
    {
        ProgramStart start;
        ASSERT_EQ(1, start.Launch(program.c_str(), folder.Path()));
        start.End(ProgramStart::ReportPatience, nullptr);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, start.ProcessId());
        DWORD code = 0;
        if (process) {
            GetExitCodeProcess(process, &code);
            CloseHandle(process);
        }
        EXPECT_EQ(1u, code) << "ended at once";
    }
    static HANDLE reportUp, waiting;
    reportUp = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    waiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, [](HWND box, int) {
        if (!GetDlgItem(box, ProblemReportDialog::DontSendButton))
            return;
        SetEvent(reportUp);
        // Answered only once the old program waits for it.
        WaitForSingleObject(waiting, Patience);
        DialogAnswerer::Click(box, ProblemReportDialog::DontSendButton);
    });
    WatchUpdateSteps(
        [](const wchar_t* step, void*) {
            if (wcscmp(step, L"wait for the problem report") == 0)
                SetEvent(waiting);
        },
        nullptr);
    ProgramStart start;
    ASSERT_EQ(1, start.Launch(program.c_str(), folder.Path()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reportUp, Patience));
    EXPECT_EQ(ProgramStart::Failed, start.WaitForProof(0, nullptr));
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, start.ProcessId());
    start.End(ProgramStart::ReportPatience, nullptr);
    WatchUpdateSteps(nullptr, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waiting, 0)) << "the report was waited for";
    DWORD code = 0;
    ASSERT_NE(nullptr, process);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, Patience));
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    EXPECT_EQ((DWORD)EXCEPTION_ACCESS_VIOLATION, code) << "it ended by itself";
    CloseHandle(reportUp);
    CloseHandle(waiting);
}

// Without a restart the new version is on trial until it runs: its first
// start that shows its window proves it, and the old files go.
TEST(AutoUpdaterHost, AVersionInstalledWithoutARestartIsFinalOnceItHasRun)
{
    Installation installation;
    ScopedTestKey key(L"no-restart");
    LoopbackServer server;
    NextVersion update;
    update.Serve(server, "");
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));
    EXPECT_EQ((DWORD)AutoUpdater::Installed,
              installation.RunCheck(HttpsUrl(server, Endpoint), key.Path(), AutoUpdater::CheckNow));
    EXPECT_FALSE(installation.State() == update.Installed(installation)) << "on trial";
    EXPECT_EQ("1.10\r\n", RunPlainly(installation.Directory()));
    EXPECT_TRUE(installation.State() == update.Installed(installation)) << NamesOf(installation.State());
}

// Without a restart the new version stays on trial: a build that crashes
// at every start gets two, and the third start of it puts the old version
// back and starts it.
TEST(AutoUpdaterHost, ANewBuildThatNeverRunsIsRolledBackAtItsThirdStart)
{
    Installation installation;
    ScopedTestKey key(L"trial");
    LoopbackServer server;
    NextVersion update;
    update.Serve(server, "<restart><en>Restart Quillmere now?</en></restart>",
                 ReadBytes(TestDirectory() + L"updatehost_broken.exe"));
    DirectoryState before = installation.State();
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, [](HWND box, int index) {
        DialogAnswerer::Click(box, index == 0 ? IDYES : IDNO);
    });
    EXPECT_EQ((DWORD)AutoUpdater::Installed,
              installation.RunCheck(HttpsUrl(server, Endpoint), key.Path(), AutoUpdater::CheckNow));
    EXPECT_EQ(2, boxes.Count());
    EXPECT_TRUE(PathExists((installation.Directory() + L"\\Quillmere.journal").c_str()));
    for (int start = 1; start < FileJournal::TrialStarts; ++start) {
        SCOPED_TRACE(start);
        EXPECT_EQ("", RunPlainly(installation.Directory()));
        EXPECT_FALSE(installation.State() == before) << "still on trial";
    }
    EXPECT_EQ("1.9\r\n", RunPlainly(installation.Directory()));
    EXPECT_TRUE(installation.State() == before) << NamesOf(installation.State());
}

// A journal planted to make the next start delete the program: the record
// is set aside untouched, the user is told once, and the program runs. A
// journal the program wrote itself is acted on at the same start.
TEST(AutoUpdaterHost, APlantedJournalIsSetAsideAndToldOnce)
{
    Installation installation;
    const std::string header = "Quillmere update journal 1\n";
    WriteBytes(installation.Directory() + L"\\Quillmere.journal",
               header + "scratch\tQuillmere.exe\nswapped\n");
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDOK));
    EXPECT_EQ("1.9\r\n", RunPlainly(installation.Directory()));
    ASSERT_EQ(1, boxes.Count());
    WideString told;
    ASSERT_EQ(1, UpdateNoticeText(NoticeRecordRejected, L"", FileJournal::RejectedName, told));
    std::wstring opening(told.Text(), wcschr(told.Text(), L'"') - told.Text());
    EXPECT_EQ(0u, boxes.Boxes()[0].text.find(opening)) << "the notice of a record set aside";
    EXPECT_NE(std::wstring::npos, boxes.Boxes()[0].text.find(FileJournal::RejectedName));
    EXPECT_EQ(installation.Host(), ReadBytes(installation.Program()));
    EXPECT_EQ(header + "scratch\tQuillmere.exe\nswapped\n",
              ReadBytes(installation.Directory() + L"\\Quillmere.journal.rejected"));
    DeleteFileW((installation.Directory() + L"\\Quillmere.journal.rejected").c_str());

    WriteBytes(installation.Directory() + L"\\qtm1.tmp", "a working file");
    WriteBytes(installation.Directory() + L"\\Quillmere.journal", header + "scratch\tqtm1.tmp\nprepared\n");
    EXPECT_EQ("1.9\r\n", RunPlainly(installation.Directory()));
    EXPECT_EQ(1, boxes.Count()) << "told once";
    EXPECT_FALSE(PathExists((installation.Directory() + L"\\qtm1.tmp").c_str()));
    EXPECT_FALSE(PathExists((installation.Directory() + L"\\Quillmere.journal").c_str()));
}

// The update killed at every step in turn, from the first download to the
// successor's start; each time the next start finds one whole version, old
// or new, that runs, and no working file.
TEST(AutoUpdaterHost, KilledAtAnyStepTheFolderHoldsOneWholeVersion)
{
    NextVersion update;
    DialogAnswerer boxes(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(IDYES));
    int steps = 0, whole = 0;
    std::string halted;
    for (int step = 1; step < 60; ++step) {
        Installation installation;
        ScopedTestKey key(L"killed");
        LoopbackServer server;
        update.Serve(server, RestartAtOnce);
        DirectoryState before = installation.State();
        HANDLE process = installation.StartCheck(HttpsUrl(server, Endpoint), key.Path(),
                                                 AutoUpdater::CheckNow, step);
        ASSERT_NE(nullptr, process);
        std::wstring marker = installation.Directory() + L"\\halted.txt";
        DWORD start = GetTickCount();
        while ((halted = ReadBytes(marker)).empty() && GetTickCount() - start < Patience &&
               WaitForSingleObject(process, 50) == WAIT_TIMEOUT) {
        }
        bool reached = !halted.empty();
        TerminateProcess(process, 1);
        WaitForSingleObject(process, Patience);
        Installation::EndChildrenOf(GetProcessId(process));
        CloseHandle(process);
        // The update ran through: every step has been killed once.
        if (!reached)
            break;
        ++steps;
        SCOPED_TRACE(halted);
        std::string ran = RunPlainly(installation.Directory());
        DirectoryState after = installation.State();
        bool old = after == before && ran == "1.9\r\n";
        bool next = after == update.Installed(installation) && ran == "1.10\r\n";
        EXPECT_TRUE(old || next) << "ran: " << ran << "\n" << NamesOf(after);
        if (old || next)
            ++whole;
        printf("killed at %s  -> %s\n", halted.substr(0, halted.size() - 2).c_str(),
               old ? "the old version" : next ? "the new version" : "BROKEN");
    }
    printf("killed at every step: %d of %d left one whole version that starts\n", whole, steps);
    EXPECT_GT(steps, 10);
    EXPECT_EQ(steps, whole);
}
