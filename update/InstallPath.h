#pragma once

#include "services/WideString.h"

// Names that an update brings (from the server's answer or from inside an
// archive) are hostile input: only a relative path that stays inside the
// program's directory is ever joined to it.

// The longest joined path the installation works with; the file functions
// it uses take no "\\?\" prefix.
static const int InstallPathLimit = MAX_PATH - 1;

// `stored` made into a relative path with backslashes: slashes become
// backslashes, empty and "." components are dropped, and a trailing
// separator (a directory entry) is removed and reported through
// `directory`. Refused (0): an empty result, an absolute path, a drive
// letter or any colon, a ".." component, control characters or any of
// <>"|?*, a component that ends in a dot or a blank (Windows would drop
// those and name another file), and device names such as CON or LPT1.
[[nodiscard]] int MakeSafeRelativePath(const wchar_t* stored, WideString& relative, bool* directory = nullptr);

// A plain file name: a safe relative path of one component.
[[nodiscard]] int IsSafeFileName(const wchar_t* name);

// `directory` (with or without its trailing backslash) and a safe relative
// path joined; 0 when the result would pass InstallPathLimit.
[[nodiscard]] int JoinInside(const wchar_t* directory, const wchar_t* relative, WideString& path);
