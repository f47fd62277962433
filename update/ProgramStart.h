#pragma once

#include <windows.h>

#include "services/WideString.h"

// Starts the program an update has just put in place and waits for it to
// prove that it runs. The proof is an interface that every build keeps,
// since each build is the new program of one update and the old program
// of the next:
//
//   The old program starts the new one suspended, creates the manual-reset
//   event "Local\Tollbrook.Quillmere.Healthy.<new process id, decimal>",
//   resumes it and waits at most ProofTimeout for that event or the new
//   process's end. The new program sets the event (AnnounceRunning) once
//   its first refresh is painted and its window has answered messages for
//   ProofDelay, and only if the event exists: an ordinary start finds none.
//
// Only a set event counts. A new program that crashes after showing its
// window stays alive behind its problem report, as one that hangs does,
// and neither sets it.
class ProgramStart {
public:
    enum Verdict {
        Running, // it set the event
        Failed,  // it ended, or did not set the event in time
        Stopped, // the wait was stopped first
    };

    // How long the old program waits for the proof, and how long the new
    // program has shown that it runs before it gives the proof.
    static const DWORD ProofTimeout = 60000;
    static const DWORD ProofDelay = 3000;
    // A new program that failed but shows a problem report is let finish
    // it (the user may be describing the crash) for at most this long.
    static const DWORD ReportPatience = 5 * 60 * 1000;

    ProgramStart() = default;
    ~ProgramStart();
    ProgramStart(const ProgramStart&) = delete;
    ProgramStart& operator=(const ProgramStart&) = delete;

    // The event's name for the new program of process `processId`.
    [[nodiscard]] static int EventName(DWORD processId, WideString& name);
    // In the new program: sets the event of this process if its old
    // program made one. 1 when it was set.
    static int AnnounceRunning();

    // Starts `program` in `directory` suspended, makes its event and lets
    // it run. 1 when it runs.
    [[nodiscard]] int Launch(const wchar_t* program, const wchar_t* directory);

    // Waits at most `timeout` milliseconds for the proof, ending early
    // (Stopped) when `stop` becomes non-zero.
    Verdict WaitForProof(DWORD timeout, const volatile LONG* stop);

    // Ends the process if it still runs, so that its files can be moved
    // back. A problem report it shows (a window that answers, on a thread
    // other than its main one, whose window a crash stops) may finish
    // first, for at most `reportPatience` or until `stop` is set.
    void End(DWORD reportPatience, const volatile LONG* stop);

    DWORD ProcessId() const { return processId_; }

private:
    bool HasEnded() const;
    bool ShowsReport() const;
    static BOOL CALLBACK FindReport(HWND window, LPARAM self);

    HANDLE process_ = nullptr;
    HANDLE proof_ = nullptr;
    DWORD processId_ = 0;
    DWORD mainThreadId_ = 0;
};
