#pragma once

#include <windows.h>

#include "report/CrashRecords.h"
#include "report/ProblemReport.h"
#include "report/SymbolEngine.h"
#include "services/WideString.h"
#include "update/WorkerThread.h"

// The process's crash handler. Its one instance exists before the entry
// point runs and installs the unhandled-exception filter; on a crash it
// writes a minidump ("<base>_Debug.dmp") and a text report
// ("<base>_Debug.txt") beside the executable, or in the temporary folder
// when that is not writable, registers both with Windows Error Reporting
// and hands them to the report step, which may offer to send them.
class CrashReporter {
public:
    // What follows the capture: gets the reporter (for its configured
    // texts) and the two file names; returns 1 for "no dialog", so the
    // exception goes on to the system, anything else to end the process.
    typedef int (*ReportStep)(const CrashReporter& reporter, const wchar_t* dumpPath,
                              const wchar_t* textPath);

    // How long a crashing thread waits for the capture at most.
    static const DWORD DefaultCaptureTimeout = 20000;

    static CrashReporter& Current();

    CrashReporter();
    // Gives the filter back to whoever had it before.
    ~CrashReporter();
    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    // `programName` none means the version resource's "InternalName";
    // `host`, `path` and `extraText` none mean empty texts.
    void ConfigureReporter(int iconId, const wchar_t* host, const wchar_t* path,
                           const wchar_t* programName, const wchar_t* extraText);
    int IconId() const { return iconId_; }
    const wchar_t* ReportHost() const { return host_.Text(); }
    const wchar_t* ReportPath() const { return path_.Text(); }
    const wchar_t* ProgramName() const { return programName_.Text(); }
    const wchar_t* ExtraText() const { return extraText_.Text(); }

    // What the problem report dialog needs of the configuration (the
    // executable's resources, HTTPS to the report host).
    ProblemReportSettings ReportSettings() const;

    // nullptr restores the default step: the problem report dialog, which
    // shows nothing and returns 1 when no report host is configured.
    void UseReportStep(ReportStep step);
    // For callers that cannot wait as long as the default.
    void UseCaptureTimeout(DWORD milliseconds) { captureTimeout_ = milliseconds; }

    // Writes both files for `exception` (none: a report of the process
    // without exception, stack and registers) and returns the report
    // step's result.
    int WriteCrashReport(EXCEPTION_POINTERS* exception);

    static LONG WINAPI ExceptionFilter(EXCEPTION_POINTERS* exception);

private:
    static const int PathMax = 600;

    void ComputeFileNames();
    static DWORD CaptureRoutine(void* self);
    DWORD Capture();
    void WriteDump();
    void WriteText();
    int WaitForCapture(bool canDispatch);

    // Set by the first crash; a later one goes straight to the system.
    volatile LONG handling_ = 0;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter_ = nullptr;

    WideString host_;
    WideString path_;
    WideString programName_;
    WideString extraText_;
    int iconId_ = 0;
    ReportStep step_;
    DWORD captureTimeout_ = DefaultCaptureTimeout;

    // The names tried for the two files, primary (beside the executable)
    // first. Fixed when the reporter is made, so a crash needs no path work.
    wchar_t executableDirectory_[PathMax];
    wchar_t primaryDump_[PathMax];
    wchar_t primaryText_[PathMax];
    wchar_t fallbackDump_[PathMax];
    wchar_t fallbackText_[PathMax];
    // The last name tried for each file: one of the names above, switched
    // by a single store, so a crashing thread that stops waiting for the
    // capture still reads a whole name.
    const wchar_t* volatile dumpPath_ = L"";
    const wchar_t* volatile textPath_ = L"";

    // The crash being reported, for the capture thread.
    EXCEPTION_POINTERS* exception_ = nullptr;
    DWORD crashingThreadId_ = 0;
    CONTEXT walkContext_;

    SymbolEngine engine_;
    CrashRecords records_;
    WorkerThread capture_;
};
