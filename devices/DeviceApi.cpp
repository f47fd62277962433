#include "devices/DeviceApi.h"
#include "devices/DeviceBinding.h"
#include "devices/DeviceNode.h"

#include <string.h>

namespace {

const char* const SlotNames[DeviceApi::SlotCount] = {
#define DEVICE_API_SLOT_NAME(name, type) #name,
    DEVICE_API_SLOTS(DEVICE_API_SLOT_NAME)
#undef DEVICE_API_SLOT_NAME
};

// Where the library groups begin in lookup order.
const int NewdevSlot = 0;
const int KernelSlot = 1;
const int SetupFirstGroup = 2, SetupFirstCount = 23;
const int ConfigManagerGroup = 25, ConfigManagerCount = 35;
const int ReenumerateSlot = 56;
const int SetupLastGroup = 60, SetupLastCount = 15;

static_assert(DeviceApi::Slot_UpdateDriverForPlugAndPlayDevicesW == NewdevSlot, "newdev group");
static_assert(DeviceApi::Slot_GetVolumeNameForVolumeMountPointW == KernelSlot, "kernel group");
static_assert(DeviceApi::Slot_SetupCopyOEMInfW == SetupFirstGroup &&
                  DeviceApi::Slot_SetupDiClassNameFromGuidW == SetupFirstGroup + SetupFirstCount - 1,
              "first setup group");
static_assert(DeviceApi::Slot_CM_Disconnect_Machine == ConfigManagerGroup &&
                  DeviceApi::Slot_CMP_WaitNoPendingInstallEvents ==
                      ConfigManagerGroup + ConfigManagerCount - 1,
              "configuration-manager group");
static_assert(DeviceApi::Slot_CM_Reenumerate_DevNode_Ex == ReenumerateSlot, "setup-only name");
static_assert(DeviceApi::Slot_SetupOpenInfFileW == SetupLastGroup &&
                  DeviceApi::Slot_SetupDiGetDeviceInstallParamsW ==
                      SetupLastGroup + SetupLastCount - 1 &&
                  SetupLastGroup + SetupLastCount == DeviceApi::SlotCount,
              "last setup group");

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
    return slots_[index];
}

int DeviceApi::SetSlot(int index, FARPROC procedure)
{
    if (index < 0 || index >= SlotCount)
        return 0;
    slots_[index] = procedure;
    return 1;
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
    for (FARPROC& slot : slots_)
        slot = nullptr;
}

void DeviceApi::BindGroup(const LibraryHolder& library, int first, int count, int skip)
{
    for (int i = first; i < first + count; ++i)
        if (i != skip)
            slots_[i] = library.Lookup(SlotNames[i]);
}

int DeviceApi::Bind()
{
    Unbind();
    if (binding_) {
        binding_->FillSlots(*this);
        if (topLevel_)
            topLevel_->Reset();
        return 1;
    }
    // The setup library is a known DLL: the system's own on Windows, and
    // under Wine the device simulator that a DLL override puts beside the
    // executable. It is loaded first, so that the libraries loaded from the
    // system directory after it find it running rather than bring in the
    // system folder's copy as their dependency.
    if (setupLibrary.LoadKnownDll(names_.setup)) {
        BindGroup(setupLibrary, SetupFirstGroup, SetupFirstCount);
        BindGroup(setupLibrary, ConfigManagerGroup, ConfigManagerCount);
        BindGroup(setupLibrary, SetupLastGroup, SetupLastCount);
    }
    if (newdevLibrary.Load(names_.newdev))
        BindGroup(newdevLibrary, NewdevSlot, 1);
    if (kernelLibrary.Load(names_.kernel))
        BindGroup(kernelLibrary, KernelSlot, 1);
    // Older setup libraries do not carry the configuration manager; the
    // same names then come from cfgmgr32, except the one it lacks.
    if (!CM_Get_Child() && configManagerLibrary.Load(names_.configManager))
        BindGroup(configManagerLibrary, ConfigManagerGroup, ConfigManagerCount, ReenumerateSlot);
    if (topLevel_)
        topLevel_->Reset();
    return 1;
}

void DeviceApi::Disconnect()
{
    if (machine && CM_Disconnect_Machine())
        CM_Disconnect_Machine()(machine);
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
        return CM_Locate_DevNode_ExW() ? CM_Locate_DevNode_ExW()(root, nullptr, 0, machine)
                                     : CR_CALL_NOT_IMPLEMENTED;
    return CM_Locate_DevNodeW() ? CM_Locate_DevNodeW()(root, nullptr, 0) : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::GetChild(DEVINST* child, DEVINST parent) const
{
    if (machine)
        return CM_Get_Child_Ex() ? CM_Get_Child_Ex()(child, parent, 0, machine) : CR_CALL_NOT_IMPLEMENTED;
    return CM_Get_Child() ? CM_Get_Child()(child, parent, 0) : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::GetSibling(DEVINST* sibling, DEVINST node) const
{
    if (machine)
        return CM_Get_Sibling_Ex() ? CM_Get_Sibling_Ex()(sibling, node, 0, machine)
                                 : CR_CALL_NOT_IMPLEMENTED;
    return CM_Get_Sibling() ? CM_Get_Sibling()(sibling, node, 0) : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::GetDeviceId(DEVINST node, wchar_t* buffer, ULONG length) const
{
    if (machine)
        return CM_Get_Device_ID_ExW() ? CM_Get_Device_ID_ExW()(node, buffer, length, 0, machine)
                                    : CR_CALL_NOT_IMPLEMENTED;
    return CM_Get_Device_IDW() ? CM_Get_Device_IDW()(node, buffer, length, 0) : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::GetRegistryProperty(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                         ULONG* length) const
{
    if (machine)
        return CM_Get_DevNode_Registry_Property_ExW()
                   ? CM_Get_DevNode_Registry_Property_ExW()(node, property, type, buffer, length, 0,
                                                          machine)
                   : CR_CALL_NOT_IMPLEMENTED;
    return CM_Get_DevNode_Registry_PropertyW()
               ? CM_Get_DevNode_Registry_PropertyW()(node, property, type, buffer, length, 0)
               : CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET DeviceApi::OpenDevNodeKey(DEVINST node, ULONG which, HKEY* key) const
{
    if (machine)
        return CM_Open_DevNode_Key_Ex() ? CM_Open_DevNode_Key_Ex()(node, KEY_READ, 0,
                                                               RegDisposition_OpenExisting, key,
                                                               which, machine)
                                      : CR_CALL_NOT_IMPLEMENTED;
    return CM_Open_DevNode_Key()
               ? CM_Open_DevNode_Key()(node, KEY_READ, 0, RegDisposition_OpenExisting, key, which)
               : CR_CALL_NOT_IMPLEMENTED;
}

HDEVINFO DeviceApi::GetClassDevs(const GUID* classGuid, DWORD flags) const
{
    if (machine)
        return SetupDiGetClassDevsExW() ? SetupDiGetClassDevsExW()(classGuid, nullptr, nullptr, flags,
                                                                   nullptr, machineName.Text(),
                                                                   nullptr)
                                        : INVALID_HANDLE_VALUE;
    return SetupDiGetClassDevsW() ? SetupDiGetClassDevsW()(classGuid, nullptr, nullptr, flags)
                                  : INVALID_HANDLE_VALUE;
}
