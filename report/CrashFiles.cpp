#include "report/CrashFiles.h"

#include <wchar.h>

#include "report/CrashText.h"
#include "services/ModulePath.h"

namespace {

const wchar_t* const Suffixes[2] = {L"_Debug.dmp", L"_Debug.txt"};
const wchar_t* const TemporarySuffixes[2] = {L".part", L".rescue"};

// `first`, `second` and `third` joined; empty when it does not fit or
// `first` is empty.
void JoinInto(wchar_t* target, int size, const wchar_t* first, const wchar_t* second,
              const wchar_t* third = L"")
{
    target[0] = 0;
    size_t length = wcslen(first) + wcslen(second) + wcslen(third);
    if (length >= (size_t)size || !*first)
        return;
    wcscpy(target, first);
    wcscat(target, second);
    wcscat(target, third);
}

const wchar_t PendingSuffix[] = L"_Debug.pending";

// As anonymous data only when the file names neither the user nor the
// profile; otherwise the system sends it only with the user's consent to more.
void RegisterWithErrorReporting(const wchar_t* path, bool anonymous)
{
    const int WerRegFileTypeOther = 2;
    const DWORD WerFileAnonymousData = 2;
    if (ReportApi().werRegisterFile)
        ReportApi().werRegisterFile(path, WerRegFileTypeOther,
                                    anonymous ? WerFileAnonymousData : 0);
}

bool Exists(const wchar_t* path)
{
    return *path && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// An older file of this name is gone (or there was none).
bool MadeRoomFor(const wchar_t* path)
{
    return GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES || DeleteFileW(path);
}

} // namespace

void CrashFiles::ComputeNames()
{
    WideString directory, name;
    bool known = GetExecutableDirectory(directory) && GetExecutableBaseName(name);
    if (!known)
        directory.Clear();
    JoinInto(executableDirectory_, PathMax, directory.Text(), L"");
    wchar_t temporary[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH)
        temporary[0] = 0;
    JoinInto(pendingNames_[0], PathMax, directory.Text(), known ? name.Text() : L"",
             PendingSuffix);
    JoinInto(pendingNames_[1], PathMax, temporary, known ? name.Text() : L"MiniDump",
             PendingSuffix);
    for (int kind = 0; kind < 2; ++kind) {
        JoinInto(names_[0][kind], PathMax, directory.Text(), known ? name.Text() : L"",
                 Suffixes[kind]);
        JoinInto(names_[1][kind], PathMax, temporary, known ? name.Text() : L"MiniDump",
                 Suffixes[kind]);
        for (int place = 0; place < Places; ++place) {
            for (int writer = 0; writer < 2; ++writer)
                JoinInto(temporaryNames_[place][kind][writer], PathMax, names_[place][kind],
                         TemporarySuffixes[writer]);
        }
    }
}

void CrashFiles::Begin()
{
    committed_[Dump] = committed_[Text] = 0;
    InterlockedExchange(&state_, Capturing);
}

HANDLE CrashFiles::Create(Kind kind, Writer writer)
{
    for (int place = 0; place < Places; ++place) {
        const wchar_t* temporary = TemporaryName(place, kind, writer);
        const wchar_t* name = names_[place][kind];
        if (!*temporary || IsFolder(name))
            continue;
        // The capture leaves an older file to its rename: removing it now
        // could remove what the crashing thread wrote after giving up on
        // this capture.
        if (writer == Rescue && !MadeRoomFor(name))
            continue;
        // Shared for deletion too: the crashing thread, giving up on a
        // capture that stalled with its files open, removes them.
        HANDLE file = CreateFileW(temporary, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            place_[kind][writer] = place;
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

int CrashFiles::Commit(Kind kind, Writer writer, HANDLE file, bool anonymous)
{
    CloseHandle(file);
    int place = place_[kind][writer];
    const wchar_t* temporary = TemporaryName(place, kind, writer);
    bool allowed = writer == Capture
                       ? InterlockedCompareExchange(&state_, Committing, Capturing) == Capturing
                       : state_ == Abandoned;
    if (!allowed) {
        Remove(temporary);
        return 0;
    }
    const wchar_t* name = names_[place][kind];
    int committed = MoveFileExW(temporary, name, MOVEFILE_REPLACE_EXISTING) != 0;
    if (committed) {
        InterlockedExchange(&committed_[kind], place + 1);
        RegisterWithErrorReporting(name, anonymous);
    } else {
        Remove(temporary);
    }
    if (writer == Capture)
        InterlockedCompareExchange(&state_, Capturing, Committing);
    return committed;
}

void CrashFiles::Discard(Kind kind, Writer writer, HANDLE file)
{
    CloseHandle(file);
    Remove(TemporaryName(place_[kind][writer], kind, writer));
}

int CrashFiles::EndCapture()
{
    return InterlockedCompareExchange(&state_, Ended, Capturing) == Capturing;
}

int CrashFiles::Abandon(DWORD patience)
{
    DWORD start = GetTickCount();
    for (;;) {
        LONG seen = InterlockedCompareExchange(&state_, Abandoned, Capturing);
        if (seen == Capturing || seen == Abandoned)
            return 1;
        if (seen == Ended)
            return 0;
        // A rename under way; one that hangs does not hold the report up.
        if (GetTickCount() - start >= patience) {
            InterlockedExchange(&state_, Abandoned);
            return 1;
        }
        Sleep(10);
    }
}

void CrashFiles::RemoveUncommitted()
{
    for (int kind = 0; kind < 2; ++kind) {
        if (committed_[kind])
            continue;
        for (int place = 0; place < Places; ++place)
            Remove(names_[place][kind]);
    }
    // What an abandoned capture left unfinished goes too (once its writer
    // closes it, where the system waits for that).
    if (state_ != Abandoned)
        return;
    for (int kind = 0; kind < 2; ++kind)
        for (int place = 0; place < Places; ++place)
            Remove(TemporaryName(place, (Kind)kind, Capture));
}

const wchar_t* CrashFiles::Presented(Kind kind) const
{
    LONG committed = committed_[kind];
    return committed ? names_[committed - 1][kind] : L"";
}

int CrashFiles::MarkPending()
{
    LONG committed = committed_[Text] ? committed_[Text] : committed_[Dump];
    if (!committed)
        return 0;
    HANDLE mark = CreateFileW(pendingNames_[committed - 1], GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(mark);
    return 1;
}

void CrashFiles::ClearPending()
{
    for (int place = 0; place < Places; ++place)
        Remove(pendingNames_[place]);
}

int CrashFiles::TakePending(const wchar_t** dumpPath, const wchar_t** textPath, int* place) const
{
    for (int at = 0; at < Places; ++at) {
        // Whoever deletes the mark offers the report; a second start that
        // comes at the same moment finds none.
        if (!*pendingNames_[at] || !DeleteFileW(pendingNames_[at]))
            continue;
        *dumpPath = Exists(names_[at][Dump]) ? names_[at][Dump] : L"";
        *textPath = Exists(names_[at][Text]) ? names_[at][Text] : L"";
        *place = at;
        return **dumpPath || **textPath;
    }
    return 0;
}

void CrashFiles::RemoveOffered(int place) const
{
    if (place < 0 || place >= Places)
        return;
    Remove(names_[place][Dump]);
    Remove(names_[place][Text]);
}

void CrashFiles::Remove(const wchar_t* path)
{
    if (*path)
        DeleteFileW(path);
}
