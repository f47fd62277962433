#pragma once

#include <windows.h>
#include <cfgmgr32.h>
#include <devpropdef.h>

#include <string>
#include <unordered_map>
#include <vector>

// A machine's devices as saved: the devnode tree and everything the viewer
// shows of each device and setup class, with every value exactly as the
// platform delivered it (type and bytes). Built by a capture or a reader,
// then immutable; served to the device model by a SnapshotBinding and open
// to any other use (a comparison of two machines, say).

// Typed data as delivered: a REG_ type for registry data, a DEVPROPTYPE for
// device properties. The platform may report a size other than that of the
// data it hands out; that size is kept beside the data.
struct SnapshotValue {
    DWORD type = 0;
    std::vector<BYTE> bytes;
    bool sizeDiffers = false;
    DWORD reportedSize = 0;

    DWORD Size() const { return (DWORD)bytes.size(); }
    DWORD ReportedSize() const { return sizeDiffers ? reportedSize : Size(); }
    bool operator==(const SnapshotValue& other) const;
};

struct SnapshotNamedValue {
    std::wstring name; // empty for the key's default value
    SnapshotValue value;
};

// The values of one registry key (its sub-keys are not part of it).
struct SnapshotKey {
    bool present = false;
    std::vector<SnapshotNamedValue> values;
};

struct SnapshotRegistryProperty {
    ULONG code = 0; // CM_DRP_
    SnapshotValue value;
};

struct SnapshotProperty {
    DEVPROPKEY key = {};
    SnapshotValue value; // type DEVPROP_TYPE_EMPTY: the key is listed, the value absent
};

struct SnapshotDevice {
    DEVINST handle = 0;
    bool hasParent = false; // only the root has none
    DEVINST parentHandle = 0;
    bool hasInstanceId = false;
    std::wstring instanceId;
    // Listed in the device information sets, as an element of `setupClass`
    // (GUID_NULL: a device without a setup class).
    bool listed = false;
    GUID setupClass = {};
    bool hasStatus = false;
    ULONG status = 0;
    ULONG problem = 0;
    std::vector<SnapshotRegistryProperty> registryProperties;
    std::vector<SnapshotProperty> properties; // in the platform's key order
    SnapshotKey hardwareKey;
    SnapshotKey softwareKey;

    // Made by Snapshot::Index: the tree's links as indexes, -1 for none.
    int parent = -1;
    int firstChild = -1;
    int nextSibling = -1;

    const SnapshotRegistryProperty* FindRegistryProperty(ULONG code) const;
    const SnapshotProperty* FindProperty(const DEVPROPKEY& key) const;
};

struct SnapshotClass {
    GUID guid = {};
    bool hasName = false;
    std::wstring name;
    // The class icon as an icon file (one 32-bit image with its mask);
    // empty when the class has none.
    std::vector<BYTE> icon;
    bool hasInstallerPropertyKeys = false;
    std::vector<DEVPROPKEY> installerPropertyKeys;
    bool hasInterfacePropertyKeys = false;
    std::vector<DEVPROPKEY> interfacePropertyKeys;
    SnapshotKey installerKey;
    SnapshotKey interfaceKey;
};

// Who and what the snapshot describes; texts for people, not for decisions.
struct SnapshotHeader {
    std::wstring computer;
    std::wstring windows;       // "Windows 10", as the program describes it
    std::wstring windowsVersion; // "10.0"
    DWORD windowsBuild = 0;
    DWORD windowsRevision = 0;
    std::wstring architecture; // "x64", "x86", "ARM64"
    std::wstring processor;    // the processor's own name
    DWORD processorCount = 0;
    std::wstring taken;        // UTC, "2026-12-09T08:21:00Z"
    std::wstring quillmere;    // the version that saved it, "1.00"
};

class Snapshot {
public:
    // The format's name and the version this program writes and reads.
    static const char FormatName[];
    static const int FormatVersion = 1;

    // Limits of what a snapshot may hold; a file beyond them is refused
    // (Quillmere never writes one).
    static const unsigned long long LargestFile = 128ull << 20;
    static const int LargestDeviceCount = 200000;
    static const int DeepestTree = 256;     // devnode levels below the root
    static const DWORD LargestValue = 16u << 20; // bytes of one value's data
    static const int LongestText = 32767;    // characters of a name or an ID
    static const int LongestValueName = 16383; // as the registry allows
    // The registry properties are CM_DRP_ codes 1 to this one
    // (CM_DRP_BASE_CONTAINERID; older headers end the range earlier).
    static const ULONG LastRegistryProperty = 0x25;

    SnapshotHeader header;
    std::vector<SnapshotClass> classes;
    std::vector<SnapshotDevice> devices; // [Root()] is the root

    // What Index found wrong, for a message that names it.
    enum Problem {
        Sound,
        NoDevices,
        NoRoot,
        SecondRoot,
        DuplicateHandle,
        DuplicateInstanceId,
        UnknownParent,
        Cycle,
        TooDeep,
        DuplicateClass,
    };
    // Links the tree and builds the look-ups; Sound when the devices form
    // one tree under one root. `device` is the index of the device the
    // problem concerns.
    Problem Index(int* device = nullptr);

    int Root() const { return root_; }
    int FindDevice(DEVINST handle) const;
    // ASCII letters compared without case, as the configuration manager does.
    int FindDeviceById(const wchar_t* instanceId) const;
    const SnapshotClass* FindClass(const GUID& guid) const;
    // The devices listed as elements of `guid`'s set, in snapshot order; of
    // every set for `all`.
    const std::vector<int>& ListedDevices(const GUID* guid, bool all) const;

private:
    struct GuidHash {
        size_t operator()(const GUID& guid) const;
    };
    struct GuidEqual {
        bool operator()(const GUID& a, const GUID& b) const { return IsEqualGUID(a, b) != 0; }
    };
    void LinkChildren();
    Problem FindUnreachable(int* device) const;

    int root_ = -1;
    std::unordered_map<DEVINST, int> byHandle_;
    std::unordered_map<std::wstring, int> byUpperId_;
    std::unordered_map<GUID, int, GuidHash, GuidEqual> classByGuid_;
    std::unordered_map<GUID, std::vector<int>, GuidHash, GuidEqual> listedByClass_;
    std::vector<int> listed_;
    std::vector<int> none_;
};
