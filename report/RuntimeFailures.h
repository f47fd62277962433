#pragma once

#include <windows.h>

// Ways a program ends without an exception of its own: abort, a C++
// termination, a pure virtual call and an invalid parameter handed to the
// C runtime. Each goes through the crash report as an exception with the
// code below, which the report names and the process ends with.
const DWORD AbortCode = 0xE0514D01;            // "Abort"
const DWORD TerminateCode = 0xE0514D02;        // "Terminate"
const DWORD PureVirtualCallCode = 0xE0514D03;  // "Pure Virtual Call"
const DWORD InvalidParameterCode = 0xC0000417; // "Invalid Parameter" (the system's own code)

// Reports the failure `code` on the failing thread; does not return.
typedef void (*RuntimeFailureReport)(DWORD code);

// Routes all four to `report`: the SIGABRT handler (the runtime's own
// message box switched off), the C++ terminate handler, the pure virtual
// call entry point and the invalid-parameter handler of the C runtime the
// program is linked with (in msvcrt.dll looked up, since older ones lack it).
void InstallRuntimeFailureHandlers(RuntimeFailureReport report);
