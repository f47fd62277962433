#include "update/InstallPath.h"

#include "services/ModulePath.h"

#include <wchar.h>

namespace {

const wchar_t* const DeviceNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
const wchar_t* const NumberedDevices[] = {L"COM", L"LPT"};

bool IsForbiddenCharacter(wchar_t ch)
{
    return ch < 0x20 || ch == 0x7F || wcschr(L"<>\"|?*:", ch) != nullptr;
}

// CON, NUL.txt, com1 and the like name devices in every directory.
bool IsDeviceName(const wchar_t* component, int length)
{
    int stem = 0;
    while (stem < length && component[stem] != L'.')
        ++stem;
    for (const wchar_t* name : DeviceNames) {
        if ((int)wcslen(name) == stem && CompareAsciiNoCase(component, name, stem) == 0)
            return true;
    }
    for (const wchar_t* name : NumberedDevices) {
        if (stem == 4 && CompareAsciiNoCase(component, name, 3) == 0 && component[3] >= L'0' &&
            component[3] <= L'9')
            return true;
    }
    return false;
}

bool IsSafeComponent(const wchar_t* component, int length)
{
    if (length == 2 && component[0] == L'.' && component[1] == L'.')
        return false;
    for (int i = 0; i < length; ++i)
        if (IsForbiddenCharacter(component[i]))
            return false;
    wchar_t last = component[length - 1];
    if (last == L'.' || last == L' ')
        return false;
    return !IsDeviceName(component, length);
}

} // namespace

int MakeSafeRelativePath(const wchar_t* stored, WideString& relative, bool* directory)
{
    relative.Clear();
    if (directory)
        *directory = false;
    if (!stored || !*stored || *stored == L'\\' || *stored == L'/')
        return 0;
    const wchar_t* cursor = stored;
    bool endsWithSeparator = false;
    while (*cursor) {
        const wchar_t* start = cursor;
        while (*cursor && *cursor != L'\\' && *cursor != L'/')
            ++cursor;
        int length = (int)(cursor - start);
        endsWithSeparator = *cursor != 0;
        if (*cursor)
            ++cursor;
        if (length == 0 || (length == 1 && *start == L'.'))
            continue;
        if (!IsSafeComponent(start, length)) {
            relative.Clear();
            return 0;
        }
        if ((!relative.IsEmpty() && !relative.Append(L'\\')) || !relative.Append(start, length)) {
            relative.Clear();
            return 0;
        }
        if (relative.Length() > InstallPathLimit) {
            relative.Clear();
            return 0;
        }
    }
    if (relative.IsEmpty())
        return 0;
    if (directory)
        *directory = endsWithSeparator;
    return 1;
}

int IsSafeFileName(const wchar_t* name)
{
    WideString relative;
    bool directory = false;
    return MakeSafeRelativePath(name, relative, &directory) && !directory &&
           relative.Find(L"\\") < 0 && relative == name;
}

int JoinInside(const wchar_t* directory, const wchar_t* relative, WideString& path)
{
    if (!JoinPath(directory, relative, path) || path.Length() > InstallPathLimit) {
        path.Clear();
        return 0;
    }
    return 1;
}
