#include "SnapshotSample.h"

#include "snapshot/IconFile.h"
#include "snapshot/SnapshotWriter.h"
#include "snapshot/ValueForm.h"

#include <gtest/gtest.h>

namespace {

const GUID NetClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID SystemClass = {0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const DEVPROPKEY NameKey = {{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}}, 10};

SnapshotValue Value(DWORD type, std::vector<BYTE> bytes)
{
    SnapshotValue value;
    value.type = type;
    value.bytes = std::move(bytes);
    return value;
}

SnapshotValue Text(DWORD type, const std::wstring& text)
{
    std::vector<BYTE> bytes;
    AppendTextBytes(bytes, text);
    return Value(type, bytes);
}

DEVPROPKEY Key(ULONG pid)
{
    DEVPROPKEY key = NameKey;
    key.pid = pid;
    return key;
}

SnapshotDevice Device(DEVINST handle, DEVINST parent, const std::wstring& id, const wchar_t* name)
{
    SnapshotDevice device;
    device.handle = handle;
    device.hasParent = parent != 0;
    device.parentHandle = parent;
    device.hasInstanceId = true;
    device.instanceId = id;
    device.hasStatus = true;
    device.status = 0x0180200A;
    if (name)
        device.registryProperties.push_back({CM_DRP_DEVICEDESC, Text(REG_SZ, name)});
    return device;
}

std::vector<BYTE> TinyIcon()
{
    // One opaque red pixel.
    BYTE colour[4] = {0, 0, 0xFF, 0xFF}, mask[4] = {0, 0, 0, 0};
    HBITMAP colourBitmap = CreateBitmap(1, 1, 1, 32, colour);
    HBITMAP maskBitmap = CreateBitmap(1, 1, 1, 1, mask);
    ICONINFO info = {TRUE, 0, 0, maskBitmap, colourBitmap};
    HICON icon = CreateIconIndirect(&info);
    std::vector<BYTE> file;
    EXPECT_EQ(1, IconFile::Encode(icon, file));
    DestroyIcon(icon);
    DeleteObject(colourBitmap);
    DeleteObject(maskBitmap);
    return file;
}

} // namespace

Snapshot SampleSnapshot()
{
    Snapshot snapshot;
    snapshot.header.computer = L"SAMPLE";
    snapshot.header.taken = L"2026-12-09T08:21:00Z";

    SnapshotClass net;
    net.guid = NetClass;
    net.hasName = true;
    net.name = L"Net";
    net.icon = TinyIcon();
    net.hasInstallerPropertyKeys = true;
    net.installerPropertyKeys.push_back(NameKey);
    net.installerKey.present = true;
    net.installerKey.values.push_back({L"", Text(REG_SZ, L"Network adapters")});
    snapshot.classes.push_back(net);
    SnapshotClass system;
    system.guid = SystemClass;
    system.hasName = true;
    system.name = L"System";
    snapshot.classes.push_back(system);

    snapshot.devices.push_back(Device(1, 0, L"HTREE\\ROOT\\0", nullptr));
    snapshot.devices.push_back(Device(2, 1, L"ACPI_HAL\\PNP0C08\\0", L"ACPI x64-based PC"));
    snapshot.devices.back().listed = true;
    snapshot.devices.back().setupClass = SystemClass;

    SnapshotDevice adapter = Device(0x1000, 2, L"PCI\\VEN_8086&DEV_15BC\\3&11583659&0&FE", L"Ethernet \u00e4\u4e2d");
    adapter.listed = true;
    adapter.setupClass = NetClass;
    adapter.registryProperties.push_back({CM_DRP_CLASSGUID, Text(REG_SZ, L"{4D36E972-E325-11CE-BFC1-08002BE10318}")});
    adapter.registryProperties.push_back({CM_DRP_HARDWAREID, Value(REG_MULTI_SZ, TextsBytes({L"PCI\\A", L"", L"PCI\\B"}))});
    adapter.registryProperties.push_back({CM_DRP_CONFIGFLAGS, Value(REG_DWORD, NumberBytes(31, 4))});
    adapter.registryProperties.push_back({CM_DRP_CHARACTERISTICS, Value(REG_QWORD, NumberBytes(1ull << 32, 8))});
    adapter.registryProperties.push_back({CM_DRP_UI_NUMBER_DESC_FORMAT, Value(REG_EXPAND_SZ, {'%', 0, 'x', 0, 'y'})});
    SnapshotValue lying = Text(DEVPROP_TYPE_STRING, L"short");
    lying.sizeDiffers = true;
    lying.reportedSize = 4096;
    adapter.properties.push_back({NameKey, Text(DEVPROP_TYPE_STRING, L"Ethernet")});
    adapter.properties.push_back({Key(100), Value(DEVPROP_TYPE_BYTE, {7})});
    adapter.properties.push_back({Key(101), Value(DEVPROP_TYPE_UINT16, NumberBytes(65535, 2))});
    adapter.properties.push_back({Key(102), Value(DEVPROP_TYPE_UINT64, NumberBytes(~0ull, 8))});
    adapter.properties.push_back({Key(103), Value(DEVPROP_TYPE_BOOLEAN, {0xFF})});
    adapter.properties.push_back({Key(104), Value(DEVPROP_TYPE_GUID, std::vector<BYTE>((const BYTE*)&NetClass, (const BYTE*)&NetClass + 16))});
    adapter.properties.push_back({Key(105), Value(DEVPROP_TYPE_FILETIME, NumberBytes(133485407990000000ull, 8))});
    adapter.properties.push_back({Key(106), Value(DEVPROP_TYPE_STRING_LIST, TextsBytes({L"one", L"two"}))});
    adapter.properties.push_back({Key(107), Value(DEVPROP_TYPE_BINARY, {1, 2, 3})});
    adapter.properties.push_back({Key(108), Value(DEVPROP_TYPE_EMPTY, {})});
    adapter.properties.push_back({Key(109), lying});
    adapter.properties.push_back({Key(110), Value(DEVPROP_TYPE_FILETIME, NumberBytes(~0ull, 8))});
    adapter.softwareKey.present = true;
    adapter.softwareKey.values.push_back({L"DriverDesc", Text(REG_SZ, L"Intel(R) Ethernet")});
    adapter.softwareKey.values.push_back({std::wstring(L"Lone\xD800", 5), Value(REG_BINARY, {0xDE, 0xAD})});
    adapter.softwareKey.values.push_back({L"Odd", Value(REG_SZ, {'a', 0, 'b'})});
    adapter.hardwareKey.present = true;
    snapshot.devices.push_back(adapter);

    SnapshotDevice unread = Device(5, 1, L"ROOT\\UNKNOWN\\0000", nullptr);
    unread.hasStatus = false;
    unread.status = 0;
    snapshot.devices.push_back(unread);
    EXPECT_EQ(Snapshot::Sound, snapshot.Index());
    return snapshot;
}

std::string SampleText()
{
    std::string text;
    EXPECT_EQ(1, SnapshotWriter::Write(SampleSnapshot(), text));
    return text;
}
