#pragma once

#include <windows.h>

// The calling thread's information block (NT_TIB heads its TEB).
// GCC takes MinGW's segment-relative read of it for a read of a zero-length
// array at address 0, so the warning is silenced here, for this read only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
inline NT_TIB* CurrentThreadBlock()
{
    return (NT_TIB*)NtCurrentTeb();
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
