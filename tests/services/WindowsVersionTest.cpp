#include <gtest/gtest.h>

#include "services/RegistryKey.h"
#include "services/WindowsVersion.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

namespace {

WindowsFacts Facts(DWORD platform, DWORD major, DWORD minor, DWORD build = 0,
                   const wchar_t* service = L"")
{
    WindowsFacts facts;
    facts.versionKnown = 1;
    facts.extendedKnown = 1;
    facts.platform = platform;
    facts.major = major;
    facts.minor = minor;
    facts.build = build;
    facts.service = service;
    return facts;
}

WindowsFacts Nt(DWORD major, DWORD minor, DWORD build = 0, const wchar_t* service = L"")
{
    return Facts(VER_PLATFORM_WIN32_NT, major, minor, build, service);
}

WindowsFacts Nine(DWORD major, DWORD minor, const wchar_t* service = L"")
{
    return Facts(VER_PLATFORM_WIN32_WINDOWS, major, minor, 0, service);
}

unsigned HighOf(WindowsVersion v)
{
    return (unsigned)(v >> 32);
}

} // namespace

TEST(WindowsVersion, LowHalfCoversEveryPlatformAndRelease)
{
    struct Row {
        WindowsFacts facts;
        WindowsVersion expected;
    };
    const Row rows[] = {
        {Facts(VER_PLATFORM_WIN32s, 3, 10), 0x4},
        {Nine(3, 95), 0x2},
        {Nine(4, 0), 0x12},
        {Nine(4, 0, L" B"), 0x402},
        {Nine(4, 0, L" C"), 0x402},
        {Nine(4, 0, L" A"), 0x12},
        {Nine(4, 0, L"B"), 0x12}, // the letter must be the second character
        {Nine(4, 10), 0x22},
        {Nine(4, 10, L" A"), 0x802},
        {Nine(4, 10, L" B"), 0x22},
        {Nine(4, 90), 0x42},
        {Nine(4, 50), 0x2},
        {Nt(3, 51), 0x200001},
        {Nt(3, 50), 0x1},
        {Nt(4, 0), 0x81},
        {Nt(5, 0), 0x101},
        {Nt(5, 1), 0x201},
        {Nt(5, 2), 0x1001},
        {Nt(6, 0), 0x2001},
        {Nt(6, 1), 0x4001},
        {Nt(6, 2), 0x40001},
        {Nt(6, 3), 0x80001},
        {Nt(6, 4), 0x1},
        {Nt(10, 0, 19045), 0x100001},
        {Nt(10, 0, 21999), 0x100001},
        {Nt(10, 0, 22000), 0x400001},
        {Nt(10, 0, 26100), 0x400001},
        {Nt(10, 1, 30000), 0x1},
        {Facts(3 /* VER_PLATFORM_WIN32_CE */, 5, 0), 0},
        {Facts(7, 1, 0), 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.expected, VersionFromFacts(row.facts))
            << "platform " << row.facts.platform << " " << row.facts.major << "."
            << row.facts.minor << " build " << row.facts.build;

    WindowsFacts failed = Nt(6, 1);
    failed.versionKnown = 0;
    EXPECT_EQ(0u, VersionFromFacts(failed));
    EXPECT_EQ(0u, EditionFromFacts(failed));
    EXPECT_FALSE(WindowsAtLeastFromFacts(failed, WindowsNtFamily, 0));
}

TEST(WindowsVersion, ServicePackBitsAreIndependentSubstringTestsOnNtOnly)
{
    struct Row {
        const wchar_t* service;
        unsigned high;
    };
    const Row rows[] = {
        {L"", 0},
        {L"Service Pack 1", 0x2},
        {L"Service Pack 2", 0x4},
        {L"Service Pack 3", 0x8},
        {L"Service Pack 1, v.1000", 0x2},
        {L"service pack 2", 0}, // the test is case-sensitive
        {L"Service Pack 2 and Service Pack 3", 0xC},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.high, HighOf(VersionFromFacts(Nt(5, 1, 2600, row.service)))) << row.service;
    EXPECT_EQ(0x12u, VersionFromFacts(Nine(4, 0, L"Service Pack 1")));
}

TEST(WindowsVersion, EditionBitsFromSuiteProductRegistryAndMetrics)
{
    struct Row {
        const char* what;
        void (*set)(WindowsFacts&);
        unsigned high;
    };
    const Row rows[] = {
        {"datacenter", [](WindowsFacts& f) { f.suiteMask = VER_SUITE_DATACENTER; }, 0x80000},
        {"enterprise", [](WindowsFacts& f) { f.suiteMask = VER_SUITE_ENTERPRISE; }, 0x100000},
        {"embedded", [](WindowsFacts& f) { f.suiteMask = VER_SUITE_EMBEDDEDNT; }, 0x200000},
        {"personal", [](WindowsFacts& f) { f.suiteMask = VER_SUITE_PERSONAL; }, 0x400000},
        {"storage", [](WindowsFacts& f) { f.suiteMask = VER_SUITE_STORAGE_SERVER; }, 0x800000},
        {"terminal", [](WindowsFacts& f) { f.suiteMask = VER_SUITE_TERMINAL; }, 0x1000000},
        {"single-user terminal",
         [](WindowsFacts& f) { f.suiteMask = VER_SUITE_TERMINAL | VER_SUITE_SINGLEUSERTS; }, 0},
        {"home server", [](WindowsFacts& f) { f.suiteMask = VER_SUITE_WH_SERVER; }, 0x2000000},
        {"domain controller", [](WindowsFacts& f) { f.productType = VER_NT_DOMAIN_CONTROLLER; },
         0x4000000},
        {"server", [](WindowsFacts& f) { f.productType = VER_NT_SERVER; }, 0x8000},
        {"workstation", [](WindowsFacts& f) { f.productType = VER_NT_WORKSTATION; }, 0},
        {"ServerNT", [](WindowsFacts& f) { f.productOptions = L"sErVeRnT"; }, 0x8000},
        {"LanmanNT", [](WindowsFacts& f) { f.productOptions = L"LANMANNT"; }, 0x10000},
        {"WinNT", [](WindowsFacts& f) { f.productOptions = L"WinNT"; }, 0},
        {"ServerNT prefix only", [](WindowsFacts& f) { f.productOptions = L"ServerNTx"; }, 0},
        {"MiniNT", [](WindowsFacts& f) { f.miniNt = 1; }, 0x4000},
        {"PE Builder", [](WindowsFacts& f) { f.peBuilder = 1; }, 0x2000},
        {"Fundamentals", [](WindowsFacts& f) { f.fundamentals = 1; }, 0x1},
        {"tablet", [](WindowsFacts& f) { f.tabletPc = 1; }, 0x40},
        {"media center metric", [](WindowsFacts& f) { f.mediaCenter = 1; }, 0x80},
        {"remote session", [](WindowsFacts& f) { f.remoteSession = 1; }, 0x1000},
        {"starter", [](WindowsFacts& f) { f.starter = 1; }, 0x10},
        {"server R2", [](WindowsFacts& f) { f.serverR2 = 1; }, 0x20},
        {"media center 2", [](WindowsFacts& f) { f.mediaCenterMajor = 2; }, 0x100},
        {"media center 3", [](WindowsFacts& f) { f.mediaCenterMajor = 3; }, 0x200},
        {"media center 4", [](WindowsFacts& f) { f.mediaCenterMajor = 4; }, 0x400},
        {"media center 5", [](WindowsFacts& f) { f.mediaCenterMajor = 5; }, 0x800},
        {"media center 6", [](WindowsFacts& f) { f.mediaCenterMajor = 6; }, 0},
    };
    for (const Row& row : rows) {
        WindowsFacts facts = Nt(5, 1, 2600);
        row.set(facts);
        WindowsVersion edition = EditionFromFacts(facts);
        EXPECT_EQ(0x201u, (unsigned)edition) << row.what;
        EXPECT_EQ(row.high, HighOf(edition)) << row.what;

        WindowsFacts nine = Nine(4, 10);
        row.set(nine);
        EXPECT_EQ(0x22u, EditionFromFacts(nine)) << row.what << " on 9x adds nothing";
    }
    WindowsFacts shortInfo = Nt(5, 1, 2600);
    shortInfo.extendedKnown = 0;
    shortInfo.suiteMask = VER_SUITE_PERSONAL;
    shortInfo.tabletPc = 1;
    EXPECT_EQ(0x40u, HighOf(EditionFromFacts(shortInfo)));
}

TEST(WindowsVersion, AtLeastOn9xAndWin32s)
{
    struct Row {
        WindowsFacts facts;
        unsigned satisfied;
    };
    const Row rows[] = {
        {Nine(3, 95), 0x2},
        {Nine(4, 0), 0x2 | 0x10},
        {Nine(4, 0, L" C"), 0x2 | 0x10 | 0x400},
        {Nine(4, 10), 0x2 | 0x10 | 0x20},
        {Nine(4, 10, L" A"), 0x2 | 0x10 | 0x20 | 0x800},
        {Nine(4, 90), 0x2 | 0x10 | 0x20 | 0x40 | 0x400 | 0x800},
        {Nine(4, 50), 0x2 | 0x10 | 0x20 | 0x40 | 0x400 | 0x800},
    };
    for (const Row& row : rows)
        for (unsigned bit = 1; bit; bit <<= 1)
            EXPECT_EQ((row.satisfied & bit) != 0, WindowsAtLeastFromFacts(row.facts, bit, 0))
                << row.facts.major << "." << row.facts.minor << " mask " << std::hex << bit;
    WindowsFacts win32s = Facts(VER_PLATFORM_WIN32s, 3, 10);
    EXPECT_TRUE(WindowsAtLeastFromFacts(win32s, 0x4, 0));
    EXPECT_TRUE(WindowsAtLeastFromFacts(win32s, 0x6, 0));
    EXPECT_FALSE(WindowsAtLeastFromFacts(win32s, 0x2, 0));
    EXPECT_FALSE(WindowsAtLeastFromFacts(Facts(3 /* VER_PLATFORM_WIN32_CE */, 5, 0), 0xFFFFFFFF, 0));
}

TEST(WindowsVersion, AtLeastOnNtWalksDownToTheOldestAskedRelease)
{
    struct Row {
        WindowsFacts facts;
        unsigned mask;
        unsigned sp;
        bool expected;
    };
    const Row rows[] = {
        {Nt(6, 1, 7601), WindowsVista, 0, true},
        {Nt(10, 0, 19045), WindowsVista, 0, true},
        {Nt(5, 1, 2600), WindowsVista, 0, false},
        {Nt(6, 0, 6000), WindowsVista, 0, true},
        {Nt(6, 4, 9800), Windows10, 0, true}, // unknown: newer than all listed
        {Nt(6, 4, 9800), Windows11, 0, false}, // but Windows 11 needs its build
        {Nt(11, 0, 30000), Windows11, 0, true},
        {Nt(10, 0, 21999), Windows11, 0, false},
        {Nt(10, 0, 22000), Windows11, 0, true},
        {Nt(10, 0, 22000), Windows10, ServicePack3, true}, // a lower release ignores sp
        {Nt(10, 0, 22000), Windows11, ServicePack1, false},
        {Nt(5, 1, 2600), WindowsNtFamily, 0, true},
        {Nt(5, 1, 2600), Windows9xFamily, 0, false},
        {Nt(5, 1, 2600), 0, 0, false},
        // The oldest asked release decides: Windows 7 or XP on XP is true.
        {Nt(5, 1, 2600), Windows7 | WindowsXp, 0, true},
        {Nt(5, 1, 2600), Windows7 | Windows2000, 0, true},
        {Nt(5, 1, 2600), Windows7 | WindowsNtFamily, 0, true}, // 1 alone means any NT
        {Nt(3, 51, 1057), WindowsNt351, 0, true},
        {Nt(3, 51, 1057), WindowsNt4, 0, false},
        {Nt(4, 0, 1381), WindowsNt351, 0, true},
        {Nt(5, 2, 3790), WindowsServer2003 | WindowsXp | Windows2000, 0, true},
        {Nt(6, 2, 9200), Windows81, 0, false},
        {Nt(6, 3, 9600), Windows8, 0, true},
        {Nt(6, 3, 9600), Windows81, 0, true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.expected, WindowsAtLeastFromFacts(row.facts, row.mask, row.sp))
            << row.facts.major << "." << row.facts.minor << " build " << row.facts.build
            << " mask " << std::hex << row.mask << " sp " << row.sp;
}

TEST(WindowsVersion, ServicePackOfTheRunningReleaseMustBeReached)
{
    struct Row {
        const wchar_t* service;
        unsigned sp;
        bool expected;
    };
    const Row rows[] = {
        {L"", 0, true},
        {L"", ServicePack1, false},
        {L"Service Pack 1", ServicePack1, true},
        {L"Service Pack 1", ServicePack2, false},
        {L"Service Pack 2", ServicePack1, true},
        {L"Service Pack 2", ServicePack2, true},
        {L"Service Pack 2", ServicePack3, false},
        {L"Service Pack 3", ServicePack1, true},
        {L"Service Pack 3", ServicePack2, true},
        {L"Service Pack 3", ServicePack3, true},
        {L"Service Pack 2", 0x10, true}, // not a service-pack value
        {L"Service Pack 1", ServicePack1 | ServicePack2, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.expected, WindowsAtLeastFromFacts(Nt(5, 1, 2600, row.service), WindowsXp, row.sp))
            << row.service << " sp " << row.sp;
        // A release below the running one never looks at the service pack.
        EXPECT_TRUE(WindowsAtLeastFromFacts(Nt(5, 2, 3790, row.service), WindowsXp, row.sp));
    }
}

TEST(WindowsVersion, DescribesEveryRelease)
{
    struct Row {
        WindowsVersion version;
        const wchar_t* text;
    };
    const Row rows[] = {
        {0x12, L"Windows 95"},
        {0x402, L"Windows 95 OSR2"},
        {0x22, L"Windows 98"},
        {0x802, L"Windows 98 SE"},
        {0x42, L"Windows ME"},
        {0x2, L"Unknown DOS Kernel 0x2"},
        {0x4, L"Windows 3.1"},
        {0x8 | (0x8000ULL << 32), L"Windows CE 5.0"},
        {0x8 | (0x10000ULL << 32), L"Windows CE 5.2"},
        {0x8 | (0x20ULL << 32), L"Unknown CE Kernel 0x2000000008"},
        {0, L"Unknown 0x0"},
        {0x200001, L"Windows NT3.51"},
        {0x81, L"Windows NT4"},
        {0x101, L"Windows 2000"},
        {0x201, L"Windows XP"},
        {0x1001, L"Windows Server 2003"},
        {0x2001, L"Windows Vista"},
        {0x4001, L"Windows 7"},
        {0x40001, L"Windows 8"},
        {0x80001, L"Windows 8.1"},
        {0x100001, L"Windows 10"},
        {0x400001, L"Windows 11"},
        {0x1 | (0x8000ULL << 32), L"Unknown NT Kernel 0x800000000001"},
        // Service-pack bits, starter and R2 add no text.
        {0x201 | (0x3EULL << 32), L"Windows XP"},
    };
    for (const Row& row : rows)
        EXPECT_STREQ(row.text, DescribeWindows(row.version).Text()) << std::hex << row.version;
}

TEST(WindowsVersion, DescribesEverySuffixInItsOrder)
{
    struct Row {
        unsigned high;
        const wchar_t* suffix;
    };
    const Row rows[] = {
        {0x8000, L" [Server]"},
        {0x10000, L" [Advanced Server]"},
        {0x18000, L" [Server]"},
        {0x2000, L" [PE Builder]"},
        {0x4000, L" [MiniNT]"},
        {0x6000, L" [PE Builder]"},
        {0x40, L" [TabletPC]"},
        {0x100, L" [MediaCenter 2004]"},
        {0x200, L" [MediaCenter 2005]"},
        {0x400, L" [MediaCenter 2005 Ex]"},
        {0x800, L" [MediaCenter Vista]"},
        {0x80, L" [MediaCenter]"},
        {0x880, L" [MediaCenter Vista]"},
        {0x300, L" [MediaCenter 2004]"},
        {0x80000, L" [Datacenter]"},
        {0x100000, L" [Enterprise]"},
        {0x200000, L" [Embedded]"},
        {0x400000, L" [Home Edition]"},
        {0x800000, L" [Storage Server]"},
        {0x1000000, L" [Terminal Services]"},
        {0x2000000, L" [Home Server]"},
        {0x4000000, L" [Domain Controller]"},
        {0x1, L" [Fundamentals for Legacy PCs]"},
        {0x1000, L" [TerminalSession]"},
        {0x8000 | 0x2000 | 0x40 | 0x100 | 0x80000 | 0x100000 | 0x200000 | 0x400000 | 0x800000 |
             0x1000000 | 0x2000000 | 0x4000000 | 0x1 | 0x1000,
         L" [Server] [PE Builder] [TabletPC] [MediaCenter 2004] [Datacenter] [Enterprise]"
         L" [Embedded] [Home Edition] [Storage Server] [Terminal Services] [Home Server]"
         L" [Domain Controller] [Fundamentals for Legacy PCs] [TerminalSession]"},
    };
    for (const Row& row : rows) {
        std::wstring expected = std::wstring(L"Windows 8.1") + row.suffix;
        EXPECT_STREQ(expected.c_str(), DescribeWindows(0x80001 | ((WindowsVersion)row.high << 32)).Text())
            << std::hex << row.high;
    }
}

TEST(WindowsVersion, DescribesWhatTheFactsMake)
{
    WindowsFacts home = Nt(10, 0, 22000);
    home.suiteMask = VER_SUITE_PERSONAL | VER_SUITE_TERMINAL | VER_SUITE_SINGLEUSERTS;
    home.productType = VER_NT_WORKSTATION;
    home.remoteSession = 1;
    EXPECT_STREQ(L"Windows 11 [Home Edition] [TerminalSession]", DescribeWindows(EditionFromFacts(home)).Text());

    WindowsFacts server = Nt(10, 0, 21999);
    server.productType = VER_NT_SERVER;
    EXPECT_STREQ(L"Windows 10 [Server]", DescribeWindows(EditionFromFacts(server)).Text());

    WindowsFacts future = Nt(6, 4, 9800);
    EXPECT_STREQ(L"Unknown NT Kernel 0x1", DescribeWindows(EditionFromFacts(future)).Text());
    future.productType = VER_NT_SERVER;
    EXPECT_STREQ(L"Unknown NT Kernel 0x800000000001", DescribeWindows(EditionFromFacts(future)).Text());
}

TEST(WindowsVersion, EnvironmentDecisions)
{
    SandboxFacts sandbox;
    sandbox.stateDirectoryExists = 1;
    sandbox.vmsmbOpens = 1;
    sandbox.userName = L"WDAGUtilityAccount";
    EXPECT_TRUE(SandboxFromFacts(sandbox));
    sandbox.userName = L"wdagutilityaccount"; // the name must match exactly
    EXPECT_FALSE(SandboxFromFacts(sandbox));
    sandbox.userName = L"WDAGUtilityAccount";
    sandbox.vmsmbOpens = 0;
    EXPECT_FALSE(SandboxFromFacts(sandbox));
    sandbox.vmsmbOpens = 1;
    sandbox.stateDirectoryExists = 0;
    EXPECT_FALSE(SandboxFromFacts(sandbox));

    EXPECT_TRUE(Wow64FromFacts(1, false));
    EXPECT_TRUE(Wow64FromFacts(0, true));
    EXPECT_FALSE(Wow64FromFacts(0, false));
    EXPECT_FALSE(Wow64FromFacts(-1, true));

    EXPECT_TRUE(ArmHostFromFacts(true, IMAGE_FILE_MACHINE_I386, 0xAA64));
    EXPECT_TRUE(ArmHostFromFacts(true, IMAGE_FILE_MACHINE_AMD64, 0xAA64));
    EXPECT_FALSE(ArmHostFromFacts(true, 0, 0xAA64)); // native ARM64 process
    EXPECT_FALSE(ArmHostFromFacts(true, IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64));
    EXPECT_FALSE(ArmHostFromFacts(false, IMAGE_FILE_MACHINE_I386, 0xAA64));
}

namespace {

// What the Wine prefix says it is, read from where winecfg writes it.
struct PrefixRelease {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
    WideString service;
};

DWORD TextNumber(RegistryKey& key, const wchar_t* name)
{
    WideString text;
    return key.ReadText(name, text) ? wcstoul(text.Text(), nullptr, 10) : 0;
}

bool ReadPrefixRelease(PrefixRelease* release)
{
    RegistryKey key;
    if (!key.OpenRead(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"))
        return false;
    unsigned long long major = 0, minor = 0;
    // Windows 10 and later keep the numbers; older releases only say "6.1".
    if (key.ReadNumber(L"CurrentMajorVersionNumber", &major) &&
        key.ReadNumber(L"CurrentMinorVersionNumber", &minor)) {
        release->major = (DWORD)major;
        release->minor = (DWORD)minor;
    } else {
        WideString text;
        if (!key.ReadText(L"CurrentVersion", text) ||
            swscanf(text.Text(), L"%lu.%lu", &release->major, &release->minor) != 2)
            return false;
    }
    release->build = TextNumber(key, L"CurrentBuildNumber");
    key.ReadText(L"CSDVersion", release->service);
    return release->build != 0;
}

bool PrefixAtLeast(const PrefixRelease& release, DWORD major, DWORD minor)
{
    return release.major > major || (release.major == major && release.minor >= minor);
}

const wchar_t* PrefixName(const PrefixRelease& release)
{
    if (release.major >= 10)
        return release.build >= 22000 ? L"Windows 11" : L"Windows 10";
    if (release.major == 6 && release.minor == 3)
        return L"Windows 8.1";
    if (release.major == 6 && release.minor == 2)
        return L"Windows 8";
    if (release.major == 6 && release.minor == 1)
        return L"Windows 7";
    return L"?";
}

} // namespace

// The tests run on more than one Wine prefix (Windows 7 and Windows 10):
// whatever the prefix says, the version word must follow it, because the
// test executables declare the same supported systems as Quillmere.
TEST(WindowsVersion, RealSystemUnderWine)
{
    ASSERT_TRUE(IsWine());
    EXPECT_FALSE(IsReactOS());
    EXPECT_FALSE(IsWindowsSandbox());
    EXPECT_FALSE(IsArmHost());

    PrefixRelease prefix;
    ASSERT_TRUE(ReadPrefixRelease(&prefix));
    // The test bench names the release it prepared, so that a prefix that
    // silently fell back to Wine's default cannot pass for the other one.
    if (const char* expected = getenv("QUILLMERE_TEST_WINDOWS")) {
        EXPECT_EQ(std::string(expected), std::to_string(prefix.major) + "." + std::to_string(prefix.minor));
    }

    WindowsFacts facts;
    ReadWindowsFacts(&facts, false);
    EXPECT_EQ(prefix.major, facts.major);
    EXPECT_EQ(prefix.minor, facts.minor);
    EXPECT_EQ(prefix.build, GetWindowsBuildNumber());
    EXPECT_STREQ(prefix.service.Text(), facts.service.Text());
    EXPECT_EQ(VersionFromFacts(Nt(prefix.major, prefix.minor, prefix.build, prefix.service.Text())),
              GetWindowsVersion());
    WindowsVersion edition = GetWindowsEdition();
    EXPECT_EQ(GetWindowsVersion(), (edition & 0xFFFFFFFFULL) | (edition & (0xEULL << 32)));
    const wchar_t* name = PrefixName(prefix);
    EXPECT_EQ(0, DescribeWindows(edition).CompareNoCase(name, (int)wcslen(name)))
        << DescribeWindows(edition).Text();

    EXPECT_TRUE(IsWindowsAtLeast(WindowsVista, 0));
    EXPECT_TRUE(IsWindowsAtLeast(Windows7, ServicePack1));
    // Windows 7 itself needs the pack; any later release has every pack of it.
    EXPECT_EQ(PrefixAtLeast(prefix, 6, 2), IsWindowsAtLeast(Windows7, ServicePack2));
    EXPECT_EQ(PrefixAtLeast(prefix, 6, 2), IsWindowsAtLeast(Windows8, 0));
    EXPECT_EQ(PrefixAtLeast(prefix, 10, 0), IsWindowsAtLeast(Windows10, 0));
    EXPECT_EQ(prefix.major >= 10 && prefix.build >= 22000, IsWindowsAtLeast(Windows11, 0));

    // Wine's answer to IsWow64Process depends on how it was built; ours must agree.
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(wow64 != 0, IsWow64());

    DWORD ubr = GetWindowsUpdateRevision();
    HKEY key = nullptr;
    DWORD stored = 0, size = sizeof(stored);
    bool present = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                                 KEY_READ, &key) == ERROR_SUCCESS &&
                   RegQueryValueExW(key, L"UBR", nullptr, nullptr, (BYTE*)&stored, &size) == ERROR_SUCCESS;
    if (key)
        RegCloseKey(key);
    EXPECT_EQ(present ? stored : 0u, ubr);
}
