#include "common/WindowProbe.h"

#include <vector>

std::wstring WindowText(HWND window)
{
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> text((size_t)length + 2, L'\0');
    SendMessageW(window, WM_GETTEXT, text.size(), (LPARAM)text.data());
    return std::wstring(text.data());
}

bool TextFitsClient(HWND window, HFONT font, const std::wstring& text)
{
    RECT client, measured;
    GetClientRect(window, &client);
    measured = client;
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, font);
    DrawTextW(dc, text.c_str(), -1, &measured, DT_SINGLELINE | DT_CALCRECT);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return measured.right < client.right && measured.bottom < client.bottom;
}
