#include "FileBytes.h"

bool ReadWholeFile(const wchar_t* path, std::string& bytes)
{
    bytes.clear();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        bytes.append(buffer, got);
    CloseHandle(file);
    return true;
}

std::string ReadFileBytes(const wchar_t* path)
{
    std::string bytes;
    ReadWholeFile(path, bytes);
    return bytes;
}

bool WriteFileBytes(const wchar_t* path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() ||
              (WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) &&
               written == bytes.size());
    CloseHandle(file);
    return ok;
}
