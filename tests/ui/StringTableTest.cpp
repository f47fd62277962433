#include <gtest/gtest.h>

#include <string>

#include "ui/ModuleResources.h"
#include "ui/StringTable.h"
#include "ui/uitest.h"

namespace {

const LANGID English = 1033, German = 1031, French = 1036, SwissGerman = 2055;

TEST(ResourceLanguages, FallBackThroughThePrimaryLanguageToEnglishThenGerman)
{
    LANGID order[ResourceLanguageCount];
    ResourceLanguageOrder(SwissGerman, order);
    const LANGID expected[] = {2055, 1031, 7, 1033, 2057, 9, 1031};
    for (int i = 0; i < ResourceLanguageCount; ++i)
        EXPECT_EQ(expected[i], order[i]) << "position " << i;
}

TEST(ResourceLanguages, FindPicksTheBestLanguagePresent)
{
    DWORD size = 0;
    // Only a German copy exists: every language ends up there.
    const char* data =
        (const char*)FindModuleResource(nullptr, RT_RCDATA, MAKEINTRESOURCEW(IDR_GERMAN_DATA), French, &size);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ("Daten", std::string(data, size));
    EXPECT_EQ(nullptr, FindModuleResource(nullptr, RT_RCDATA, MAKEINTRESOURCEW(999), English, &size));
    EXPECT_EQ(0u, size);
}

TEST(StringTable, ReadsTheRequestedLanguageOrFallsBack)
{
    StringTable strings;
    EXPECT_STREQ(L"Hallo", strings.Get(IDS_GREETING, nullptr, German));
    EXPECT_STREQ(L"Hello", strings.Get(IDS_GREETING, nullptr, French));   // no French strings
    EXPECT_STREQ(L"Hallo", strings.Get(IDS_GREETING, nullptr, SwissGerman)); // via 1031
    EXPECT_STREQ(L"Hello", strings.Get(IDS_GREETING, nullptr, English));
    EXPECT_STREQ(L"Zweiter Eintrag", strings.Get(IDS_NEXT_BLOCK, nullptr, German));
    EXPECT_STREQ(L"Nur Deutsch", strings.Get(IDS_GERMAN_ONLY, nullptr, French));
    EXPECT_STREQ(L"Colour", strings.Get(IDS_BRITISH_ONLY, nullptr, French));
}

TEST(StringTable, TheTableSelectorIsTheDefaultAndCallsMayOverrideIt)
{
    StringTable strings(nullptr, German);
    EXPECT_STREQ(L"Hallo", strings.Get(IDS_GREETING));
    EXPECT_STREQ(L"Hello", strings.Get(IDS_GREETING, nullptr, English));
    strings.SetSelector(French);
    EXPECT_STREQ(L"Hello", strings.Get(IDS_GREETING));
}

TEST(StringTable, MissingStringsGiveAQuestionMark)
{
    StringTable strings;
    EXPECT_STREQ(L"?", strings.Get(IDS_MISSING, nullptr, English)); // empty entry of a present block
    EXPECT_STREQ(L"?", strings.Get(4000, nullptr, English));        // no such block
    StringTable foreign(GetModuleHandleW(L"kernel32.dll"));
    EXPECT_STREQ(L"?", foreign.Get(0xFFF0, nullptr, English));
}

TEST(StringTable, LongEntriesAreCutAt599Characters)
{
    StringTable strings;
    std::wstring expected;
    for (int i = 0; i < 70; ++i)
        expected += L"0123456789";
    expected.resize(599);
    EXPECT_EQ(expected, strings.Get(IDS_LONG, nullptr, English));
    WideString buffer;
    EXPECT_EQ(expected, strings.Get(IDS_LONG, &buffer, German));
    EXPECT_EQ(599, buffer.Length());
}

TEST(StringTable, ACallerBufferLeavesTheTablesOwnTextAlone)
{
    StringTable strings;
    const wchar_t* own = strings.Get(IDS_GREETING, nullptr, German);
    WideString buffer;
    const wchar_t* given = strings.Get(IDS_NEXT_BLOCK, &buffer, English);
    EXPECT_EQ(buffer.Text(), given);
    EXPECT_STREQ(L"Second entry", buffer.Text());
    EXPECT_STREQ(L"Hallo", own);
}

TEST(StringTable, BlockWalkStaysInsideDamagedBlocks)
{
    // Entry 0 "ab", entry 1 claims 40 characters but the block ends.
    const WCHAR block[] = {2, L'a', L'b', 40, L'x', L'y'};
    wchar_t text[StringTable::TextCapacity];
    EXPECT_TRUE(StringTable::ReadBlockEntry(block, sizeof block, 0, text, StringTable::TextCapacity));
    EXPECT_STREQ(L"ab", text);
    EXPECT_FALSE(StringTable::ReadBlockEntry(block, sizeof block, 1, text, StringTable::TextCapacity));
    EXPECT_FALSE(StringTable::ReadBlockEntry(block, sizeof block, 5, text, StringTable::TextCapacity));
    // An odd byte count cannot hold half a character.
    EXPECT_FALSE(StringTable::ReadBlockEntry(block, 1, 0, text, StringTable::TextCapacity));
}

LANGID userLanguage, userUiLanguage;
LANGID WINAPI FakeUser() { return userLanguage; }
LANGID WINAPI FakeUserUi() { return userUiLanguage; }
LANGID WINAPI FakeSystem() { return 1036; }
LANGID WINAPI FakeSystemUi() { return 1040; }

TEST(StringTable, SelectorsNameTheirLanguageSources)
{
    LanguageSources sources = {&FakeUser, &FakeUserUi, &FakeSystem, &FakeSystemUi};
    userLanguage = German;
    EXPECT_EQ(German, StringTable::ResolveLanguage(StringTable::UserLanguage, sources));
    EXPECT_EQ(1036, StringTable::ResolveLanguage(StringTable::SystemLanguage, sources));
    EXPECT_EQ(1040, StringTable::ResolveLanguage(StringTable::SystemUiLanguage, sources));
    EXPECT_EQ(3082, StringTable::ResolveLanguage(3082, sources));

    // A custom locale has no language; the user's interface language decides.
    userLanguage = 0x0C00;
    userUiLanguage = German;
    EXPECT_EQ(German, StringTable::ResolveLanguage(StringTable::UserLanguage, sources));
    userUiLanguage = 0x1000;
    EXPECT_EQ(9, StringTable::ResolveLanguage(StringTable::UserLanguage, sources));
    userLanguage = 0x1400;
    EXPECT_EQ(9, StringTable::ResolveLanguage(StringTable::UserLanguage, sources));

    sources.GetSystemDefaultUILanguage = nullptr;
    EXPECT_EQ(9, StringTable::ResolveLanguage(StringTable::SystemUiLanguage, sources));
}

TEST(ModuleFile, NamesTheExecutableAndItsFolder)
{
    WideString file, folder;
    ASSERT_TRUE(ModuleFile(nullptr, file));
    ASSERT_TRUE(ModuleFolder(nullptr, folder));
    EXPECT_GT(file.Length(), folder.Length());
    EXPECT_EQ(L'\\', folder.At(folder.Length() - 1));
    EXPECT_EQ(0, file.CompareNoCase(folder.Text(), folder.Length()));
    EXPECT_EQ(0, CompareAsciiNoCase(file.Text() + folder.Length(), L"ui_tests.exe"));

    WideString kernel;
    EXPECT_TRUE(ModuleFile(GetModuleHandleW(L"kernel32.dll"), kernel));
    EXPECT_GE(kernel.Find(L"kernel32"), 0);
    EXPECT_FALSE(ModuleFile((HMODULE)0x10, kernel));
    EXPECT_TRUE(kernel.IsEmpty());
}

} // namespace
