#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "update/InstallPath.h"
#include "update/UpdateRules.h"

TEST(UpdateRules, NewAndOldNamesGoBeforeShortExtensions)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* expected;
    } cases[] = {
        {L"Quillmere.exe", L"Quillmere_new.exe"},
        {L"data.json", L"data.json_new.json"}, // a longer extension stays in the name
        {L"README", L"README_new"},
        {L"help\\manual.chm", L"help\\manual_new.chm"},
        {L"archive.tar.gz", L"archive.tar_new.gz"},
        {L"v1.2\\tool", L"v1.2\\tool_new"}, // a dot before the last separator is no extension
        {L"setup.exe?x=1", L"setup?x=1_new.exe"},
    };
    for (const Case& c : cases) {
        WideString result;
        ASSERT_EQ(1, InsertBeforeExtension(c.name, L"_new", result));
        EXPECT_STREQ(c.expected, result.Text()) << c.name;
    }
}

TEST(UpdateRules, VersionsCompareAsNumbersInFullSixteenBitParts)
{
    VersionNumbers local;
    local.major = 1;
    local.minor = 9;
    struct Case {
        const wchar_t* offered;
        bool parses;
        bool newer;
    } cases[] = {
        {L"1.10", true, true},  {L"2.0", true, true},  {L"1.9", true, false},
        {L"1.09", true, false}, {L"1.8", true, false}, {L"0.99", true, false},
        {L" 1. 12", true, true}, {L"1.9.5", true, false}, {L"1", false, false},
        {L"x.1", false, false}, {L"1,10", false, false}, {L"", false, false},
        {L"65535.65535", true, true}, {L"65536.0", false, false}, {L"1.65536", false, false},
        // Digits that would wrap 32 bits must not come back as a small number.
        {L"4294967297.0", false, false}, {L"1.4294967306", false, false},
    };
    for (const Case& c : cases) {
        VersionNumbers offered;
        bool parses = ParseVersionText(c.offered, offered) == 1;
        EXPECT_EQ(c.parses, parses) << c.offered;
        if (parses) {
            EXPECT_EQ(c.newer, IsNewerVersion(offered, local)) << c.offered;
        }
    }
    // A program at 256.0 or beyond counts as what it is: 2.0 is older, and
    // so is 256.0 against 256.1 (an 8-bit view would see 0.0 and 0.1).
    VersionNumbers wide, two, older;
    wide.major = 256;
    wide.minor = 1;
    two.major = 2;
    two.minor = 0;
    older.major = 256;
    older.minor = 0;
    EXPECT_FALSE(IsNewerVersion(two, wide));
    EXPECT_FALSE(IsNewerVersion(older, wide));
    EXPECT_TRUE(IsNewerVersion(wide, older));
}

// A program whose version text cannot be read states no version, and none
// is assumed for it; without the text its fixed version counts.
TEST(UpdateRules, AProgramVersionIsReadOrRefusedNeverAssumed)
{
    VersionNumbers version;
    ASSERT_EQ(1, ReadProgramVersion((TestDirectory() + L"updatehost.exe").c_str(), version));
    EXPECT_EQ(1u, version.major);
    EXPECT_EQ(9u, version.minor);
    EXPECT_EQ(0, ReadProgramVersion((TestDirectory() + L"updatehost_nightly.exe").c_str(), version));
    EXPECT_EQ(0, ReadProgramVersion((TestDirectory() + L"no such program.exe").c_str(), version));
    ASSERT_EQ(1, ReadProgramVersion(nullptr, version)) << "this test executable states 1.9";
    EXPECT_EQ(9u, version.minor);
}

TEST(UpdateRules, TestBuildsAskOnlyLoopbackAndInvalidHosts)
{
    struct Case {
        const wchar_t* url;
        bool allowed;
    } cases[] = {
        {L"https://127.0.0.1:4433/common/update.php?p=quillmere", true},
        {L"https://127.0.0.2/x", true},
        {L"https://localhost/x", true},
        {L"https://[::1]:8443/x", true},
        {L"https://update.tollbrook.invalid/common/update.php?p=quillmere", true},
        {L"https://UPDATE.TOLLBROOK.INVALID./x", true},
        {L"https://www.tollbrook.example/common/update.php?p=quillmere", false},
        {L"https://127.0.0.1.tollbrook.example/x", false},
        {L"https://127.attacker.example/x", false},
        {L"https://invalid/x", false},
        {L"https://tollbrook.invalid.example/x", false},
        {L"https://127.0.0.1@www.tollbrook.example/x", false},
        {L"https://www.tollbrook.example/?h=127.0.0.1", false},
        {L"https://www.tollbrook.example/x.invalid", false},
        {L"file://127.0.0.1/x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.allowed, IsTestEndpoint(c.url)) << c.url;
}

TEST(UpdateRules, TextsAreDecodedFromTheirUtf8Bytes)
{
    struct Case {
        const wchar_t* arrived;
        const wchar_t* expected;
    } cases[] = {
        {L"Gr\x00C3\x00BC\x00C3\x009F" L"e", L"Gr\x00FC\x00DF" L"e"}, // widened UTF-8 bytes
        {L"Gr\x00FC\x00DF" L"e", L"Gr\x00FC\x00DF" L"e"}, // no valid UTF-8: kept
        {L"\x20AC 5 \x00C3\x00BC", L"\x20AC 5 \x00C3\x00BC"}, // already decoded: kept
        {L"plain", L"plain"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        WideString decoded;
        ASSERT_EQ(1, DecodeLowBytesAsUtf8(c.arrived, decoded));
        EXPECT_STREQ(c.expected, decoded.Text());
    }
}

TEST(InstallPath, OnlyPathsInsideTheDirectoryAreAccepted)
{
    struct Case {
        const wchar_t* stored;
        const wchar_t* relative; // nullptr: refused
        bool directory;
    } cases[] = {
        {L"Quillmere.exe", L"Quillmere.exe", false},
        {L"docs/guide.txt", L"docs\\guide.txt", false},
        {L"docs//./guide.txt", L"docs\\guide.txt", false},
        {L"docs/", L"docs", true},
        {L"..data/x..y.txt", L"..data\\x..y.txt", false},
        {L"", nullptr, false},
        {L"/", nullptr, false},
        {L"./", nullptr, false},
        {L"../x", nullptr, false},
        {L"a/../../x", nullptr, false},
        {L"a\\..\\x", nullptr, false},
        {L"/etc/passwd", nullptr, false},
        {L"\\\\server\\share", nullptr, false},
        {L"C:\\x", nullptr, false},
        {L"C:x", nullptr, false},
        {L"x:y", nullptr, false},
        {L"NUL", nullptr, false},
        {L"lpt1.txt", nullptr, false},
        {L"a/Com9", nullptr, false},
        {L"conin$", nullptr, false},
        {L"a./b", nullptr, false},
        {L"a /b", nullptr, false},
        {L"what?", nullptr, false},
        {L"tab\there", nullptr, false},
    };
    for (const Case& c : cases) {
        WideString relative;
        bool directory = false;
        int ok = MakeSafeRelativePath(c.stored, relative, &directory);
        if (!c.relative) {
            EXPECT_EQ(0, ok) << c.stored;
            EXPECT_TRUE(relative.IsEmpty());
            continue;
        }
        EXPECT_EQ(1, ok) << c.stored;
        EXPECT_STREQ(c.relative, relative.Text());
        EXPECT_EQ(c.directory, directory) << c.stored;
    }
    EXPECT_TRUE(IsSafeFileName(L"setup.exe"));
    EXPECT_FALSE(IsSafeFileName(L"sub\\setup.exe"));
    EXPECT_FALSE(IsSafeFileName(L"setup.exe/"));
    // A joined path that the file functions could not take is refused.
    WideString path;
    EXPECT_EQ(0, JoinInside(L"C:\\program", std::wstring(300, L'a').c_str(), path));
    EXPECT_EQ(1, JoinInside(L"C:\\program\\", L"docs\\guide.txt", path));
    EXPECT_STREQ(L"C:\\program\\docs\\guide.txt", path.Text());
}
