#pragma once

#include <windows.h>

#include <vector>

// A class icon as a snapshot keeps it: an icon file holding one image of 32
// bits a pixel (alpha included) and its mask, which any icon reader opens.
// Only this one shape is read back, so that an icon of a hostile file is
// checked field by field before the system sees a byte of it.
namespace IconFile {

// The icon's colour image and mask as an icon file; 0 for an icon without
// a colour image or larger than 256 pixels a side.
int Encode(HICON icon, std::vector<BYTE>& file);
// Whether `file` is exactly such a file.
bool IsWellFormed(const std::vector<BYTE>& file);
// A new icon from such a file (the caller destroys it), or nullptr.
HICON Create(const std::vector<BYTE>& file);

} // namespace IconFile
