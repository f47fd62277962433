#include <gtest/gtest.h>

#include <string>

#include "CrashChild.h"
#include "common/TempDirectory.h"
#include "report/CrashFiles.h"
#include "report/CrashReporter.h"
#include "report/MinidumpFile.h"
#include "report/RuntimeFailures.h"
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

void WriteTo(HANDLE file, const char* text)
{
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, nullptr);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

size_t Count(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
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
    EXPECT_EQ(1u, Count(again, "\r\nModuleList:\r\n")) << again;
    EXPECT_EQ(1u, Count(again, "\r\nThreadList:\r\n"));
    EXPECT_EQ(1, LastStep.calls);
    // The step ran both times: nothing is left for the next start.
    EXPECT_FALSE(Exists(BesideTheTests(L"_Debug.pending")));
    reporter.UseCaptureTimeout(CrashReporter::DefaultCaptureTimeout);
    DeleteFileW(LastStep.dump.c_str());
    DeleteFileW(LastStep.text.c_str());
}


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
    EXPECT_EQ(1, files.Commit(CrashFiles::Text, CrashFiles::Capture, capturedText, true));

    // The crashing thread gives up on the capture: its dump never takes
    // the real name, and the one an earlier crash left goes.
    EXPECT_EQ(1, files.Abandon(0));
    EXPECT_EQ(0, files.EndCapture());
    EXPECT_EQ(0, files.Commit(CrashFiles::Dump, CrashFiles::Capture, capturedDump, true));
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
    EXPECT_EQ(1, files.Commit(CrashFiles::Dump, CrashFiles::Rescue, rescued, true));
    EXPECT_EQ(dump, files.Presented(CrashFiles::Dump));
    DeleteFileW(dump.c_str());
    DeleteFileW(text.c_str());
}

namespace {

// A dump of this process written by the platform's own writer on a thread
// of its own, as the reporter writes it, while the thread that asked waits
// with a text on its stack.
const char StackMarker[] = "quillmere stack marker: C:\\Users\\ann\\secret.txt";

DWORD WINAPI WriteDumpOf(void* path)
{
    typedef BOOL(WINAPI * WriteDumpProc)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                         PMINIDUMP_EXCEPTION_INFORMATION,
                                         PMINIDUMP_USER_STREAM_INFORMATION,
                                         PMINIDUMP_CALLBACK_INFORMATION);
    HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    WriteDumpProc write = dbghelp ? (WriteDumpProc)GetProcAddress(dbghelp, "MiniDumpWriteDump") : nullptr;
    HANDLE file = CreateFileW((const wchar_t*)path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    BOOL written = write && file != INVALID_HANDLE_VALUE &&
                   write(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, nullptr,
                         nullptr, nullptr);
    CloseHandle(file);
    return written;
}

__attribute__((noinline)) std::string OwnDump()
{
    TempDirectory folder(L"owndump");
    WideString path = folder.File(L"own.dmp");
    volatile char onTheStack[sizeof StackMarker];
    for (size_t i = 0; i < sizeof StackMarker; ++i)
        onTheStack[i] = StackMarker[i];
    HANDLE writer = CreateThread(nullptr, 0, WriteDumpOf, (void*)path.Text(), 0, nullptr);
    DWORD written = 0;
    WaitForSingleObject(writer, INFINITE);
    GetExitCodeThread(writer, &written);
    CloseHandle(writer);
    return written && onTheStack[0] == StackMarker[0] ? folder.Read(L"own.dmp") : std::string();
}

// The dump open for MinidumpFile, closed with the object.
struct OpenDump {
    explicit OpenDump(const wchar_t* path)
        : handle(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr))
    {
        dump.Attach(handle);
    }
    ~OpenDump() { CloseHandle(handle); }
    HANDLE handle;
    MinidumpFile dump;
};

template <typename T> T ReadAt(HANDLE file, ULONG64 offset)
{
    T value = {};
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD read = 0;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    ReadFile(file, &value, sizeof value, &read, nullptr);
    return value;
}

template <typename T> void WriteAt(HANDLE file, ULONG64 offset, const T& value)
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD written = 0;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    WriteFile(file, &value, sizeof value, &written, nullptr);
}

// Where the directory entry of stream `type` lies, 0 when there is none.
ULONG64 DirectoryEntryOf(HANDLE file, ULONG32 type)
{
    MINIDUMP_HEADER header = ReadAt<MINIDUMP_HEADER>(file, 0);
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        ULONG64 at = header.StreamDirectoryRva + i * sizeof(MINIDUMP_DIRECTORY);
        if (ReadAt<MINIDUMP_DIRECTORY>(file, at).StreamType == type)
            return at;
    }
    return 0;
}

// The first module record: where it lies, and its name.
ULONG64 FirstModule(HANDLE file)
{
    MINIDUMP_DIRECTORY list = ReadAt<MINIDUMP_DIRECTORY>(file, DirectoryEntryOf(file, ModuleListStream));
    return list.Location.Rva + 4;
}

std::wstring ModuleName(HANDLE file, ULONG64 moduleAt)
{
    MINIDUMP_MODULE module = ReadAt<MINIDUMP_MODULE>(file, moduleAt);
    ULONG32 length = ReadAt<ULONG32>(file, module.ModuleNameRva);
    std::wstring name(length / 2, L'\0');
    LARGE_INTEGER at;
    at.QuadPart = module.ModuleNameRva + 4;
    DWORD read = 0;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    ReadFile(file, &name[0], length, &read, nullptr);
    return name;
}

// Points the first module at a new name appended to the file.
void RenameFirstModule(HANDLE file, const std::wstring& name)
{
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    ULONG32 length = (ULONG32)(name.size() * 2);
    WriteAt(file, size.QuadPart, length);
    LARGE_INTEGER at;
    at.QuadPart = size.QuadPart + 4;
    DWORD written = 0;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    WriteFile(file, name.c_str(), length + 2, &written, nullptr);
    ULONG64 moduleAt = FirstModule(file);
    MINIDUMP_MODULE module = ReadAt<MINIDUMP_MODULE>(file, moduleAt);
    module.ModuleNameRva = (RVA)size.QuadPart;
    WriteAt(file, moduleAt, module);
}

} // namespace

// One dump of this process for all cases: writing it takes seconds.
class MinidumpFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dump_ = new std::string(OwnDump()); }
    static void TearDownTestSuite()
    {
        delete dump_;
        dump_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(dump_->empty());
        ASSERT_TRUE(folder_.Write(L"own.dmp", *dump_));
        path_ = folder_.File(L"own.dmp");
    }

    static std::string* dump_;
    TempDirectory folder_{L"dumpfile"};
    WideString path_;
};

std::string* MinidumpFileTest::dump_ = nullptr;

TEST_F(MinidumpFileTest, ListsMustBeAsLongAsTheirCountsSayAsTheirReadersRequire)
{
    OpenDump open(path_.Text());
    ASSERT_EQ(1, open.dump.Check());

    // A thread list whose size counts one thread more than its count (what
    // a writer that drops a thread late leaves behind) is refused, and so is
    // a module list cut short.
    for (ULONG32 type : {(ULONG32)ThreadListStream, (ULONG32)ModuleListStream}) {
        SCOPED_TRACE(type);
        ULONG64 entry = DirectoryEntryOf(open.handle, type);
        ASSERT_NE(0u, entry);
        MINIDUMP_DIRECTORY original = ReadAt<MINIDUMP_DIRECTORY>(open.handle, entry);
        for (LONG change : {48, -1, 12}) {
            MINIDUMP_DIRECTORY changed = original;
            changed.Location.DataSize += change;
            WriteAt(open.handle, entry, changed);
            EXPECT_EQ(0, open.dump.Check()) << change;
        }
        WriteAt(open.handle, entry, original);
        EXPECT_EQ(1, open.dump.Check());
    }
}

TEST_F(MinidumpFileTest, EveryModuleNameIsMaskedOrTheDumpIsRefused)
{
    OpenDump open(path_.Text());
    ProfileMask mask;
    mask.Use(L"C:\\Users\\ann", nullptr, L"ann");

    // Longer than MAX_PATH twice over: still masked.
    std::wstring deep = L"C:\\Users\\ann\\" + std::wstring(600, L'd') + L"\\module.dll";
    RenameFirstModule(open.handle, deep);
    ASSERT_EQ(1, open.dump.MaskModuleNames(mask));
    EXPECT_EQ(L"%USERPROFILE%\\" + std::wstring(600, L'd') + L"\\module.dll",
              ModuleName(open.handle, FirstModule(open.handle)));
    EXPECT_EQ(1, open.dump.Check());

    // Longer than any path: not masked, and the dump is not to be offered.
    RenameFirstModule(open.handle, L"C:\\Users\\ann\\" + std::wstring(MinidumpFile::NameMax, L'x'));
    EXPECT_EQ(0, open.dump.MaskModuleNames(mask));
}

TEST_F(MinidumpFileTest, StacksKeepOnlyWhatAStackWalkNeeds)
{
    // Without the filter, the platform's writer keeps the stack's text.
    ASSERT_NE(std::string::npos, dump_->find(StackMarker));
    {
        OpenDump open(path_.Text());
        ASSERT_EQ(1, open.dump.FilterMemory());
        EXPECT_EQ(1, open.dump.Check());
    }
    std::string after = folder_.Read(L"own.dmp");
    EXPECT_EQ(std::string::npos, after.find(StackMarker));
    EXPECT_EQ(std::string::npos, after.find("ann\\secret"));
    // The return addresses into this program stay, as do the module names.
    ULONG_PTR base = (ULONG_PTR)GetModuleHandleW(nullptr);
    MINIDUMP_HEADER header;
    memcpy(&header, after.data(), sizeof header);
    int returnAddresses = 0;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        memcpy(&entry, after.data() + header.StreamDirectoryRva + i * sizeof entry, sizeof entry);
        if (entry.StreamType != ThreadListStream)
            continue;
        ULONG32 count;
        memcpy(&count, after.data() + entry.Location.Rva, 4);
        for (ULONG32 t = 0; t < count; ++t) {
            MINIDUMP_THREAD thread;
            memcpy(&thread, after.data() + entry.Location.Rva + 4 + t * sizeof thread, sizeof thread);
            for (ULONG32 at = 0; at + sizeof(ULONG_PTR) <= thread.Stack.Memory.DataSize;
                 at += sizeof(ULONG_PTR)) {
                ULONG_PTR value;
                memcpy(&value, after.data() + thread.Stack.Memory.Rva + at, sizeof value);
                returnAddresses += value > base && value < base + 0x1000000;
            }
        }
    }
    EXPECT_GT(returnAddresses, 0);
    EXPECT_NE(std::string::npos, after.find(std::string("r\0e\0p\0o\0r\0t\0_\0t\0e\0s\0t\0s\0", 24)));
}

TEST(RuntimeFailures, TheInvalidParameterHandlerGoesIntoTheRuntimeTheProgramCalls)
{
    // System libraries load the universal runtime beside the program's
    // msvcrt.dll; a handler there never sees the program's own calls.
    typedef void* (__cdecl * GetHandlerProc)(void);
    HMODULE universal = LoadLibraryW(L"ucrtbase.dll");
    ASSERT_NE(nullptr, universal);
    GetHandlerProc handlerOf =
        (GetHandlerProc)GetProcAddress(universal, "_get_invalid_parameter_handler");
    ASSERT_NE(nullptr, handlerOf);
    InstallRuntimeFailureHandlers(CrashReporter::ReportFailure);
    EXPECT_EQ(nullptr, handlerOf());
    // msvcrt.dll offers the switch on Windows from Vista on; Wine's does not.
    HMODULE msvcrt = GetModuleHandleW(L"msvcrt.dll");
    ASSERT_NE(nullptr, msvcrt);
    GetHandlerProc ours = (GetHandlerProc)GetProcAddress(msvcrt, "_get_invalid_parameter_handler");
    if (ours) {
        EXPECT_NE(nullptr, ours());
    }
    FreeLibrary(universal);
}

TEST(CrashReporter, FaultsInTimerCallbacksAreNotSwallowed)
{
    // The process opted out when the reporter was made.
    const int TimerProcExceptionSuppression = 7;
    BOOL suppressed = TRUE;
    DWORD needed = 0;
    if (!GetUserObjectInformationW(GetCurrentProcess(), TimerProcExceptionSuppression, &suppressed,
                                   sizeof suppressed, &needed))
        GTEST_SKIP() << "no such switch here (Wine swallows such faults whatever a process asks)";
    EXPECT_FALSE(suppressed);
}
