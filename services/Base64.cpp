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
