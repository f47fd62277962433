#pragma once

#include "services/WideString.h"

// Where the running executable lives, and the names derived from it.

// The executable's full path (GetModuleFileNameW, at most 260 characters).
int GetExecutablePath(WideString& path);
// The executable's directory with its trailing backslash.
int GetExecutableDirectory(WideString& directory);
// The executable's file name without a short extension: "tool" for
// "C:\bin\tool.exe", "tool.backup" for "C:\bin\tool.backup".
int GetExecutableBaseName(WideString& name);

// The part of `path` up to and including its last backslash or slash;
// empty when it has none.
void DirectoryOf(const wchar_t* path, WideString& directory);
// The part of `path` after its last backslash or slash.
void FileNameOf(const wchar_t* path, WideString& name);
// Cuts `name` at its last dot when that dot is one of the last four
// characters, so only extensions of up to three letters go.
void RemoveShortExtension(WideString& name);
// `directory` and `name` joined by exactly one backslash.
int JoinPath(const wchar_t* directory, const wchar_t* name, WideString& path);
