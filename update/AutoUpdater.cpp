#include "update/AutoUpdater.h"

#include <shlobj.h>

#include "report/MachineId.h"
#include "services/ModulePath.h"
#include "services/ProgramLaunch.h"
#include "ui/VersionText.h"
#include "update/InstallPath.h"
#include "update/UpdateFiles.h"
#include "update/UpdateRules.h"

namespace {

const wchar_t MessageName[] = L"_C_AutoUpdate";
const wchar_t Agent[] = L"AutoUpdate";
// The answer is a small XML document; anything longer is not one.
const DWORD MostAnswerBytes = 1024 * 1024;
const wchar_t WrappedAnswerBase[] = L"Varnholt\\Updates\\xml";

int AnswerYes(int, void*, void*)
{
    return 1;
}

// The element the answer's paths start from, released before the document
// that holds it is closed.
class AnswerBase {
public:
    ~AnswerBase()
    {
        if (element_)
            element_->Release();
    }
    IUnknown*& Element() { return element_; }

private:
    IUnknown* element_ = nullptr;
};

BOOL CALLBACK CloseQuestionBox(HWND window, LPARAM owner)
{
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (lstrcmpW(name, L"#32770") != 0 || GetWindow(window, GW_OWNER) != (HWND)owner)
        return TRUE;
    PostMessageW(window, WM_COMMAND, IDNO, 0);
    return FALSE;
}

int DesktopFolder(WideString& folder)
{
    folder.Clear();
    if (!folder.Reserve(MAX_PATH + 1) ||
        FAILED(SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT,
                                folder.Buffer()))) {
        folder.Clear();
        return 0;
    }
    folder.Recompute();
    return !folder.IsEmpty();
}

} // namespace

AutoUpdater::~AutoUpdater()
{
    StopCheck();
    if (!worker_.IsRunning())
        return;
    // A WM_QUIT ended StopCheck's wait early, but the worker still uses this
    // object: wait on, keeping the messages going, and post the quit again.
    int quit = 0;
    WPARAM exitCode = 0;
    while (!worker_.Wait(INFINITE)) {
        MSG message;
        if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
            WaitForSingleObject(worker_.CompletionEvent(), INFINITE);
            break;
        }
        quit = 1;
        exitCode = message.wParam;
    }
    if (quit)
        PostQuitMessage((int)exitCode);
}

int AutoUpdater::StartCheck(const wchar_t* url, HWND owner, HKEY root, const wchar_t* keyPath,
                            const wchar_t* valueName, DWORD flags, const wchar_t* itemName,
                            const wchar_t* itemType)
{
    StopCheck();
    promptShowing_ = 0;
    InterlockedExchange(&stopping_, 0);
    url_.Assign(url);
    owner_ = owner;
    valueName_.Assign(valueName);
    flags_ = flags;
    itemName_.Assign(itemName);
    itemType_.Assign(itemType);
    if (!owner_ || url_.IsEmpty())
        return 0;
    settings_.Close();
    settings_.Open((flags_ & CheckTimeInIni) ? SettingsStore::StoreIni : SettingsStore::StoreRegistry,
                   root, keyPath);
    if (!IsDue())
        return 0;
    message_ = RegisterWindowMessageW(MessageName);
    if (!message_ || !hook_.Attach(owner_, &HookProcedure, this))
        return 0;
    if (flags_ & HookOnly)
        return 1;
    if (!worker_.Start(&Work, this)) {
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

void AutoUpdater::StopCheck()
{
    if (worker_.IsRunning()) {
        InterlockedExchange(&stopping_, 1);
        if (promptShowing_)
            EndOpenQuestion();
        worker_.Wait(INFINITE);
    }
    hook_.Detach();
}

// StopCheck runs inside the open question's message loop (a close that
// arrived while it was up). The worker waits in SendMessageW for the answer,
// and the box can only return after StopCheck has: so the worker is answered
// here, "not asked", and the box closed.
void AutoUpdater::EndOpenQuestion()
{
    if (InSendMessage())
        ReplyMessage(0);
    EnumThreadWindows(GetCurrentThreadId(), &CloseQuestionBox, (LPARAM)owner_);
}

DWORD AutoUpdater::Work(void* self)
{
    return ((AutoUpdater*)self)->Check();
}

DWORD AutoUpdater::Check()
{
    VersionNumbers local;
    ReadVersionNumbers(nullptr, local);
    WideString versionText;
    ProgramVersionText(nullptr, versionText);
    WideString machine, language, query, text;
    MachineId(MachineIdForUpdate, machine);
    UpdateLanguageName(language);
    if (!BuildUpdateQuery(url_.Text(), (flags_ & InventoryQuery) != 0, versionText.Text(),
                          machine.Text(), language.Text(), itemType_.Text(), itemName_.Text(),
                          query))
        return NoUpdate;
    // One byte more than an answer may have tells an oversized one.
    if (!http_.Get(query.Text(), Agent, text, MostAnswerBytes + 1, nullptr, &AnswerYes, nullptr) ||
        (DWORD)text.Length() > MostAnswerBytes)
        return NoUpdate;

    XmlDocument answer;
    if (!answer.Open(XmlNoValidation | XmlNoExternals) || !answer.LoadText(text.Text()))
        return NoUpdate;
    AnswerBase base;
    if (flags_ & InventoryQuery) {
        base.Element() = answer.FindOrCreatePath(WrappedAnswerBase);
        if (!base.Element())
            return NoUpdate;
    }
    WideString application;
    answer.ReadPath(L"update\\application", application, base.Element());
    DecodeLowBytesAsUtf8(application.Text(), application_);
    if (!ReadLocalized(answer, base.Element(), L"update\\info", language.Text(), info_) ||
        info_.IsEmpty())
        return NoUpdate;
    answer.ReadPath(L"update\\help", help_, base.Element());
    TrimBlanks(help_);
    WideString offeredText;
    VersionNumbers offered;
    if (!answer.ReadPath(L"update\\version", offeredText, base.Element()) ||
        !ParseOfferedVersion(offeredText.Text(), offered) || !IsNewerVersion(offered, local) ||
        WasDeclined(offeredText.Text()))
        return NoUpdate;

    int choice = Ask(AskInstall);
    if (choice == IDNO) {
        RememberDeclined(offeredText.Text());
        return Declined;
    }
    if (choice != IDYES)
        return Abandoned;
    return InstallAndRestart(answer, base.Element(), language.Text());
}

// `path` plus the user's language, else plus "en"; the text's bytes are
// UTF-8.
int AutoUpdater::ReadLocalized(XmlDocument& answer, IUnknown* base, const wchar_t* path,
                               const wchar_t* language, WideString& text)
{
    text.Clear();
    WideString localized, raw;
    if (!localized.Format(L"%s\\%s", path, language) ||
        !answer.ReadPath(localized.Text(), raw, base)) {
        if (!localized.Format(L"%s\\en", path) || !answer.ReadPath(localized.Text(), raw, base))
            return 0;
    }
    return DecodeLowBytesAsUtf8(raw.Text(), text);
}

DWORD AutoUpdater::InstallAndRestart(XmlDocument& answer, IUnknown* base,
                                     const wchar_t* language)
{
    WideString directory, desktop;
    if (!GetExecutableDirectory(directory))
        return InstallFailed;
    DesktopFolder(desktop);
    UpdateFiles files(http_, directory.Text(), desktop.Text());
    if (!files.Read(answer, base) || !files.Install())
        return InstallFailed;
    installer_ = files.InstallerPath();
    if (!ReadLocalized(answer, base, L"update\\restart", language, restart_))
        return Installed;
    if (!restart_.IsEmpty() && Ask(AskRestart) != IDYES)
        return Installed;
    return Restart(answer, base) ? Restarted : Installed;
}

// The program closes only when its successor has started.
int AutoUpdater::Restart(XmlDocument& answer, IUnknown* base)
{
    int started = 0;
    if (!installer_.IsEmpty()) {
        started = LaunchProgram(installer_.Text(), nullptr, nullptr, 0);
    } else {
        WideString directory, program, execute, relative;
        if (!GetExecutableDirectory(directory))
            return 0;
        answer.ReadPath(L"update\\files\\execute", execute, base);
        TrimBlanks(execute);
        if (execute.IsEmpty()) {
            if (!GetExecutablePath(program))
                return 0;
        } else if (!MakeSafeRelativePath(execute.Text(), relative) ||
                   !JoinInside(directory.Text(), relative.Text(), program)) {
            return 0;
        }
        started = LaunchProgram(program.Text(), nullptr, directory.Text(), 0);
    }
    if (!started)
        return 0;
    PostMessageW(owner_, WM_CLOSE, 0, 0);
    return 1;
}

int AutoUpdater::Ask(WPARAM question)
{
    if (stopping_)
        return 0;
    return (int)SendMessageW(owner_, message_, question, 0);
}

bool AutoUpdater::WasDeclined(const wchar_t* version)
{
    if (valueName_.IsEmpty())
        return false;
    WideString name, declined;
    return name.Format(L"%sVersion", valueName_.Text()) &&
           settings_.ReadText(name.Text(), declined) && declined == version;
}

void AutoUpdater::RememberDeclined(const wchar_t* version)
{
    WideString name;
    if (!valueName_.IsEmpty() && name.Format(L"%sVersion", valueName_.Text()))
        settings_.WriteText(name.Text(), version);
}

int AutoUpdater::HookProcedure(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT* result,
                               void* self)
{
    AutoUpdater* updater = (AutoUpdater*)self;
    if (message == updater->message_) {
        *result = updater->AskOnOwnerThread(wParam);
        return 1;
    }
    if (message == WM_HELP && updater->promptShowing_) {
        updater->OpenHelp();
        *result = TRUE;
        return 1;
    }
    return 0;
}

// Yes is IDYES, No is IDNO; 0 when the question was not asked or closed by
// StopCheck.
LRESULT AutoUpdater::AskOnOwnerThread(WPARAM question)
{
    if (stopping_ || promptShowing_)
        return 0;
    UINT style = MB_YESNO | MB_ICONQUESTION;
    if (question == AskInstall && !help_.IsEmpty())
        style |= MB_HELP;
    WideString caption = application_;
    if (caption.IsEmpty() && caption.Reserve(256)) {
        GetWindowTextW(owner_, caption.Buffer(), caption.Capacity() - 1);
        caption.Recompute();
    }
    promptShowing_ = 1;
    int choice = MessageBoxW(owner_, question == AskRestart ? restart_.Text() : info_.Text(),
                             caption.Text(), style);
    promptShowing_ = 0;
    if (stopping_)
        return 0;
    return choice == IDYES || choice == IDNO ? choice : 0;
}

// The help address comes from the network: only a web address goes to the
// shell, never a file or a command.
void AutoUpdater::OpenHelp()
{
    if (IsWebAddress(help_.Text()))
        LaunchProgram(help_.Text(), nullptr, nullptr, 0);
}
