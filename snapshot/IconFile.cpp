#include "snapshot/IconFile.h"

#include <string.h>

namespace {

#pragma pack(push, 2)
struct IconDirectory {
    WORD reserved;
    WORD type;  // 1: icons
    WORD count;
};
struct IconEntry {
    BYTE width;  // 0 for 256
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD size;
    DWORD offset;
};
#pragma pack(pop)

const DWORD ImageOffset = sizeof(IconDirectory) + sizeof(IconEntry);
const LONG LargestSide = 256;

DWORD MaskStride(LONG width)
{
    return (DWORD)((width + 31) / 32) * 4;
}

DWORD ImageSize(LONG width, LONG height)
{
    return sizeof(BITMAPINFOHEADER) + (DWORD)(width * height) * 4 + MaskStride(width) * (DWORD)height;
}

// Rows of one bitmap, bottom-up, at `bits` bits a pixel.
bool ReadRows(HDC dc, HBITMAP bitmap, LONG width, LONG height, WORD bits, BYTE* out)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[2];
    } info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;
    info.header.biPlanes = 1;
    info.header.biBitCount = bits;
    info.header.biCompression = BI_RGB;
    return GetDIBits(dc, bitmap, 0, (UINT)height, out, (BITMAPINFO*)&info, DIB_RGB_COLORS) == height;
}

} // namespace

namespace IconFile {

int Encode(HICON icon, std::vector<BYTE>& file)
{
    file.clear();
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return 0;
    BITMAP colour = {};
    bool usable = info.hbmColor && info.hbmMask &&
                  GetObjectW(info.hbmColor, sizeof colour, &colour) == sizeof colour &&
                  colour.bmWidth > 0 && colour.bmWidth <= LargestSide && colour.bmHeight > 0 &&
                  colour.bmHeight <= LargestSide;
    if (usable) {
        LONG width = colour.bmWidth, height = colour.bmHeight;
        file.assign(ImageOffset + ImageSize(width, height), 0);
        IconDirectory* directory = (IconDirectory*)file.data();
        directory->type = 1;
        directory->count = 1;
        IconEntry* entry = (IconEntry*)(directory + 1);
        entry->width = (BYTE)(width == LargestSide ? 0 : width);
        entry->height = (BYTE)(height == LargestSide ? 0 : height);
        entry->planes = 1;
        entry->bitCount = 32;
        entry->size = ImageSize(width, height);
        entry->offset = ImageOffset;
        BITMAPINFOHEADER* header = (BITMAPINFOHEADER*)(file.data() + ImageOffset);
        header->biSize = sizeof(BITMAPINFOHEADER);
        header->biWidth = width;
        header->biHeight = 2 * height; // the colour image and the mask
        header->biPlanes = 1;
        header->biBitCount = 32;
        header->biCompression = BI_RGB;
        BYTE* pixels = (BYTE*)(header + 1);
        BYTE* mask = pixels + width * height * 4;
        HDC dc = GetDC(nullptr);
        usable = dc && ReadRows(dc, info.hbmColor, width, height, 32, pixels) &&
                 ReadRows(dc, info.hbmMask, width, height, 1, mask);
        if (dc)
            ReleaseDC(nullptr, dc);
    }
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    if (!usable)
        file.clear();
    return usable ? 1 : 0;
}

bool IsWellFormed(const std::vector<BYTE>& file)
{
    if (file.size() < ImageOffset + sizeof(BITMAPINFOHEADER))
        return false;
    IconDirectory directory;
    IconEntry entry;
    BITMAPINFOHEADER header;
    memcpy(&directory, file.data(), sizeof directory);
    memcpy(&entry, file.data() + sizeof directory, sizeof entry);
    memcpy(&header, file.data() + ImageOffset, sizeof header);
    LONG width = header.biWidth, height = header.biHeight / 2;
    if (directory.reserved != 0 || directory.type != 1 || directory.count != 1 ||
        entry.offset != ImageOffset || entry.bitCount != 32 || entry.planes != 1 ||
        header.biSize != sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 ||
        header.biBitCount != 32 || header.biCompression != BI_RGB || width < 1 ||
        width > LargestSide || height < 1 || height > LargestSide || header.biHeight != 2 * height)
        return false;
    LONG entryWidth = entry.width ? entry.width : LargestSide;
    LONG entryHeight = entry.height ? entry.height : LargestSide;
    return entryWidth == width && entryHeight == height && entry.size == ImageSize(width, height) &&
           file.size() == ImageOffset + entry.size;
}

HICON Create(const std::vector<BYTE>& file)
{
    if (!IsWellFormed(file))
        return nullptr;
    const BITMAPINFOHEADER* header = (const BITMAPINFOHEADER*)(file.data() + ImageOffset);
    return CreateIconFromResourceEx((PBYTE)header, (DWORD)(file.size() - ImageOffset), TRUE,
                                    0x00030000, header->biWidth, header->biHeight / 2,
                                    LR_DEFAULTCOLOR);
}

} // namespace IconFile
