#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "report/CrashText.h"
#include "common/TempDirectory.h"
#include "common/ThreadBlock.h"

namespace {

// Writes through a ReportFile into a scratch file and reads the text back.
class ReportText {
public:
    ReportText() : directory_(L"report-text")
    {
        path_ = directory_.File(L"report.txt");
        file_.Attach(CreateFileW(path_.Text(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, 0, nullptr));
    }
    ReportFile& File() { return file_; }
    std::string Text()
    {
        file_.Close();
        return directory_.Read(L"report.txt");
    }

private:
    TempDirectory directory_;
    WideString path_;
    ReportFile file_;
};

EXCEPTION_RECORD Exception(DWORD code, ULONG_PTR address)
{
    EXCEPTION_RECORD exception = {};
    exception.ExceptionCode = code;
    exception.ExceptionAddress = (PVOID)address;
    return exception;
}

// An address as the report writes it: as wide as the process's pointers.
std::string Address(DWORD64 value)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%0*llX", (int)(2 * sizeof(void*)), (unsigned long long)value);
    return text;
}

#if defined(__x86_64__)
// Values with bits in their high halves, which no line may lose.
const ULONG_PTR FaultAddress = 0x00007FF6A1B215BFull;
const ULONG_PTR SystemAddress = 0x00007FFB7B012866ull;

CONTEXT Registers()
{
    CONTEXT context = {};
    context.Rax = 0x10;
    context.Rbx = 0x11;
    context.Rcx = 0x12;
    context.Rdx = 0xFFFFFFFF00000013ull;
    context.Rsi = 0x14;
    context.Rdi = 0x15;
    context.Rbp = 0x000000A1C3F5FE88ull;
    context.Rsp = 0x000000A1C3F5FE1Cull;
    context.Rip = FaultAddress;
    context.R8 = 0x8;
    context.R9 = 0x9;
    context.R10 = 0x1000000000000010ull;
    context.R11 = 0x11;
    context.R12 = 0x12;
    context.R13 = 0x13;
    context.R14 = 0x14;
    context.R15 = 0x8000000000000015ull;
    context.EFlags = 0x10246;
    context.SegCs = 0x33;
    context.SegSs = 0x2B;
    context.SegDs = 0x2B;
    context.SegEs = 0x2B;
    context.SegFs = 0x53;
    context.SegGs = 0x2B;
    return context;
}

const char RegisterLines[] =
    "\r\nRAX=0x0000000000000010, CS=0x0033, RIP=0x00007FF6A1B215BF, Flags=0x00010246\r\n"
    "RBX=0x0000000000000011, SS=0x002B, RSP=0x000000A1C3F5FE1C, RBP=0x000000A1C3F5FE88\r\n"
    "RCX=0x0000000000000012, DS=0x002B, RSI=0x0000000000000014, FS=0x0053\r\n"
    "RDX=0xFFFFFFFF00000013, ES=0x002B, RDI=0x0000000000000015, GS=0x002B\r\n"
    "R8=0x0000000000000008, R9=0x0000000000000009, R10=0x1000000000000010, R11=0x0000000000000011\r\n"
    "R12=0x0000000000000012, R13=0x0000000000000013, R14=0x0000000000000014, R15=0x8000000000000015\r\n";
const char FirstRegister[] = "RAX=";
#else
const ULONG_PTR FaultAddress = 0x004015BF;
const ULONG_PTR SystemAddress = 0x7B012866;

CONTEXT Registers()
{
    CONTEXT context = {};
    context.Eax = 0x10;
    context.Ebx = 0x11;
    context.Ecx = 0x12;
    context.Edx = 0x13;
    context.Esi = 0x14;
    context.Edi = 0x15;
    context.Ebp = 0x0075FE88;
    context.Esp = 0x0075FE1C;
    context.Eip = FaultAddress;
    context.EFlags = 0x10246;
    context.SegCs = 0x23;
    context.SegSs = 0x2B;
    context.SegDs = 0x2B;
    context.SegEs = 0x2B;
    context.SegFs = 0x6B;
    context.SegGs = 0x63;
    return context;
}

const char RegisterLines[] = "\r\nEAX=0x00000010, CS=0x0023, EIP=0x004015BF, Flags=0x00010246\r\n"
                             "EBX=0x00000011, SS=0x002B, ESP=0x0075FE1C, EBP=0x0075FE88\r\n"
                             "ECX=0x00000012, DS=0x002B, ESI=0x00000014, FS=0x006B\r\n"
                             "EDX=0x00000013, ES=0x002B, EDI=0x00000015, GS=0x0063\r\n";
const char FirstRegister[] = "EAX=";
#endif

std::wstring Fallback(ULONGLONG seconds)
{
    wchar_t text[64] = L"unchanged";
    EXPECT_EQ(1, FormatDurationFallback(seconds * 10000000ull, text, 64));
    return text;
}

} // namespace

TEST(CrashText, ExceptionLinesNameTheExceptionTheAccessAndTheRegisters)
{
    EXCEPTION_RECORD exception = Exception(0xC0000005, FaultAddress);
    exception.NumberParameters = 2;
    exception.ExceptionInformation[0] = 1;
    exception.ExceptionInformation[1] = 0x10;
    ReportText write;
    WriteExceptionSection(write.File(), exception, Registers(), 36, true);
    EXPECT_EQ("Access Violation [0xC0000005] at " + Address(FaultAddress) + " in Thread 36.\r\n" +
                  "Write to location " + Address(0x10) + ".\r\n" + RegisterLines,
              write.Text());

    exception.ExceptionInformation[0] = 0;
    exception.ExceptionInformation[1] = (ULONG_PTR)SystemAddress;
    ReportText read;
    WriteExceptionSection(read.File(), exception, Registers(), 0x24, false);
    EXPECT_EQ(0u, read.Text().find("Access Violation [0xC0000005] at " + Address(FaultAddress) +
                                   " in Thread 0x00000024.\r\nRead from location " +
                                   Address(SystemAddress) + ".\r\n\r\n" + FirstRegister));

    ReportText unknown;
    WriteExceptionSection(unknown.File(), Exception(0xE1234567, SystemAddress), Registers(), 268,
                          true);
    EXPECT_EQ("Exception [0xE1234567] at " + Address(SystemAddress) + " in Thread 268.\r\n" +
                  RegisterLines,
              unknown.Text());
    EXPECT_STREQ("Integer Divide by Zero", ExceptionName(0xC0000094));
    EXPECT_STREQ("Microsoft C++ Exception", ExceptionName(0xE06D7363));
}

TEST(CrashText, DurationsWithoutTheSystemFormat)
{
    EXPECT_EQ(L"59 sec", Fallback(59));
    EXPECT_EQ(L"1:30", Fallback(90));
    EXPECT_EQ(L"1:01:01", Fallback(3661));
    // From a day on the hours go on counting instead of starting again.
    EXPECT_EQ(L"24:00:00", Fallback(86400));
    EXPECT_EQ(L"49:00:05", Fallback(2 * 86400 + 3600 + 5));

    wchar_t text[64];
    ASSERT_EQ(1, FormatDuration(90 * 10000000ull, text, 64));
    EXPECT_NE(std::wstring::npos, std::wstring(text).find(L"1:30")) << text;
}

TEST(CrashText, ModuleLinesKeepTheirColumns)
{
    CrashRecords records;
    records.Clear();
    MINIDUMP_MODULE_CALLBACK module = {};
    wchar_t path[] = L"C:\\Program Files\\Quillmere\\Quillmere.exe";
    module.FullPath = path;
    module.BaseOfImage = 0xFFFFFFFF00400000ull; // sign-extended by some DbgHelp versions
    module.SizeOfImage = 1400832;
    module.CheckSum = 0xD92F4;
    module.TimeDateStamp = 0; // 1 January 1970, 0:00 UTC
    module.VersionInfo.dwFileVersionMS = 0x00010002;
    module.VersionInfo.dwFileVersionLS = 0x00030004;
    module.VersionInfo.dwProductVersionMS = 0x00010000;
    records.AddModule(module);

    ReportText write;
    WriteModuleSection(write.File(), records);
    std::string text = write.Text();
#if defined(__x86_64__)
    const std::string head =
        "\r\nModuleList:\r\n"
        "    Size TimeStamp                      Checksum   ImageBase          Versions\r\n";
#else
    const std::string head = "\r\nModuleList:\r\n"
                             "    Size TimeStamp                      Checksum   ImageBase  Versions\r\n";
#endif
    ASSERT_EQ(0u, text.find(head)) << text;
    std::string line = text.substr(head.size());
    // The stamp is shown in local time: only its shape is fixed here.
    ASSERT_GE(line.size(), 40u);
    EXPECT_EQ(" 1400832 0x00000000 ", line.substr(0, 20));
    EXPECT_EQ(' ', line[30]);
    EXPECT_EQ(':', line[33]);
    EXPECT_EQ(" 0x000D92F4 " + Address(0x00400000) +
                  "    1.0002.00003.000004    1.0000.00000.000000 - "
                  "C:\\Program Files\\Quillmere\\Quillmere.exe\r\n",
              line.substr(39, line.find("\r\n") + 2 - 39));
#if defined(__x86_64__)
    // A module above 4 GB keeps its whole base.
    records.Clear();
    module.BaseOfImage = 0x00007FF6A1B20000ull;
    records.AddModule(module);
    ReportText high;
    WriteModuleSection(high.File(), records);
    EXPECT_NE(std::string::npos, high.Text().find(" 0x000D92F4 0x00007FF6A1B20000 "));
#endif
}

TEST(CrashText, ThreadNamesAreCutAndNeverTouchedDirectly)
{
    char* block = (char*)VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(nullptr, block);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(block + 4096, 4096, PAGE_NOACCESS, &old));
    NT_TIB* tib = CurrentThreadBlock();
    PVOID saved = tib->ArbitraryUserPointer;
    HANDLE self = GetCurrentThread();
    // On x86 the block is found through the thread's FS selector too; x64
    // has only the system's answer.
    WORD fs = 0;
    NtQueryInformationThreadProc query = nullptr;
#if defined(__i386__)
    __asm__ volatile("mov %%fs, %0" : "=r"(fs));
#else
    query = (NtQueryInformationThreadProc)GetProcAddress(GetModuleHandleW(L"ntdll.dll"),
                                                         "NtQueryInformationThread");
    ASSERT_NE(nullptr, query);
#endif
    auto nameFor = [&](const void* pointer) {
        tib->ArbitraryUserPointer = (PVOID)pointer;
        char name[ThreadRecord::NameMax];
        memset(name, 'x', sizeof(name));
        ReadThreadName(self, fs, query, name, sizeof(name));
        tib->ArbitraryUserPointer = saved;
        return std::string(name);
    };

    std::string longName(120, 'n');
    EXPECT_EQ(std::string(87, 'n'), nameFor(longName.c_str()));
    EXPECT_EQ("a?b?", nameFor("a\rb\n")) << "one line per thread";
    EXPECT_EQ("", nameFor(nullptr));
    EXPECT_EQ("", nameFor((const void*)0x10));
    EXPECT_EQ("", nameFor(block + 4096)) << "an unreadable page";
    // A name that ends right before an unreadable page is read whole; one
    // that runs into it keeps what could be read.
    strcpy(block + 4096 - 6, "edge!");
    EXPECT_EQ("edge!", nameFor(block + 4096 - 6));
    memcpy(block + 4096 - 4, "cut?", 4);
    EXPECT_EQ("cut?", nameFor(block + 4096 - 4));
    VirtualFree(block, 0, MEM_RELEASE);
    // Names of other threads: CrashCapture.CrashOnAnotherThreadNamesThatThread.
}

TEST(CrashText, SymbolsComeOnlyFromTheProgramsAndTheSystemsFoldersWithoutPrompts)
{
    // A developer's symbol server in the environment is never asked: the
    // crashed program would wait for it.
    const char* names[3] = {"_NT_SYMBOL_PATH", "_NT_ALTERNATE_SYMBOL_PATH", "SYSTEMROOT"};
    char saved[3][1024];
    bool had[3];
    for (int i = 0; i < 3; ++i)
        had[i] = GetEnvironmentVariableA(names[i], saved[i], 1024) > 0;
    SetEnvironmentVariableA(names[0], "srv*C:\\symbols*https://symbols.example/");
    SetEnvironmentVariableA(names[1], "D:\\alt");
    SetEnvironmentVariableA(names[2], "E:\\elsewhere");
    char windows[MAX_PATH + 1], system[MAX_PATH + 1];
    ASSERT_GT(GetSystemWindowsDirectoryA(windows, sizeof windows), 0u);
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);

    char path[1024];
    BuildSymbolSearchPath(L"C:\\Program Files\\Quillmere\\", path, sizeof(path));
    EXPECT_EQ(std::string("C:\\Program Files\\Quillmere\\;") + windows + ";" + system, path);
    BuildSymbolSearchPath(L"", path, sizeof(path));
    EXPECT_EQ(std::string(windows) + ";" + system, path);
    // What does not fit is left out whole.
    BuildSymbolSearchPath(L"C:\\Program Files\\Quillmere\\", path, (int)strlen(windows) + 2);
    EXPECT_EQ(std::string(windows), path);

    // The session runs with the options that keep it off the network.
    SymbolEngine engine;
    ASSERT_EQ(1, engine.Load());
    ASSERT_EQ(1, engine.Open(L"C:\\Program Files\\Quillmere\\"));
    typedef DWORD(WINAPI * GetOptionsProc)(void);
    GetOptionsProc getOptions =
        (GetOptionsProc)GetProcAddress(GetModuleHandleW(L"dbghelp.dll"), "SymGetOptions");
    ASSERT_NE(nullptr, getOptions);
    const DWORD required = SYMOPT_NO_PROMPTS | SYMOPT_IGNORE_NT_SYMPATH |
                           SYMOPT_DISABLE_SYMSRV_AUTODETECT | SYMOPT_FAIL_CRITICAL_ERRORS;
    EXPECT_EQ(required, getOptions() & required);
    engine.Close();

    for (int i = 0; i < 3; ++i)
        SetEnvironmentVariableA(names[i], had[i] ? saved[i] : nullptr);
}

TEST(CrashText, LongLinesAreCutAndKeepTheirEnd)
{
    std::string wide(3000, 'w');
    ReportText write;
    EXPECT_EQ(1, write.File().Print("%s|", wide.c_str()));
    EXPECT_EQ(1, write.File().Print("%I64X %S\r\n", 0x123456789ull, L"wide"));
    EXPECT_EQ(1, write.File().Print("%s\r\n", wide.c_str()));
    EXPECT_EQ(1, write.File().Print("next\r\n"));
    std::string text = write.Text();
    EXPECT_EQ(std::string(ReportFile::LineMax - 1, 'w') + "123456789 wide\r\n" +
                  std::string(ReportFile::LineMax - 3, 'w') + "\r\nnext\r\n",
              text);
}

TEST(CrashText, ModulesAndThreadsBeyondTheTablesAreCounted)
{
    std::unique_ptr<CrashRecords> records(new CrashRecords);
    records->Clear();
    MINIDUMP_MODULE_CALLBACK module = {};
    wchar_t path[] = L"C:\\Program Files\\Quillmere\\plugin.dll";
    module.FullPath = path;
    CONTEXT context = {};
    for (int i = 0; i < CrashRecords::ModuleMax + 3; ++i) {
        module.BaseOfImage = 0x10000000ull + 0x10000ull * i;
        records->AddModule(module);
    }
    for (int i = 0; i < CrashRecords::ThreadMax + 2; ++i)
        records->AddThread(0x40000 + 4 * i, nullptr, context, 0, 0);
    ASSERT_EQ(+CrashRecords::ModuleMax, records->ModuleCount());
    ReportText write;
    SymbolEngine engine; // not started: no symbols for start addresses
    WriteModuleSection(write.File(), *records);
    WriteThreadSection(write.File(), *records, engine, true);
    std::string text = write.Text();
    EXPECT_NE(std::string::npos, text.find("plugin.dll\r\n(3 more modules left out)\r\n\r\nThreadList:"))
        << text.substr(text.size() - 300);
    const std::string threadsLeftOut = "\r\n(2 more threads left out)\r\n";
    EXPECT_EQ(text.size() - threadsLeftOut.size(), text.find(threadsLeftOut));
}

TEST(CrashText, TheUsersProfileAndNameAreMasked)
{
    ProfileMask mask;
    mask.Use(L"C:\\Users\\Ann\\", L"C:\\Users\\ANNMAR~1", L"ann");
    auto masked = [&](const wchar_t* path) {
        wchar_t out[MAX_PATH];
        mask.Mask(path, out, MAX_PATH);
        return std::wstring(out);
    };
    EXPECT_EQ(L"%USERPROFILE%\\AppData\\x.dll", masked(L"c:\\users\\ANN\\AppData\\x.dll"));
    EXPECT_EQ(L"%USERPROFILE%\\Temp\\a.exe", masked(L"C:\\Users\\ANNMAR~1\\Temp\\a.exe"));
    EXPECT_EQ(L"D:\\%USERNAME%\\tools\\q.exe", masked(L"D:\\ann\\tools\\q.exe"));
    // Only whole folders are names.
    EXPECT_EQ(L"C:\\Users\\Anne\\x.dll", masked(L"C:\\Users\\Anne\\x.dll"));
    EXPECT_EQ(L"D:\\annex\\Joann\\b", masked(L"D:\\annex\\Joann\\b"));

    // The text report is masked as it is written.
    ReportText write;
    write.File().UseMask(&mask);
    write.File().Print("%s - %s\r\n", "C:\\Users\\Ann\\q.exe", "E:\\Ann");
    EXPECT_EQ("%USERPROFILE%\\q.exe - E:\\%USERNAME%\r\n", write.Text());
}
