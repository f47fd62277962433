#include "ui/ThemeHandle.h"

namespace {

const HRESULT StaleHandle = (HRESULT)0x80070006; // E_HANDLE

} // namespace

int ThemeHandle::Open(HWND window, const wchar_t* classList)
{
    Close();
    window_ = window;
    classList_ = classList ? classList : L"";
    return Reopen();
}

int ThemeHandle::Reopen()
{
    Close();
    if (classList_.IsEmpty())
        return 0;
    theme_ = api_->OpenThemeDataForDpi(window_, classList_.Text(), api_->WindowDpi(window_));
    if (!theme_)
        theme_ = api_->OpenThemeData(window_, classList_.Text());
    return theme_ ? 1 : 0;
}

void ThemeHandle::Close()
{
    if (!theme_)
        return;
    api_->CloseThemeData(theme_);
    theme_ = nullptr;
}

int ThemeHandle::DrawBackground(HDC dc, int part, int state, const RECT* rect)
{
    HRESULT result = api_->DrawThemeBackground(theme_, dc, part, state, rect, nullptr);
    if (result == StaleHandle && api_->IsThemeActive() && Reopen())
        result = api_->DrawThemeBackground(theme_, dc, part, state, rect, nullptr);
    return SUCCEEDED(result) ? 1 : 0;
}

int ThemeHandle::SetWindowTheme(HWND window, const wchar_t* subApp)
{
    return SUCCEEDED(api_->SetWindowTheme(window, subApp, nullptr)) ? 1 : 0;
}

int ThemeHandle::IsPartiallyTransparent(int part, int state)
{
    return theme_ && api_->IsThemeBackgroundPartiallyTransparent(theme_, part, state) ? 1 : 0;
}

int ThemeHandle::DrawParentBackground(HWND child, HDC dc, const RECT* rect)
{
    return SUCCEEDED(api_->DrawThemeParentBackground(child, dc, rect)) ? 1 : 0;
}

int ThemeHandle::PartSize(HDC dc, int part, int state, RECT* rect, THEMESIZE which, SIZE* size)
{
    return SUCCEEDED(api_->GetThemePartSize(theme_, dc, part, state, rect, which, size)) ? 1 : 0;
}
