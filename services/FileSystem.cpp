#include "services/FileSystem.h"

#include "services/ModulePath.h"

bool PathExists(const wchar_t* path)
{
    return path && *path && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const wchar_t* path)
{
    DWORD attributes = path && *path ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int RemoveFile(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path) ? 1 : 0;
}

int WriteAll(HANDLE file, const void* bytes, DWORD count)
{
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

int CreateTemporaryBeside(const wchar_t* path, WideString& temporary)
{
    temporary.Clear();
    WideString directory;
    DirectoryOf(path, directory);
    if (directory.IsEmpty() && !directory.Assign(L"."))
        return 0;
    if (!temporary.Reserve(MAX_PATH + 1))
        return 0;
    if (!GetTempFileNameW(directory.Text(), L"qtm", 0, temporary.Buffer())) {
        temporary.Clear();
        return 0;
    }
    temporary.Recompute();
    return 1;
}
