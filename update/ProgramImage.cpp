#include "update/ProgramImage.h"

namespace {

// The DOS header's e_lfanew must point inside the first block read; real
// images keep their PE header well within it.
const DWORD HeaderBlock = 4096;

WORD ReadWord(const BYTE* bytes)
{
    return (WORD)(bytes[0] | (bytes[1] << 8));
}

DWORD ReadDword(const BYTE* bytes)
{
    return (DWORD)bytes[0] | ((DWORD)bytes[1] << 8) | ((DWORD)bytes[2] << 16) |
           ((DWORD)bytes[3] << 24);
}

} // namespace

WORD ThisProcessorMachine()
{
#if defined(__x86_64__) || defined(_M_X64)
    return IMAGE_FILE_MACHINE_AMD64;
#elif defined(__aarch64__) || defined(_M_ARM64)
    return IMAGE_FILE_MACHINE_ARM64;
#else
    return IMAGE_FILE_MACHINE_I386;
#endif
}

int ImageMachine(const wchar_t* path, WORD* machine)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BYTE header[HeaderBlock];
    DWORD read = 0;
    BOOL ok = ReadFile(file, header, sizeof header, &read, nullptr);
    CloseHandle(file);
    if (!ok || read < 0x40 || header[0] != 'M' || header[1] != 'Z')
        return 0;
    DWORD pe = ReadDword(header + 0x3C);
    if (pe > read - 6 || ReadDword(header + pe) != IMAGE_NT_SIGNATURE)
        return 0;
    *machine = ReadWord(header + pe + 4);
    return 1;
}

int FitsThisProcessor(const wchar_t* path)
{
    WORD machine = 0;
    return !ImageMachine(path, &machine) || machine == ThisProcessorMachine();
}
