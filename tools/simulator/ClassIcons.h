#pragma once

#include <windows.h>

// The class icons: one 32x32 glyph per colour, drawn once and kept until the
// DLL unloads.
namespace ClassIcons {

// A new icon of the glyph in `colour` that the caller destroys, or null.
HICON Create(COLORREF colour);
void DestroyAll();

} // namespace ClassIcons
