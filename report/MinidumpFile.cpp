#include "report/MinidumpFile.h"

#include <string.h>

namespace {

const ULONG32 DumpSignature = 0x504D444D; // "MDMP"
// More streams than any writer makes: a directory that claims them is
// damaged, not large.
const ULONG32 StreamMax = 1024;

static_assert(sizeof(MINIDUMP_THREAD) == 48, "the format's thread record");
static_assert(sizeof(MINIDUMP_MODULE) == 108, "the format's module record");
static_assert(sizeof(MINIDUMP_MEMORY_DESCRIPTOR) == 16, "the format's memory record");

// The list streams whose header is its own size, the size of an entry and
// a count: their entries must lie inside the stream.
struct DescribedList {
    ULONG32 type;
    ULONG32 countOffset;
    bool wideCount;
};
const DescribedList DescribedLists[] = {
    {UnloadedModuleListStream, 8, false},
    {ThreadInfoListStream, 8, false},
    {HandleDataStream, 8, false},
    {MemoryInfoListStream, 8, true},
};

} // namespace

int MinidumpFile::ReadAt(ULONG64 offset, void* buffer, DWORD size) const
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD read = 0;
    return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) &&
           ReadFile(file_, buffer, size, &read, nullptr) && read == size;
}

int MinidumpFile::WriteAt(ULONG64 offset, const void* buffer, DWORD size) const
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD written = 0;
    return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) &&
           WriteFile(file_, buffer, size, &written, nullptr) && written == size;
}

int MinidumpFile::ReadSize()
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_, &size) || size.QuadPart < 0 || size.QuadPart > 0xFFFFFFFFll)
        return 0;
    size_ = (ULONG64)size.QuadPart;
    return 1;
}

int MinidumpFile::Stream(ULONG32 type, MINIDUMP_LOCATION_DESCRIPTOR& at) const
{
    MINIDUMP_HEADER header;
    if (!ReadAt(0, &header, sizeof header) || header.NumberOfStreams > StreamMax)
        return 0;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        if (!ReadAt(header.StreamDirectoryRva + (ULONG64)i * sizeof entry, &entry, sizeof entry))
            return 0;
        if (entry.StreamType == type) {
            at = entry.Location;
            return 1;
        }
    }
    return 0;
}

int MinidumpFile::ListOf(const MINIDUMP_LOCATION_DESCRIPTOR& at, ULONG32 entrySize,
                         List& list) const
{
    if (at.DataSize < sizeof(ULONG32) || !ReadAt(at.Rva, &list.count, sizeof list.count))
        return 0;
    ULONG64 entries = (ULONG64)list.count * entrySize;
    if (at.DataSize == entries + 4)
        list.entries = at.Rva + 4;
    else if (at.DataSize == entries + 8)
        list.entries = at.Rva + 8;
    else
        return 0;
    return 1;
}

int MinidumpFile::Check()
{
    MINIDUMP_HEADER header;
    if (!ReadSize() || !ReadAt(0, &header, sizeof header) || header.Signature != DumpSignature ||
        (header.Version & 0xFFFF) != MINIDUMP_VERSION || header.NumberOfStreams == 0 ||
        header.NumberOfStreams > StreamMax ||
        !Inside(header.StreamDirectoryRva,
                (ULONG64)header.NumberOfStreams * sizeof(MINIDUMP_DIRECTORY)))
        return 0;
    DWORD exceptionThread = 0;
    if (!CheckDirectory(&exceptionThread))
        return 0;
    MINIDUMP_LOCATION_DESCRIPTOR threads;
    if (exceptionThread && !Stream(ThreadListStream, threads))
        return 0;
    return !exceptionThread || CheckThreads(threads, exceptionThread);
}

int MinidumpFile::CheckDirectory(DWORD* exceptionThread)
{
    MINIDUMP_HEADER header;
    if (!ReadAt(0, &header, sizeof header))
        return 0;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        if (!ReadAt(header.StreamDirectoryRva + (ULONG64)i * sizeof entry, &entry, sizeof entry))
            return 0;
        if (entry.StreamType == UnusedStream)
            continue;
        for (ULONG32 j = 0; j < i; ++j) {
            MINIDUMP_DIRECTORY earlier;
            if (!ReadAt(header.StreamDirectoryRva + (ULONG64)j * sizeof earlier, &earlier,
                        sizeof earlier) ||
                earlier.StreamType == entry.StreamType)
                return 0;
        }
        if (!Inside(entry.Location) || !CheckStream(entry, exceptionThread))
            return 0;
    }
    return 1;
}

int MinidumpFile::CheckStream(const MINIDUMP_DIRECTORY& entry, DWORD* exceptionThread)
{
    const MINIDUMP_LOCATION_DESCRIPTOR& at = entry.Location;
    List list;
    switch (entry.StreamType) {
    case ThreadListStream:
        return CheckThreads(at, 0);
    case ModuleListStream:
        return CheckModules(at);
    case MemoryListStream:
        if (!ListOf(at, sizeof(MINIDUMP_MEMORY_DESCRIPTOR), list))
            return 0;
        for (ULONG32 i = 0; i < list.count; ++i) {
            MINIDUMP_MEMORY_DESCRIPTOR memory;
            if (!ReadAt(list.entries + (ULONG64)i * sizeof memory, &memory, sizeof memory) ||
                !Inside(memory.Memory))
                return 0;
        }
        return 1;
    case ThreadExListStream:
        return ListOf(at, sizeof(MINIDUMP_THREAD_EX), list);
    case Memory64ListStream: {
        MINIDUMP_MEMORY64_LIST head;
        if (at.DataSize < sizeof head || !ReadAt(at.Rva, &head, sizeof head) ||
            at.DataSize !=
                sizeof head + head.NumberOfMemoryRanges * sizeof(MINIDUMP_MEMORY_DESCRIPTOR64))
            return 0;
        ULONG64 total = 0;
        for (ULONG64 i = 0; i < head.NumberOfMemoryRanges; ++i) {
            MINIDUMP_MEMORY_DESCRIPTOR64 memory;
            if (!ReadAt(at.Rva + sizeof head + i * sizeof memory, &memory, sizeof memory))
                return 0;
            total += memory.DataSize;
        }
        return head.BaseRva + total <= size_;
    }
    case ExceptionStream: {
        MINIDUMP_EXCEPTION_STREAM exception;
        if (at.DataSize < sizeof exception || !ReadAt(at.Rva, &exception, sizeof exception) ||
            !Inside(exception.ThreadContext) || !exception.ThreadId)
            return 0;
        *exceptionThread = exception.ThreadId;
        return 1;
    }
    case SystemInfoStream: {
        MINIDUMP_SYSTEM_INFO system;
        return at.DataSize >= sizeof system && ReadAt(at.Rva, &system, sizeof system) &&
               (!system.CSDVersionRva || CheckString(system.CSDVersionRva));
    }
    default:
        for (const DescribedList& described : DescribedLists) {
            if (described.type != entry.StreamType)
                continue;
            ULONG32 header[4] = {};
            if (at.DataSize < 16 || !ReadAt(at.Rva, header, sizeof header))
                return 0;
            ULONG64 count = header[2];
            if (described.wideCount)
                count |= (ULONG64)header[3] << 32;
            return header[0] <= at.DataSize && count <= at.DataSize &&
                   header[0] + count * header[1] <= at.DataSize;
        }
        return 1;
    }
}

int MinidumpFile::CheckThreads(const MINIDUMP_LOCATION_DESCRIPTOR& at, DWORD exceptionThread)
{
    List list;
    if (!ListOf(at, sizeof(MINIDUMP_THREAD), list))
        return 0;
    bool found = false;
    for (ULONG32 i = 0; i < list.count; ++i) {
        MINIDUMP_THREAD thread;
        if (!ReadAt(list.entries + (ULONG64)i * sizeof thread, &thread, sizeof thread) ||
            !Inside(thread.Stack.Memory) || !Inside(thread.ThreadContext))
            return 0;
        found = found || thread.ThreadId == exceptionThread;
    }
    return !exceptionThread || found;
}

int MinidumpFile::CheckModules(const MINIDUMP_LOCATION_DESCRIPTOR& at)
{
    List list;
    if (!ListOf(at, sizeof(MINIDUMP_MODULE), list))
        return 0;
    for (ULONG32 i = 0; i < list.count; ++i) {
        MINIDUMP_MODULE module;
        if (!ReadAt(list.entries + (ULONG64)i * sizeof module, &module, sizeof module) ||
            !CheckString(module.ModuleNameRva) || !Inside(module.CvRecord) ||
            !Inside(module.MiscRecord))
            return 0;
    }
    return 1;
}

int MinidumpFile::CheckString(RVA at)
{
    ULONG32 length = 0;
    return ReadAt(at, &length, sizeof length) && length % 2 == 0 &&
           Inside(at, (ULONG64)sizeof length + length);
}

int MinidumpFile::MaskModuleNames(const ProfileMask& mask)
{
    MINIDUMP_LOCATION_DESCRIPTOR at;
    List list;
    if (!ReadSize() || !Stream(ModuleListStream, at) || !ListOf(at, sizeof(MINIDUMP_MODULE), list))
        return 0;
    int result = 1;
    for (ULONG32 i = 0; i < list.count; ++i) {
        if (!MaskModuleName(list.entries + (ULONG64)i * sizeof(MINIDUMP_MODULE), mask))
            result = 0;
    }
    return result;
}

int MinidumpFile::MaskModuleName(ULONG64 moduleAt, const ProfileMask& mask)
{
    MINIDUMP_MODULE module;
    ULONG32 length = 0;
    if (!ReadAt(moduleAt, &module, sizeof module) ||
        !ReadAt(module.ModuleNameRva, &length, sizeof length) || length % 2 != 0 ||
        length > NameMax * sizeof(wchar_t) ||
        !ReadAt(module.ModuleNameRva + sizeof length, name_, length))
        return 0;
    name_[length / sizeof(wchar_t)] = 0;
    if (!mask.Mask(name_, masked_, NameMax + 1))
        return 1;
    // A masked name that filled the buffer may have been cut.
    ULONG32 maskedLength = (ULONG32)wcslen(masked_);
    if (maskedLength >= (ULONG32)NameMax)
        return 0;
    RVA old = module.ModuleNameRva;
    module.ModuleNameRva = AppendName(masked_, maskedLength * sizeof(wchar_t));
    if (!module.ModuleNameRva || !WriteAt(moduleAt, &module, sizeof module))
        return 0;
    // The old characters go; their place stays, so nothing else moves.
    memset(name_, 0, length);
    return WriteAt(old + sizeof length, name_, length);
}

// Appends the name at the end of the file (kept on 4-byte bounds) and
// returns where it went, 0 when it could not be written.
RVA MinidumpFile::AppendName(const wchar_t* name, ULONG32 length)
{
    if (!ReadSize() || size_ > 0x7FFFFFF0ull - length)
        return 0;
    ULONG64 at = (size_ + 3) & ~3ull;
    if (!WriteAt(at, &length, sizeof length) ||
        !WriteAt(at + sizeof length, name, length + (DWORD)sizeof(wchar_t)))
        return 0;
    size_ = at + sizeof length + length + sizeof(wchar_t);
    return (RVA)at;
}

int MinidumpFile::CollectRanges()
{
    moduleCount_ = stackCount_ = 0;
    MINIDUMP_LOCATION_DESCRIPTOR at;
    List list;
    if (!Stream(ModuleListStream, at) || !ListOf(at, sizeof(MINIDUMP_MODULE), list))
        return 0;
    for (ULONG32 i = 0; i < list.count && moduleCount_ < RangeMax; ++i) {
        MINIDUMP_MODULE module;
        if (!ReadAt(list.entries + (ULONG64)i * sizeof module, &module, sizeof module))
            return 0;
        modules_[moduleCount_++] = {module.BaseOfImage, module.BaseOfImage + module.SizeOfImage};
    }
    if (!Stream(ThreadListStream, at) || !ListOf(at, sizeof(MINIDUMP_THREAD), list))
        return 0;
    for (ULONG32 i = 0; i < list.count && stackCount_ < RangeMax; ++i) {
        MINIDUMP_THREAD thread;
        if (!ReadAt(list.entries + (ULONG64)i * sizeof thread, &thread, sizeof thread))
            return 0;
        stacks_[stackCount_++] = {thread.Stack.StartOfMemoryRange,
                                  thread.Stack.StartOfMemoryRange + thread.Stack.Memory.DataSize};
    }
    return 1;
}

bool MinidumpFile::IsPointer(ULONG64 value) const
{
    for (int i = 0; i < moduleCount_; ++i)
        if (value >= modules_[i].start && value < modules_[i].end)
            return true;
    for (int i = 0; i < stackCount_; ++i)
        if (value >= stacks_[i].start && value < stacks_[i].end)
            return true;
    return false;
}

int MinidumpFile::FilterRange(RVA at, ULONG32 size)
{
    const ULONG32 slot = sizeof(ULONG_PTR);
    const ULONG32 chunk = sizeof chunk_ / slot * slot;
    for (ULONG32 done = 0; done < size;) {
        ULONG32 piece = size - done < chunk ? size - done : chunk;
        if (!ReadAt((ULONG64)at + done, chunk_, piece))
            return 0;
        bool changed = false;
        // A tail shorter than a pointer holds no pointer.
        for (ULONG32 offset = 0; offset < piece; offset += slot) {
            ULONG_PTR value = 0;
            ULONG32 length = piece - offset < slot ? piece - offset : slot;
            memcpy(&value, chunk_ + offset, length);
            if (value && (length < slot || !IsPointer(value))) {
                memset(chunk_ + offset, 0, length);
                changed = true;
            }
        }
        if (changed && !WriteAt((ULONG64)at + done, chunk_, piece))
            return 0;
        done += piece;
    }
    return 1;
}

int MinidumpFile::FilterMemory()
{
    if (!ReadSize() || !CollectRanges())
        return 0;
    MINIDUMP_LOCATION_DESCRIPTOR at;
    List list;
    if (!Stream(ThreadListStream, at) || !ListOf(at, sizeof(MINIDUMP_THREAD), list))
        return 0;
    for (ULONG32 i = 0; i < list.count; ++i) {
        MINIDUMP_THREAD thread;
        if (!ReadAt(list.entries + (ULONG64)i * sizeof thread, &thread, sizeof thread) ||
            !FilterRange(thread.Stack.Memory.Rva, thread.Stack.Memory.DataSize))
            return 0;
    }
    // The code around each thread's instruction lies in a module and stays;
    // any other memory is filtered like a stack (a stack again changes
    // nothing).
    if (!Stream(MemoryListStream, at))
        return 1;
    if (!ListOf(at, sizeof(MINIDUMP_MEMORY_DESCRIPTOR), list))
        return 0;
    for (ULONG32 i = 0; i < list.count; ++i) {
        MINIDUMP_MEMORY_DESCRIPTOR memory;
        if (!ReadAt(list.entries + (ULONG64)i * sizeof memory, &memory, sizeof memory))
            return 0;
        bool code = false;
        for (int m = 0; m < moduleCount_ && !code; ++m)
            code = memory.StartOfMemoryRange >= modules_[m].start &&
                   memory.StartOfMemoryRange + memory.Memory.DataSize <= modules_[m].end;
        if (!code && !FilterRange(memory.Memory.Rva, memory.Memory.DataSize))
            return 0;
    }
    return 1;
}
