#include "devices/DeviceApi.h"
#include "devices/DeviceNode.h"

#include <string.h>

namespace {

// Lookup order of the slots; the positions below mark the library groups.
const char* const SlotNames[DeviceApi::SlotCount] = {
    "UpdateDriverForPlugAndPlayDevicesW",
    "GetVolumeNameForVolumeMountPointW",
    "SetupCopyOEMInfW",
    "SetupDiGetClassDevsW",
    "SetupDiGetClassDevsExW",
    "SetupDiEnumDeviceInterfaces",
    "SetupDiGetDeviceInterfaceDetailW",
    "SetupDiDestroyDeviceInfoList",
    "SetupDiOpenDeviceInfoW",
    "SetupDiGetDeviceRegistryPropertyW",
    "SetupDiSetDeviceRegistryPropertyW",
    "SetupDiGetDeviceInstanceIdW",
    "SetupDiGetClassImageList",
    "SetupDiGetClassImageIndex",
    "SetupDiDestroyClassImageList",
    "SetupDiSetClassInstallParamsW",
    "SetupDiCallClassInstaller",
    "SetupDiEnumDeviceInfo",
    "SetupDiGetDevicePropertyW",
    "SetupDiLoadDeviceIcon",
    "SetupDiLoadClassIcon",
    "SetupDiGetDevicePropertyKeys",
    "SetupDiGetClassPropertyKeys",
    "SetupDiGetDeviceInterfacePropertyKeys",
    "SetupDiClassNameFromGuidW",
    "CM_Disconnect_Machine",
    "CM_Locate_DevNodeW",
    "CM_Locate_DevNode_ExW",
    "CM_Connect_MachineW",
    "CM_Get_Sibling",
    "CM_Get_Sibling_Ex",
    "CM_Get_Child",
    "CM_Get_Child_Ex",
    "CM_Get_Parent",
    "CM_Get_Parent_Ex",
    "CM_Get_Device_IDW",
    "CM_Get_Device_ID_ExW",
    "CM_Get_DevNode_Registry_PropertyW",
    "CM_Get_DevNode_Registry_Property_ExW",
    "CM_Set_DevNode_Registry_PropertyW",
    "CM_Set_DevNode_Registry_Property_ExW",
    "CM_Get_DevNode_Status",
    "CM_Get_Device_Interface_ListW",
    "CM_Get_Device_Interface_List_ExW",
    "CM_Get_Device_Interface_List_SizeW",
    "CM_Get_Device_Interface_List_Size_ExW",
    "CM_Get_Device_ID_ListA",
    "CM_Get_Device_ID_ListW",
    "CM_Get_Device_ID_List_SizeA",
    "CM_Get_Device_ID_List_SizeW",
    "CM_Get_Device_ID_List_ExA",
    "CM_Get_Device_ID_List_ExW",
    "CM_Get_Device_ID_List_Size_ExA",
    "CM_Get_Device_ID_List_Size_ExW",
    "CM_Request_Device_EjectW",
    "CM_Request_Device_Eject_ExW",
    "CM_Reenumerate_DevNode_Ex",
    "CM_Open_DevNode_Key",
    "CM_Open_DevNode_Key_Ex",
    "CMP_WaitNoPendingInstallEvents",
    "SetupOpenInfFileW",
    "SetupOpenFileQueue",
    "SetupCommitFileQueueW",
    "SetupInstallFilesFromInfSectionW",
    "SetupInstallServicesFromInfSectionW",
    "SetupInstallFromInfSectionW",
    "SetupCloseInfFile",
    "SetupCloseFileQueue",
    "SetupDefaultQueueCallbackW",
    "SetupInitDefaultQueueCallback",
    "SetupUninstallOEMInfW",
    "SetupDiOpenDevRegKey",
    "SetupDiOpenClassRegKeyExW",
    "SetupDiOpenDeviceInterfaceRegKey",
    "SetupDiGetDeviceInstallParamsW",
};

const int NewdevSlot = 0;
const int KernelSlot = 1;
const int SetupFirstGroup = 2, SetupFirstCount = 23;
const int ConfigManagerGroup = 25, ConfigManagerCount = 35;
const int ReenumerateSlot = 56;
const int SetupLastGroup = 60, SetupLastCount = 15;

} // namespace

const DeviceApi::LibraryNames DeviceApi::SystemLibraries = {L"newdev.dll", L"setupapi.dll",
                                                            L"cfgmgr32.dll", L"kernel32.dll"};

DeviceApi::DeviceApi() : names_(SystemLibraries)
{
    ClearSlots();
}

DeviceApi::~DeviceApi()
{
    Unbind();
}

FARPROC DeviceApi::Slot(int index) const
{
    if (index < 0 || index >= SlotCount)
        return nullptr;
    // The slots are laid out as consecutive pointers in lookup order.
    return (&UpdateDriverForPlugAndPlayDevicesW)[index];
}

const char* DeviceApi::SlotName(int index)
{
    return index >= 0 && index < SlotCount ? SlotNames[index] : nullptr;
}

int DeviceApi::BoundSlotCount() const
{
    int bound = 0;
    for (int i = 0; i < SlotCount; ++i)
        bound += Slot(i) != nullptr;
    return bound;
}

void DeviceApi::ClearSlots()
{
    FARPROC* slots = &UpdateDriverForPlugAndPlayDevicesW;
    for (int i = 0; i < SlotCount; ++i)
        slots[i] = nullptr;
}

void DeviceApi::BindGroup(const LibraryHolder& library, int first, int count, int skip)
{
    FARPROC* slots = &UpdateDriverForPlugAndPlayDevicesW;
    for (int i = first; i < first + count; ++i)
        if (i != skip)
            slots[i] = library.Lookup(SlotNames[i]);
}

int DeviceApi::Bind()
{
    Unbind();
    if (newdevLibrary.Load(names_.newdev))
        BindGroup(newdevLibrary, NewdevSlot, 1);
    if (kernelLibrary.Load(names_.kernel))
        BindGroup(kernelLibrary, KernelSlot, 1);
    if (setupLibrary.Load(names_.setup)) {
        BindGroup(setupLibrary, SetupFirstGroup, SetupFirstCount);
        BindGroup(setupLibrary, ConfigManagerGroup, ConfigManagerCount);
        BindGroup(setupLibrary, SetupLastGroup, SetupLastCount);
    }
    // Older setup libraries do not carry the configuration manager; the
    // same names then come from cfgmgr32, except the one it lacks.
    if (!CM_Get_Child && configManagerLibrary.Load(names_.configManager))
        BindGroup(configManagerLibrary, ConfigManagerGroup, ConfigManagerCount, ReenumerateSlot);
    if (topLevel_)
        topLevel_->Reset();
    return 1;
}

void DeviceApi::Disconnect()
{
    if (machine && CM_Disconnect_Machine)
        CM_Disconnect_Machine(machine);
    machine = nullptr;
}

void DeviceApi::Unbind()
{
    if (topLevel_)
        topLevel_->Clear();
    Disconnect();
    ClearSlots();
    newdevLibrary.Release();
    setupLibrary.Release();
    configManagerLibrary.Release();
    kernelLibrary.Release();
}

CONFIGRET DeviceApi::LocateRoot(DEVINST* root) const
{
    if (machine)
        return CM_Locate_DevNode_ExW ? CM_Locate_DevNode_ExW(root, nullptr, 0, machine)
                                     : CR_CALL_NOT_IMPLEMENTED;
    return CM_Locate_DevNodeW ? CM_Locate_DevNodeW(root, nullptr, 0) : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::GetChild(DEVINST* child, DEVINST parent) const
{
    if (machine)
        return CM_Get_Child_Ex ? CM_Get_Child_Ex(child, parent, 0, machine) : CR_CALL_NOT_IMPLEMENTED;
    return CM_Get_Child ? CM_Get_Child(child, parent, 0) : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::GetSibling(DEVINST* sibling, DEVINST node) const
{
    if (machine)
        return CM_Get_Sibling_Ex ? CM_Get_Sibling_Ex(sibling, node, 0, machine)
                                 : CR_CALL_NOT_IMPLEMENTED;
    return CM_Get_Sibling ? CM_Get_Sibling(sibling, node, 0) : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::GetDeviceId(DEVINST node, wchar_t* buffer, ULONG length) const
{
    if (machine)
        return CM_Get_Device_ID_ExW ? CM_Get_Device_ID_ExW(node, buffer, length, 0, machine)
                                    : CR_CALL_NOT_IMPLEMENTED;
    return CM_Get_Device_IDW ? CM_Get_Device_IDW(node, buffer, length, 0) : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::GetRegistryProperty(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                         ULONG* length) const
{
    if (machine)
        return CM_Get_DevNode_Registry_Property_ExW
                   ? CM_Get_DevNode_Registry_Property_ExW(node, property, type, buffer, length, 0,
                                                          machine)
                   : CR_CALL_NOT_IMPLEMENTED;
    return CM_Get_DevNode_Registry_PropertyW
               ? CM_Get_DevNode_Registry_PropertyW(node, property, type, buffer, length, 0)
               : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::OpenDevNodeKey(DEVINST node, ULONG which, HKEY* key) const
{
    if (machine)
        return CM_Open_DevNode_Key_Ex ? CM_Open_DevNode_Key_Ex(node, KEY_READ, 0,
                                                               RegDisposition_OpenExisting, key,
                                                               which, machine)
                                      : CR_CALL_NOT_IMPLEMENTED;
    return CM_Open_DevNode_Key
               ? CM_Open_DevNode_Key(node, KEY_READ, 0, RegDisposition_OpenExisting, key, which)
               : CR_CALL_NOT_IMPLEMENTED;
}

HDEVINFO DeviceApi::GetClassDevs(const GUID* classGuid) const
{
    if (machine)
        return SetupDiGetClassDevsExW ? SetupDiGetClassDevsExW(classGuid, nullptr, nullptr, 0,
                                                               nullptr, machineName.Text(), nullptr)
                                      : INVALID_HANDLE_VALUE;
    return SetupDiGetClassDevsW ? SetupDiGetClassDevsW(classGuid, nullptr, nullptr, 0)
                                : INVALID_HANDLE_VALUE;
}
