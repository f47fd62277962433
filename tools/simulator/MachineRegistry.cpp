#include "MachineRegistry.h"

#include <stdio.h>
#include <vector>

namespace MachineRegistry {

const wchar_t* const RootPath = L"Software\\Tollbrook\\QuillmereSimulator";

std::wstring MachineTreePath(HMODULE module, unsigned loadNumber)
{
    wchar_t name[64];
    // The whole module address: two copies of the simulator in one process
    // may differ only in its high half on x64.
    _snwprintf(name, 64, L"\\%lu.%0*I64X.%u", GetCurrentProcessId(), (int)(2 * sizeof(ULONG_PTR)),
               (unsigned long long)(ULONG_PTR)module, loadNumber);
    name[63] = 0;
    return std::wstring(RootPath) + name;
}

static bool ProcessHasEnded(DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return GetLastError() != ERROR_ACCESS_DENIED;
    bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void RemoveStaleTrees()
{
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RootPath, 0, KEY_READ, &root) != ERROR_SUCCESS)
        return;
    std::vector<std::wstring> stale;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        LONG result = RegEnumKeyExW(root, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        DWORD processId = wcstoul(name, nullptr, 10);
        if (processId != GetCurrentProcessId() && ProcessHasEnded(processId))
            stale.push_back(name);
    }
    RegCloseKey(root);
    for (const std::wstring& name : stale)
        DeleteTree(std::wstring(RootPath) + L"\\" + name);
}

static int WriteKey(const std::wstring& path, const RegistryKeyContent& content)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return 0;
    int written = 1;
    std::vector<BYTE> buffer;
    for (const RegistryValue& value : content.values) {
        const TypedData& data = value.data;
        // The registry adds a terminator to a string value whose data is not
        // terminated but is followed by a NUL in memory; a sentinel after the
        // data keeps hostile values exactly as the file gives them.
        buffer.assign(data.bytes.begin(), data.bytes.end());
        buffer.push_back(0xFF);
        buffer.push_back(0xFF);
        if (RegSetValueExW(key, value.name.c_str(), 0, data.type, buffer.data(), data.Size()) != ERROR_SUCCESS)
            written = 0;
    }
    RegCloseKey(key);
    return written;
}

int WriteTree(const std::wstring& path, const RegistryTree& tree)
{
    if (!tree.present)
        return 0;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return 0;
    RegCloseKey(key);
    int written = 1;
    for (const RegistryKeyContent& content : tree.keys) {
        std::wstring keyPath = content.subPath.empty() ? path : path + L"\\" + content.subPath;
        if (!WriteKey(keyPath, content)) {
            written = 0;
            std::wstring message = L"QuillmereSimulator: could not write every value of HKCU\\" + keyPath + L"\n";
            OutputDebugStringW(message.c_str());
        }
    }
    return written;
}

void DeleteTree(const std::wstring& path)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
}

void LabelTree(const std::wstring& path, const std::wstring& machineFile)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"MachineFile", 0, REG_SZ, (const BYTE*)machineFile.c_str(),
                   (DWORD)((machineFile.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

HKEY Open(const std::wstring& path, REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, access, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

} // namespace MachineRegistry
