/* A module that only carries resources for the problem report tests. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    (void)instance, (void)reason, (void)reserved;
    return TRUE;
}
