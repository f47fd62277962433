#pragma once

#include <windows.h>

// Whether this user may install into the program's folder, asked before
// anything is downloaded: a program under Program Files started by a
// standard user may not, and such an update could only fail.

// 1 when a file can be made in `directory` and `program` may be renamed.
[[nodiscard]] int MayInstallInto(const wchar_t* directory, const wchar_t* program);

// Tests answer the question themselves by replacing the probe; null
// restores the real one. Returns the probe it replaces.
typedef int (*InstallAccessProbe)(const wchar_t* directory, const wchar_t* program);
InstallAccessProbe UseInstallAccessProbe(InstallAccessProbe probe);
