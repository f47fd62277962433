#include "ui/CommonControlsVersion.h"

#include <shlwapi.h>

#include "services/LibraryHolder.h"

namespace {

DWORD ModuleVersion(HMODULE module)
{
    typedef HRESULT (CALLBACK* DllGetVersionFunction)(DLLVERSIONINFO* info);
    DllGetVersionFunction getVersion =
        module ? (DllGetVersionFunction)GetProcAddress(module, "DllGetVersion") : nullptr;
    if (!getVersion)
        return 0;
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    if (FAILED(getVersion(&info)))
        return 0;
    return (info.dwMajorVersion & 0xFFFF) << 16 | (info.dwMinorVersion & 0xFFFF);
}

DWORD LoadedLibraryVersion()
{
    LibraryHolder library;
    if (!library.Load(L"comctl32.dll"))
        return 0;
    return ModuleVersion(library.Handle());
}

} // namespace

DWORD CommonControlsVersion(HWND control)
{
    if (control) {
        // The module that registered the control's window class.
        DWORD version = ModuleVersion((HMODULE)GetClassLongPtrW(control, GCLP_HMODULE));
        if (version)
            return version;
    }
    static DWORD version = LoadedLibraryVersion();
    return version;
}
