#include "services/RegistryKey.h"

#include <string.h>

namespace {

bool RunsUnderWow64()
{
    typedef BOOL(WINAPI * IsWow64ProcessProc)(HANDLE, BOOL*);
    static int answer = -1;
    if (answer < 0) {
        answer = 0;
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        IsWow64ProcessProc isWow64 =
            kernel ? (IsWow64ProcessProc)GetProcAddress(kernel, "IsWow64Process") : nullptr;
        BOOL wow64 = FALSE;
        if (isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64)
            answer = 1;
    }
    return answer == 1;
}

} // namespace

REGSAM RegistryKey::EffectiveView(REGSAM view)
{
    view &= (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    return RunsUnderWow64() ? view : 0;
}

int RegistryKey::OpenRead(HKEY root, const wchar_t* path, REGSAM view)
{
    Close();
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | EffectiveView(view), &key) != ERROR_SUCCESS)
        return 0;
    key_ = key;
    return 1;
}

int RegistryKey::CreateWrite(HKEY root, const wchar_t* path, REGSAM view)
{
    Close();
    HKEY key = nullptr;
    REGSAM effective = EffectiveView(view);
    LONG status;
    if (!effective)
        status = RegCreateKeyW(root, path, &key);
    else
        status = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS | effective, nullptr,
                                 &key, nullptr);
    if (status != ERROR_SUCCESS)
        return 0;
    key_ = key;
    return 1;
}

void RegistryKey::Close()
{
    if (key_)
        RegCloseKey(key_);
    key_ = nullptr;
}

int RegistryKey::ReadNumber(const wchar_t* name, unsigned long long* value) const
{
    if (!key_)
        return 0;
    unsigned long long number = 0;
    DWORD size = sizeof(number);
    if (RegQueryValueExW(key_, name, nullptr, nullptr, (BYTE*)&number, &size) != ERROR_SUCCESS)
        return 0;
    if (value)
        *value = number;
    return 1;
}

int RegistryKey::ReadText(const wchar_t* name, WideString& text) const
{
    text.Clear();
    if (!key_)
        return 0;
    // A string that gave its buffer away has none, and a query without a
    // buffer succeeds with only the size: the terminator below would then
    // be written through a null pointer.
    if (!text.Buffer() && !text.Reserve(WideString::InitialCapacity))
        return 0;
    DWORD type = 0;
    DWORD size = (DWORD)(text.Capacity() * sizeof(wchar_t));
    LONG status = RegQueryValueExW(key_, name, nullptr, &type, (BYTE*)text.Buffer(), &size);
    if (status != ERROR_SUCCESS) {
        // One retry with room for what the value needs.
        if (!text.Reserve((int)(size / 2 + 1)))
            return 0;
        size = (DWORD)(text.Capacity() * sizeof(wchar_t));
        if (RegQueryValueExW(key_, name, nullptr, &type, (BYTE*)text.Buffer(), &size) !=
            ERROR_SUCCESS) {
            text.Clear();
            return 0;
        }
    }
    int characters = (int)(size / 2);
    if (characters <= 0) {
        text.Clear();
        return 1;
    }
    wchar_t* buffer = text.Buffer();
    buffer[characters - 1] = 0;
    if (type == REG_MULTI_SZ)
        for (int i = 0; i < characters - 1; ++i)
            if (buffer[i] == 0)
                buffer[i] = 1;
    text.SetLength(characters - 1);
    text.Recompute();
    return 1;
}

int RegistryKey::ReadText(const wchar_t* name, wchar_t* buffer, int characters) const
{
    if (!buffer || characters <= 0)
        return 0;
    buffer[0] = 0;
    if (!key_)
        return 0;
    DWORD size = (DWORD)(characters * sizeof(wchar_t));
    if (RegQueryValueExW(key_, name, nullptr, nullptr, (BYTE*)buffer, &size) != ERROR_SUCCESS) {
        buffer[0] = 0;
        return 0;
    }
    int read = (int)(size / 2);
    buffer[read > 0 ? (read < characters ? read : characters) - 1 : 0] = 0;
    return 1;
}

int RegistryKey::ReadBlock(const wchar_t* name, void* buffer, DWORD size) const
{
    if (!buffer)
        return 0;
    memset(buffer, 0, size);
    if (!key_)
        return 0;
    DWORD stored = 0;
    if (RegQueryValueExW(key_, name, nullptr, nullptr, nullptr, &stored) != ERROR_SUCCESS ||
        stored != size)
        return 0;
    DWORD read = size;
    if (RegQueryValueExW(key_, name, nullptr, nullptr, (BYTE*)buffer, &read) != ERROR_SUCCESS ||
        read != size) {
        memset(buffer, 0, size);
        return 0;
    }
    return 1;
}

int RegistryKey::WriteNumber(const wchar_t* name, unsigned long long value) const
{
    if (!key_)
        return 0;
    if (RegSetValueExW(key_, name, 0, REG_QWORD, (const BYTE*)&value, sizeof(value)) ==
        ERROR_SUCCESS)
        return 1;
    return WriteDword(name, (DWORD)value);
}

int RegistryKey::WriteDword(const wchar_t* name, DWORD value) const
{
    return WriteBlock(name, &value, sizeof(value), REG_DWORD);
}

int RegistryKey::WriteText(const wchar_t* name, const wchar_t* text) const
{
    if (!text)
        text = L"";
    return WriteBlock(name, text, (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)), REG_SZ);
}

int RegistryKey::WriteBlock(const wchar_t* name, const void* data, DWORD size, DWORD type) const
{
    if (!key_)
        return 0;
    return RegSetValueExW(key_, name, 0, type, (const BYTE*)data, size) == ERROR_SUCCESS;
}

int RegistryKey::EnumerateValues(HKEY key, const wchar_t* subKey, ValueCallback callback,
                                 DWORD* type, DWORD dataSize, BYTE* data, void* context)
{
    WideString name;
    if (!name.Reserve(780))
        return 0;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(key, subKey, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return 0;
    DWORD localType = 0;
    if (!type)
        type = &localType;
    int result = 1;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = 779;
        DWORD dataLength = dataSize;
        LONG status = RegEnumValueW(opened, index, name.Buffer(), &nameLength, nullptr, type, data,
                                    &dataLength);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        name.SetLength((int)nameLength);
        result = callback ? callback(name.Text(), *type, dataLength, data, context) : 1;
        if (!result)
            break;
    }
    RegCloseKey(opened);
    return result;
}
