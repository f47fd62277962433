#pragma once

#include <windows.h>

#include <string>

// Reading back what a window shows, from its own thread or another one.

// The window's text as WM_GETTEXT gives it.
std::wstring WindowText(HWND window);
// Whether `text` on one line in `font` is smaller than the window's client
// area in both directions.
bool TextFitsClient(HWND window, HFONT font, const std::wstring& text);
