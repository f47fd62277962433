#include "TempDirectory.h"
#include "FileBytes.h"

TempDirectory::TempDirectory(const wchar_t* name)
{
    wchar_t base[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH, base);
    if (length && base[length - 1] == L'\\')
        base[length - 1] = 0;
    path_.Format(L"%s\\QuillmereTests_%s_%u", base, name, GetCurrentProcessId());
    DeleteDirectoryTree(path_.Text());
    CreateDirectoryW(path_.Text(), nullptr);
}

TempDirectory::~TempDirectory()
{
    DeleteDirectoryTree(path_.Text());
}

WideString TempDirectory::File(const wchar_t* name) const
{
    WideString file;
    file.Format(L"%s\\%s", path_.Text(), name);
    return file;
}

bool TempDirectory::Write(const wchar_t* name, const std::string& bytes) const
{
    return WriteFileBytes(File(name).Text(), bytes);
}

std::string TempDirectory::Read(const wchar_t* name) const
{
    return ReadFileBytes(File(name).Text());
}

void DeleteDirectoryTree(const wchar_t* path)
{
    WideString pattern;
    pattern.Format(L"%s\\*", path);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.Text(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L".."))
                continue;
            WideString child;
            child.Format(L"%s\\%s", path, found.cFileName);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteDirectoryTree(child.Text());
            } else {
                SetFileAttributesW(child.Text(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.Text());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path);
}
