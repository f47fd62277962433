#include "update/FileJournal.h"

#include "services/ModulePath.h"

#include <new>

int FileJournal::Add(Kind kind, const wchar_t* from, const wchar_t* to)
{
    Record* record = new (std::nothrow) Record();
    if (!record)
        return 0;
    record->kind = kind;
    if ((from && !record->from.Assign(from)) || !record->to.Assign(to)) {
        delete record;
        return 0;
    }
    record->older = newest_;
    newest_ = record;
    ++count_;
    return 1;
}

int FileJournal::Move(const wchar_t* from, const wchar_t* to)
{
    if (!MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH))
        return 0;
    if (Add(Moved, from, to))
        return 1;
    MoveFileExW(to, from, MOVEFILE_WRITE_THROUGH);
    return 0;
}

int FileJournal::MoveAside(const wchar_t* path)
{
    WideString aside;
    if (!CreateTemporaryBeside(path, aside))
        return 0;
    // The empty placeholder keeps the name taken until the file replaces it.
    if (!MoveFileExW(path, aside.Text(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(aside.Text());
        return 0;
    }
    if (Add(Aside, path, aside.Text()))
        return 1;
    MoveFileExW(aside.Text(), path, MOVEFILE_WRITE_THROUGH);
    return 0;
}

int FileJournal::Created(const wchar_t* path)
{
    return Add(Made, nullptr, path);
}

int FileJournal::Scratch(const wchar_t* path)
{
    return Add(Work, nullptr, path);
}

int FileJournal::CreateParents(const wchar_t* path)
{
    WideString parent;
    DirectoryOf(path, parent);
    parent.Truncate(parent.Length() - 1); // without its trailing backslash
    return parent.IsEmpty() || CreateDirectories(parent.Text());
}

int FileJournal::CreateDirectories(const wchar_t* directory)
{
    if (PathExists(directory))
        return IsDirectory(directory);
    if (!CreateParents(directory))
        return 0;
    if (!CreateDirectoryW(directory, nullptr))
        return 0;
    if (Add(Folder, nullptr, directory))
        return 1;
    RemoveDirectoryW(directory);
    return 0;
}

int FileJournal::Undo(const Record& record)
{
    switch (record.kind) {
    case Moved:
    case Aside:
        // Whatever has taken the original name since is the installation's
        // own and gives way.
        return MoveFileExW(record.to.Text(), record.from.Text(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    case Made:
    case Work:
        return RemoveFile(record.to.Text());
    case Folder:
        return RemoveDirectoryW(record.to.Text()) != 0;
    }
    return 0;
}

// A file that another program holds open for a moment (a virus scanner
// looking at a fresh download, often) can be neither renamed nor deleted;
// the steps that could not be undone are tried again, newest first, for a
// few seconds.
int FileJournal::Rollback()
{
    for (int round = 0; newest_ && round < RollbackRounds; ++round) {
        if (round)
            Sleep(RollbackPause);
        Record** link = &newest_;
        while (Record* record = *link) {
            if (Undo(*record)) {
                *link = record->older;
                delete record;
                --count_;
            } else {
                link = &record->older;
            }
        }
    }
    int complete = newest_ == nullptr;
    Forget();
    return complete;
}

void FileJournal::Commit()
{
    for (Record* record = newest_; record; record = record->older) {
        if (record->kind == Aside || record->kind == Work)
            RemoveFile(record->to.Text());
    }
    Forget();
}

void FileJournal::Forget()
{
    while (Record* record = newest_) {
        newest_ = record->older;
        delete record;
    }
    count_ = 0;
}
