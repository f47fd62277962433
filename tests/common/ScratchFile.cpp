#include "common/ScratchFile.h"

namespace {

LONG counter = 0;

} // namespace

ScratchFile::ScratchFile(const wchar_t* suffix)
{
    wchar_t directory[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, directory);
    if (n == 0 || n >= MAX_PATH)
        lstrcpyW(directory, L".\\");
    path_ = std::wstring(directory) + L"quill_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(InterlockedIncrement(&counter)) + suffix;
    DeleteFileW(path_.c_str());
}

ScratchFile::~ScratchFile()
{
    DeleteFileW(path_.c_str());
}

bool ScratchFile::Exists() const
{
    return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ScratchFile::Read() const
{
    std::string bytes;
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

bool ScratchFile::Write(const std::string& bytes) const
{
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}
