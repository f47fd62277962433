#include "ui/DialogTemplateFont.h"

#include <stdlib.h>
#include <string.h>

namespace {

const size_t ClassicHeaderSize = 18;  // DLGTEMPLATE
const size_t ExtendedHeaderSize = 26; // DLGTEMPLATEEX up to the menu field
const size_t ClassicItemSize = 18;    // DLGITEMTEMPLATE
const size_t ExtendedItemSize = 24;   // DLGITEMTEMPLATEEX up to the class field
const WORD OrdinalMark = 0xFFFF;

const wchar_t* const LegacyFaces[] = {L"MS Sans Serif", L"MS Shell Dlg", L"System"};
const wchar_t* const MessageFaces[] = {L"MS Sans Serif", L"Tahoma", L"Segoe UI",
                                       L"Microsoft YaHei UI", L"Microsoft JhengHei UI"};
const wchar_t ShellDlg2[] = L"MS Shell Dlg 2";
const wchar_t ShellDlg[] = L"MS Shell Dlg";

size_t AlignToDword(size_t offset)
{
    return (offset + 3) & ~(size_t)3;
}

// Reads little-endian numbers and variable fields of a template, refusing
// anything that would reach past its last byte.
class TemplateReader {
public:
    TemplateReader(const void* bytes, size_t size) : bytes_((const BYTE*)bytes), size_(size) {}

    bool Has(size_t at, size_t count) const { return at <= size_ && count <= size_ - at; }

    bool Word(size_t at, WORD* value) const
    {
        if (!Has(at, 2))
            return false;
        *value = (WORD)(bytes_[at] | (bytes_[at + 1] << 8));
        return true;
    }

    bool Dword(size_t at, DWORD* value) const
    {
        WORD low, high;
        if (!Word(at, &low) || !Word(at + 2, &high))
            return false;
        *value = (DWORD)low | ((DWORD)high << 16);
        return true;
    }

    // A zero-terminated UTF-16 text at `*at`; moves past the terminator.
    bool SkipString(size_t* at, size_t* length) const
    {
        size_t n = 0;
        WORD c;
        for (;;) {
            if (!Word(*at + 2 * n, &c))
                return false;
            if (c == 0)
                break;
            ++n;
        }
        *at += 2 * (n + 1);
        if (length)
            *length = n;
        return true;
    }

    // A menu, class or title field: 0xFFFF and an ordinal, or a text.
    bool SkipField(size_t* at) const
    {
        WORD first;
        if (!Word(*at, &first))
            return false;
        if (first == OrdinalMark) {
            if (!Has(*at, 4))
                return false;
            *at += 4;
            return true;
        }
        return SkipString(at, nullptr);
    }

    // Whether the text at `at` of `length` characters equals `text`.
    bool TextEquals(size_t at, size_t length, const wchar_t* text) const
    {
        if (wcslen(text) != length || !Has(at, 2 * length))
            return false;
        for (size_t i = 0; i < length; ++i) {
            WORD c = 0;
            if (!Word(at + 2 * i, &c) || c != (WORD)text[i])
                return false;
        }
        return true;
    }

private:
    const BYTE* bytes_;
    size_t size_;
};

bool SkipItems(const TemplateReader& reader, bool extended, int count, size_t* at)
{
    for (int i = 0; i < count; ++i) {
        *at = AlignToDword(*at);
        size_t header = extended ? ExtendedItemSize : ClassicItemSize;
        if (!reader.Has(*at, header))
            return false;
        *at += header;
        if (!reader.SkipField(at) || !reader.SkipField(at))
            return false;
        WORD extra;
        if (!reader.Word(*at, &extra))
            return false;
        *at += 2;
        if (!reader.Has(*at, extra))
            return false;
        *at += extra;
    }
    return true;
}

bool IsOneOf(const wchar_t* face, const wchar_t* const* list, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (wcscmp(face, list[i]) == 0)
            return true;
    }
    return false;
}

bool IsLegacyFace(const TemplateReader& reader, const DialogTemplateLayout& layout)
{
    for (const wchar_t* face : LegacyFaces) {
        if (reader.TextEquals(layout.faceOffset, layout.faceLength, face))
            return true;
    }
    return false;
}

// The face and point size the copy gets, per the system's message font.
int ChooseFont(const DialogFontPlatform& platform, int preferShellDlg2, const wchar_t** face,
               int* points, LOGFONTW* messageFont)
{
    if (!platform.ReadMessageFont(messageFont, platform.context))
        return 0;
    messageFont->lfFaceName[LF_FACESIZE - 1] = 0;
    const wchar_t* message = messageFont->lfFaceName;
    if (!IsOneOf(message, MessageFaces, sizeof MessageFaces / sizeof MessageFaces[0]))
        return 0;
    if (preferShellDlg2 && wcscmp(message, L"Segoe UI") == 0 &&
        platform.IsFaceInstalled(ShellDlg2, platform.context)) {
        *face = ShellDlg2;
        *points = 8;
        return 1;
    }
    if (platform.IsFaceInstalled(message, platform.context)) {
        int pixelsPerInch = platform.ScreenPixelsPerInchY(platform.context);
        if (pixelsPerInch <= 0)
            pixelsPerInch = 96;
        // The message font's height is a character height (negative); a
        // positive cell height is taken as it stands rather than giving a
        // negative point size.
        LONG height = messageFont->lfHeight < 0 ? -messageFont->lfHeight : messageFont->lfHeight;
        *face = message;
        *points = MulDiv(height, 72, pixelsPerInch);
        if (*points <= 0 || *points > 0x7FFF)
            *points = 8;
        return 1;
    }
    *face = platform.IsFaceInstalled(ShellDlg2, platform.context) ? ShellDlg2 : ShellDlg;
    *points = 8;
    return 1;
}

int ReadSystemMessageFont(LOGFONTW* font, void*)
{
    // 500 bytes: the structure without iPaddedBorderWidth, which every
    // Windows version accepts.
    NONCLIENTMETRICSW metrics = {};
    const UINT size = 500;
    metrics.cbSize = size;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, size, &metrics, 0))
        return 0;
    *font = metrics.lfMessageFont;
    return 1;
}

int SystemScreenPixelsPerInchY(void*)
{
    HDC screen = GetDC(nullptr);
    if (!screen)
        return 96;
    int pixels = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return pixels;
}

int CALLBACK CountFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *(int*)found = 1;
    return 0; // one family is enough
}

int IsSystemFaceInstalled(const wchar_t* face, void*)
{
    HDC screen = GetDC(nullptr);
    if (!screen)
        return 0;
    LOGFONTW wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    int found = 0;
    EnumFontFamiliesExW(screen, &wanted, &CountFamily, (LPARAM)&found, 0);
    ReleaseDC(nullptr, screen);
    return found;
}

} // namespace

int ParseDialogTemplate(const void* bytes, size_t size, DialogTemplateLayout* layout)
{
    if (!bytes || !layout)
        return 0;
    TemplateReader reader(bytes, size);
    DialogTemplateLayout found = {};
    WORD signature, count;
    if (!reader.Word(2, &signature))
        return 0;
    found.extended = signature == 0xFFFF;
    size_t header = found.extended ? ExtendedHeaderSize : ClassicHeaderSize;
    if (!reader.Has(0, header) || !reader.Dword(found.extended ? 12 : 0, &found.style) ||
        !reader.Word(found.extended ? 16 : 8, &count))
        return 0;
    found.itemCount = count;
    size_t at = header;
    if (!reader.SkipField(&at) || !reader.SkipField(&at) || !reader.SkipField(&at))
        return 0;
    found.hasFont = (found.style & DS_SETFONT) != 0;
    if (found.hasFont) {
        at = (at + 1) & ~(size_t)1;
        found.pointSizeOffset = at;
        at += found.extended ? 6 : 2; // point size, then weight, italic and character set
        found.faceOffset = at;
        if (!reader.Has(found.pointSizeOffset, at - found.pointSizeOffset) ||
            !reader.SkipString(&at, &found.faceLength))
            return 0;
    }
    found.itemsOffset = AlignToDword(at);
    if (!SkipItems(reader, found.extended, found.itemCount, &at))
        return 0;
    found.end = at;
    *layout = found;
    return 1;
}

const DialogFontPlatform& SystemDialogFontPlatform()
{
    static const DialogFontPlatform platform = {&ReadSystemMessageFont, &SystemScreenPixelsPerInchY,
                                                &IsSystemFaceInstalled, nullptr};
    return platform;
}

void* RewriteTemplateFont(const void* bytes, size_t size, int preferShellDlg2,
                          const DialogFontPlatform& platform, size_t* newSize)
{
    if (newSize)
        *newSize = 0;
    DialogTemplateLayout layout;
    if (!ParseDialogTemplate(bytes, size, &layout) || !layout.hasFont)
        return nullptr;
    TemplateReader reader(bytes, size);
    if (!IsLegacyFace(reader, layout))
        return nullptr;
    const wchar_t* face = nullptr;
    int points = 0;
    LOGFONTW messageFont;
    if (!ChooseFont(platform, preferShellDlg2, &face, &points, &messageFont))
        return nullptr;

    size_t faceLength = wcslen(face);
    size_t total = size + 2 * faceLength + 4 - 2 * layout.faceLength;
    BYTE* copy = (BYTE*)calloc(1, total);
    if (!copy)
        return nullptr;
    const BYTE* source = (const BYTE*)bytes;
    memcpy(copy, source, layout.faceOffset);
    memcpy(copy + layout.faceOffset, face, 2 * (faceLength + 1));
    size_t itemsOffset = AlignToDword(layout.faceOffset + 2 * (faceLength + 1));
    if (size > layout.itemsOffset)
        memcpy(copy + itemsOffset, source + layout.itemsOffset, size - layout.itemsOffset);
    copy[layout.pointSizeOffset] = (BYTE)(points & 0xFF);
    copy[layout.pointSizeOffset + 1] = (BYTE)(points >> 8);
    if (newSize)
        *newSize = total;
    return copy;
}
