#include <gtest/gtest.h>

#include "common/ScratchFile.h"
#include "services/FileHash.h"

TEST(FileHash, Sha256OfKnownContents)
{
    struct Case {
        std::string bytes;
        const wchar_t* digest;
    } cases[] = {
        {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(200000, 'a'), // more than one read
         L"2287d207f24a941ff3b56c04c8a25ad56b63e3023207b3bb5b4ac0c9869d74be"},
    };
    for (const Case& c : cases) {
        ScratchFile file;
        ASSERT_TRUE(file.Write(c.bytes));
        WideString digest;
        ASSERT_EQ(1, FileSha256(file.Path(), digest));
        EXPECT_STREQ(c.digest, digest.Text());
        EXPECT_TRUE(SameDigest(c.digest, digest.Text()));
    }
    EXPECT_TRUE(SameDigest(L"  BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\n",
                           L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_FALSE(SameDigest(L"ba7816bf", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_FALSE(SameDigest(L"", L""));
    WideString none;
    EXPECT_EQ(0, FileSha256(L"C:\\quillmere-no-such-file.bin", none));
}
