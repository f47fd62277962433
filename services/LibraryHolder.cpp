#include "services/LibraryHolder.h"

#include <wchar.h>

namespace {

// SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, restored after each load.
const UINT QuietErrorMode = 0x8001;

// LOAD_LIBRARY_SEARCH_SYSTEM32 is understood wherever AddDllDirectory
// exists (Windows 8, and Windows 7 and Vista with KB2533623); elsewhere
// LoadLibraryExW refuses the flag.
bool SystemSearchFlagsSupported()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

// "<system directory>\<name>"; 0 when it does not fit.
int SystemLibraryPath(const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    size_t nameLength = wcslen(name);
    if (!length || length + 1 + nameLength >= MAX_PATH)
        return 0;
    path[length] = L'\\';
    wmemcpy(path + length + 1, name, nameLength + 1);
    return 1;
}

HMODULE LoadFromSystemDirectory(const wchar_t* name)
{
    if (SystemSearchFlagsSupported())
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A module the process runs already is taken as it is: a full path
    // would bypass the side-by-side redirection that gave the process its
    // comctl32 6 and load the system folder's version 5 beside it.
    HMODULE running = nullptr;
    if (GetModuleHandleExW(0, name, &running))
        return running;
    wchar_t path[MAX_PATH];
    return SystemLibraryPath(name, path) ? LoadLibraryW(path) : nullptr;
}

// A name without a folder, drive or path separator.
bool IsBareName(const wchar_t* fileName)
{
    return !wcspbrk(fileName, L"\\/:");
}

} // namespace

int LibraryHolder::Adopt(HMODULE module)
{
    module_ = module;
    loaded_ = module_ != nullptr;
    return loaded_ ? 1 : 0;
}

int LibraryHolder::Load(const wchar_t* fileName)
{
    Release();
    if (!fileName || !*fileName)
        return 0;
    UINT previous = SetErrorMode(QuietErrorMode);
    HMODULE module = IsBareName(fileName) ? LoadFromSystemDirectory(fileName) : LoadLibraryW(fileName);
    SetErrorMode(previous);
    return Adopt(module);
}

int LibraryHolder::LoadKnownDll(const wchar_t* fileName)
{
    Release();
    if (!fileName || !*fileName)
        return 0;
    UINT previous = SetErrorMode(QuietErrorMode);
    HMODULE module = LoadLibraryW(fileName);
    SetErrorMode(previous);
    return Adopt(module);
}

FARPROC LibraryHolder::Lookup(const char* name) const
{
    if (!loaded_ || !module_ || !name)
        return nullptr;
    return GetProcAddress(module_, name);
}

void LibraryHolder::Release()
{
    if (module_)
        FreeLibrary(module_);
    module_ = nullptr;
    loaded_ = false;
}
