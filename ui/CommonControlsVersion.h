#pragma once

#include <windows.h>

// The version of the comctl32.dll this process uses (the manifest picks
// version 6), as major << 16 | minor from its DllGetVersion; 0 when it
// cannot be read. Read once and kept: the library never changes while the
// process runs.
DWORD CommonControlsVersion();

// Versions behind the behaviour that differs between comctl32 releases.
static const DWORD CommonControls58 = 0x50050;
static const DWORD CommonControls60 = 0x60000;
// The first release with collapsible groups and the Vista tree look.
static const DWORD CommonControls616 = 0x60010;
