#pragma once

#include <windows.h>
#include <objbase.h>
#include <uxtheme.h>

#include "services/LibraryHolder.h"

// The system functions that some supported Windows version lacks, one
// pointer each. A null slot is a missing function.
struct OptionalApiTable {
    // user32.dll
    HMONITOR (WINAPI* MonitorFromPoint)(POINT point, DWORD flags);
    BOOL (WINAPI* GetMonitorInfoW)(HMONITOR monitor, MONITORINFO* info);
    UINT (WINAPI* GetDpiForWindow)(HWND window);
    int (WINAPI* GetSystemMetricsForDpi)(int index, UINT dpi);
    BOOL (WINAPI* AdjustWindowRectExForDpi)(RECT* rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
    BOOL (WINAPI* SystemParametersInfoForDpi)(UINT action, UINT param, void* data, UINT winIni, UINT dpi);
    DPI_AWARENESS_CONTEXT (WINAPI* SetThreadDpiAwarenessContext)(DPI_AWARENESS_CONTEXT context);
    BOOL (WINAPI* SetDialogDpiChangeBehavior)(HWND dialog, DIALOG_DPI_CHANGE_BEHAVIORS mask,
                                              DIALOG_DPI_CHANGE_BEHAVIORS values);
    BOOL (WINAPI* GetComboBoxInfo)(HWND combo, COMBOBOXINFO* info);
    // Present everywhere; in the table so that the user's accessibility
    // settings (high contrast) can be answered for by a test.
    BOOL (WINAPI* SystemParametersInfoW)(UINT action, UINT param, void* data, UINT winIni);
    // gdi32.dll
    COLORREF (WINAPI* SetDCBrushColor)(HDC dc, COLORREF colour);
    COLORREF (WINAPI* SetDCPenColor)(HDC dc, COLORREF colour);
    // ole32.dll
    HRESULT (WINAPI* CoInitializeSecurity)(PSECURITY_DESCRIPTOR descriptor, LONG authServices,
                                           SOLE_AUTHENTICATION_SERVICE* services, void* reserved1,
                                           DWORD authLevel, DWORD impersonationLevel,
                                           void* authList, DWORD capabilities, void* reserved3);
    HRESULT (WINAPI* CoSetProxyBlanket)(IUnknown* proxy, DWORD authService, DWORD authzService,
                                        OLECHAR* serverPrincipal, DWORD authLevel,
                                        DWORD impersonationLevel, RPC_AUTH_IDENTITY_HANDLE identity,
                                        DWORD capabilities);
    // comctl32.dll (version 6)
    HRESULT (WINAPI* LoadIconMetric)(HINSTANCE instance, const wchar_t* name, int metric, HICON* icon);
    HRESULT (WINAPI* LoadIconWithScaleDown)(HINSTANCE instance, const wchar_t* name, int cx, int cy,
                                            HICON* icon);
    int (WINAPI* DrawShadowText)(HDC dc, const wchar_t* text, UINT length, RECT* rect, DWORD flags,
                                 COLORREF textColour, COLORREF shadow, int offsetX, int offsetY);
    // uxtheme.dll; the first two have no names, only ordinals 132 and 135.
    int (WINAPI* ShouldAppsUseDarkMode)();
    int (WINAPI* SetPreferredAppMode)(int mode);
    HTHEME (WINAPI* OpenThemeDataForDpi)(HWND window, const wchar_t* classList, UINT dpi);
    HTHEME (WINAPI* OpenThemeData)(HWND window, const wchar_t* classList);
    HRESULT (WINAPI* CloseThemeData)(HTHEME theme);
    BOOL (WINAPI* IsThemeActive)();
    HRESULT (WINAPI* DrawThemeBackground)(HTHEME theme, HDC dc, int part, int state, const RECT* rect,
                                          const RECT* clip);
    HRESULT (WINAPI* SetWindowTheme)(HWND window, const wchar_t* subApp, const wchar_t* idList);
    BOOL (WINAPI* IsThemeBackgroundPartiallyTransparent)(HTHEME theme, int part, int state);
    HRESULT (WINAPI* DrawThemeParentBackground)(HWND child, HDC dc, const RECT* rect);
    HRESULT (WINAPI* GetThemePartSize)(HTHEME theme, HDC dc, int part, int state, RECT* rect,
                                       THEMESIZE size, SIZE* result);
    // dwmapi.dll
    HRESULT (WINAPI* DwmSetWindowAttribute)(HWND window, DWORD attribute, const void* value, DWORD size);
    // advapi32.dll
    BOOL (WINAPI* ConvertStringSecurityDescriptorToSecurityDescriptorW)(const wchar_t* text,
                                                                       DWORD revision,
                                                                       PSECURITY_DESCRIPTOR* descriptor,
                                                                       ULONG* size);
    BOOL (WINAPI* InitializeSecurityDescriptor)(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
    BOOL (WINAPI* SetSecurityDescriptorDacl)(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                                             BOOL defaulted);
};

// The process-wide table through which the toolkit calls optional system
// functions. Each method of a function's name loads the library and looks
// the function up on first use; when either is missing it returns the
// fallback named beside it and calls nothing. The composite methods below
// fall back to the classic function instead.
class OptionalApi {
public:
    enum Library { User32, Gdi32, Ole32, Comctl32, Uxtheme, Dwmapi, Advapi32, LibraryCount };

    // Binds lazily from the system libraries.
    OptionalApi();
    // Uses exactly `fixed` and never loads anything: empty slots stay missing.
    explicit OptionalApi(const OptionalApiTable& fixed);
    OptionalApi(const OptionalApi&) = delete;
    OptionalApi& operator=(const OptionalApi&) = delete;

    // The one table of the process, released at exit.
    static OptionalApi& Shared();

    // From now on exactly `fixed`, as the fixed constructor makes it (tests
    // answer for the system this way); UseSystem binds lazily again.
    void UseFixedTable(const OptionalApiTable& fixed);
    void UseSystem();

    // user32.dll
    HMONITOR MonitorFromPoint(POINT point, DWORD flags);                   // nullptr
    BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info);              // 0
    UINT GetDpiForWindow(HWND window);                                      // 0
    [[nodiscard]] int GetSystemMetricsForDpi(int index, UINT dpi);                        // 0
    BOOL AdjustWindowRectExForDpi(RECT* rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi); // 0, rect untouched
    BOOL SystemParametersInfoForDpi(UINT action, UINT param, void* data, UINT winIni, UINT dpi); // 0
    DPI_AWARENESS_CONTEXT SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT context); // nullptr
    BOOL SetDialogDpiChangeBehavior(HWND dialog, DIALOG_DPI_CHANGE_BEHAVIORS mask,
                                    DIALOG_DPI_CHANGE_BEHAVIORS values);  // 0, nothing done
    BOOL GetComboBoxInfo(HWND combo, COMBOBOXINFO* info);                   // 0
    BOOL SystemParametersInfoW(UINT action, UINT param, void* data, UINT winIni); // 0
    // gdi32.dll
    COLORREF SetDCBrushColor(HDC dc, COLORREF colour);                      // CLR_INVALID
    COLORREF SetDCPenColor(HDC dc, COLORREF colour);                        // CLR_INVALID
    // ole32.dll
    HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG authServices,
                                 SOLE_AUTHENTICATION_SERVICE* services, void* reserved1,
                                 DWORD authLevel, DWORD impersonationLevel, void* authList,
                                 DWORD capabilities, void* reserved3);      // E_FAIL
    HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authService, DWORD authzService,
                              OLECHAR* serverPrincipal, DWORD authLevel, DWORD impersonationLevel,
                              RPC_AUTH_IDENTITY_HANDLE identity, DWORD capabilities); // E_FAIL
    // comctl32.dll
    HRESULT LoadIconMetric(HINSTANCE instance, const wchar_t* name, int metric, HICON* icon); // E_FAIL, *icon nullptr
    HRESULT LoadIconWithScaleDown(HINSTANCE instance, const wchar_t* name, int cx, int cy,
                                  HICON* icon);                             // E_FAIL, *icon nullptr
    int DrawShadowText(HDC dc, const wchar_t* text, UINT length, RECT* rect, DWORD flags,
                       COLORREF textColour, COLORREF shadow, int offsetX, int offsetY); // 0
    // uxtheme.dll
    int ShouldAppsUseDarkMode();           // ordinal 132; 0
    int SetPreferredAppMode(int mode);     // ordinal 135; 0
    HTHEME OpenThemeDataForDpi(HWND window, const wchar_t* classList, UINT dpi); // nullptr
    HTHEME OpenThemeData(HWND window, const wchar_t* classList);                 // nullptr
    HRESULT CloseThemeData(HTHEME theme);                                        // E_NOINTERFACE
    BOOL IsThemeActive();                                                        // 0
    HRESULT DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT* rect,
                                const RECT* clip);                               // E_NOINTERFACE
    HRESULT SetWindowTheme(HWND window, const wchar_t* subApp, const wchar_t* idList); // E_NOINTERFACE
    BOOL IsThemeBackgroundPartiallyTransparent(HTHEME theme, int part, int state); // 0
    HRESULT DrawThemeParentBackground(HWND child, HDC dc, const RECT* rect);      // E_NOINTERFACE
    HRESULT GetThemePartSize(HTHEME theme, HDC dc, int part, int state, RECT* rect, THEMESIZE size,
                             SIZE* result);                                      // E_NOINTERFACE
    // dwmapi.dll
    HRESULT DwmSetWindowAttribute(HWND window, DWORD attribute, const void* value, DWORD size); // DWM_E_COMPOSITIONDISABLED
    // advapi32.dll
    BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(const wchar_t* text, DWORD revision,
                                                              PSECURITY_DESCRIPTOR* descriptor,
                                                              ULONG* size);      // 0
    BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision); // 0
    BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl,
                                   BOOL defaulted);                              // 0

    // Composite entries.
    // The window's DPI: GetDpiForWindow, else LOGPIXELSX of its device
    // context, else 96.
    UINT WindowDpi(HWND window);
    // GetSystemMetricsForDpi when there is a DPI and the function, else GetSystemMetrics.
    int SystemMetricForDpi(int index, UINT dpi);
    // AdjustWindowRectExForDpi when there is a DPI and the function, else AdjustWindowRectEx.
    BOOL AdjustWindowRectForDpi(RECT* rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
    // SPI_GETICONTITLELOGFONT, SPI_GETNONCLIENTMETRICS and SPI_GETICONMETRICS
    // for a DPI through SystemParametersInfoForDpi; everything else, no DPI
    // or no function: SystemParametersInfoW. A NONCLIENTMETRICSW is passed
    // with the size in its own cbSize (500 or 504 bytes), never a larger one.
    BOOL SystemParameterForDpi(UINT action, UINT param, void* data, UINT winIni, UINT dpi);
    // The rectangle and work area of the monitor nearest to `point`. Without
    // GetMonitorInfoW: the primary screen and SPI_GETWORKAREA. Without
    // MonitorFromPoint: 0.
    int MonitorRects(POINT point, RECT* monitor, RECT* workArea);
    // Whether the user runs a high-contrast colour scheme
    // (SPI_GETHIGHCONTRAST with HCF_HIGHCONTRASTON); 0 when it cannot be told.
    int IsHighContrast();
    // A security descriptor from a descriptor string, or without one an
    // empty descriptor with a null DACL (everyone may access). The block is
    // freed with LocalFree; nullptr on failure.
    PSECURITY_DESCRIPTOR BuildSecurityDescriptor(const wchar_t* descriptorText);

private:
    // The slot's function, looked up in `library` by `name` (or ordinal)
    // when not yet known; nullptr when missing.
    template <class Function>
    Function Bind(Function OptionalApiTable::*slot, Library library, const char* name);
    FARPROC Lookup(Library library, const char* name);

    OptionalApiTable table_ = {};
    bool fixed_ = false;
    // Released in reverse order of declaration at destruction.
    LibraryHolder libraries_[LibraryCount];
    bool loadTried_[LibraryCount] = {};
};

// COM initialisation lives with the common services.
#include "services/ComInit.h"
