#pragma once

#include <windows.h>

#include "services/OptionalApi.h"

// Colours of the dark state.
static const COLORREF DarkBackground = 0x191919; // RGB(25, 25, 25)
static const COLORREF DarkText = 0xFFFFFF;
static const COLORREF DarkCaption = 0x202020;

// The first Windows 10 builds that have the dark-mode entry points of
// uxtheme.dll: ordinal 132 since 1809, ordinal 135 since 1903's previews.
static const DWORD DarkModeQueryBuild = 17763;
static const DWORD DarkModePreferenceBuild = 18334;

// The rules, free of the running system so they can be checked alone.
// `appsUseDarkTheme` is what ordinal 132 answered (bit 0: dark).
int DarkModeWantedOn(int windows10OrLater, DWORD build, int appsUseDarkTheme);
int DarkModePreferenceAllowedOn(int windows10OrLater, DWORD build);

// The running system's answers. The uxtheme ordinals are only called on a
// build that has them: on older ones the same numbers may be other functions.
int IsDarkModeWanted(OptionalApi& api = OptionalApi::Shared());
// Ordinal 135 with `mode` where the build has it; its answer, else 0.
int AllowDarkModeForApp(int mode, OptionalApi& api = OptionalApi::Shared());

// What the title bar of a window gets: DWMWA_USE_IMMERSIVE_DARK_MODE with
// the dark flag, unless the user shows the accent colour on title bars
// (`colorPrevalence` 1); then only a window asking for its caption colour
// (`caption` 1) gets DWMWA_CAPTION_COLOR. Returns 0 when nothing is set.
struct TitleBarAttribute {
    DWORD attribute;
    DWORD value;
};
int ChooseTitleBarAttribute(DWORD colorPrevalence, int dark, int caption, TitleBarAttribute* chosen);
// Reads "ColorPrevalence" of the user's DWM settings and applies the
// choice; DwmSetWindowAttribute failures are ignored. Returns 1 when an
// attribute was sent.
int SetTitleBarColour(HWND window, int dark, int caption, OptionalApi& api = OptionalApi::Shared());

// The running Windows version as the dark-mode rules need it.
int RunningWindows10Build(int* windows10OrLater, DWORD* build);

// A window's flag word after re-reading the system: `active` set or cleared
// by the dark-mode test when the window follows the system (`follow` set),
// left alone otherwise.
DWORD FollowDarkMode(DWORD flags, DWORD follow, DWORD active, OptionalApi& api = OptionalApi::Shared());
