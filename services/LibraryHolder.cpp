#include "services/LibraryHolder.h"

int LibraryHolder::Load(const wchar_t* fileName)
{
    Release();
    if (!fileName || !*fileName)
        return 0;
    // SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, restored either way.
    UINT previous = SetErrorMode(0x8001);
    module_ = LoadLibraryW(fileName);
    SetErrorMode(previous);
    loaded_ = module_ != nullptr;
    return loaded_ ? 1 : 0;
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
