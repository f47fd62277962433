#pragma once

#include <windows.h>

#include "services/ByteBuffer.h"

// A dialog that carries no resource describes itself with these records
// and is written as a classic DLGTEMPLATE, the form the resource compiler
// gives a DIALOG statement, so the font rewrite and DialogBoxIndirectParamW
// take it like any template.
struct DialogItemSpec {
    int id;              // -1 for controls the dialog never addresses
    WORD classAtom;      // 0x0080 button, 0x0081 edit, 0x0082 static
    const wchar_t* text; // nullptr or "" for none
    DWORD style;         // WS_CHILD and WS_VISIBLE are added
    short x, y, width, height;
};

struct DialogSpec {
    DWORD style;
    short x, y, width, height;
    const wchar_t* title;
    WORD pointSize;        // with DS_SETFONT
    const wchar_t* face;   // with DS_SETFONT
    const DialogItemSpec* items;
    int itemCount;
};

// Predefined control classes of item templates.
static const WORD ButtonClassAtom = 0x0080;
static const WORD EditClassAtom = 0x0081;
static const WORD StaticClassAtom = 0x0082;

// Writes the template into `out` (emptied first). 0 when memory runs out or
// the description holds more items than a template can count.
int BuildDialogTemplate(const DialogSpec& spec, ByteBuffer& out);
