#include <gtest/gtest.h>

#include <thread>

#include "common/TempDirectory.h"
#include "update/InstallLock.h"

// Every path that leads to one folder takes its one lock: another letter
// case, a final backslash, the short name, the "\\?\" form, and the same
// place seen through another drive (Wine's Z: shows the whole Linux tree,
// as a junction or a second drive letter would on Windows).
TEST(InstallLock, EverySpellingOfAFolderTakesTheSameLock)
{
    TempDirectory root(L"lock");
    std::wstring folder = std::wstring(root.Path()) + L"\\Program Folder Long Name";
    std::wstring other = std::wstring(root.Path()) + L"\\Another";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    std::wstring upper = folder;
    CharUpperBuffW(&upper[0], (DWORD)upper.size());
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(folder.c_str(), shortName, MAX_PATH));
    std::vector<std::wstring> spellings = {upper + L"\\", shortName, L"\\\\?\\" + folder};
    typedef char*(CDECL * UnixName)(const wchar_t*);
    UnixName unixName = (UnixName)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                 "wine_get_unix_file_name");
    if (unixName) {
        std::string path = unixName(folder.c_str());
        std::wstring z = L"Z:" + std::wstring(path.begin(), path.end());
        for (wchar_t& ch : z)
            if (ch == L'/')
                ch = L'\\';
        spellings.push_back(z);
    }

    WideString name, otherName;
    ASSERT_EQ(1, InstallLock::NameFor(folder.c_str(), name));
    ASSERT_EQ(1, InstallLock::NameFor(other.c_str(), otherName));
    EXPECT_NE(std::wstring(name.Text()), std::wstring(otherName.Text()));
    WideString none;
    EXPECT_EQ(0, InstallLock::NameFor((folder + L"\\no such folder").c_str(), none));

    // A mutex is its holder thread's own, so the others ask from theirs.
    InstallLock held;
    ASSERT_EQ(1, held.TryAcquire(folder.c_str()));
    for (const std::wstring& spelling : spellings) {
        SCOPED_TRACE(std::string(spelling.begin(), spelling.end()));
        WideString same;
        EXPECT_EQ(1, InstallLock::NameFor(spelling.c_str(), same));
        EXPECT_STREQ(name.Text(), same.Text());
        int taken = -1;
        std::thread([&] {
            InstallLock second;
            taken = second.TryAcquire(spelling.c_str());
        }).join();
        EXPECT_EQ(0, taken);
    }
    int otherTaken = -1;
    std::thread([&] {
        InstallLock second;
        otherTaken = second.TryAcquire(other.c_str());
    }).join();
    EXPECT_EQ(1, otherTaken) << "another folder is free";
    held.Release();
    int freed = -1;
    std::thread([&] {
        InstallLock second;
        freed = second.TryAcquire(upper.c_str());
    }).join();
    EXPECT_EQ(1, freed);
}
