#pragma once

#include <windows.h>

#include "services/WideString.h"

// The program's version as its version resource states it. The numbers
// default to 1.01 when the resource says nothing usable.
struct VersionNumbers {
    unsigned major = 1;
    unsigned minor = 1;
};

// From a version block as GetFileVersionInfoW delivers it: the German, then
// the English "FileVersion" string read as "major.minor", else the fixed
// file information's product version. Returns 1 when the block gave them.
int VersionNumbersFromBlock(const void* block, VersionNumbers& numbers);
// The same for `module`'s file (the process's executable for nullptr).
int ReadVersionNumbers(HMODULE module, VersionNumbers& numbers);
int ReadFileVersionNumbers(const wchar_t* file, VersionNumbers& numbers);

// "%u.%u" as the C library reads it: white space before each number, and
// the minor number only after a dot. Returns how many numbers were read.
int ScanVersionNumbers(const wchar_t* text, unsigned* first, unsigned* second);

// "name [major.minor]" with two digits for the minor number.
const wchar_t* CaptionWithVersion(const wchar_t* productName, HMODULE module, WideString& caption);
// major * 256 + minor, the low byte of each.
unsigned PackedVersion(HMODULE module);

// A named string of the version resource, such as "FileDescription": the
// German block first, then the English one. `moduleFile` nullptr means the
// process's executable. 0 when absent.
int VersionString(const wchar_t* valueName, const wchar_t* moduleFile, WideString& value);
int VersionStringFromBlock(const void* block, const wchar_t* valueName, WideString& value);

// The version text the program sends with update checks and problem
// reports: the "FileVersion" string as it stands (German block first) when
// it is not empty, else
// "major.minor" of the fixed file version, else "1.1". `moduleFile` nullptr
// means the process's executable. 1 when the file's resource gave it.
int ProgramVersionText(const wchar_t* moduleFile, WideString& text);
int ProgramVersionTextFromBlock(const void* block, WideString& text);
