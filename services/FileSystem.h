#pragma once

#include <windows.h>

#include "services/WideString.h"

// Small file operations shared by the downloads and the installation.

// Whether `path` names an existing file or directory.
bool PathExists(const wchar_t* path);
bool IsDirectory(const wchar_t* path);
// Deletes the file `path`, clearing a read-only attribute first. 1 when it
// is gone, also when it never was there.
int RemoveFile(const wchar_t* path);
// Writes all `count` bytes to `file`; 0 when fewer went out.
int WriteAll(HANDLE file, const void* bytes, DWORD count);
// A fresh, empty file in the directory of `path`, so that moving it onto
// `path` later is a rename within one directory.
int CreateTemporaryBeside(const wchar_t* path, WideString& temporary);
