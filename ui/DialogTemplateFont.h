#pragma once

#include <windows.h>
#include <stddef.h>

// Where the parts of an in-memory dialog template lie, found by a walk that
// never leaves the block. Offsets are from the template's first byte.
struct DialogTemplateLayout {
    bool extended;       // DLGTEMPLATEEX
    DWORD style;
    int itemCount;
    bool hasFont;        // DS_SETFONT
    size_t pointSizeOffset;
    size_t faceOffset;   // first character of the face name
    size_t faceLength;   // characters, without the terminator
    size_t itemsOffset;  // the first item template (DWORD-aligned)
    size_t end;          // just past the last item's creation data
};

// Walks the header, menu, class, title, font and every item template;
// 0 when any of them runs past `size` bytes or a field is malformed.
int ParseDialogTemplate(const void* bytes, size_t size, DialogTemplateLayout* layout);

// What the font rewrite asks of the system, replaceable for tests.
struct DialogFontPlatform {
    // The message font of the non-client metrics; 0 when unknown.
    int (*ReadMessageFont)(LOGFONTW* font, void* context);
    // LOGPIXELSY of the screen.
    int (*ScreenPixelsPerInchY)(void* context);
    // 1 when the font family `face` is installed.
    int (*IsFaceInstalled)(const wchar_t* face, void* context);
    void* context;
};
const DialogFontPlatform& SystemDialogFontPlatform();

// A copy of the template whose legacy face ("MS Sans Serif", "MS Shell Dlg",
// "System") is replaced by the system's message font (or "MS Shell Dlg 2" at
// 8 points when `preferShellDlg2` and the message font is "Segoe UI").
// The caller frees the copy with free(). nullptr when the template is
// malformed, has no DS_SETFONT, another face, or the system's message font
// is none of the known ones: then the template is to be used unchanged.
void* RewriteTemplateFont(const void* bytes, size_t size, int preferShellDlg2,
                          const DialogFontPlatform& platform = SystemDialogFontPlatform(),
                          size_t* newSize = nullptr);
