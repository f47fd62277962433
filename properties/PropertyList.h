#pragma once

#include <windows.h>
#include <devpropdef.h>

#include "properties/ListSink.h"

class DeviceTree;
class DeviceNode;
class DeviceInfoSet;

// Group ids of the property list, in the order the groups are shown.
enum PropertyGroup {
    GroupClassProperties = 1,
    GroupDeviceProperties = 2,
    GroupDeviceRegistry = 3,
    GroupDriverRegistry = 4,
    GroupInstallerRegistry = 5,
    GroupInterfaceRegistry = 6,
    GroupRegistryProperties = 7,
    GroupMiscellaneous = 8,
};

struct RegistryPropertyName {
    ULONG code; // CM_DRP_ code; the SPDRP_ code is one less
    const wchar_t* name;
};

// Builds the rows of the property list for one device: four texts and a
// group id per row, appended in a fixed order and sorted once at the end.
class PropertyList {
public:
    static const int RegistryPropertyCount = 34;
    static const RegistryPropertyName* RegistryProperties();

    static void Fill(DeviceTree& tree, ListSink& list, DeviceNode* node);

    static void AddRow(ListSink& list, const wchar_t* key, const wchar_t* keyDetails,
                       const wchar_t* value, const wchar_t* valueDetails, int group);
    // The device's set and element `info` is found once per fill and
    // shared by all of its reads.
    static void AddPropertyRows(DeviceTree& tree, ListSink& list, DeviceNode& node,
                                DeviceInfoSet& info, int group, const DEVPROPKEY* keys,
                                DWORD count);
    static void AddPropertyRow(DeviceTree& tree, ListSink& list, DeviceNode& node,
                               DeviceInfoSet& info, int group, const DEVPROPKEY& key);
    static void AddRegistryPropertyRows(DeviceTree& tree, ListSink& list, DeviceNode& node,
                                        int group);
    static void AddStatusRow(ListSink& list, DeviceNode& node, int group);
    static void AddRegistryKeyRows(DeviceTree& tree, ListSink& list, DeviceNode& node,
                                   DeviceInfoSet& info, ULONG selector, int group);
};
