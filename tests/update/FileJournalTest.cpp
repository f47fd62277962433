#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "UpdateTestSupport.h"
#include "common/TempDirectory.h"
#include "update/FileJournal.h"

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
    }
    std::wstring Path(const wchar_t* name) const { return folder_ + L"\\" + name; }
    void Write(const wchar_t* name, const std::string& bytes) { WriteBytes(Path(name), bytes); }
    const std::wstring& Folder() const { return folder_; }

    DirectoryState before;
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

} // namespace

TEST(FileJournal, FinishKeepsTheOldCopiesAndDropsTheEarlierOnes)
{
    SwappedFolder folder;
    ASSERT_EQ(1, folder.journal->Finish());
    DirectoryState expected = {{L"app.exe", "new app"},
                               {L"app_old.exe", "old app"},
                               {L"lib.dll", "new lib"},
                               {L"lib_old.dll", "old lib"}};
    EXPECT_TRUE(StateOf(folder.Folder()) == expected) << NamesOf(StateOf(folder.Folder()));
}

// Newest first, a step at a time: a file held open for a moment is waited
// for; one held for good stops the rollback, which says so, undoes nothing
// older and leaves the journal for the next start.
TEST(FileJournal, RollbackUndoesNewestFirstWaitsForABlockedStepAndReportsFailure)
{
    {
        SwappedFolder folder;
        HANDLE held = CreateFileW(folder.Path(L"lib.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        std::thread release([held] {
            Sleep(1000);
            CloseHandle(held);
        });
        EXPECT_EQ(1, folder.journal->Rollback());
        release.join();
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
        EXPECT_EQ(1, FileJournal::Recover(folder.Folder().c_str()));
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
    EXPECT_EQ(1, FileJournal::Recover(folder.Folder().c_str()));
    DirectoryState expected = {{L"app.exe", "new app"},
                               {L"app_old.exe", "the user's"},
                               {L"lib.dll", "new lib"},
                               {L"lib_old.dll", "old lib"}};
    EXPECT_TRUE(StateOf(folder.Folder()) == expected) << NamesOf(StateOf(folder.Folder()));
}

// A journal is read back as untrusted: names that leave the folder, and
// working files outside it that are no working files, are left alone.
TEST(FileJournal, RecoveryTouchesNothingOutsideTheFolder)
{
    TempDirectory root(L"hostile-journal");
    std::wstring folder = std::wstring(root.Path()) + L"\\program";
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteBytes(std::wstring(root.Path()) + L"\\victim.txt", "outside");
    WriteBytes(folder + L"\\app.exe", "app");
    WriteBytes(folder + L"\\qtm12.tmp", "a working file left by a download");
    std::string journal = "Quillmere update journal 1\n"
                          "scratch\t..\\victim.txt\n"
                          "outside\t" + std::string(root.Path(), root.Path() + wcslen(root.Path())) +
                          "\\victim.txt\n"
                          "move\tapp.exe\t..\\moved.exe\n"
                          "folder\tC:\\Windows\n"
                          "prepared\n"
                          "move\tapp.exe\tapp2.exe\n"
                          "scratch\tcut off by a power cu";
    WriteBytes(folder + L"\\Quillmere.journal", journal);
    EXPECT_EQ(1, FileJournal::Recover(folder.c_str()));
    DirectoryState expected = {{L"program", "<dir>"},
                               {L"program\\app.exe", "app"},
                               {L"victim.txt", "outside"}};
    EXPECT_TRUE(StateOf(root.Path()) == expected) << NamesOf(StateOf(root.Path()));
}
