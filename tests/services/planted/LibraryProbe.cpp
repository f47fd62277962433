// Loads a library the way the command line says and tells through its exit
// code which module it got: 0 none, 1 the system's, 2 the planted one.
//   library_probe.exe holder dbghelp.dll   (LibraryHolder::Load)
//   library_probe.exe bare dbghelp.dll     (LoadLibraryW, the search order)
#include <windows.h>

#include <string.h>

#include "services/LibraryHolder.h"

int main(int argc, char** argv)
{
    wchar_t name[MAX_PATH];
    if (argc < 3 || !MultiByteToWideChar(CP_ACP, 0, argv[2], -1, name, MAX_PATH))
        return 3;
    LibraryHolder holder;
    HMODULE module = nullptr;
    if (strcmp(argv[1], "holder") == 0)
        module = holder.Load(name) ? holder.Handle() : nullptr;
    else
        module = LoadLibraryW(name);
    if (!module)
        return 0;
    return GetProcAddress(module, "QuillmerePlanted") ? 2 : 1;
}
