#include <gtest/gtest.h>

#include <stdio.h>

#include "common/ScopedTestKey.h"
#include "services/MachineId.h"
#include "services/RegistryKey.h"

namespace {

// The eight bytes back out of the text; false when it is not of the form.
bool ParseMachineId(const wchar_t* text, BYTE (&bytes)[MachineIdBytes])
{
    unsigned words[4];
    wchar_t tail = 0;
    if (wcslen(text) != MachineIdTextLength ||
        swscanf(text, L"%4x-%4x-%4x-%4x%lc", &words[0], &words[1], &words[2], &words[3], &tail) != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bytes[2 * i] = (BYTE)words[i];
        bytes[2 * i + 1] = (BYTE)(words[i] >> 8);
    }
    return true;
}

void ExpectWellFormed(const WideString& text, BYTE mode)
{
    BYTE bytes[MachineIdBytes];
    ASSERT_TRUE(ParseMachineId(text.Text(), bytes)) << text.Text();
    EXPECT_EQ(L'1', text.At(2));
    EXPECT_EQ(L'0', text.At(3));
    EXPECT_EQ(mode, bytes[6]);
    BYTE check = 0;
    for (int i = 0; i < 7; ++i)
        check ^= (BYTE)~bytes[i];
    EXPECT_EQ(check, bytes[7]) << text.Text();
}

// A stand-in for the machine hive with the values a test writes.
class MachineHive {
public:
    MachineHive() : key_(L"MachineIdTest") {}

    HKEY Root() const { return key_.Handle(); }
    void Text(const wchar_t* path, const wchar_t* name, const wchar_t* value)
    {
        RegistryKey key;
        ASSERT_TRUE(key.CreateWrite(Root(), path));
        ASSERT_TRUE(key.WriteText(name, value));
    }
    void Dword(const wchar_t* path, const wchar_t* name, DWORD value)
    {
        RegistryKey key;
        ASSERT_TRUE(key.CreateWrite(Root(), path));
        ASSERT_TRUE(key.WriteDword(name, value));
    }
    void Block(const wchar_t* path, const wchar_t* name, const void* data, DWORD size)
    {
        RegistryKey key;
        ASSERT_TRUE(key.CreateWrite(Root(), path));
        ASSERT_TRUE(key.WriteBlock(name, data, size));
    }
    void Remove(const wchar_t* path, const wchar_t* name)
    {
        RegistryKey key;
        ASSERT_TRUE(key.CreateWrite(Root(), path));
        RegDeleteValueW(key.Handle(), name);
    }

    MachineIdSources Sources() const
    {
        MachineIdSources sources;
        sources.machine = Root();
        sources.askWmi = false;
        sources.windowsCode = 0x0A;
        return sources;
    }

private:
    ScopedTestKey key_;
};

const wchar_t CurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t Disks[] = L"SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum";

} // namespace

TEST(MachineId, RunningMachineGivesTheDocumentedFormStableAndPerMode)
{
    WideString update, report, again;
    ASSERT_EQ(1, MachineId(MachineIdForUpdate, update));
    ASSERT_EQ(1, MachineId(MachineIdForReport, report));
    ASSERT_EQ(1, MachineId(MachineIdForUpdate, again));
    ExpectWellFormed(update, 4);
    ExpectWellFormed(report, 2);
    EXPECT_STREQ(update.Text(), again.Text()) << "the same machine, the same identity";
    EXPECT_EQ(0, wcsncmp(update.Text(), report.Text(), 15)) << "only mode and check differ";
    EXPECT_NE(0, wcscmp(update.Text() + 15, report.Text() + 15));
    BYTE bytes[MachineIdBytes];
    ASSERT_TRUE(ParseMachineId(update.Text(), bytes));
    EXPECT_EQ(1, bytes[2]) << "Wine has its own Windows code";
}

TEST(MachineId, BytesFoldTheMachineHive)
{
    MachineHive hive;
    hive.Text(CurrentVersion, L"ProductId", L"00330-80000-00000-AA078");
    hive.Text(L"SOFTWARE\\Microsoft\\Windows Genuine Advantage", L"MAC", L"00-1A-2B-3C-4D-5E");
    const BYTE address[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    hive.Block(L"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData", L"NetworkAddress", address, 6);
    MachineIdSources sources = hive.Sources();

    EXPECT_EQ(SumOfLowBytes(L"00330-80000-00000-AA078"), ProductIdByte(sources));
    EXPECT_EQ(XorOfLowBytes(L"00-1A-2B-3C-4D-5E"), NetworkAddressByte(sources)) << "the text first";
    hive.Remove(L"SOFTWARE\\Microsoft\\Windows Genuine Advantage", L"MAC");
    EXPECT_EQ(0x00 ^ 0x1A ^ 0x2B ^ 0x3C ^ 0x4D ^ 0x5E, NetworkAddressByte(sources));
    hive.Block(L"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData", L"NetworkAddress", address, 5);
    EXPECT_EQ(XorOfLowBytes(L"00330-80000-00000-AA078"), NetworkAddressByte(sources))
        << "an address of the wrong size is not one; the product id remains";

    BYTE bytes[MachineIdBytes];
    ComputeMachineIdBytes(MachineIdForReport, sources, bytes);
    WideString text;
    ASSERT_EQ(1, MachineIdText(bytes, text));
    ExpectWellFormed(text, 2);
    EXPECT_EQ(0x0A, bytes[2]);
}

TEST(MachineId, DiskByteSumsTheDiskEnumerationElseTheScsiTargets)
{
    MachineHive hive;
    MachineIdSources sources = hive.Sources();
    EXPECT_EQ(0, DiskByte(sources)) << "nothing to read";

    const wchar_t scsi[] = L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id %u\\Logical Unit Id 0";
    wchar_t path[200];
    for (unsigned target : {0u, 1u, 3u}) {
        swprintf(path, 200, scsi, target);
        hive.Text(path, L"Identifier", target == 0 ? L"QEMU HARDDISK" : L"VBOX CD-ROM");
    }
    hive.Text(L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 1\\Scsi Bus 3\\Target Id 0\\Logical Unit Id 0",
              L"Identifier", L"Disk Two");
    BYTE scsiSum = (BYTE)(SumOfLowBytes(L"QEMU HARDDISK") + SumOfLowBytes(L"VBOX CD-ROM") +
                          SumOfLowBytes(L"Disk Two"));
    EXPECT_EQ(scsiSum, DiskByte(sources)) << "targets up to the first missing one, on every port and bus";

    hive.Dword(Disks, L"Count", 0xFFFFFFFF);
    EXPECT_EQ(scsiSum, DiskByte(sources)) << "an absurd count with no entries is walked no further";
    hive.Dword(Disks, L"Count", 2);
    hive.Text(Disks, L"0", L"IDE\\Disk\\4&1");
    hive.Text(Disks, L"1", L"SCSI\\Disk\\5&2");
    hive.Text(Disks, L"2", L"not counted");
    EXPECT_EQ((BYTE)(SumOfLowBytes(L"IDE\\Disk\\4&1") + SumOfLowBytes(L"SCSI\\Disk\\5&2")), DiskByte(sources));
    sources.ntFamily = false;
    EXPECT_EQ(0, DiskByte(sources));
}

TEST(MachineId, WindowsCodeFromTheRecordedVersion)
{
    EXPECT_EQ(0x16, WindowsVersionCode(6, 1, 7601, false));
    EXPECT_EQ(0x0A, WindowsVersionCode(10, 0, 21999, false));
    EXPECT_EQ(0x0B, WindowsVersionCode(10, 0, 22000, false));
    EXPECT_EQ(0x8B, WindowsVersionCode(10, 0, 22631, true));

    MachineHive hive;
    DWORD major = 99, minor = 99, build = 99;
    EXPECT_EQ(0, RegistryWindowsVersion(hive.Root(), &major, &minor, &build));
    hive.Text(CurrentVersion, L"CurrentVersion", L"6.3");
    hive.Text(CurrentVersion, L"CurrentBuild", L"9600");
    ASSERT_EQ(1, RegistryWindowsVersion(hive.Root(), &major, &minor, &build));
    EXPECT_EQ(0x36, WindowsVersionCode(major, minor, build, false));
    hive.Dword(CurrentVersion, L"CurrentMajorVersionNumber", 10);
    hive.Dword(CurrentVersion, L"CurrentMinorVersionNumber", 0);
    hive.Text(CurrentVersion, L"CurrentBuild", L"22621");
    ASSERT_EQ(1, RegistryWindowsVersion(hive.Root(), &major, &minor, &build));
    EXPECT_EQ(0x0B, WindowsVersionCode(major, minor, build, false)) << "the numbers win over the text";
    hive.Text(CurrentVersion, L"CurrentVersion", L"six");
    hive.Remove(CurrentVersion, L"CurrentMajorVersionNumber");
    EXPECT_EQ(0, RegistryWindowsVersion(hive.Root(), &major, &minor, &build));
}
