#include "ui/DarkMode.h"

#include "services/RegistryKey.h"
#include "services/WindowsVersion.h"

namespace {

const DWORD UseImmersiveDarkMode = 20; // DWMWA_USE_IMMERSIVE_DARK_MODE
const DWORD CaptionColour = 35;        // DWMWA_CAPTION_COLOR
const DWORD DefaultColour = 0xFFFFFFFF; // DWMWA_COLOR_DEFAULT

} // namespace

int RunningWindows10Build(int* windows10OrLater, DWORD* build)
{
    *windows10OrLater = IsWindowsAtLeast(0x100000, 0) ? 1 : 0;
    *build = GetWindowsBuildNumber();
    return GetWindowsVersion() != 0;
}

int DarkModeWantedOn(int windows10OrLater, DWORD build, int appsUseDarkTheme)
{
    return windows10OrLater && build >= DarkModeQueryBuild && (appsUseDarkTheme & 1) ? 1 : 0;
}

int DarkModePreferenceAllowedOn(int windows10OrLater, DWORD build)
{
    return windows10OrLater && build >= DarkModePreferenceBuild ? 1 : 0;
}

int IsDarkModeWanted(OptionalApi& api)
{
    int windows10 = 0;
    DWORD build = 0;
    RunningWindows10Build(&windows10, &build);
    if (!DarkModeWantedOn(windows10, build, 1))
        return 0;
    return DarkModeWantedOn(windows10, build, api.ShouldAppsUseDarkMode());
}

int AllowDarkModeForApp(int mode, OptionalApi& api)
{
    int windows10 = 0;
    DWORD build = 0;
    RunningWindows10Build(&windows10, &build);
    if (!DarkModePreferenceAllowedOn(windows10, build))
        return 0;
    return api.SetPreferredAppMode(mode);
}

int ChooseTitleBarAttribute(DWORD colorPrevalence, int dark, int caption, TitleBarAttribute* chosen)
{
    if (colorPrevalence != 1) {
        chosen->attribute = UseImmersiveDarkMode;
        chosen->value = dark ? TRUE : FALSE;
        return 1;
    }
    // The user colours title bars with the accent colour; keep it unless
    // the window asks for its own caption colour.
    if (caption != 1)
        return 0;
    chosen->attribute = CaptionColour;
    chosen->value = dark ? DarkCaption : DefaultColour;
    return 1;
}

int SetTitleBarColour(HWND window, int dark, int caption, OptionalApi& api)
{
    unsigned long long prevalence = 0;
    RegistryKey key;
    if (key.OpenRead(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\DWM") &&
        !key.ReadNumber(L"ColorPrevalence", &prevalence))
        prevalence = 0;
    key.Close();
    TitleBarAttribute chosen;
    if (!ChooseTitleBarAttribute((DWORD)prevalence, dark, caption, &chosen))
        return 0;
    api.DwmSetWindowAttribute(window, chosen.attribute, &chosen.value, sizeof chosen.value);
    return 1;
}

DWORD FollowDarkMode(DWORD flags, DWORD follow, DWORD active, OptionalApi& api)
{
    if (!(flags & follow))
        return flags;
    return IsDarkModeWanted(api) ? (flags | active) : (flags & ~active);
}
