#pragma once

#include <windows.h>

#include "services/WideString.h"

// What an archive may hold before it is refused: every figure is checked
// against the central directory before anything is written, and against the
// bytes themselves while they are inflated.
struct ZipLimits {
    unsigned long long entryBytes = 64ull * 1024 * 1024;
    unsigned long long totalBytes = 256ull * 1024 * 1024;
    // Thousands of members are fine; the format allows 65535, each costing memory here.
    DWORD entries = 10000;
};

// One member as the central directory describes it.
struct ZipEntry {
    WideString name;      // as stored (slashes), decoded from UTF-8 or code page 437
    WORD method = 0;      // 0 stored, 8 deflated
    DWORD crc = 0;
    unsigned long long compressedSize = 0;
    unsigned long long size = 0;
    unsigned long long localHeader = 0; // offset of the entry's local header
    bool directory = false;
};

// A ZIP archive read from its central directory. One disk, no encryption,
// members stored or deflated; the ZIP64 records (the end of central
// directory record and its locator, and the extra field of a member) are
// read as the format defines them, under the same limits, since several
// tools write them even for small archives. Every offset and size is
// checked against the file before it is used, and each member's bytes
// against their size and CRC-32.
class ZipArchive {
public:
    ZipArchive() = default;
    ~ZipArchive() { Close(); }
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Reads the central directory of `path`. 0 when the file is no archive
    // of the kind above, its directory does not fit the file, or its
    // declared sizes pass `limits`.
    [[nodiscard]] int Open(const wchar_t* path, const ZipLimits& limits = ZipLimits());
    void Close();

    int Count() const { return count_; }
    const ZipEntry& Entry(int index) const { return entries_[index]; }

    // Writes member `index` to `file`: 1 only when exactly the declared
    // number of bytes came out and their CRC-32 matches.
    [[nodiscard]] int Extract(int index, HANDLE file);

private:
    int ReadAt(unsigned long long offset, void* buffer, DWORD bytes);
    int FindEndRecord(unsigned long long& offset, BYTE (&record)[22]);
    int ReadZip64End(unsigned long long endOffset, unsigned long long& count,
                     unsigned long long& size, unsigned long long& offset,
                     unsigned long long& recordOffset);
    int ReadDirectory(const BYTE* directory, DWORD size, DWORD count, const ZipLimits& limits);
    int ReadZip64Extra(const BYTE* extra, DWORD length, ZipEntry& entry, bool sizeSaturated,
                       bool compressedSaturated, bool offsetSaturated, bool diskSaturated);
    int DataStart(const ZipEntry& entry, unsigned long long& start);
    int CopyStored(const ZipEntry& entry, unsigned long long start, HANDLE file);
    int Inflate(const ZipEntry& entry, unsigned long long start, HANDLE file);

    HANDLE file_ = INVALID_HANDLE_VALUE;
    unsigned long long fileSize_ = 0;
    unsigned long long directoryOffset_ = 0; // members' data all lies before it
    ZipEntry* entries_ = nullptr;
    int count_ = 0;
};
