#pragma once

#include <windows.h>
#include <cfgmgr32.h>
#include <devpropdef.h>

#include <bitset>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "EntryPoints.h"

// The simulated machine as read from a machine file: the devnode tree, the
// setup classes, and the registry content behind both. Immutable once loaded,
// except for the record of which registry keys have been written so far.

typedef std::bitset<EntryCount> EntrySet;

// Typed data exactly as the file describes it. `required`, when set, is the
// size that a size query reports instead of the true one.
struct TypedData {
    DWORD type = 0;
    std::vector<BYTE> bytes;
    bool liesAboutSize = false;
    DWORD required = 0;

    DWORD Size() const { return (DWORD)bytes.size(); }
    DWORD ReportedSize() const { return liesAboutSize ? required : Size(); }
};

struct RegistryValue {
    std::wstring name;
    TypedData data;
};

// One key of a registry tree: the key itself (empty sub-path) or a sub-key.
struct RegistryKeyContent {
    std::wstring subPath;
    std::vector<RegistryValue> values;
};

struct RegistryTree {
    bool present = false;
    std::vector<RegistryKeyContent> keys;

    RegistryKeyContent& Key(const std::wstring& subPath);
};

struct RegistryProperty {
    ULONG code = 0; // CM_DRP_
    TypedData data;
};

struct DeviceProperty {
    DEVPROPKEY key = {};
    TypedData data;
};

struct Device {
    DEVINST handle = 0;
    int parent = -1;
    int firstChild = -1;
    int nextSibling = -1;
    std::wstring instanceId;
    bool hasSetupClass = false;
    GUID setupClass = {};
    std::wstring setupClassName; // a class given by name, resolved after parsing
    int setupClassLine = 0;
    ULONG status = 0;
    ULONG problem = 0;
    std::vector<RegistryProperty> registryProperties;
    std::vector<DeviceProperty> properties;
    RegistryTree hardwareKey;
    RegistryTree softwareKey;
    EntrySet failures;
    EntrySet crashes; // entry points that fault instead of failing
    int line = 0;

    const RegistryProperty* FindRegistryProperty(ULONG code) const;
    const DeviceProperty* FindProperty(const DEVPROPKEY& key) const;
};

struct SetupClass {
    GUID guid = {};
    std::wstring name;
    bool hasIcon = false;
    COLORREF colour = 0;
    std::vector<BYTE> iconFile; // from a snapshot: the icon itself, not a colour
    int miniIconIndex = 0;
    std::vector<DEVPROPKEY> installerPropertyKeys;
    std::vector<DEVPROPKEY> interfacePropertyKeys;
    RegistryTree installerKey;
    RegistryTree interfaceKey;
    EntrySet failures;
    EntrySet crashes; // entry points that fault instead of failing
};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct Machine {
    std::wstring path;
    std::vector<Device> devices; // file order, which is depth first; [0] is the root
    std::vector<SetupClass> classes;
    std::vector<std::wstring> unreachableMachines;
    EntrySet failures; // entry points that fail for every argument
    EntrySet crashes;  // entry points that fault for every argument
    // Windows gives a process at most this many user-interface objects
    // (icons, menus, windows); creating one more fails.
    int userObjectQuota = 10000;

    // Indexes built after parsing.
    std::unordered_map<DEVINST, int> deviceByHandle;
    std::unordered_map<std::wstring, int> deviceByUpperId;
    std::map<GUID, int, GuidLess> classByGuid;
    std::vector<int> allDevices; // in handle order

    // Registry keys written so far for this machine (written on first open).
    std::wstring registryPath; // below HKEY_CURRENT_USER
    std::vector<char> hardwareWritten, softwareWritten;
    std::vector<char> installerWritten, interfaceWritten;

    const Device* FindDevice(DEVINST handle) const;
    int FindDeviceIndex(DEVINST handle) const;
    int FindDeviceById(const wchar_t* instanceId) const;
    const SetupClass* FindClass(const GUID& guid) const;
    int FindClassIndex(const GUID& guid) const;
    bool IsUnreachable(const wchar_t* machineName) const;
    // Builds the indexes; returns an error text, empty when the machine is
    // sound, and the file line it concerns (0 for none).
    std::string Index(int& line);
};

// Upper-cases the ASCII letters only, as the configuration manager compares IDs.
std::wstring UpperAscii(const std::wstring& text);
bool IsNullGuid(const GUID& guid);
