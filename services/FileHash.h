#pragma once

#include <windows.h>

#include "services/WideString.h"

static const int Sha256Bytes = 32;

// The SHA-256 of a file's bytes as 64 lower-case hexadecimal digits, through
// the system's cryptographic provider. 0 when the file cannot be read.
int FileSha256(const wchar_t* path, WideString& hex);
// The SHA-256 of `size` bytes in memory.
int Sha256(const void* bytes, DWORD size, BYTE (&digest)[Sha256Bytes]);
// `count` bytes as lower-case hexadecimal digits, two per byte.
int HexText(const BYTE* bytes, int count, WideString& hex);

// Whether `expected` (hexadecimal digits in either case, blanks around
// them allowed) names the same digest as `hex`.
bool SameDigest(const wchar_t* expected, const wchar_t* hex);
