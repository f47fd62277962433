#include <gtest/gtest.h>

#include <string>

#include "CrashChild.h"
#include "common/TempDirectory.h"
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
