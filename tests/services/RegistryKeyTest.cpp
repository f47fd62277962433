#include <gtest/gtest.h>

#include "common/ScopedTestKey.h"
#include "services/RegistryKey.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

void SetRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, (const BYTE*)data, size));
}

} // namespace

TEST(RegistryKey, WritesAndReadsNumbersTextsAndBlocks)
{
    ScopedTestKey test(L"RoundTrip");
    RegistryKey key;
    ASSERT_TRUE(key.CreateWrite(test.Root(), test.SubPath(L"New\\Deeper")));
    EXPECT_TRUE(key.WriteNumber(L"Big", 0x123456789ULL));
    EXPECT_TRUE(key.WriteText(L"Text", L"h\u00E9llo"));
    BYTE block[5] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(key.WriteBlock(L"Block", block, sizeof(block)));
    key.Close();

    ASSERT_TRUE(key.OpenRead(test.Root(), test.SubPath(L"New\\Deeper")));
    unsigned long long number = 0;
    EXPECT_TRUE(key.ReadNumber(L"Big", &number));
    EXPECT_EQ(0x123456789ULL, number);
    WideString text;
    EXPECT_TRUE(key.ReadText(L"Text", text));
    EXPECT_STREQ(L"h\u00E9llo", text.Text());
    BYTE back[5] = {};
    EXPECT_TRUE(key.ReadBlock(L"Block", back, sizeof(back)));
    EXPECT_EQ(0, memcmp(block, back, 5));

    DWORD type = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.Handle(), L"Big", nullptr, &type, nullptr, nullptr));
    EXPECT_EQ((DWORD)REG_QWORD, type);
}

TEST(RegistryKey, NumberReadTakesAnyTypeUpToEightBytes)
{
    ScopedTestKey test(L"Numbers");
    DWORD five = 5;
    SetRaw(test.Handle(), L"Dword", REG_DWORD, &five, 4);
    const wchar_t longText[] = L"0123456789";
    SetRaw(test.Handle(), L"LongText", REG_SZ, longText, sizeof(longText));

    RegistryKey key;
    ASSERT_TRUE(key.OpenRead(test.Root(), test.Path()));
    unsigned long long value = 99;
    EXPECT_TRUE(key.ReadNumber(L"Dword", &value));
    EXPECT_EQ(5u, value);
    value = 99;
    EXPECT_FALSE(key.ReadNumber(L"LongText", &value));
    EXPECT_EQ(99u, value);
    EXPECT_FALSE(key.ReadNumber(L"Missing", &value));
}

TEST(RegistryKey, TextReadForcesTerminatorAndMarksMultiStrings)
{
    ScopedTestKey test(L"Texts");
    // The registry counts a terminator the caller forgot when one follows the
    // data in memory, so the character after the stored three is no NUL.
    const wchar_t unterminated[] = {L'a', L'b', L'c', L'X'};
    SetRaw(test.Handle(), L"NoNul", REG_SZ, unterminated, 3 * sizeof(wchar_t));
    const wchar_t multi[] = L"one\0two\0";
    SetRaw(test.Handle(), L"Multi", REG_MULTI_SZ, multi, sizeof(multi));
    std::vector<wchar_t> big(5000, L'w');
    big.back() = 0;
    SetRaw(test.Handle(), L"Big", REG_SZ, big.data(), (DWORD)(big.size() * 2));

    RegistryKey key;
    ASSERT_TRUE(key.OpenRead(test.Root(), test.Path()));
    WideString text;
    EXPECT_TRUE(key.ReadText(L"NoNul", text));
    EXPECT_STREQ(L"ab", text.Text()); // the last character is sacrificed
    EXPECT_TRUE(key.ReadText(L"Multi", text));
    EXPECT_STREQ(L"one\x01two\x01", text.Text());
    EXPECT_TRUE(key.ReadText(L"Big", text));
    EXPECT_EQ(4999, text.Length());
    EXPECT_FALSE(key.ReadText(L"Missing", text));
    EXPECT_STREQ(L"", text.Text());

    wchar_t fixed[4];
    EXPECT_FALSE(key.ReadText(L"Big", fixed, 4)); // too small: fails, stays terminated
    EXPECT_STREQ(L"", fixed);
    EXPECT_TRUE(key.ReadText(L"NoNul", fixed, 4));
    EXPECT_STREQ(L"ab", fixed);
}

TEST(RegistryKey, TextReadIntoAStringThatGaveItsBufferAway)
{
    ScopedTestKey test(L"Moved");
    const wchar_t value[] = L"kept";
    SetRaw(test.Handle(), L"Value", REG_SZ, value, sizeof(value));
    RegistryKey key;
    ASSERT_TRUE(key.OpenRead(test.Root(), test.Path()));
    WideString source(L"text");
    WideString owner(std::move(source));
    ASSERT_EQ(nullptr, source.Buffer());
    EXPECT_TRUE(key.ReadText(L"Value", source));
    EXPECT_STREQ(L"kept", source.Text());
    WideString empty(L"x");
    WideString other(std::move(empty));
    EXPECT_FALSE(key.ReadText(L"Missing", empty));
    EXPECT_STREQ(L"", empty.Text());
}

TEST(RegistryKey, BlockReadNeedsTheExactSizeAndZeroFills)
{
    ScopedTestKey test(L"Blocks");
    BYTE six[6] = {9, 9, 9, 9, 9, 9};
    SetRaw(test.Handle(), L"Six", REG_BINARY, six, 6);
    RegistryKey key;
    ASSERT_TRUE(key.OpenRead(test.Root(), test.Path()));
    BYTE buffer[8];
    memset(buffer, 0xAA, sizeof(buffer));
    EXPECT_FALSE(key.ReadBlock(L"Six", buffer, 8));
    for (BYTE b : buffer)
        EXPECT_EQ(0, b);
    memset(buffer, 0xAA, sizeof(buffer));
    EXPECT_FALSE(key.ReadBlock(L"Six", buffer, 4));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(0, buffer[i]);
    EXPECT_TRUE(key.ReadBlock(L"Six", buffer, 6));
    EXPECT_EQ(9, buffer[5]);
}

TEST(RegistryKey, MissingKeysFailAndViewFlagsAreHarmless)
{
    ScopedTestKey test(L"Views");
    RegistryKey key;
    EXPECT_FALSE(key.OpenRead(test.Root(), test.SubPath(L"Nope")));
    EXPECT_FALSE(key.WriteNumber(L"x", 1));
    EXPECT_TRUE(key.CreateWrite(test.Root(), test.SubPath(L"Viewed"), KEY_WOW64_64KEY));
    EXPECT_TRUE(key.WriteDword(L"v", 7));
    EXPECT_TRUE(key.OpenRead(test.Root(), test.SubPath(L"Viewed"), KEY_WOW64_32KEY));
    unsigned long long v = 0;
    EXPECT_TRUE(key.ReadNumber(L"v", &v));
    EXPECT_EQ(7u, v);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (!wow64) {
        EXPECT_EQ(0u, RegistryKey::EffectiveView(KEY_WOW64_64KEY | KEY_WOW64_32KEY));
    }
}

namespace {

struct Seen {
    std::vector<std::wstring> names;
    std::vector<DWORD> sizes;
    int stopAfter = -1;
};

int Collect(const wchar_t* name, DWORD type, DWORD size, const BYTE* data, void* context)
{
    Seen* seen = (Seen*)context;
    seen->names.push_back(name);
    seen->sizes.push_back(size);
    return seen->stopAfter < 0 || (int)seen->names.size() < seen->stopAfter;
}

} // namespace

TEST(RegistryKey, EnumerationSkipsValuesThatDoNotFitAndStopsOnRequest)
{
    ScopedTestKey test(L"Enumerate");
    std::vector<BYTE> fits(1560, 1), tooBig(1561, 2);
    SetRaw(test.Handle(), L"A", REG_BINARY, fits.data(), (DWORD)fits.size());
    SetRaw(test.Handle(), L"B", REG_BINARY, tooBig.data(), (DWORD)tooBig.size());
    SetRaw(test.Handle(), L"C", REG_BINARY, fits.data(), 1);
    std::wstring longName(779, L'n');
    SetRaw(test.Handle(), longName.c_str(), REG_BINARY, fits.data(), 1);
    SetRaw(test.Handle(), L"", REG_SZ, L"d", 4);

    std::vector<BYTE> data(1560);
    DWORD type = 0;
    Seen seen;
    EXPECT_EQ(1, RegistryKey::EnumerateValues(test.Handle(), nullptr, Collect, &type, 1560,
                                              data.data(), &seen));
    ASSERT_EQ(3u, seen.names.size());
    std::vector<std::wstring> sorted = seen.names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(L"", sorted[0]);
    EXPECT_EQ(L"A", sorted[1]);
    EXPECT_EQ(L"C", sorted[2]);

    Seen first;
    first.stopAfter = 1;
    EXPECT_EQ(0, RegistryKey::EnumerateValues(test.Handle(), nullptr, Collect, &type, 1560,
                                              data.data(), &first));
    EXPECT_EQ(1u, first.names.size());

    Seen none;
    RegistryKey empty;
    ASSERT_TRUE(empty.CreateWrite(test.Root(), test.SubPath(L"Empty\\Child")));
    EXPECT_EQ(1, RegistryKey::EnumerateValues(test.Handle(), L"Empty", Collect, &type, 1560,
                                              data.data(), &none));
    EXPECT_TRUE(none.names.empty());
    EXPECT_EQ(0, RegistryKey::EnumerateValues(test.Handle(), L"Absent", Collect, &type, 1560,
                                              data.data(), &none));
}
