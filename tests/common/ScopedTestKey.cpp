#include "ScopedTestKey.h"

#include <shlwapi.h>

int DeleteRegistryTree(HKEY root, const wchar_t* path)
{
    SHDeleteKeyW(root, path);
    HKEY probe = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        return 0;
    }
    return 1;
}

ScopedTestKey::ScopedTestKey(const wchar_t* name)
{
    path_.Format(L"Software\\Tollbrook\\QuillmereTests\\%s_%u", name, GetCurrentProcessId());
    DeleteRegistryTree(HKEY_CURRENT_USER, path_.Text());
    RegCreateKeyExW(HKEY_CURRENT_USER, path_.Text(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                    nullptr);
}

ScopedTestKey::~ScopedTestKey()
{
    if (key_)
        RegCloseKey(key_);
    DeleteRegistryTree(HKEY_CURRENT_USER, path_.Text());
    // Leave no empty parent behind when this was the last test key.
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Tollbrook\\QuillmereTests");
}

WideString ScopedTestKey::SubPath(const wchar_t* child) const
{
    WideString path;
    path.Format(L"%s\\%s", path_.Text(), child);
    return path;
}
