#pragma once

#include <windows.h>

#include "services/FileSystem.h"
#include "services/WideString.h"

// What one installation does to the program folder, kept in a file there
// (FileName), so that an installation cut short by a crash, a kill, a
// log-off or a power cut is finished or undone at the next start: the
// folder always holds one whole version, the old or the new.
//
// An installation first prepares everything beside its targets: each new
// folder is recorded before it is made, each working file ("qtm*.tmp") as
// soon as it exists. Then it plans its renames, flushes the record and its
// working files, does the renames back to back (Swap) and at last marks the
// record done (Finish) or undoes it (Rollback). Only renames touch the
// program's files. Each planned rename records the size and last-write time
// of the file it moves (a rename keeps both on every file system), so a
// rollback moves back only the very files it moved, never replaces a file,
// and checks that the whole way back is clear before it takes a step.
class FileJournal {
public:
    // The journal's file in the program folder.
    static const wchar_t FileName[];

    FileJournal() = default;
    // Closes the file. An unfinished journal stays where it is, for Recover.
    ~FileJournal();
    FileJournal(const FileJournal&) = delete;
    FileJournal& operator=(const FileJournal&) = delete;

    // Starts the journal of an installation into `directory`. 0 when a
    // journal is there already (Recover it first) or cannot be written.
    int Begin(const wchar_t* directory);
    const wchar_t* Directory() const { return directory_.Text(); }

    // --- preparation ---
    // Creates `directory` and the missing ones above it; each one made is
    // removed again by Rollback when it is empty.
    int CreateDirectories(const wchar_t* directory);
    // The same for the folder that is to hold the file `path`.
    int CreateParents(const wchar_t* path);
    // A new, empty working file in the folder of `target` (which may lie
    // outside the program folder, as an installer on the desktop does).
    // Working files are deleted when the journal ends, whatever the outcome,
    // unless they were moved to a place of their own.
    int CreateScratchBeside(const wchar_t* target, WideString& scratch);

    // --- the plan ---
    // `staged`, a working file, is flushed and planned to take the place of
    // `target`. With `oldCopy`, the file at `target` is planned to become
    // `oldCopy` (an earlier `oldCopy` moves aside and goes at Finish);
    // without, the file at `target` moves aside and goes at Finish. 0 when
    // `target` is a folder or already planned.
    // The renames of one target follow each other without a pause: the
    // running program's name is free only between two system calls.
    int PlanReplace(const wchar_t* staged, const wchar_t* target, const wchar_t* oldCopy);
    // The working file planned to take `target`'s place, or none.
    const wchar_t* StagedFor(const wchar_t* target) const;
    int PlannedMoves() const;

    // --- the outcome ---
    // Writes "prepared" and flushes the record, then does the planned renames
    // back to back and writes "swapped". 0 when a rename failed: the caller
    // rolls back.
    int Swap();
    // Writes "done", deletes the working files (the files moved aside
    // among them) and removes the journal. 1 when all of it is gone; what
    // stays is removed by the next Recover.
    int Finish();
    // Writes "rollback", undoes the renames newest first (a step that fails,
    // as a file held open for a moment by a virus scanner makes it, is tried
    // again for a few seconds before the rollback gives up, since every older
    // step depends on it), removes the working files and the new folders and
    // the journal. A rollback that cannot reach the old version (a moved
    // file is gone, or another file took a name it must give back) changes
    // nothing at all. 1 only when everything was undone; otherwise the
    // journal stays and the next Recover goes on with it.
    int Rollback();

    // At a start, before anything else of the program runs: an unfinished
    // journal in `directory` is finished when its renames were all done,
    // else undone; one whose rollback can never reach the old version but
    // whose renames were all done keeps the new one. With no journal, stray
    // working files of a download that was cut short before its journal
    // existed are removed. 1 when nothing is left to do; 0 when the journal
    // is in use or could not be completed.
    static int Recover(const wchar_t* directory);
    // Deletes the working files ("qtm*.tmp", as this class and the HTTP
    // client name them) directly in `directory`.
    static void RemoveWorkingFiles(const wchar_t* directory);

private:
    enum Kind { Folder, Scratch, Move };
    enum State { Preparing, Prepared, Swapped, Done, RollingBack };
    // Where a planned rename's file is now.
    enum MoveState { NotMoved, Moved, Lost };
    struct Record {
        Kind kind;
        WideString path;   // Folder, Scratch: the path; Move: the old name
        WideString target; // Move: the new name
        unsigned long long size;    // Move: the moved file's size
        unsigned long long written; // and last-write time
        bool opensStep;             // Move: the first rename of a PlanReplace
        bool placesNew;             // Move: a new file taking its target's place
    };

    static const int UndoAttempts = 20;
    static const DWORD UndoPause = 250;
    // A working file still held open (by a virus scanner, or by a process
    // of the program that is just ending) is asked for a little while.
    static const int RemoveAttempts = 8;

    int Add(Kind kind, const wchar_t* path, const wchar_t* target,
            unsigned long long size = 0, unsigned long long written = 0, bool placesNew = false);
    static bool IsMovedFile(const Record& record, const wchar_t* path);
    static MoveState StateOfMove(const Record& record);
    int CanUndo(bool* lost) const;
    void AnnounceReplace(int first) const;
    int Write(const wchar_t* line);
    int WriteRecord(const Record& record);
    int WriteState(const wchar_t* state);
    int RelativePath(const wchar_t* path, WideString& text) const;
    int FreeScratchName(const wchar_t* beside, WideString& name);
    int ReserveAside(const wchar_t* path, WideString& aside);
    int AddMove(const wchar_t* from, const wchar_t* to, bool placesNew = false);
    int UndoMove(const Record& record);
    int RemoveScratch();
    void RemoveNewFolders();
    int Close(bool remove);
    int Load(const char* bytes, DWORD size);
    int ParseLine(const WideString& line);
    int ResolvePath(const wchar_t* text, bool outsideAllowed, WideString& path) const;

    HANDLE file_ = INVALID_HANDLE_VALUE;
    WideString directory_; // with its trailing backslash
    WideString path_;
    State state_ = Preparing;
    bool recording_ = false; // a live journal writes what it records
    Record* records_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
    unsigned scratchSeed_ = 0;
};
