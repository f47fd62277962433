#pragma once

#include <windows.h>
#include <uxtheme.h>

#include "services/WideString.h"
#include "services/OptionalApi.h"

// One visual-style theme of a window, opened for the window's DPI. The
// owner closes it when it detaches; a theme switch that invalidates the
// handle is mended at the next drawing.
class ThemeHandle {
public:
    explicit ThemeHandle(OptionalApi& api = OptionalApi::Shared()) : api_(&api) {}
    ~ThemeHandle() { Close(); }
    ThemeHandle(const ThemeHandle&) = delete;
    ThemeHandle& operator=(const ThemeHandle&) = delete;

    // Closes what is open, remembers both, and opens `classList` (nothing
    // for nullptr or ""). Returns 1 when a theme is open.
    int Open(HWND window, const wchar_t* classList);
    void Close();

    // DrawThemeBackground; when the handle went stale (E_HANDLE) while
    // visual styles are on, opens the theme again and retries once.
    int DrawBackground(HDC dc, int part, int state, const RECT* rect);

    int SetWindowTheme(HWND window, const wchar_t* subApp);
    int IsPartiallyTransparent(int part, int state);
    int DrawParentBackground(HWND child, HDC dc, const RECT* rect);
    int PartSize(HDC dc, int part, int state, RECT* rect, THEMESIZE which, SIZE* size);

    bool IsOpen() const { return theme_ != nullptr; }
    HTHEME Handle() const { return theme_; }
    HWND Window() const { return window_; }
    const wchar_t* ClassList() const { return classList_.Text(); }

private:
    int Reopen();

    OptionalApi* api_;
    WideString classList_;
    HTHEME theme_ = nullptr;
    HWND window_ = nullptr;
};
