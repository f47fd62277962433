#include "snapshot/PrivateHive.h"

namespace {

typedef LSTATUS(WINAPI* LoadAppKeyProc)(const wchar_t* file, HKEY* key, REGSAM access, DWORD options,
                                        DWORD reserved);

unsigned NextHiveNumber()
{
    static unsigned number = 0;
    return ++number;
}

// Turns the backup and restore privileges on for as long as it lives, and
// back to what they were after.
class HivePrivileges {
public:
    HivePrivileges()
    {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_))
            token_ = nullptr;
        if (!token_)
            return;
        struct {
            DWORD count;
            LUID_AND_ATTRIBUTES privileges[2];
        } wanted = {2, {}};
        LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &wanted.privileges[0].Luid);
        LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted.privileges[1].Luid);
        wanted.privileges[0].Attributes = wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD size = sizeof previous_;
        adjusted_ = AdjustTokenPrivileges(token_, FALSE, (TOKEN_PRIVILEGES*)&wanted, sizeof previous_,
                                          (TOKEN_PRIVILEGES*)&previous_, &size) != 0;
    }
    ~HivePrivileges()
    {
        if (adjusted_)
            AdjustTokenPrivileges(token_, FALSE, (TOKEN_PRIVILEGES*)&previous_, 0, nullptr, nullptr);
        if (token_)
            CloseHandle(token_);
    }

private:
    HANDLE token_ = nullptr;
    bool adjusted_ = false;
    struct {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[2];
    } previous_ = {};
};

} // namespace

int PrivateHive::Open(DWORD* error)
{
    Close();
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) {
        *error = GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
        return 0;
    }
    unsigned number = NextHiveNumber();
    file_ = std::wstring(folder) + L"Quillmere snapshot " + std::to_wstring(GetCurrentProcessId()) +
            L"." + std::to_wstring(number) + L".hive";
    loadedName_ = L"Quillmere snapshot " + std::to_wstring(GetCurrentProcessId()) + L"." +
                  std::to_wstring(number);
    RemoveFiles();
    if (OpenApplicationHive(error) || OpenLoadedHive(error))
        return 1;
    RemoveFiles();
    return 0;
}

int PrivateHive::OpenApplicationHive(DWORD* error)
{
    LoadAppKeyProc load =
        (LoadAppKeyProc)GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegLoadAppKeyW");
    if (!load) {
        *error = ERROR_PROC_NOT_FOUND;
        return 0;
    }
    HKEY key = nullptr;
    LSTATUS status = load(file_.c_str(), &key, KEY_ALL_ACCESS, 0, 0);
    if (status != ERROR_SUCCESS) {
        *error = (DWORD)status;
        return 0;
    }
    // A key that cannot even be asked about is no key.
    DWORD subKeys = 0;
    status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        *error = (DWORD)status;
        return 0;
    }
    root_ = key;
    kind_ = ApplicationHive;
    return 1;
}

int PrivateHive::OpenLoadedHive(DWORD* error)
{
    HivePrivileges privileges;
    // The platform writes a hive file in its own format only by saving a
    // key: an empty volatile one, of the program's own, gone right after.
    std::wstring emptyKey = L"Software\\Tollbrook\\Quillmere\\" + loadedName_;
    HKEY empty = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, emptyKey.c_str(), 0, nullptr,
                                     REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &empty, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSaveKeyW(empty, file_.c_str(), nullptr);
        RegCloseKey(empty);
        RegDeleteKeyW(HKEY_CURRENT_USER, emptyKey.c_str());
    }
    if (status == ERROR_SUCCESS)
        status = RegLoadKeyW(HKEY_USERS, loadedName_.c_str(), file_.c_str());
    HKEY root = nullptr;
    if (status == ERROR_SUCCESS) {
        status = RegOpenKeyExW(HKEY_USERS, loadedName_.c_str(), 0, KEY_ALL_ACCESS, &root);
        if (status != ERROR_SUCCESS)
            RegUnLoadKeyW(HKEY_USERS, loadedName_.c_str());
    }
    if (status != ERROR_SUCCESS) {
        *error = (DWORD)status;
        return 0;
    }
    root_ = root;
    kind_ = LoadedHive;
    return 1;
}

void PrivateHive::Close()
{
    if (kind_ == Closed)
        return;
    RegCloseKey(root_);
    root_ = nullptr;
    if (kind_ == LoadedHive) {
        HivePrivileges privileges;
        RegUnLoadKeyW(HKEY_USERS, loadedName_.c_str());
    }
    kind_ = Closed;
    RemoveFiles();
}

void PrivateHive::RemoveFiles()
{
    // An application hive keeps transaction logs beside its file.
    for (const wchar_t* suffix : {L"", L".LOG", L".LOG1", L".LOG2", L".blf"})
        DeleteFileW((file_ + suffix).c_str());
}
