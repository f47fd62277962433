#include "ui/TextLabel.h"

#include <windowsx.h>

const wchar_t TextLabel::DefaultFaces[] = L"Segoe UI;Verdana;MS Sans Serif";
const wchar_t TextLabel::FallbackFace[] = L"Verdana";

namespace {

// What DT_CALCRECT must not see: ellipses would measure the cut text, the
// vertical placement nothing at all.
const UINT MeasureExcludes = DT_END_ELLIPSIS | DT_PATH_ELLIPSIS | DT_WORD_ELLIPSIS | DT_VCENTER |
                             DT_BOTTOM;

bool IsSeparator(wchar_t ch)
{
    return ch == L',' || ch == L';';
}

// The control's font, or the GUI font when it has none, as a logical font.
void ControlLogFont(HWND control, LOGFONTW& font)
{
    HFONT own = (HFONT)SendMessageW(control, WM_GETFONT, 0, 0);
    if (!own || !GetObjectW(own, sizeof font, &font))
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
}

} // namespace

void TextLabel::ChooseFace(const wchar_t* faces, const DialogFontPlatform& platform, WideString& face)
{
    if (!faces || !*faces)
        faces = DefaultFaces;
    WideString candidate;
    for (const wchar_t* at = faces; *at;) {
        while (*at == L' ' || IsSeparator(*at))
            ++at;
        const wchar_t* end = at;
        while (*end && !IsSeparator(*end))
            ++end;
        int length = (int)(end - at);
        while (length > 0 && at[length - 1] == L' ')
            --length;
        // Longer names cannot be a font family's name.
        if (length > 0 && length < LF_FACESIZE && candidate.Assign(at, length) &&
            platform.IsFaceInstalled(candidate.Text(), platform.context)) {
            face = candidate;
            return;
        }
        at = end;
    }
    face = FallbackFace;
}

int TextLabel::Init(HWND control, const wchar_t* faces, int height, COLORREF textColour,
                    COLORREF hoverColour, DWORD options, HCURSOR cursor, ClickCallback callback,
                    void* userData)
{
    if (!control || hook_.IsAttached())
        return 0;
    control_ = control;
    options_ = options;
    height_ = height > 0 ? height : 0;
    textColour_ = textColour;
    hoverColour_ = hoverColour;
    disabledColour_ = GetSysColor(COLOR_GRAYTEXT);
    cursor_ = cursor;
    callback_ = callback;
    userData_ = userData;
    state_ = IsWindowEnabled(control) ? 0 : Disabled;
    ChooseFace(faces, *fontPlatform_, face_);
    {
        CriticalSectionLock lock(lock_);
        int length = GetWindowTextLengthW(control);
        text_.Reserve(length + 2);
        GetWindowTextW(control, text_.Buffer(), text_.Capacity() - 1);
        text_.Recompute();
        SetWindowTextW(control, L"");
        format_ = FormatFromStyle((DWORD)GetWindowLongPtrW(control, GWL_STYLE));
        ComputeFont();
    }
    if (!hook_.Attach(control, &ControlMessage, this)) {
        SetWindowTextW(control, text_.Text());
        font_.Reset();
        control_ = nullptr;
        return 0;
    }
    Invalidate();
    return 1;
}

UINT TextLabel::FormatFromStyle(DWORD style) const
{
    UINT format = (options_ & WordWrap) ? DT_WORDBREAK : DT_SINGLELINE;
    DWORD type = style & SS_TYPEMASK;
    if (type == SS_CENTER)
        format |= DT_CENTER;
    else if (type == SS_RIGHT)
        format |= DT_RIGHT;
    if ((style & SS_CENTERIMAGE) || (options_ & VerticalCentre))
        format |= DT_VCENTER;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;
    if (options_ & EndEllipsis)
        format |= DT_END_ELLIPSIS;
    return format;
}

void TextLabel::Detach()
{
    if (!control_)
        return;
    hook_.Detach();
    leaveTracker_.Stop();
    HWND control = control_;
    WideString text;
    CopyText(text);
    control_ = nullptr;
    font_.Reset();
    if (IsWindow(control))
        SetWindowTextW(control, text.Text());
}

int TextLabel::SetText(const wchar_t* text)
{
    {
        CriticalSectionLock lock(lock_);
        if (!text_.Assign(text ? text : L""))
            return 0;
        if (options_ & RefitOnNewText) {
            // Without the shrink option the refitted font fills the control.
            if (!(options_ & ShrinkToFit))
                height_ = 0;
            ComputeFont();
        } else {
            Measure();
        }
    }
    Invalidate();
    return 1;
}

void TextLabel::CopyText(WideString& text)
{
    CriticalSectionLock lock(lock_);
    text = text_;
}

RECT TextLabel::TextArea() const
{
    RECT area = {};
    GetClientRect(control_, &area);
    if (options_ & FrameStyles)
        InflateRect(&area, -FrameInset, -FrameInset);
    return area;
}

HFONT TextLabel::MakeFont(int height) const
{
    LOGFONTW font = {};
    font.lfHeight = height;
    font.lfWeight = (options_ & Bold) ? FW_BOLD : FW_NORMAL;
    font.lfItalic = (options_ & Italic) ? 1 : 0;
    font.lfUnderline = (options_ & Underlined) ? 1 : 0;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, face_.Text(), LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

// Called under the lock.
void TextLabel::ComputeFont()
{
    if (options_ & ControlFont) {
        LOGFONTW font = {};
        ControlLogFont(control_, font);
        font_.Reset(CreateFontIndirectW(&font));
        fontHeight_ = font.lfHeight < 0 ? -font.lfHeight : font.lfHeight;
        Measure();
        return;
    }
    RECT area = TextArea();
    int height = height_ ? (int)((long long)height_ * api_->WindowDpi(control_) / 96)
                         : (int)(area.bottom - area.top);
    if (height < SmallestFontHeight)
        height = SmallestFontHeight;
    HFONT font = MakeFont(height);
    if (height_ == 0 || (options_ & ShrinkToFit)) {
        for (;;) {
            SIZE size = MeasureWith(font, area);
            bool fits = size.cx < area.right - area.left && size.cy < area.bottom - area.top;
            if (fits || height <= SmallestFontHeight)
                break;
            DeleteObject(font);
            font = MakeFont(--height);
        }
    }
    font_.Reset(font);
    fontHeight_ = height;
    Measure();
}

SIZE TextLabel::MeasureWith(HFONT font, const RECT& area)
{
    SIZE size = {};
    HDC dc = GetDC(control_);
    if (!dc)
        return size;
    HGDIOBJ previous = SelectObject(dc, font ? (HGDIOBJ)font : GetStockObject(DEFAULT_GUI_FONT));
    RECT measured = area;
    DrawTextW(dc, text_.Text(), text_.Length(), &measured, (format_ & ~MeasureExcludes) | DT_CALCRECT);
    SelectObject(dc, previous);
    ReleaseDC(control_, dc);
    size.cx = measured.right - measured.left;
    size.cy = measured.bottom - measured.top;
    return size;
}

// Called under the lock.
void TextLabel::Measure()
{
    extent_ = MeasureWith(font_, TextArea());
}

bool TextLabel::IsOverText(POINT point) const
{
    RECT client;
    GetClientRect(control_, &client);
    if (!PtInRect(&client, point))
        return false;
    RECT area = TextArea();
    int width = extent_.cx < area.right - area.left ? extent_.cx : area.right - area.left;
    int height = extent_.cy < area.bottom - area.top ? extent_.cy : area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return true; // nothing measured: the whole control counts
    int left = area.left;
    if (format_ & DT_CENTER)
        left += (area.right - area.left - width) / 2;
    else if (format_ & DT_RIGHT)
        left = area.right - width;
    int top = area.top;
    if ((format_ & DT_VCENTER) && (format_ & DT_SINGLELINE))
        top += (area.bottom - area.top - height) / 2;
    return point.x >= left && point.x < left + width && point.y >= top && point.y < top + height;
}

void TextLabel::SetState(DWORD bits, bool on)
{
    DWORD state = on ? (state_ | bits) : (state_ & ~bits);
    if (state == state_)
        return;
    state_ = state;
    Invalidate();
}

void TextLabel::OnMouseMove(POINT point)
{
    bool over = IsOverText(point);
    if (over && !(state_ & Hot))
        leaveTracker_.Start(control_);
    SetState(Hot, over);
}

void TextLabel::Invalidate()
{
    if (!control_)
        return;
    if (options_ & Transparent) {
        HWND parent = GetParent(control_);
        RECT rect;
        GetWindowRect(control_, &rect);
        MapWindowPoints(nullptr, parent, (POINT*)&rect, 2);
        InvalidateRect(parent, &rect, TRUE);
    }
    InvalidateRect(control_, nullptr, FALSE);
}

int TextLabel::ControlMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                              void* self)
{
    return ((TextLabel*)self)->OnControlMessage(message, wParam, lParam, result);
}

int TextLabel::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(control_, &paint);
        if (dc)
            Paint(dc);
        EndPaint(control_, &paint);
        *result = 0;
        return 1;
    }
    case WM_PRINTCLIENT:
        Paint((HDC)wParam);
        *result = 0;
        return 1;
    case WM_ERASEBKGND:
        *result = 1; // the painting covers it
        return 1;
    case WM_SETTEXT:
        *result = SetText((const wchar_t*)lParam) ? TRUE : FALSE;
        return 1;
    case WM_GETTEXT:
        *result = CopyInto(wParam, (wchar_t*)lParam);
        return 1;
    case WM_GETTEXTLENGTH: {
        CriticalSectionLock lock(lock_);
        *result = text_.Length();
        return 1;
    }
    case WM_GETFONT: {
        CriticalSectionLock lock(lock_);
        *result = (LRESULT)font_.Get(); // the font the text is drawn in
        return 1;
    }
    case WM_NCHITTEST:
        *result = HTCLIENT; // a static is transparent to the mouse otherwise
        return 1;
    case WM_ENABLE:
        SetState(Disabled, !wParam);
        *result = 0;
        return 1;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        SetState(Focused, message == WM_SETFOCUS);
        *result = 0;
        return 1;
    case WM_MOUSEMOVE:
        OnMouseMove({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_MOUSELEAVE:
    case WM_CANCELMODE:
        leaveTracker_.Stop();
        SetState(Hot, false);
        return 0;
    case WM_SETCURSOR:
        if (!cursor_ || !(state_ & Hot))
            return 0;
        SetCursor(cursor_);
        *result = TRUE;
        return 1;
    case WM_LBUTTONUP:
        if (callback_ && (state_ & Hot) && !(state_ & Disabled))
            callback_(*this, userData_);
        return 0;
    case WM_SIZE:
    case WM_DPICHANGED_AFTERPARENT: {
        CriticalSectionLock lock(lock_);
        if (message == WM_DPICHANGED_AFTERPARENT || height_ == 0 || (options_ & ShrinkToFit))
            ComputeFont();
        else
            Measure();
        Invalidate();
        return 0;
    }
    default:
        return 0;
    }
}

LRESULT TextLabel::CopyInto(WPARAM size, wchar_t* buffer)
{
    if (!buffer || size == 0)
        return 0;
    CriticalSectionLock lock(lock_);
    int count = text_.Length();
    if ((WPARAM)count > size - 1)
        count = (int)(size - 1);
    for (int i = 0; i < count; ++i)
        buffer[i] = text_.Text()[i];
    buffer[count] = 0;
    return count;
}

HBRUSH TextLabel::Background(HDC dc) const
{
    if (options_ & WhiteBackground)
        return (HBRUSH)GetStockObject(WHITE_BRUSH);
    HBRUSH brush =
        (HBRUSH)SendMessageW(GetParent(control_), WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)control_);
    return brush ? brush : (HBRUSH)GetStockObject(WHITE_BRUSH);
}

COLORREF TextLabel::CurrentColour() const
{
    if (state_ & Disabled)
        return disabledColour_;
    if ((state_ & Hot) && (options_ & HoverColour))
        return hoverColour_;
    return textColour_;
}

void TextLabel::Paint(HDC dc)
{
    if (!dc || !control_)
        return;
    CriticalSectionLock lock(lock_);
    RECT client;
    GetClientRect(control_, &client);
    if (!(options_ & Transparent))
        FillRect(dc, &client, Background(dc));
    int mode = SetBkMode(dc, TRANSPARENT);
    COLORREF colour = SetTextColor(dc, CurrentColour());
    HGDIOBJ font = SelectObject(dc, font_ ? (HGDIOBJ)font_.Get() : GetStockObject(DEFAULT_GUI_FONT));
    RECT area = TextArea();
    DrawTextW(dc, text_.Text(), text_.Length(), &area, format_);
    SelectObject(dc, font);
    SetTextColor(dc, colour);
    SetBkMode(dc, mode);
    DrawFrames(dc, client);
    if ((state_ & Focused) && (GetWindowLongPtrW(control_, GWL_STYLE) & WS_TABSTOP)) {
        RECT focus = client;
        InflateRect(&focus, -1, -1);
        DrawFocusRect(dc, &focus);
    }
}

void TextLabel::DrawFrames(HDC dc, const RECT& client) const
{
    RECT frame = client;
    if (options_ & (SolidFrame | DoubleFrame)) {
        BrushObject brush(CreateSolidBrush(CurrentColour()));
        FrameRect(dc, &frame, brush);
        if (options_ & DoubleFrame) {
            RECT inner = frame;
            InflateRect(&inner, -2, -2);
            FrameRect(dc, &inner, brush);
        }
    }
    static const struct {
        DWORD option;
        UINT edge;
    } edges[] = {{SunkenEdge, EDGE_SUNKEN}, {RaisedEdge, EDGE_RAISED}, {EtchedEdge, EDGE_ETCHED},
                 {BumpEdge, EDGE_BUMP}};
    for (const auto& edge : edges) {
        if (options_ & edge.option) {
            DrawEdge(dc, &frame, edge.edge, BF_RECT);
            break; // one edge; they would draw over each other
        }
    }
}
