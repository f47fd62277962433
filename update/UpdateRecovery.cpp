#include "update/UpdateRecovery.h"

#include <windows.h>

#include "services/ModulePath.h"
#include "update/FileJournal.h"
#include "update/InstallLock.h"
#include "update/ProgramStart.h"
#include "update/UpdateNotice.h"

namespace {

// The running program's file as it was at the start: a rename keeps a
// file's size and last-write time, and the journal names the new files
// by them.
struct StartedFrom {
    bool known = false;
    WideString directory;
    WIN32_FILE_ATTRIBUTE_DATA file;
};

StartedFrom Start;

bool SameFile(const WIN32_FILE_ATTRIBUTE_DATA& before, const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA now;
    return GetFileAttributesExW(path, GetFileExInfoStandard, &now) &&
           now.nFileSizeHigh == before.nFileSizeHigh && now.nFileSizeLow == before.nFileSizeLow &&
           CompareFileTime(&now.ftLastWriteTime, &before.ftLastWriteTime) == 0;
}

// Started directly rather than through the shell, which would wait for the
// new process to be ready: this one must end at once, so that the working
// file it runs from can go.
int StartInstead(const wchar_t* program, const wchar_t* directory)
{
    WideString command;
    if (!command.Format(L"\"%s\"", program))
        return 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, command.Buffer(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

int Recover(const wchar_t* directory, FileJournal::Notice* notice)
{
    InstallLock lock;
    return lock.TryAcquire(directory) &&
           FileJournal::Recover(directory, FileJournal::AtStart, notice);
}

// Before the main window there is no owner: the box stands on its own.
void Tell(FileJournal::Notice notice, const wchar_t* directory)
{
    WideString text;
    bool told = notice == FileJournal::RecordRejected
                    ? UpdateNoticeText(NoticeRecordRejected, directory, FileJournal::RejectedName, text)
                : notice == FileJournal::RecoveryStuck
                    ? UpdateNoticeText(NoticeRecoveryStuck, directory, nullptr, text)
                    : false;
    if (told)
        MessageBoxW(nullptr, text.Text(), UpdateNoticeCaption, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

} // namespace

int RecoverAtStart()
{
    WideString program;
    if (!GetExecutablePath(program) || !GetExecutableDirectory(Start.directory) ||
        !GetFileAttributesExW(program.Text(), GetFileExInfoStandard, &Start.file)) {
        if (!Start.directory.IsEmpty())
            Recover(Start.directory.Text(), nullptr);
        return 1;
    }
    Start.known = true;
    FileJournal::Notice notice = FileJournal::NothingToTell;
    Recover(Start.directory.Text(), &notice);
    Tell(notice, Start.directory.Text());
    if (SameFile(Start.file, program.Text()))
        return 1;
    return !StartInstead(program.Text(), Start.directory.Text());
}

void ConfirmProgramRuns()
{
    ProgramStart::AnnounceRunning();
    InstallLock lock;
    if (!Start.known || !lock.TryAcquire(Start.directory.Text()))
        return;
    FileJournal::PassTrial(Start.directory.Text(),
                           ((unsigned long long)Start.file.nFileSizeHigh << 32) | Start.file.nFileSizeLow,
                           ((unsigned long long)Start.file.ftLastWriteTime.dwHighDateTime << 32) |
                               Start.file.ftLastWriteTime.dwLowDateTime);
}
