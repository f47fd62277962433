#include "snapshot/ThisComputer.h"

#include "services/RegistryKey.h"
#include "services/WindowsVersion.h"
#include "snapshot/ValueForm.h"
#include "ui/VersionText.h"

namespace {

const wchar_t* ArchitectureName(WORD architecture)
{
    switch (architecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return L"x64";
    case PROCESSOR_ARCHITECTURE_INTEL:
        return L"x86";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return L"ARM64";
    case PROCESSOR_ARCHITECTURE_ARM:
        return L"ARM";
    default:
        return L"";
    }
}

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

} // namespace

std::wstring ThisComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 256] = {};
    DWORD size = sizeof name / sizeof name[0];
    if (GetComputerNameExW(ComputerNameDnsHostname, name, &size) && name[0])
        return name;
    size = sizeof name / sizeof name[0];
    if (GetComputerNameW(name, &size))
        return name;
    return std::wstring();
}

SnapshotHeader ThisComputerHeader()
{
    SnapshotHeader header;
    header.computer = ThisComputerName();
    header.windows = DescribeWindows(GetWindowsVersion()).Text();
    WindowsFacts facts;
    ReadWindowsFacts(&facts, false);
    header.windowsVersion = std::to_wstring(facts.major) + L"." + std::to_wstring(facts.minor);
    header.windowsBuild = GetWindowsBuildNumber();
    header.windowsRevision = GetWindowsUpdateRevision();
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    header.architecture = ArchitectureName(system.wProcessorArchitecture);
    header.processorCount = system.dwNumberOfProcessors;
    RegistryKey processor;
    WideString name;
    if (processor.OpenRead(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0") &&
        processor.ReadText(L"ProcessorNameString", name))
        header.processor = name.Text();
    SYSTEMTIME now;
    GetSystemTime(&now);
    header.taken = Widen(SecondString(now));
    WideString version;
    ProgramVersionText(nullptr, version);
    header.quillmere = version.Text();
    return header;
}
