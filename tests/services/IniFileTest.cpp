#include <gtest/gtest.h>

#include "common/TempDirectory.h"
#include "services/IniFile.h"
#include "services/ModulePath.h"

#include <shlobj.h>

#include <string>

namespace {

WideString LocalAppData()
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path);
    return WideString(path);
}

std::wstring Joined(const wchar_t* directory, const wchar_t* name)
{
    std::wstring path = directory;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path + name;
}

} // namespace

TEST(IniFile, LocationModesPutTheirDirectoryInFront)
{
    WideString programDirectory;
    ASSERT_TRUE(GetExecutableDirectory(programDirectory));
    ASSERT_EQ(L'\\', programDirectory.At(programDirectory.Length() - 1));

    IniFile ini;
    EXPECT_TRUE(ini.SetLocation(L"C:\\some\\where.ini", IniFile::AsGiven));
    EXPECT_STREQ(L"C:\\some\\where.ini", ini.Path());
    EXPECT_TRUE(ini.SetLocation(L"tool.ini", IniFile::ProgramDirectory));
    EXPECT_EQ(Joined(programDirectory.Text(), L"tool.ini"), ini.Path());
    EXPECT_TRUE(ini.SetLocation(L"tool.ini", IniFile::LocalAppData));
    EXPECT_EQ(Joined(LocalAppData().Text(), L"tool.ini"), ini.Path());
    // The test prefix is Windows 7, which counts as Vista or later.
    EXPECT_TRUE(ini.SetLocation(L"tool.ini", IniFile::LocalAppDataOnVista));
    EXPECT_EQ(Joined(LocalAppData().Text(), L"tool.ini"), ini.Path());

    TempDirectory directory(L"inicwd");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(directory.Path()));
    EXPECT_TRUE(ini.SetLocation(L"tool.ini", IniFile::CurrentDirectory));
    EXPECT_EQ(Joined(directory.Path(), L"tool.ini"), ini.Path());
    SetCurrentDirectoryW(previous);

    EXPECT_FALSE(ini.SetLocation(L"tool.ini", 5));
    EXPECT_STREQ(L"", ini.Path());
    EXPECT_FALSE(ini.SetLocation(L"", IniFile::AsGiven));
    // Without a file nothing is read from or written to win.ini.
    WideString text;
    EXPECT_TRUE(ini.ReadText(L"windows", L"load", L"fallback", text));
    EXPECT_STREQ(L"fallback", text.Text());
    EXPECT_FALSE(ini.WriteText(L"Settings", L"x", L"y"));
}

// A value that fills the read buffer exactly looks cut off, so it is read
// once more with twice the room; at most six reads are made.
TEST(IniFile, ReadBufferDoublesUpToSixReads)
{
    TempDirectory directory(L"inibuffer");
    IniFile ini;
    ASSERT_TRUE(ini.SetLocation(directory.File(L"t.ini").Text(), IniFile::AsGiven));
    const int firstSize = WideString::InitialCapacity - 1; // characters handed to the call

    std::wstring fits(firstSize - 2, L'a');
    std::wstring fills(firstSize - 1, L'b');
    std::wstring twice(2 * WideString::InitialCapacity - 2, L'c');
    std::wstring huge(20000, L'd');
    ASSERT_TRUE(ini.WriteText(L"S", L"fits", fits.c_str()));
    ASSERT_TRUE(ini.WriteText(L"S", L"fills", fills.c_str()));
    ASSERT_TRUE(ini.WriteText(L"S", L"twice", twice.c_str()));
    ASSERT_TRUE(ini.WriteText(L"S", L"huge", huge.c_str()));

    WideString text;
    EXPECT_TRUE(ini.ReadText(L"S", L"fits", nullptr, text));
    EXPECT_EQ(fits, text.Text());
    EXPECT_EQ(1, ini.LastReadCount());

    EXPECT_TRUE(ini.ReadText(L"S", L"fills", nullptr, text));
    EXPECT_EQ(fills, text.Text());
    EXPECT_EQ(2, ini.LastReadCount());
    EXPECT_EQ(2 * WideString::InitialCapacity, ini.BufferCapacity());
    // The grown buffer is kept for the next read.
    EXPECT_TRUE(ini.ReadText(L"S", L"fills", nullptr, text));
    EXPECT_EQ(1, ini.LastReadCount());

    ini.FreeBuffers();
    EXPECT_TRUE(ini.ReadText(L"S", L"twice", nullptr, text));
    EXPECT_EQ(twice, text.Text());
    EXPECT_EQ(3, ini.LastReadCount());

    ini.FreeBuffers();
    EXPECT_TRUE(ini.ReadText(L"S", L"huge", nullptr, text));
    EXPECT_EQ(IniFile::MaximumReads, ini.LastReadCount());
    int lastSize = (WideString::InitialCapacity << (IniFile::MaximumReads - 1)) - 1;
    EXPECT_EQ(huge.substr(0, lastSize - 1), text.Text());
}

TEST(IniFile, TextsAndBlocksRoundTripAndDamagedBlocksFail)
{
    TempDirectory directory(L"iniblocks");
    IniFile ini;
    ASSERT_TRUE(ini.SetLocation(directory.File(L"b.ini").Text(), IniFile::AsGiven));
    WideString text;
    EXPECT_TRUE(ini.ReadText(L"S", L"missing", L"dflt", text));
    EXPECT_STREQ(L"dflt", text.Text());
    EXPECT_TRUE(ini.ReadText(L"S", L"missing", nullptr, text));
    EXPECT_STREQ(L"", text.Text());

    const BYTE block[6] = {1, 2, 3, 0xFE, 0, 9};
    ASSERT_TRUE(ini.WriteBlock(L"S", L"block", block, sizeof(block)));
    BYTE back[6];
    EXPECT_TRUE(ini.ReadBlock(L"S", L"block", back, sizeof(back)));
    EXPECT_EQ(0, memcmp(block, back, sizeof(block)));
    BYTE bigger[8];
    memset(bigger, 0x55, sizeof(bigger));
    EXPECT_FALSE(ini.ReadBlock(L"S", L"block", bigger, sizeof(bigger)));
    for (BYTE b : bigger)
        EXPECT_EQ(0, b);

    // The stored form carries a checksum: a changed digit is noticed.
    ASSERT_TRUE(ini.ReadText(L"S", L"block", nullptr, text));
    std::wstring damaged = text.Text();
    damaged[0] = damaged[0] == L'0' ? L'1' : L'0';
    ASSERT_TRUE(ini.WriteText(L"S", L"block", damaged.c_str()));
    memset(back, 0x55, sizeof(back));
    EXPECT_FALSE(ini.ReadBlock(L"S", L"block", back, sizeof(back)));
    for (BYTE b : back)
        EXPECT_EQ(0, b);
    ASSERT_TRUE(ini.WriteText(L"S", L"block", L"not hex at all"));
    EXPECT_FALSE(ini.ReadBlock(L"S", L"block", back, sizeof(back)));
}
