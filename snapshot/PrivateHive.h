#pragma once

#include <windows.h>

#include <string>

// A registry hive of the process's own, in a file in the temporary folder,
// removed when closed: a snapshot's registry keys are written there and
// opened from there, never in the user's registry.
//
// An application hive (RegLoadAppKeyW, Windows Vista and later) is private
// to the process. Where that is missing or hands out no usable key (Wine's
// is a stub that returns a made-up handle), the hive is loaded under
// HKEY_USERS from a file that RegSaveKeyW made of an empty key, which needs
// the backup and restore privileges (Windows grants them to administrators;
// Wine to every process).
class PrivateHive {
public:
    enum Kind { Closed, ApplicationHive, LoadedHive };

    PrivateHive() = default;
    ~PrivateHive() { Close(); }
    PrivateHive(const PrivateHive&) = delete;
    PrivateHive& operator=(const PrivateHive&) = delete;

    // 1 when a hive is open; otherwise 0 and the system's error code.
    [[nodiscard]] int Open(DWORD* error);
    // Unloads the hive and removes its files.
    void Close();

    HKEY Root() const { return root_; }
    Kind HowOpened() const { return kind_; }
    const std::wstring& File() const { return file_; }

private:
    int OpenApplicationHive(DWORD* error);
    int OpenLoadedHive(DWORD* error);
    void RemoveFiles();

    HKEY root_ = nullptr;
    Kind kind_ = Closed;
    std::wstring file_;
    std::wstring loadedName_; // below HKEY_USERS
};
