#include <gtest/gtest.h>

#include "common/SignedAnswer.h"
#include "update/UpdateRules.h"
#include "update/UpdateSignature.h"

// The programs built for the tests accept the tests' key alone
// (UpdatePublicKeys), the release the maker's.

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

int Verify(const std::string& version, const std::string& name, const std::string& sha256,
           const std::string& signature, const UpdatePublicKey* keys = UpdatePublicKeys,
           int count = UpdatePublicKeyCount)
{
    return VerifyUpdateSignature(Wide(version).c_str(), Wide(name).c_str(), Wide(sha256).c_str(),
                                 Wide(signature).c_str(), keys, count);
}

} // namespace

// Made with `openssl dgst -sha256 -sign tests/update/update-test-key.pem`
// over the signed text, as the release tooling signs: the formats agree.
TEST(UpdateSignature, OpensslSignaturesOfTheTestKeyVerify)
{
    ASSERT_EQ(1, UpdatePublicKeyCount);
    const std::string digest = "c8d18c54d108f4f0237eb4e1c4473cfd3dbd267afe97c2d967003bda0f546e08";
    const std::string openssl =
        "QX7RzfGn+SS/P+1zuyZA7EwRouxztPkCJkMeRfueL14yE+SQ47fK+Fme0mRIlgte6neXGO+e+XpABvfh6HJdxg==";
    WideString text;
    ASSERT_EQ(1, UpdateSignedText(L"1.10", L"Quillmere.zip", Wide(digest).c_str(), text));
    std::wstring expected = L"Quillmere update\nquillmere\n" + std::wstring(UpdateArchitecture) +
                            L"\n1.10\nQuillmere.zip\n" + Wide(digest);
    EXPECT_EQ(expected, std::wstring(text.Text()));
    EXPECT_EQ(lstrcmpW(UpdateArchitecture, L"x64") == 0 ? 1 : 0,
              Verify("1.10", "Quillmere.zip", digest, openssl));
}

TEST(UpdateSignature, CoversTheVersionTheNameTheDigestAndTheProcessor)
{
    const std::string digest = Sha256Hex("the program");
    const std::string good = TestSignature("2.5", "Quillmere.zip", digest);
    EXPECT_EQ(1, Verify("2.5", "Quillmere.zip", digest, good));
    const char* other = lstrcmpW(UpdateArchitecture, L"x64") == 0 ? "x86" : "x64";
    struct Case {
        const char* what;
        std::string version, name, sha256, signature;
    } cases[] = {
        {"another version", "2.4", "Quillmere.zip", digest, good},
        {"the same numbers written otherwise", "2.05", "Quillmere.zip", digest, good},
        {"another file", "2.5", "Readme.txt", digest, good},
        {"another digest", "2.5", "Quillmere.zip", Sha256Hex("another program"), good},
        {"signed for the other processor", "2.5", "Quillmere.zip", digest,
         TestSignature("2.5", "Quillmere.zip", digest, other)},
        {"no signature", "2.5", "Quillmere.zip", digest, ""},
        {"a signature cut short", "2.5", "Quillmere.zip", digest, good.substr(0, 84)},
        {"one bit changed", "2.5", "Quillmere.zip", digest,
         std::string(good).replace(10, 1, good[10] == 'A' ? "B" : "A")},
        {"blanks in the Base64", "2.5", "Quillmere.zip", digest, " " + good},
        {"by a valid key no program accepts", "2.5", "Quillmere.zip", digest,
         OtherKeySignature("2.5", "Quillmere.zip", digest)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(0, Verify(c.version, c.name, c.sha256, c.signature));
    }

    // Texts the key did sign, refused for their form alone: the digest in
    // capitals or one digit short, and lines moved from the name into the
    // version (the same signed text, split otherwise).
    std::string upper = digest;
    for (char& ch : upper)
        ch = (char)toupper((unsigned char)ch);
    struct Signed {
        const char* what;
        std::string version, name, sha256;
        std::string signedVersion, signedName;
    } forms[] = {
        {"the digest in capitals", "2.5", "Quillmere.zip", upper, "2.5", "Quillmere.zip"},
        {"a digest of 63 digits", "2.5", "Quillmere.zip", digest.substr(1), "2.5", "Quillmere.zip"},
        {"a line break in the version", "2.5\nQuillmere", "zip", digest, "2.5", "Quillmere\nzip"},
    };
    for (const Signed& form : forms) {
        SCOPED_TRACE(form.what);
        std::string signature = TestSignature(form.signedVersion, form.signedName, form.sha256);
        ASSERT_FALSE(signature.empty());
        EXPECT_EQ(0, Verify(form.version, form.name, form.sha256, signature));
    }
}

// The maker rotates keys by shipping the successor beside the current one;
// a third is never consulted. The stranger is a valid key of its own,
// whose own signatures it accepts.
TEST(UpdateSignature, AcceptsEitherOfTwoKeysAndNoThird)
{
    const std::string digest = Sha256Hex("archive");
    const std::string signature = TestSignature("3.0", "Quillmere.zip", digest);
    UpdatePublicKey stranger = OtherPublicKey();
    EXPECT_EQ(1, Verify("3.0", "Quillmere.zip", digest,
                        OtherKeySignature("3.0", "Quillmere.zip", digest), &stranger, 1));
    UpdatePublicKey second[] = {stranger, UpdatePublicKeys[0]};
    UpdatePublicKey third[] = {stranger, stranger, UpdatePublicKeys[0]};
    EXPECT_EQ(0, Verify("3.0", "Quillmere.zip", digest, signature, &stranger, 1));
    EXPECT_EQ(1, Verify("3.0", "Quillmere.zip", digest, signature, second, 2));
    EXPECT_EQ(0, Verify("3.0", "Quillmere.zip", digest, signature, third, 3));
}
