#include "services/OptionalApi.h"

#include <sddl.h>
#include <string.h>

namespace {

const wchar_t* const LibraryNames[OptionalApi::LibraryCount] = {
    L"user32.dll", L"gdi32.dll", L"ole32.dll", L"comctl32.dll",
    L"uxtheme.dll", L"dwmapi.dll", L"advapi32.dll"};

const HRESULT DwmCompositionDisabled = (HRESULT)0x80263001; // DWM_E_COMPOSITIONDISABLED

// The actions whose answer depends on the DPI.
bool IsDpiDependentAction(UINT action)
{
    return action == SPI_GETICONTITLELOGFONT || action == SPI_GETNONCLIENTMETRICS ||
           action == SPI_GETICONMETRICS;
}

} // namespace

OptionalApi::OptionalApi() = default;

OptionalApi::OptionalApi(const OptionalApiTable& fixed) : table_(fixed), fixed_(true) {}

OptionalApi& OptionalApi::Shared()
{
    static OptionalApi api;
    return api;
}

void OptionalApi::UseFixedTable(const OptionalApiTable& fixed)
{
    table_ = fixed;
    fixed_ = true;
}

void OptionalApi::UseSystem()
{
    table_ = OptionalApiTable();
    fixed_ = false;
}

FARPROC OptionalApi::Lookup(Library library, const char* name)
{
    if (!loadTried_[library]) {
        loadTried_[library] = true;
        libraries_[library].Load(LibraryNames[library]);
    }
    return libraries_[library].Lookup(name);
}

template <class Function>
Function OptionalApi::Bind(Function OptionalApiTable::*slot, Library library, const char* name)
{
    Function& function = table_.*slot;
    if (!function && !fixed_)
        function = reinterpret_cast<Function>(Lookup(library, name));
    return function;
}

// --- user32.dll ---------------------------------------------------------

HMONITOR OptionalApi::MonitorFromPoint(POINT point, DWORD flags)
{
    auto function = Bind(&OptionalApiTable::MonitorFromPoint, User32, "MonitorFromPoint");
    return function ? function(point, flags) : nullptr;
}

BOOL OptionalApi::GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info)
{
    auto function = Bind(&OptionalApiTable::GetMonitorInfoW, User32, "GetMonitorInfoW");
    return function ? function(monitor, info) : 0;
}

UINT OptionalApi::GetDpiForWindow(HWND window)
{
    auto function = Bind(&OptionalApiTable::GetDpiForWindow, User32, "GetDpiForWindow");
    return function ? function(window) : 0;
}

int OptionalApi::GetSystemMetricsForDpi(int index, UINT dpi)
{
    auto function = Bind(&OptionalApiTable::GetSystemMetricsForDpi, User32, "GetSystemMetricsForDpi");
    return function ? function(index, dpi) : 0;
}

BOOL OptionalApi::AdjustWindowRectExForDpi(RECT* rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi)
{
    auto function = Bind(&OptionalApiTable::AdjustWindowRectExForDpi, User32, "AdjustWindowRectExForDpi");
    return function ? function(rect, style, menu, exStyle, dpi) : 0;
}

BOOL OptionalApi::SystemParametersInfoForDpi(UINT action, UINT param, void* data, UINT winIni, UINT dpi)
{
    auto function = Bind(&OptionalApiTable::SystemParametersInfoForDpi, User32,
                         "SystemParametersInfoForDpi");
    return function ? function(action, param, data, winIni, dpi) : 0;
}

DPI_AWARENESS_CONTEXT OptionalApi::SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT context)
{
    auto function = Bind(&OptionalApiTable::SetThreadDpiAwarenessContext, User32,
                         "SetThreadDpiAwarenessContext");
    return function ? function(context) : nullptr;
}

BOOL OptionalApi::SetDialogDpiChangeBehavior(HWND dialog, DIALOG_DPI_CHANGE_BEHAVIORS mask,
                                             DIALOG_DPI_CHANGE_BEHAVIORS values)
{
    auto function = Bind(&OptionalApiTable::SetDialogDpiChangeBehavior, User32,
                         "SetDialogDpiChangeBehavior");
    return function ? function(dialog, mask, values) : 0;
}

BOOL OptionalApi::GetComboBoxInfo(HWND combo, COMBOBOXINFO* info)
{
    auto function = Bind(&OptionalApiTable::GetComboBoxInfo, User32, "GetComboBoxInfo");
    return function ? function(combo, info) : 0;
}

BOOL OptionalApi::SystemParametersInfoW(UINT action, UINT param, void* data, UINT winIni)
{
    auto function = Bind(&OptionalApiTable::SystemParametersInfoW, User32, "SystemParametersInfoW");
    return function ? function(action, param, data, winIni) : 0;
}

// --- gdi32.dll ----------------------------------------------------------

COLORREF OptionalApi::SetDCBrushColor(HDC dc, COLORREF colour)
{
    auto function = Bind(&OptionalApiTable::SetDCBrushColor, Gdi32, "SetDCBrushColor");
    return function ? function(dc, colour) : CLR_INVALID;
}

COLORREF OptionalApi::SetDCPenColor(HDC dc, COLORREF colour)
{
    auto function = Bind(&OptionalApiTable::SetDCPenColor, Gdi32, "SetDCPenColor");
    return function ? function(dc, colour) : CLR_INVALID;
}

// --- ole32.dll ----------------------------------------------------------

HRESULT OptionalApi::CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG authServices,
                                          SOLE_AUTHENTICATION_SERVICE* services, void* reserved1,
                                          DWORD authLevel, DWORD impersonationLevel,
                                          void* authList, DWORD capabilities, void* reserved3)
{
    auto function = Bind(&OptionalApiTable::CoInitializeSecurity, Ole32, "CoInitializeSecurity");
    return function ? function(descriptor, authServices, services, reserved1, authLevel,
                               impersonationLevel, authList, capabilities, reserved3)
                    : E_FAIL;
}

HRESULT OptionalApi::CoSetProxyBlanket(IUnknown* proxy, DWORD authService, DWORD authzService,
                                       OLECHAR* serverPrincipal, DWORD authLevel,
                                       DWORD impersonationLevel, RPC_AUTH_IDENTITY_HANDLE identity,
                                       DWORD capabilities)
{
    auto function = Bind(&OptionalApiTable::CoSetProxyBlanket, Ole32, "CoSetProxyBlanket");
    return function ? function(proxy, authService, authzService, serverPrincipal, authLevel,
                               impersonationLevel, identity, capabilities)
                    : E_FAIL;
}

// --- comctl32.dll -------------------------------------------------------

HRESULT OptionalApi::LoadIconMetric(HINSTANCE instance, const wchar_t* name, int metric, HICON* icon)
{
    auto function = Bind(&OptionalApiTable::LoadIconMetric, Comctl32, "LoadIconMetric");
    if (!function) {
        if (icon)
            *icon = nullptr;
        return E_FAIL;
    }
    return function(instance, name, metric, icon);
}

HRESULT OptionalApi::LoadIconWithScaleDown(HINSTANCE instance, const wchar_t* name, int cx, int cy,
                                           HICON* icon)
{
    auto function = Bind(&OptionalApiTable::LoadIconWithScaleDown, Comctl32, "LoadIconWithScaleDown");
    if (!function) {
        if (icon)
            *icon = nullptr;
        return E_FAIL;
    }
    return function(instance, name, cx, cy, icon);
}

int OptionalApi::DrawShadowText(HDC dc, const wchar_t* text, UINT length, RECT* rect, DWORD flags,
                                COLORREF textColour, COLORREF shadow, int offsetX, int offsetY)
{
    auto function = Bind(&OptionalApiTable::DrawShadowText, Comctl32, "DrawShadowText");
    return function ? function(dc, text, length, rect, flags, textColour, shadow, offsetX, offsetY) : 0;
}

// --- uxtheme.dll --------------------------------------------------------

int OptionalApi::ShouldAppsUseDarkMode()
{
    auto function = Bind(&OptionalApiTable::ShouldAppsUseDarkMode, Uxtheme, MAKEINTRESOURCEA(132));
    return function ? function() : 0;
}

int OptionalApi::SetPreferredAppMode(int mode)
{
    auto function = Bind(&OptionalApiTable::SetPreferredAppMode, Uxtheme, MAKEINTRESOURCEA(135));
    return function ? function(mode) : 0;
}

HTHEME OptionalApi::OpenThemeDataForDpi(HWND window, const wchar_t* classList, UINT dpi)
{
    auto function = Bind(&OptionalApiTable::OpenThemeDataForDpi, Uxtheme, "OpenThemeDataForDpi");
    return function ? function(window, classList, dpi) : nullptr;
}

HTHEME OptionalApi::OpenThemeData(HWND window, const wchar_t* classList)
{
    auto function = Bind(&OptionalApiTable::OpenThemeData, Uxtheme, "OpenThemeData");
    return function ? function(window, classList) : nullptr;
}

HRESULT OptionalApi::CloseThemeData(HTHEME theme)
{
    auto function = Bind(&OptionalApiTable::CloseThemeData, Uxtheme, "CloseThemeData");
    return function ? function(theme) : E_NOINTERFACE;
}

BOOL OptionalApi::IsThemeActive()
{
    auto function = Bind(&OptionalApiTable::IsThemeActive, Uxtheme, "IsThemeActive");
    return function ? function() : 0;
}

HRESULT OptionalApi::DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT* rect,
                                         const RECT* clip)
{
    auto function = Bind(&OptionalApiTable::DrawThemeBackground, Uxtheme, "DrawThemeBackground");
    return function ? function(theme, dc, part, state, rect, clip) : E_NOINTERFACE;
}

HRESULT OptionalApi::SetWindowTheme(HWND window, const wchar_t* subApp, const wchar_t* idList)
{
    auto function = Bind(&OptionalApiTable::SetWindowTheme, Uxtheme, "SetWindowTheme");
    return function ? function(window, subApp, idList) : E_NOINTERFACE;
}

BOOL OptionalApi::IsThemeBackgroundPartiallyTransparent(HTHEME theme, int part, int state)
{
    auto function = Bind(&OptionalApiTable::IsThemeBackgroundPartiallyTransparent, Uxtheme,
                         "IsThemeBackgroundPartiallyTransparent");
    return function ? function(theme, part, state) : 0;
}

HRESULT OptionalApi::DrawThemeParentBackground(HWND child, HDC dc, const RECT* rect)
{
    auto function = Bind(&OptionalApiTable::DrawThemeParentBackground, Uxtheme,
                         "DrawThemeParentBackground");
    return function ? function(child, dc, rect) : E_NOINTERFACE;
}

HRESULT OptionalApi::GetThemePartSize(HTHEME theme, HDC dc, int part, int state, RECT* rect,
                                      THEMESIZE size, SIZE* result)
{
    auto function = Bind(&OptionalApiTable::GetThemePartSize, Uxtheme, "GetThemePartSize");
    return function ? function(theme, dc, part, state, rect, size, result) : E_NOINTERFACE;
}

// --- dwmapi.dll ---------------------------------------------------------

HRESULT OptionalApi::DwmSetWindowAttribute(HWND window, DWORD attribute, const void* value, DWORD size)
{
    auto function = Bind(&OptionalApiTable::DwmSetWindowAttribute, Dwmapi, "DwmSetWindowAttribute");
    return function ? function(window, attribute, value, size) : DwmCompositionDisabled;
}

// --- advapi32.dll -------------------------------------------------------

BOOL OptionalApi::ConvertStringSecurityDescriptorToSecurityDescriptorW(const wchar_t* text,
                                                                       DWORD revision,
                                                                       PSECURITY_DESCRIPTOR* descriptor,
                                                                       ULONG* size)
{
    auto function = Bind(&OptionalApiTable::ConvertStringSecurityDescriptorToSecurityDescriptorW,
                         Advapi32, "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    return function ? function(text, revision, descriptor, size) : 0;
}

BOOL OptionalApi::InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision)
{
    auto function = Bind(&OptionalApiTable::InitializeSecurityDescriptor, Advapi32,
                         "InitializeSecurityDescriptor");
    return function ? function(descriptor, revision) : 0;
}

BOOL OptionalApi::SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                                            BOOL defaulted)
{
    auto function = Bind(&OptionalApiTable::SetSecurityDescriptorDacl, Advapi32,
                         "SetSecurityDescriptorDacl");
    return function ? function(descriptor, present, dacl, defaulted) : 0;
}

// --- composite entries --------------------------------------------------

UINT OptionalApi::WindowDpi(HWND window)
{
    UINT dpi = GetDpiForWindow(window);
    if (dpi)
        return dpi;
    HDC dc = GetDC(window);
    if (dc) {
        int pixels = GetDeviceCaps(dc, LOGPIXELSX);
        ReleaseDC(window, dc);
        if (pixels > 0)
            return (UINT)pixels;
    }
    return 96;
}

int OptionalApi::SystemMetricForDpi(int index, UINT dpi)
{
    if (dpi && Bind(&OptionalApiTable::GetSystemMetricsForDpi, User32, "GetSystemMetricsForDpi"))
        return GetSystemMetricsForDpi(index, dpi);
    return ::GetSystemMetrics(index);
}

BOOL OptionalApi::AdjustWindowRectForDpi(RECT* rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi)
{
    if (dpi && Bind(&OptionalApiTable::AdjustWindowRectExForDpi, User32, "AdjustWindowRectExForDpi"))
        return AdjustWindowRectExForDpi(rect, style, menu, exStyle, dpi);
    return ::AdjustWindowRectEx(rect, style, menu, exStyle);
}

BOOL OptionalApi::SystemParameterForDpi(UINT action, UINT param, void* data, UINT winIni, UINT dpi)
{
    if (dpi && IsDpiDependentAction(action) &&
        Bind(&OptionalApiTable::SystemParametersInfoForDpi, User32, "SystemParametersInfoForDpi")) {
        // The structure is the caller's: one built without iPaddedBorderWidth
        // (500 bytes) must not be announced as the full one, or the call
        // writes past its end.
        if (action == SPI_GETNONCLIENTMETRICS && data)
            param = ((const NONCLIENTMETRICSW*)data)->cbSize;
        return SystemParametersInfoForDpi(action, param, data, winIni, dpi);
    }
    return ::SystemParametersInfoW(action, param, data, winIni);
}

int OptionalApi::MonitorRects(POINT point, RECT* monitor, RECT* workArea)
{
    HMONITOR handle = MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST);
    if (!handle)
        return 0;
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(handle, &info)) {
        if (monitor)
            *monitor = info.rcMonitor;
        if (workArea)
            *workArea = info.rcWork;
        return 1;
    }
    RECT screen = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (monitor)
        *monitor = screen;
    if (workArea && !::SystemParametersInfoW(SPI_GETWORKAREA, 0, workArea, 0))
        *workArea = screen;
    return 1;
}

int OptionalApi::IsHighContrast()
{
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

PSECURITY_DESCRIPTOR OptionalApi::BuildSecurityDescriptor(const wchar_t* descriptorText)
{
    if (descriptorText) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText, SDDL_REVISION_1,
                                                                  &descriptor, nullptr))
            return nullptr;
        return descriptor;
    }
    SECURITY_DESCRIPTOR empty;
    if (!InitializeSecurityDescriptor(&empty, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&empty, TRUE, nullptr, FALSE))
        return nullptr;
    void* copy = LocalAlloc(LMEM_FIXED, sizeof empty);
    if (copy)
        memcpy(copy, &empty, sizeof empty);
    return (PSECURITY_DESCRIPTOR)copy;
}


