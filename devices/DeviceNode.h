#pragma once

#include "devices/DeviceApi.h"
#include "devices/DeviceInfoSet.h"
#include "devices/NodeList.h"
#include "services/WideString.h"

class DeviceTree;

// One devnode of the configuration manager's tree, with the display data the
// tree shows and the reads the property list is built on. Deleting a node
// deletes its whole subtree; its icon belongs to the tree's class icons.
class DeviceNode {
public:
    DeviceNode(DeviceTree* owner, DEVINST devnode);
    virtual ~DeviceNode();
    DeviceNode(const DeviceNode&) = delete;
    DeviceNode& operator=(const DeviceNode&) = delete;

    // Reads the children afresh (old ones are deleted); the first one or none.
    DeviceNode* LoadChildren();
    // Friendly name, else device description, else empty; kept at its own
    // length.
    int LoadName();
    // The icon of the node's setup class, shared with every node of the class.
    int LoadIcon();
    int LoadStatus();

    // The node's set and element among the devices of `classGuid`; a node
    // not found among the class-less devices is looked for once more in its
    // own setup class.
    [[nodiscard]] int OpenDeviceInfo(const GUID& classGuid, DeviceInfoSet& info) const;
    // The same element, found with one set when the enumeration learnt the
    // node's class: for a series of reads (one property list fill). The
    // reads below that take it use it as found and report no data when it
    // is not open; those without it find their own.
    int FindDeviceInfo(DeviceInfoSet& info) const;
    int InstanceId(WideString& id) const;
    // An SPDRP_ property as one text; a multi-string arrives with U+0001
    // after each element.
    int RegistryProperty(DWORD spdrp, WideString& text) const;
    // The same read into the caller's buffer, the data as delivered.
    int RegistryPropertyRaw(DWORD spdrp, void* buffer, ULONG* length, ULONG* type) const;
    // One device property as the text the property list shows; 0 when the
    // key is to get no row.
    int DeviceProperty(const DEVPROPKEY& key, WideString& value) const;
    int DeviceProperty(DeviceInfoSet& info, const DEVPROPKEY& key, WideString& value) const;
    // A newly allocated array of the node's property keys (free() it).
    int PropertyKeys(DEVPROPKEY** keys, DWORD* count) const;
    int PropertyKeys(DeviceInfoSet& info, DEVPROPKEY** keys, DWORD* count) const;
    // Selectors: CM_REGISTRY_HARDWARE, CM_REGISTRY_SOFTWARE, and the class
    // installer and interface keys of the node's setup class.
    static const ULONG ClassInstallerKey = 0x10000000;
    static const ULONG ClassInterfaceKey = 0x20000000;
    HKEY OpenRegistryKey(ULONG selector) const;
    HKEY OpenRegistryKey(ULONG selector, DeviceInfoSet& info) const;

    DeviceNode* next = nullptr;
    DeviceNode* previous = nullptr;
    DEVINST devnode;
    NodeList children;
    DeviceTree* owner;
    WideString name;
    HICON icon = nullptr; // the class icon, owned by the tree
    ULONG status = 0;
    ULONG problem = 0;
    // The setup class as the last enumeration found it (GUID_NULL: a device
    // without one); valid when known.
    GUID setupClass = {};
    bool setupClassKnown = false;
    // What the current filter found (DeviceTree::MatchFilter's values).
    unsigned char match = 0;

private:
    const DeviceApi& Api() const;
};
