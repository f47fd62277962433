#pragma once

#include <windows.h>

#include "services/WideString.h"

// The decoded "Status" row: the DN_ flag word and the CM_PROB_ number.
struct StatusFlagName {
    ULONG bit;
    const wchar_t* name;
};

class StatusText {
public:
    static const int FlagCount = 32;
    static const int ProblemCount = 57;
    // In the order the flags are tested and written.
    static const StatusFlagName* Flags();
    // The name of problem 1 to 57, else nullptr.
    static const wchar_t* ProblemName(ULONG problem);
    // "0x%08X (flags), Problem: ..." for a status word and problem number.
    static void Format(ULONG status, ULONG problem, WideString& value);
};
