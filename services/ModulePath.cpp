#include "services/ModulePath.h"

#include <wchar.h>

int GetExecutablePath(WideString& path)
{
    path.Clear();
    if (!path.Reserve(MAX_PATH + 1))
        return 0;
    DWORD length = GetModuleFileNameW(nullptr, path.Buffer(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        path.Clear();
        return 0;
    }
    path.SetLength((int)length);
    return 1;
}

int GetExecutableDirectory(WideString& directory)
{
    WideString path;
    if (!GetExecutablePath(path))
        return 0;
    DirectoryOf(path.Text(), directory);
    return !directory.IsEmpty();
}

void DirectoryOf(const wchar_t* path, WideString& directory)
{
    directory.Assign(path ? path : L"");
    int cut = directory.Length();
    while (cut > 0 && directory.At(cut - 1) != L'\\' && directory.At(cut - 1) != L'/')
        --cut;
    if (cut == 0)
        directory.Clear();
    else
        directory.Truncate(cut);
}

void FileNameOf(const wchar_t* path, WideString& name)
{
    const wchar_t* start = path ? path : L"";
    for (const wchar_t* p = start; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            start = p + 1;
    name.Assign(start);
}

void RemoveShortExtension(WideString& name)
{
    int dot = -1;
    for (int i = 0; i < name.Length(); ++i)
        if (name.At(i) == L'.')
            dot = i;
    if (dot >= 0 && dot >= name.Length() - 4)
        name.Truncate(dot);
}

int GetExecutableBaseName(WideString& name)
{
    WideString path;
    name.Clear();
    if (!GetExecutablePath(path))
        return 0;
    FileNameOf(path.Text(), name);
    RemoveShortExtension(name);
    return !name.IsEmpty();
}

int JoinPath(const wchar_t* directory, const wchar_t* name, WideString& path)
{
    if (!path.Assign(directory))
        return 0;
    if (!path.IsEmpty() && path.At(path.Length() - 1) != L'\\' && !path.Append(L'\\'))
        return 0;
    return path.Append(name);
}
