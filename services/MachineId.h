#pragma once

#include <windows.h>

#include "services/WideString.h"

// An anonymous identity of this machine, sent with update checks and
// problem reports: eight bytes folded from what the system says about its
// installation, volume, network adapter and disks, written as
// "XXXX-XXXX-XXXX-XXXX". No byte can be turned back into what it was made of.
static const BYTE MachineIdForReport = 2;
static const BYTE MachineIdForUpdate = 4;
static const int MachineIdBytes = 8;
static const int MachineIdTextLength = 19;

// Where the identity is read from. Tests point `machine` at a key of their
// own standing in for HKEY_LOCAL_MACHINE and leave WMI out.
struct MachineIdSources {
    HKEY machine = HKEY_LOCAL_MACHINE;
    bool ntFamily = true;
    bool askWmi = true;
    // Byte 2, the running Windows, read from the live system unless given.
    int windowsCode = -1;
};

// The identity of the running machine for `mode` (MachineIdForReport or
// MachineIdForUpdate) as text. 1 on success.
int MachineId(BYTE mode, WideString& text);

// The same from given sources.
void ComputeMachineIdBytes(BYTE mode, const MachineIdSources& sources, BYTE (&bytes)[MachineIdBytes]);
// Byte 0 and the first seven bytes stay; byte 7 becomes the exclusive or of
// the complements of bytes 0 to 6, and `text` the four 16-bit words read
// little-endian, so the first group ends in the digits of byte 0.
int MachineIdText(BYTE (&bytes)[MachineIdBytes], WideString& text);

// The pieces, each from the sources' machine hive.
BYTE ProductIdByte(const MachineIdSources& sources);
BYTE VolumeSerialByte();
BYTE NetworkAddressByte(const MachineIdSources& sources);
BYTE DiskByte(const MachineIdSources& sources);
// 1 for Wine, 2 for ReactOS, 3 for Windows Sandbox, else the version code.
BYTE RunningWindowsCode(HKEY machine);
// (minor << 4) | (major & 0xF), with Windows 10 from build 22000 on counted
// as 11 and 0x80 added on an ARM host.
BYTE WindowsVersionCode(DWORD major, DWORD minor, DWORD build, bool armHost);
// The version as the machine hive records it: the numbers
// "CurrentMajorVersionNumber" and "CurrentMinorVersionNumber", else the text
// "CurrentVersion"; the build from "CurrentBuild" (0 when missing).
int RegistryWindowsVersion(HKEY machine, DWORD* major, DWORD* minor, DWORD* build);

// Folding rules of the pieces over the low byte of each character.
BYTE SumOfLowBytes(const wchar_t* text);
BYTE XorOfLowBytes(const wchar_t* text);
