#include "common/ScratchFile.h"
#include "common/FileBytes.h"

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
    return ReadFileBytes(path_.c_str());
}

bool ScratchFile::Write(const std::string& bytes) const
{
    return WriteFileBytes(path_.c_str(), bytes);
}
