#pragma once

#include <windows.h>

#include "services/CriticalSection.h"
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
//
// After the swap the new version is on trial until it has shown that it
// runs (PassTrial): every start of the program counts itself in the record
// (Recover), and the third start of a version that never passed undoes the
// installation.
//
// A record read back is hostile input: only lines this class writes are
// accepted. A record with any other line is set aside under RejectedName,
// untouched, and nothing it names is acted on.
//
// The operations of a live record may come from two threads: the check that
// installs, and a window that lets go of it (Abandon).
class FileJournal {
public:
    // The journal's file in the program folder, and the names a record
    // that is set aside takes: one that is not one of ours, and one whose
    // recovery could not be completed in StuckStarts starts.
    static const wchar_t FileName[];
    static const wchar_t RejectedName[];
    static const wchar_t UnfinishedName[];

    // Starts of a version on trial: the last of them undoes it.
    static const int TrialStarts = 3;
    // Starts whose recovery failed before the record is set aside.
    static const int StuckStarts = 3;

    enum RecoveryMode {
        AtStart,       // a start of the program: it counts on trial
        BeforeInstall, // an installation is about to begin: a trial ends
    };
    // What a recovery at start has to tell the user, once.
    enum Notice {
        NothingToTell,
        RecordRejected, // the record was not one of ours and was set aside
        RecoveryStuck,  // the first start that could not finish or undo it
    };

    FileJournal() = default;
    // Closes the file. An unfinished journal stays where it is, for Recover.
    ~FileJournal();
    FileJournal(const FileJournal&) = delete;
    FileJournal& operator=(const FileJournal&) = delete;

    // Starts the journal of an installation into `directory`. 0 when a
    // journal is there already (Recover it first), it cannot be written, or
    // the journal was abandoned.
    [[nodiscard]] int Begin(const wchar_t* directory);
    const wchar_t* Directory() const { return directory_.Text(); }

    // --- preparation ---
    // Creates `directory` and the missing ones above it; each one made is
    // removed again by Rollback when it is empty.
    [[nodiscard]] int CreateDirectories(const wchar_t* directory);
    // The same for the folder that is to hold the file `path`.
    [[nodiscard]] int CreateParents(const wchar_t* path);
    // A new, empty working file in the folder of `target` (which may lie
    // outside the program folder, as an installer on the desktop does).
    // Working files are deleted when the journal ends, whatever the outcome,
    // unless they were moved to a place of their own.
    [[nodiscard]] int CreateScratchBeside(const wchar_t* target, WideString& scratch);
    // Flushes the working file `scratch` and holds it against writers from
    // now until its bytes are used: a check of its digest made after this
    // stays true. Readers may still open it.
    [[nodiscard]] int HoldStaged(const wchar_t* scratch);

    // --- the plan ---
    // `staged`, a working file, is flushed, held and planned to take the
    // place of `target`. With `oldCopy`, the file at `target` is planned to
    // become `oldCopy` (an earlier `oldCopy` moves aside and goes at
    // Finish); without, the file at `target` moves aside and goes at
    // Finish. 0 when `target` is a folder or already planned.
    // The renames of one target follow each other without a pause: the
    // running program's name is free only between two system calls.
    [[nodiscard]] int PlanReplace(const wchar_t* staged, const wchar_t* target,
                                  const wchar_t* oldCopy);
    // The working file planned to take `target`'s place, or none.
    const wchar_t* StagedFor(const wchar_t* target) const;
    int PlannedMoves() const;

    // --- the outcome ---
    // Writes "prepared" and flushes the record, then does the planned renames
    // back to back and writes "swapped": the new version is on trial. The
    // working files that took no part in the renames (downloaded archives)
    // go at once. 0 when a rename failed: the caller rolls back.
    [[nodiscard]] int Swap();
    // Closes the record of a swapped installation, which stays on trial for
    // the starts of the program to count.
    void LeaveOnTrial();
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
    [[nodiscard]] int Rollback();
    // From any thread, for an installation that is let go of before its
    // renames began: removes its working files and new folders and the
    // journal at once (files still open elsewhere go when their last handle
    // closes), and makes every later operation of this journal fail and
    // change nothing. A journal whose renames began is left for Recover.
    void Abandon();

    // Before anything else of the program runs, or before an installation
    // begins: a journal in `directory` whose renames were all done and that
    // is done is finished; one on trial counts this start (AtStart; its
    // TrialStarts-th start undoes it) or ends its trial (BeforeInstall);
    // anything less is undone. One whose rollback can never reach the old
    // version but whose renames were all done keeps the new one. A start
    // whose recovery cannot be completed says so once through `notice` and
    // tries with little patience; after StuckStarts such starts the record
    // is set aside, so that later updates can run. With no journal, stray
    // working files of a download that was cut short before its journal
    // existed are removed. 1 when the folder holds one whole version (also
    // on trial); 0 when the journal is in use, not one of ours, or could not
    // be completed. `countedStart` (AtStart) is set when this start was
    // counted for a version on trial.
    [[nodiscard]] static int Recover(const wchar_t* directory, RecoveryMode mode,
                                     Notice* notice = nullptr, bool* countedStart = nullptr);
    // The version on trial in `directory` has shown that it runs: when the
    // running program's file (`size` and `written` as it had them at its
    // start) is one the journal placed, the journal is finished. 1 when
    // it was.
    static int PassTrial(const wchar_t* directory, unsigned long long size,
                         unsigned long long written);
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
        HANDLE held;                // Scratch: held against writers until used
        bool keepsOld;              // Scratch: a name an old file moves aside to
    };

    static const int UndoAttempts = 20;
    static const int UndoAttemptsAtStart = 4;
    static const DWORD UndoPause = 250;
    // A working file still held open (by a virus scanner, or by a process
    // of the program that is just ending) is asked for a little while.
    static const int RemoveAttempts = 8;

    int OpenFolder(const wchar_t* directory);
    int Add(Kind kind, const wchar_t* path, const wchar_t* target,
            unsigned long long size = 0, unsigned long long written = 0, bool placesNew = false);
    Record* ScratchRecord(const wchar_t* path);
    static bool IsMovedFile(const Record& record, const wchar_t* path);
    static MoveState StateOfMove(const Record& record);
    int CanUndo(bool* lost) const;
    int Hold(Record& scratch);
    void ReleaseHolds();
    void AnnounceReplace(int first) const;
    int Write(const wchar_t* line);
    int WriteRecord(const Record& record);
    int WriteState(const wchar_t* state);
    int RelativePath(const wchar_t* path, WideString& text) const;
    int FreeScratchName(const wchar_t* beside, WideString& name);
    int ReserveAside(const wchar_t* path, WideString& aside);
    int AddMove(const wchar_t* from, const wchar_t* to, bool placesNew = false);
    int UndoMove(const Record& record);
    int UndoAll();
    int RemoveScratch();
    void RemoveStagedOnly();
    void RemoveNewFolders();
    int Close(bool remove);
    int FinishLocked();
    int SetAside(const wchar_t* name);
    int CountStuckStart(Notice* notice);
    int RecoverOpened(RecoveryMode mode, Notice* notice, bool* countedStart);
    int Load(const char* bytes, DWORD size);
    int ParseLine(const WideString& line);
    int ParseState(const WideString& line, bool* known);
    int ParseRecord(const WideString& line);

    mutable CriticalSection lock_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    WideString directory_; // with its trailing backslash
    WideString path_;
    State state_ = Preparing;
    bool recording_ = false; // a live journal writes what it records
    bool abandoned_ = false;
    bool headerSeen_ = false; // while a record is read back
    int trialStarts_ = 0;
    int stuckStarts_ = 0;
    int undoAttempts_ = UndoAttempts;
    Record* records_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
    unsigned scratchSeed_ = 0;
};
