#pragma once

#include <windows.h>

#include "services/WideString.h"

// The one-line message for a system or WinINet error code in the default
// language, at most 260 characters; nullptr when neither knows the code.
const wchar_t* ErrorText(DWORD code, WideString& text);

// Turns every CR and LF into a space and removes the spaces at the end, so a
// message of several lines reads as one.
void FlattenMessageText(WideString& text);
