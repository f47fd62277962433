#pragma once

#include <windows.h>

// The two files of a crash report, and the rule that only files written
// completely for this crash are ever presented. Each file is written under
// a temporary name beside its real one and takes the real name (replacing
// an older file) only when complete; where this report completes nothing,
// an older file of the real name is removed, so nothing an earlier crash
// left is taken for this one's.
//
// Two writers may take part: the capture on the reporter thread, and the
// crashing thread, which writes what it can itself ("rescue") once it has
// stopped waiting for a capture that does not end. From the moment the
// crashing thread abandons the capture, nothing of the capture is renamed.
//
// A report whose files were written is pending ("<name>_Debug.pending" beside
// them) until the report step has run: files of a process that ended first
// (a step that could not come up in time, a kill) are offered at the next
// start, once.
class CrashFiles {
public:
    enum Kind { Dump = 0, Text = 1 };
    enum Writer { Capture = 0, Rescue = 1 };
    static const int PathMax = 600;

    // Works out every name once, when the program starts: "<name>_Debug.dmp"
    // and "<name>_Debug.txt" beside the executable, else in the temporary
    // folder ("MiniDump_Debug..." when the executable's name is unknown).
    void ComputeNames();
    // With its trailing backslash; empty when unknown.
    const wchar_t* ExecutableDirectory() const { return executableDirectory_; }

    // A new report: nothing committed, the capture may commit.
    void Begin();
    // Creates the temporary file of `kind` for `writer` (read and write
    // access), beside the executable, else in the temporary folder. A place
    // where a folder has the real name is skipped, and so is one where the
    // rescue cannot remove an older file of the real name. The capture's
    // files replace older ones when they are committed.
    // INVALID_HANDLE_VALUE when no place works.
    HANDLE Create(Kind kind, Writer writer);
    // Closes `file` and gives it its real name, registered with Windows
    // Error Reporting (as anonymous data when `anonymous`: it names neither
    // the user nor the profile), when `writer` may still commit; otherwise,
    // or when the rename fails, the temporary file is deleted. 1 when
    // committed.
    [[nodiscard]] int Commit(Kind kind, Writer writer, HANDLE file, bool anonymous);
    // Closes and deletes an unfinished temporary file.
    void Discard(Kind kind, Writer writer, HANDLE file);

    // The capture is over: 1 when it ended before the crashing thread
    // abandoned it.
    [[nodiscard]] int EndCapture();
    // The crashing thread gives up waiting: 1 when the capture is abandoned
    // now or was before (from now on only the rescue commits), 0 when it had
    // ended. A rename under way is waited for at most `patience` ms.
    [[nodiscard]] int Abandon(DWORD patience);
    // Removes the real names (in both places) of the files this report did
    // not commit, and after an abandoned capture its unfinished files.
    void RemoveUncommitted();

    bool IsCommitted(Kind kind) const { return committed_[kind] != 0; }
    // The real name of a committed file; "" for one this report did not write.
    const wchar_t* Presented(Kind kind) const;

    // The files committed for this report wait for the step: 1 when the
    // mark is made (beside the text report, else beside the dump).
    int MarkPending();
    // The step has run: the mark goes, in both places.
    void ClearPending();
    // At a later start: takes the mark of an earlier report, if one lies in
    // either place, so no other start offers it too. 1 with the names of the
    // files of that report that exist ("" for a missing one) and its place.
    [[nodiscard]] int TakePending(const wchar_t** dumpPath, const wchar_t** textPath,
                                  int* place) const;
    // Removes both files of the report at `place` once they were offered.
    void RemoveOffered(int place) const;

private:
    enum State : LONG { Capturing, Committing, Ended, Abandoned };
    static const int Places = 2; // beside the executable, the temporary folder

    const wchar_t* TemporaryName(int place, Kind kind, Writer writer) const
    {
        return temporaryNames_[place][kind][writer];
    }
    static void Remove(const wchar_t* path);

    wchar_t executableDirectory_[PathMax] = L"";
    wchar_t names_[Places][2][PathMax] = {};
    wchar_t temporaryNames_[Places][2][2][PathMax] = {};
    wchar_t pendingNames_[Places][PathMax] = {};
    // Where each writer made each file.
    volatile LONG place_[2][2] = {};
    // 0, or the place + 1 of the committed file.
    volatile LONG committed_[2] = {};
    volatile LONG state_ = Capturing;
};
