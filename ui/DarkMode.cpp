#include "ui/DarkMode.h"

#include "services/RegistryKey.h"

namespace {

const DWORD UseImmersiveDarkMode = 20; // DWMWA_USE_IMMERSIVE_DARK_MODE
const DWORD CaptionColour = 35;        // DWMWA_CAPTION_COLOR
const DWORD DefaultColour = 0xFFFFFFFF; // DWMWA_COLOR_DEFAULT

} // namespace

int RunningWindows10Build(int* windows10OrLater, DWORD* build)
{
    *windows10OrLater = 0;
    *build = 0;
    // RtlGetVersion tells the truth whatever the manifest declares;
    // GetVersionExW stays at 6.2 for programs not declared for Windows 10.
    typedef LONG(WINAPI * RtlGetVersionFunction)(OSVERSIONINFOW*);
    RtlGetVersionFunction rtlGetVersion =
        (RtlGetVersionFunction)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    bool known = rtlGetVersion ? rtlGetVersion(&version) == 0 : false;
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    if (!known)
        known = GetVersionExW(&version) != 0;
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif
    if (!known || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return 0;
    *windows10OrLater = version.dwMajorVersion >= 10;
    *build = version.dwBuildNumber;
    return 1;
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
