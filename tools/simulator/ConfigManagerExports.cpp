// The configuration-manager entry points. Each _Ex twin does exactly what its
// local form does once its machine handle has been checked.

#define _CFGMGR32_
#include <windows.h>
#include <cfgmgr32.h>

#include "Simulator.h"

namespace {

const ULONG kLocateFlags = 0x7;    // CM_LOCATE_DEVNODE_BITS
const ULONG kRegistryFlags = 0x301; // CM_REGISTRY_SOFTWARE | CM_REGISTRY_USER | CM_REGISTRY_CONFIG
const ULONG kLastRegistryProperty = 0x25; // CM_DRP_MAX

enum class Relation { Child, Sibling, Parent };

// The device behind a devnode handle, or the error for an unknown one.
CONFIGRET FindDevice(DEVINST devnode, Machine*& machine, int& index)
{
    machine = Simulator::CurrentMachine();
    index = machine ? machine->FindDeviceIndex(devnode) : -1;
    return index < 0 ? CR_INVALID_DEVNODE : CR_SUCCESS;
}

CONFIGRET CheckConnection(HMACHINE connection)
{
    return Simulator::IsConnection((ULONG_PTR)connection) ? CR_SUCCESS : CR_INVALID_POINTER;
}

CONFIGRET Locate(Entry entry, PDEVINST devnode, const wchar_t* deviceId, ULONG flags)
{
    if (!devnode)
        return CR_INVALID_POINTER;
    *devnode = 0;
    if (flags & ~kLocateFlags)
        return CR_INVALID_FLAG;
    Machine* machine = Simulator::RefreshedMachine();
    if (!machine)
        return CR_FAILURE;
    int index = deviceId && *deviceId ? machine->FindDeviceById(deviceId) : 0;
    if (index < 0)
        return CR_NO_SUCH_DEVNODE;
    const Device& device = machine->devices[index];
    if (Simulator::Fails(*machine, entry, &device))
        return CR_FAILURE;
    *devnode = device.handle;
    return CR_SUCCESS;
}

CONFIGRET Related(Entry entry, PDEVINST result, DEVINST devnode, ULONG flags, Relation relation)
{
    if (!result)
        return CR_INVALID_POINTER;
    *result = 0;
    if (flags)
        return CR_INVALID_FLAG;
    Machine* machine;
    int index;
    CONFIGRET status = FindDevice(devnode, machine, index);
    if (status != CR_SUCCESS)
        return status;
    const Device& device = machine->devices[index];
    if (Simulator::Fails(*machine, entry, &device))
        return CR_FAILURE;
    int other = relation == Relation::Child     ? device.firstChild
                : relation == Relation::Sibling ? device.nextSibling
                                                : device.parent;
    if (other < 0)
        return CR_NO_SUCH_DEVNODE;
    *result = machine->devices[other].handle;
    return CR_SUCCESS;
}

CONFIGRET DeviceId(Entry entry, DEVINST devnode, PWSTR buffer, ULONG length, ULONG flags)
{
    if (!buffer)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    Machine* machine;
    int index;
    CONFIGRET status = FindDevice(devnode, machine, index);
    if (status != CR_SUCCESS)
        return status;
    const Device& device = machine->devices[index];
    if (Simulator::Fails(*machine, entry, &device))
        return CR_FAILURE;
    const std::wstring& id = device.instanceId;
    if (length < id.size() + 1) {
        // What fits, still terminated, so a careless caller reads no garbage.
        if (length > 0) {
            memcpy(buffer, id.c_str(), (length - 1) * sizeof(wchar_t));
            buffer[length - 1] = 0;
        }
        return CR_BUFFER_SMALL;
    }
    memcpy(buffer, id.c_str(), (id.size() + 1) * sizeof(wchar_t));
    return CR_SUCCESS;
}

CONFIGRET ReadRegistryProperty(Entry entry, DEVINST devnode, ULONG code, PULONG type, PVOID buffer, PULONG length,
                           ULONG flags)
{
    if (!length || (!buffer && *length))
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    if (code < 1 || code > kLastRegistryProperty)
        return CR_INVALID_PROPERTY;
    Machine* machine;
    int index;
    CONFIGRET status = FindDevice(devnode, machine, index);
    if (status != CR_SUCCESS)
        return status;
    const Device& device = machine->devices[index];
    if (Simulator::Fails(*machine, entry, &device))
        return CR_FAILURE;
    const RegistryProperty* property = device.FindRegistryProperty(code);
    if (!property)
        return CR_NO_SUCH_VALUE;
    const TypedData& data = property->data;
    if (type)
        *type = data.type;
    if (*length < data.Size()) {
        *length = data.ReportedSize();
        return CR_BUFFER_SMALL;
    }
    if (data.Size())
        memcpy(buffer, data.bytes.data(), data.Size());
    *length = data.Size();
    return CR_SUCCESS;
}

CONFIGRET OpenKey(Entry entry, DEVINST devnode, REGSAM access, REGDISPOSITION disposition, PHKEY key, ULONG flags)
{
    if (!key)
        return CR_INVALID_POINTER;
    *key = nullptr;
    if (flags & ~kRegistryFlags)
        return CR_INVALID_FLAG;
    if (disposition > RegDisposition_OpenExisting)
        return CR_INVALID_DATA;
    Machine* machine;
    int index;
    CONFIGRET status = FindDevice(devnode, machine, index);
    if (status != CR_SUCCESS)
        return status;
    // Per-user and per-profile device keys are not part of the simulated machine.
    if (flags & ~CM_REGISTRY_SOFTWARE)
        return CR_NO_SUCH_REGISTRY_KEY;
    if (Simulator::Fails(*machine, entry, &machine->devices[index]))
        return CR_NO_SUCH_REGISTRY_KEY;
    HKEY opened = Simulator::OpenDeviceKey(*machine, index, (flags & CM_REGISTRY_SOFTWARE) != 0, access);
    if (!opened)
        return CR_NO_SUCH_REGISTRY_KEY;
    *key = opened;
    return CR_SUCCESS;
}

CONFIGRET Status(Entry entry, PULONG status, PULONG problem, DEVINST devnode, ULONG flags)
{
    if (!status || !problem)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    Machine* machine;
    int index;
    CONFIGRET result = FindDevice(devnode, machine, index);
    if (result != CR_SUCCESS)
        return result;
    const Device& device = machine->devices[index];
    if (Simulator::Fails(*machine, entry, &device))
        return CR_FAILURE;
    *status = device.status;
    *problem = device.problem;
    return CR_SUCCESS;
}

// Entry points that take part in no test of the product: they answer, and do nothing.
CONFIGRET NotImplemented()
{
    return CR_CALL_NOT_IMPLEMENTED;
}

} // namespace

#define CALL(name) ScopedCall call(Entry::name)
#define CHECK_CONNECTION(handle)                                \
    do {                                                        \
        CONFIGRET connectionStatus = CheckConnection(handle);   \
        if (connectionStatus != CR_SUCCESS)                     \
            return connectionStatus;                            \
    } while (0)

extern "C" {

CONFIGRET WINAPI CM_Connect_MachineW(PCWSTR UNCServerName, PHMACHINE phMachine)
{
    CALL(CM_Connect_MachineW);
    if (!phMachine)
        return CR_INVALID_POINTER;
    *phMachine = nullptr;
    Machine* machine = Simulator::CurrentMachine();
    if (machine && Simulator::Fails(*machine, Entry::CM_Connect_MachineW))
        return CR_FAILURE;
    if (machine && machine->IsUnreachable(UNCServerName))
        return CR_MACHINE_UNAVAILABLE;
    *phMachine = (HMACHINE)Simulator::NewConnection();
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Disconnect_Machine(HMACHINE hMachine)
{
    CALL(CM_Disconnect_Machine);
    if (!hMachine || !Simulator::IsConnection((ULONG_PTR)hMachine))
        return CR_INVALID_POINTER;
    Machine* machine = Simulator::CurrentMachine();
    if (machine && Simulator::Fails(*machine, Entry::CM_Disconnect_Machine))
        return CR_FAILURE;
    Simulator::CloseConnection((ULONG_PTR)hMachine);
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags)
{
    CALL(CM_Locate_DevNodeW);
    return Locate(Entry::CM_Locate_DevNodeW, pdnDevInst, pDeviceID, ulFlags);
}

CONFIGRET WINAPI CM_Locate_DevNode_ExW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Locate_DevNode_ExW);
    CHECK_CONNECTION(hMachine);
    return Locate(Entry::CM_Locate_DevNode_ExW, pdnDevInst, pDeviceID, ulFlags);
}

CONFIGRET WINAPI CM_Get_Child(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags)
{
    CALL(CM_Get_Child);
    return Related(Entry::CM_Get_Child, pdnDevInst, dnDevInst, ulFlags, Relation::Child);
}

CONFIGRET WINAPI CM_Get_Child_Ex(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Get_Child_Ex);
    CHECK_CONNECTION(hMachine);
    return Related(Entry::CM_Get_Child_Ex, pdnDevInst, dnDevInst, ulFlags, Relation::Child);
}

CONFIGRET WINAPI CM_Get_Sibling(PDEVINST pdnDevInst, DEVINST DevInst, ULONG ulFlags)
{
    CALL(CM_Get_Sibling);
    return Related(Entry::CM_Get_Sibling, pdnDevInst, DevInst, ulFlags, Relation::Sibling);
}

CONFIGRET WINAPI CM_Get_Sibling_Ex(PDEVINST pdnDevInst, DEVINST DevInst, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Get_Sibling_Ex);
    CHECK_CONNECTION(hMachine);
    return Related(Entry::CM_Get_Sibling_Ex, pdnDevInst, DevInst, ulFlags, Relation::Sibling);
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags)
{
    CALL(CM_Get_Parent);
    return Related(Entry::CM_Get_Parent, pdnDevInst, dnDevInst, ulFlags, Relation::Parent);
}

CONFIGRET WINAPI CM_Get_Parent_Ex(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Get_Parent_Ex);
    CHECK_CONNECTION(hMachine);
    return Related(Entry::CM_Get_Parent_Ex, pdnDevInst, dnDevInst, ulFlags, Relation::Parent);
}

CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST dnDevInst, PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags)
{
    CALL(CM_Get_Device_IDW);
    return DeviceId(Entry::CM_Get_Device_IDW, dnDevInst, Buffer, BufferLen, ulFlags);
}

CONFIGRET WINAPI CM_Get_Device_ID_ExW(DEVINST dnDevInst, PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags,
                                      HMACHINE hMachine)
{
    CALL(CM_Get_Device_ID_ExW);
    CHECK_CONNECTION(hMachine);
    return DeviceId(Entry::CM_Get_Device_ID_ExW, dnDevInst, Buffer, BufferLen, ulFlags);
}

CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                   PVOID Buffer, PULONG pulLength, ULONG ulFlags)
{
    CALL(CM_Get_DevNode_Registry_PropertyW);
    return ReadRegistryProperty(Entry::CM_Get_DevNode_Registry_PropertyW, dnDevInst, ulProperty, pulRegDataType, Buffer,
                            pulLength, ulFlags);
}

CONFIGRET WINAPI CM_Get_DevNode_Registry_Property_ExW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                                      PVOID Buffer, PULONG pulLength, ULONG ulFlags,
                                                      HMACHINE hMachine)
{
    CALL(CM_Get_DevNode_Registry_Property_ExW);
    CHECK_CONNECTION(hMachine);
    return ReadRegistryProperty(Entry::CM_Get_DevNode_Registry_Property_ExW, dnDevInst, ulProperty, pulRegDataType,
                            Buffer, pulLength, ulFlags);
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags)
{
    CALL(CM_Get_DevNode_Status);
    return Status(Entry::CM_Get_DevNode_Status, pulStatus, pulProblemNumber, dnDevInst, ulFlags);
}

CONFIGRET WINAPI CM_Open_DevNode_Key(DEVINST dnDevNode, REGSAM samDesired, ULONG ulHardwareProfile,
                                     REGDISPOSITION Disposition, PHKEY phkDevice, ULONG ulFlags)
{
    CALL(CM_Open_DevNode_Key);
    return OpenKey(Entry::CM_Open_DevNode_Key, dnDevNode, samDesired, Disposition, phkDevice, ulFlags);
}

CONFIGRET WINAPI CM_Open_DevNode_Key_Ex(DEVINST dnDevNode, REGSAM samDesired, ULONG ulHardwareProfile,
                                        REGDISPOSITION Disposition, PHKEY phkDevice, ULONG ulFlags,
                                        HMACHINE hMachine)
{
    CALL(CM_Open_DevNode_Key_Ex);
    CHECK_CONNECTION(hMachine);
    return OpenKey(Entry::CM_Open_DevNode_Key_Ex, dnDevNode, samDesired, Disposition, phkDevice, ulFlags);
}

CONFIGRET WINAPI CM_Set_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PCVOID Buffer, ULONG ulLength,
                                                   ULONG ulFlags)
{
    CALL(CM_Set_DevNode_Registry_PropertyW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Set_DevNode_Registry_Property_ExW(DEVINST dnDevInst, ULONG ulProperty, PCVOID Buffer,
                                                      ULONG ulLength, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Set_DevNode_Registry_Property_ExW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID InterfaceClassGuid, DEVINSTID_W pDeviceID, PWCHAR Buffer,
                                               ULONG BufferLen, ULONG ulFlags)
{
    CALL(CM_Get_Device_Interface_ListW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_Interface_List_ExW(LPGUID InterfaceClassGuid, DEVINSTID_W pDeviceID, PWCHAR Buffer,
                                                  ULONG BufferLen, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Get_Device_Interface_List_ExW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG pulLen, LPGUID InterfaceClassGuid, DEVINSTID_W pDeviceID,
                                                    ULONG ulFlags)
{
    CALL(CM_Get_Device_Interface_List_SizeW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_Interface_List_Size_ExW(PULONG pulLen, LPGUID InterfaceClassGuid,
                                                       DEVINSTID_W pDeviceID, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Get_Device_Interface_List_Size_ExW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_ID_ListA(PCSTR pszFilter, PCHAR Buffer, ULONG BufferLen, ULONG ulFlags)
{
    CALL(CM_Get_Device_ID_ListA);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_ID_ListW(PCWSTR pszFilter, PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags)
{
    CALL(CM_Get_Device_ID_ListW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_ID_List_SizeA(PULONG pulLen, PCSTR pszFilter, ULONG ulFlags)
{
    CALL(CM_Get_Device_ID_List_SizeA);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_ID_List_SizeW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags)
{
    CALL(CM_Get_Device_ID_List_SizeW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_ID_List_ExA(PCSTR pszFilter, PCHAR Buffer, ULONG BufferLen, ULONG ulFlags,
                                           HMACHINE hMachine)
{
    CALL(CM_Get_Device_ID_List_ExA);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_ID_List_ExW(PCWSTR pszFilter, PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags,
                                           HMACHINE hMachine)
{
    CALL(CM_Get_Device_ID_List_ExW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_ID_List_Size_ExA(PULONG pulLen, PCSTR pszFilter, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Get_Device_ID_List_Size_ExA);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Get_Device_ID_List_Size_ExW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Get_Device_ID_List_Size_ExW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Request_Device_EjectW(DEVINST dnDevInst, PPNP_VETO_TYPE pVetoType, LPWSTR pszVetoName,
                                          ULONG ulNameLength, ULONG ulFlags)
{
    CALL(CM_Request_Device_EjectW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Request_Device_Eject_ExW(DEVINST dnDevInst, PPNP_VETO_TYPE pVetoType, LPWSTR pszVetoName,
                                             ULONG ulNameLength, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Request_Device_Eject_ExW);
    return NotImplemented();
}

CONFIGRET WINAPI CM_Reenumerate_DevNode_Ex(DEVINST dnDevInst, ULONG ulFlags, HMACHINE hMachine)
{
    CALL(CM_Reenumerate_DevNode_Ex);
    return NotImplemented();
}

// Not declared by every SDK's cfgmgr32.h.
DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout)
{
    CALL(CMP_WaitNoPendingInstallEvents);
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return WAIT_FAILED;
}

} // extern "C"
