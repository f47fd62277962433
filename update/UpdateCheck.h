#pragma once

#include <windows.h>
#include <unknwn.h>

#include "services/HttpClient.h"
#include "services/SettingsStore.h"
#include "services/WideString.h"
#include "services/XmlDocument.h"
#include "ui/VersionText.h"
#include "update/FileJournal.h"

class UpdateFiles;

// What the AutoUpdater hands one check.
struct UpdateCheckRequest {
    const wchar_t* url;
    HWND owner;
    UINT message;   // the registered "_C_AutoUpdate"
    DWORD flags;    // AutoUpdater::Flag
    const wchar_t* itemName;
    const wchar_t* itemType;
    DWORD store;    // SettingsStore back end of the declined version
    HKEY root;
    const wchar_t* keyPath;
    const wchar_t* valueName;
};

// One run of the update check on its worker thread: the request, the
// answer, the questions and the installation, with everything the worker
// uses kept in this object, which the AutoUpdater and the worker share and
// the last of them frees. A window that closes waits only a bounded time:
// Windows ends a blocked WinINet call when its handle is closed, but Wine's
// WinINet finishes a blocked read first, so the AutoUpdater may have to let
// go of a check that still waits on the network. The check then finds
// itself stopped, changes nothing more, and what it left is recovered at
// the next start.
class UpdateCheck {
public:
    explicit UpdateCheck(const UpdateCheckRequest& request);
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    void AddRef() { InterlockedIncrement(&references_); }
    void Release();

    // The worker routine: an AutoUpdater::Outcome.
    DWORD Run();

    // From any thread: the check asks nothing more, cancels its request in
    // progress and abandons whatever it has not begun to swap.
    void Stop();
    // From the thread that lets go of a check still running: what it
    // prepared beside the program (working files, new folders, the
    // journal) is removed now, before the process ends, unless its renames
    // began; nothing of it changes anything afterwards.
    void Abandon();
    bool IsStopped() const { return stopped_ != 0; }
    // While the program's files are being renamed, undone or restarted: a
    // window that closes waits for this to end.
    bool IsSwapping() const { return swapping_ != 0; }

    // What the questions show, read on the owner's thread while the worker
    // waits for the answer.
    const WideString& Application() const { return application_; }
    const WideString& Info() const { return info_; }
    const WideString& RestartText() const { return restart_; }
    const WideString& Help() const { return help_; }
    // Why the offered version cannot be installed here.
    const WideString& Notice() const { return notice_; }

private:
    // How long a check may take: asking the endpoint, and then bringing the
    // files in after the user said Yes.
    static const DWORD AnswerDeadline = 2 * 60 * 1000;
    static const DWORD InstallDeadline = 30 * 60 * 1000;

    ~UpdateCheck();
    static void CALLBACK DeadlinePassed(void* self, BOOLEAN);
    static void Progress(int permille, void* self);

    DWORD Check();
    int ReadLocalized(XmlDocument& answer, IUnknown* base, const wchar_t* path,
                      const wchar_t* language, WideString& text);
    int IsAllowedEndpoint(const wchar_t* query) const;
    DWORD RefuseInstall(const wchar_t* version, const wchar_t* directory);
    DWORD Install(UpdateFiles& files, const VersionNumbers& local);
    DWORD Swap(UpdateFiles& files);
    DWORD Restart(UpdateFiles& files);
    DWORD Undo(DWORD outcome);
    DWORD EndOnTrial(DWORD outcome);
    int Ask(WPARAM question);
    void Tell(WPARAM message);
    void RequestClose();
    bool WasDeclined(const wchar_t* version);
    void RememberDeclined(const wchar_t* version);
    void ArmDeadline(DWORD milliseconds);
    void DisarmDeadline();

    volatile LONG references_ = 1;
    volatile LONG stopped_ = 0;
    volatile LONG swapping_ = 0;
    HWND owner_;
    UINT message_;
    DWORD flags_;
    WideString url_;
    WideString itemName_;
    WideString itemType_;
    WideString valueName_;
    SettingsStore settings_;
    HttpClient http_;
    HANDLE deadline_ = nullptr;
    WideString application_;
    WideString info_;
    WideString restart_;
    bool hasRestart_ = false;
    WideString help_;
    WideString notice_;
    // Shared with a window that may let go of the check (Abandon).
    FileJournal journal_;
};
