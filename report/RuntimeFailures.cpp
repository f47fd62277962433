#include "report/RuntimeFailures.h"

#include <exception>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>

namespace {

RuntimeFailureReport Report = nullptr;

void Fail(DWORD code)
{
    if (Report)
        Report(code);
    TerminateProcess(GetCurrentProcess(), code);
}

void OnAbortSignal(int)
{
    Fail(AbortCode);
}

[[noreturn]] void OnTerminate()
{
    Fail(TerminateCode);
    for (;;)
        Sleep(INFINITE);
}

void __cdecl OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                uintptr_t)
{
    Fail(InvalidParameterCode);
}

typedef void(__cdecl* InvalidParameterHandler)(const wchar_t*, const wchar_t*, const wchar_t*,
                                                unsigned int, uintptr_t);

#if defined(_MSC_VER) || defined(_UCRT)

// The universal C runtime (linked in, or its DLL) offers both switches.
void SetAbortBehavior(unsigned int flags, unsigned int mask)
{
    _set_abort_behavior(flags, mask);
}

void SetInvalidParameterHandler(InvalidParameterHandler handler)
{
    _set_invalid_parameter_handler(handler);
}

#else

// The program's runtime is msvcrt.dll, whose older versions lack the
// switches. Only there: the universal runtime (ucrtbase.dll), which system
// libraries load as well, runs none of the program's calls.
FARPROC RuntimeFunction(const char* name)
{
    HMODULE module = GetModuleHandleW(L"msvcrt.dll");
    return module ? GetProcAddress(module, name) : nullptr;
}

void SetAbortBehavior(unsigned int flags, unsigned int mask)
{
    typedef unsigned int(__cdecl * SetAbortBehaviorProc)(unsigned int, unsigned int);
    SetAbortBehaviorProc set = (SetAbortBehaviorProc)RuntimeFunction("_set_abort_behavior");
    if (set)
        set(flags, mask);
}

void SetInvalidParameterHandler(InvalidParameterHandler handler)
{
    typedef InvalidParameterHandler(__cdecl * SetHandlerProc)(InvalidParameterHandler);
    SetHandlerProc set = (SetHandlerProc)RuntimeFunction("_set_invalid_parameter_handler");
    if (set)
        set(handler);
}

#endif

void SilenceAbortMessage()
{
    const unsigned int WriteAbortMessage = 0x1, CallReportFault = 0x2;
    SetAbortBehavior(0, WriteAbortMessage | CallReportFault);
    // Older runtimes show their message before the signal: send it where a
    // windowed program has no reader.
    _set_error_mode(_OUT_TO_STDERR);
}



} // namespace

// What a call of a pure virtual function reaches (the C++ ABI's name): the
// library's own version prints to a console and terminates, which would
// name the failure "Terminate".
extern "C" void __cxa_pure_virtual()
{
    Fail(PureVirtualCallCode);
}

void InstallRuntimeFailureHandlers(RuntimeFailureReport report)
{
    Report = report;
    SilenceAbortMessage();
    signal(SIGABRT, OnAbortSignal);
    std::set_terminate(OnTerminate);
    SetInvalidParameterHandler(OnInvalidParameter);
}
