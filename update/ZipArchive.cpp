#include "update/ZipArchive.h"

#include "services/FileSystem.h"

#include <new>
#include <stdlib.h>
#include <string.h>

#include <zlib.h>

namespace {

const DWORD EndSignature = 0x06054B50;
const DWORD Zip64EndSignature = 0x06064B50;
const DWORD Zip64LocatorSignature = 0x07064B50;
const DWORD CentralSignature = 0x02014B50;
const DWORD LocalSignature = 0x04034B50;
const DWORD EndRecordSize = 22;
const DWORD Zip64LocatorSize = 20;
const DWORD Zip64EndRecordSize = 56;
const WORD Zip64ExtraId = 0x0001;
// A 16- or 32-bit field at its highest value hands over to the ZIP64 records.
const WORD Saturated16 = 0xFFFF;
const DWORD Saturated32 = 0xFFFFFFFF;
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

unsigned long long Qword(const BYTE* p)
{
    return (unsigned long long)Dword(p) | ((unsigned long long)Dword(p + 4) << 32);
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
    // Shared for deletion: an installation that is let go of removes its
    // archive while this may still read it.
    file_ = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
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
    WORD onDisk = Word(end + 8);
    unsigned long long count = Word(end + 10);
    unsigned long long directorySize = Dword(end + 12);
    unsigned long long directoryOffset = Dword(end + 16);
    // The directory ends where the ZIP64 end record begins, if there is one.
    unsigned long long directoryEnd = endOffset;
    unsigned long long zipCount = 0, zipSize = 0, zipOffset = 0, recordOffset = 0;
    int zip64 = ReadZip64End(endOffset, zipCount, zipSize, zipOffset, recordOffset);
    if (zip64 < 0) {
        Close();
        return 0;
    }
    bool plain = disk == 0 && directoryDisk == 0 && onDisk == count;
    if (zip64) {
        // Saturated fields take the ZIP64 record's figures; others must agree.
        plain = (disk == 0 || disk == Saturated16) && (directoryDisk == 0 || directoryDisk == Saturated16) &&
                (onDisk == count || onDisk == Saturated16) &&
                (count == Saturated16 || count == zipCount) &&
                (directorySize == Saturated32 || directorySize == zipSize) &&
                (directoryOffset == Saturated32 || directoryOffset == zipOffset);
        count = zipCount;
        directorySize = zipSize;
        directoryOffset = zipOffset;
        directoryEnd = recordOffset;
    } else {
        plain = plain && count != Saturated16 && directorySize != Saturated32 &&
                directoryOffset != Saturated32;
    }
    if (!plain || count > limits.entries || directorySize > DirectoryLimit ||
        directoryOffset > directoryEnd || directorySize > directoryEnd - directoryOffset ||
        count * CentralRecordSize > directorySize) {
        Close();
        return 0;
    }
    directoryOffset_ = directoryOffset;
    BYTE* directory = (BYTE*)malloc(directorySize ? (size_t)directorySize : 1);
    int ok = directory && ReadAt(directoryOffset, directory, (DWORD)directorySize) &&
             ReadDirectory(directory, (DWORD)directorySize, (DWORD)count, limits);
    free(directory);
    if (!ok) {
        Close();
        return 0;
    }
    return 1;
}

// The ZIP64 end of central directory locator, right before the end record,
// and the record it points to: 1 and their figures when they are there, 0
// when the archive has none, -1 when they are there but do not fit the file
// or the format (more than one disk, a record that overlaps the locator).
int ZipArchive::ReadZip64End(unsigned long long endOffset, unsigned long long& count,
                             unsigned long long& size, unsigned long long& offset,
                             unsigned long long& recordOffset)
{
    BYTE locator[Zip64LocatorSize];
    if (endOffset < Zip64LocatorSize ||
        !ReadAt(endOffset - Zip64LocatorSize, locator, Zip64LocatorSize) ||
        Dword(locator) != Zip64LocatorSignature)
        return 0;
    recordOffset = Qword(locator + 8);
    unsigned long long locatorOffset = endOffset - Zip64LocatorSize;
    BYTE record[Zip64EndRecordSize];
    if (Dword(locator + 4) != 0 || Dword(locator + 16) != 1 || recordOffset > locatorOffset ||
        locatorOffset - recordOffset < Zip64EndRecordSize ||
        !ReadAt(recordOffset, record, Zip64EndRecordSize) || Dword(record) != Zip64EndSignature)
        return -1;
    // The record's own size counts from after its size field, 12 bytes in.
    unsigned long long recordSize = Qword(record + 4);
    if (recordSize < Zip64EndRecordSize - 12 || recordSize > locatorOffset - recordOffset - 12 ||
        Dword(record + 16) != 0 || Dword(record + 20) != 0 || Qword(record + 24) != Qword(record + 32))
        return -1;
    count = Qword(record + 32);
    size = Qword(record + 40);
    offset = Qword(record + 48);
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
            (startDisk != 0 && startDisk != Saturated16))
            return 0;
        if (!ReadZip64Extra(record + CentralRecordSize + nameLength, extraLength, entry,
                            entry.size == Saturated32, entry.compressedSize == Saturated32,
                            entry.localHeader == Saturated32, startDisk == Saturated16))
            return 0;
        if (entry.method != Stored && entry.method != Deflated)
            return 0;
        if (entry.method == Stored && entry.compressedSize != entry.size)
            return 0;
        total += entry.size;
        if (entry.size > limits.entryBytes || total > limits.totalBytes ||
            entry.compressedSize > directoryOffset_ || entry.localHeader > directoryOffset_ ||
            directoryOffset_ - entry.localHeader < LocalRecordSize)
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

// A member's saturated figures come from its ZIP64 extra field, in the
// format's order (size, compressed size, local header offset, disk), each
// present only when its own field is saturated. Without saturated fields
// the extra field may be there or not; a malformed extra block refuses the
// member either way.
int ZipArchive::ReadZip64Extra(const BYTE* extra, DWORD length, ZipEntry& entry,
                               bool sizeSaturated, bool compressedSaturated, bool offsetSaturated,
                               bool diskSaturated)
{
    bool needed = sizeSaturated || compressedSaturated || offsetSaturated || diskSaturated;
    bool found = false;
    DWORD at = 0;
    while (at < length) {
        if (length - at < 4)
            return 0;
        WORD id = Word(extra + at);
        DWORD dataLength = Word(extra + at + 2);
        if (dataLength > length - at - 4)
            return 0;
        const BYTE* data = extra + at + 4;
        if (id == Zip64ExtraId && !found) {
            found = true;
            DWORD wanted = (sizeSaturated ? 8 : 0) + (compressedSaturated ? 8 : 0) +
                           (offsetSaturated ? 8 : 0) + (diskSaturated ? 4 : 0);
            if (dataLength < wanted)
                return 0;
            DWORD read = 0;
            if (sizeSaturated) {
                entry.size = Qword(data + read);
                read += 8;
            }
            if (compressedSaturated) {
                entry.compressedSize = Qword(data + read);
                read += 8;
            }
            if (offsetSaturated) {
                entry.localHeader = Qword(data + read);
                read += 8;
            }
            if (diskSaturated && Dword(data + read) != 0)
                return 0;
        }
        at += 4 + dataLength;
    }
    return found || !needed;
}

int ZipArchive::DataStart(const ZipEntry& entry, unsigned long long& start)
{
    BYTE local[LocalRecordSize];
    if (!ReadAt(entry.localHeader, local, LocalRecordSize) || Dword(local) != LocalSignature)
        return 0;
    start = entry.localHeader + LocalRecordSize + Word(local + 26) + Word(local + 28);
    // A member's bytes lie before the central directory, never inside it.
    return start <= directoryOffset_ && entry.compressedSize <= directoryOffset_ - start;
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
    unsigned long long left = entry.size;
    unsigned long long at = start;
    while (left) {
        DWORD piece = left < ChunkSize ? (DWORD)left : ChunkSize;
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
    unsigned long long left = entry.compressedSize;
    unsigned long long produced = 0;
    int ok = 0;
    for (;;) {
        if (stream.avail_in == 0 && left) {
            DWORD piece = left < ChunkSize ? (DWORD)left : ChunkSize;
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
