#include "report/HandlerStack.h"

#include "report/CrashText.h"

namespace {

// A system that commits the whole stack up front (64-bit Wine does) keeps
// only one guard page, at the very bottom, so the guarantee is never
// reached: the overflow comes with a page left and its handling faults
// again. A guard page where the guaranteed part begins makes the overflow
// come there. Where the stack grows page by page (Windows), that page is
// not committed yet and nothing is changed.
void ArmGuaranteeGuardPage(const MEMORY_BASIC_INFORMATION& stack, const char* frame,
                           ULONG guarantee)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    ULONG_PTR page = system.dwPageSize;
    ULONG_PTR rounded = (guarantee + page - 1) / page * page;
    char* guard = (char*)stack.AllocationBase + page + rounded;
    MEMORY_BASIC_INFORMATION at;
    // The guard must lie well below the frame we are in.
    if (guard + 4 * page > frame || !VirtualQuery(guard, &at, sizeof at) ||
        at.State != MEM_COMMIT || (at.Protect & (PAGE_GUARD | PAGE_NOACCESS)) ||
        at.AllocationBase != stack.AllocationBase)
        return;
    DWORD previous;
    VirtualProtect(guard, page, at.Protect | PAGE_GUARD, &previous);
}

// The whole reservation of the stack that `stack` describes a part of.
ULONG_PTR StackReserve(const MEMORY_BASIC_INFORMATION& stack)
{
    const char* top = (const char*)stack.BaseAddress;
    MEMORY_BASIC_INFORMATION region;
    while (VirtualQuery(top, &region, sizeof region) &&
           region.AllocationBase == stack.AllocationBase && region.RegionSize)
        top = (const char*)region.BaseAddress + region.RegionSize;
    return (ULONG_PTR)(top - (const char*)stack.AllocationBase);
}

void NTAPI OnThreadEvent(PVOID, DWORD reason, PVOID)
{
    if (reason == DLL_PROCESS_ATTACH || reason == DLL_THREAD_ATTACH)
        ReserveHandlerStack();
}

} // namespace

int ReserveHandlerStack()
{
    typedef BOOL(WINAPI * SetThreadStackGuaranteeProc)(PULONG);
    char frame = 0;
    MEMORY_BASIC_INFORMATION stack;
    if (!VirtualQuery(&frame, &stack, sizeof stack) || !stack.AllocationBase ||
        StackReserve(stack) < HandlerStackMinimumReserve)
        return 0;
    SetThreadStackGuaranteeProc guarantee =
        (SetThreadStackGuaranteeProc)SystemFunction(L"kernel32.dll", "SetThreadStackGuarantee");
    ULONG size = HandlerStackGuarantee;
    if (!guarantee || !guarantee(&size))
        return 0;
    ArmGuaranteeGuardPage(stack, &frame, HandlerStackGuarantee);
    return 1;
}

// The loader calls the callbacks of the executable's TLS directory for
// every thread as it starts, before the thread's own routine: threads that
// libraries start get the handler's stack too. The C runtime keeps the
// directory (_tls_used); the callback joins its list by section name.
#if defined(_MSC_VER)
#pragma section(".CRT$XLF", long, read)
#pragma comment(linker, "/INCLUDE:_tls_used")
extern "C" __declspec(allocate(".CRT$XLF")) const PIMAGE_TLS_CALLBACK QuillHandlerStackCallback =
    OnThreadEvent;
#else
extern "C" const IMAGE_TLS_DIRECTORY _tls_used;
extern "C" __attribute__((section(".CRT$XLF"), used))
const PIMAGE_TLS_CALLBACK QuillHandlerStackCallback = OnThreadEvent;
namespace {
__attribute__((used)) const void* const KeepTlsDirectory = &_tls_used;
}
#endif
