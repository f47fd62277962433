#include "ClassIcons.h"

#include <map>
#include <vector>

namespace {

const int kSize = 32;
const int kSamples = 4; // per axis, for smooth edges

struct Glyph {
    std::vector<BYTE> resource; // the icon image as an .ico file holds it
};

std::map<COLORREF, Glyph>& Cache()
{
    static std::map<COLORREF, Glyph>* cache = new std::map<COLORREF, Glyph>();
    return *cache;
}

// The glyph is drawn in integers, in eighths of a pixel, so that every
// processor and compiler makes the same icon to the bit (x87's extended
// precision rounded some edges of the floating-point drawing differently
// from SSE). Coordinates below are in those eighths.
const int kEighths = 8;

// Inside a square with rounded corners spanning [low, high] on both axes.
bool InRoundedSquare(int x, int y, int low, int high, int radius)
{
    if (x < low || x > high || y < low || y > high)
        return false;
    int cx = x < low + radius ? low + radius : (x > high - radius ? high - radius : x);
    int cy = y < low + radius ? low + radius : (y > high - radius ? high - radius : y);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// from + (to - from) * part / whole, rounded half up; never negative, as
// the result lies between `from` and `to`.
BYTE Mix(int from, int to, int part, int whole)
{
    int scaled = from * whole + (to - from) * part;
    return (BYTE)((2 * scaled + whole) / (2 * whole));
}

// A rounded tile in the class colour, lighter towards the top, with a darker
// rim and a white disc in the middle: legible at 16 pixels, distinct per
// colour. The result is an icon image: header, colour rows bottom-up, mask.
std::vector<BYTE> DrawGlyph(COLORREF colour)
{
    const int maskStride = 4; // 32 one-bit pixels, padded to 32 bits
    std::vector<BYTE> image(sizeof(BITMAPINFOHEADER) + kSize * kSize * 4 + kSize * maskStride, 0);
    BITMAPINFOHEADER* header = (BITMAPINFOHEADER*)image.data();
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = kSize;
    header->biHeight = 2 * kSize; // colour and mask
    header->biPlanes = 1;
    header->biBitCount = 32;
    header->biCompression = BI_RGB;
    DWORD* pixels = (DWORD*)(header + 1);
    BYTE* mask = (BYTE*)(pixels + kSize * kSize);

    const int red = GetRValue(colour), green = GetGValue(colour), blue = GetBValue(colour);
    const int all = kSamples * kSamples;
    const int step = kEighths / kSamples;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            int tile = 0, inner = 0, disc = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    // The sample at the middle of its sub-square.
                    int px = x * kEighths + sx * step + step / 2;
                    int py = y * kEighths + sy * step + step / 2;
                    if (InRoundedSquare(px, py, 12, 244, 48)) // 1.5 to 30.5, radius 6
                        ++tile;
                    if (InRoundedSquare(px, py, 24, 232, 36)) // 3 to 29, radius 4.5
                        ++inner;
                    if ((px - 128) * (px - 128) + (py - 128) * (py - 128) <= 52 * 52) // 6.5 around 16
                        ++disc;
                }
            }
            // Lighter at the top: 35% white in the first row, none below the last.
            const int shadePart = 35 * (kSize - y), shadeWhole = 100 * kSize;
            int r = Mix(red, 255, shadePart, shadeWhole);
            int g = Mix(green, 255, shadePart, shadeWhole);
            int b = Mix(blue, 255, shadePart, shadeWhole);
            int rim = tile - inner;
            r = Mix(r, red * 55 / 100, rim, all);
            g = Mix(g, green * 55 / 100, rim, all);
            b = Mix(b, blue * 55 / 100, rim, all);
            r = Mix(r, 255, disc, all);
            g = Mix(g, 255, disc, all);
            b = Mix(b, 255, disc, all);
            BYTE alpha = Mix(0, 255, tile, all);
            int row = kSize - 1 - y; // bottom-up
            pixels[row * kSize + x] = ((DWORD)alpha << 24) | ((DWORD)r << 16) | ((DWORD)g << 8) | (DWORD)b;
            if (alpha == 0)
                mask[row * maskStride + x / 8] |= (BYTE)(0x80 >> (x % 8));
        }
    }
    return image;
}

const Glyph& GlyphOf(COLORREF colour)
{
    std::map<COLORREF, Glyph>& cache = Cache();
    auto found = cache.find(colour);
    if (found != cache.end())
        return found->second;
    Glyph& glyph = cache[colour];
    glyph.resource = DrawGlyph(colour);
    return glyph;
}

HICON FromImage(const std::vector<BYTE>& image)
{
    return CreateIconFromResourceEx((PBYTE)image.data(), (DWORD)image.size(), TRUE, 0x00030000, kSize, kSize, 0);
}

} // namespace

namespace ClassIcons {

HICON Create(COLORREF colour)
{
    return FromImage(GlyphOf(colour).resource);
}

void DestroyAll()
{
    Cache().clear();
}

} // namespace ClassIcons
