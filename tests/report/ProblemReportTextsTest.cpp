#include <gtest/gtest.h>

#include "report/ProblemReportDialog.h"
#include "ui/DialogTemplateFont.h"
#include "ui/ModuleResources.h"

TEST(ProblemReportTexts, TheWebsiteComesFromEitherSchemeUpToWhereTheAddressEnds)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* website; // nullptr: none
        const wchar_t* display;
    } cases[] = {
        {L"Quillmere [http://www.tollbrook.example/]", L"http://www.tollbrook.example",
         L"www.tollbrook.example"},
        {L"https://www.tollbrook.example/", L"https://www.tollbrook.example", L"www.tollbrook.example"},
        {L"See HTTP://Tollbrook.example/q/ for more", L"HTTP://Tollbrook.example/q",
         L"Tollbrook.example/q"},
        {L"<a href=\"http://x.example\">", L"http://x.example", L"x.example"},
        {L"first https://a.example then http://b.example", L"https://a.example", L"a.example"},
        {L"redirect http://a.example/?to=http://b.example", L"http://a.example/?to=http://b.example",
         L"a.example/?to=http://b.example"},
        {L"only a scheme: http://] and httpx://no", nullptr, nullptr},
        {L"ftp://files.example", nullptr, nullptr},
        {L"", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        WideString website, display;
        EXPECT_EQ(c.website ? 1 : 0, FindWebsite(c.text, website)) << c.text;
        EXPECT_STREQ(c.website ? c.website : L"", website.Text()) << c.text;
        WebsiteDisplayForm(website.Text(), display);
        EXPECT_STREQ(c.display ? c.display : L"", display.Text()) << c.text;
    }
}

TEST(ProblemReportTexts, VersionResourceTextsAndTheirFallbacks)
{
    WideString file;
    ASSERT_EQ(1, ModuleFile(nullptr, file));
    ProblemReportTexts texts;
    ReadProblemReportTexts(file.Text(), texts);
    EXPECT_STREQ(L"Quillmere", texts.product.Text());
    EXPECT_STREQ(L"Tollbrook", texts.company.Text());
    EXPECT_STREQ(L"HTTPS://www.tollbrook.example/quillmere", texts.website.Text());
    EXPECT_STREQ(L"www.tollbrook.example/quillmere", texts.websiteDisplay.Text());

    ReadProblemReportTexts(L"C:\\no\\such\\module.dll", texts);
    EXPECT_STREQ(L"", texts.product.Text());
    EXPECT_STREQ(L"us", texts.company.Text());
    EXPECT_STREQ(L"", texts.website.Text());
}

TEST(ProblemReportTexts, TextsThatWouldBreakTheMarkupArePlain)
{
    ProblemReportTexts texts;
    texts.company = L"Quill <b>& Co";
    texts.website = L"https://www.tollbrook.example";
    texts.websiteDisplay = L"www.tollbrook.example";
    WideString markup, plain;
    EXPECT_EQ(0, ProblemReportDialog::MessageMarkup(texts, markup));
    ProblemReportDialog::MessagePlain(texts, plain);
    EXPECT_STREQ(L"Please tell Quill <b>& Co about this problem.\n\nYou can check the website "
                 L"'www.tollbrook.example' for a newer version.",
                 plain.Text());

    EXPECT_EQ(0, ProblemReportDialog::FileListMarkup(L"C:\\a\"b\\x.dmp", L"C:\\x.txt", markup));
    ProblemReportDialog::FileListPlain(L"C:\\a\\x.dmp", L"C:\\a/x.txt", plain);
    EXPECT_STREQ(L"The files x.txt and x.dmp will be sent. They do not contain any personal "
                 L"information.",
                 plain.Text());
    ProblemReportDialog::FileListPlain(L"", L"C:\\a\\x.txt", plain);
    EXPECT_STREQ(L"The file x.txt will be sent. It does not contain any personal information.",
                 plain.Text());
}

TEST(ProblemReportTexts, TheTemplateIsAClassicDialogInTheLegacyFont)
{
    ByteBuffer bytes;
    ASSERT_EQ(1, ProblemReportDialog::BuildTemplate(bytes));
    DialogTemplateLayout layout;
    ASSERT_EQ(1, ParseDialogTemplate(bytes.Data(), bytes.Size(), &layout));
    EXPECT_FALSE(layout.extended);
    EXPECT_EQ(12, layout.itemCount);
    EXPECT_EQ(bytes.Size(), layout.end);
    EXPECT_EQ((DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT),
              *(const DWORD*)bytes.Data());
    EXPECT_EQ(8, *(const WORD*)(bytes.Data() + layout.pointSizeOffset));
    EXPECT_EQ(std::wstring(L"MS Sans Serif"),
              std::wstring((const wchar_t*)(bytes.Data() + layout.faceOffset), layout.faceLength));
}
