#include "ui/CommonControlsVersion.h"

#include <shlwapi.h>

#include "services/LibraryHolder.h"

namespace {

DWORD ReadCommonControlsVersion()
{
    LibraryHolder library;
    if (!library.Load(L"comctl32.dll"))
        return 0;
    typedef HRESULT (CALLBACK* DllGetVersionFunction)(DLLVERSIONINFO* info);
    DllGetVersionFunction getVersion = (DllGetVersionFunction)library.Lookup("DllGetVersion");
    if (!getVersion)
        return 0;
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    if (FAILED(getVersion(&info)))
        return 0;
    return (info.dwMajorVersion & 0xFFFF) << 16 | (info.dwMinorVersion & 0xFFFF);
}

} // namespace

DWORD CommonControlsVersion()
{
    static DWORD version = ReadCommonControlsVersion();
    return version;
}
