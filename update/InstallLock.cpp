#include "update/InstallLock.h"

int InstallLock::NameFor(const wchar_t* directory, WideString& name)
{
    name.Clear();
    // Opening a folder needs backup semantics; no access to its contents is
    // asked, so a folder being installed into opens as well.
    HANDLE folder = CreateFileW(directory, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION identity = {};
    BOOL known = GetFileInformationByHandle(folder, &identity);
    CloseHandle(folder);
    if (!known || !(identity.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    // Mutex names take no backslash beyond their namespace.
    return name.Format(L"Global\\Quillmere update %08X-%08X%08X", identity.dwVolumeSerialNumber,
                       identity.nFileIndexHigh, identity.nFileIndexLow);
}

int InstallLock::TryAcquire(const wchar_t* directory)
{
    Release();
    WideString name;
    if (!NameFor(directory, name))
        return 0;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.Text());
    if (!mutex)
        return 0;
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return 0;
    }
    mutex_ = mutex;
    return 1;
}

void InstallLock::Release()
{
    if (!mutex_)
        return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
    mutex_ = nullptr;
}
