#pragma once

#include <windows.h>

#include "report/ProfileMask.h"

// Rewrites the module names of the minidump in `file` (open for reading and
// writing) as `mask` shows them: a masked name is appended to the file, its
// module points there, and the old name's characters are cleared. Every
// other byte stays. 1 when the dump was read (whether or not a name
// changed), 0 when it is not a minidump this can read.
int MaskDumpModuleNames(HANDLE file, const ProfileMask& mask);
