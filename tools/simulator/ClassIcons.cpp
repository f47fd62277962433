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

// Inside a square with rounded corners spanning [low, high] on both axes.
bool InRoundedSquare(double x, double y, double low, double high, double radius)
{
    if (x < low || x > high || y < low || y > high)
        return false;
    double cx = x < low + radius ? low + radius : (x > high - radius ? high - radius : x);
    double cy = y < low + radius ? low + radius : (y > high - radius ? high - radius : y);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

BYTE Mix(BYTE from, BYTE to, double amount)
{
    return (BYTE)(from + (to - from) * amount + 0.5);
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

    BYTE red = GetRValue(colour), green = GetGValue(colour), blue = GetBValue(colour);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            int tile = 0, inner = 0, disc = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    double px = x + (sx + 0.5) / kSamples, py = y + (sy + 0.5) / kSamples;
                    if (InRoundedSquare(px, py, 1.5, 30.5, 6.0))
                        ++tile;
                    if (InRoundedSquare(px, py, 3.0, 29.0, 4.5))
                        ++inner;
                    if ((px - 16) * (px - 16) + (py - 16) * (py - 16) <= 6.5 * 6.5)
                        ++disc;
                }
            }
            const double all = kSamples * kSamples;
            double shade = 0.35 * (1.0 - y / (double)kSize); // lighter at the top
            BYTE r = Mix(red, 255, shade), g = Mix(green, 255, shade), b = Mix(blue, 255, shade);
            double rim = (tile - inner) / all;
            r = Mix(r, (BYTE)(red * 0.55), rim);
            g = Mix(g, (BYTE)(green * 0.55), rim);
            b = Mix(b, (BYTE)(blue * 0.55), rim);
            double white = disc / all;
            r = Mix(r, 255, white);
            g = Mix(g, 255, white);
            b = Mix(b, 255, white);
            BYTE alpha = (BYTE)(255 * tile / all + 0.5);
            int row = kSize - 1 - y; // bottom-up
            pixels[row * kSize + x] = ((DWORD)alpha << 24) | ((DWORD)r << 16) | ((DWORD)g << 8) | b;
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
