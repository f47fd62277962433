#include "ui/SysLinkControl.h"

#include "services/ProgramLaunch.h"

int SysLinkControl::Create(HWND parent, int left, int top, int width, int height,
                           const wchar_t* markup, DWORD options, Callback callback, void* userData)
{
    Destroy();
    if (!parent)
        return 0;
    RECT rect = {left, top, left + width, top + height};
    if (options & DialogUnits)
        MapDialogRect(parent, &rect);
    DWORD style = WS_CHILD | WS_VISIBLE | LWS_NOPREFIX;
    if (!(options & NoTabStop))
        style |= WS_TABSTOP;
    link_ = CreateWindowExW(WS_EX_TOPMOST, WC_LINK, markup ? markup : L"", style, rect.left,
                            rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                            nullptr, (HINSTANCE)GetWindowLongPtrW(parent, GWLP_HINSTANCE), nullptr);
    if (!link_)
        return 0;
    callback_ = callback;
    userData_ = userData;
    SendMessageW(link_, WM_SETFONT, (WPARAM)SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
    // A parent that carries the hook for another link already keeps it.
    if (!(options & ParentForwards))
        parentHook_.Attach(parent, &ParentMessage, this);
    return 1;
}

int SysLinkControl::ParentMessage(HWND, UINT message, WPARAM, LPARAM lParam, LRESULT*, void* self)
{
    if (message == WM_NOTIFY)
        ((SysLinkControl*)self)->Notify(lParam);
    return 0; // the parent's own handling continues
}

int SysLinkControl::Notify(LPARAM lParam)
{
    const NMHDR* header = (const NMHDR*)lParam;
    if (!link_ || !header || header->hwndFrom != link_ ||
        (header->code != NM_CLICK && header->code != NM_RETURN))
        return 0;
    const LITEM& item = ((const NMLINK*)lParam)->item;
    if (item.szUrl[0])
        OpenUrl(item.szUrl);
    else if (callback_)
        callback_(item.iLink, item.szID, userData_);
    return 1;
}

void SysLinkControl::Destroy()
{
    parentHook_.Detach();
    if (link_ && IsWindow(link_))
        DestroyWindow(link_);
    link_ = nullptr;
    callback_ = nullptr;
    userData_ = nullptr;
}

bool SysLinkControl::IsMarkupSafe(const wchar_t* text)
{
    for (; text && *text; ++text) {
        if (*text == L'<' || *text == L'>' || *text == L'"')
            return false;
    }
    return true;
}
