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

// The C runtime the program runs on, found among the loaded modules.
FARPROC RuntimeFunction(const char* name)
{
    static const wchar_t* const runtimes[] = {L"ucrtbase.dll", L"msvcrt.dll"};
    for (const wchar_t* runtime : runtimes) {
        HMODULE module = GetModuleHandleW(runtime);
        FARPROC function = module ? GetProcAddress(module, name) : nullptr;
        if (function)
            return function;
    }
    return nullptr;
}

void SilenceAbortMessage()
{
    typedef unsigned int(__cdecl * SetAbortBehaviorProc)(unsigned int, unsigned int);
    const unsigned int WriteAbortMessage = 0x1, CallReportFault = 0x2;
    SetAbortBehaviorProc setBehavior = (SetAbortBehaviorProc)RuntimeFunction("_set_abort_behavior");
    if (setBehavior)
        setBehavior(0, WriteAbortMessage | CallReportFault);
    // Older runtimes show their message before the signal: send it where a
    // windowed program has no reader.
    _set_error_mode(_OUT_TO_STDERR);
}

void InstallInvalidParameterHandler()
{
    typedef void(__cdecl * Handler)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                    uintptr_t);
    typedef Handler(__cdecl * SetHandlerProc)(Handler);
    SetHandlerProc setHandler = (SetHandlerProc)RuntimeFunction("_set_invalid_parameter_handler");
    if (setHandler)
        setHandler(OnInvalidParameter);
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
    InstallInvalidParameterHandler();
}
