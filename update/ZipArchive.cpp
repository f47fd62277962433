#include "update/ZipArchive.h"

#include "services/FileSystem.h"

#include <new>
#include <stdlib.h>
#include <string.h>

#include <zlib.h>

namespace {

const DWORD EndSignature = 0x06054B50;
const DWORD CentralSignature = 0x02014B50;
const DWORD LocalSignature = 0x04034B50;
const DWORD EndRecordSize = 22;
const DWORD CentralRecordSize = 46;
const DWORD LocalRecordSize = 30;
const DWORD LongestComment = 0xFFFF;
const DWORD ChunkSize = 64 * 1024;
// A central directory this large belongs to no archive the update takes.
const DWORD DirectoryLimit = 64u * 1024 * 1024;

const WORD Stored = 0;
const WORD Deflated = 8;
const WORD EncryptedFlags = 0x0001 | 0x0040 | 0x2000; // traditional, strong, directory
const WORD Utf8NameFlag = 0x0800;
const UINT DosCodePage = 437;

WORD Word(const BYTE* p)
{
    return (WORD)(p[0] | (p[1] << 8));
}

DWORD Dword(const BYTE* p)
{
    return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

int DecodeName(const BYTE* bytes, int length, bool utf8, WideString& name)
{
    for (int i = 0; i < length; ++i)
        if (bytes[i] == 0)
            return 0;
    UINT codePage = utf8 ? CP_UTF8 : DosCodePage;
    DWORD flags = utf8 ? MB_ERR_INVALID_CHARS : 0;
    int needed = MultiByteToWideChar(codePage, flags, (const char*)bytes, length, nullptr, 0);
    if (needed <= 0 && !utf8) {
        codePage = CP_ACP;
        needed = MultiByteToWideChar(codePage, 0, (const char*)bytes, length, nullptr, 0);
    }
    if (needed <= 0 || !name.Reserve(needed + 1))
        return 0;
    if (MultiByteToWideChar(codePage, flags, (const char*)bytes, length, name.Buffer(), needed) !=
        needed)
        return 0;
    name.SetLength(needed);
    return 1;
}

// Two read buffers for one extraction, freed with it.
class Buffers {
public:
    Buffers() : in_((BYTE*)malloc(ChunkSize)), out_((BYTE*)malloc(ChunkSize)) {}
    ~Buffers()
    {
        free(in_);
        free(out_);
    }
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;
    bool Valid() const { return in_ && out_; }
    BYTE* In() const { return in_; }
    BYTE* Out() const { return out_; }

private:
    BYTE* in_;
    BYTE* out_;
};

} // namespace

void ZipArchive::Close()
{
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    delete[] entries_;
    entries_ = nullptr;
    count_ = 0;
    fileSize_ = 0;
    directoryOffset_ = 0;
}

int ZipArchive::ReadAt(unsigned long long offset, void* buffer, DWORD bytes)
{
    if (offset > fileSize_ || bytes > fileSize_ - offset)
        return 0;
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN))
        return 0;
    BYTE* target = (BYTE*)buffer;
    while (bytes) {
        DWORD got = 0;
        if (!ReadFile(file_, target, bytes, &got, nullptr) || got == 0)
            return 0;
        target += got;
        bytes -= got;
    }
    return 1;
}

int ZipArchive::Open(const wchar_t* path, const ZipLimits& limits)
{
    Close();
    file_ = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    LARGE_INTEGER size;
    if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size)) {
        Close();
        return 0;
    }
    fileSize_ = (unsigned long long)size.QuadPart;

    unsigned long long endOffset = 0;
    BYTE end[EndRecordSize];
    if (!FindEndRecord(endOffset, end)) {
        Close();
        return 0;
    }
    WORD disk = Word(end + 4), directoryDisk = Word(end + 6);
    WORD onDisk = Word(end + 8), count = Word(end + 10);
    DWORD directorySize = Dword(end + 12);
    DWORD directoryOffset = Dword(end + 16);
    // 0xFFFF and 0xFFFFFFFF announce ZIP64 records, which no update needs.
    bool plain = disk == 0 && directoryDisk == 0 && onDisk == count && count != 0xFFFF &&
                 directorySize != 0xFFFFFFFF && directoryOffset != 0xFFFFFFFF;
    if (!plain || count > limits.entries || directorySize > DirectoryLimit ||
        (unsigned long long)directoryOffset + directorySize > endOffset ||
        (unsigned long long)count * CentralRecordSize > directorySize) {
        Close();
        return 0;
    }
    directoryOffset_ = directoryOffset;
    BYTE* directory = (BYTE*)malloc(directorySize ? directorySize : 1);
    int ok = directory && ReadAt(directoryOffset, directory, directorySize) &&
             ReadDirectory(directory, directorySize, count, limits);
    free(directory);
    if (!ok) {
        Close();
        return 0;
    }
    return 1;
}

int ZipArchive::FindEndRecord(unsigned long long& offset, BYTE (&record)[EndRecordSize])
{
    if (fileSize_ < EndRecordSize)
        return 0;
    DWORD tail = (DWORD)(fileSize_ < EndRecordSize + LongestComment ? fileSize_
                                                                    : EndRecordSize + LongestComment);
    BYTE* bytes = (BYTE*)malloc(tail);
    if (!bytes)
        return 0;
    unsigned long long tailStart = fileSize_ - tail;
    int found = 0;
    if (ReadAt(tailStart, bytes, tail)) {
        // The last record whose comment fits the file is the real one; a
        // signature inside a comment would not fit.
        for (DWORD at = tail - EndRecordSize + 1; at-- > 0 && !found;) {
            if (Dword(bytes + at) == EndSignature &&
                at + EndRecordSize + Word(bytes + at + 20) <= tail) {
                memcpy(record, bytes + at, EndRecordSize);
                offset = tailStart + at;
                found = 1;
            }
        }
    }
    free(bytes);
    return found;
}

int ZipArchive::ReadDirectory(const BYTE* directory, DWORD size, DWORD count,
                              const ZipLimits& limits)
{
    entries_ = new (std::nothrow) ZipEntry[count ? count : 1];
    if (!entries_)
        return 0;
    unsigned long long total = 0;
    DWORD at = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (size - at < CentralRecordSize || Dword(directory + at) != CentralSignature)
            return 0;
        const BYTE* record = directory + at;
        WORD flags = Word(record + 8);
        ZipEntry& entry = entries_[i];
        entry.method = Word(record + 10);
        entry.crc = Dword(record + 16);
        entry.compressedSize = Dword(record + 20);
        entry.size = Dword(record + 24);
        DWORD nameLength = Word(record + 28);
        DWORD extraLength = Word(record + 30);
        DWORD commentLength = Word(record + 32);
        WORD startDisk = Word(record + 34);
        entry.localHeader = Dword(record + 42);
        DWORD recordLength = CentralRecordSize + nameLength + extraLength + commentLength;
        if (recordLength > size - at || nameLength == 0 || (flags & EncryptedFlags) ||
            startDisk != 0)
            return 0;
        if (entry.method != Stored && entry.method != Deflated)
            return 0;
        if (entry.method == Stored && entry.compressedSize != entry.size)
            return 0;
        if (entry.compressedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF ||
            entry.localHeader == 0xFFFFFFFF)
            return 0;
        total += entry.size;
        if (entry.size > limits.entryBytes || total > limits.totalBytes ||
            entry.compressedSize > directoryOffset_ ||
            (unsigned long long)entry.localHeader + LocalRecordSize > directoryOffset_)
            return 0;
        if (!DecodeName(record + CentralRecordSize, (int)nameLength, (flags & Utf8NameFlag) != 0,
                        entry.name))
            return 0;
        wchar_t last = entry.name.At(entry.name.Length() - 1);
        entry.directory = last == L'/' || last == L'\\';
        at += recordLength;
        count_ = (int)i + 1;
    }
    return 1;
}

int ZipArchive::DataStart(const ZipEntry& entry, unsigned long long& start)
{
    BYTE local[LocalRecordSize];
    if (!ReadAt(entry.localHeader, local, LocalRecordSize) || Dword(local) != LocalSignature)
        return 0;
    start = (unsigned long long)entry.localHeader + LocalRecordSize + Word(local + 26) +
            Word(local + 28);
    // A member's bytes lie before the central directory, never inside it.
    return start + entry.compressedSize <= directoryOffset_;
}

int ZipArchive::Extract(int index, HANDLE file)
{
    if (index < 0 || index >= count_ || file_ == INVALID_HANDLE_VALUE)
        return 0;
    const ZipEntry& entry = entries_[index];
    unsigned long long start = 0;
    if (!DataStart(entry, start))
        return 0;
    return entry.method == Stored ? CopyStored(entry, start, file) : Inflate(entry, start, file);
}

int ZipArchive::CopyStored(const ZipEntry& entry, unsigned long long start, HANDLE file)
{
    Buffers buffers;
    if (!buffers.Valid())
        return 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    DWORD left = entry.size;
    unsigned long long at = start;
    while (left) {
        DWORD piece = left < ChunkSize ? left : ChunkSize;
        if (!ReadAt(at, buffers.In(), piece) || !WriteAll(file, buffers.In(), piece))
            return 0;
        crc = crc32(crc, buffers.In(), piece);
        at += piece;
        left -= piece;
    }
    return crc == entry.crc;
}

int ZipArchive::Inflate(const ZipEntry& entry, unsigned long long start, HANDLE file)
{
    Buffers buffers;
    if (!buffers.Valid())
        return 0;
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) // raw deflate, as ZIP stores it
        return 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    unsigned long long at = start;
    DWORD left = entry.compressedSize;
    unsigned long long produced = 0;
    int ok = 0;
    for (;;) {
        if (stream.avail_in == 0 && left) {
            DWORD piece = left < ChunkSize ? left : ChunkSize;
            if (!ReadAt(at, buffers.In(), piece))
                break;
            at += piece;
            left -= piece;
            stream.next_in = buffers.In();
            stream.avail_in = piece;
        }
        stream.next_out = buffers.Out();
        stream.avail_out = ChunkSize;
        int status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            break; // corrupt data, or input that ends too early
        DWORD have = ChunkSize - stream.avail_out;
        produced += have;
        // The declared size is a promise: a member that inflates beyond it
        // is refused before the excess is written.
        if (produced > entry.size || !WriteAll(file, buffers.Out(), have))
            break;
        crc = crc32(crc, buffers.Out(), have);
        if (status == Z_STREAM_END) {
            ok = produced == entry.size && crc == entry.crc;
            break;
        }
        if (have == 0 && stream.avail_in == 0 && left == 0)
            break;
    }
    inflateEnd(&stream);
    return ok;
}
