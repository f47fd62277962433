#pragma once

#include <windows.h>

#include "services/WideString.h"

// The SHA-256 of a file's bytes as 64 lower-case hexadecimal digits, through
// the system's cryptographic provider. 0 when the file cannot be read.
int FileSha256(const wchar_t* path, WideString& hex);

// Whether `expected` (hexadecimal digits in either case, blanks around
// them allowed) names the same digest as `hex`.
bool SameDigest(const wchar_t* expected, const wchar_t* hex);
