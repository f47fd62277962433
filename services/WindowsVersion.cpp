#include "services/WindowsVersion.h"
#include "services/RegistryKey.h"

#include <wchar.h>

namespace {

const unsigned long long HighHalf = 32;

WindowsVersion High(unsigned bits)
{
    return (WindowsVersion)bits << HighHalf;
}

bool Contains(const WideString& text, const wchar_t* what)
{
    return text.Find(what) >= 0;
}

// The second character of a 9x service text tells the OEM releases apart
// (" B", " C" for Windows 95 OSR2, " A" for Windows 98 SE).
wchar_t ServiceLetter(const WindowsFacts& facts)
{
    return facts.service.At(1);
}

unsigned Low9x(const WindowsFacts& facts)
{
    if (facts.major != 4)
        return 0x2;
    wchar_t letter = ServiceLetter(facts);
    switch (facts.minor) {
    case 0:
        return (letter == L'B' || letter == L'C') ? 0x402 : 0x12;
    case 10:
        return letter == L'A' ? 0x802 : 0x22;
    case 90:
        return 0x42;
    default:
        return 0x2;
    }
}

unsigned LowNt(const WindowsFacts& facts)
{
    struct Row {
        DWORD major, minor;
        unsigned value;
    };
    static const Row rows[] = {
        {3, 51, 0x200001}, {4, 0, 0x81},    {5, 0, 0x101},    {5, 1, 0x201},
        {5, 2, 0x1001},    {6, 0, 0x2001},  {6, 1, 0x4001},   {6, 2, 0x40001},
        {6, 3, 0x80001},
    };
    if (facts.major == 10 && facts.minor == 0)
        return facts.build >= 22000 ? 0x400001 : 0x100001;
    for (const Row& row : rows)
        if (row.major == facts.major && row.minor == facts.minor)
            return row.value;
    return 0x1;
}

unsigned ServicePackBits(const WindowsFacts& facts)
{
    unsigned bits = 0;
    if (Contains(facts.service, L"Service Pack 1"))
        bits |= ServicePack1;
    if (Contains(facts.service, L"Service Pack 2"))
        bits |= ServicePack2;
    if (Contains(facts.service, L"Service Pack 3"))
        bits |= ServicePack3;
    return bits;
}

unsigned SuiteBits(const WindowsFacts& facts)
{
    unsigned bits = 0;
    WORD suite = facts.suiteMask;
    if (suite & VER_SUITE_DATACENTER)
        bits |= 0x80000;
    if (suite & VER_SUITE_ENTERPRISE)
        bits |= 0x100000;
    if (suite & VER_SUITE_EMBEDDEDNT)
        bits |= 0x200000;
    if (suite & VER_SUITE_PERSONAL)
        bits |= 0x400000;
    if (suite & VER_SUITE_STORAGE_SERVER)
        bits |= 0x800000;
    // Single-user terminal services is what every workstation with remote
    // desktop has; only the multi-user kind is worth naming.
    if ((suite & VER_SUITE_TERMINAL) && !(suite & VER_SUITE_SINGLEUSERTS))
        bits |= 0x1000000;
    if (suite & VER_SUITE_WH_SERVER)
        bits |= 0x2000000;
    if (facts.productType == VER_NT_DOMAIN_CONTROLLER)
        bits |= 0x4000000;
    if (facts.productType == VER_NT_SERVER)
        bits |= 0x8000;
    return bits;
}

unsigned EnvironmentBits(const WindowsFacts& facts)
{
    unsigned bits = 0;
    if (facts.productOptions.CompareNoCase(L"ServerNT") == 0)
        bits |= 0x8000;
    else if (facts.productOptions.CompareNoCase(L"LanmanNT") == 0)
        bits |= 0x10000;
    if (facts.miniNt)
        bits |= 0x4000;
    if (facts.peBuilder)
        bits |= 0x2000;
    if (facts.fundamentals)
        bits |= 0x1;
    if (facts.tabletPc)
        bits |= 0x40;
    if (facts.mediaCenter)
        bits |= 0x80;
    if (facts.remoteSession)
        bits |= 0x1000;
    if (facts.starter)
        bits |= 0x10;
    if (facts.serverR2)
        bits |= 0x20;
    switch (facts.mediaCenterMajor) {
    case 2: bits |= 0x100; break;
    case 3: bits |= 0x200; break;
    case 4: bits |= 0x400; break;
    case 5: bits |= 0x800; break;
    default: break;
    }
    return bits;
}

unsigned Satisfied9x(const WindowsFacts& facts)
{
    if (facts.major != 4)
        return 0x2;
    wchar_t letter = ServiceLetter(facts);
    if (facts.minor == 0)
        return (letter == L'B' || letter == L'C') ? (0x2 | 0x10 | 0x400) : (0x2 | 0x10);
    if (facts.minor == 10)
        return letter == L'A' ? (0x2 | 0x10 | 0x20 | 0x800) : (0x2 | 0x10 | 0x20);
    return 0x2 | 0x10 | 0x20 | 0x40 | 0x400 | 0x800;
}

// The NT releases from the newest down; Windows 11 shares 10.0 with
// Windows 10 and is told apart by its build number.
struct NtRelease {
    DWORD major, minor;
    unsigned bit;
    DWORD minimumBuild;
};
const NtRelease NtReleases[] = {
    {10, 0, 0x400000, 22000}, {10, 0, 0x100000, 0}, {6, 3, 0x80000, 0}, {6, 2, 0x40000, 0},
    {6, 1, 0x4000, 0},        {6, 0, 0x2000, 0},    {5, 2, 0x1000, 0},  {5, 1, 0x200, 0},
    {5, 0, 0x100, 0},         {4, 0, 0x80, 0},      {3, 51, 0x200000, 0},
};
const int NtReleaseCount = sizeof(NtReleases) / sizeof(NtReleases[0]);

// Index of the running release, -1 when it is not in the list.
int RunningNtRelease(const WindowsFacts& facts)
{
    for (int i = 0; i < NtReleaseCount; ++i) {
        const NtRelease& r = NtReleases[i];
        if (r.major == facts.major && r.minor == facts.minor && facts.build >= r.minimumBuild)
            return i;
    }
    return -1;
}

bool RunningServicePackSuffices(const WindowsFacts& facts, unsigned sp)
{
    unsigned have = ServicePackBits(facts);
    if ((sp & ServicePack1) && !(have & (ServicePack1 | ServicePack2 | ServicePack3)))
        return false;
    if ((sp & ServicePack2) && !(have & (ServicePack2 | ServicePack3)))
        return false;
    if ((sp & ServicePack3) && !(have & ServicePack3))
        return false;
    return true;
}

bool NtAtLeast(const WindowsFacts& facts, unsigned mask, unsigned sp)
{
    bool result = (mask & WindowsNtFamily) != 0;
    int running = RunningNtRelease(facts);
    // A release we do not know is newer than every one we do.
    for (int i = running < 0 ? 0 : running; i < NtReleaseCount; ++i) {
        const NtRelease& r = NtReleases[i];
        if (!(mask & r.bit) || facts.build < r.minimumBuild)
            continue;
        result = i != running || RunningServicePackSuffices(facts, sp);
    }
    return result;
}

void ReadVersion(WindowsFacts* facts)
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    BOOL ok = GetVersionExW((OSVERSIONINFOW*)&info);
    facts->extendedKnown = ok ? 1 : 0;
    if (!ok) {
        // Systems before NT 4 SP6 know only the short structure.
        memset(&info, 0, sizeof(info));
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        ok = GetVersionExW((OSVERSIONINFOW*)&info);
    }
    facts->versionKnown = ok ? 1 : 0;
    if (!ok)
        return;
    facts->platform = info.dwPlatformId;
    facts->major = info.dwMajorVersion;
    facts->minor = info.dwMinorVersion;
    facts->build = info.dwBuildNumber;
    info.szCSDVersion[127] = 0;
    facts->service = info.szCSDVersion;
    if (facts->extendedKnown) {
        facts->suiteMask = info.wSuiteMask;
        facts->productType = info.wProductType;
    }
}

bool KeyExists(const wchar_t* path)
{
    RegistryKey key;
    return key.OpenRead(HKEY_LOCAL_MACHINE, path) != 0;
}

unsigned ReadMediaCenterMajor()
{
    RegistryKey key;
    WideString ident;
    if (!key.OpenRead(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center") ||
        !key.ReadText(L"Ident", ident))
        return 0;
    // "%u.%u": only the major part decides.
    unsigned major = 0;
    int i = 0;
    while (ident.At(i) == L' ' || ident.At(i) == L'\t')
        ++i;
    bool digits = false;
    for (; ident.At(i) >= L'0' && ident.At(i) <= L'9' && major < 1000000; ++i, digits = true)
        major = major * 10 + (unsigned)(ident.At(i) - L'0');
    return digits && ident.At(i) == L'.' ? major : 0;
}

void ReadEdition(WindowsFacts* facts)
{
    RegistryKey key;
    if (key.OpenRead(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions"))
        key.ReadText(L"ProductType", facts->productOptions);
    facts->miniNt = KeyExists(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT");
    facts->peBuilder = KeyExists(L"SYSTEM\\CurrentControlSet\\Control\\PE Builder");
    unsigned long long installed = 0;
    facts->fundamentals = key.OpenRead(HKEY_LOCAL_MACHINE, L"SYSTEM\\WPA\\Fundamentals") &&
                          key.ReadNumber(L"Installed", &installed) && installed == 1;
    facts->mediaCenterMajor = ReadMediaCenterMajor();
    facts->tabletPc = GetSystemMetrics(SM_TABLETPC) != 0;
    facts->mediaCenter = GetSystemMetrics(SM_MEDIACENTER) != 0;
    facts->remoteSession = GetSystemMetrics(SM_REMOTESESSION) != 0;
    facts->starter = GetSystemMetrics(SM_STARTER) != 0;
    facts->serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
}

} // namespace

void ReadWindowsFacts(WindowsFacts* facts, bool withEdition)
{
    ReadVersion(facts);
    if (withEdition && facts->versionKnown && facts->platform == VER_PLATFORM_WIN32_NT)
        ReadEdition(facts);
}

WindowsVersion VersionFromFacts(const WindowsFacts& facts)
{
    if (!facts.versionKnown)
        return 0;
    switch (facts.platform) {
    case VER_PLATFORM_WIN32s:
        return 0x4;
    case VER_PLATFORM_WIN32_WINDOWS:
        return Low9x(facts);
    case VER_PLATFORM_WIN32_NT:
        return LowNt(facts) | High(ServicePackBits(facts));
    default:
        return 0;
    }
}

WindowsVersion EditionFromFacts(const WindowsFacts& facts)
{
    WindowsVersion version = VersionFromFacts(facts);
    if (!facts.versionKnown || facts.platform != VER_PLATFORM_WIN32_NT)
        return version;
    unsigned bits = EnvironmentBits(facts);
    if (facts.extendedKnown)
        bits |= SuiteBits(facts);
    return version | High(bits);
}

bool WindowsAtLeastFromFacts(const WindowsFacts& facts, unsigned mask, unsigned sp)
{
    if (!facts.versionKnown)
        return false;
    switch (facts.platform) {
    case VER_PLATFORM_WIN32s:
        return (mask & Win32sFamily) != 0;
    case VER_PLATFORM_WIN32_WINDOWS:
        return (mask & Satisfied9x(facts)) != 0;
    case VER_PLATFORM_WIN32_NT:
        return NtAtLeast(facts, mask, sp);
    default:
        return false;
    }
}

WindowsVersion GetWindowsVersion()
{
    WindowsFacts facts;
    ReadWindowsFacts(&facts, false);
    return VersionFromFacts(facts);
}

WindowsVersion GetWindowsEdition()
{
    WindowsFacts facts;
    ReadWindowsFacts(&facts, true);
    return EditionFromFacts(facts);
}

bool IsWindowsAtLeast(unsigned mask, unsigned sp)
{
    WindowsFacts facts;
    ReadWindowsFacts(&facts, false);
    return WindowsAtLeastFromFacts(facts, mask, sp);
}

namespace {

const wchar_t* NameOf9x(unsigned low)
{
    if (low & Windows95)
        return L"Windows 95";
    if (low & Windows95Osr2)
        return L"Windows 95 OSR2";
    if (low & Windows98)
        return L"Windows 98";
    if (low & Windows98Se)
        return L"Windows 98 SE";
    if (low & WindowsMe)
        return L"Windows ME";
    return nullptr;
}

const wchar_t* NameOfNt(unsigned low)
{
    struct Row {
        unsigned bit;
        const wchar_t* name;
    };
    static const Row rows[] = {
        {WindowsNt351, L"Windows NT3.51"}, {WindowsNt4, L"Windows NT4"},
        {Windows2000, L"Windows 2000"},    {WindowsXp, L"Windows XP"},
        {WindowsServer2003, L"Windows Server 2003"}, {WindowsVista, L"Windows Vista"},
        {Windows7, L"Windows 7"},          {Windows8, L"Windows 8"},
        {Windows81, L"Windows 8.1"},       {Windows10, L"Windows 10"},
        {Windows11, L"Windows 11"},
    };
    for (const Row& row : rows)
        if (low & row.bit)
            return row.name;
    return nullptr;
}

void AppendEditionSuffixes(WideString& text, unsigned high)
{
    if (high & 0x8000)
        text.Append(L" [Server]");
    else if (high & 0x10000)
        text.Append(L" [Advanced Server]");
    if (high & 0x2000)
        text.Append(L" [PE Builder]");
    else if (high & 0x4000)
        text.Append(L" [MiniNT]");
    if (high & 0x40)
        text.Append(L" [TabletPC]");
    if (high & 0x100)
        text.Append(L" [MediaCenter 2004]");
    else if (high & 0x200)
        text.Append(L" [MediaCenter 2005]");
    else if (high & 0x400)
        text.Append(L" [MediaCenter 2005 Ex]");
    else if (high & 0x800)
        text.Append(L" [MediaCenter Vista]");
    else if (high & 0x80)
        text.Append(L" [MediaCenter]");
    struct Row {
        unsigned bit;
        const wchar_t* text;
    };
    static const Row rows[] = {
        {0x80000, L" [Datacenter]"},      {0x100000, L" [Enterprise]"},
        {0x200000, L" [Embedded]"},       {0x400000, L" [Home Edition]"},
        {0x800000, L" [Storage Server]"}, {0x1000000, L" [Terminal Services]"},
        {0x2000000, L" [Home Server]"},   {0x4000000, L" [Domain Controller]"},
        {0x1, L" [Fundamentals for Legacy PCs]"}, {0x1000, L" [TerminalSession]"},
    };
    for (const Row& row : rows)
        if (high & row.bit)
            text.Append(row.text);
}

} // namespace

WideString DescribeWindows(WindowsVersion version)
{
    unsigned low = (unsigned)version;
    unsigned high = (unsigned)(version >> HighHalf);
    WideString text;
    if (!(low & WindowsNtFamily)) {
        const wchar_t* name = nullptr;
        if (low & Windows9xFamily) {
            name = NameOf9x(low);
            if (!name)
                text.Format(L"Unknown DOS Kernel 0x%I64X", version);
        } else if (low & Win32sFamily) {
            name = L"Windows 3.1";
        } else if (low & WindowsCeFamily) {
            if (high & 0x8000)
                name = L"Windows CE 5.0";
            else if (high & 0x10000)
                name = L"Windows CE 5.2";
            else
                text.Format(L"Unknown CE Kernel 0x%I64X", version);
        } else {
            text.Format(L"Unknown 0x%I64X", version);
        }
        if (name)
            text = name;
        return text;
    }
    const wchar_t* name = NameOfNt(low);
    if (!name) {
        text.Format(L"Unknown NT Kernel 0x%I64X", version);
        return text;
    }
    text = name;
    AppendEditionSuffixes(text, high);
    return text;
}

DWORD GetWindowsBuildNumber()
{
    WindowsFacts facts;
    ReadWindowsFacts(&facts, false);
    return facts.versionKnown ? facts.build : 0;
}

DWORD GetWindowsUpdateRevision()
{
    RegistryKey key;
    unsigned long long revision = 0;
    if (!key.OpenRead(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion") ||
        !key.ReadNumber(L"UBR", &revision))
        return 0;
    return (DWORD)revision;
}

bool IsWine()
{
    typedef const char*(__cdecl * WineGetVersionProc)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    WineGetVersionProc getVersion =
        ntdll ? (WineGetVersionProc)GetProcAddress(ntdll, "wine_get_version") : nullptr;
    return getVersion && getVersion() != nullptr;
}

bool IsReactOS()
{
    RegistryKey key;
    WideString product;
    return key.OpenRead(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion") &&
           key.ReadText(L"ProductName", product) && product.CompareNoCase(L"ReactOS") == 0;
}

bool SandboxFromFacts(const SandboxFacts& facts)
{
    return facts.stateDirectoryExists && facts.vmsmbOpens &&
           facts.userName.Compare(L"WDAGUtilityAccount") == 0;
}

bool IsWindowsSandbox()
{
    SandboxFacts facts;
    DWORD attributes = GetFileAttributesW(L"C:\\WcSandboxState");
    facts.stateDirectoryExists =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!facts.stateDirectoryExists)
        return false;
    HANDLE device = CreateFileW(L"\\\\.\\GLOBALROOT\\device\\vmsmb", GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    facts.vmsmbOpens = device != INVALID_HANDLE_VALUE;
    if (device != INVALID_HANDLE_VALUE)
        CloseHandle(device);
    if (!facts.vmsmbOpens)
        return false;
    DWORD size = (DWORD)(facts.userName.Capacity() - 1);
    if (GetUserNameW(facts.userName.Buffer(), &size))
        facts.userName.Recompute();
    else
        facts.userName.Clear();
    return SandboxFromFacts(facts);
}

bool Wow64FromFacts(int wow64Answer, bool armHost)
{
    if (wow64Answer < 0)
        return false;
    return wow64Answer == 1 || armHost;
}

bool ArmHostFromFacts(bool known, USHORT processMachine, USHORT nativeMachine)
{
    // IMAGE_FILE_MACHINE_UNKNOWN (0) means the process runs natively.
    return known && processMachine != 0 && nativeMachine == 0xAA64;
}

bool IsArmHost()
{
    typedef BOOL(WINAPI * IsWow64Process2Proc)(HANDLE, USHORT*, USHORT*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    IsWow64Process2Proc isWow64Process2 =
        kernel ? (IsWow64Process2Proc)GetProcAddress(kernel, "IsWow64Process2") : nullptr;
    USHORT process = 0, native = 0;
    bool known = isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native);
    return ArmHostFromFacts(known, process, native);
}

bool IsWow64()
{
    typedef BOOL(WINAPI * IsWow64ProcessProc)(HANDLE, BOOL*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    IsWow64ProcessProc isWow64Process =
        kernel ? (IsWow64ProcessProc)GetProcAddress(kernel, "IsWow64Process") : nullptr;
    BOOL wow64 = FALSE;
    int answer = -1;
    if (isWow64Process && isWow64Process(GetCurrentProcess(), &wow64))
        answer = wow64 ? 1 : 0;
    return Wow64FromFacts(answer, answer == 0 && IsArmHost());
}
