// A save that fails leaves no file behind and the target as it was, and
// says why; a save that succeeds replaces the target whole.

#include <gtest/gtest.h>

#include "common/TempDirectory.h"
#include "snapshot/SnapshotFile.h"

namespace {

// A disk that is full once this many bytes have gone to it.
DWORD g_room = 0;

BOOL WINAPI WriteToFullDisk(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED)
{
    DWORD taken = size < g_room ? size : g_room;
    g_room -= taken;
    BOOL ok = WriteFile(file, data, taken, written, nullptr);
    if (ok && taken < size) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return ok;
}

int FilesIn(const wchar_t* folder)
{
    std::wstring pattern = std::wstring(folder) + L"\\*";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    int count = 0;
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

} // namespace

TEST(SnapshotSave, AFullDiskLeavesNoFileAndTheTargetAsItWas)
{
    TempDirectory folder(L"snapshot-full");
    WideString target = folder.File(L"machine.quillmere.json");
    ASSERT_TRUE(folder.Write(L"machine.quillmere.json", "the snapshot of yesterday"));
    std::string text(3u << 20, 'x');

    SnapshotFileCalls full = SystemSnapshotFileCalls();
    full.WriteFile = WriteToFullDisk;
    g_room = 1u << 20;
    DWORD error = 0;
    EXPECT_EQ(0, SaveSnapshotText(target.Text(), text, &error, full));
    EXPECT_EQ((DWORD)ERROR_DISK_FULL, error);
    EXPECT_EQ("the snapshot of yesterday", folder.Read(L"machine.quillmere.json"));
    EXPECT_EQ(1, FilesIn(folder.Path())) << "no part of the new file is left";

    // With room enough, the same save replaces the target.
    g_room = 4u << 20;
    EXPECT_EQ(1, SaveSnapshotText(target.Text(), text, &error, full));
    EXPECT_EQ(text, folder.Read(L"machine.quillmere.json"));
    EXPECT_EQ(1, FilesIn(folder.Path()));
}

TEST(SnapshotSave, AReadOnlyTargetStaysAndIsToldAbout)
{
    TempDirectory folder(L"snapshot-readonly");
    WideString target = folder.File(L"kept.quillmere.json");
    ASSERT_TRUE(folder.Write(L"kept.quillmere.json", "kept"));
    ASSERT_TRUE(SetFileAttributesW(target.Text(), FILE_ATTRIBUTE_READONLY));
    DWORD error = 0;
    EXPECT_EQ(0, SaveSnapshotText(target.Text(), "new", &error));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, error);
    EXPECT_EQ("kept", folder.Read(L"kept.quillmere.json"));
    EXPECT_EQ(1, FilesIn(folder.Path()));

    // A folder that does not exist.
    WideString nowhere = folder.File(L"no such folder\\x.quillmere.json");
    EXPECT_EQ(0, SaveSnapshotText(nowhere.Text(), "new", &error));
    EXPECT_NE((DWORD)ERROR_SUCCESS, error);
}
