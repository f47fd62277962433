#include "update/UpdateRecovery.h"

#include "services/ModulePath.h"
#include "update/FileJournal.h"
#include "update/InstallLock.h"

namespace {

// What tells the file at `path` from another: its size and last-write
// time, which a rename keeps.
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

} // namespace

int RecoverInterruptedUpdate(const wchar_t* directory)
{
    WideString own;
    if (!directory) {
        if (!GetExecutableDirectory(own))
            return 0;
        directory = own.Text();
    }
    InstallLock lock;
    return lock.TryAcquire(directory) && FileJournal::Recover(directory);
}

int RecoverAtStart()
{
    WideString program, directory;
    WIN32_FILE_ATTRIBUTE_DATA before;
    if (!GetExecutablePath(program) || !GetExecutableDirectory(directory) ||
        !GetFileAttributesExW(program.Text(), GetFileExInfoStandard, &before)) {
        RecoverInterruptedUpdate();
        return 1;
    }
    RecoverInterruptedUpdate(directory.Text());
    if (SameFile(before, program.Text()))
        return 1;
    return !StartInstead(program.Text(), directory.Text());
}
