#include "report/CrashText.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#if defined(_MSC_VER)
#include <intrin.h>
#elif defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#include "report/RuntimeFailures.h"
#include "services/RegistryKey.h"
#include "services/WindowsVersion.h"

// Addresses in the module and thread lists are as wide as the process's
// pointers; the 32-bit lists keep their 8-digit columns.
#if defined(__x86_64__) || defined(_M_X64)
#define AddressFormat "0x%016I64X"
#else
#define AddressFormat "0x%08I64X"
#endif

namespace {

#if defined(__x86_64__) || defined(_M_X64)
const char ModuleListHeading[] =
    "    Size TimeStamp                      Checksum   ImageBase          Versions\r\n";
const char ThreadListHeading[] =
    "Id         StackBase          StackEnd           StartAddress\r\n";
#else
const char ModuleListHeading[] =
    "    Size TimeStamp                      Checksum   ImageBase  Versions\r\n";
const char ThreadListHeading[] = "Id         StackBase  StackEnd   StartAddress\r\n";
#endif

struct ExceptionNameEntry {
    DWORD code;
    const char* name;
};

const ExceptionNameEntry ExceptionNames[] = {
    {0x40010005, "Control-C"},
    {0x40010008, "Control-Break"},
    {0x80000002, "Datatype Misalignment"},
    {0x80000003, "Breakpoint"},
    {0xC0000005, "Access Violation"},
    {0xC0000006, "In Page Error"},
    {0xC0000017, "No Memory"},
    {0xC000001D, "Illegal Instruction"},
    {0xC0000025, "Noncontinuable Exception"},
    {0xC0000026, "Invalid Disposition"},
    {0xC000008C, "Array Bounds Exceeded"},
    {0xC000008D, "Float Denormal Operand"},
    {0xC000008E, "Float Divide by Zero"},
    {0xC000008F, "Float Inexact Result"},
    {0xC0000090, "Float Invalid Operation"},
    {0xC0000091, "Float Overflow"},
    {0xC0000092, "Float Stack Check"},
    {0xC0000093, "Float Underflow"},
    {0xC0000094, "Integer Divide by Zero"},
    {0xC0000095, "Integer Overflow"},
    {0xC0000096, "Privileged Instruction"},
    {0xC00000FD, "Stack Overflow"},
    {0xC0000142, "DLL Initialization Failed"},
    {InvalidParameterCode, "Invalid Parameter"},
    {0xE06D7363, "Microsoft C++ Exception"},
    {AbortCode, "Abort"},
    {TerminateCode, "Terminate"},
    {PureVirtualCallCode, "Pure Virtual Call"},
};

// KUSER_SHARED_DATA: frames there are system call stubs, not code of ours.
const DWORD64 SharedUserDataStart = 0x7FFE0000;
const DWORD64 SharedUserDataEnd = 0x7FFEFFFF;

const ULONGLONG TicksPerSecond = 10000000ull;
// Seconds from 1601-01-01 (FILETIME) to 1970-01-01 (PE time stamps).
const ULONGLONG UnixEpochInTicks = 116444736000000000ull;

void ToAnsi(const wchar_t* text, char* buffer, int size)
{
    buffer[0] = 0;
    if (text && WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, size, nullptr, nullptr) <= 0)
        buffer[0] = 0;
    buffer[size - 1] = 0;
}

void TrimTrailingBlanks(wchar_t* text)
{
    size_t length = wcslen(text);
    while (length > 0 && (text[length - 1] == L' ' || text[length - 1] == L'\t'))
        text[--length] = 0;
}

void TrimBlanks(wchar_t* text)
{
    TrimTrailingBlanks(text);
    size_t skip = 0;
    while (text[skip] == L' ' || text[skip] == L'\t')
        ++skip;
    if (skip)
        memmove(text, text + skip, (wcslen(text + skip) + 1) * sizeof(wchar_t));
}

// A registry text as 8-bit text, empty when missing.
void ReadAnsiText(const RegistryKey& key, const wchar_t* name, bool trimLeading, char* text,
                  int size)
{
    wchar_t value[256];
    if (!key.ReadText(name, value, 256))
        value[0] = 0;
    if (trimLeading)
        TrimBlanks(value);
    else
        TrimTrailingBlanks(value);
    ToAnsi(value, text, size);
}

bool HasTimeStampCounter()
{
#if defined(_MSC_VER)
    int registers[4] = {};
    __cpuid(registers, 1);
    return (registers[3] & 0x10) != 0;
#elif defined(__i386__) || defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & 0x10) != 0;
#else
    return false;
#endif
}

// Not named ReadTimeStampCounter: winnt.h makes that a macro for __rdtsc on x64.
unsigned long long TimeStampCounterNow()
{
#if defined(_MSC_VER) || defined(__i386__) || defined(__x86_64__)
    return __rdtsc();
#else
    return 0;
#endif
}

// The counter's advance over Sleep(1) per elapsed microsecond.
DWORD MeasureClock()
{
    LARGE_INTEGER frequency, before, after;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
        return 0;
    QueryPerformanceCounter(&before);
    unsigned long long start = TimeStampCounterNow();
    Sleep(1);
    unsigned long long end = TimeStampCounterNow();
    QueryPerformanceCounter(&after);
    long long microseconds = (after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart;
    if (microseconds <= 0)
        return 0;
    return (DWORD)((end - start) / (unsigned long long)microseconds);
}

DWORD ProcessorClock(const RegistryKey& key)
{
    unsigned long long megahertz = 0;
    if (!key.ReadNumber(L"~MHz", &megahertz))
        megahertz = 0;
    DWORD clock = (DWORD)megahertz;
    ReportSystemApi::NtQuerySystemInformationProc query = ReportApi().ntQuerySystemInformation;
    BYTE speed[15] = {};
    ULONG returned = 0;
    if (query && query(43, speed, sizeof(speed), &returned) >= 0) {
        DWORD hertz;
        memcpy(&hertz, speed + 4, sizeof(hertz));
        if (hertz)
            clock = hertz / 1000000;
    }
    if (clock == 0 && HasTimeStampCounter())
        clock = MeasureClock();
    return clock;
}

void FormatLocalStamp(DWORD timeStamp, char* date, int dateSize, char* time, int timeSize)
{
    ULARGE_INTEGER ticks;
    ticks.QuadPart = (ULONGLONG)timeStamp * TicksPerSecond + UnixEpochInTicks;
    FILETIME utc = {ticks.LowPart, ticks.HighPart};
    FILETIME local;
    SYSTEMTIME parts = {};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &parts))
        memset(&parts, 0, sizeof(parts));
    _snprintf(date, (size_t)dateSize, "%2u.%02u.%04u", parts.wDay, parts.wMonth, parts.wYear);
    _snprintf(time, (size_t)timeSize, "%2u:%02u:%02u", parts.wHour, parts.wMinute, parts.wSecond);
    date[dateSize - 1] = 0;
    time[timeSize - 1] = 0;
}

#if defined(__x86_64__) || defined(_M_X64)
const char PlatformName[] = "x64";
#else
const char PlatformName[] = "x86";
#endif

// The walk's first frame and machine from the crash context; 0 on a
// processor the walk does not know.
int StartStackFrame(const CONTEXT& context, DWORD* machine, STACKFRAME64* frame)
{
#if defined(__x86_64__) || defined(_M_X64)
    *machine = IMAGE_FILE_MACHINE_AMD64;
    frame->AddrPC.Offset = context.Rip;
    frame->AddrFrame.Offset = context.Rbp;
    frame->AddrStack.Offset = context.Rsp;
#elif defined(__i386__) || defined(_M_IX86)
    *machine = IMAGE_FILE_MACHINE_I386;
    frame->AddrPC.Offset = context.Eip;
    frame->AddrFrame.Offset = context.Ebp;
    frame->AddrStack.Offset = context.Esp;
#else
    return 0;
#endif
    frame->AddrPC.Mode = AddrModeFlat;
    frame->AddrFrame.Mode = AddrModeFlat;
    frame->AddrStack.Mode = AddrModeFlat;
    return 1;
}

// The stack line of one frame. The module and offset go at the end of every
// line whose symbol does not already say them, so that frames of a build
// without symbols DbgHelp can read can still be turned into names.
void WriteFrame(ReportFile& file, SymbolEngine& engine, const STACKFRAME64& frame)
{
    DWORD64 pc = frame.AddrPC.Offset;
    char symbol[SymbolEngine::LegacyNameMax + 64];
    bool named = engine.FunctionName(pc, symbol, sizeof(symbol)) != 0;
    if (!named)
        engine.DescribeAddress(pc, true, symbol, sizeof(symbol));
    char module[MAX_PATH];
    DWORD64 base = 0;
    bool inModule = engine.ModuleOf(pc, module, sizeof(module), &base) != 0 && module[0];
    DWORD line = 0;
    const char* source = nullptr;
    bool withLine = engine.SourceLine(pc, &line, &source) != 0;
    const DWORD64* p = frame.Params;
    if (withLine)
        file.Print("%hs(0x%I64X,0x%I64X,0x%I64X,0x%I64X) - Line %u in %hs", symbol, p[0], p[1],
                   p[2], p[3], line, source);
    else if (inModule)
        file.Print("%hs:%hs(0x%I64X,0x%I64X,0x%I64X,0x%I64X)", module, symbol, p[0], p[1], p[2],
                   p[3]);
    else
        file.Print("%hs(0x%I64X,0x%I64X,0x%I64X,0x%I64X)", symbol, p[0], p[1], p[2], p[3]);
    if (named && inModule)
        file.Print(" [%hs@0x%I64X]", module, pc - base);
    file.Write("\r\n");
}

} // namespace

void ReportFile::Attach(HANDLE file)
{
    Close();
    file_ = file;
}

HANDLE ReportFile::Detach()
{
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    return file;
}

void ReportFile::AttachBuffer(char* buffer, int size)
{
    Close();
    buffer_ = size > 0 ? buffer : nullptr;
    bufferSize_ = size;
    bufferUsed_ = 0;
    if (buffer_)
        buffer_[0] = 0;
}

void ReportFile::Close()
{
    if (file_ != INVALID_HANDLE_VALUE && file_ != nullptr)
        CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    buffer_ = nullptr;
}

int ReportFile::WriteBytes(const char* bytes, DWORD length)
{
    if (buffer_) {
        if ((DWORD)(bufferSize_ - 1 - bufferUsed_) < length)
            return 0;
        memcpy(buffer_ + bufferUsed_, bytes, length);
        bufferUsed_ += (int)length;
        buffer_[bufferUsed_] = 0;
        return 1;
    }
    DWORD written = 0;
    return WriteFile(file_, bytes, length, &written, nullptr) && written == length;
}

int ReportFile::WritePiece(const char* piece, int length, void* self)
{
    return static_cast<ReportFile*>(self)->WriteBytes(piece, (DWORD)length);
}

int ReportFile::Write(const char* text)
{
    if (!IsOpen() || !text)
        return 0;
    if (mask_)
        return mask_->WriteMasked(text, WritePiece, this);
    return WriteBytes(text, (DWORD)strlen(text));
}

int ReportFile::Print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    // msvcrt's formatter: -1 and no terminator when the line is cut.
    int length = _vsnprintf(line_, LineMax - 1, format, args);
    va_end(args);
    if (length < 0 || length >= LineMax - 1) {
        length = LineMax - 1;
        size_t formatLength = strlen(format);
        // A cut line keeps its end, so it does not run into the next one.
        if (formatLength >= 2 && !strcmp(format + formatLength - 2, "\r\n"))
            memcpy(line_ + length - 2, "\r\n", 2);
    }
    line_[length] = 0;
    return Write(line_);
}

FARPROC SystemFunction(const wchar_t* module, const char* name)
{
    HMODULE handle = GetModuleHandleW(module);
    return handle ? GetProcAddress(handle, name) : nullptr;
}

const ReportSystemApi& ReportApi()
{
    static const ReportSystemApi api = {
        (ReportSystemApi::GetProcessTimesProc)SystemFunction(L"kernel32.dll", "GetProcessTimes"),
        (ReportSystemApi::GetDurationFormatExProc)SystemFunction(L"kernel32.dll",
                                                                 "GetDurationFormatEx"),
        (ReportSystemApi::NtQuerySystemInformationProc)SystemFunction(L"ntdll.dll",
                                                                      "NtQuerySystemInformation"),
        (ReportSystemApi::WerRegisterFileProc)SystemFunction(L"kernel32.dll", "WerRegisterFile"),
    };
    return api;
}

const char* ExceptionName(DWORD code)
{
    for (const ExceptionNameEntry& entry : ExceptionNames)
        if (entry.code == code)
            return entry.name;
    return "Exception";
}

void WriteExceptionSection(ReportFile& file, const EXCEPTION_RECORD& exception,
                           const CONTEXT& context, DWORD threadId, bool ntFamily)
{
    DWORD code = exception.ExceptionCode;
#if defined(__x86_64__) || defined(_M_X64)
    // Addresses as wide as the process's pointers.
    file.Print(ntFamily ? "%s [0x%08X] at 0x%016I64X in Thread %u.\r\n"
                        : "%s [0x%08X] at 0x%016I64X in Thread 0x%08X.\r\n",
               ExceptionName(code), code, (DWORD64)(ULONG_PTR)exception.ExceptionAddress,
               threadId);
    if (code == EXCEPTION_ACCESS_VIOLATION && exception.NumberParameters > 1)
        file.Print("%s location 0x%016I64X.\r\n",
                   exception.ExceptionInformation[0] ? "Write to" : "Read from",
                   (DWORD64)exception.ExceptionInformation[1]);
    file.Print("\r\nRAX=0x%016I64X, CS=0x%04X, RIP=0x%016I64X, Flags=0x%08X\r\n", context.Rax,
               context.SegCs, context.Rip, context.EFlags);
    file.Print("RBX=0x%016I64X, SS=0x%04X, RSP=0x%016I64X, RBP=0x%016I64X\r\n", context.Rbx,
               context.SegSs, context.Rsp, context.Rbp);
    file.Print("RCX=0x%016I64X, DS=0x%04X, RSI=0x%016I64X, FS=0x%04X\r\n", context.Rcx,
               context.SegDs, context.Rsi, context.SegFs);
    file.Print("RDX=0x%016I64X, ES=0x%04X, RDI=0x%016I64X, GS=0x%04X\r\n", context.Rdx,
               context.SegEs, context.Rdi, context.SegGs);
    file.Print("R8=0x%016I64X, R9=0x%016I64X, R10=0x%016I64X, R11=0x%016I64X\r\n", context.R8,
               context.R9, context.R10, context.R11);
    file.Print("R12=0x%016I64X, R13=0x%016I64X, R14=0x%016I64X, R15=0x%016I64X\r\n",
               context.R12, context.R13, context.R14, context.R15);
#else
    DWORD address = (DWORD)(ULONG_PTR)exception.ExceptionAddress;
    file.Print(ntFamily ? "%s [0x%08X] at 0x%08X in Thread %u.\r\n"
                        : "%s [0x%08X] at 0x%08X in Thread 0x%08X.\r\n",
               ExceptionName(code), code, address, threadId);
    if (code == EXCEPTION_ACCESS_VIOLATION && exception.NumberParameters > 1)
        file.Print("%s location 0x%08X.\r\n",
                   exception.ExceptionInformation[0] ? "Write to" : "Read from",
                   (DWORD)exception.ExceptionInformation[1]);
#if defined(__i386__) || defined(_M_IX86)
    // A selector is 16 bits; a context captured in software can leave
    // whatever was on the stack in the upper half of its 32-bit field.
    file.Print("\r\nEAX=0x%08X, CS=0x%04X, EIP=0x%08X, Flags=0x%08X\r\n", context.Eax,
               (WORD)context.SegCs, context.Eip, context.EFlags);
    file.Print("EBX=0x%08X, SS=0x%04X, ESP=0x%08X, EBP=0x%08X\r\n", context.Ebx,
               (WORD)context.SegSs, context.Esp, context.Ebp);
    file.Print("ECX=0x%08X, DS=0x%04X, ESI=0x%08X, FS=0x%04X\r\n", context.Ecx,
               (WORD)context.SegDs, context.Esi, (WORD)context.SegFs);
    file.Print("EDX=0x%08X, ES=0x%04X, EDI=0x%08X, GS=0x%04X\r\n", context.Edx,
               (WORD)context.SegEs, context.Edi, (WORD)context.SegGs);
#endif
#endif
}

void WriteProcessorSection(ReportFile& file, bool ntFamily)
{
    for (unsigned index = 0;; ++index) {
        wchar_t path[80];
        _snwprintf(path, 80, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\%u", index);
        path[79] = 0;
        RegistryKey key;
        if (!key.OpenRead(HKEY_LOCAL_MACHINE, path))
            return;
        char name[256], vendor[256], identifier[256];
        ReadAnsiText(key, ntFamily ? L"ProcessorNameString" : L"Identifier", true, name,
                     sizeof(name));
        ReadAnsiText(key, L"VendorIdentifier", false, vendor, sizeof(vendor));
        identifier[0] = 0;
        if (ntFamily) {
            wchar_t value[256];
            if (!key.ReadText(L"Identifier", value, 256))
                value[0] = 0;
            ToAnsi(value, identifier, sizeof(identifier));
        }
        file.Print("\r\n%s %s %s %u Mhz", name, vendor, identifier, ProcessorClock(key));
    }
}

void WriteSystemSection(ReportFile& file, bool ntFamily)
{
    char description[512];
    ToAnsi(DescribeWindows(GetWindowsEdition()).Text(), description, sizeof(description));
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        memset(&version, 0, sizeof(version));
    version.szCSDVersion[sizeof(version.szCSDVersion) - 1] = 0;
    if (ntFamily)
        file.Print("\r\n%s [%u.%u] Build %u.%u %s\r\n", description, version.dwMajorVersion,
                   version.dwMinorVersion, version.dwBuildNumber, GetWindowsUpdateRevision(),
                   version.szCSDVersion);
    else
        file.Print("\r\n%s [%u.%u] Build %u %s\r\n", description, version.dwMajorVersion,
                   version.dwMinorVersion, version.dwBuildNumber & 0xFFFF, version.szCSDVersion);

    file.Write(PlatformName);
    if (IsWow64())
        file.Write(" WOW64");
    if (IsArmHost())
        file.Write(" WOW64-ARM");
    file.Write(" Unicode");
    if (IsWine())
        file.Write(", Wine");
    if (IsReactOS())
        file.Write(", ReactOS");
    if (IsWindowsSandbox())
        file.Write(", Windows Sandbox");
    file.Write("\r\n");
}

void WriteUptimeSection(ReportFile& file)
{
    ReportSystemApi::GetProcessTimesProc getProcessTimes = ReportApi().getProcessTimes;
    FILETIME created, exited, kernelTime, userTime, now;
    if (!getProcessTimes ||
        !getProcessTimes(GetCurrentProcess(), &created, &exited, &kernelTime, &userTime))
        return;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER start = {{created.dwLowDateTime, created.dwHighDateTime}};
    ULARGE_INTEGER end = {{now.dwLowDateTime, now.dwHighDateTime}};
    ULONGLONG duration = end.QuadPart > start.QuadPart ? end.QuadPart - start.QuadPart : 0;
    wchar_t text[128];
    char ansi[256];
    if (!FormatDuration(duration, text, 128))
        text[0] = 0;
    ToAnsi(text, ansi, sizeof(ansi));
    file.Print("\r\nProcess Uptime: %s\r\n", ansi);
}

void WriteStackSection(ReportFile& file, SymbolEngine& engine, CONTEXT& context)
{
    if (!engine.IsLoaded())
        return;
    file.Write("\r\nStack:\r\n");
    DWORD machine;
    STACKFRAME64 frame = {};
    if (!StartStackFrame(context, &machine, &frame))
        return;
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    const DbgHelpApi& api = engine.Api();
    DWORD64 previousPc = 0, previousFrame = 0, previousStack = 0;
    for (int count = 0; count < StackFrameMax; ++count) {
        // The function-table callback gives the walk each function's unwind
        // data on x64, so frames of code without frame pointers are walked.
        if (!api.stackWalk64(machine, GetCurrentProcess(), nullptr, &frame, &context, nullptr,
                             api.symFunctionTableAccess64, api.symGetModuleBase64, nullptr))
            break;
        // A walk that no longer moves repeats its whole frame; a recursion
        // repeats only the program counter (and, without frame pointers,
        // the frame address), and its frames are worth showing.
        DWORD64 pc = frame.AddrPC.Offset;
        if (count > 0 && pc == previousPc && frame.AddrFrame.Offset == previousFrame &&
            frame.AddrStack.Offset == previousStack)
            break;
        if (pc < SharedUserDataStart || pc > SharedUserDataEnd)
            WriteFrame(file, engine, frame);
        if (frame.AddrReturn.Offset == 0)
            break;
        previousPc = pc;
        previousFrame = frame.AddrFrame.Offset;
        previousStack = frame.AddrStack.Offset;
    }
    SetErrorMode(previousMode);
}

void WriteModuleSection(ReportFile& file, const CrashRecords& records)
{
    if (records.ModuleCount() == 0)
        return;
    file.Write("\r\nModuleList:\r\n");
    file.Write(ModuleListHeading);
    for (int i = 0; i < records.ModuleCount(); ++i) {
        const ModuleRecord& module = records.Module(i);
        char date[16], time[16], path[ModuleRecord::PathMax * 2];
        FormatLocalStamp(module.timeStamp, date, sizeof(date), time, sizeof(time));
        // The path in the ANSI code page, as the rest of the report.
        ToAnsi(module.path, path, sizeof(path));
        const WORD* f = module.fileVersion;
        const WORD* v = module.productVersion;
        file.Print("%8u 0x%08X %10.10s %8.8s 0x%08X " AddressFormat " %4d.%04d.%05d.%06d "
                   "%4d.%04d.%05d.%06d - %s\r\n",
                   module.size, module.timeStamp, date, time, module.checksum, module.base, f[0],
                   f[1], f[2], f[3], v[0], v[1], v[2], v[3], path);
    }
    if (records.ModulesLeftOut() > 0)
        file.Print("(%d more modules left out)\r\n", records.ModulesLeftOut());
}

void WriteThreadSection(ReportFile& file, const CrashRecords& records, SymbolEngine& engine,
                        bool ntFamily)
{
    if (records.ThreadCount() == 0)
        return;
    file.Write("\r\nThreadList:\r\n");
    file.Write(ThreadListHeading);
    for (int i = 0; i < records.ThreadCount(); ++i) {
        const ThreadRecord& thread = records.Thread(i);
        char start[SymbolEngine::LegacyNameMax + 64] = "";
        if (thread.startAddress)
            engine.DescribeAddress(thread.startAddress, false, start, sizeof(start));
        file.Print(ntFamily ? "%-8u   " AddressFormat " " AddressFormat " " AddressFormat
                              " %hs %s\r\n"
                            : "0x%08X " AddressFormat " " AddressFormat " " AddressFormat
                              " %hs %s\r\n",
                   thread.id, thread.stackBase, thread.stackEnd, (DWORD64)thread.startAddress, start, thread.name);
    }
    if (records.ThreadsLeftOut() > 0)
        file.Print("(%d more threads left out)\r\n", records.ThreadsLeftOut());
}

int FormatDuration(ULONGLONG duration, wchar_t* text, int size)
{
    if (!text || size <= 0)
        return 0;
    ReportSystemApi::GetDurationFormatExProc format = ReportApi().getDurationFormatEx;
    if (format && format(nullptr, 0, nullptr, duration, nullptr, text, size) > 0)
        return 1;
    return FormatDurationFallback(duration, text, size);
}

int FormatDurationFallback(ULONGLONG duration, wchar_t* text, int size)
{
    if (!text || size <= 0)
        return 0;
    ULONGLONG seconds = duration / TicksPerSecond;
    if (seconds < 86400) {
        // The duration read as a time of day on 1 January 1601.
        ULARGE_INTEGER ticks;
        ticks.QuadPart = duration;
        FILETIME asDate = {ticks.LowPart, ticks.HighPart};
        SYSTEMTIME parts;
        const wchar_t* picture =
            seconds >= 3600 ? L"H:mm:ss" : seconds >= 60 ? L"m:ss" : L"s 'sec'";
        if (FileTimeToSystemTime(&asDate, &parts) &&
            GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &parts, picture, text, size) > 0)
            return 1;
    }
    unsigned hours = (unsigned)(seconds / 3600);
    unsigned minutes = (unsigned)(seconds / 60 % 60);
    unsigned rest = (unsigned)(seconds % 60);
    int written;
    if (seconds >= 3600)
        written = _snwprintf(text, (size_t)size, L"%u:%02u:%02u", hours, minutes, rest);
    else if (seconds >= 60)
        written = _snwprintf(text, (size_t)size, L"%u:%02u", minutes, rest);
    else
        written = _snwprintf(text, (size_t)size, L"%u sec", rest);
    text[size - 1] = 0;
    return written > 0;
}
