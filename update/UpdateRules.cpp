#include "update/UpdateRules.h"

#include "ui/StringTable.h"

#include <stdlib.h>
#include <wchar.h>

DWORD CurrentUnixTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long long ticks = ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime;
    const unsigned long long Epoch = 116444736000000000ull; // 1970-01-01 in 100 ns units
    return (DWORD)((ticks - Epoch) / 10000000ull);
}

bool IsCheckDue(DWORD last, DWORD now)
{
    return last > now || last + UpdateCheckInterval < now;
}

int InsertBeforeExtension(const wchar_t* name, const wchar_t* suffix, WideString& result)
{
    result.Clear();
    int length = (int)wcslen(name);
    int start = 0;
    for (int i = 0; i < length; ++i)
        if (name[i] == L' ' || name[i] == L'/' || name[i] == L'\\')
            start = i + 1;
    int end = length;
    for (int i = start; i < length; ++i)
        if (name[i] == L'?') {
            end = i;
            break;
        }
    int dot = -1;
    for (int i = start; i < end; ++i)
        if (name[i] == L'.')
            dot = i;
    if (dot < 0)
        return result.Assign(name) && result.Append(suffix);
    bool shortExtension = end - dot - 1 <= 3;
    WideString extension;
    if (!extension.Assign(name + dot, end - dot))
        return 0;
    int ok = shortExtension ? result.Assign(name, dot) && result.Append(name + end)
                            : result.Assign(name);
    if (!ok || !result.Append(suffix) || !result.Append(extension)) {
        result.Clear();
        return 0;
    }
    return 1;
}

int ParseOfferedVersion(const wchar_t* text, VersionNumbers& version)
{
    unsigned major = 0, minor = 0;
    if (!text || ScanVersionNumbers(text, &major, &minor) != 2)
        return 0;
    version.major = major;
    version.minor = minor;
    return 1;
}

bool IsNewerVersion(const VersionNumbers& offered, const VersionNumbers& local)
{
    unsigned major = local.major & 0xFF, minor = local.minor & 0xFF;
    return offered.major > major || (offered.major == major && offered.minor > minor);
}

int DecodeLowBytesAsUtf8(const wchar_t* text, WideString& decoded)
{
    if (!decoded.Assign(text))
        return 0;
    int length = decoded.Length();
    bool wide = false;
    for (int i = 0; i < length && !wide; ++i)
        wide = text[i] > 0xFF;
    if (wide || length == 0)
        return 1;
    char* bytes = decoded.ToMultiByte(WideString::BytePerChar);
    if (!bytes)
        return 1;
    int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
    WideString utf8;
    if (needed > 0 && utf8.Reserve(needed + 1) &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, utf8.Buffer(),
                            needed) == needed) {
        utf8.SetLength(needed);
        decoded = utf8;
    }
    free(bytes);
    return 1;
}

void UpdateLanguageName(WideString& name)
{
    LANGID language = StringTable::ResolveLanguage(StringTable::UserLanguage);
    wchar_t iso[16] = {};
    if (GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SISO639LANGNAME, iso, 16) > 0 &&
        iso[0])
        name.Assign(iso);
    else
        name.Assign(L"en");
}

#if defined(__x86_64__) || defined(_M_X64)
const wchar_t UpdateProcessorParameter[] = L"&arch=x64";
const wchar_t UpdateArchitecture[] = L"x64";
#else
const wchar_t UpdateProcessorParameter[] = L"";
const wchar_t UpdateArchitecture[] = L"x86";
#endif

int BuildUpdateQuery(const wchar_t* url, bool inventory, const wchar_t* versionText,
                     const wchar_t* machineId, const wchar_t* language, const wchar_t* itemType,
                     const wchar_t* itemName, WideString& query)
{
    wchar_t separator = wcschr(url, L'?') ? L'&' : L'?';
    int made;
    if (!inventory)
        made = query.Format(L"%s%cv=%s&id=%s", url, separator, versionText, machineId);
    else
        made = query.Format(L"%s%ca=updates&d=0&f=16&l=%s&g=%s&i=<Varnholt><Inventory><Item "
                            L"Type=\"%s\" Name=\"%s\" Version=\"%s\" /></Inventory></Varnholt>",
                            url, separator, language, machineId, itemType ? itemType : L"",
                            itemName ? itemName : L"", versionText);
    return made && query.Append(UpdateProcessorParameter);
}

bool IsWebAddress(const wchar_t* text)
{
    if (!text || (CompareAsciiNoCase(text, L"http://", 7) != 0 &&
                  CompareAsciiNoCase(text, L"https://", 8) != 0))
        return false;
    for (const wchar_t* p = text; *p; ++p)
        if (*p < 0x20 || *p == 0x7F)
            return false;
    int host = CompareAsciiNoCase(text, L"http://", 7) == 0 ? 7 : 8;
    return text[host] != 0;
}

bool IsHttpsAddress(const wchar_t* text)
{
    return IsWebAddress(text) && CompareAsciiNoCase(text, L"https://", 8) == 0;
}

void TrimBlanks(WideString& text)
{
    auto blank = [](wchar_t ch) { return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n'; };
    int end = text.Length();
    while (end > 0 && blank(text.At(end - 1)))
        --end;
    int start = 0;
    while (start < end && blank(text.At(start)))
        ++start;
    WideString trimmed;
    if (trimmed.Assign(text.Text() + start, end - start))
        text = trimmed;
}
