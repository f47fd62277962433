#include "update/UpdateCheck.h"

#include <shlobj.h>

#include "services/MachineId.h"
#include "services/ModulePath.h"
#include "services/ProgramLaunch.h"
#include "update/AutoUpdater.h"
#include "update/InstallAccess.h"
#include "update/InstallLock.h"
#include "update/ProgramStart.h"
#include "update/UpdateNotice.h"
#include "update/UpdateFiles.h"
#include "update/UpdateRules.h"
#include "update/UpdateSignature.h"
#include "update/UpdateSteps.h"

namespace {

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

UpdateCheck::UpdateCheck(const UpdateCheckRequest& request)
    : owner_(request.owner), message_(request.message), flags_(request.flags), url_(request.url),
      itemName_(request.itemName), itemType_(request.itemType), valueName_(request.valueName)
{
    settings_.Open(request.store, request.root, request.keyPath);
    // The proxy's credentials dialog, if a proxy asks, belongs to the window.
    http_.SetDialogOwner(owner_);
}

UpdateCheck::~UpdateCheck()
{
    DisarmDeadline();
}

void UpdateCheck::Release()
{
    if (InterlockedDecrement(&references_) == 0)
        delete this;
}

void UpdateCheck::Stop()
{
    InterlockedExchange(&stopped_, 1);
    http_.Cancel();
}

void UpdateCheck::Abandon()
{
    Stop();
    journal_.Abandon();
}

void CALLBACK UpdateCheck::DeadlinePassed(void* self, BOOLEAN)
{
    ((UpdateCheck*)self)->Stop();
}

void UpdateCheck::ArmDeadline(DWORD milliseconds)
{
    DisarmDeadline();
    if (!CreateTimerQueueTimer(&deadline_, nullptr, &DeadlinePassed, this, milliseconds, 0,
                               WT_EXECUTEONLYONCE))
        deadline_ = nullptr;
}

// Waits for a running timer callback, so none outlives the check.
void UpdateCheck::DisarmDeadline()
{
    if (deadline_)
        DeleteTimerQueueTimer(nullptr, deadline_, INVALID_HANDLE_VALUE);
    deadline_ = nullptr;
}

DWORD UpdateCheck::Run()
{
    DWORD outcome = Check();
    DisarmDeadline();
    return outcome;
}

DWORD UpdateCheck::Check()
{
    // A program that cannot say which version it is cannot tell a newer one.
    VersionNumbers local;
    if (!ReadProgramVersion(nullptr, local))
        return AutoUpdater::NoUpdate;
    WideString versionText;
    ProgramVersionText(nullptr, versionText);
    WideString machine, language, query, text;
    MachineId(MachineIdForUpdate, machine);
    UpdateLanguageName(language);
    // Only the maker's endpoint over TLS is asked, and by a test build only
    // a test endpoint.
    if (!BuildUpdateQuery(url_.Text(), (flags_ & AutoUpdater::InventoryQuery) != 0,
                          versionText.Text(), machine.Text(), language.Text(), itemType_.Text(),
                          itemName_.Text(), query) ||
        !IsAllowedEndpoint(query.Text()))
        return AutoUpdater::NoUpdate;
    ArmDeadline(AnswerDeadline);
    // One byte more than an answer may have tells an oversized one.
    int fetched = http_.Get(query.Text(), Agent, text, MostAnswerBytes + 1, nullptr, &AnswerYes,
                            nullptr);
    DisarmDeadline();
    if (IsStopped())
        return AutoUpdater::Abandoned;
    if (!fetched || (DWORD)text.Length() > MostAnswerBytes)
        return AutoUpdater::NoUpdate;

    XmlDocument answer;
    if (!answer.Open(XmlNoValidation | XmlNoExternals) || !answer.LoadText(text.Text()))
        return AutoUpdater::NoUpdate;
    AnswerBase base;
    if (flags_ & AutoUpdater::InventoryQuery) {
        base.Element() = answer.FindOrCreatePath(WrappedAnswerBase);
        if (!base.Element())
            return AutoUpdater::NoUpdate;
    }
    WideString application;
    answer.ReadPath(L"update\\application", application, base.Element());
    DecodeLowBytesAsUtf8(application.Text(), application_);
    if (!ReadLocalized(answer, base.Element(), L"update\\info", language.Text(), info_) ||
        info_.IsEmpty())
        return AutoUpdater::NoUpdate;
    answer.ReadPath(L"update\\help", help_, base.Element());
    TrimBlanks(help_);
    hasRestart_ = ReadLocalized(answer, base.Element(), L"update\\restart", language.Text(),
                                restart_) != 0;
    WideString offeredText;
    VersionNumbers offered;
    if (!answer.ReadPath(L"update\\version", offeredText, base.Element()) ||
        !ParseVersionText(offeredText.Text(), offered) || !IsNewerVersion(offered, local) ||
        WasDeclined(offeredText.Text()))
        return AutoUpdater::NoUpdate;

    // Nothing is offered that the maker did not sign for this version.
    WideString directory, desktop, program, programName;
    if (!GetExecutableDirectory(directory) || !GetExecutablePath(program))
        return AutoUpdater::NoUpdate;
    FileNameOf(program.Text(), programName);
    DesktopFolder(desktop);
    UpdateFiles files(http_, directory.Text(), desktop.Text());
    if (!files.Read(answer, base.Element()) ||
        !files.Check(offeredText.Text(), programName.Text(), UpdatePublicKeys, UpdatePublicKeyCount))
        return AutoUpdater::NoUpdate;
    // A folder this user may not change is found before anything is fetched.
    if (files.HasProgramFiles() && !MayInstallInto(directory.Text(), program.Text()))
        return RefuseInstall(offeredText.Text(), directory.Text());

    int choice = Ask(AutoUpdater::AskInstall);
    if (choice == IDNO) {
        RememberDeclined(offeredText.Text());
        return AutoUpdater::Declined;
    }
    if (choice != IDYES)
        return AutoUpdater::Abandoned;
    return Install(files, local);
}

// `path` plus the user's language, else plus "en"; the text's bytes are
// UTF-8.
int UpdateCheck::ReadLocalized(XmlDocument& answer, IUnknown* base, const wchar_t* path,
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

int UpdateCheck::IsAllowedEndpoint(const wchar_t* query) const
{
    return IsHttpsAddress(query) && (!UpdateAcceptsTestKeys || IsTestEndpoint(query));
}

// Told once: the version counts as declined, so it is not offered again.
DWORD UpdateCheck::RefuseInstall(const wchar_t* version, const wchar_t* directory)
{
    if (!UpdateNoticeText(NoticeCannotInstall, directory, version, notice_))
        return AutoUpdater::NoUpdate;
    Tell(AutoUpdater::TellCannotInstall);
    if (IsStopped())
        return AutoUpdater::Abandoned;
    RememberDeclined(version);
    return AutoUpdater::CannotInstall;
}

DWORD UpdateCheck::Install(UpdateFiles& files, const VersionNumbers& local)
{
    WideString directory, program;
    if (!GetExecutableDirectory(directory) || !GetExecutablePath(program))
        return AutoUpdater::InstallFailed;
    // One installation per folder: a second process that was asked at the
    // same time gives way, and what a crashed one left is put right first.
    InstallLock lock;
    if (!lock.TryAcquire(directory.Text()))
        return AutoUpdater::Abandoned;
    if (!FileJournal::Recover(directory.Text(), FileJournal::BeforeInstall))
        return AutoUpdater::InstallFailed;
    // Another process may have installed while the question was open.
    VersionNumbers onDisk;
    if (!ReadProgramVersion(program.Text(), onDisk) || !IsSameVersion(onDisk, local))
        return AutoUpdater::NoUpdate;

    ArmDeadline(InstallDeadline);
    files.ReportProgress(&Progress, this);
    int prepared = files.Prepare(journal_, &stopped_);
    DisarmDeadline();
    PostMessageW(owner_, message_, AutoUpdater::ShowProgress, (LPARAM)-1);
    if (!prepared)
        return Undo(IsStopped() ? AutoUpdater::Abandoned : AutoUpdater::InstallFailed);
    InterlockedExchange(&swapping_, 1);
    DWORD outcome = Swap(files);
    InterlockedExchange(&swapping_, 0);
    return outcome;
}

// The new version is in place on trial from the swap on: only a new
// program that proves it runs, started here or at a later start, makes it
// final. Without a restart it stays on trial for the starts to count.
DWORD UpdateCheck::Swap(UpdateFiles& files)
{
    if (IsStopped())
        return Undo(AutoUpdater::Abandoned);
    if (!journal_.Swap() || !files.PlaceInstaller())
        return Undo(AutoUpdater::InstallFailed);
    if (!hasRestart_ || (!restart_.IsEmpty() && Ask(AutoUpdater::AskRestart) != IDYES))
        return EndOnTrial(AutoUpdater::Installed);
    if (*files.InstallerPath()) {
        // An installer runs on its own; the program files it came with are
        // on trial like any others.
        UpdateStep(L"restart");
        if (!files.RunInstaller())
            return EndOnTrial(AutoUpdater::Installed);
        EndOnTrial(AutoUpdater::Installed);
        RequestClose();
        return AutoUpdater::Restarted;
    }
    return Restart(files);
}

// A failed rollback is a failure of its own: the journal stays for the
// next start to go on with.
DWORD UpdateCheck::Undo(DWORD outcome)
{
    return journal_.Rollback() ? outcome : AutoUpdater::RollbackFailed;
}

// An update of an installer alone has nothing on trial and is done.
DWORD UpdateCheck::EndOnTrial(DWORD outcome)
{
    if (journal_.PlannedMoves())
        journal_.LeaveOnTrial();
    else
        journal_.Finish();
    return outcome;
}

// The old program, its window hidden, starts the new one and waits for its
// proof. A new program that does not give it in time is ended (after a
// problem report it shows), the old files are put back and the old
// program shows its window again.
DWORD UpdateCheck::Restart(UpdateFiles& files)
{
    WideString directory;
    if (!GetExecutableDirectory(directory))
        return Undo(AutoUpdater::InstallFailed);
    UpdateStep(L"restart");
    Tell(AutoUpdater::HideForRestart);
    ProgramStart start;
    ProgramStart::Verdict verdict = ProgramStart::Failed;
    if (start.Launch(files.NewProgramPath(), directory.Text())) {
        UpdateStep(L"wait for the new program");
        verdict = start.WaitForProof(ProgramStart::ProofTimeout, &stopped_);
    }
    UpdateStep(L"started");
    if (verdict == ProgramStart::Running) {
        journal_.Finish();
        RequestClose();
        return AutoUpdater::Restarted;
    }
    // The window closes meanwhile: the new program runs on, on trial.
    if (verdict == ProgramStart::Stopped)
        return EndOnTrial(AutoUpdater::Installed);
    start.End(ProgramStart::ReportPatience, &stopped_);
    DWORD outcome = Undo(AutoUpdater::InstallFailed);
    Tell(AutoUpdater::ShowAgain);
    return outcome;
}

// Posted, not sent: the window decides on its own thread whether it is
// still open and not already closing.
void UpdateCheck::RequestClose()
{
    PostMessageW(owner_, message_, AutoUpdater::CloseForRestart, 0);
}

void UpdateCheck::Progress(int permille, void* self)
{
    UpdateCheck* check = (UpdateCheck*)self;
    PostMessageW(check->owner_, check->message_, AutoUpdater::ShowProgress, (LPARAM)permille);
}

int UpdateCheck::Ask(WPARAM question)
{
    if (IsStopped())
        return 0;
    return (int)SendMessageW(owner_, message_, question, 0);
}

// Sent, so that the window has done it when the check goes on.
void UpdateCheck::Tell(WPARAM message)
{
    if (!IsStopped())
        SendMessageW(owner_, message_, message, 0);
}

bool UpdateCheck::WasDeclined(const wchar_t* version)
{
    if (valueName_.IsEmpty())
        return false;
    WideString name, declined;
    return name.Format(L"%sVersion", valueName_.Text()) &&
           settings_.ReadText(name.Text(), declined) && declined == version;
}

void UpdateCheck::RememberDeclined(const wchar_t* version)
{
    WideString name;
    if (!valueName_.IsEmpty() && name.Format(L"%sVersion", valueName_.Text()))
        settings_.WriteText(name.Text(), version);
}
