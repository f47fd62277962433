#include "update/InstallLock.h"

#include "services/FileHash.h"

int InstallLock::NameFor(const wchar_t* directory, WideString& name)
{
    WideString full;
    if (!full.Reserve(MAX_PATH + 1))
        return 0;
    DWORD length = GetFullPathNameW(directory, (DWORD)full.Capacity() - 1, full.Buffer(), nullptr);
    if (length == 0 || length >= (DWORD)full.Capacity() - 1)
        return 0;
    full.SetLength((int)length);
    while (full.Length() > 3 && full.At(full.Length() - 1) == L'\\')
        full.Truncate(full.Length() - 1);
    CharUpperBuffW(full.Buffer(), (DWORD)full.Length());
    BYTE digest[Sha256Bytes];
    WideString hex;
    // Mutex names take no backslash beyond their namespace.
    return Sha256(full.Text(), (DWORD)full.Length() * sizeof(wchar_t), digest) &&
           HexText(digest, Sha256Bytes, hex) && name.Format(L"Global\\Quillmere update %s", hex.Text());
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
