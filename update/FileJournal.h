#pragma once

#include <windows.h>

#include "services/FileSystem.h"
#include "services/WideString.h"

// Everything an installation did to the program's directory, in order, so
// that a failed update can be undone to the last file and a good one made
// final. Every change goes through the journal, and the journal never
// deletes a file that was there before the installation began.
class FileJournal {
public:
    FileJournal() = default;
    // Forgets without undoing: the owner commits or rolls back explicitly.
    ~FileJournal() { Forget(); }
    FileJournal(const FileJournal&) = delete;
    FileJournal& operator=(const FileJournal&) = delete;

    // Renames `from` to `to`, which must not exist yet; undone by renaming
    // back.
    int Move(const wchar_t* from, const wchar_t* to);
    // Renames `path` to a fresh temporary name beside it; undone by renaming
    // back, made final by deleting the temporary.
    int MoveAside(const wchar_t* path);
    // `path` was made by the installation and stays when it succeeds; undone
    // by deleting it.
    int Created(const wchar_t* path);
    // `path` is a working file of the installation: deleted whatever the
    // outcome.
    int Scratch(const wchar_t* path);
    // Creates `directory` and the missing directories above it; each one
    // made is removed again on rollback.
    int CreateDirectories(const wchar_t* directory);
    // The same for the directory that is to hold the file `path`.
    int CreateParents(const wchar_t* path);

    // Undoes everything, newest first; a step that fails is tried again for
    // a few seconds. 1 when every step could be undone.
    int Rollback();
    // Deletes what was moved aside and the working files; keeps the rest.
    void Commit();
    int Count() const { return count_; }

private:
    enum Kind { Moved, Aside, Made, Work, Folder };
    struct Record {
        Kind kind;
        WideString from; // Moved, Aside: the original name
        WideString to;   // Moved, Aside: the new name; else the path itself
        Record* older;
    };

    static const int RollbackRounds = 20;
    static const DWORD RollbackPause = 250;

    int Add(Kind kind, const wchar_t* from, const wchar_t* to);
    static int Undo(const Record& record);
    void Forget();

    Record* newest_ = nullptr;
    int count_ = 0;
};
