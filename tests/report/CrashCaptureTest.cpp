// Real crashes of the helper program (tests/report/crasher) under Wine's
// own DbgHelp, kernel and registry: what the reporter leaves behind.
#include <gtest/gtest.h>

#include <regex>
#include <stdlib.h>
#include <string>

#include "CrashChild.h"
#include "common/TempDirectory.h"
#include "services/WindowsVersion.h"

namespace {

const char ThreadName87[] =
    "Crash worker thread with a name far longer than the eighty-seven bytes that a report ke";

class CrashCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { debugger_ = new DebuggerOff; }
    static void TearDownTestSuite()
    {
        delete debugger_;
        debugger_ = nullptr;
    }

    CrashRun Run(const char* mode, CrashSetup setup = CrashSetup::Plain)
    {
        CrashRun run = RunCrasher(folder_.Path(), mode, setup);
        EXPECT_TRUE(run.ended) << mode << " ran for " << run.milliseconds << " ms";
        return run;
    }

    TempDirectory folder_{L"crash"};

private:
    static DebuggerOff* debugger_;
};

DebuggerOff* CrashCapture::debugger_ = nullptr;

// Addresses in a report are as wide as the process's pointers.
const std::string AddressDigits = sizeof(void*) == 8 ? "{16}" : "{8}";
const std::string AddressPattern = "0x([0-9A-F]" + AddressDigits + ")";
#if defined(__x86_64__)
const char ProgramCounter[] = "RIP";
const char FirstRegister[] = "RAX=0x";
const char PlatformLine[] = "\r\nx64 Unicode, Wine\r\n\r\nProcess Uptime: ";
const char ThreadHeading[] = "Id         StackBase          StackEnd           StartAddress\r\n";
#else
const char ProgramCounter[] = "EIP";
const char FirstRegister[] = "EAX=0x";
const char PlatformLine[] = "\r\nx86 Unicode, Wine\r\n\r\nProcess Uptime: ";
const char ThreadHeading[] = "Id         StackBase  StackEnd   StartAddress\r\n";
#endif

size_t Count(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

unsigned long long Hex(const std::string& digits)
{
    return std::stoull(digits, nullptr, 16);
}

struct ExceptionLine {
    bool found = false;
    std::string name;
    unsigned code = 0, thread = 0;
    unsigned long long address = 0;
};

ExceptionLine ReadExceptionLine(const std::string& text)
{
    static const std::regex shape("^([A-Za-z +-]+) \\[0x([0-9A-F]{8})\\] at " + AddressPattern +
                                  " in Thread (\\d+)\\.\r\n");
    std::smatch match;
    ExceptionLine line;
    if (!std::regex_search(text, match, shape))
        return line;
    line.found = true;
    line.name = match[1];
    line.code = (unsigned)Hex(match[2]);
    line.address = Hex(match[3]);
    line.thread = (unsigned)std::stoul(match[4]);
    return line;
}

// The exception line of `run`, which must name `name` and `code`.
ExceptionLine ExpectExceptionLine(const CrashRun& run, unsigned code, const char* name)
{
    ExceptionLine line = ReadExceptionLine(run.text);
    EXPECT_TRUE(line.found) << run.text;
    EXPECT_EQ(name, line.name);
    EXPECT_EQ(code, line.code);
    return line;
}

unsigned long long RegisterValue(const std::string& text, const char* name)
{
    std::smatch match;
    std::regex value(std::string(name) + "=" + AddressPattern);
    return std::regex_search(text, match, value) ? Hex(match[1]) : 0;
}

// The image base of the helper as the module list states it.
unsigned long long HelperBase(const std::string& modules)
{
    std::smatch match;
    std::regex line("0x[0-9A-F]{8} " + AddressPattern + " [^\r\n]*- [^\r\n]*\\\\crasher\\.exe\r\n");
    return std::regex_search(modules, match, line) ? Hex(match[1]) : 0;
}

// The stack line `nth` (from 0) of those that name `function`.
std::string FrameOf(const std::string& stack, const std::string& function, int nth = 0)
{
    std::string lines = "\r\n" + stack;
    size_t at = std::string::npos;
    for (int i = 0; i <= nth; ++i) {
        at = lines.find("\r\n" + function + "(", at == std::string::npos ? 0 : at + 2);
        if (at == std::string::npos)
            return std::string();
    }
    return lines.substr(at + 2, lines.find("\r\n", at + 2) - at - 2);
}

// A frame of the helper names its function, its source line (which holds
// the statement marked `tag`) and the module with the frame's offset.
void ExpectNamedFrame(const std::string& frame, const char* tag, unsigned long long pc,
                      unsigned long long base)
{
    std::smatch match;
    static const std::regex shape(
        R"(^\w+\((0x[0-9A-F]+,){3}0x[0-9A-F]+\) - Line (\d+) in (.+) \[crasher@0x([0-9A-F]+)\]$)");
    ASSERT_TRUE(std::regex_match(frame, match, shape)) << frame;
    EXPECT_NE(std::string::npos, LineOfFile(match[3], std::stoi(match[2])).find(tag))
        << frame << "\nnames the line: " << LineOfFile(match[3], std::stoi(match[2]));
    if (pc) {
        EXPECT_EQ(pc - base, Hex(match[4])) << frame;
    }
}

} // namespace

TEST_F(CrashCapture, AccessViolationLeavesBothFilesWithTheExactTexts)
{
    CrashRun run = Run("access");
    ASSERT_TRUE(run.textExists);
    ExceptionLine line = ReadExceptionLine(run.text);
    ASSERT_TRUE(line.found) << run.text;
    EXPECT_EQ("Access Violation", line.name);
    EXPECT_EQ(0xC0000005u, line.code);
    EXPECT_EQ(run.mainThreadId, line.thread);
    char head[200];
    int width = (int)(2 * sizeof(void*));
    snprintf(head, sizeof(head),
             "Access Violation [0xC0000005] at 0x%0*llX in Thread %u.\r\n"
             "Write to location 0x%0*X.\r\n\r\n%s",
             width, line.address, line.thread, width, 0x10, FirstRegister);
    EXPECT_EQ(0u, run.text.find(head)) << run.text;
    EXPECT_EQ(line.address, RegisterValue(run.text, ProgramCounter));
    // The system line names the release this process sees (the helper
    // declares the same supported systems).
    WideString windows = DescribeWindows(GetWindowsEdition());
    char* narrow = windows.ToMultiByte();
    ASSERT_NE(nullptr, narrow);
    std::string system = std::string(" Mhz\r\n") + narrow + " [";
    free(narrow);
    EXPECT_NE(std::string::npos, run.text.find(system)) << system << "\n" << run.text;
    EXPECT_NE(std::string::npos, run.text.find(PlatformLine)) << run.text;

    std::string stack = Section(run.text, "Stack:");
    std::string modules = Section(run.text, "ModuleList:");
    std::string threads = Section(run.text, "ThreadList:");
    unsigned long long base = HelperBase(modules);
    ASSERT_NE(0u, base) << modules;
    ASSERT_EQ(0u, stack.find("CrashByWritingToAddress16(")) << stack;
    ExpectNamedFrame(FrameOf(stack, "CrashByWritingToAddress16"), "crash line: access",
                     line.address, base);
    EXPECT_NE(std::string::npos, FrameOf(stack, "main").find("[crasher@0x")) << stack;
    EXPECT_EQ(0u, threads.find(ThreadHeading)) << threads;
    char threadLine[32];
    snprintf(threadLine, sizeof(threadLine), "\r\n%-8u   0x", line.thread);
    EXPECT_NE(std::string::npos, threads.find(threadLine)) << threads;

    DumpFacts dump = ReadDump(run.dump);
    ASSERT_TRUE(dump.valid) << run.dump.size() << " bytes";
    EXPECT_TRUE(dump.hasException);
    EXPECT_EQ(run.mainThreadId, dump.exceptionThreadId);
    EXPECT_EQ(0xC0000005u, dump.exceptionCode);
    EXPECT_TRUE(dump.hasModules);
    EXPECT_TRUE(dump.listsThread(run.mainThreadId));

    // The report step got both names and the configured texts.
    EXPECT_NE(std::string::npos, run.step.find("\\crasher_Debug.dmp\n")) << run.step;
    EXPECT_NE(std::string::npos, run.step.find("\\crasher_Debug.txt\nhost=\nprogram=crasher\n"));
    EXPECT_EQ(0xC0000005u, run.exitCode) << "the process ends with the exception's code";

    // The helper ran from the user's temporary folder: its path shows the
    // profile masked, and neither file names the user.
    EXPECT_NE(std::string::npos, modules.find(" - %USERPROFILE%\\")) << modules;
    const std::string wideProfile("%\0U\0S\0E\0R\0P\0R\0O\0F\0I\0L\0E\0%\0\\\0", 28);
    EXPECT_NE(std::string::npos, run.dump.find(wideProfile)) << "the dump's module names";
    EXPECT_EQ("", UserNameIn(run.text));
    EXPECT_EQ("", UserNameIn(run.dump));
    // Nor does the dump keep what the program had on its stack.
    EXPECT_EQ(std::string::npos, run.dump.find("crasher stack marker"));
    // The dump holds every thread, the reporter's too; the text report
    // leaves that one out.
    EXPECT_EQ(2, dump.threadCount);
    EXPECT_EQ(1u, Count(threads, "\r\n") - 1) << threads;
}

TEST_F(CrashCapture, ExceptionsAreNamedByTheirCodes)
{
    struct Case {
        const char* mode;
        unsigned code;
        const char* name;
        const char* function;
    };
    const Case cases[] = {
        {"divide", 0xC0000094, "Integer Divide by Zero", "CrashByDividingByZero"},
        {"raise", 0xE1234567, "Exception", "CrashByRaisingUnknownCode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        CrashRun run = RunCrasher(folder_.Path(), c.mode, CrashSetup::Plain);
        ASSERT_TRUE(run.ended);
        ExceptionLine line = ExpectExceptionLine(run, c.code, c.name);
        EXPECT_EQ(std::string::npos, run.text.find(" location 0x"));
        std::string stack = Section(run.text, "Stack:");
        std::string frame = FrameOf(stack, c.function);
        unsigned long long pc = c.code == 0xC0000094 ? line.address : 0; // a raise stops in the system
        ExpectNamedFrame(frame, (std::string("crash line: ") + c.mode).c_str(), pc,
                         HelperBase(Section(run.text, "ModuleList:")));
        DumpFacts dump = ReadDump(run.dump);
        EXPECT_TRUE(dump.valid);
        EXPECT_EQ(c.code, dump.exceptionCode);
        EXPECT_EQ(line.thread, dump.exceptionThreadId);
    }
}

TEST_F(CrashCapture, StackOverflowStillWritesBothFiles)
{
    CrashRun run = Run("overflow");
    ExceptionLine line = ReadExceptionLine(run.text);
    ASSERT_TRUE(line.found) << run.text;
    EXPECT_EQ("Stack Overflow", line.name);
    EXPECT_EQ(0xC00000FDu, line.code);
    std::string stack = Section(run.text, "Stack:");
    // The fault comes where a new frame is first touched; the frames below
    // it return to the recursive call.
    EXPECT_EQ(0u, stack.find("OverflowTheStack(")) << stack;
    ExpectNamedFrame(FrameOf(stack, "OverflowTheStack", 1), "crash line: overflow", 0,
                     HelperBase(Section(run.text, "ModuleList:")));
    // The recursion shows, not just its first two frames.
    EXPECT_NE("", FrameOf(stack, "OverflowTheStack", 100));
    EXPECT_NE(std::string::npos, run.text.find("\r\nThreadList:\r\n"));
    DumpFacts dump = ReadDump(run.dump);
    ASSERT_TRUE(dump.valid);
    EXPECT_EQ(0xC00000FDu, dump.exceptionCode);
    EXPECT_EQ(run.mainThreadId, dump.exceptionThreadId);
}

TEST_F(CrashCapture, CrashOnAnotherThreadNamesThatThread)
{
    CrashRun run = Run("thread");
    ExceptionLine line = ReadExceptionLine(run.text);
    ASSERT_TRUE(line.found) << run.text;
    EXPECT_NE(run.mainThreadId, line.thread);
    std::string stack = Section(run.text, "Stack:");
    EXPECT_EQ(0u, stack.find("CrashByWritingToAddress16(")) << stack;
    EXPECT_NE(std::string::npos, FrameOf(stack, "CrashingThread").find("[crasher@0x")) << stack;

    // Its thread line names where it started and its name, cut to the field.
    std::string threads = Section(run.text, "ThreadList:");
    char start[32];
    snprintf(start, sizeof(start), "\r\n%-8u   0x", line.thread);
    size_t at = threads.find(start);
    ASSERT_NE(std::string::npos, at) << threads;
    std::string own = threads.substr(at + 2, threads.find("\r\n", at + 2) - at - 2);
    EXPECT_NE(std::string::npos, own.find(" CrashingThread " + std::string(ThreadName87))) << own;
    ASSERT_GE(own.size(), 87u);
    EXPECT_EQ(std::string(ThreadName87), own.substr(own.size() - 87)) << own;

    DumpFacts dump = ReadDump(run.dump);
    ASSERT_TRUE(dump.valid);
    EXPECT_EQ(line.thread, dump.exceptionThreadId);
    EXPECT_TRUE(dump.listsThread(run.mainThreadId));
}

TEST_F(CrashCapture, SecondExceptionWhileReportingGoesToTheSystem)
{
    // The report step faults: the process ends instead of reporting again
    // or hanging, and the report written before stays whole.
    CrashRun run = Run("nested");
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005] "));
    EXPECT_NE(std::string::npos, run.text.find("\r\nThreadList:\r\n"));
    EXPECT_TRUE(ReadDump(run.dump).valid);
    EXPECT_NE(std::string::npos, run.step.find("dump="));
}

TEST_F(CrashCapture, WithoutDbgHelpThereIsNoDumpAndOnlySymbolFreeSectionsRemain)
{
    CrashRun run = Run("access", CrashSetup::WithoutDbgHelp);
    ASSERT_TRUE(run.textExists);
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005] "));
    EXPECT_NE(std::string::npos, run.text.find("\r\nProcess Uptime: "));
    EXPECT_EQ(std::string::npos, run.text.find("Stack:"));
    EXPECT_EQ(std::string::npos, run.text.find("ModuleList:"));
    EXPECT_EQ(std::string::npos, run.text.find("ThreadList:"));
    // An empty file is no dump: none is made, and none is offered.
    EXPECT_FALSE(run.dumpExists);
    EXPECT_EQ(0u, run.step.find("dump=\ntext=")) << run.step;
}

TEST_F(CrashCapture, FilesGoToTheTemporaryFolderWhenTheyCannotBeBesideTheProgram)
{
    CrashRun run = Run("access", CrashSetup::PrimaryBlocked);
    EXPECT_TRUE(run.textExists);
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005] "));
    EXPECT_TRUE(ReadDump(run.dump).valid);
    wchar_t temporary[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temporary);
    WideString expected;
    expected.Format(L"dump=%scrasher_Debug.dmp\ntext=%scrasher_Debug.txt\n", temporary, temporary);
    char* bytes = expected.ToMultiByte(CP_UTF8);
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ(0u, run.step.find(bytes)) << run.step;
    free(bytes);
}

TEST_F(CrashCapture, CaptureThatCannotFinishLeavesNothingStaleToOffer)
{
    // The helper crashes while it holds the heap's lock, so the reporter
    // thread cannot get on; files of an earlier crash lie beside it. After
    // 3 s the crashing thread writes the text report itself, each section
    // guarded (the uptime cannot be read: that section ends early).
    CrashRun run = Run("heaplock", CrashSetup::StaleFiles);
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005] ")) << run.text;
    EXPECT_NE(std::string::npos, run.text.find(" Mhz\r\n")) << run.text;
    EXPECT_NE(std::string::npos,
              run.text.find("\r\n(This section ended early: Access Violation [0xC0000005])\r\n"))
        << run.text;
    EXPECT_EQ(std::string::npos, run.text.find("ModuleList:"));
    EXPECT_FALSE(run.dumpExists) << "the earlier crash's dump is gone";
    // A fresh thread offers it, or, where none can start while the heap is
    // held, the next start does.
    bool offeredNow = run.step.find("dump=\ntext=") == 0 &&
                      run.step.find("\\crasher_Debug.txt\n") != std::string::npos;
    bool pending = GetFileAttributesW(folder_.File(L"crasher_Debug.pending").Text()) !=
                   INVALID_FILE_ATTRIBUTES;
    EXPECT_TRUE(offeredNow != pending) << run.step;
    EXPECT_EQ(0xC0000005u, run.exitCode);
}

TEST_F(CrashCapture, TwoThreadsCrashingTogetherMakeOneCompleteReport)
{
    // The second fault comes while the first is reported (the step waits
    // for it): one report all the same.
    CrashRun run = Run("together");
    EXPECT_EQ(0u, run.step.find("faults=2\n")) << run.step;
    EXPECT_EQ(1u, Count(run.step, "dump=")) << run.step;
    ExceptionLine line = ReadExceptionLine(run.text);
    ASSERT_TRUE(line.found) << run.text;
    EXPECT_NE(run.mainThreadId, line.thread);
    EXPECT_NE(std::string::npos, run.text.find("\r\nThreadList:\r\n"));
    DumpFacts dump = ReadDump(run.dump);
    ASSERT_TRUE(dump.valid);
    EXPECT_EQ(line.thread, dump.exceptionThreadId);
    EXPECT_EQ(0xC0000005u, run.exitCode);
}

TEST_F(CrashCapture, FailuresWithoutAnExceptionAreReportedByTheirNames)
{
    struct Case {
        const char* mode;
        unsigned code;
        const char* name;
    };
    const Case cases[] = {
        {"abort", 0xE0514D01, "Abort"},
        {"terminate", 0xE0514D02, "Terminate"},
        {"purecall", 0xE0514D03, "Pure Virtual Call"},
    };
    // Invalid parameters take the same way, but Wine's msvcrt.dll offers no
    // handler for them (_set_invalid_parameter_handler is missing), and
    // Wine swallows faults in timer callbacks whatever a process asks
    // (RuntimeFailures.*, CrashReporter.*).
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        CrashRun run = RunCrasher(folder_.Path(), c.mode, CrashSetup::Plain);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.mainThreadId, ExpectExceptionLine(run, c.code, c.name).thread);
        EXPECT_NE("", Section(run.text, "Stack:"));
        EXPECT_EQ(c.code, ReadDump(run.dump).exceptionCode);
        EXPECT_EQ(c.code, run.exitCode);
        for (const wchar_t* name : {L"step.txt", L"crasher_Debug.txt", L"crasher_Debug.dmp"})
            DeleteFileW(folder_.File(name).Text());
    }
}

TEST_F(CrashCapture, TheFilterComesBackAndStaysTillTheProcessEnds)
{
    // A library's filter replaces the reporter's; seconds later the program
    // crashes while it exits, after main has returned.
    CrashRun run = Run("displaced");
    EXPECT_EQ(0u, run.text.find("Access Violation [0xC0000005] ")) << run.text;
    EXPECT_NE("", FrameOf(Section(run.text, "Stack:"), "CrashWhileExiting")) << run.text;
    EXPECT_EQ(0xC0000005u, run.exitCode) << "not the other filter's 77";
}
