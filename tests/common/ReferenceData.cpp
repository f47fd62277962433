#include "common/ReferenceData.h"

#include "devices/DeviceNode.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <vector>

#ifndef QUILL_REFERENCE_DIR
#error "QUILL_REFERENCE_DIR names the folder of the reference files"
#endif

namespace {

unsigned long long Fnv(const void* data, size_t size, unsigned long long hash = 14695981039346656037ULL)
{
    const unsigned char* bytes = (const unsigned char*)data;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ULL;
    return hash;
}

// UTF-8, with control characters spelled out so that every line stays one line.
void AppendText(std::string& out, const std::wstring& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned code = text[i];
        if (code < 0x20 || code == 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", code);
            out += escaped;
            continue;
        }
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (code < 0x80) {
            out += (char)code;
        } else if (code < 0x800) {
            out += (char)(0xC0 | (code >> 6));
            out += (char)(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += (char)(0xE0 | (code >> 12));
            out += (char)(0x80 | ((code >> 6) & 0x3F));
            out += (char)(0x80 | (code & 0x3F));
        } else {
            out += (char)(0xF0 | (code >> 18));
            out += (char)(0x80 | ((code >> 12) & 0x3F));
            out += (char)(0x80 | ((code >> 6) & 0x3F));
            out += (char)(0x80 | (code & 0x3F));
        }
    }
}

void AppendItem(std::string& out, const RecordingTreeSink& tree, const RecordingTreeSink::Item* item,
                int depth)
{
    out.append(depth * 2, ' ');
    AppendText(out, item->text);
    out += '\t';
    out += tree.ImageIdentity(item->image);
    if (item->selectedImage != item->image)
        out += "|selected:" + tree.ImageIdentity(item->selectedImage);
    const DeviceNode* node = (const DeviceNode*)item->param;
    char state[64];
    snprintf(state, sizeof state, "\t%08lX/%lu\t%d%s\n", node ? node->status : 0UL,
             node ? node->problem : 0UL, item->children, item->expanded ? "" : " collapsed");
    out += state;
    for (const RecordingTreeSink::Item* child : item->items)
        AppendItem(out, tree, child, depth + 1);
}

std::wstring ReferencePath(const char* name)
{
    std::wstring path;
    for (const char* p = QUILL_REFERENCE_DIR; *p; ++p)
        path += (wchar_t)(*p == '/' ? '\\' : *p);
    path += L'\\';
    for (const char* p = name; *p; ++p)
        path += (wchar_t)*p;
    return path;
}

bool ReadWhole(const std::wstring& path, std::string& content)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return false;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, got);
    fclose(file);
    return true;
}

bool WriteWhole(const std::wstring& path, const std::string& content)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
    return fclose(file) == 0 && ok;
}

std::string LineAt(const std::string& text, size_t offset, int& number)
{
    size_t start = text.rfind('\n', offset ? offset - 1 : 0);
    start = start == std::string::npos || offset == 0 ? 0 : start + 1;
    size_t end = text.find('\n', offset);
    number = 1;
    for (size_t i = 0; i < start; ++i)
        number += text[i] == '\n';
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace

namespace ReferenceData {

std::string TreeText(const RecordingTreeSink& tree)
{
    std::string out;
    for (const RecordingTreeSink::Item* root : tree.Roots())
        AppendItem(out, tree, root, 0);
    return out;
}

std::string RowsText(const RecordingListSink& list)
{
    std::string out;
    for (const RecordingListSink::Row& row : list.rows) {
        out += std::to_string(row.group);
        for (const std::wstring& cell : row.cells) {
            out += '\t';
            AppendText(out, cell);
        }
        out += '\n';
    }
    return out;
}

std::string IconIdentity(HICON icon)
{
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return "no-icon";
    unsigned long long hash = Fnv("icon", 4);
    HDC screen = GetDC(nullptr);
    for (HBITMAP bitmap : {info.hbmColor, info.hbmMask}) {
        if (!bitmap)
            continue;
        BITMAPINFO header = {};
        header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        if (!GetDIBits(screen, bitmap, 0, 0, nullptr, &header, DIB_RGB_COLORS))
            continue;
        int width = header.bmiHeader.biWidth, height = abs(header.bmiHeader.biHeight);
        header.bmiHeader.biBitCount = 32;
        header.bmiHeader.biCompression = BI_RGB;
        header.bmiHeader.biHeight = -height;
        std::vector<DWORD> pixels((size_t)width * height);
        if (GetDIBits(screen, bitmap, 0, height, pixels.data(), &header, DIB_RGB_COLORS))
            hash = Fnv(pixels.data(), pixels.size() * sizeof(DWORD), hash);
        DeleteObject(bitmap);
    }
    ReleaseDC(nullptr, screen);
    char text[32];
    snprintf(text, sizeof text, "icon:%016llX", hash);
    return text;
}

bool Matches(const char* name, const std::string& actual, std::string& difference)
{
    std::wstring path = ReferencePath(name);
    char mode[8] = {};
    if (GetEnvironmentVariableA("QUILL_WRITE_REFERENCE", mode, sizeof mode) && mode[0] == '1') {
        if (WriteWhole(path, actual))
            return true;
        difference = std::string("cannot write the reference file ") + name;
        return false;
    }
    std::string expected;
    if (!ReadWhole(path, expected)) {
        difference = std::string("no reference file ") + name;
        return false;
    }
    if (expected == actual)
        return true;
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    int expectedLine = 0, actualLine = 0;
    std::string was = LineAt(expected, at, expectedLine), now = LineAt(actual, at, actualLine);
    difference = std::string(name) + " differs at line " + std::to_string(expectedLine) +
                 "\n  reference: " + was + "\n  now:       " + now;
    return false;
}

void ExpectMatches(const char* name, const std::string& actual)
{
    std::string difference;
    EXPECT_TRUE(Matches(name, actual, difference)) << difference;
}

std::string Digest(const std::string& text)
{
    size_t lines = 0;
    for (char ch : text)
        lines += ch == '\n';
    char digest[64];
    snprintf(digest, sizeof digest, "%zu lines, %zu bytes, fnv64 %016llX\n", lines, text.size(),
             Fnv(text.data(), text.size()));
    return digest;
}

std::wstring BesideExe(const wchar_t* file)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + file;
}

} // namespace ReferenceData
