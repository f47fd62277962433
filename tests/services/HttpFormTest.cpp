#include <gtest/gtest.h>

#include <string>

#include "common/ScratchFile.h"
#include "services/Base64.h"
#include "services/HttpForm.h"

namespace {

std::string DataOf(const HttpFormPart* part)
{
    return std::string((const char*)part->buffers.lpvBuffer, part->buffers.dwBufferLength);
}

} // namespace

TEST(HttpForm, EveryPartCarriesTheTotalAndLinksToTheNext)
{
    EXPECT_EQ(std::wstring(29, L'-') + L"1234567890123", std::wstring(HttpForm::Boundary));
    ScratchFile file(L".bin");
    ASSERT_TRUE(file.Write(std::string("\0\x01\xFFzip", 6)));
    HttpForm form;
    ASSERT_EQ(1, form.AddField(L"p", L"quillmere"));
    ASSERT_EQ(1, form.AddFile(L"d", file.Path()));
    ASSERT_EQ(1, form.AddClosing());

    std::vector<const HttpFormPart*> parts;
    DWORD sum = 0;
    for (const HttpFormPart* part = form.Head(); part; part = part->next) {
        parts.push_back(part);
        sum += part->buffers.dwBufferLength;
        EXPECT_EQ(sizeof(void*) == 8 ? 56u : 40u, part->buffers.dwStructSize);
        EXPECT_EQ(part->next ? &part->next->buffers : nullptr, part->buffers.Next);
    }
    ASSERT_EQ(5u, parts.size()); // field, file header, file data, CR LF, closing line
    EXPECT_EQ(sum, form.TotalLength());
    for (const HttpFormPart* part : parts)
        EXPECT_EQ(sum, part->buffers.dwBufferTotal);
    EXPECT_EQ(std::string("\0\x01\xFFzip", 6), DataOf(parts[2]));
    EXPECT_NE(nullptr, parts[2]->view);
    EXPECT_EQ("\r\n", DataOf(parts[3]));
    EXPECT_EQ("-------------------------------1234567890123--\r\n", DataOf(parts[4]));
    EXPECT_EQ(0u, DataOf(parts[1]).find("-------------------------------1234567890123\r\n"
                                        "Content-Disposition: form-data; name=\"d\"; filename=\"quill_"));

    form.Clear();
    EXPECT_TRUE(form.IsEmpty());
    EXPECT_EQ(0u, form.TotalLength());
}

TEST(HttpForm, PathComponentsAndAFileThatCannotBeOpened)
{
    HttpForm form;
    EXPECT_EQ(0, form.AddFile(L"t", L"C:\\no\\such/dir\\report_Debug.txt"));
    ASSERT_NE(nullptr, form.Head());
    std::string header = DataOf(form.Head());
    EXPECT_NE(std::string::npos, header.find("filename=\"report_Debug.txt\"\r\n"));
    ASSERT_NE(nullptr, form.Head()->next);
    EXPECT_EQ("\r\n", DataOf(form.Head()->next));
    EXPECT_EQ(nullptr, form.Head()->next->next);
}

TEST(Base64, EncodesWithPadding)
{
    struct Case {
        const char* plain;
        const wchar_t* encoded;
    } cases[] = {
        {"", L""},           {"f", L"Zg=="},         {"fo", L"Zm8="},
        {"foo", L"Zm9v"},    {"foob", L"Zm9vYg=="},  {"user:pass", L"dXNlcjpwYXNz"},
        {"\xFF\xFE\xFD", L"//79"},
    };
    for (const Case& c : cases) {
        WideString out;
        out = L"stale";
        ASSERT_EQ(1, EncodeBase64(c.plain, strlen(c.plain), out));
        EXPECT_STREQ(c.encoded, out.Text());
    }
}
