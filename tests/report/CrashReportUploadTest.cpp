#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <vector>

#include "CrashChild.h"
#include "common/DialogAnswerer.h"
#include "common/LoopbackServer.h"
#include "common/ScopedTestKey.h"
#include "common/SignedAnswer.h"
#include "common/TempDirectory.h"

namespace {

// One part of the posted form as the report's upload writes it.
std::string FilePart(const char* name, const char* fileName, const std::string& bytes)
{
    return std::string("--") + "-----------------------------1234567890123" +
           "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fileName +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes + "\r\n";
}

} // namespace

TEST(CrashReportUpload, ACrashOffersTheReportAndSendDeliversBothFiles)
{
    DebuggerOff debugger;
    LoopbackServer server;
    server.Script(HttpAnswer(200, "thanks"));
    TempDirectory folder(L"CrashUpload");
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

    ASSERT_EQ(1u, server.RequestCount());
    const std::string request = server.Requests()[0];
    EXPECT_EQ(0u, request.find("POST /services/lumeri/report.php HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, request.find("name=\"p\"\r\n\r\nQuillmere\r\n"));
    EXPECT_NE(std::string::npos, request.find(FilePart("d", "crasher_Debug.dmp", run.dump)))
        << "the dump written for this crash, byte for byte";
    EXPECT_NE(std::string::npos, request.find(FilePart("t", "crasher_Debug.txt", run.text)));
    EXPECT_EQ(0xC0000005u, run.exitCode);
}

namespace {

// Runs the helper in `mode` with a report host on a loopback port and
// declines the dialog it shows, which must be the one problem report.
CrashRun DeclineReport(const TempDirectory& folder, const char* mode)
{
    DebuggerOff debugger;
    LoopbackServer server;
    char command[48];
    snprintf(command, sizeof(command), "%s %u", mode, (unsigned)server.Port());
    DialogAnswerer user(DialogAnswerer::OtherProcesses, DialogAnswerer::Press(1001));
    CrashRun run = RunCrasher(folder.Path(), command, CrashSetup::Plain);
    EXPECT_TRUE(run.ended);
    std::vector<DialogAnswerer::Seen> seen = user.Boxes();
    EXPECT_EQ(1u, seen.size()) << "one dialog";
    EXPECT_TRUE(seen.empty() || seen[0].caption == L"Quillmere");
    EXPECT_EQ(0u, server.RequestCount());
    return run;
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

TEST(CrashReportUpload, StackOverflowOnASecondThreadShowsTheDialog)
{
    TempDirectory folder(L"OverflowThread");
    CrashRun run = DeclineReport(folder, "overflowthread");
    EXPECT_EQ(0u, run.text.find("Stack Overflow [0xC00000FD]")) << run.text;
    EXPECT_EQ(std::string::npos, run.text.find("in Thread " + std::to_string(run.mainThreadId)));
    EXPECT_TRUE(run.dumpExists);
    EXPECT_EQ(0xC00000FDu, run.exitCode);
}

TEST(CrashReportUpload, ACrashOnTheWindowsThreadRunsNothingOfTheProgramAgain)
{
    // The main window crashes while timer 1, a device-change broadcast and
    // the update check's question wait for its thread. The answer to the
    // check comes late, so the question arrives while the thread holds still.
    if (!SimulatorChosen())
        GTEST_SKIP() << "needs WINEDLLOVERRIDES=setupapi=n,b, as ctest sets it";
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
        // Sends after a while, in which the timer and the broadcast would
        // have run on a thread that dispatched its messages.
        DialogAnswerer user(DialogAnswerer::OtherProcesses, [](HWND box, int) {
            if (IsMainWindow(box))
                return;
            Sleep(1500);
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

    // Nothing ran: no enumeration, no answer to the question, no download.
    EXPECT_NE(std::string::npos, run.step.find("question=1\n")) << run.step;
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
