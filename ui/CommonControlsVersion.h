#pragma once

#include <windows.h>

// The version of comctl32.dll as major << 16 | minor from its DllGetVersion;
// 0 when it cannot be read. With a control window, the version of the
// library that implements that control (the manifest makes it version 6,
// even where a plain LoadLibrary would find version 5); without one, the
// library the process loads by name.
DWORD CommonControlsVersion(HWND control = nullptr);

// Versions behind the behaviour that differs between comctl32 releases.
static const DWORD CommonControls58 = 0x50050;
static const DWORD CommonControls60 = 0x60000;
// The first release with collapsible groups and the Vista tree look.
static const DWORD CommonControls616 = 0x60010;
