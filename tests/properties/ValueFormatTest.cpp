#include <gtest/gtest.h>

#include "properties/ValueFormat.h"

#include <random>
#include <string>
#include <vector>

namespace {

std::wstring Format(const void* data, DWORD size, DWORD type)
{
    WideString value(L"stale");
    FormatRegistryValue((const BYTE*)data, size, type, value);
    return value.Text();
}

std::wstring FormatNumber(unsigned long long number, DWORD size, DWORD type)
{
    return Format(&number, size, type);
}

} // namespace

TEST(FormatRegistryValue, NumbersShowHexAndDecimal)
{
    EXPECT_EQ(L"0x1F (31)", FormatNumber(31, 4, REG_DWORD));
    EXPECT_EQ(L"0x0 (0)", FormatNumber(0, 4, REG_DWORD));
    EXPECT_EQ(L"0xFFFFFFFF (4294967295)", FormatNumber(0xFFFFFFFFu, 4, REG_DWORD));
    EXPECT_EQ(L"0x100000000 (4294967296)", FormatNumber(1ULL << 32, 8, REG_QWORD));
    EXPECT_EQ(L"0xFFFFFFFFFFFFFFFF (18446744073709551615)", FormatNumber(~0ULL, 8, REG_QWORD));
}

TEST(FormatRegistryValue, ShortNumbersNeverShowBytesBeyondTheData)
{
    // A reused buffer holds old bytes after the short value; they must not
    // leak into the number.
    BYTE buffer[8] = {0x2A, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(L"0x2A (42)", Format(buffer, 1, REG_DWORD));
    EXPECT_EQ(L"0x2A (42)", Format(buffer, 1, REG_QWORD));
    EXPECT_EQ(L"0x0 (0)", Format(buffer, 0, REG_DWORD));
    EXPECT_EQ(L"0x0 (0)", Format(nullptr, 0, REG_QWORD));
}

TEST(FormatRegistryValue, StringsStopAtTheirNulOrTheDataEnd)
{
    const wchar_t text[] = L"abc\0def";
    EXPECT_EQ(L"abc", Format(text, sizeof(text), REG_SZ));
    EXPECT_EQ(L"ab", Format(text, 4, REG_SZ)); // no terminator inside the data
    EXPECT_EQ(L"ab", Format(text, 5, REG_EXPAND_SZ)); // odd byte count
    EXPECT_EQ(L"%PATH%", Format(L"%PATH%", 14, REG_EXPAND_SZ)); // not expanded
    EXPECT_EQ(L"", Format(text, 0, REG_SZ));
}

TEST(FormatRegistryValue, MultiStringsJoinTheirEntriesByBytePosition)
{
    const wchar_t ab[] = {L'a', 0, L'b', 0, 0};
    EXPECT_EQ(L"a, b", Format(ab, 10, REG_MULTI_SZ));
    const wchar_t xEmptyY[] = {L'x', 0, 0, L'y', 0, 0};
    EXPECT_EQ(L"x, y", Format(xEmptyY, sizeof(xEmptyY), REG_MULTI_SZ));
    const wchar_t nul[] = {0, 0};
    EXPECT_EQ(L"", Format(nul, 2, REG_MULTI_SZ));
    EXPECT_EQ(L"", Format(nul, 4, REG_MULTI_SZ));
    const wchar_t unterminated[] = {L'o', L'n', L'e', 0, L't', L'w', L'o'};
    EXPECT_EQ(L"one, two", Format(unterminated, sizeof(unterminated), REG_MULTI_SZ));
    EXPECT_EQ(L"one, tw", Format(unterminated, 13, REG_MULTI_SZ));
}

TEST(FormatRegistryValue, BinaryAndUnknownTypes)
{
    BYTE twelve[12] = {};
    EXPECT_EQ(L"12 Bytes Binary Data", Format(twelve, 12, REG_BINARY));
    EXPECT_EQ(L"0 Bytes Binary Data", Format(twelve, 0, REG_BINARY));
    EXPECT_EQ(L"Unknown Type 0x5", Format(twelve, 4, 5));
    EXPECT_EQ(L"Unknown Type 0x2A", Format(twelve, 4, 42));
    EXPECT_EQ(L"Unknown Type 0x0", Format(twelve, 4, REG_NONE));
    EXPECT_EQ(L"Unknown Type 0x8", Format(twelve, 4, REG_RESOURCE_LIST));
}

TEST(FormatRegistryValue, RandomDataNeverReadsPastItsEnd)
{
    // Each case sits at the very end of a page followed by a guard page, so a
    // read beyond the data faults.
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    DWORD page = info.dwPageSize;
    BYTE* region = (BYTE*)VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(nullptr, region);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(region + page, page, PAGE_NOACCESS, &old));
    std::mt19937 random(20261208);
    const DWORD types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                           5, 6, REG_MULTI_SZ, 8, 11, 0xFFFFFFFF};
    for (int round = 0; round < 20000; ++round) {
        DWORD size = random() % 64;
        BYTE* data = region + page - size;
        for (DWORD i = 0; i < size; ++i)
            data[i] = (random() % 3 == 0) ? 0 : (BYTE)random();
        DWORD type = types[random() % (sizeof(types) / sizeof(types[0]))];
        WideString value;
        FormatRegistryValue(data, size, type, value);
        ASSERT_LE(value.Length(), (int)size + 64);
    }
    VirtualFree(region, 0, MEM_RELEASE);
}

TEST(GuidText, GivesTheBracedUpperCaseForm)
{
    const GUID net = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    WideString text;
    ASSERT_TRUE(GuidText(net, text));
    EXPECT_STREQ(L"{4D36E972-E325-11CE-BFC1-08002BE10318}", text.Text());
    EXPECT_EQ(38, text.Length());
}

TEST(FormatDateTime, ShowsTheStoredTimeNotTheLocalOne)
{
    // The tests run with a time zone far from UTC (see tests/CMakeLists.txt),
    // where converting 23:59 UTC to local time would change the day.
    SYSTEMTIME time = {};
    time.wYear = 2024;
    time.wMonth = 2;
    time.wDay = 29;
    time.wHour = 23;
    time.wMinute = 59;
    time.wSecond = 30;
    WideString text(L"");
    FormatDateTime(text, 5, time);

    WideString date, clock;
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &time, nullptr, date.Buffer(),
                   date.Capacity() - 1);
    date.Recompute();
    GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &time, nullptr, clock.Buffer(),
                   clock.Capacity() - 1);
    clock.Recompute();
    std::wstring shown = text.Text();
    EXPECT_NE(std::wstring::npos, shown.find(date.Text())) << shown;
    EXPECT_NE(std::wstring::npos, shown.find(clock.Text())) << shown;
    EXPECT_EQ(std::wstring::npos, shown.find(L":30")) << "seconds are not shown: " << shown;
    // Date first, then time.
    EXPECT_LT(shown.find(date.Text()), shown.find(clock.Text()));

    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    EXPECT_NE(0, zone.Bias) << "the test needs a time zone away from UTC to mean anything";
}
