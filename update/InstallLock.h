#pragma once

#include <windows.h>

#include "services/WideString.h"

// One installation at a time per program folder, across the processes and
// sessions of the machine: a named mutex whose name comes from the folder's
// identity on its volume (the volume's serial number and the folder's file
// index), so that every path to the folder (another letter case, a short
// name, a "\\?\" prefix, a junction or another drive letter for the same
// place) takes the same lock. A mutex belongs to the thread that took it,
// so the same thread takes and releases it; one whose holder died counts
// as free (the journal of what that holder did is then for the taker to
// recover).
class InstallLock {
public:
    InstallLock() = default;
    ~InstallLock() { Release(); }
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

    // Takes the lock of `directory` without waiting. 1 when it is now held;
    // 0 when another holds it, the folder cannot be opened, or another
    // user's mutex of the name cannot even be opened.
    [[nodiscard]] int TryAcquire(const wchar_t* directory);
    void Release();
    bool Held() const { return mutex_ != nullptr; }

    // The mutex name for the folder `directory`; 0 when it cannot be opened.
    [[nodiscard]] static int NameFor(const wchar_t* directory, WideString& name);

private:
    HANDLE mutex_ = nullptr;
};
