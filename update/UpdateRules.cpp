#include "update/UpdateRules.h"

#include "services/ModulePath.h"
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

namespace {

const unsigned MostVersionPart = 0xFFFF;

// One number of "%u" as the C library reads it (white space and a plus
// sign before it), refused beyond MostVersionPart instead of wrapping.
const wchar_t* ScanVersionPart(const wchar_t* text, unsigned& part)
{
    while (*text == L' ' || (*text >= L'\t' && *text <= L'\r'))
        ++text;
    if (*text == L'+')
        ++text;
    if (*text < L'0' || *text > L'9')
        return nullptr;
    unsigned value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (unsigned)(*text - L'0');
        if (value > MostVersionPart)
            return nullptr;
    }
    part = value;
    return text;
}

} // namespace

int ParseVersionText(const wchar_t* text, VersionNumbers& version)
{
    unsigned major = 0, minor = 0;
    if (!text || !(text = ScanVersionPart(text, major)) || *text != L'.' ||
        !ScanVersionPart(text + 1, minor))
        return 0;
    version.major = major;
    version.minor = minor;
    return 1;
}

int ReadProgramVersion(const wchar_t* path, VersionNumbers& version)
{
    WideString own, text;
    if (!path) {
        if (!GetExecutablePath(own))
            return 0;
        path = own.Text();
    }
    if (VersionString(L"FileVersion", path, text))
        return ParseVersionText(text.Text(), version);
    // Without the text, the fixed file version's 16-bit parts.
    return ReadFileVersionNumbers(path, version);
}

bool IsNewerVersion(const VersionNumbers& offered, const VersionNumbers& local)
{
    return offered.major > local.major || (offered.major == local.major && offered.minor > local.minor);
}

bool IsSameVersion(const VersionNumbers& a, const VersionNumbers& b)
{
    return a.major == b.major && a.minor == b.minor;
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

namespace {

// Four decimal parts of at most three digits, the first 127.
bool IsLoopbackAddress(const wchar_t* host)
{
    int parts = 0, digits = 0;
    for (const wchar_t* p = host;; ++p) {
        if (*p >= L'0' && *p <= L'9' && digits < 3) {
            ++digits;
            continue;
        }
        if ((*p != L'.' && *p != 0) || digits == 0)
            return false;
        ++parts;
        digits = 0;
        if (!*p)
            return parts == 4 && CompareAsciiNoCase(host, L"127.", 4) == 0;
    }
}

} // namespace

bool IsTestEndpoint(const wchar_t* url)
{
    const wchar_t* authority = url ? wcsstr(url, L"://") : nullptr;
    if (!IsWebAddress(url) || !authority)
        return false;
    authority += 3;
    int end = (int)wcscspn(authority, L"/?#");
    WideString host;
    if (!host.Assign(authority, end))
        return false;
    // Credentials before the host and the port after it are not the host.
    int at = -1;
    for (int i = 0; i < host.Length(); ++i)
        if (host.At(i) == L'@')
            at = i;
    if (at >= 0 && !host.Assign(host.Text() + at + 1))
        return false;
    if (host.At(0) == L'[')
        return CompareAsciiNoCase(host.Text(), L"[::1]", 5) == 0 &&
               (host.At(5) == 0 || host.At(5) == L':');
    int colon = host.Find(L":");
    if (colon >= 0)
        host.Truncate(colon);
    if (host.CompareNoCase(L"localhost") == 0)
        return true;
    if (CompareAsciiNoCase(host.Text(), L"127.", 4) == 0)
        return IsLoopbackAddress(host.Text());
    const wchar_t Invalid[] = L".invalid";
    int suffix = (int)(sizeof Invalid / sizeof Invalid[0]) - 1;
    if (host.Length() > 0 && host.At(host.Length() - 1) == L'.')
        host.Truncate(host.Length() - 1);
    return host.Length() > suffix &&
           CompareAsciiNoCase(host.Text() + host.Length() - suffix, Invalid) == 0;
}
