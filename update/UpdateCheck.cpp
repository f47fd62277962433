#include "update/UpdateCheck.h"

#include <shlobj.h>

#include "services/MachineId.h"
#include "services/ModulePath.h"
#include "services/ProgramLaunch.h"
#include "update/AutoUpdater.h"
#include "update/FileJournal.h"
#include "update/InstallLock.h"
#include "update/ProgramStart.h"
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

bool SameVersion(const VersionNumbers& a, const VersionNumbers& b)
{
    return a.major == b.major && a.minor == b.minor;
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
    VersionNumbers local;
    ReadVersionNumbers(nullptr, local);
    WideString versionText;
    ProgramVersionText(nullptr, versionText);
    WideString machine, language, query, text;
    MachineId(MachineIdForUpdate, machine);
    UpdateLanguageName(language);
    // Only the maker's endpoint over TLS is asked.
    if (!BuildUpdateQuery(url_.Text(), (flags_ & AutoUpdater::InventoryQuery) != 0,
                          versionText.Text(), machine.Text(), language.Text(), itemType_.Text(),
                          itemName_.Text(), query) ||
        !IsHttpsAddress(query.Text()))
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
        !ParseOfferedVersion(offeredText.Text(), offered) || !IsNewerVersion(offered, local) ||
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
    if (!FileJournal::Recover(directory.Text()))
        return AutoUpdater::InstallFailed;
    // Another process may have installed while the question was open.
    VersionNumbers onDisk;
    if (!ReadFileVersionNumbers(program.Text(), onDisk) || !SameVersion(onDisk, local))
        return AutoUpdater::NoUpdate;

    ArmDeadline(InstallDeadline);
    FileJournal journal;
    files.ReportProgress(&Progress, this);
    int prepared = files.Prepare(journal, &stopped_);
    DisarmDeadline();
    PostMessageW(owner_, message_, AutoUpdater::ShowProgress, (LPARAM)-1);
    if (!prepared)
        return Undo(journal, IsStopped() ? AutoUpdater::Abandoned : AutoUpdater::InstallFailed);
    InterlockedExchange(&swapping_, 1);
    DWORD outcome;
    if (IsStopped())
        outcome = Undo(journal, AutoUpdater::Abandoned);
    else if (!journal.Swap() || !files.PlaceInstaller())
        outcome = Undo(journal, AutoUpdater::InstallFailed);
    else if (!hasRestart_ || (!restart_.IsEmpty() && Ask(AutoUpdater::AskRestart) != IDYES))
        outcome = Finish(journal, AutoUpdater::Installed);
    else
        outcome = Restart(files, journal);
    InterlockedExchange(&swapping_, 0);
    return outcome;
}

// A failed rollback is a failure of its own: the journal stays for the
// next start to go on with.
DWORD UpdateCheck::Undo(FileJournal& journal, DWORD outcome)
{
    return journal.Rollback() ? outcome : AutoUpdater::RollbackFailed;
}

// A working file that cannot be deleted yet stays in the journal, for the
// next start to delete; the new version is in place either way.
DWORD UpdateCheck::Finish(FileJournal& journal, DWORD outcome)
{
    journal.Finish();
    return outcome;
}

// The old program ends only when its successor runs. A successor that
// exits or does not come up is ended, the old files are put back, and the
// old program stays.
DWORD UpdateCheck::Restart(UpdateFiles& files, FileJournal& journal)
{
    WideString directory;
    if (!GetExecutableDirectory(directory))
        return Undo(journal, AutoUpdater::InstallFailed);
    UpdateStep(L"restart");
    if (*files.InstallerPath()) {
        // An installer runs on its own; the files it brought are in place.
        int started = LaunchProgram(files.InstallerPath(), nullptr, nullptr, 0);
        Finish(journal, AutoUpdater::Installed);
        if (!started)
            return AutoUpdater::Installed;
        RequestClose();
        return AutoUpdater::Restarted;
    }
    ProgramStart start;
    if (!start.Launch(files.NewProgramPath(), directory.Text()))
        return Undo(journal, AutoUpdater::InstallFailed);
    ProgramStart::Verdict verdict = start.WaitUntilUp(StartTimeout, SteadyTime, &stopped_);
    UpdateStep(L"started");
    if (verdict == ProgramStart::Running) {
        Finish(journal, AutoUpdater::Restarted);
        RequestClose();
        return AutoUpdater::Restarted;
    }
    start.Terminate();
    return Undo(journal, verdict == ProgramStart::Stopped ? AutoUpdater::Abandoned
                                                          : AutoUpdater::InstallFailed);
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
