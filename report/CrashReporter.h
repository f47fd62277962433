#pragma once

#include <windows.h>

#include "report/CrashFiles.h"
#include "report/CrashRecords.h"
#include "report/CrashText.h"
#include "report/FaultGuard.h"
#include "report/MinidumpFile.h"
#include "report/ProblemReport.h"
#include "report/ProfileMask.h"
#include "report/ReporterThread.h"
#include "report/SymbolEngine.h"
#include "services/WideString.h"

// The process's crash handler. Its one instance is made before the entry
// point runs and is never destroyed: it installs the unhandled-exception
// filter (and puts it back when a library replaces it), routes abort,
// std::terminate, pure virtual calls, invalid parameters and faults in timer
// callbacks into the same report, and starts the reporter thread, which
// loads DbgHelp once the program has started.
//
// On a crash the crashing thread hands the report to the reporter thread and
// waits without dispatching messages. The reporter thread writes a minidump
// ("<base>_Debug.dmp") and a text report ("<base>_Debug.txt") beside the
// executable, or in the temporary folder when that is not writable, each
// under a temporary name until complete, with the user's profile and name
// masked; then it hands the files it completed to the report step, which
// may offer to send them. Every wait is bounded: a capture that does not end
// in time is left for what the crashing thread can write itself, and a step
// that does not show a sign of life in time (its dialog cannot come up, or
// stops answering) is left too; its files are offered at the next start.
// Then the process ends with the exception's code.
class CrashReporter {
public:
    // What follows the capture, on the reporter thread or a fresh one: gets
    // the reporter (for its configured texts) and the names of the files
    // completed for this crash ("" for a file that could not be written);
    // returns 1 for "no dialog", so the exception goes on to the system,
    // anything else to end the process. A step that runs longer than the
    // step patience keeps the process only while it beats the heartbeat of
    // ReportSettings (the problem report dialog does while it answers).
    typedef int (*ReportStep)(const CrashReporter& reporter, const wchar_t* dumpPath,
                              const wchar_t* textPath);

    // How long a crashing thread waits for the capture at most.
    static const DWORD DefaultCaptureTimeout = 20000;
    // How long a crashing thread waits for a sign of life of the step.
    static const DWORD DefaultStepPatience = 20000;
    // How long the reporter thread waits for the program to have started
    // before it prepares itself anyway.
    static const DWORD PrepareDelay = 1500;

    static CrashReporter& Current();

    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    // `programName` none means the version resource's "InternalName";
    // `host`, `path` and `extraText` none mean empty texts. Configuring
    // again with the same values changes nothing, so the reporter thread
    // may read them meanwhile.
    void ConfigureReporter(int iconId, const wchar_t* host, const wchar_t* path,
                           const wchar_t* programName, const wchar_t* extraText);
    int IconId() const { return iconId_; }
    const wchar_t* ReportHost() const { return host_.Text(); }
    const wchar_t* ReportPath() const { return path_.Text(); }
    const wchar_t* ProgramName() const { return programName_.Text(); }
    const wchar_t* ExtraText() const { return extraText_.Text(); }

    // What the problem report dialog needs of the configuration (the
    // executable's resources, HTTPS to the report host, the heartbeat).
    ProblemReportSettings ReportSettings() const;

    // nullptr restores the default step: the problem report dialog, which
    // shows nothing and returns 1 when no report host is configured.
    void UseReportStep(ReportStep step);
    // For callers that cannot wait as long as the defaults.
    void UseCaptureTimeout(DWORD milliseconds) { captureTimeout_ = milliseconds; }
    void UseStepPatience(DWORD milliseconds) { stepPatience_ = milliseconds; }

    // Writes both files for `exception` (none: a report of the process
    // without exception, stack and registers) and runs the report step, on
    // the reporter thread while this thread waits without dispatching
    // messages; returns the step's result, or 0 when the step gave no sign
    // of life in time. When the capture does not end in time, this thread
    // writes what it can without it (the text report without symbols,
    // modules and threads; after a stack overflow a fresh thread writes it),
    // and a fresh thread with a stack of its own runs the step.
    [[nodiscard]] int WriteCrashReport(EXCEPTION_POINTERS* exception);

    // The reporter thread has prepared itself (DbgHelp loaded, the machine's
    // lines read) and offered what an earlier run left pending. A crash
    // before still gets a report, with less in it when the capture cannot
    // finish.
    bool IsReady() const { return ready_ != 0; }
    // The program has shown itself: the reporter thread prepares now
    // instead of at the end of PrepareDelay.
    void PrepareNow() { thread_.PrepareNow(); }

    static LONG WINAPI ExceptionFilter(EXCEPTION_POINTERS* exception);
    // A failure that raises no exception (abort and the like, see
    // RuntimeFailures.h): reported as an exception with `code` where it was
    // called; then the process ends with `code`.
    static void ReportFailure(DWORD code);

private:
    // A rename of a finished file is waited for this long after a time-out.
    static const DWORD CommitPatience = 2000;
    // How often a waiting crashing thread looks for the step's heartbeat.
    static const DWORD StepWatchInterval = 200;

    CrashReporter();

    static void Prepare(void* self);
    static void Work(void* self);
    static void KeepFilterInstalled(void* self);
    static DWORD WINAPI StepThreadMain(void* self);
    template <void (CrashReporter::*Part)()> int Guarded();
    FaultGuard* GuardHere();
    int RecoverFromFault(EXCEPTION_POINTERS* exception);
    bool IsGuardingHere();
    bool IsMasked() const { return !mask_.IsEmpty(); }

    void RunReport();
    int Capture();
    void OpenSymbols();
    void WriteDump();
    void WriteText();
    typedef int (CrashReporter::*GuardedPart)();
    void WriteSections(ReportFile& file, const GuardedPart* parts, int count);
    template <ReportFile CrashReporter::*File> void WriteExceptionPart();
    template <ReportFile CrashReporter::*File> void WriteUptimePart();
    void WriteMachinePart();
    void WritePreparedMachinePart();
    void WriteStackPart();
    void WriteModulePart();
    void WriteThreadPart();
    void RunStepHere();
    void RunStep();
    void RunPendingStep();
    void OfferPendingReport();
    void CloseSymbols();
    int Rescue();
    void WriteRescueText();
    int OfferOnFreshThread(bool writeText);
    int AwaitStep(HANDLE done, HANDLE thread);
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
    DWORD stepPatience_ = DefaultStepPatience;
    // Beaten by the step while it is alive (the dialog's timer).
    mutable volatile LONG stepHeartbeat_ = 0;

    // The crash being reported, for the reporter thread. The records live
    // on the crashing thread's stack, which waits meanwhile.
    EXCEPTION_POINTERS* exception_ = nullptr;
    DWORD crashingThreadId_ = 0;
    volatile LONG stepResult_ = 1;
    HANDLE captured_ = nullptr;  // the capture is over, the step begins
    HANDLE done_ = nullptr;      // the report on the reporter thread is over
    HANDLE stepDone_ = nullptr;  // the step on a fresh thread is over
    volatile DWORD stepThreadId_ = 0;
    volatile LONG rescueWritesText_ = 0;
    volatile LONG ready_ = 0;    // the reporter thread has prepared itself
    // The processor and system lines, which do not change while the program
    // runs: read while the reporter thread prepares itself, not in a crashed
    // process.
    char machine_[4096] = "";
    CONTEXT walkContext_;
    HANDLE dumpFile_ = INVALID_HANDLE_VALUE;
    // The capture's text and the crashing thread's own, which may be
    // written while a stalled capture still holds the first.
    ReportFile text_;
    ReportFile rescueText_;
    // An earlier run's report, offered once at this start.
    const wchar_t* pendingDump_ = L"";
    const wchar_t* pendingText_ = L"";

    CrashFiles files_;
    ProfileMask mask_;
    SymbolEngine engine_;
    CrashRecords records_;
    MinidumpFile minidump_;
    ReporterThread thread_;
    // The guards of the crashing thread and of a fresh step thread; the
    // reporter thread has its own.
    FaultGuard ownerGuard_;
    FaultGuard stepGuard_;
};
