#include "update/UpdateSignature.h"

#include <bcrypt.h>
#include <stdlib.h>

#include "services/Base64.h"
#include "services/FileHash.h"
#include "update/UpdateRules.h"

namespace {

const int SignatureBytes = 64;

// An algorithm provider and one imported key at a time, released with the
// object.
class EcdsaVerifier {
public:
    EcdsaVerifier()
    {
        if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0)
            algorithm_ = nullptr;
    }
    ~EcdsaVerifier()
    {
        DropKey();
        if (algorithm_)
            BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    EcdsaVerifier(const EcdsaVerifier&) = delete;
    EcdsaVerifier& operator=(const EcdsaVerifier&) = delete;

    int Verify(const UpdatePublicKey& publicKey, BYTE (&digest)[Sha256Bytes],
               BYTE (&signature)[SignatureBytes])
    {
        DropKey();
        struct {
            BCRYPT_ECCKEY_BLOB header;
            BYTE point[64];
        } blob;
        blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
        blob.header.cbKey = 32;
        memcpy(blob.point, publicKey.point, sizeof blob.point);
        if (!algorithm_ ||
            BCryptImportKeyPair(algorithm_, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key_, (PUCHAR)&blob,
                                sizeof blob, 0) != 0) {
            key_ = nullptr;
            return 0;
        }
        return BCryptVerifySignature(key_, nullptr, digest, Sha256Bytes, signature,
                                     SignatureBytes, 0) == 0;
    }

private:
    void DropKey()
    {
        if (key_)
            BCryptDestroyKey(key_);
        key_ = nullptr;
    }

    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_KEY_HANDLE key_ = nullptr;
};

int SignedDigest(const wchar_t* version, const wchar_t* fileName, const wchar_t* sha256,
                 BYTE (&digest)[Sha256Bytes])
{
    WideString text;
    if (!UpdateSignedText(version, fileName, sha256, text))
        return 0;
    int size = 0;
    char* bytes = text.ToMultiByte(CP_UTF8, &size);
    if (!bytes)
        return 0;
    int ok = Sha256(bytes, (DWORD)size, digest);
    free(bytes);
    return ok;
}

// The lines of the signed text must stay lines: a version or name with a
// line break in it could be read as another split of the same text.
bool IsOneLine(const wchar_t* text)
{
    if (!text || !*text)
        return false;
    for (; *text; ++text)
        if (*text < 0x20 || *text == 0x7F)
            return false;
    return true;
}

} // namespace

bool IsSha256Text(const wchar_t* text)
{
    if (!text)
        return false;
    int count = 0;
    for (; text[count]; ++count) {
        wchar_t ch = text[count];
        if (!((ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f')))
            return false;
    }
    return count == 2 * Sha256Bytes;
}

int UpdateSignedText(const wchar_t* version, const wchar_t* fileName, const wchar_t* sha256,
                     WideString& text)
{
    return text.Format(L"Quillmere update\nquillmere\n%s\n%s\n%s\n%s", UpdateArchitecture,
                       version, fileName, sha256);
}

int VerifyUpdateSignature(const wchar_t* version, const wchar_t* fileName, const wchar_t* sha256,
                          const wchar_t* signature, const UpdatePublicKey* keys, int keyCount)
{
    if (!IsOneLine(version) || !IsOneLine(fileName) || !IsSha256Text(sha256))
        return 0;
    BYTE raw[SignatureBytes];
    size_t size = 0;
    BYTE digest[Sha256Bytes];
    if (!DecodeBase64(signature, raw, sizeof raw, &size) || size != sizeof raw ||
        !SignedDigest(version, fileName, sha256, digest))
        return 0;
    EcdsaVerifier verifier;
    for (int i = 0; i < keyCount && i < UpdateKeyLimit; ++i)
        if (verifier.Verify(keys[i], digest, raw))
            return 1;
    return 0;
}
