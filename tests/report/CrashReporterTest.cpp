#include <gtest/gtest.h>

#include <string>

#include "CrashChild.h"
#include "common/TempDirectory.h"
#include "report/CrashFiles.h"
#include "report/CrashReporter.h"
#include "services/ModulePath.h"

namespace {

struct StepCall {
    int calls = 0;
    const CrashReporter* reporter = nullptr;
    std::wstring dump, text;
};
StepCall LastStep;

int RecordStep(const CrashReporter& reporter, const wchar_t* dumpPath, const wchar_t* textPath)
{
    ++LastStep.calls;
    LastStep.reporter = &reporter;
    LastStep.dump = dumpPath;
    LastStep.text = textPath;
    return 7;
}

std::wstring BesideTheTests(const wchar_t* suffix)
{
    WideString directory, name;
    EXPECT_TRUE(GetExecutableDirectory(directory) && GetExecutableBaseName(name));
    return std::wstring(directory.Text()) + name.Text() + suffix;
}

} // namespace

TEST(CrashReporter, KeepsWhatItIsConfiguredWith)
{
    CrashReporter& reporter = CrashReporter::Current();
    reporter.ConfigureReporter(101, L"reports.example", L"/services/lumeri/report.php", nullptr,
                               nullptr);
    EXPECT_EQ(101, reporter.IconId());
    EXPECT_STREQ(L"reports.example", reporter.ReportHost());
    EXPECT_STREQ(L"/services/lumeri/report.php", reporter.ReportPath());
    EXPECT_STREQ(L"Quillmere", reporter.ProgramName()) << "the version resource's InternalName";
    EXPECT_STREQ(L"", reporter.ExtraText());

    reporter.ConfigureReporter(5, nullptr, nullptr, L"Quillmere", L"extra");
    EXPECT_EQ(5, reporter.IconId());
    EXPECT_STREQ(L"", reporter.ReportHost());
    EXPECT_STREQ(L"", reporter.ReportPath());
    EXPECT_STREQ(L"Quillmere", reporter.ProgramName());
    EXPECT_STREQ(L"extra", reporter.ExtraText());
}

TEST(CrashReporter, ReportWithoutExceptionDescribesTheProcessAndGoesToTheStep)
{
    CrashReporter& reporter = CrashReporter::Current();
    // This test program is large; a loaded machine must not cut its report short.
    reporter.UseCaptureTimeout(120000);
    reporter.UseReportStep(RecordStep);
    LastStep = StepCall();
    EXPECT_EQ(7, reporter.WriteCrashReport(nullptr)) << "the step's result is the result";
    reporter.UseReportStep(nullptr);
    ASSERT_EQ(1, LastStep.calls);
    EXPECT_EQ(&reporter, LastStep.reporter);
    EXPECT_EQ(BesideTheTests(L"_Debug.dmp"), LastStep.dump);
    EXPECT_EQ(BesideTheTests(L"_Debug.txt"), LastStep.text);

    std::string text, dump;
    ASSERT_TRUE(ReadWholeFile(LastStep.text.c_str(), text));
    ASSERT_TRUE(ReadWholeFile(LastStep.dump.c_str(), dump));
    // No exception: no exception line, registers or stack.
    EXPECT_EQ(0u, text.find("\r\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("EAX="));
    EXPECT_EQ(std::string::npos, text.find("Stack:"));
    EXPECT_NE(std::string::npos, Section(text, "ModuleList:").find("report_tests.exe\r\n"));
    char thread[32];
    snprintf(thread, sizeof(thread), "\r\n%-8u   0x", (unsigned)GetCurrentThreadId());
    EXPECT_NE(std::string::npos, Section(text, "ThreadList:").find(thread)) << text;
    DumpFacts facts = ReadDump(dump);
    EXPECT_TRUE(facts.valid);
    EXPECT_FALSE(facts.hasException);
    EXPECT_TRUE(facts.listsThread(GetCurrentThreadId()));

    // The default step shows nothing and answers "no dialog"; a second
    // report rewrites the files rather than adding to them.
    EXPECT_EQ(1, reporter.WriteCrashReport(nullptr));
    std::string again;
    ReadWholeFile(LastStep.text.c_str(), again);
    EXPECT_EQ(Section(text, "ModuleList:").substr(0, 80), Section(again, "ModuleList:").substr(0, 80));
    EXPECT_EQ(1, LastStep.calls);
    reporter.UseCaptureTimeout(CrashReporter::DefaultCaptureTimeout);
    DeleteFileW(LastStep.dump.c_str());
    DeleteFileW(LastStep.text.c_str());
}

namespace {

void WriteTo(HANDLE file, const char* text)
{
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, nullptr);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

TEST(CrashFiles, OnlyFilesCompletedForThisReportAreOffered)
{
    const std::wstring dump = BesideTheTests(L"_Debug.dmp"), text = BesideTheTests(L"_Debug.txt");
    for (const std::wstring& path : {dump, text}) {
        HANDLE stale = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        WriteTo(stale, "stale");
        CloseHandle(stale);
    }
    CrashFiles files;
    files.ComputeNames();
    files.Begin();
    HANDLE capturedText = files.Create(CrashFiles::Text, CrashFiles::Capture);
    HANDLE capturedDump = files.Create(CrashFiles::Dump, CrashFiles::Capture);
    ASSERT_NE(INVALID_HANDLE_VALUE, capturedText);
    ASSERT_NE(INVALID_HANDLE_VALUE, capturedDump);
    WriteTo(capturedText, "complete");
    WriteTo(capturedDump, "half");
    EXPECT_EQ(1, files.Commit(CrashFiles::Text, CrashFiles::Capture, capturedText));

    // The crashing thread gives up on the capture: its dump never takes
    // the real name, and the one an earlier crash left goes.
    EXPECT_EQ(1, files.Abandon(0));
    EXPECT_EQ(0, files.EndCapture());
    EXPECT_EQ(0, files.Commit(CrashFiles::Dump, CrashFiles::Capture, capturedDump));
    files.RemoveUncommitted();
    EXPECT_EQ(text, files.Presented(CrashFiles::Text));
    EXPECT_STREQ(L"", files.Presented(CrashFiles::Dump));
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(text.c_str(), bytes));
    EXPECT_EQ("complete", bytes);
    EXPECT_FALSE(Exists(dump));
    EXPECT_FALSE(Exists(dump + L".part"));

    // From now on only the crashing thread's own files are committed.
    HANDLE rescued = files.Create(CrashFiles::Dump, CrashFiles::Rescue);
    WriteTo(rescued, "rescued");
    EXPECT_EQ(1, files.Commit(CrashFiles::Dump, CrashFiles::Rescue, rescued));
    EXPECT_EQ(dump, files.Presented(CrashFiles::Dump));
    DeleteFileW(dump.c_str());
    DeleteFileW(text.c_str());
}
