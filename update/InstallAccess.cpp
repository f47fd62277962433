#include "update/InstallAccess.h"

#include "services/WideString.h"

#include <wchar.h>

namespace {

// A file that goes when its handle does, whatever ends the process: the
// question leaves nothing behind.
int CanMakeFileIn(const wchar_t* directory)
{
    WideString name;
    DWORD seed = (GetTickCount() ^ (GetCurrentProcessId() << 4) ^ GetCurrentThreadId()) & 0xFFFF;
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!name.Format(L"%s%sqtm%04X.tmp", directory,
                         *directory && directory[wcslen(directory) - 1] == L'\\' ? L"" : L"\\",
                         (seed + attempt) & 0xFFFF))
            return 0;
        HANDLE file = CreateFileW(name.Text(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return 1;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return 0;
    }
    return 0;
}

// A rename needs the right to delete the file; the running program shares
// it, as a rename of it requires anyway.
int MayRename(const wchar_t* program)
{
    HANDLE file = CreateFileW(program, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    return 1;
}

int AskTheFolder(const wchar_t* directory, const wchar_t* program)
{
    return directory && program && CanMakeFileIn(directory) && MayRename(program);
}

InstallAccessProbe Probe = &AskTheFolder;

} // namespace

int MayInstallInto(const wchar_t* directory, const wchar_t* program)
{
    return Probe(directory, program);
}

InstallAccessProbe UseInstallAccessProbe(InstallAccessProbe probe)
{
    InstallAccessProbe previous = Probe;
    Probe = probe ? probe : &AskTheFolder;
    return previous;
}
