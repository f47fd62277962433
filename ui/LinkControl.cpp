#include "ui/LinkControl.h"

#include <windowsx.h>
#include <wchar.h>

#include "services/ProgramLaunch.h"
#include "services/RegistryKey.h"
#include "services/SettingText.h"
#include "services/WindowsVersion.h"
#include "ui/DarkMode.h"

namespace {

const wchar_t* const FallbackFaces[] = {L"Segoe UI", L"Verdana", L"Arial"};
const int SmallestFontHeight = 3;
const int DefaultScript = 3;

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *(bool*)found = true;
    return 0;
}

bool IsFontInstalled(const wchar_t* face)
{
    LOGFONTW font = {};
    font.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    HDC dc = GetDC(nullptr);
    if (!dc)
        return false;
    EnumFontFamiliesExW(dc, &font, &NoteFontFound, (LPARAM)&found, 0);
    ReleaseDC(nullptr, dc);
    return found;
}

int IsYes(const WideString& text)
{
    return text.CompareNoCase(L"yes") == 0;
}

// "red,green,blue" with all three numbers, each a byte.
int ParseColour(const wchar_t* text, COLORREF* colour)
{
    int rgb[3];
    if (!ParseNumberList(text, rgb, 3))
        return 0;
    for (int part : rgb) {
        if (part < 0 || part > 255)
            return 0;
    }
    *colour = RGB(rgb[0], rgb[1], rgb[2]);
    return 1;
}

int ReadKeyText(HKEY root, const wchar_t* path, const wchar_t* name, WideString& text)
{
    RegistryKey key;
    return key.OpenRead(root, path) && key.ReadText(name, text) ? 1 : 0;
}

// A number stored as a DWORD or as decimal text.
int ReadKeyNumber(HKEY root, const wchar_t* path, const wchar_t* name, unsigned* value)
{
    RegistryKey key;
    if (!key.OpenRead(root, path))
        return 0;
    DWORD type = 0;
    if (RegQueryValueExW(key.Handle(), name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    if (type == REG_DWORD) {
        unsigned long long number = 0;
        if (!key.ReadNumber(name, &number))
            return 0;
        *value = (unsigned)number;
        return 1;
    }
    WideString text;
    int number = 0;
    if (!key.ReadText(name, text) || !ParseNumberList(text.Text(), &number, 1) || number < 0)
        return 0;
    *value = (unsigned)number;
    return 1;
}

int CreateFontPair(LOGFONTW font, HFONT* normal, HFONT* underlined)
{
    font.lfUnderline = FALSE;
    *normal = CreateFontIndirectW(&font);
    font.lfUnderline = TRUE;
    *underlined = CreateFontIndirectW(&font);
    return *normal && *underlined ? 1 : 0;
}

SIZE TextSize(HWND window, HFONT font, const wchar_t* text)
{
    SIZE size = {};
    HDC dc = GetDC(window);
    if (!dc)
        return size;
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    GetTextExtentPoint32W(dc, text, (int)wcslen(text), &size);
    if (old)
        SelectObject(dc, old);
    ReleaseDC(window, dc);
    return size;
}

} // namespace

void LinkControl::UseBrowserSettingsKey(HKEY root, const wchar_t* path)
{
    settingsRoot_ = root;
    settingsPath_ = path;
}

void LinkControl::SetActivateCallback(ActivateCallback callback, void* userData)
{
    callback_ = callback;
    callbackData_ = userData;
}

int LinkControl::DarkModeWanted()
{
    return IsDarkModeWanted(*api_);
}

int LinkControl::Init(HWND control, const wchar_t* text, const wchar_t* url, int cursorId, DWORD options)
{
    if (!control || hook_.IsAttached())
        return 0;
    callback_ = nullptr;
    callbackData_ = nullptr;
    control_ = control;
    flags_ = (options | UseHoverColour) & ~(Hot | Disabled | Focused);
    pressed_ = false;
    theme_.Open(control_, L"TOOLBAR");
    LONG_PTR style = GetWindowLongPtrW(control_, GWL_STYLE);
    if (!(style & WS_TABSTOP))
        flags_ |= NoFocusRectangle;
    if (!IsWindowEnabled(control_))
        flags_ |= Disabled;
    text_ = text ? text : L"";
    url_ = url ? url : L"";
    cursorId_ = cursorId;
    SetWindowLongPtrW(control_, GWL_STYLE, style | SS_NOTIFY);
    SetWindowTextW(control_, L"");
    if ((GetWindowLongPtrW(control_, GWL_EXSTYLE) & WS_EX_TRANSPARENT) && !(flags_ & IgnoreExTransparent))
        flags_ |= Transparent;
    ReadColours();
    CreateFonts();
    format_ = DT_SINGLELINE;
    DWORD alignment = (DWORD)style & SS_TYPEMASK;
    if (alignment == SS_CENTER)
        format_ |= DT_CENTER;
    else if (alignment == SS_RIGHT)
        format_ |= DT_RIGHT;
    if (style & SS_CENTERIMAGE)
        format_ |= DT_VCENTER;
    if (flags_ & EndEllipsis)
        format_ |= DT_END_ELLIPSIS;
    if (flags_ & PathEllipsis)
        format_ |= DT_PATH_ELLIPSIS;
    UpdateDisplayText();
    if (!hook_.Attach(control_, &ControlMessage, this)) {
        DeleteFonts();
        theme_.Close();
        control_ = nullptr;
        return 0;
    }
    Measure();
    Invalidate();
    return 1;
}

void LinkControl::Detach()
{
    if (pressed_ && control_ && GetCapture() == control_)
        ReleaseCapture();
    bool attached = hook_.Detach() != 0;
    leaveTracker_.Stop();
    if (attached && control_ && IsWindow(control_))
        SetWindowTextW(control_, text_.Text());
    DeleteFonts();
    theme_.Close();
    control_ = nullptr;
    flags_ &= ~(Hot | Focused);
    pressed_ = false;
}

int LinkControl::SetText(const wchar_t* text)
{
    if (!text_.Assign(text ? text : L""))
        return 0;
    UpdateDisplayText();
    Measure();
    Invalidate();
    return 1;
}

void LinkControl::ReadColours()
{
    disabledColour_ = GetSysColor(COLOR_GRAYTEXT);
    normalColour_ = DefaultColour;
    hoverColour_ = GetSysColorBrush(COLOR_HOTLIGHT) ? GetSysColor(COLOR_HOTLIGHT) : 0x0000FF;
    underline_ = UnderlineAlways;
    if (api_->IsHighContrast()) {
        // The user's scheme names the colour of links; the browser's
        // colours and the dark look are not made for its background.
        normalColour_ = hoverColour_ = GetSysColor(COLOR_HOTLIGHT);
        return;
    }
    ReadBrowserColours();
    if (DarkModeWanted())
        normalColour_ = DarkModeColour;
}

void LinkControl::ReadBrowserColours()
{
    WideString settings = settingsPath_, main = settingsPath_, text;
    settings.Append(L"\\Settings");
    main.Append(L"\\Main");
    if (ReadKeyText(settingsRoot_, settings, L"Use Anchor Hover Color", text))
        SetFlag(UseHoverColour, IsYes(text) != 0);
    if (ReadKeyText(settingsRoot_, settings, L"Anchor Color", text))
        ParseColour(text, &normalColour_);
    if (ReadKeyText(settingsRoot_, settings, L"Anchor Color Hover", text))
        ParseColour(text, &hoverColour_);
    if (ReadKeyText(settingsRoot_, main, L"Anchor Underline", text)) {
        if (IsYes(text))
            underline_ = UnderlineAlways;
        else if (text.CompareNoCase(L"no") == 0)
            underline_ = UnderlineNever;
        else if (text.CompareNoCase(L"hover") == 0)
            underline_ = UnderlineOnHover;
    }
    if (ReadKeyText(settingsRoot_, main, L"Use_DlgBox_Colors", text) && IsYes(text)) {
        normalColour_ = IsWindowsAtLeast(WindowsVista, 0) ? GetSysColor(COLOR_HOTLIGHT) : DefaultColour;
        hoverColour_ = GetSysColor(COLOR_HIGHLIGHT);
    }
}

void LinkControl::DeleteFonts()
{
    if (normalFont_)
        DeleteObject(normalFont_);
    if (underlinedFont_)
        DeleteObject(underlinedFont_);
    normalFont_ = underlinedFont_ = nullptr;
}

void LinkControl::CreateFonts()
{
    DeleteFonts();
    LOGFONTW font = {};
    if (flags_ & ParentFont) {
        HFONT parentFont = (HFONT)SendMessageW(GetParent(control_), WM_GETFONT, 0, 0);
        if (!parentFont)
            parentFont = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
        if (GetObjectW(parentFont, sizeof font, &font))
            CreateFontPair(font, &normalFont_, &underlinedFont_);
        return;
    }
    RECT client = {};
    GetClientRect(control_, &client);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    ChooseFace(font.lfFaceName);
    // The largest height at which the underlined text fits the control.
    const wchar_t* text = text_.Text();
    for (int height = StartingFontHeight(client); height >= SmallestFontHeight; --height) {
        font.lfHeight = height;
        DeleteFonts();
        if (!CreateFontPair(font, &normalFont_, &underlinedFont_))
            break;
        SIZE size = TextSize(control_, underlinedFont_, text);
        if (size.cx <= client.right && size.cy < client.bottom)
            break;
    }
}

int LinkControl::StartingFontHeight(const RECT& client) const
{
    if (flags_ & FontFromClientHeight)
        return client.bottom;
    // The control's own font is made for the dialog's DPI already; the
    // stock font is not.
    HFONT font = (HFONT)SendMessageW(control_, WM_GETFONT, 0, 0);
    double scale = 1.0;
    if (!font) {
        font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
        scale = api_->WindowDpi(control_) / 96.0;
    }
    HDC dc = GetDC(control_);
    TEXTMETRICW metrics = {};
    if (dc) {
        HGDIOBJ old = SelectObject(dc, font);
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(control_, dc);
    }
    return (int)(metrics.tmHeight * scale);
}

void LinkControl::ChooseFace(wchar_t (&face)[LF_FACESIZE]) const
{
    face[0] = 0;
    if ((flags_ & BrowserFontFace) && BrowserFace(face))
        return;
    for (const wchar_t* candidate : FallbackFaces) {
        if (IsFontInstalled(candidate)) {
            wcsncpy(face, candidate, LF_FACESIZE - 1);
            face[LF_FACESIZE - 1] = 0;
            return;
        }
    }
    // None of them: the face the control was given.
    LOGFONTW own = {};
    HFONT font = (HFONT)SendMessageW(control_, WM_GETFONT, 0, 0);
    if (GetObjectW(font ? font : GetStockObject(DEFAULT_GUI_FONT), sizeof own, &own))
        wcsncpy(face, own.lfFaceName, LF_FACESIZE);
    face[LF_FACESIZE - 1] = 0;
}

int LinkControl::BrowserFace(wchar_t (&face)[LF_FACESIZE]) const
{
    WideString international = settingsPath_, path, text;
    international.Append(L"\\International");
    unsigned number = 0;
    int found = 0;
    if (ReadKeyNumber(settingsRoot_, international, L"Default_CodePage", &number) &&
        path.Format(L"%s\\%u", international.Text(), number))
        found = ReadKeyText(settingsRoot_, path, L"IEPropFontName", text) && !text.IsEmpty();
    if (!found) {
        number = DefaultScript;
        ReadKeyNumber(settingsRoot_, international, L"Default_Script", &number);
        found = path.Format(L"%s\\Scripts\\%u", international.Text(), number) &&
                ReadKeyText(settingsRoot_, path, L"IEPropFontName", text) && !text.IsEmpty();
    }
    if (!found) {
        path = settingsPath_;
        path.Append(L"\\Styles");
        found = ReadKeyText(settingsRoot_, path, L"IEPropFontName", text) && !text.IsEmpty();
    }
    if (!found)
        return 0;
    wcsncpy(face, text.Text(), LF_FACESIZE - 1);
    face[LF_FACESIZE - 1] = 0;
    return 1;
}

void LinkControl::UpdateDisplayText()
{
    if (!(flags_ & MaskedText)) {
        display_ = text_;
        return;
    }
    LOGFONTW font = {};
    bool verdana = normalFont_ && GetObjectW(normalFont_, sizeof font, &font) &&
                   CompareAsciiNoCase(font.lfFaceName, L"Verdana") == 0;
    display_.Clear();
    for (int i = 0; i < text_.Length(); ++i)
        display_.Append(verdana ? L'\x2022' : L'*');
}

void LinkControl::Measure()
{
    extent_ = TextSize(control_, underlinedFont_, display_.Text());
}

void LinkControl::Invalidate()
{
    if (!control_)
        return;
    if (!(flags_ & Transparent)) {
        InvalidateRect(control_, nullptr, TRUE);
        return;
    }
    // Whatever shows through must be drawn again first.
    RECT rect;
    HWND parent = GetParent(control_);
    GetWindowRect(control_, &rect);
    MapWindowPoints(nullptr, parent, (POINT*)&rect, 2);
    InvalidateRect(parent, &rect, TRUE);
    UpdateWindow(parent);
    InvalidateRect(control_, nullptr, FALSE);
}

bool LinkControl::IsOverText(POINT point) const
{
    if (extent_.cx <= 0)
        return true;
    RECT client = {};
    if (!GetClientRect(control_, &client) || !PtInRect(&client, point))
        return false;
    int left = 0;
    if (format_ & DT_CENTER)
        left = (client.right - extent_.cx) / 2;
    else if (format_ & DT_RIGHT)
        left = client.right - extent_.cx;
    return point.x >= left && point.x < left + extent_.cx;
}

void LinkControl::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control_, &paint);
    if (!dc)
        return;
    RECT client;
    GetClientRect(control_, &client);
    bool underline = underline_ == UnderlineAlways || (underline_ == UnderlineOnHover && (flags_ & Hot));
    HGDIOBJ oldFont = SelectObject(dc, underline ? underlinedFont_ : normalFont_);
    if (!(flags_ & Transparent)) {
        HBRUSH brush = (HBRUSH)SendMessageW(GetParent(control_), WM_CTLCOLORSTATIC, (WPARAM)dc,
                                            (LPARAM)control_);
        FillRect(dc, &client, brush ? brush : (HBRUSH)GetStockObject(WHITE_BRUSH));
    }
    if ((flags_ & ThemedParentBackground) && theme_.IsPartiallyTransparent(1, 1))
        theme_.DrawParentBackground(control_, dc, &client);
    SetBkMode(dc, TRANSPARENT);
    COLORREF colour = normalColour_;
    if (flags_ & Disabled)
        colour = disabledColour_;
    else if ((flags_ & Hot) && (flags_ & UseHoverColour))
        colour = hoverColour_;
    SetTextColor(dc, colour);
    DrawTextW(dc, display_.Text(), -1, &client, format_);
    if (!(flags_ & Disabled) && (flags_ & Focused) && !(flags_ & NoFocusRectangle))
        DrawFocus(dc, client);
    if (oldFont)
        SelectObject(dc, oldFont);
    EndPaint(control_, &paint);
}

void LinkControl::DrawFocus(HDC dc, const RECT& client)
{
    int left = 0, top = 0;
    if (format_ & DT_CENTER)
        left = (client.right - extent_.cx) / 2;
    else if (format_ & DT_RIGHT)
        left = client.right - extent_.cx;
    if (format_ & DT_VCENTER)
        top = (client.bottom - extent_.cy) / 2;
    RECT focus = {left, top, left + extent_.cx, top + extent_.cy};
    DrawFocusRect(dc, &focus);
}

void LinkControl::SetHandCursor(bool hand)
{
    HCURSOR cursor = nullptr;
    if (hand) {
        cursor = LoadCursorW(nullptr, IDC_HAND);
        if (!cursor && cursorId_)
            cursor = (HCURSOR)LoadImageW((HINSTANCE)GetWindowLongPtrW(control_, GWLP_HINSTANCE),
                                         MAKEINTRESOURCEW(cursorId_), IMAGE_CURSOR, 0, 0,
                                         LR_SHARED | LR_DEFAULTSIZE);
    }
    SetCursor(cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW));
}

void LinkControl::OnMouseMove(POINT point)
{
    bool over = IsOverText(point);
    if (over && !(flags_ & Hot)) {
        flags_ |= Hot;
        leaveTracker_.Start(control_);
        Invalidate();
        SetHandCursor(true);
    } else if (!over && (flags_ & Hot)) {
        LeaveText();
        SetHandCursor(false);
    }
}

void LinkControl::LeaveText()
{
    flags_ &= ~Hot;
    Invalidate();
}

void LinkControl::Activate(int reason)
{
    if (callback_) {
        callback_(reason, text_.Text(), url_.Text(), control_, callbackData_);
        return;
    }
    if (reason == ByButtonDown)
        return;
    if (flags_ & CommandToParent) {
        SendMessageW(GetParent(control_), WM_COMMAND, (WPARAM)GetDlgCtrlID(control_), (LPARAM)control_);
        return;
    }
    if (!url_.IsEmpty())
        OpenUrl(url_.Text());
}

LRESULT LinkControl::CopyText(WPARAM size, wchar_t* buffer) const
{
    if (!buffer || size == 0)
        return 0;
    int count = text_.Length();
    if ((WPARAM)count > size - 1)
        count = (int)(size - 1);
    wmemcpy(buffer, text_.Text(), (size_t)count);
    buffer[count] = 0;
    return count;
}

int LinkControl::ControlMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                                void* self)
{
    return static_cast<LinkControl*>(self)->OnControlMessage(message, wParam, lParam, result);
}

int LinkControl::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    *result = 0;
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        SetFlag(Focused, message == WM_SETFOCUS);
        Invalidate();
        return 0;
    case WM_ENABLE: {
        SetFlag(Disabled, !wParam);
        POINT cursor;
        if (wParam && GetCursorPos(&cursor) && ScreenToClient(control_, &cursor) && IsOverText(cursor)) {
            flags_ |= Hot;
            SetHandCursor(true);
        }
        if (!wParam)
            flags_ &= ~Hot;
        Invalidate();
        return 1;
    }
    case WM_SETTEXT:
        *result = SetText((const wchar_t*)lParam) ? TRUE : FALSE;
        return 1;
    case WM_GETTEXT:
        *result = CopyText(wParam, (wchar_t*)lParam);
        return 1;
    case WM_GETTEXTLENGTH:
        *result = text_.Length();
        return 1;
    case WM_PAINT:
        Paint();
        return 1;
    case WM_CANCELMODE:
        LeaveText();
        return 0;
    case WM_MOUSELEAVE:
        leaveTracker_.Stop();
        LeaveText();
        return 1;
    case WM_SETCURSOR:
        SetHandCursor((flags_ & Hot) != 0);
        *result = TRUE;
        return 1;
    case WM_GETDLGCODE:
        if (wParam != VK_RETURN && wParam != VK_SPACE)
            return 0;
        *result = DLGC_WANTALLKEYS;
        return 1;
    case WM_KEYDOWN:
        // A held key repeats its WM_KEYDOWN; the link opens once.
        if (!(lParam & 0x40000000)) {
            if (wParam == VK_RETURN)
                Activate(ByEnter);
            else if (wParam == VK_SPACE)
                Activate(BySpace);
        }
        return 1;
    case WM_MOUSEMOVE: {
        POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        OnMouseMove(point);
        return 1;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (!(flags_ & Hot))
            return 1;
        // Held until the release, wherever it happens: only a release back
        // on the text completes the click.
        pressed_ = true;
        SetCapture(control_);
        Activate(ByButtonDown);
        return 1;
    case WM_LBUTTONUP: {
        bool click = pressed_ && (flags_ & Hot);
        pressed_ = false;
        if (GetCapture() == control_)
            ReleaseCapture();
        if (click)
            Activate(ByButtonUp);
        return 1;
    }
    case WM_CAPTURECHANGED:
        pressed_ = false;
        return 0;
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE:
        // Among them the switch to and from high contrast.
        ReadColours();
        Invalidate();
        return 0;
    case WM_DPICHANGED_AFTERPARENT:
        CreateFonts();
        UpdateDisplayText();
        Measure();
        Invalidate();
        return 0;
    default:
        return 0;
    }
}
