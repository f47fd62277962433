#include "report/CrashRecords.h"

#include <stddef.h>
#include <string.h>

namespace {

const int ThreadQuerySetWin32StartAddress = 9;
const int ThreadBasicInformation = 0;
const ULONG_PTR NameOffsetInThreadBlock = offsetof(NT_TIB, ArbitraryUserPointer);
const DWORD PageSize = 4096;

struct ThreadBasicInfo {
    LONG exitStatus;
    PVOID tebBaseAddress;
    PVOID clientProcess;
    PVOID clientThread;
    ULONG_PTR affinityMask;
    LONG priority;
    LONG basePriority;
};

// A thread handle opened here, closed with the holder.
class OpenedThread {
public:
    explicit OpenedThread(DWORD id)
        : handle_(id ? OpenThread(THREAD_QUERY_INFORMATION, FALSE, id) : nullptr) {}
    ~OpenedThread()
    {
        if (handle_)
            CloseHandle(handle_);
    }
    OpenedThread(const OpenedThread&) = delete;
    OpenedThread& operator=(const OpenedThread&) = delete;
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_;
};

int ReadMemory(ULONG_PTR address, void* buffer, SIZE_T size)
{
    SIZE_T read = 0;
    return address && ReadProcessMemory(GetCurrentProcess(), (const void*)address, buffer, size,
                                        &read) &&
           read == size;
}

// The thread's information block. Its address as the kernel states it comes
// first: Wine gives every thread the same FS selector, whose descriptor then
// names the block of whichever thread asks.
ULONG_PTR ThreadBlockAddress(HANDLE thread, WORD fsSelector, NtQueryInformationThreadProc query)
{
    ThreadBasicInfo info = {};
    if (query && query(thread, ThreadBasicInformation, &info, sizeof(info), nullptr) >= 0 &&
        info.tebBaseAddress)
        return (ULONG_PTR)info.tebBaseAddress;
#if defined(__i386__) || defined(_M_IX86)
    LDT_ENTRY entry = {};
    if (fsSelector && GetThreadSelectorEntry(thread, fsSelector, &entry))
        return (ULONG_PTR)entry.BaseLow | ((ULONG_PTR)entry.HighWord.Bytes.BaseMid << 16) |
               ((ULONG_PTR)entry.HighWord.Bytes.BaseHi << 24);
#endif
    return 0;
}

// Reads a NUL-terminated text of at most `size` - 1 bytes at `address`,
// one page at a time, so a text ending just before an unreadable page
// still comes through.
void ReadTextAt(ULONG_PTR address, char* text, int size)
{
    int used = 0;
    while (address && used < size - 1) {
        int chunk = (int)(PageSize - (address % PageSize));
        if (chunk > size - 1 - used)
            chunk = size - 1 - used;
        if (!ReadMemory(address, text + used, (SIZE_T)chunk))
            break;
        int end = used;
        int limit = used + chunk;
        while (end < limit && text[end])
            ++end;
        used = end;
        if (end < limit)
            break;
        address += (ULONG_PTR)chunk;
    }
    text[used] = 0;
}

// The report keeps one line per thread: control characters would break it.
void ReplaceControlCharacters(char* text)
{
    for (; *text; ++text)
        if ((unsigned char)*text < 0x20)
            *text = '?';
}

ULONG64 WithoutSignExtension(ULONG64 address)
{
    return (address >> 32) == 0xFFFFFFFFull ? (address & 0xFFFFFFFFull) : address;
}

} // namespace

void ReadThreadName(HANDLE thread, WORD fsSelector, NtQueryInformationThreadProc query,
                    char* name, int size)
{
    if (!name || size <= 0)
        return;
    name[0] = 0;
    ULONG_PTR block = ThreadBlockAddress(thread, fsSelector, query);
    ULONG_PTR pointer = 0;
    if (!block || !ReadMemory(block + NameOffsetInThreadBlock, &pointer, sizeof(pointer)))
        return;
    ReadTextAt(pointer, name, size);
    ReplaceControlCharacters(name);
}

ULONG_PTR ReadThreadStartAddress(HANDLE thread, NtQueryInformationThreadProc query)
{
    // The system answers only a query of exactly the pointer's size.
    ULONG_PTR address = 0;
    if (!query || query(thread, ThreadQuerySetWin32StartAddress, &address, sizeof(address),
                        nullptr) < 0)
        return 0;
    return address;
}

void CrashRecords::Clear()
{
    moduleCount_ = 0;
    modulesLeftOut_ = 0;
    threadCount_ = 0;
    threadsLeftOut_ = 0;
}

MINIDUMP_CALLBACK_INFORMATION CrashRecords::Callback()
{
    MINIDUMP_CALLBACK_INFORMATION callback;
    callback.CallbackRoutine = OnDumpEvent;
    callback.CallbackParam = this;
    return callback;
}

void CrashRecords::AddModule(const MINIDUMP_MODULE_CALLBACK& module)
{
    if (moduleCount_ >= ModuleMax) {
        ++modulesLeftOut_;
        return;
    }
    ModuleRecord& record = modules_[moduleCount_++];
    memset(&record, 0, sizeof(record));
    if (module.FullPath)
        lstrcpynW(record.path, module.FullPath, ModuleRecord::PathMax);
    record.base = WithoutSignExtension(module.BaseOfImage);
    record.size = module.SizeOfImage;
    record.checksum = module.CheckSum;
    record.timeStamp = module.TimeDateStamp;
    const VS_FIXEDFILEINFO& version = module.VersionInfo;
    record.fileVersion[0] = HIWORD(version.dwFileVersionMS);
    record.fileVersion[1] = LOWORD(version.dwFileVersionMS);
    record.fileVersion[2] = HIWORD(version.dwFileVersionLS);
    record.fileVersion[3] = LOWORD(version.dwFileVersionLS);
    record.productVersion[0] = HIWORD(version.dwProductVersionMS);
    record.productVersion[1] = LOWORD(version.dwProductVersionMS);
    record.productVersion[2] = HIWORD(version.dwProductVersionLS);
    record.productVersion[3] = LOWORD(version.dwProductVersionLS);
}

void CrashRecords::AddThread(DWORD id, HANDLE thread, const CONTEXT& context, ULONG64 stackBase,
                             ULONG64 stackEnd)
{
    for (int i = 0; i < threadCount_; ++i)
        if (threads_[i].id == id)
            return;
    if (threadCount_ >= ThreadMax) {
        ++threadsLeftOut_;
        return;
    }
    ThreadRecord& record = threads_[threadCount_++];
    memset(&record, 0, sizeof(record));
    record.id = id;
    record.stackBase = stackBase;
    record.stackEnd = stackEnd;
    // Some DbgHelp versions hand over no handle; one of our own does.
    OpenedThread opened(thread ? 0 : id);
    HANDLE handle = thread ? thread : opened.Handle();
    if (!handle)
        return;
    record.startAddress = ReadThreadStartAddress(handle, queryThread_);
#if defined(__i386__) || defined(_M_IX86)
    WORD fs = (WORD)context.SegFs;
#else
    WORD fs = 0;
#endif
    ReadThreadName(handle, fs, queryThread_, record.name, ThreadRecord::NameMax);
}

BOOL CALLBACK CrashRecords::OnDumpEvent(PVOID self, const PMINIDUMP_CALLBACK_INPUT input,
                                        PMINIDUMP_CALLBACK_OUTPUT)
{
    CrashRecords* records = static_cast<CrashRecords*>(self);
    if (!input)
        return FALSE;
    switch (input->CallbackType) {
    case ModuleCallback:
        records->AddModule(input->Module);
        return TRUE;
    case ThreadCallback: {
        const MINIDUMP_THREAD_CALLBACK& thread = input->Thread;
        if (records->IsExcluded(thread.ThreadId))
            return TRUE;
        records->AddThread(thread.ThreadId, thread.ThreadHandle, thread.Context, thread.StackBase,
                           thread.StackEnd);
        return TRUE;
    }
    case ThreadExCallback: {
        const MINIDUMP_THREAD_EX_CALLBACK& thread = input->ThreadEx;
        if (records->IsExcluded(thread.ThreadId))
            return TRUE;
        records->AddThread(thread.ThreadId, thread.ThreadHandle, thread.Context, thread.StackBase,
                           thread.StackEnd);
        return TRUE;
    }
    case IncludeThreadCallback:
    case IncludeModuleCallback:
        return TRUE;
    default:
        // Memory, cancel and the rest: nothing more to add, nothing to stop.
        return FALSE;
    }
}
