#include "services/Base64.h"

int EncodeBase64(const void* data, size_t size, WideString& out)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.Clear();
    if (size > (size_t)(WideString::FormatLimit / 4) * 3)
        return 0;
    if (!out.Reserve((int)((size + 2) / 3 * 4 + 1)))
        return 0;
    const unsigned char* bytes = (const unsigned char*)data;
    for (size_t at = 0; at < size; at += 3) {
        size_t left = size - at;
        unsigned long group = (unsigned long)bytes[at] << 16;
        if (left > 1)
            group |= (unsigned long)bytes[at + 1] << 8;
        if (left > 2)
            group |= bytes[at + 2];
        out.Append((wchar_t)alphabet[(group >> 18) & 63]);
        out.Append((wchar_t)alphabet[(group >> 12) & 63]);
        out.Append(left > 1 ? (wchar_t)alphabet[(group >> 6) & 63] : L'=');
        out.Append(left > 2 ? (wchar_t)alphabet[group & 63] : L'=');
    }
    return 1;
}

namespace {

int Base64Value(wchar_t ch)
{
    if (ch >= L'A' && ch <= L'Z')
        return ch - L'A';
    if (ch >= L'a' && ch <= L'z')
        return ch - L'a' + 26;
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0' + 52;
    if (ch == L'+')
        return 62;
    if (ch == L'/')
        return 63;
    return -1;
}

} // namespace

int DecodeBase64(const wchar_t* text, unsigned char* out, size_t capacity, size_t* size)
{
    *size = 0;
    if (!text)
        return 0;
    size_t length = 0;
    while (text[length])
        ++length;
    if (length % 4 != 0)
        return 0;
    size_t written = 0;
    for (size_t at = 0; at < length; at += 4) {
        bool last = at + 4 == length;
        int padding = 0;
        if (last && text[at + 3] == L'=')
            padding = text[at + 2] == L'=' ? 2 : 1;
        unsigned long group = 0;
        for (int i = 0; i < 4; ++i) {
            int value = i < 4 - padding ? Base64Value(text[at + i]) : 0;
            if (value < 0)
                return 0;
            group = (group << 6) | (unsigned long)value;
        }
        // Bits that the padding hides must be zero.
        if ((padding == 1 && (group & 0xFF)) || (padding == 2 && (group & 0xFFFF)))
            return 0;
        int bytes = 3 - padding;
        if (written + (size_t)bytes > capacity)
            return 0;
        for (int i = 0; i < bytes; ++i)
            out[written++] = (unsigned char)(group >> (16 - 8 * i));
    }
    *size = written;
    return 1;
}
