#pragma once

#include <windows.h>

#include <string>

#include "common/WindowProbe.h"
#include "report/ProblemReport.h"

// SendProblemReport running on a thread of its own, the way a crashing
// thread runs it, while the test drives its dialog from outside through
// the dialog's real messages.
class ReportSession {
public:
    static const DWORD Patience = 30000; // ms; the machine is shared and slow
    static const int StillRunning = -1000;

    ReportSession(const ProblemReportSettings& settings, const std::wstring& dumpPath,
                  const std::wstring& textPath);
    // A dialog that is still open is cancelled first.
    ~ReportSession();
    ReportSession(const ReportSession&) = delete;
    ReportSession& operator=(const ReportSession&) = delete;

    // The dialog once it is up and initialised, nullptr when none came.
    HWND WaitForDialog(DWORD timeout = Patience);
    // SendProblemReport's result, StillRunning when it did not return in time.
    int WaitForResult(DWORD timeout = Patience);

    HWND Dialog() const { return dialog_; }
    // Dialogs created on the session's thread so far, shown or not.
    int DialogsCreated() const { return dialogsCreated_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    // The control of the dialog's thread that has the keyboard focus.
    HWND Focus() const;
    DWORD ThreadId() const { return threadId_; }

private:
    static DWORD WINAPI Routine(void* self);
    static LRESULT CALLBACK OnCreation(int code, WPARAM wParam, LPARAM lParam);

    ProblemReportSettings settings_;
    std::wstring host_, path_, program_, extra_;
    std::wstring dumpPath_, textPath_;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    volatile LONG result_ = StillRunning;
    volatile LONG dialogsCreated_ = 0;
    HWND dialog_ = nullptr;
};

// The SysLink child of `dialog` placed over the control `id`, nullptr when none.
HWND LinkOver(HWND dialog, int id);
