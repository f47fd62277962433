#pragma once

#include <windows.h>

// Stack kept on every thread for its own crash handling. A thread that
// overflows its stack runs the exception filter on what is left: enough to
// hand the crash to the reporter thread and wait, which is all it does.
const ULONG HandlerStackGuarantee = 32 * 1024;
// Threads with a smaller stack (some libraries start such threads) are left
// as they are: the guarantee would cost them too much of it.
const ULONG_PTR HandlerStackMinimumReserve = 256 * 1024;

// Reserves the handler's stack on the calling thread. Every thread of the
// process gets this as it starts (a TLS callback of the executable), the
// first one included; calling it again changes nothing. 1 when the thread
// has its guarantee.
int ReserveHandlerStack();
