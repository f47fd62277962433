#include "report/DumpModuleNames.h"

#include <dbghelp.h>
#include <string.h>

namespace {

const ULONG32 DumpSignature = 0x504D444D; // "MDMP"

// A module name as the dump stores it: its length in bytes, then UTF-16
// characters and a terminator.
struct DumpString {
    static const int CharMax = 2 * MAX_PATH;
    ULONG32 length;
    wchar_t text[CharMax + 1];
};

int ReadAt(HANDLE file, ULONG64 offset, void* buffer, DWORD size)
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD read = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

int WriteAt(HANDLE file, ULONG64 offset, const void* buffer, DWORD size)
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD written = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           WriteFile(file, buffer, size, &written, nullptr) && written == size;
}

// Where the module list begins, 0 when the dump has none.
RVA ModuleListOf(HANDLE file)
{
    MINIDUMP_HEADER header;
    if (!ReadAt(file, 0, &header, sizeof header) || header.Signature != DumpSignature)
        return 0;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        if (!ReadAt(file, header.StreamDirectoryRva + (ULONG64)i * sizeof entry, &entry,
                    sizeof entry))
            return 0;
        if (entry.StreamType == ModuleListStream)
            return entry.Location.Rva;
    }
    return 0;
}

// Appends the masked name at the end of the file (kept on 4-byte bounds)
// and returns where it went, 0 when it could not be written.
RVA AppendName(HANDLE file, const wchar_t* name)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFF0)
        return 0;
    ULONG64 at = ((ULONG64)size.QuadPart + 3) & ~3ull;
    ULONG32 length = (ULONG32)(wcslen(name) * sizeof(wchar_t));
    if (!WriteAt(file, at, &length, sizeof length) ||
        !WriteAt(file, at + sizeof length, name, length + (DWORD)sizeof(wchar_t)))
        return 0;
    return (RVA)at;
}

int MaskModuleName(HANDLE file, ULONG64 moduleAt, const ProfileMask& mask)
{
    MINIDUMP_MODULE module;
    DumpString name = {};
    if (!ReadAt(file, moduleAt, &module, sizeof module) ||
        !ReadAt(file, module.ModuleNameRva, &name.length, sizeof name.length))
        return 0;
    if (name.length == 0 || name.length > DumpString::CharMax * sizeof(wchar_t) ||
        !ReadAt(file, module.ModuleNameRva + sizeof name.length, name.text, name.length))
        return 1;
    wchar_t masked[DumpString::CharMax + 1];
    if (!mask.Mask(name.text, masked, DumpString::CharMax + 1))
        return 1;
    RVA old = module.ModuleNameRva;
    module.ModuleNameRva = AppendName(file, masked);
    if (!module.ModuleNameRva || !WriteAt(file, moduleAt, &module, sizeof module))
        return 0;
    // The old characters go; their place stays, so nothing else moves.
    memset(name.text, 0, name.length);
    return WriteAt(file, old + sizeof name.length, name.text, name.length);
}

} // namespace

int MaskDumpModuleNames(HANDLE file, const ProfileMask& mask)
{
    RVA list = ModuleListOf(file);
    ULONG32 count = 0;
    if (!list || !ReadAt(file, list, &count, sizeof count))
        return 0;
    int result = 1;
    for (ULONG32 i = 0; i < count; ++i) {
        if (!MaskModuleName(file, list + sizeof count + (ULONG64)i * sizeof(MINIDUMP_MODULE), mask))
            result = 0;
    }
    return result;
}
