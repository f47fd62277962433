#pragma once

#include <windows.h>

#include "services/SettingsStore.h"
#include "services/WideString.h"
#include "ui/SubclassHook.h"
#include "update/TaskbarProgress.h"
#include "update/WorkerThread.h"

class UpdateCheck;

// The weekly update check: asks the maker's endpoint whether a newer
// version exists, asks the user, brings the new files in beside the running
// executable and restarts the program. The network work runs on a worker
// thread (UpdateCheck), which reaches the user only through the registered
// message "_C_AutoUpdate" to the owner window; the "auup" hook on that
// window asks the questions, shows the download's progress on the taskbar
// button and closes the window for the restart, all on the window's own
// thread.
class AutoUpdater {
public:
    // StartCheck's flags.
    enum Flag : DWORD {
        InventoryQuery = 0x1, // the inventory form of the query, and its wrapped answer
        HookOnly = 0x2,       // install the window hook, start no check
        CheckTimeInIni = 0x4, // keep the check time in an INI file beside the program
        CheckNow = 0x8,       // check whatever the time of the last check
    };

    // How a check ended: the worker's result.
    enum Outcome : DWORD {
        NotChecked = 0,  // no check ran yet
        NoUpdate = 1,    // nothing offered: no answer, no newer version, already offered,
                         // or an answer the maker did not sign
        Declined = 2,    // the user said No; the version is not offered again
        Abandoned = 3,   // the question could not be asked, the check was stopped, or
                         // another process was installing; nothing was changed
        InstallFailed = 4, // the files could not be brought in, or the new program did
                           // not start; the old files are back
        Installed = 5,   // the new files are in place on trial (ProgramStart), the
                         // program was not restarted or its successor not yet proved
        Restarted = 6,   // the new files are in place and the new program has proved
                         // that it runs (or an installer runs)
        RollbackFailed = 7, // the old files could not all be put back yet; the next
                            // start finishes the rollback
        CannotInstall = 8,  // a newer version exists, but this user may not change the
                            // program's folder: told once, not offered again
    };

    // wParam of the registered message.
    static const WPARAM AskInstall = 0;        // sent; Yes is IDYES, No IDNO
    static const WPARAM AskRestart = 1;        // sent; the same
    static const WPARAM ShowProgress = 2;      // posted; lParam permille, -1 at the end
    static const WPARAM CloseForRestart = 3;   // posted; the successor runs
    static const WPARAM HideForRestart = 4;    // sent; the successor is about to start
    static const WPARAM ShowAgain = 5;         // sent; the successor failed, the old runs on
    static const WPARAM TellCannotInstall = 6; // sent; the folder may not be changed

    // A close waits this long for the check to end, and then as long again
    // as it takes the renames (or their undoing) under way to end. A check
    // let go of then removes what it prepared before the close returns.
    static const DWORD StopPatience = 5000;
    static const DWORD SwapPatience = 60000;

    AutoUpdater() = default;
    // Stops a running check, as StopCheck does.
    ~AutoUpdater();
    AutoUpdater(const AutoUpdater&) = delete;
    AutoUpdater& operator=(const AutoUpdater&) = delete;

    // Starts a check of `url` for the window `owner` when one is due: at most
    // once a week by the time kept in `valueName` under `root`\`keyPath`
    // (none: every time). `itemName` and `itemType` go into the inventory
    // query. 1 when the hook is installed and (unless HookOnly) the worker
    // runs; 0 when no check is due or it could not start.
    int StartCheck(const wchar_t* url, HWND owner, HKEY root, const wchar_t* keyPath,
                   const wchar_t* valueName, DWORD flags, const wchar_t* itemName,
                   const wchar_t* itemType);
    // Stops a running check and removes the hook, dispatching the calling
    // thread's messages meanwhile so that an open question is answered (it
    // counts as not answered). The request in progress is cancelled; a
    // download after Yes is abandoned with nothing changed, while renames
    // that have begun are finished or undone. Returns within StopPatience
    // (plus SwapPatience while files are being renamed); a check that is
    // still running then is let go: its working files and journal are
    // removed (unless its renames began) and it changes nothing more.
    void StopCheck();

    bool IsChecking() const { return worker_.IsRunning(); }
    // Waits at most `timeout` milliseconds, dispatching messages; 1 when no
    // check runs any more.
    [[nodiscard]] int WaitForCheck(DWORD timeout) { return worker_.Wait(timeout); }
    // What the last check came to.
    DWORD LastOutcome() const { return abandoned_ ? (DWORD)Abandoned : worker_.Result(); }
    UINT Message() const { return message_; }

private:
    static DWORD Work(void* check);
    static int HookProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             LRESULT* result, void* self);
    static LRESULT CALLBACK WatchForQuestionBox(int code, WPARAM wParam, LPARAM lParam);

    int IsDue();
    void LetGoOfCheck();
    LRESULT AskOnOwnerThread(WPARAM question);
    void ShowOwner(int show);
    void OpenHelp();
    void EndOpenQuestion();

    HWND owner_ = nullptr;
    WideString url_;
    UINT message_ = 0;
    TaggedSubclassHook<SubclassTag("auup")> hook_;
    WideString itemName_;
    WideString itemType_;
    int promptShowing_ = 0;
    // The box of the open question, so that only it is closed.
    HWND questionBox_ = nullptr;
    // Set while StopCheck runs: no more questions, no close for a restart.
    int stopping_ = 0;
    bool abandoned_ = false;
    WideString valueName_;
    DWORD flags_ = 0;
    SettingsStore settings_;
    TaskbarProgress taskbar_;
    UpdateCheck* check_ = nullptr;
    WorkerThread worker_;
};
