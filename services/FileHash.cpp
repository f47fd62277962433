#include "services/FileHash.h"

#include <wincrypt.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

const DWORD DigestBytes = Sha256Bytes;
const DWORD ChunkBytes = 64 * 1024;

class Provider {
public:
    Provider()
    {
        if (!CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
            provider_ = 0;
    }
    ~Provider()
    {
        if (hash_)
            CryptDestroyHash(hash_);
        if (provider_)
            CryptReleaseContext(provider_, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    int Begin() { return provider_ && CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_); }
    int Add(const BYTE* bytes, DWORD count) { return CryptHashData(hash_, bytes, count, 0) != 0; }
    int Finish(BYTE (&digest)[DigestBytes])
    {
        DWORD size = DigestBytes;
        return CryptGetHashParam(hash_, HP_HASHVAL, digest, &size, 0) && size == DigestBytes;
    }

private:
    HCRYPTPROV provider_ = 0;
    HCRYPTHASH hash_ = 0;
};

class ReadHandle {
public:
    explicit ReadHandle(const wchar_t* path)
        : handle_(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr))
    {
    }
    ~ReadHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

int FileSha256(const wchar_t* path, WideString& hex)
{
    hex.Clear();
    ReadHandle file(path);
    Provider hash;
    if (file.Get() == INVALID_HANDLE_VALUE || !hash.Begin())
        return 0;
    BYTE* chunk = (BYTE*)malloc(ChunkBytes);
    if (!chunk)
        return 0;
    int ok = 1;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), chunk, ChunkBytes, &got, nullptr)) {
            ok = 0;
            break;
        }
        if (got == 0)
            break;
        if (!hash.Add(chunk, got)) {
            ok = 0;
            break;
        }
    }
    free(chunk);
    BYTE digest[DigestBytes];
    if (!ok || !hash.Finish(digest))
        return 0;
    return HexText(digest, (int)DigestBytes, hex);
}

int Sha256(const void* bytes, DWORD size, BYTE (&digest)[Sha256Bytes])
{
    Provider hash;
    return hash.Begin() && hash.Add((const BYTE*)bytes, size) && hash.Finish(digest);
}

int HexText(const BYTE* bytes, int count, WideString& hex)
{
    static const wchar_t Digits[] = L"0123456789abcdef";
    hex.Clear();
    if (!hex.Reserve(count * 2 + 1))
        return 0;
    for (int i = 0; i < count; ++i) {
        hex.Append(Digits[bytes[i] >> 4]);
        hex.Append(Digits[bytes[i] & 0xF]);
    }
    return 1;
}

bool SameDigest(const wchar_t* expected, const wchar_t* hex)
{
    if (!expected || !hex)
        return false;
    while (*expected == L' ' || *expected == L'\t' || *expected == L'\r' || *expected == L'\n')
        ++expected;
    int length = (int)wcslen(hex);
    if (length == 0 || CompareAsciiNoCase(expected, hex, length) != 0)
        return false;
    for (const wchar_t* rest = expected + length; *rest; ++rest)
        if (*rest != L' ' && *rest != L'\t' && *rest != L'\r' && *rest != L'\n')
            return false;
    return true;
}
