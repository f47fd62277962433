#pragma once

#include <windows.h>

#include "report/CrashRecords.h"
#include "report/ProfileMask.h"
#include "report/SymbolEngine.h"

// An 8-bit text file written line by line from a fixed buffer, for a report
// that is written inside a crashed process.
class ReportFile {
public:
    static const int LineMax = 2048;

    ReportFile() = default;
    ~ReportFile() { Close(); }
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Takes over an open file handle.
    void Attach(HANDLE file);
    // Gives the handle back without closing it.
    HANDLE Detach();
    void Close();
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE || buffer_; }
    // From now on what is written shows the user's profile and name masked
    // (`mask` must outlive the writing; none: written as it is).
    void UseMask(const ProfileMask* mask) { mask_ = mask; }

    // Writes into `buffer` of `size` bytes instead of a file, kept
    // NUL-terminated; what does not fit is left out.
    void AttachBuffer(char* buffer, int size);

    int Write(const char* text);
    // printf-style with the Windows rules (%s 8-bit, %S wide, %I64X). A
    // line longer than LineMax - 1 bytes is cut; a format that ends its
    // line ends the cut line too.
    int Print(const char* format, ...);

private:
    static int WritePiece(const char* piece, int length, void* self);
    int WriteBytes(const char* bytes, DWORD length);

    HANDLE file_ = INVALID_HANDLE_VALUE;
    char* buffer_ = nullptr;
    int bufferSize_ = 0;
    int bufferUsed_ = 0;
    const ProfileMask* mask_ = nullptr;
    char line_[LineMax];
};

// An entry point of a module the process has loaded already (kernel32.dll,
// ntdll.dll), found without loading anything; nullptr when it is missing.
FARPROC SystemFunction(const wchar_t* module, const char* name);

// The optional system functions a report calls, each none when missing.
// Looked up once, when the crash reporter is made: a lookup takes the
// loader's lock, which a crashed thread may hold.
struct ReportSystemApi {
    typedef BOOL(WINAPI* GetProcessTimesProc)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*);
    typedef int(WINAPI* GetDurationFormatExProc)(LPCWSTR, DWORD, const SYSTEMTIME*, ULONGLONG,
                                                 LPCWSTR, LPWSTR, int);
    typedef LONG(WINAPI* NtQuerySystemInformationProc)(int, PVOID, ULONG, PULONG);
    typedef HRESULT(WINAPI* WerRegisterFileProc)(PCWSTR, int, DWORD);

    GetProcessTimesProc getProcessTimes;
    GetDurationFormatExProc getDurationFormatEx;
    NtQuerySystemInformationProc ntQuerySystemInformation;
    WerRegisterFileProc werRegisterFile;
};
const ReportSystemApi& ReportApi();

// The report's name for an exception code: "Access Violation", ...,
// "Exception" for codes it does not know.
const char* ExceptionName(DWORD code);

// The sections of the text report, in the order it is written. `ntFamily`
// chooses between the NT and the 9x forms of the lines that differ.
void WriteExceptionSection(ReportFile& file, const EXCEPTION_RECORD& exception,
                           const CONTEXT& context, DWORD threadId, bool ntFamily);
void WriteProcessorSection(ReportFile& file, bool ntFamily);
void WriteSystemSection(ReportFile& file, bool ntFamily);
void WriteUptimeSection(ReportFile& file);
// Walks the stack described by `context`, which the walk changes.
void WriteStackSection(ReportFile& file, SymbolEngine& engine, CONTEXT& context);
void WriteModuleSection(ReportFile& file, const CrashRecords& records);
void WriteThreadSection(ReportFile& file, const CrashRecords& records, SymbolEngine& engine,
                        bool ntFamily);

// At most this many frames are written, so a stack that loops on itself
// (or a deep recursion) cannot make the report endless.
const int StackFrameMax = 512;

// A duration in 100-nanosecond units as the system's duration format shows
// it, else as FormatDurationFallback does. 0 when nothing could be made.
[[nodiscard]] int FormatDuration(ULONGLONG duration, wchar_t* text, int size);
// Under a day the locale's time picture "H:mm:ss", "m:ss" or "s 'sec'";
// from a day on the hours counted on: "%u:%02u:%02u".
[[nodiscard]] int FormatDurationFallback(ULONGLONG duration, wchar_t* text, int size);
