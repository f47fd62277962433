#pragma once

#include <windows.h>

#include "services/HttpClient.h"
#include "services/SettingsStore.h"
#include "services/WideString.h"
#include "ui/SubclassHook.h"
#include "update/WorkerThread.h"

// The weekly update check: asks the maker's endpoint whether a newer
// version exists, asks the user, brings the new files in beside the running
// executable and restarts the program. The network work runs on a worker
// thread, which reaches the user only by sending the registered message
// "_C_AutoUpdate" to the owner window; the "auup" hook on that window asks
// the questions on the window's own thread.
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
        NoUpdate = 1,    // nothing offered: no answer, no newer version, already offered
        Declined = 2,    // the user said No; the version is not offered again
        Abandoned = 3,   // the question could not be asked or the check was stopped
        InstallFailed = 4, // the files could not be brought in; nothing was changed
        Installed = 5,   // the new files are in place, the program was not restarted
        Restarted = 6,   // the new files are in place and the program restarts
    };

    // wParam of the registered message: which question.
    static const WPARAM AskInstall = 0;
    static const WPARAM AskRestart = 1;

    AutoUpdater() = default;
    // Waits for a running check, as StopCheck does.
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
    // Waits without a time limit for a running check, dispatching the
    // calling thread's messages so that an open question is answered (it
    // counts as not answered), then removes the hook.
    void StopCheck();

    bool IsChecking() const { return worker_.IsRunning(); }
    // Waits at most `timeout` milliseconds, dispatching messages; 1 when no
    // check runs any more.
    int WaitForCheck(DWORD timeout) { return worker_.Wait(timeout); }
    // What the last check came to.
    DWORD LastOutcome() const { return worker_.Result(); }
    UINT Message() const { return message_; }

private:
    static DWORD Work(void* self);
    static int HookProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             LRESULT* result, void* self);

    int IsDue();
    DWORD Check();
    int ReadLocalized(XmlDocument& answer, IUnknown* base, const wchar_t* path,
                      const wchar_t* language, WideString& text);
    DWORD InstallAndRestart(XmlDocument& answer, IUnknown* base, const wchar_t* language);
    int Ask(WPARAM question);
    int Restart(XmlDocument& answer, IUnknown* base);
    void RememberDeclined(const wchar_t* version);
    bool WasDeclined(const wchar_t* version);

    LRESULT AskOnOwnerThread(WPARAM question);
    void OpenHelp();
    void EndOpenQuestion();

    HWND owner_ = nullptr;
    WideString url_;
    UINT message_ = 0;
    TaggedSubclassHook<SubclassTag("auup")> hook_;
    WideString application_;
    WideString info_;
    WideString restart_;
    WideString help_;
    WideString installer_;
    WideString itemName_;
    WideString itemType_;
    HttpClient http_;
    int promptShowing_ = 0;
    // Set while StopCheck waits: no more questions are shown.
    volatile LONG stopping_ = 0;
    WideString valueName_;
    DWORD flags_ = 0;
    SettingsStore settings_;
    WorkerThread worker_;
};
