#pragma once

#include <windows.h>
#include <dbghelp.h>

#include "report/SymbolEngine.h"

// One loaded module as the minidump saw it.
struct ModuleRecord {
    static const int PathMax = 520;
    wchar_t path[PathMax];
    ULONG64 base;
    DWORD size;
    DWORD checksum;
    DWORD timeStamp;
    WORD fileVersion[4];    // major, minor, build, revision
    WORD productVersion[4];
};

// One thread as the minidump saw it.
struct ThreadRecord {
    static const int NameMax = 88; // bytes, terminator included
    DWORD id;
    ULONG64 stackBase;
    ULONG64 stackEnd;
    ULONG_PTR startAddress;
    char name[NameMax];
};

// The modules and threads collected while the minidump is written, in
// fixed tables: the callback runs inside a crashed process and must not
// depend on its heap. What does not fit is left out and counted.
class CrashRecords {
public:
    static const int ModuleMax = 512;
    static const int ThreadMax = 512;

    void Clear();
    // A thread left out of the records, and so of the text report: the
    // reporter's own, which describes the crash and is no part of it. The
    // dump keeps it: a writer that drops a thread (Wine's DbgHelp) leaves a
    // thread list whose size still counts it, which readers refuse. 0: none.
    void Exclude(DWORD threadId) { excluded_ = threadId; }
    // Where thread start addresses come from; may be none.
    void UseThreadQuery(NtQueryInformationThreadProc query) { queryThread_ = query; }

    // The callback for MiniDumpWriteDump, with this object as its parameter.
    MINIDUMP_CALLBACK_INFORMATION Callback();

    void AddModule(const MINIDUMP_MODULE_CALLBACK& module);
    // A thread seen once; `thread` may be none, then one is opened by id.
    void AddThread(DWORD id, HANDLE thread, const CONTEXT& context, ULONG64 stackBase,
                   ULONG64 stackEnd);

    int ModuleCount() const { return moduleCount_; }
    int ThreadCount() const { return threadCount_; }
    // How many did not fit.
    int ModulesLeftOut() const { return modulesLeftOut_; }
    int ThreadsLeftOut() const { return threadsLeftOut_; }
    const ModuleRecord& Module(int index) const { return modules_[index]; }
    const ThreadRecord& Thread(int index) const { return threads_[index]; }

private:
    static BOOL CALLBACK OnDumpEvent(PVOID self, const PMINIDUMP_CALLBACK_INPUT input,
                                     PMINIDUMP_CALLBACK_OUTPUT output);

    bool IsExcluded(DWORD threadId) const { return excluded_ && threadId == excluded_; }

    NtQueryInformationThreadProc queryThread_ = nullptr;
    DWORD excluded_ = 0;
    ModuleRecord modules_[ModuleMax];
    int moduleCount_ = 0;
    int modulesLeftOut_ = 0;
    ThreadRecord threads_[ThreadMax];
    int threadCount_ = 0;
    int threadsLeftOut_ = 0;
};

// The name a thread has put into its information block (the block's
// arbitrary user pointer: byte offset 20 on x86, 40 on x64; the block found
// through `query`, else through the thread's FS selector on x86), cut to
// `size` bytes with its terminator. An unreadable pointer gives an empty
// name: the text is read with ReadProcessMemory, never touched directly.
void ReadThreadName(HANDLE thread, WORD fsSelector, NtQueryInformationThreadProc query,
                    char* name, int size);
// The thread's start address (ThreadQuerySetWin32StartAddress), 0 when unknown.
ULONG_PTR ReadThreadStartAddress(HANDLE thread, NtQueryInformationThreadProc query);
