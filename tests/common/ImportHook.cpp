#include "ImportHook.h"

#include <string.h>

namespace {

template <class T>
T* At(BYTE* base, DWORD offset)
{
    return reinterpret_cast<T*>(base + offset);
}

// The import address slot of `function` from `library` in the executable.
const void** FindSlot(const char* library, const char* function)
{
    BYTE* base = (BYTE*)GetModuleHandleW(nullptr);
    IMAGE_NT_HEADERS* headers = At<IMAGE_NT_HEADERS>(base, (DWORD)((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return nullptr;
    for (IMAGE_IMPORT_DESCRIPTOR* entry = At<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress);
         entry->Name; ++entry) {
        if (_stricmp(At<char>(base, entry->Name), library) != 0 || !entry->OriginalFirstThunk)
            continue;
        IMAGE_THUNK_DATA* names = At<IMAGE_THUNK_DATA>(base, entry->OriginalFirstThunk);
        IMAGE_THUNK_DATA* slots = At<IMAGE_THUNK_DATA>(base, entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME* name = At<IMAGE_IMPORT_BY_NAME>(base, (DWORD)names->u1.AddressOfData);
            if (strcmp((const char*)name->Name, function) == 0)
                return (const void**)&slots->u1.Function;
        }
    }
    return nullptr;
}

} // namespace

void ImportHook::Write(const void** slot, const void* value)
{
    DWORD old = 0;
    if (VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old)) {
        *slot = value;
        VirtualProtect(slot, sizeof(*slot), old, &old);
    }
}

ImportHook::ImportHook(const char* library, const char* function, const void* replacement)
{
    slot_ = FindSlot(library, function);
    if (!slot_)
        return;
    original_ = *slot_;
    Write(slot_, replacement);
}

ImportHook::~ImportHook()
{
    if (slot_)
        Write(slot_, original_);
}
