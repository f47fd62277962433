#pragma once

#include <windows.h>

#include "services/WideString.h"

// What Windows reports about itself, folded into one word: the low half holds
// the platform family and the version, the high half the service pack and the
// edition. Bits below are low-half values unless they say otherwise.
typedef unsigned long long WindowsVersion;

enum WindowsVersionBit : unsigned {
    WindowsNtFamily = 0x1,
    Windows9xFamily = 0x2,
    Win32sFamily = 0x4,
    WindowsCeFamily = 0x8,
    Windows95 = 0x10,
    Windows98 = 0x20,
    WindowsMe = 0x40,
    WindowsNt4 = 0x80,
    Windows2000 = 0x100,
    WindowsXp = 0x200,
    Windows95Osr2 = 0x400,
    Windows98Se = 0x800,
    WindowsServer2003 = 0x1000,
    WindowsVista = 0x2000,
    Windows7 = 0x4000,
    Windows8 = 0x40000,
    Windows81 = 0x80000,
    Windows10 = 0x100000,
    WindowsNt351 = 0x200000,
    Windows11 = 0x400000,
};

// Service-pack bits of the high half; IsWindowsAtLeast takes them as `sp`.
enum WindowsServicePackBit : unsigned {
    ServicePack1 = 0x2,
    ServicePack2 = 0x4,
    ServicePack3 = 0x8,
};

// Everything the version word is made from, gathered from the system by
// ReadWindowsFacts or filled in by hand, so that every decision below can be
// taken on given inputs.
struct WindowsFacts {
    // GetVersionExW
    int versionKnown = 0;
    DWORD platform = 0;
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
    WideString service; // szCSDVersion
    // OSVERSIONINFOEXW
    int extendedKnown = 0;
    WORD suiteMask = 0;
    BYTE productType = 0;
    // HKLM registry findings
    WideString productOptions; // "ProductType" under Control\ProductOptions
    int miniNt = 0;            // Control\MiniNT exists
    int peBuilder = 0;         // Control\PE Builder exists
    int fundamentals = 0;      // WPA\Fundamentals "Installed" is 1
    unsigned mediaCenterMajor = 0; // "Ident" of Media Center, 0 when missing
    // GetSystemMetrics
    int tabletPc = 0;
    int mediaCenter = 0;
    int remoteSession = 0;
    int starter = 0;
    int serverR2 = 0;
};

// Fills the version part from GetVersionExW; with `withEdition` also the
// suite mask, product type, registry findings and system metrics.
void ReadWindowsFacts(WindowsFacts* facts, bool withEdition);

// Decisions on given facts.
WindowsVersion VersionFromFacts(const WindowsFacts& facts);
WindowsVersion EditionFromFacts(const WindowsFacts& facts);
bool WindowsAtLeastFromFacts(const WindowsFacts& facts, unsigned mask, unsigned sp);

// The same for the running system.
WindowsVersion GetWindowsVersion();
WindowsVersion GetWindowsEdition();
// True when the running system is the newest (lowest) version named in
// `mask` or newer, with at least the service pack in `sp` where that version
// is the running one.
bool IsWindowsAtLeast(unsigned mask, unsigned sp);

// "Windows 7", "Windows 11 [Home Edition] [TerminalSession]", ...
WideString DescribeWindows(WindowsVersion version);

// dwBuildNumber of GetVersionExW, 0 when it fails.
DWORD GetWindowsBuildNumber();
// "UBR" under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion, 0 when missing.
DWORD GetWindowsUpdateRevision();

// Special environments.
bool IsWine();
bool IsReactOS();
bool IsWindowsSandbox();
// A 32-bit process on a 64-bit Windows (or emulated on an ARM64 host).
bool IsWow64();
bool IsArmHost();

// The decisions behind the environment probes, on given answers.
struct SandboxFacts {
    int stateDirectoryExists = 0; // C:\WcSandboxState is a directory
    int vmsmbOpens = 0;           // \\.\GLOBALROOT\device\vmsmb opens for reading
    WideString userName;
};
bool SandboxFromFacts(const SandboxFacts& facts);
// `wow64Answer`: 1 or 0 from IsWow64Process, -1 when it is missing or failed.
bool Wow64FromFacts(int wow64Answer, bool armHost);
// IsWow64Process2's answer: `known` when it exists and succeeded.
bool ArmHostFromFacts(bool known, USHORT processMachine, USHORT nativeMachine);
