#include "properties/PropertyList.h"
#include "devices/DeviceTree.h"
#include "properties/PropertyKeyNames.h"
#include "properties/StatusText.h"
#include "properties/ValueFormat.h"
#include "services/RegistryKey.h"

#include <objbase.h>
#include <stdlib.h>

namespace {

const RegistryPropertyName RegistryNames[PropertyList::RegistryPropertyCount] = {
    {0x01, L"CM_DRP_DEVICEDESC"},
    {0x02, L"CM_DRP_HARDWAREID"},
    {0x03, L"CM_DRP_COMPATIBLEIDS"},
    {0x05, L"CM_DRP_SERVICE"},
    {0x08, L"CM_DRP_CLASS"},
    {0x09, L"CM_DRP_CLASSGUID"},
    {0x0A, L"CM_DRP_DRIVER"},
    {0x0B, L"CM_DRP_CONFIGFLAGS"},
    {0x0C, L"CM_DRP_MFG"},
    {0x0D, L"CM_DRP_FRIENDLYNAME"},
    {0x0E, L"CM_DRP_LOCATION_INFORMATION"},
    {0x0F, L"CM_DRP_PHYSICAL_DEVICE_OBJECT_NAME"},
    {0x10, L"CM_DRP_CAPABILITIES"},
    {0x11, L"CM_DRP_UI_NUMBER"},
    {0x12, L"CM_DRP_UPPERFILTERS"},
    {0x13, L"CM_DRP_LOWERFILTERS"},
    {0x14, L"CM_DRP_BUSTYPEGUID"},
    {0x15, L"CM_DRP_LEGACYBUSTYPE"},
    {0x16, L"CM_DRP_BUSNUMBER"},
    {0x17, L"CM_DRP_ENUMERATOR_NAME"},
    {0x18, L"CM_DRP_SECURITY"},
    {0x19, L"CM_DRP_SECURITY_SDS"},
    {0x1A, L"CM_DRP_DEVTYPE"},
    {0x1B, L"CM_DRP_EXCLUSIVE"},
    {0x1C, L"CM_DRP_CHARACTERISTICS"},
    {0x1D, L"CM_DRP_ADDRESS"},
    {0x1E, L"CM_DRP_UI_NUMBER_DESC_FORMAT"},
    {0x1F, L"CM_DRP_DEVICE_POWER_DATA"},
    {0x20, L"CM_DRP_REMOVAL_POLICY"},
    {0x21, L"CM_DRP_REMOVAL_POLICY_HW_DEFAULT"},
    {0x22, L"CM_DRP_REMOVAL_POLICY_OVERRIDE"},
    {0x23, L"CM_DRP_INSTALL_STATE"},
    {0x24, L"CM_DRP_LOCATION_PATHS"},
    {0x25, L"CM_DRP_BASE_CONTAINERID"},
};

// Fixed buffer sizes: a registry property longer than this gets no row,
// and so does a registry value whose data exceeds the data block.
const ULONG RegistryPropertyBytes = 780;
const DWORD RegistryValueBytes = 1560;

struct KeyRowContext {
    DeviceTree* tree;
    ListSink* list;
    int group;
};

int AddValueRow(const wchar_t* name, DWORD type, DWORD size, const BYTE* data, void* context)
{
    KeyRowContext* rows = (KeyRowContext*)context;
    WideString value, details;
    FormatRegistryValue(data, size, type, value);
    ValueDetails(*rows->tree, value, details);
    PropertyList::AddRow(*rows->list, name, L"", value.Text(), details.Text(), rows->group);
    return 1;
}

} // namespace

const RegistryPropertyName* PropertyList::RegistryProperties()
{
    return RegistryNames;
}

void PropertyList::AddRow(ListSink& list, const wchar_t* key, const wchar_t* keyDetails,
                          const wchar_t* value, const wchar_t* valueDetails, int group)
{
    int item = list.InsertItem(0x7FFFFFFF, 0, key, 0, group);
    list.SetItemText(item, 1, keyDetails);
    list.SetItemText(item, 2, value);
    list.SetItemText(item, 3, valueDetails);
}

void PropertyList::AddPropertyRow(DeviceTree& tree, ListSink& list, DeviceNode& node,
                                  DeviceInfoSet& info, int group, const DEVPROPKEY& key)
{
    WideString keyText, keyName, value, details;
    KeyText(key, keyText, keyName);
    if (!node.DeviceProperty(info, key, value))
        return;
    ValueDetails(tree, value, details);
    AddRow(list, keyText.Text(), keyName.Text(), value.Text(), details.Text(), group);
}

void PropertyList::AddPropertyRows(DeviceTree& tree, ListSink& list, DeviceNode& node,
                                   DeviceInfoSet& info, int group, const DEVPROPKEY* keys,
                                   DWORD count)
{
    for (DWORD i = 0; i < count; ++i)
        AddPropertyRow(tree, list, node, info, group, keys[i]);
}

void PropertyList::AddRegistryPropertyRows(DeviceTree& tree, ListSink& list, DeviceNode& node,
                                           int group)
{
    BYTE* data = (BYTE*)malloc(RegistryPropertyBytes);
    if (!data)
        return;
    for (const RegistryPropertyName& entry : RegistryNames) {
        ULONG length = RegistryPropertyBytes;
        ULONG type = 0;
        if (!node.RegistryPropertyRaw(entry.code - 1, data, &length, &type))
            continue;
        if (length > RegistryPropertyBytes)
            length = RegistryPropertyBytes;
        WideString value, details;
        FormatRegistryValue(data, length, type, value);
        ValueDetails(tree, value, details);
        AddRow(list, entry.name, L"", value.Text(), details.Text(), group);
    }
    free(data);
}

void PropertyList::AddStatusRow(ListSink& list, DeviceNode& node, int group)
{
    if (!node.LoadStatus())
        return;
    WideString value;
    StatusText::Format(node.status, node.problem, value);
    AddRow(list, L"Status", L"", value.Text(), L"", group);
}

void PropertyList::AddRegistryKeyRows(DeviceTree& tree, ListSink& list, DeviceNode& node,
                                      DeviceInfoSet& info, ULONG selector, int group)
{
    BYTE* data = (BYTE*)malloc(RegistryValueBytes);
    if (!data)
        return;
    HKEY key = node.OpenRegistryKey(selector, info);
    if (key) {
        KeyRowContext context = {&tree, &list, group};
        DWORD type = 0;
        RegistryKey::EnumerateValues(key, nullptr, AddValueRow, &type, RegistryValueBytes, data,
                                     &context);
        RegCloseKey(key);
    }
    free(data);
}

void PropertyList::Fill(DeviceTree& tree, ListSink& list, DeviceNode* node)
{
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    list.DeleteAllItems(true);
    list.SetRedraw(false);
    if (node) {
        WideString text;
        text.Format(L"0x%X", (unsigned)node->devnode);
        AddRow(list, L"DevInstance", L"", text.Text(), L"", GroupMiscellaneous);
        if (node->InstanceId(text))
            AddRow(list, L"Device Id", L"", text.Text(), L"", GroupMiscellaneous);
        AddStatusRow(list, *node, GroupMiscellaneous);
        AddRegistryPropertyRows(tree, list, *node, GroupRegistryProperties);

        // One search for the device's element serves every read below: a set
        // costs a walk of the whole device database.
        DeviceInfoSet info;
        const DeviceApi& api = tree.Api();
        if (api.SetupDiGetDevicePropertyW() || api.SetupDiGetDevicePropertyKeys() ||
            api.SetupDiOpenClassRegKeyExW())
            node->FindDeviceInfo(info);

        GUID classGuid;
        DEVPROPKEY* keys = nullptr;
        DWORD count = 0;
        if (node->RegistryProperty(SPDRP_CLASSGUID, text) &&
            CLSIDFromString((LPCOLESTR)text.Text(), &classGuid) == NOERROR &&
            tree.ClassPropertyKeys(classGuid, 0, &keys, &count)) {
            AddPropertyRows(tree, list, *node, info, GroupClassProperties, keys, count);
            free(keys);
        }
        if (node->PropertyKeys(info, &keys, &count)) {
            AddPropertyRows(tree, list, *node, info, GroupDeviceProperties, keys, count);
            free(keys);
        }
        AddRegistryKeyRows(tree, list, *node, info, CM_REGISTRY_HARDWARE, GroupDeviceRegistry);
        AddRegistryKeyRows(tree, list, *node, info, CM_REGISTRY_SOFTWARE, GroupDriverRegistry);
        AddRegistryKeyRows(tree, list, *node, info, DeviceNode::ClassInstallerKey,
                           GroupInstallerRegistry);
        AddRegistryKeyRows(tree, list, *node, info, DeviceNode::ClassInterfaceKey,
                           GroupInterfaceRegistry);
        list.Resort();
    }
    list.SetRedraw(true);
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}
