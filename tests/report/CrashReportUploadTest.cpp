#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

#include "CrashChild.h"
#include "common/DialogAnswerer.h"
#include "common/LoopbackServer.h"
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
}
