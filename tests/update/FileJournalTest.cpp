#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "UpdateTestSupport.h"
#include "common/TempDirectory.h"
#include "update/FileJournal.h"
#include "update/UpdateSteps.h"

namespace {

// A folder with a program, a library and the library's "_old" copy from
// an earlier update, and a journal that has swapped in new ones of both.
class SwappedFolder {
public:
    SwappedFolder() : root_(L"journal")
    {
        folder_ = root_.Path();
        Write(L"app.exe", "old app");
        Write(L"lib.dll", "old lib");
        Write(L"lib_old.dll", "older lib");
        before = StateOf(folder_);
        EXPECT_EQ(1, journal->Begin(folder_.c_str()));
        Stage(L"app.exe", L"app_old.exe", "new app");
        Stage(L"lib.dll", L"lib_old.dll", "new lib");
        EXPECT_EQ(1, journal->Swap());
        after = {{L"app.exe", "new app"},
                 {L"app_old.exe", "old app"},
                 {L"lib.dll", "new lib"},
                 {L"lib_old.dll", "old lib"}};
    }
    std::wstring Path(const wchar_t* name) const { return folder_ + L"\\" + name; }
    void Write(const wchar_t* name, const std::string& bytes) { WriteBytes(Path(name), bytes); }
    const std::wstring& Folder() const { return folder_; }
    // What a start finds and does.
    int Start(FileJournal::Notice* notice = nullptr, bool* counted = nullptr) const
    {
        return FileJournal::Recover(folder_.c_str(), FileJournal::AtStart, notice, counted);
    }
    // The size and last-write time of a file, as a program started from it
    // keeps them.
    void IdentityOf(const wchar_t* name, unsigned long long* size, unsigned long long* written) const
    {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        EXPECT_TRUE(GetFileAttributesExW(Path(name).c_str(), GetFileExInfoStandard, &data));
        *size = ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
        *written = ((unsigned long long)data.ftLastWriteTime.dwHighDateTime << 32) |
                   data.ftLastWriteTime.dwLowDateTime;
    }

    DirectoryState before;
    DirectoryState after; // the new version, finished
    // Reset, the journal's file is closed, as at the end of a process.
    std::unique_ptr<FileJournal> journal{new FileJournal()};

private:
    void Stage(const wchar_t* target, const wchar_t* old, const std::string& bytes)
    {
        WideString staged;
        ASSERT_EQ(1, journal->CreateScratchBeside(Path(target).c_str(), staged));
        WriteBytes(staged.Text(), bytes);
        ASSERT_EQ(1, journal->PlanReplace(staged.Text(), Path(target).c_str(), Path(old).c_str()));
    }

    TempDirectory root_;
    std::wstring folder_;
};

DirectoryState WithoutJournal(DirectoryState state)
{
    state.erase(FileJournal::FileName);
    return state;
}

// What a version on trial shows: its files, beside the journal and the
// working files that keep what a rollback would need.
DirectoryState OnlyProgramFiles(DirectoryState state)
{
    for (auto entry = state.begin(); entry != state.end();)
        entry = _wcsnicmp(entry->first.c_str(), L"qtm", 3) == 0 ? state.erase(entry) : ++entry;
    return WithoutJournal(state);
}

} // namespace

TEST(FileJournal, FinishKeepsTheOldCopiesAndDropsTheEarlierOnes)
{
    SwappedFolder folder;
    ASSERT_EQ(1, folder.journal->Finish());
    EXPECT_TRUE(StateOf(folder.Folder()) == folder.after) << NamesOf(StateOf(folder.Folder()));
}

// Newest first, a step at a time: a file held open for a moment (let go
// of here once the rollback has found it held and waits) is waited for;
// one held for good stops the rollback, which says so, undoes nothing
// older and leaves the journal for the next start.
TEST(FileJournal, RollbackUndoesNewestFirstWaitsForABlockedStepAndReportsFailure)
{
    {
        SwappedFolder folder;
        static HANDLE held;
        held = CreateFileW(folder.Path(L"lib.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        WatchUpdateSteps(
            [](const wchar_t* step, void*) {
                if (wcscmp(step, L"wait for lib.dll") == 0 && held != INVALID_HANDLE_VALUE) {
                    CloseHandle(held);
                    held = INVALID_HANDLE_VALUE;
                }
            },
            nullptr);
        EXPECT_EQ(1, folder.journal->Rollback());
        WatchUpdateSteps(nullptr, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, held) << "the rollback waited for the file";
        EXPECT_TRUE(StateOf(folder.Folder()) == folder.before) << NamesOf(StateOf(folder.Folder()));
    }
    {
        SwappedFolder folder;
        HANDLE held = CreateFileW(folder.Path(L"lib.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        EXPECT_EQ(0, folder.journal->Rollback());
        // The program, swapped before the library, was not touched either.
        EXPECT_EQ("new app", ReadBytes(folder.Path(L"app.exe")));
        EXPECT_EQ("old app", ReadBytes(folder.Path(L"app_old.exe")));
        CloseHandle(held);
        folder.journal.reset();
        EXPECT_EQ(1, folder.Start());
        EXPECT_TRUE(StateOf(folder.Folder()) == folder.before) << NamesOf(StateOf(folder.Folder()));
    }
}

// The program's old copy was deleted and another file took its name: the
// rollback cannot reach the old version, so it moves nothing (the other
// file least of all) and fails; the next start keeps the new version,
// which is whole.
TEST(FileJournal, RollbackNeverMovesAFileItDidNotMove)
{
    SwappedFolder folder;
    ASSERT_EQ(1, DeleteFileW(folder.Path(L"app_old.exe").c_str()));
    folder.Write(L"app_old.exe", "the user's");
    DirectoryState swapped = StateOf(folder.Folder());
    EXPECT_EQ(0, folder.journal->Rollback());
    EXPECT_TRUE(StateOf(folder.Folder()) == swapped) << NamesOf(StateOf(folder.Folder()));
    folder.journal.reset();
    EXPECT_EQ(1, folder.Start());
    folder.after[L"app_old.exe"] = "the user's";
    EXPECT_TRUE(StateOf(folder.Folder()) == folder.after) << NamesOf(StateOf(folder.Folder()));
}

// A new version that was never seen running stays on trial: each start
// counts itself, and the third start of one that never passed brings the
// old version back. The version that proves itself (its file is the one
// placed) ends the trial; the old program, still running, cannot.
TEST(FileJournal, ATrialEndsWhenTheNewProgramProvesItselfOrAtItsThirdStart)
{
    {
        SwappedFolder folder;
        folder.journal->LeaveOnTrial();
        for (int start = 1; start < FileJournal::TrialStarts; ++start) {
            SCOPED_TRACE(start);
            bool counted = false;
            EXPECT_EQ(1, folder.Start(nullptr, &counted));
            EXPECT_TRUE(counted);
            EXPECT_TRUE(OnlyProgramFiles(StateOf(folder.Folder())) == folder.after)
                << NamesOf(StateOf(folder.Folder()));
        }
        bool counted = true;
        EXPECT_EQ(1, folder.Start(nullptr, &counted));
        EXPECT_FALSE(counted);
        EXPECT_TRUE(StateOf(folder.Folder()) == folder.before) << NamesOf(StateOf(folder.Folder()));
    }
    {
        SwappedFolder folder;
        folder.journal->LeaveOnTrial();
        bool counted = false;
        EXPECT_EQ(1, folder.Start(nullptr, &counted));
        EXPECT_TRUE(counted);
        unsigned long long size = 0, written = 0;
        folder.IdentityOf(L"app_old.exe", &size, &written);
        EXPECT_EQ(0, FileJournal::PassTrial(folder.Folder().c_str(), size, written))
            << "the old program proves nothing";
        folder.IdentityOf(L"app.exe", &size, &written);
        EXPECT_EQ(1, FileJournal::PassTrial(folder.Folder().c_str(), size, written));
        EXPECT_TRUE(StateOf(folder.Folder()) == folder.after) << NamesOf(StateOf(folder.Folder()));
        // Passed, the version stays whatever the number of starts.
        for (int start = 0; start < FileJournal::TrialStarts; ++start)
            EXPECT_EQ(1, folder.Start());
        EXPECT_TRUE(StateOf(folder.Folder()) == folder.after);
    }
    {
        // An installation that begins ends a trial instead of counting it.
        SwappedFolder folder;
        folder.journal->LeaveOnTrial();
        EXPECT_EQ(1, FileJournal::Recover(folder.Folder().c_str(), FileJournal::BeforeInstall));
        EXPECT_TRUE(StateOf(folder.Folder()) == folder.after) << NamesOf(StateOf(folder.Folder()));
    }
}

// A start that can neither finish nor undo the record says so once, tries
// with little patience and, after its third such start, sets the record
// aside so that later updates can run; the working files it names stay.
TEST(FileJournal, ARecoveryThatCannotCompleteIsToldOnceAndSetAsideAfterThreeStarts)
{
    SwappedFolder folder;
    folder.journal->LeaveOnTrial();
    // A third-start rollback that a file held for good stops.
    for (int start = 1; start < FileJournal::TrialStarts; ++start)
        ASSERT_EQ(1, folder.Start());
    HANDLE held = CreateFileW(folder.Path(L"lib.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    FileJournal::Notice told[FileJournal::StuckStarts];
    DWORD slowest = 0;
    for (FileJournal::Notice& notice : told) {
        DWORD start = GetTickCount();
        EXPECT_EQ(0, folder.Start(&notice));
        slowest = std::max(slowest, GetTickCount() - start);
        EXPECT_EQ("new lib", ReadBytes(folder.Path(L"lib.dll")));
    }
    printf("a start that could not recover took at most %lu ms\n", slowest);
    EXPECT_EQ(FileJournal::RecoveryStuck, told[0]);
    for (int i = 1; i < FileJournal::StuckStarts; ++i)
        EXPECT_EQ(FileJournal::NothingToTell, told[i]);
    EXPECT_FALSE(PathExists(folder.Path(FileJournal::FileName).c_str()));
    EXPECT_TRUE(PathExists(folder.Path(FileJournal::UnfinishedName).c_str()));
    CloseHandle(held);
    // Set aside, the record stops nothing: the next start finds the folder
    // in order and leaves what the record named.
    FileJournal::Notice notice = FileJournal::RecoveryStuck;
    EXPECT_EQ(1, folder.Start(&notice));
    EXPECT_EQ(FileJournal::NothingToTell, notice);
    EXPECT_EQ("new lib", ReadBytes(folder.Path(L"lib.dll")));
    FileJournal next;
    EXPECT_EQ(1, next.Begin(folder.Folder().c_str())) << "a later update can begin";
    EXPECT_EQ(1, next.Rollback());
}

// A journal is read back as hostile input: a record with a single line the
// journal never writes is set aside whole, told once, and nothing it names
// is touched. The same record without that line is acted on.
TEST(FileJournal, ARecordWithALineItNeverWritesIsSetAsideUntouched)
{
    TempDirectory root(L"hostile-journal");
    std::string rootPath(root.Path(), root.Path() + wcslen(root.Path()));
    std::wstring folder = std::wstring(root.Path()) + L"\\program";
    const std::string header = "Quillmere update journal 1\n";
    // Lines the journal writes: a working file, and a rename undone at the
    // start (the staged program was renamed onto "app.exe" and back is
    // "qtm5.tmp", which stays as a working file to delete).
    const std::string good = "scratch\tqtm12.tmp\n";
    struct Case {
        const char* what;
        std::string line;
    } cases[] = {
        {"a working file that is the program", "scratch\tQuillmere.exe\n"},
        {"a working file outside the folder", "scratch\t..\\qtm1.tmp\n"},
        {"an outside working file that is no working file", "outside\t" + rootPath + "\\victim.txt\n"},
        {"an outside path that climbs", "outside\t" + rootPath + "\\program\\..\\qtm1.tmp\n"},
        {"a rename out of the folder", "move\tapp.exe\t..\\moved.exe\t3\t0\n"},
        {"a rename by an absolute path", "move\tapp.exe\tC:\\moved.exe\t3\t0\n"},
        {"a new file from no working file", "place\tvictim.txt\tapp.exe\t3\t0\n"},
        {"a size that is no number", "move\tapp.exe\tapp2.exe\t3x\t0\n"},
        {"a folder by an absolute path", "folder\tC:\\Windows\n"},
        {"a path spelt another way", "scratch\t.\\qtm13.tmp\n"},
        {"an unknown word", "delete\tapp.exe\n"},
        {"an empty line", "\n"},
        {"a carriage return", "scratch\tqtm14.tmp\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteBytes(std::wstring(root.Path()) + L"\\victim.txt", "outside");
        WriteBytes(folder + L"\\app.exe", "app");
        WriteBytes(folder + L"\\Quillmere.exe", "the program");
        WriteBytes(folder + L"\\qtm12.tmp", "a working file");
        WriteBytes(folder + L"\\qtm1.tmp", "a working file of the folder");
        std::string journal = header + good + c.line + "prepared\n";
        WriteBytes(folder + L"\\Quillmere.journal", journal);
        DirectoryState before = StateOf(root.Path());
        FileJournal::Notice notice = FileJournal::NothingToTell;
        EXPECT_EQ(0, FileJournal::Recover(folder.c_str(), FileJournal::AtStart, &notice));
        EXPECT_EQ(FileJournal::RecordRejected, notice);
        DirectoryState after = StateOf(root.Path());
        EXPECT_EQ(journal, after[L"program\\Quillmere.journal.rejected"]);
        after.erase(L"program\\Quillmere.journal.rejected");
        before.erase(L"program\\Quillmere.journal");
        EXPECT_TRUE(after == before) << NamesOf(after);
        // Told once: the record is gone from its place.
        EXPECT_EQ(1, FileJournal::Recover(folder.c_str(), FileJournal::AtStart, &notice));
        EXPECT_EQ(FileJournal::NothingToTell, notice);
        DeleteFileW((folder + L"\\Quillmere.journal.rejected").c_str());

        // Without the line, the same record is acted on: rolled back, its
        // working file goes.
        WriteBytes(folder + L"\\Quillmere.journal", header + good + "prepared\n");
        EXPECT_EQ(1, FileJournal::Recover(folder.c_str(), FileJournal::AtStart, &notice));
        EXPECT_EQ(FileJournal::NothingToTell, notice);
        EXPECT_FALSE(PathExists((folder + L"\\qtm12.tmp").c_str()));
        EXPECT_FALSE(PathExists((folder + L"\\Quillmere.journal").c_str()));
        EXPECT_EQ("the program", ReadBytes(folder + L"\\Quillmere.exe"));
    }
    // A header that is not the journal's, and the line a power cut cut off
    // (which is no line, and no reason to refuse the rest).
    WriteBytes(folder + L"\\qtm12.tmp", "a working file");
    WriteBytes(folder + L"\\Quillmere.journal", "Quillmere update journal 2\n" + good);
    EXPECT_EQ(0, FileJournal::Recover(folder.c_str(), FileJournal::AtStart));
    EXPECT_TRUE(PathExists((folder + L"\\qtm12.tmp").c_str()));
    DeleteFileW((folder + L"\\Quillmere.journal.rejected").c_str());
    WriteBytes(folder + L"\\Quillmere.journal", header + good + "scratch\tcut off by a power cu");
    EXPECT_EQ(1, FileJournal::Recover(folder.c_str(), FileJournal::AtStart));
    EXPECT_FALSE(PathExists((folder + L"\\qtm12.tmp").c_str()));
}

// A check that is let go of while it downloads removes what it prepared at
// once, also a working file another thread still writes (it goes when that
// handle closes), and nothing it does afterwards changes anything.
TEST(FileJournal, AnAbandonedPreparationLeavesTheFolderAsItWas)
{
    TempDirectory root(L"abandoned");
    std::wstring folder = root.Path();
    WriteBytes(folder + L"\\app.exe", "app");
    DirectoryState before = StateOf(folder);
    FileJournal journal;
    ASSERT_EQ(1, journal.Begin(folder.c_str()));
    ASSERT_EQ(1, journal.CreateDirectories((folder + L"\\Help\\Deep").c_str()));
    WideString download, staged;
    ASSERT_EQ(1, journal.CreateScratchBeside((folder + L"\\app.zip").c_str(), download));
    ASSERT_EQ(1, journal.CreateScratchBeside((folder + L"\\Help\\Deep\\x.txt").c_str(), staged));
    // The download's writer, as the HTTP client opens it.
    HANDLE writer = CreateFileW(download.Text(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    DWORD written = 0;
    WriteFile(writer, "partial", 7, &written, nullptr);
    EXPECT_NE(before, StateOf(folder)) << "the preparation shows in the folder";

    std::thread([&journal] { journal.Abandon(); }).join();
    CloseHandle(writer);
    EXPECT_TRUE(StateOf(folder) == before) << NamesOf(StateOf(folder));
    WideString more;
    EXPECT_EQ(0, journal.CreateScratchBeside((folder + L"\\b.txt").c_str(), more));
    EXPECT_EQ(0, journal.Rollback());
    EXPECT_EQ(0, journal.Begin(folder.c_str()));
    EXPECT_TRUE(StateOf(folder) == before) << NamesOf(StateOf(folder));
}

// The swap takes the staged files' bytes as they were checked: from the
// hold on, no writer gets in, while readers still may; a downloaded
// archive, which takes no part in the renames, goes with the swap.
TEST(FileJournal, StagedFilesAreHeldAgainstWritersUntilTheSwap)
{
    TempDirectory root(L"held");
    std::wstring folder = root.Path();
    WriteBytes(folder + L"\\app.exe", "old app");
    FileJournal journal;
    ASSERT_EQ(1, journal.Begin(folder.c_str()));
    WideString archive, staged;
    ASSERT_EQ(1, journal.CreateScratchBeside((folder + L"\\app.zip").c_str(), archive));
    WriteBytes(archive.Text(), "the archive");
    ASSERT_EQ(1, journal.HoldStaged(archive.Text()));
    ASSERT_EQ(1, journal.CreateScratchBeside((folder + L"\\app.exe").c_str(), staged));
    WriteBytes(staged.Text(), "new app");
    ASSERT_EQ(1, journal.PlanReplace(staged.Text(), (folder + L"\\app.exe").c_str(), nullptr));
    for (const wchar_t* path : {archive.Text(), staged.Text()}) {
        HANDLE writer = CreateFileW(path, GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
        EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
        HANDLE reader = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, reader);
        CloseHandle(reader);
    }
    ASSERT_EQ(1, journal.Swap());
    EXPECT_FALSE(PathExists(archive.Text()));
    EXPECT_EQ("new app", ReadBytes(folder + L"\\app.exe"));
    journal.LeaveOnTrial();
    // The old program waits in a working file for a rollback.
    DirectoryState state = WithoutJournal(StateOf(folder));
    EXPECT_EQ(2u, state.size()) << NamesOf(state);
}
