#pragma once

#include <windows.h>

#include "report/CrashFiles.h"
#include "report/CrashRecords.h"
#include "report/CrashText.h"
#include "report/ProblemReport.h"
#include "report/ProfileMask.h"
#include "report/ReporterThread.h"
#include "report/SymbolEngine.h"
#include "services/WideString.h"

// The process's crash handler. Its one instance is made before the entry
// point runs and is never destroyed: it installs the unhandled-exception
// filter (and puts it back when a library replaces it), routes abort,
// std::terminate, pure virtual calls and invalid parameters into the same
// report, and starts the reporter thread, which loads DbgHelp at once.
//
// On a crash the crashing thread hands the report to the reporter thread and
// waits without dispatching messages. The reporter thread writes a minidump
// ("<base>_Debug.dmp") and a text report ("<base>_Debug.txt") beside the
// executable, or in the temporary folder when that is not writable, each
// under a temporary name until complete, with the user's profile and name
// masked; then it hands the files it completed to the report step, which
// may offer to send them. Then the process ends with the exception's code.
class CrashReporter {
public:
    // What follows the capture, on the reporter thread: gets the reporter
    // (for its configured texts) and the names of the files completed for
    // this crash ("" for a file that could not be written); returns 1 for
    // "no dialog", so the exception goes on to the system, anything else to
    // end the process.
    typedef int (*ReportStep)(const CrashReporter& reporter, const wchar_t* dumpPath,
                              const wchar_t* textPath);

    // How long a crashing thread waits for the capture at most.
    static const DWORD DefaultCaptureTimeout = 20000;

    static CrashReporter& Current();

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
    // without exception, stack and registers) and runs the report step, on
    // the reporter thread while this thread waits without dispatching
    // messages; returns the step's result. When the capture does not end in
    // time, this thread writes what it can without it: the text report
    // without symbols, modules and threads, and the step runs here once the
    // reporter thread was ready, unless this thread has windows of the
    // program (otherwise 1).
    int WriteCrashReport(EXCEPTION_POINTERS* exception);

    // The reporter thread has prepared itself (DbgHelp loaded, the machine's
    // lines read). A crash before still gets a report, with less in it
    // when the capture cannot finish.
    bool IsReady() const { return ready_ != 0; }

    static LONG WINAPI ExceptionFilter(EXCEPTION_POINTERS* exception);
    // A failure that raises no exception (abort and the like, see
    // RuntimeFailures.h): reported as an exception with `code` where it was
    // called; then the process ends with `code`.
    static void ReportFailure(DWORD code);

private:
    // A rename of a finished file is waited for this long after a time-out.
    static const DWORD CommitPatience = 2000;

    CrashReporter();

    static void Prepare(void* self);
    static void Work(void* self);
    static void KeepFilterInstalled(void* self);
    template <void (CrashReporter::*Part)()> int Guarded();

    void RunReport();
    void OpenSymbols();
    void WriteDump();
    void WriteText();
    void WriteExceptionPart();
    void WriteMachinePart();
    void WriteUptimePart();
    void WriteStackPart();
    void WriteModulePart();
    void WriteThreadPart();
    void RunStep();
    void CloseSymbols();
    int Rescue();
    void WriteRescueText();
    bool IsOverflow() const;

    // Set by the first crash; `owner_` is the thread that reports it.
    volatile LONG handling_ = 0;
    volatile DWORD owner_ = 0;

    WideString host_;
    WideString path_;
    WideString programName_;
    WideString extraText_;
    int iconId_ = 0;
    ReportStep step_;
    DWORD captureTimeout_ = DefaultCaptureTimeout;

    // The crash being reported, for the reporter thread. The records live
    // on the crashing thread's stack, which waits meanwhile.
    EXCEPTION_POINTERS* exception_ = nullptr;
    DWORD crashingThreadId_ = 0;
    volatile LONG stepResult_ = 1;
    HANDLE captured_ = nullptr; // the capture is over, the step begins
    HANDLE done_ = nullptr;     // the report is over
    volatile LONG ready_ = 0;   // the reporter thread has prepared itself
    // The processor and system lines, which do not change while the program
    // runs: read while the reporter thread prepares itself, not in a crashed
    // process.
    char machine_[4096] = "";
    CONTEXT walkContext_;
    HANDLE dumpFile_ = INVALID_HANDLE_VALUE;
    ReportFile text_;

    CrashFiles files_;
    ProfileMask mask_;
    SymbolEngine engine_;
    CrashRecords records_;
    ReporterThread thread_;
};
