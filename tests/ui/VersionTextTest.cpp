#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "ui/ErrorText.h"
#include "ui/ModuleResources.h"
#include "ui/VersionText.h"
#include "ui/uitest.h"

namespace {

// A writable copy of one of our own version resources, the way
// GetFileVersionInfoW would hand it out.
class VersionResourceCopy {
public:
    explicit VersionResourceCopy(int id)
    {
        DWORD size = 0;
        const void* data = FindModuleResource(nullptr, RT_VERSION, MAKEINTRESOURCEW(id), 1033, &size);
        if (data) {
            // Room behind the block, as the real API leaves for its own use.
            copy_ = calloc(1, size * 2);
            memcpy(copy_, data, size);
        }
    }
    ~VersionResourceCopy() { free(copy_); }
    const void* Data() const { return copy_; }

private:
    void* copy_ = nullptr;
};

WideString TempFile(const wchar_t* name)
{
    WideString path;
    path.Reserve(MAX_PATH + 1);
    GetTempPathW(MAX_PATH, path.Buffer());
    path.Recompute();
    path.Append(name);
    return path;
}

TEST(VersionText, CaptionCarriesTheGermanFileVersion)
{
    WideString caption;
    EXPECT_STREQ(L"Quillmere [2.05]", CaptionWithVersion(L"Quillmere", nullptr, caption));
    EXPECT_EQ(0x205u, PackedVersion(nullptr));
}

TEST(VersionText, BlocksWithoutOrWithOnlyOneStringBlock)
{
    VersionNumbers numbers;
    VersionResourceCopy fixedOnly(IDV_FIXED_ONLY);
    ASSERT_NE(nullptr, fixedOnly.Data());
    EXPECT_TRUE(VersionNumbersFromBlock(fixedOnly.Data(), numbers));
    EXPECT_EQ(6u, numbers.major); // the product version, not the file version
    EXPECT_EQ(12u, numbers.minor);

    VersionResourceCopy englishOnly(IDV_ENGLISH_ONLY);
    EXPECT_TRUE(VersionNumbersFromBlock(englishOnly.Data(), numbers));
    EXPECT_EQ(7u, numbers.major);
    EXPECT_EQ(3u, numbers.minor);

    // " 8, 4" reads as 8 and keeps the default minor number.
    VersionResourceCopy noMinor(IDV_NO_MINOR);
    EXPECT_TRUE(VersionNumbersFromBlock(noMinor.Data(), numbers));
    EXPECT_EQ(8u, numbers.major);
    EXPECT_EQ(1u, numbers.minor);
}

TEST(VersionText, AFileWithoutVersionResourceGivesOnePointZeroOne)
{
    WideString path = TempFile(L"quill_no_version.txt");
    HANDLE file = CreateFileW(path.Text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "MZ not really", 13, &written, nullptr);
    CloseHandle(file);

    VersionNumbers numbers;
    numbers.major = 77;
    EXPECT_FALSE(ReadFileVersionNumbers(path.Text(), numbers));
    EXPECT_EQ(1u, numbers.major);
    EXPECT_EQ(1u, numbers.minor);
    WideString value = L"stale";
    EXPECT_FALSE(VersionString(L"FileDescription", path.Text(), value));
    EXPECT_TRUE(value.IsEmpty());
    DeleteFileW(path.Text());

    EXPECT_FALSE(ReadFileVersionNumbers(L"C:\\quill\\no\\such\\file.exe", numbers));
    EXPECT_EQ(1u, numbers.minor);
}

TEST(VersionText, VersionStringsPreferTheGermanBlock)
{
    WideString value;
    EXPECT_TRUE(VersionString(L"FileDescription", nullptr, value));
    EXPECT_STREQ(L"Werkzeugtests", value.Text());
    EXPECT_TRUE(VersionString(L"CompanyName", nullptr, value)); // English block only
    EXPECT_STREQ(L"Tollbrook", value.Text());
    EXPECT_FALSE(VersionString(L"SpecialBuild", nullptr, value));
    EXPECT_TRUE(value.IsEmpty());

    WideString own;
    ASSERT_TRUE(ModuleFile(nullptr, own));
    EXPECT_TRUE(VersionString(L"FileVersion", own.Text(), value));
    EXPECT_STREQ(L"2.5", value.Text());
}

TEST(ErrorText, SystemMessagesComeBackAsOneTrimmedLine)
{
    WideString text;
    const wchar_t* message = ErrorText(ERROR_FILE_NOT_FOUND, text);
    ASSERT_NE(nullptr, message);
    EXPECT_GT(text.Length(), 0);
    EXPECT_EQ(-1, text.Find(L"\r"));
    EXPECT_EQ(-1, text.Find(L"\n"));
    EXPECT_NE(L' ', text.At(text.Length() - 1));
}

TEST(ErrorText, WinInetCodesAndUnknownCodes)
{
    WideString text;
    // ERROR_INTERNET_NAME_NOT_RESOLVED is known only to wininet.dll.
    ASSERT_NE(nullptr, ErrorText(12007, text));
    EXPECT_GT(text.Length(), 0);
    EXPECT_EQ(-1, text.Find(L"\n"));
    EXPECT_EQ(nullptr, ErrorText(0x2000ABCD, text));
    EXPECT_TRUE(text.IsEmpty());
    // A message with an insert is given as it stands, not filled with garbage.
    ASSERT_NE(nullptr, ErrorText(ERROR_BAD_EXE_FORMAT, text));
    EXPECT_GE(text.Find(L"%1"), 0);
}

TEST(ErrorText, FlatteningJoinsLinesAndTrimsTheEnd)
{
    WideString text = L"First line.\r\nSecond line.\r\n  ";
    FlattenMessageText(text);
    EXPECT_STREQ(L"First line.  Second line.", text.Text());
    text = L"\r\n";
    FlattenMessageText(text);
    EXPECT_STREQ(L"", text.Text());
    text = L" inner  spaces stay";
    FlattenMessageText(text);
    EXPECT_STREQ(L" inner  spaces stay", text.Text());
}

} // namespace
