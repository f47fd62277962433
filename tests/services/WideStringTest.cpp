#include <gtest/gtest.h>

#include "services/WideString.h"

#include <string>

TEST(WideString, StartsEmptyWith260Characters)
{
    WideString s;
    EXPECT_EQ(0, s.Length());
    EXPECT_EQ(260, s.Capacity());
    EXPECT_STREQ(L"", s.Text());
}

TEST(WideString, AppendingGrowsByTheDocumentedSteps)
{
    WideString s;
    for (int i = 0; i < 259; ++i)
        ASSERT_TRUE(s.Append(L'x'));
    EXPECT_EQ(260, s.Capacity()); // 259 characters and the terminator fit exactly
    ASSERT_TRUE(s.Append(L'y'));
    EXPECT_EQ(259 + 21, s.Capacity());
    EXPECT_EQ(260, s.Length());

    WideString t;
    std::wstring big(300, L'a');
    ASSERT_TRUE(t.Append(big.c_str()));
    EXPECT_EQ(301 + 20, t.Capacity());
    EXPECT_EQ(300, t.Length());
    EXPECT_EQ(big, t.Text());
}

TEST(WideString, AppendWithSeparatorSkipsEmptyPiecesAndLeadingSeparator)
{
    WideString s;
    s.AppendWithSeparator(L"", L", ");
    EXPECT_STREQ(L"", s.Text());
    s.AppendWithSeparator(L"a", L", ");
    s.AppendWithSeparator(L"", L", ");
    s.AppendWithSeparator(L"b", L", ");
    EXPECT_STREQ(L"a, b", s.Text());
}

TEST(WideString, FormatUsesWindowsPrintfRules)
{
    WideString s;
    ASSERT_TRUE(s.Format(L"%s|%hs|%I64u|%I64X|%u|%08X", L"wide", "narrow", 4294967296ULL,
                         0x1234567890ULL, 42u, 0x1Cu));
    EXPECT_STREQ(L"wide|narrow|4294967296|1234567890|42|0000001C", s.Text());
}

TEST(WideString, FormatGrowsForLongResults)
{
    std::wstring big(20000, L'q');
    WideString s;
    ASSERT_TRUE(s.Format(L"<%s>", big.c_str()));
    EXPECT_EQ(20002, s.Length());
    EXPECT_EQ(L'<', s.At(0));
    EXPECT_EQ(L'>', s.At(20001));
    // 260 + k*260 up to 10240, then steps of 10240
    EXPECT_EQ(0, (s.Capacity() - 10400) % 10240);

    WideString exact;
    std::wstring fits(259, L'z');
    ASSERT_TRUE(exact.Format(L"%s", fits.c_str()));
    EXPECT_EQ(259, exact.Length());
}

TEST(WideString, FormatGivesUpBeyondTheLimitWithEmptyText)
{
    std::wstring huge(WideString::FormatLimit + 10, L'h');
    WideString s(L"old");
    EXPECT_EQ(0, s.Format(L"%s", huge.c_str()));
    EXPECT_STREQ(L"", s.Text());
    EXPECT_EQ(0, s.Length());
}

TEST(WideString, ComparisonsFoldOnlyAsciiLetters)
{
    WideString s(L"Root");
    EXPECT_EQ(0, s.CompareNoCase(L"rOOT"));
    EXPECT_NE(0, s.Compare(L"rOOT"));
    EXPECT_EQ(0, CompareAsciiNoCase(L"\u00C4x", L"\u00C4X"));
    EXPECT_NE(0, CompareAsciiNoCase(L"\u00C4", L"\u00E4"));
    EXPECT_EQ(0, s.CompareNoCase(L"ROxx", 2));
    EXPECT_LT(CompareAsciiNoCase(L"abc", L"ABD"), 0);
    EXPECT_GT(CompareAsciiNoCase(L"abc", L"AB"), 0);
}

TEST(WideString, LogicalComparisonOrdersNumbersByValue)
{
    EXPECT_LT(CompareLogical(L"file9", L"file10"), 0);
    EXPECT_GT(CompareLogical(L"10", L"9"), 0);
    EXPECT_EQ(0, CompareLogical(L"Same", L"same"));
}

TEST(WideString, ConvertsFromAndTo8BitText)
{
    WideString s;
    ASSERT_TRUE(s.FromMultiByte("\xC3\xA9t\xC3\xA9", -1, CP_UTF8));
    EXPECT_STREQ(L"\u00E9t\u00E9", s.Text());

    ASSERT_TRUE(s.FromMultiByte("\xE9\x80\xFF", 3, WideString::BytePerChar));
    EXPECT_EQ(3, s.Length());
    EXPECT_EQ(0xE9, s.At(0));
    EXPECT_EQ(0x80, s.At(1));
    EXPECT_EQ(0xFF, s.At(2));

    int size = 0;
    char* bytes = s.ToMultiByte(WideString::BytePerChar, &size);
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ(3, size);
    EXPECT_EQ(std::string("\xE9\x80\xFF"), std::string(bytes, 3));
    free(bytes);

    WideString e(L"\u00E9");
    char* utf8 = e.ToMultiByte(CP_UTF8, &size);
    ASSERT_NE(nullptr, utf8);
    EXPECT_EQ(std::string("\xC3\xA9"), utf8);
    free(utf8);
}

TEST(WideString, RecomputesLengthAfterAPlatformWrite)
{
    WideString s;
    GetWindowsDirectoryW(s.Buffer(), s.Capacity() - 1);
    s.Recompute();
    EXPECT_GT(s.Length(), 2);
    EXPECT_EQ((int)wcslen(s.Text()), s.Length());

    // A buffer filled to the brim without terminator keeps capacity - 1.
    wmemset(s.Buffer(), L'a', s.Capacity());
    s.Recompute();
    EXPECT_EQ(s.Capacity() - 1, s.Length());
}

TEST(WideString, RemovesEveryOccurrenceAndFinds)
{
    WideString s(L"DN_A, DN_B, XDN_");
    s.RemoveAll(L"DN_");
    EXPECT_STREQ(L"A, B, X", s.Text());
    EXPECT_EQ(3, s.Find(L"B"));
    EXPECT_EQ(-1, s.Find(L"Q"));
}

TEST(WideString, SelfAssignmentAndSelfAppendAreSafe)
{
    WideString s(L"abc");
    s.Append(s.Text());
    EXPECT_STREQ(L"abcabc", s.Text());
    std::wstring big(400, L'k');
    WideString t(big.c_str());
    t.Append(t.Text());
    EXPECT_EQ(800, t.Length());
    t.Assign(t.Text() + 790);
    EXPECT_EQ(10, t.Length());
}

TEST(WideString, ExactTextsKeepOnlyTheirOwnLength)
{
    WideString name = WideString::WithCapacity(1);
    EXPECT_EQ(1, name.Capacity());
    EXPECT_STREQ(L"", name.Text());
    ASSERT_TRUE(name.AssignExact(L"Intel(R) Ethernet", 8));
    EXPECT_STREQ(L"Intel(R)", name.Text());
    EXPECT_EQ(9, name.Capacity());

    WideString large;
    large.Reserve(4096);
    large = L"PCI bus";
    ASSERT_TRUE(large.AssignExact(large.Text() + 4)); // from its own buffer
    EXPECT_STREQ(L"bus", large.Text());
    EXPECT_EQ(4, large.Capacity());
    // Growing afterwards follows the usual rules.
    ASSERT_TRUE(large.Append(L" 0"));
    EXPECT_STREQ(L"bus 0", large.Text());
    EXPECT_GE(large.Capacity(), 6);
}
