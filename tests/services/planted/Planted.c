/* Stands in for a DLL that someone put beside a program under a system
   library's name. */
#include <windows.h>

__declspec(dllexport) int QuillmerePlanted(void)
{
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    (void)instance, (void)reason, (void)reserved;
    return TRUE;
}
