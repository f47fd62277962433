#include "properties/ValueFormat.h"
#include "devices/DeviceTree.h"
#include "services/LibraryHolder.h"

#include <objbase.h>
#include <string.h>

namespace {

// Little-endian number from at most `width` bytes; missing bytes count as
// zero, so short data never shows what a reused buffer held before.
unsigned long long LeadingNumber(const BYTE* data, DWORD size, DWORD width)
{
    unsigned long long value = 0;
    DWORD available = size < width ? size : width;
    if (data)
        memcpy(&value, data, available);
    return value;
}

// Characters of the string at `data` up to its NUL or the end of `bytes`.
int BoundedLength(const BYTE* data, DWORD bytes)
{
    const wchar_t* text = (const wchar_t*)data;
    int limit = (int)(bytes / sizeof(wchar_t));
    int n = 0;
    while (n < limit && text[n])
        ++n;
    return n;
}

void AppendMultiString(const BYTE* data, DWORD size, WideString& value)
{
    DWORD cursor = 0;
    while (data && cursor + 2 < size) {
        int length = BoundedLength(data + cursor, size - cursor);
        WideString entry;
        entry.Assign((const wchar_t*)(data + cursor), length);
        value.AppendWithSeparator(entry.Text(), L", ");
        cursor += 2 * (DWORD)(length + 1);
    }
}

typedef int(WINAPI* SHFormatDateTimeProc)(const FILETIME*, DWORD*, LPWSTR, UINT);

SHFormatDateTimeProc ShellDateFormatter()
{
    static LibraryHolder shlwapi;
    static SHFormatDateTimeProc formatter = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        if (shlwapi.Load(L"shlwapi.dll"))
            formatter = (SHFormatDateTimeProc)shlwapi.Lookup("SHFormatDateTimeW");
    }
    return formatter;
}

void AppendLocaleDateTime(WideString& text, DWORD flags, const SYSTEMTIME& time)
{
    WideString piece;
    DWORD dateFlags = (flags & 2) ? DATE_SHORTDATE : DATE_LONGDATE;
    if (GetDateFormatW(LOCALE_USER_DEFAULT, dateFlags, &time, nullptr, piece.Buffer(),
                       piece.Capacity() - 1)) {
        piece.Recompute();
        text.Append(piece.Text());
    }
    text.Append(L" ");
    DWORD timeFlags = (flags & 1) ? TIME_NOSECONDS : 0;
    if (GetTimeFormatW(LOCALE_USER_DEFAULT, timeFlags, &time, nullptr, piece.Buffer(),
                       piece.Capacity() - 1)) {
        piece.Recompute();
        text.Append(piece.Text());
    }
}

} // namespace

int GuidText(const GUID& guid, WideString& text)
{
    wchar_t buffer[128];
    if (!StringFromGUID2(guid, buffer, 128))
        return 0;
    return text.Assign(buffer);
}

void FormatRegistryValue(const BYTE* data, DWORD size, DWORD type, WideString& value)
{
    value.Clear();
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        if (data)
            value.Assign((const wchar_t*)data, BoundedLength(data, size));
        break;
    case REG_BINARY:
        value.Format(L"%u Bytes Binary Data", size);
        break;
    case REG_DWORD: {
        DWORD number = (DWORD)LeadingNumber(data, size, 4);
        value.Format(L"0x%X (%u)", number, number);
        break;
    }
    case REG_MULTI_SZ:
        AppendMultiString(data, size, value);
        break;
    case REG_QWORD: {
        unsigned long long number = LeadingNumber(data, size, 8);
        value.Format(L"0x%I64X (%I64u)", number, number);
        break;
    }
    default:
        value.Format(L"Unknown Type 0x%X", type);
        break;
    }
}

void FormatDateTime(WideString& text, DWORD flags, const SYSTEMTIME& time)
{
    // The shell formatter shifts a UTC file time into local time; handing it
    // the stored time as if it were local cancels that shift out.
    FILETIME asLocal, shifted;
    SHFormatDateTimeProc formatter = ShellDateFormatter();
    if (formatter && SystemTimeToFileTime(&time, &asLocal) &&
        LocalFileTimeToFileTime(&asLocal, &shifted)) {
        WideString piece;
        DWORD shellFlags = flags;
        if (formatter(&shifted, &shellFlags, piece.Buffer(), (UINT)(piece.Capacity() - 1))) {
            piece.Recompute();
            text.Append(piece.Text());
            return;
        }
    }
    AppendLocaleDateTime(text, flags, time);
}

void ValueDetails(const DeviceTree& tree, const WideString& value, WideString& details)
{
    details.Clear();
    int length = value.Length();
    if (length < 2 || value.At(0) != L'{' || value.At(length - 1) != L'}')
        return;
    GUID guid;
    if (CLSIDFromString((LPCOLESTR)value.Text(), &guid) != NOERROR)
        return;
    if (!tree.ClassNameFromGuid(guid, details))
        details.Clear();
}
