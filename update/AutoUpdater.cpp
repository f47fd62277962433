#include "update/AutoUpdater.h"

#include <new>

#include "services/ProgramLaunch.h"
#include "update/UpdateCheck.h"
#include "update/UpdateRules.h"

namespace {

const wchar_t MessageName[] = L"_C_AutoUpdate";

// Where the box of the question being opened is noted; one question at a
// time is ever open.
HWND* AskingBox = nullptr;

} // namespace

AutoUpdater::~AutoUpdater()
{
    StopCheck();
}

int AutoUpdater::StartCheck(const wchar_t* url, HWND owner, HKEY root, const wchar_t* keyPath,
                            const wchar_t* valueName, DWORD flags, const wchar_t* itemName,
                            const wchar_t* itemType)
{
    StopCheck();
    promptShowing_ = 0;
    stopping_ = 0;
    abandoned_ = false;
    url_.Assign(url);
    owner_ = owner;
    valueName_.Assign(valueName);
    flags_ = flags;
    itemName_.Assign(itemName);
    itemType_.Assign(itemType);
    if (!owner_ || url_.IsEmpty())
        return 0;
    DWORD store = (flags_ & CheckTimeInIni) ? SettingsStore::StoreIni : SettingsStore::StoreRegistry;
    settings_.Close();
    settings_.Open(store, root, keyPath);
    if (!IsDue())
        return 0;
    message_ = RegisterWindowMessageW(MessageName);
    if (!message_ || !hook_.Attach(owner_, &HookProcedure, this))
        return 0;
    if (flags_ & HookOnly)
        return 1;
    UpdateCheckRequest request = {url_.Text(), owner_,      message_, flags_,  itemName_.Text(),
                                  itemType_.Text(), store, root,     keyPath, valueName_.Text()};
    check_ = new (std::nothrow) UpdateCheck(request);
    if (!check_) {
        hook_.Detach();
        return 0;
    }
    // One reference for the worker, which lets go of it when it ends.
    check_->AddRef();
    if (!worker_.Start(&Work, check_)) {
        check_->Release();
        LetGoOfCheck();
        hook_.Detach();
        return 0;
    }
    return 1;
}

// The time is written before the check runs, so a failed check waits a
// week as well.
int AutoUpdater::IsDue()
{
    if (valueName_.IsEmpty())
        return 1;
    DWORD last = (DWORD)settings_.ReadNumber(valueName_.Text(), 0);
    if (last == UpdateCheckSkipOnce) {
        settings_.WriteNumber(valueName_.Text(), 0);
        return 0;
    }
    DWORD now = CurrentUnixTime();
    if (!(flags_ & CheckNow) && !IsCheckDue(last, now))
        return 0;
    settings_.WriteNumber(valueName_.Text(), now);
    return 1;
}

DWORD AutoUpdater::Work(void* argument)
{
    UpdateCheck* check = (UpdateCheck*)argument;
    DWORD outcome = check->Run();
    check->Release();
    return outcome;
}

void AutoUpdater::StopCheck()
{
    if (worker_.IsRunning() && check_) {
        stopping_ = 1;
        check_->Stop();
        if (promptShowing_)
            EndOpenQuestion();
        // Renames under way are finished or undone before the window goes:
        // they are short, and the start of a successor is bounded.
        if (!worker_.Wait(StopPatience)) {
            DWORD start = GetTickCount();
            while (check_->IsSwapping() && GetTickCount() - start < SwapPatience &&
                   !worker_.Wait(100))
                WaitForSingleObject(worker_.CompletionEvent(), 100);
        }
        if (worker_.IsRunning()) {
            abandoned_ = true;
            check_->Abandon();
            worker_.Abandon();
        }
    }
    taskbar_.End();
    hook_.Detach();
    LetGoOfCheck();
}

void AutoUpdater::LetGoOfCheck()
{
    if (check_)
        check_->Release();
    check_ = nullptr;
}

// StopCheck runs inside the open question's message loop (a close that
// arrived while it was up). The worker waits in SendMessageW for the answer,
// and the box can only return after StopCheck has: so the worker is answered
// here, "not asked", and the box closed.
void AutoUpdater::EndOpenQuestion()
{
    if (InSendMessage())
        ReplyMessage(0);
    if (questionBox_ && IsWindow(questionBox_))
        PostMessageW(questionBox_, WM_COMMAND, IDNO, 0);
}

int AutoUpdater::HookProcedure(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                               void* self)
{
    AutoUpdater* updater = (AutoUpdater*)self;
    if (message == updater->message_) {
        *result = 0;
        if (wParam == ShowProgress) {
            if (lParam < 0)
                updater->taskbar_.End();
            else if (!updater->stopping_)
                updater->taskbar_.Show(updater->owner_, (int)lParam);
        } else if (wParam == CloseForRestart) {
            // A window that is closing already is not closed a second time.
            if (!updater->stopping_)
                PostMessageW(updater->owner_, WM_CLOSE, 0, 0);
        } else if (wParam == HideForRestart || wParam == ShowAgain) {
            updater->ShowOwner(wParam == ShowAgain ? SW_SHOW : SW_HIDE);
        } else {
            *result = updater->AskOnOwnerThread(wParam);
        }
        return 1;
    }
    if (message == WM_HELP && updater->promptShowing_) {
        updater->OpenHelp();
        *result = TRUE;
        return 1;
    }
    return 0;
}

// Notes the first dialog box made on this thread while a question opens:
// MessageBoxW does not tell its window.
LRESULT CALLBACK AutoUpdater::WatchForQuestionBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && AskingBox && !*AskingBox) {
        wchar_t name[16] = {};
        GetClassNameW((HWND)wParam, name, 16);
        if (lstrcmpW(name, L"#32770") == 0)
            *AskingBox = (HWND)wParam;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// While the new program proves itself, the old one is out of sight; it
// comes back when the new one failed.
void AutoUpdater::ShowOwner(int show)
{
    if (stopping_)
        return;
    ShowWindow(owner_, show);
    if (show == SW_SHOW)
        SetForegroundWindow(owner_);
}

// Yes is IDYES, No is IDNO (a notice: IDOK); 0 when the question was not
// asked or closed by StopCheck.
LRESULT AutoUpdater::AskOnOwnerThread(WPARAM question)
{
    if (stopping_ || promptShowing_ || !check_ ||
        (question != AskInstall && question != AskRestart && question != TellCannotInstall))
        return 0;
    UINT style = question == TellCannotInstall ? MB_OK | MB_ICONINFORMATION : MB_YESNO | MB_ICONQUESTION;
    if (question == AskInstall && !check_->Help().IsEmpty())
        style |= MB_HELP;
    WideString caption = check_->Application();
    if (caption.IsEmpty() && caption.Reserve(256)) {
        GetWindowTextW(owner_, caption.Buffer(), caption.Capacity() - 1);
        caption.Recompute();
    }
    // The check stays while its question is open, even if StopCheck lets go.
    UpdateCheck* check = check_;
    check->AddRef();
    promptShowing_ = 1;
    questionBox_ = nullptr;
    AskingBox = &questionBox_;
    HHOOK watch = SetWindowsHookExW(WH_CBT, &WatchForQuestionBox, nullptr, GetCurrentThreadId());
    const WideString& text = question == AskRestart          ? check->RestartText()
                             : question == TellCannotInstall ? check->Notice()
                                                             : check->Info();
    int choice = MessageBoxW(owner_, text.Text(), caption.Text(), style);
    if (watch)
        UnhookWindowsHookEx(watch);
    AskingBox = nullptr;
    questionBox_ = nullptr;
    promptShowing_ = 0;
    check->Release();
    if (stopping_)
        return 0;
    return choice == IDYES || choice == IDNO || choice == IDOK ? choice : 0;
}

// The help address comes from the network: only a web address goes to the
// shell, never a file or a command.
void AutoUpdater::OpenHelp()
{
    if (check_ && IsWebAddress(check_->Help().Text()))
        LaunchProgram(check_->Help().Text(), nullptr, nullptr, 0);
}
