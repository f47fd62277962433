#include "ui/ModuleResources.h"

void ResourceLanguageOrder(LANGID language, LANGID (&order)[ResourceLanguageCount])
{
    order[0] = language;
    order[1] = (LANGID)((language & 0x3FF) | 0x400); // primary language, SUBLANG_DEFAULT
    order[2] = (LANGID)(language & 0x3FF);           // primary language alone
    order[3] = 1033;                                 // English (United States)
    order[4] = 2057;                                 // English (United Kingdom)
    order[5] = 9;                                    // English, neutral
    order[6] = 1031;                                 // German (Germany)
}

const void* FindModuleResource(HMODULE module, const wchar_t* type, const wchar_t* name,
                               LANGID language, DWORD* size)
{
    if (size)
        *size = 0;
    if (!module)
        module = GetModuleHandleW(nullptr);
    LANGID order[ResourceLanguageCount];
    ResourceLanguageOrder(language, order);
    HRSRC found = nullptr;
    for (int i = 0; i < ResourceLanguageCount && !found; ++i)
        found = FindResourceExW(module, type, name, order[i]);
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    DWORD bytes = SizeofResource(module, found);
    if (!loaded || bytes == 0)
        return nullptr;
    const void* data = LockResource(loaded);
    if (data && size)
        *size = bytes;
    return data;
}

int ModuleFile(HMODULE module, WideString& path)
{
    path.Clear();
    if (!path.Reserve(MAX_PATH + 1))
        return 0;
    DWORD capacity = MAX_PATH;
    DWORD n = GetModuleFileNameW(module, path.Buffer(), capacity);
    // n == capacity means the path was cut (and, on older systems, left
    // without its terminator).
    if (n == 0 || n >= capacity) {
        path.Clear();
        return 0;
    }
    path.SetLength((int)n);
    return 1;
}

int ModuleFolder(HMODULE module, WideString& folder)
{
    if (!ModuleFile(module, folder))
        return 0;
    int cut = -1;
    for (int i = 0; i < folder.Length(); ++i) {
        if (folder.At(i) == L'\\')
            cut = i;
    }
    if (cut < 0) {
        folder.Clear();
        return 0;
    }
    folder.SetLength(cut + 1);
    return 1;
}
