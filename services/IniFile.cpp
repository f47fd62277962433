#include "services/IniFile.h"
#include "services/ModulePath.h"
#include "services/WindowsVersion.h"

#include <shlobj.h>
#include <string.h>

namespace {

int LocalAppDataDirectory(WideString& directory)
{
    directory.Clear();
    if (!directory.Reserve(MAX_PATH + 1) ||
        FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, directory.Buffer())))
        return 0;
    directory.Recompute();
    return !directory.IsEmpty();
}

int CurrentDirectoryOf(WideString& directory)
{
    directory.Clear();
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (!needed || !directory.Reserve((int)needed + 1))
        return 0;
    DWORD length = GetCurrentDirectoryW((DWORD)directory.Capacity() - 1, directory.Buffer());
    if (!length || length >= (DWORD)directory.Capacity())
        return 0;
    directory.SetLength((int)length);
    return 1;
}

} // namespace

int IniFile::PrepareForWriting() const
{
    DWORD attributes = GetFileAttributesW(path_.Text());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        // Windows refuses to write a read-only file; so do we, everywhere.
        return !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
    // The profile functions write a new file in the ANSI code page, which
    // loses every character outside it; a file that begins with a UTF-16
    // byte-order mark is kept in UTF-16.
    HANDLE file = CreateFileW(path_.Text(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS;
    static const BYTE mark[2] = {0xFF, 0xFE};
    DWORD written = 0;
    BOOL ok = WriteFile(file, mark, sizeof(mark), &written, nullptr) && written == sizeof(mark);
    CloseHandle(file);
    if (!ok)
        DeleteFileW(path_.Text());
    return ok ? 1 : 0;
}

int IniFile::SetLocation(const wchar_t* name, int location)
{
    path_.Clear();
    if (!name || !*name)
        return 0;
    WideString directory;
    int found;
    switch (location) {
    case AsGiven:
        return path_.Assign(name);
    case LocalAppDataOnVista:
        found = IsWindowsAtLeast(WindowsVista, 0) ? LocalAppDataDirectory(directory)
                                                  : GetExecutableDirectory(directory);
        break;
    case ProgramDirectory:
        found = GetExecutableDirectory(directory);
        break;
    case CurrentDirectory:
        found = CurrentDirectoryOf(directory);
        break;
    case LocalAppData:
        found = LocalAppDataDirectory(directory);
        break;
    default:
        found = 0;
        break;
    }
    if (!found || !JoinPath(directory.Text(), name, path_)) {
        path_.Clear();
        return 0;
    }
    return 1;
}

int IniFile::ReadText(const wchar_t* section, const wchar_t* key, const wchar_t* fallback, WideString& text)
{
    lastReads_ = 0;
    if (!fallback)
        fallback = L"";
    // Without a path the functions would read win.ini.
    if (path_.IsEmpty() || !buffer_.Reserve(WideString::InitialCapacity)) {
        text.Assign(fallback);
        return 1;
    }
    for (;;) {
        ++lastReads_;
        DWORD size = (DWORD)buffer_.Capacity() - 1;
        DWORD length = GetPrivateProfileStringW(section, key, fallback, buffer_.Buffer(), size, path_.Text());
        buffer_.SetLength((int)length);
        // A value that filled the buffer may have been cut: read it again
        // with twice the room.
        if (length + 1 != size || lastReads_ == MaximumReads || !buffer_.Reserve(buffer_.Capacity() * 2))
            break;
    }
    text.Assign(buffer_.Text(), buffer_.Length());
    return 1;
}

int IniFile::WriteText(const wchar_t* section, const wchar_t* key, const wchar_t* text)
{
    if (path_.IsEmpty() || !key || !*key || !PrepareForWriting())
        return 0;
    return WritePrivateProfileStringW(section, key, text ? text : L"", path_.Text()) ? 1 : 0;
}

int IniFile::ReadBlock(const wchar_t* section, const wchar_t* key, void* buffer, UINT size)
{
    if (!buffer)
        return 0;
    memset(buffer, 0, size);
    if (path_.IsEmpty() || !key || !*key)
        return 0;
    if (GetPrivateProfileStructW(section, key, buffer, size, path_.Text()))
        return 1;
    memset(buffer, 0, size);
    return 0;
}

int IniFile::WriteBlock(const wchar_t* section, const wchar_t* key, const void* data, UINT size)
{
    if (path_.IsEmpty() || !key || !*key || !data || !PrepareForWriting())
        return 0;
    return WritePrivateProfileStructW(section, key, (void*)data, size, path_.Text()) ? 1 : 0;
}

void IniFile::FreeBuffers()
{
    WideString empty;
    buffer_ = static_cast<WideString&&>(empty);
    lastReads_ = 0;
}
