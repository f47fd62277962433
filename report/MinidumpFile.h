#pragma once

#include <windows.h>
#include <dbghelp.h>

#include "report/ProfileMask.h"

// A minidump just written into an open file (read and write access),
// checked and rewritten in place before it is offered. Its buffers are part
// of the object, so it needs no heap in a crashed process.
class MinidumpFile {
public:
    // The longest module name it masks, in characters (the longest path
    // the system knows).
    static const int NameMax = 32767;
    // Modules and threads whose ranges tell pointers from other values.
    static const int RangeMax = 1024;

    MinidumpFile() = default;
    MinidumpFile(const MinidumpFile&) = delete;
    MinidumpFile& operator=(const MinidumpFile&) = delete;

    void Attach(HANDLE file) { file_ = file; }

    // 1 when the file is a minidump as its readers take it: the header, the
    // stream directory, every stream and every record a stream points to lie
    // inside the file; the thread, module and memory lists are exactly as
    // long as their counts say (with the 4 bytes that 64-bit writers may put
    // before the entries); no stream type comes twice; the exception names a
    // thread of the thread list.
    [[nodiscard]] int Check();
    // Rewrites the module names as `mask` shows them: a masked name is
    // appended to the file, its module points there, and the old name's
    // characters are cleared. 0 when a name could not be read, masked whole
    // or written: the dump then names what it should not.
    [[nodiscard]] int MaskModuleNames(const ProfileMask& mask);
    // Keeps of the threads' stacks, and of any other memory outside the
    // modules' images, only the values a stack walk needs: those that point
    // into a module or into a stack. Everything else (texts, numbers) is
    // cleared, as MiniDumpFilterMemory does where the system honours it.
    [[nodiscard]] int FilterMemory();

private:
    struct Range {
        ULONG64 start;
        ULONG64 end;
    };
    // Where a list stream's entries begin; 0 when the stream's size is not
    // exactly what its count says.
    struct List {
        RVA entries;
        ULONG32 count;
    };

    int ReadAt(ULONG64 offset, void* buffer, DWORD size) const;
    int WriteAt(ULONG64 offset, const void* buffer, DWORD size) const;
    bool Inside(RVA rva, ULONG64 size) const { return (ULONG64)rva + size <= size_; }
    bool Inside(const MINIDUMP_LOCATION_DESCRIPTOR& at) const
    {
        return Inside(at.Rva, at.DataSize);
    }
    int ReadSize();
    int Stream(ULONG32 type, MINIDUMP_LOCATION_DESCRIPTOR& at) const;
    int ListOf(const MINIDUMP_LOCATION_DESCRIPTOR& at, ULONG32 entrySize, List& list) const;
    int CheckDirectory(DWORD* exceptionThread);
    int CheckStream(const MINIDUMP_DIRECTORY& entry, DWORD* exceptionThread);
    int CheckThreads(const MINIDUMP_LOCATION_DESCRIPTOR& at, DWORD exceptionThread);
    int CheckModules(const MINIDUMP_LOCATION_DESCRIPTOR& at);
    int CheckString(RVA at);
    int MaskModuleName(ULONG64 moduleAt, const ProfileMask& mask);
    RVA AppendName(const wchar_t* name, ULONG32 length);
    int CollectRanges();
    int FilterRange(RVA at, ULONG32 size);
    bool IsPointer(ULONG64 value) const;

    HANDLE file_ = INVALID_HANDLE_VALUE;
    ULONG64 size_ = 0;
    Range modules_[RangeMax];
    int moduleCount_ = 0;
    Range stacks_[RangeMax];
    int stackCount_ = 0;
    wchar_t name_[NameMax + 1];
    wchar_t masked_[NameMax + 1];
    BYTE chunk_[64 * 1024];
};
