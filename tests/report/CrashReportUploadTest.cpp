#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <utility>
#include <vector>

#include "CrashChild.h"
#include "common/DialogAnswerer.h"
#include "common/LoopbackServer.h"
#include "common/ScopedTestKey.h"
#include "common/SignedAnswer.h"
#include "common/TempDirectory.h"
#include "services/ModulePath.h"

namespace {

// One part of the posted form as the report's upload writes it.
std::string FilePart(const char* name, const char* fileName, const std::string& bytes)
{
    return std::string("--") + "-----------------------------1234567890123" +
           "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fileName +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes + "\r\n";
}

} // namespace

namespace {

// An environment variable set while the object lives, put back after.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name)
    {
        wchar_t saved[2048];
        had_ = GetEnvironmentVariableW(name, saved, 2048) > 0;
        if (had_)
            saved_ = saved;
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, had_ ? saved_.c_str() : nullptr); }

private:
    const wchar_t* name_;
    bool had_ = false;
    std::wstring saved_;
};

// The uploaded files, kept beside the tests for the independent dump reader
// (the ctest "dumpreader", which runs after this suite).
void KeepForTheDumpReader(const std::string& dump, const std::string& text)
{
    WideString directory, folder;
    ASSERT_TRUE(GetExecutableDirectory(directory));
    folder.Format(L"%suploaded", directory.Text());
    CreateDirectoryW(folder.Text(), nullptr);
    const struct {
        const wchar_t* name;
        const std::string* bytes;
    } files[] = {{L"\\crasher_Debug.dmp", &dump}, {L"\\crasher_Debug.txt", &text}};
    for (const auto& file : files) {
        WideString path;
        path.Format(L"%s%s", folder.Text(), file.name);
        HANDLE handle = CreateFileW(path.Text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(handle, file.bytes->data(), (DWORD)file.bytes->size(), &written, nullptr));
        CloseHandle(handle);
    }
}

} // namespace

TEST(CrashReportUpload, ACrashOffersTheReportAndSendDeliversBothFiles)
{
    DebuggerOff debugger;
    LoopbackServer server;
    server.Script(HttpAnswer(200, "thanks"));
    // A developer's symbol server that never answers: the capture asks no
    // symbol server, so it neither waits for it nor reaches it.
    LoopbackServer symbols;
    symbols.Script(LoopbackReply().Hang());
    TempDirectory folder(L"CrashUpload");
    WideString symbolPath;
    symbolPath.Format(L"srv*%s\\symbols*http://127.0.0.1:%u/symbols", folder.Path(),
                      (unsigned)symbols.Port());
    ScopedVariable variable(L"_NT_SYMBOL_PATH", symbolPath.Text());
    char mode[32];
    snprintf(mode, sizeof(mode), "report %u", (unsigned)server.Port());
    CrashRun run;
    {
        // Presses "Send Problem Report" in the dialog the crashed helper shows.
        DialogAnswerer user(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(1000));
        run = RunCrasher(folder.Path(), mode, CrashSetup::Plain);
        ASSERT_EQ(1, user.Count()) << "one dialog, shown once";
        EXPECT_EQ(L"Quillmere", user.Boxes()[0].caption);
    }
    ASSERT_TRUE(run.ended);
    ASSERT_TRUE(run.textExists && run.dumpExists);
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005]")) << run.text;
    EXPECT_GT(run.dump.size(), 1000u);
    // Complete all the same: a stack, and the modules and threads.
    EXPECT_NE("", Section(run.text, "Stack:")) << run.text;
    EXPECT_NE("", Section(run.text, "ModuleList:"));
    EXPECT_NE("", Section(run.text, "ThreadList:"));
    // The crashed process did reach loopback servers: the report came.
    EXPECT_EQ(1u, server.ConnectionCount());
    EXPECT_EQ(0u, symbols.ConnectionCount());

    ASSERT_EQ(1u, server.RequestCount());
    const std::string request = server.Requests()[0];
    EXPECT_EQ(0u, request.find("POST /services/lumeri/report.php HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, request.find("name=\"p\"\r\n\r\nQuillmere\r\n"));
    ASSERT_NE(std::string::npos, request.find(FilePart("d", "crasher_Debug.dmp", run.dump)))
        << "the dump written for this crash, byte for byte";
    EXPECT_NE(std::string::npos, request.find(FilePart("t", "crasher_Debug.txt", run.text)));
    EXPECT_EQ(0xC0000005u, run.exitCode);
    KeepForTheDumpReader(run.dump, run.text);
}

namespace {

// Runs the helper in `mode` with a report host on a loopback port and
// declines the dialogs it shows: `dialogs` of them, each the problem report.
CrashRun DeclineReport(const TempDirectory& folder, const char* mode, size_t dialogs = 1,
                       std::vector<DialogAnswerer::Seen>* seenOut = nullptr)
{
    DebuggerOff debugger;
    LoopbackServer server;
    char command[48];
    snprintf(command, sizeof(command), "%s %u", mode, (unsigned)server.Port());
    DialogAnswerer user(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(1001));
    CrashRun run = RunCrasher(folder.Path(), command, CrashSetup::Plain);
    EXPECT_TRUE(run.ended) << mode;
    std::vector<DialogAnswerer::Seen> seen = user.Boxes();
    EXPECT_EQ(dialogs, seen.size()) << mode;
    for (const DialogAnswerer::Seen& box : seen)
        EXPECT_EQ(L"Quillmere", box.caption);
    EXPECT_EQ(0u, server.RequestCount());
    if (seenOut)
        *seenOut = seen;
    return run;
}

// The thread an exception line names.
DWORD ThreadOfException(const std::string& text)
{
    size_t at = text.find(" in Thread ");
    return at == std::string::npos ? 0 : (DWORD)std::stoul(text.substr(at + 11));
}

// The program's main window is a dialog too; its caption names the version.
bool IsMainWindow(HWND box)
{
    wchar_t caption[64] = {};
    GetWindowTextW(box, caption, 64);
    return wcsncmp(caption, L"Quillmere [", 11) == 0;
}

bool FileExists(const TempDirectory& folder, const wchar_t* name)
{
    return GetFileAttributesW(folder.File(name).Text()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

TEST(CrashReportUpload, AFaultInTheCaptureEndsOnlyThatPart)
{
    // MiniDumpWriteDump and StackWalk64 fault as they are called; the dialog
    // still comes, and the text report, with the stack section ended where
    // it faulted; the dump, which never came to be, is neither kept nor
    // offered.
    TempDirectory folder(L"CaptureFault");
    CrashRun run = DeclineReport(folder, "capturefault");
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005]")) << run.text;
    EXPECT_NE(std::string::npos, run.text.find("\r\nProcess Uptime: "));
    EXPECT_NE(std::string::npos,
              run.text.find("\r\nStack:\r\n\r\n(This section ended early: Access Violation "
                            "[0xC0000005])\r\n"))
        << run.text;
    EXPECT_FALSE(run.dumpExists);
    EXPECT_FALSE(FileExists(folder, L"crasher_Debug.dmp.part"));
    EXPECT_EQ(0u, run.step.find("dump=\ntext=")) << run.step;
    EXPECT_EQ(0xC0000005u, run.exitCode);
}

TEST(CrashReportUpload, AStackOverflowWhoseCaptureStallsShowsTheDialogOnAThreadOfItsOwn)
{
    // The capture never ends; a worker thread overflows its stack. The text
    // report and the one dialog come from a fresh thread, neither the
    // crashed one nor the program's.
    TempDirectory folder(L"OverflowStall");
    std::vector<DialogAnswerer::Seen> seen;
    CrashRun run = DeclineReport(folder, "overflowstall", 1, &seen);
    EXPECT_EQ(0u, run.text.find("Stack Overflow [0xC00000FD]")) << run.text;
    DWORD crashed = ThreadOfException(run.text);
    EXPECT_NE(0u, crashed);
    EXPECT_NE(run.mainThreadId, crashed);
    ASSERT_EQ(1u, seen.size());
    EXPECT_NE(crashed, seen[0].threadId);
    EXPECT_NE(run.mainThreadId, seen[0].threadId);
    EXPECT_FALSE(run.dumpExists);
    EXPECT_EQ(0xC00000FDu, run.exitCode);
}

TEST(CrashReportUpload, ACrashHoldingTheLoaderLockEndsAndIsOfferedAtTheNextStart)
{
    // Neither the capture nor a new thread can get on: the process ends
    // with the exception's code once the step has given no sign of life,
    // and leaves its report pending.
    TempDirectory folder(L"LoaderLock");
    CrashRun run = DeclineReport(folder, "loaderlock", 0);
    EXPECT_EQ(0xC0000005u, run.exitCode);
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005]")) << run.text;
    const WideString pending = folder.File(L"crasher_Debug.pending");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(pending.Text()));

    // The next start offers it once, and then it is gone.
    DeleteFileW(folder.File(L"step.txt").Text());
    CrashRun next = DeclineReport(folder, "start", 1);
    EXPECT_EQ(0u, next.exitCode) << "the offered files are gone";
    EXPECT_EQ(0u, next.step.find("dump=")) << next.step;
    EXPECT_NE(std::string::npos, next.step.find("\\crasher_Debug.txt\n")) << next.step;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(pending.Text()));
}

TEST(CrashReportUpload, ACrashInTheStartUpRecoveryIsOffered)
{
    // The program's own entry point, whose recovery of an update crashes
    // before the main window comes: the dialog names the program. Declined,
    // so the maker's host is never asked.
    DebuggerOff debugger;
    TempDirectory folder(L"RecoveryCrash");
    CrashRun run;
    std::vector<DialogAnswerer::Seen> seen;
    {
        DialogAnswerer user(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(1001));
        run = RunCrashingRecovery(folder.Path());
        seen = user.Boxes();
    }
    ASSERT_TRUE(run.ended);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"Quillmere", seen[0].caption);
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005]")) << run.text;
    EXPECT_NE("", Section(run.text, "Stack:")) << run.text;
    EXPECT_EQ(0xC0000005u, run.exitCode);
}

TEST(CrashReportUpload, ACrashOnTheWindowsThreadRunsNothingOfTheProgramAgain)
{
    // The main window crashes while timer 1 is due and a device-change
    // broadcast and the update check's question wait for its thread. The
    // answer to the check comes late, so the question arrives while the
    // thread holds still.
    DebuggerOff debugger;
    ScopedTestKey settings(L"CrashWindow");
    LoopbackServer server;
    // The check asks over https and offers only what the maker signed.
    const std::string endpoint = HttpsUrl(server, "/common/update.php?p=quillmere");
    const std::string offer =
        "<update><application>Quillmere update</application><version>99.0</version>"
        "<info><en>A new Quillmere.</en></info><files>" +
        SignedEntry(HttpsUrl(server, "/get.php?file=setup.exe"), "an installer", "99.0") +
        "</files></update>";
    server.Script(LoopbackReply().Pause(3000).Send(
        HttpHead(200, "Content-Length: " + std::to_string(offer.size()) +
                          "\r\nConnection: close\r\n") +
        offer));
    server.Script(HttpAnswer(200, "thanks"));
    TempDirectory folder(L"CrashWindow");
    char key[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, settings.Path(), -1, key, MAX_PATH, nullptr, nullptr);
    std::string arguments = std::to_string(server.Port()) + " \"" + key + "\" " + endpoint;
    CrashRun run;
    std::vector<DialogAnswerer::Seen> seen;
    {
        DialogAnswerer user(DialogAnswerer::OtherProcesses, [](HWND box, int) {
            if (!IsMainWindow(box))
                DialogAnswerer::Click(box, 1000);
        });
        run = RunCrashingWindow(folder.Path(), arguments.c_str());
        seen = user.Boxes();
    }
    ASSERT_TRUE(run.ended);
    ASSERT_EQ(2u, seen.size()) << "the main window and the problem report, no update question";
    EXPECT_EQ(L"Quillmere", seen[1].caption);
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005] ")) << run.text;
    EXPECT_NE(std::string::npos,
              run.text.find(" in Thread " + std::to_string(run.mainThreadId) + ".\r\n"));

    // Nothing ran: the thread took no message from its queue and had none
    // sent to its windows (its hooks counted them while it ran), so no
    // enumeration, no answer to the question, no download.
    EXPECT_NE(std::string::npos, run.step.find("question=1\ntimer=1\n")) << run.step;
    EXPECT_NE(std::string::npos, run.step.find("\nmessages-after=0\n")) << run.step;
    size_t before = run.step.find("messages-before=");
    ASSERT_NE(std::string::npos, before);
    EXPECT_GT(std::stoi(run.step.substr(before + 16)), 0);
    size_t at = run.step.find("locates-at-crash=");
    size_t after = run.step.find("locates-after=");
    ASSERT_TRUE(at != std::string::npos && after != std::string::npos) << run.step;
    int atCrash = std::stoi(run.step.substr(at + 17));
    EXPECT_GT(atCrash, 0);
    EXPECT_EQ(atCrash, std::stoi(run.step.substr(after + 14))) << run.step;
    // Nothing was saved from the crashed state.
    for (const wchar_t* name : {L"Main", L"Splitter", L"ListView", L"Flags"}) {
        EXPECT_NE(ERROR_SUCCESS, RegGetValueW(settings.Root(), settings.Path(), name, RRF_RT_ANY,
                                              nullptr, nullptr, nullptr))
            << "written: " << std::string(name, name + wcslen(name));
    }

    // Send delivered the report.
    ASSERT_EQ(2u, server.RequestCount());
    EXPECT_EQ(0u, server.Requests()[0].find("GET /common/update.php?p=quillmere&v="));
    const std::string report = server.Requests()[1];
    EXPECT_EQ(0u, report.find("POST /services/lumeri/report.php HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, report.find(FilePart("t", "crashwindow_Debug.txt", run.text)));
    EXPECT_NE(std::string::npos, report.find(FilePart("d", "crashwindow_Debug.dmp", run.dump)));
    EXPECT_EQ(0xC0000005u, run.exitCode);
}
