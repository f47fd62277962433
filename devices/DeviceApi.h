#pragma once

#include <windows.h>
#include <objbase.h>
#include <cguid.h>
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include "services/LibraryHolder.h"
#include "services/WideString.h"

class NodeList;
class DeviceBinding;

#ifndef DICLASSPROP_INSTALLER
#define DICLASSPROP_INSTALLER 0x00000001
#define DICLASSPROP_INTERFACE 0x00000002
#endif

// The 75 bound names in the order they are looked up, with the type each is
// called through: newdev.dll, kernel32.dll, then from setupapi.dll a first
// group, the configuration-manager group (also found in cfgmgr32.dll, which
// lacks CM_Reenumerate_DevNode_Ex) and a last group.
#define DEVICE_API_SLOTS(X) \
    X(UpdateDriverForPlugAndPlayDevicesW, FARPROC)                  \
    X(GetVolumeNameForVolumeMountPointW, FARPROC)                   \
    X(SetupCopyOEMInfW, FARPROC)                                    \
    X(SetupDiGetClassDevsW, ClassDevsProc)                          \
    X(SetupDiGetClassDevsExW, ClassDevsExProc)                      \
    X(SetupDiEnumDeviceInterfaces, FARPROC)                         \
    X(SetupDiGetDeviceInterfaceDetailW, FARPROC)                    \
    X(SetupDiDestroyDeviceInfoList, DestroyListProc)                \
    X(SetupDiOpenDeviceInfoW, FARPROC)                              \
    X(SetupDiGetDeviceRegistryPropertyW, FARPROC)                   \
    X(SetupDiSetDeviceRegistryPropertyW, FARPROC)                   \
    X(SetupDiGetDeviceInstanceIdW, FARPROC)                         \
    X(SetupDiGetClassImageList, FARPROC)                            \
    X(SetupDiGetClassImageIndex, FARPROC)                           \
    X(SetupDiDestroyClassImageList, FARPROC)                        \
    X(SetupDiSetClassInstallParamsW, FARPROC)                       \
    X(SetupDiCallClassInstaller, FARPROC)                           \
    X(SetupDiEnumDeviceInfo, EnumDeviceInfoProc)                    \
    X(SetupDiGetDevicePropertyW, DevicePropertyProc)                \
    X(SetupDiLoadDeviceIcon, FARPROC)                               \
    X(SetupDiLoadClassIcon, LoadClassIconProc)                      \
    X(SetupDiGetDevicePropertyKeys, DevicePropertyKeysProc)         \
    X(SetupDiGetClassPropertyKeys, ClassPropertyKeysProc)           \
    X(SetupDiGetDeviceInterfacePropertyKeys, FARPROC)               \
    X(SetupDiClassNameFromGuidW, ClassNameProc)                     \
    X(CM_Disconnect_Machine, DisconnectProc)                        \
    X(CM_Locate_DevNodeW, LocateDevNodeProc)                        \
    X(CM_Locate_DevNode_ExW, LocateDevNodeExProc)                   \
    X(CM_Connect_MachineW, ConnectProc)                             \
    X(CM_Get_Sibling, RelativeProc)                                 \
    X(CM_Get_Sibling_Ex, RelativeExProc)                            \
    X(CM_Get_Child, RelativeProc)                                   \
    X(CM_Get_Child_Ex, RelativeExProc)                              \
    X(CM_Get_Parent, RelativeProc)                                  \
    X(CM_Get_Parent_Ex, RelativeExProc)                             \
    X(CM_Get_Device_IDW, DeviceIdProc)                              \
    X(CM_Get_Device_ID_ExW, DeviceIdExProc)                         \
    X(CM_Get_DevNode_Registry_PropertyW, RegistryPropertyProc)      \
    X(CM_Get_DevNode_Registry_Property_ExW, RegistryPropertyExProc) \
    X(CM_Set_DevNode_Registry_PropertyW, FARPROC)                   \
    X(CM_Set_DevNode_Registry_Property_ExW, FARPROC)                \
    X(CM_Get_DevNode_Status, StatusProc)                            \
    X(CM_Get_Device_Interface_ListW, FARPROC)                       \
    X(CM_Get_Device_Interface_List_ExW, FARPROC)                    \
    X(CM_Get_Device_Interface_List_SizeW, FARPROC)                  \
    X(CM_Get_Device_Interface_List_Size_ExW, FARPROC)               \
    X(CM_Get_Device_ID_ListA, FARPROC)                              \
    X(CM_Get_Device_ID_ListW, FARPROC)                              \
    X(CM_Get_Device_ID_List_SizeA, FARPROC)                         \
    X(CM_Get_Device_ID_List_SizeW, FARPROC)                         \
    X(CM_Get_Device_ID_List_ExA, FARPROC)                           \
    X(CM_Get_Device_ID_List_ExW, FARPROC)                           \
    X(CM_Get_Device_ID_List_Size_ExA, FARPROC)                      \
    X(CM_Get_Device_ID_List_Size_ExW, FARPROC)                      \
    X(CM_Request_Device_EjectW, FARPROC)                            \
    X(CM_Request_Device_Eject_ExW, FARPROC)                         \
    X(CM_Reenumerate_DevNode_Ex, FARPROC)                           \
    X(CM_Open_DevNode_Key, OpenKeyProc)                             \
    X(CM_Open_DevNode_Key_Ex, OpenKeyExProc)                        \
    X(CMP_WaitNoPendingInstallEvents, FARPROC)                      \
    X(SetupOpenInfFileW, FARPROC)                                   \
    X(SetupOpenFileQueue, FARPROC)                                  \
    X(SetupCommitFileQueueW, FARPROC)                               \
    X(SetupInstallFilesFromInfSectionW, FARPROC)                    \
    X(SetupInstallServicesFromInfSectionW, FARPROC)                 \
    X(SetupInstallFromInfSectionW, FARPROC)                         \
    X(SetupCloseInfFile, FARPROC)                                   \
    X(SetupCloseFileQueue, FARPROC)                                 \
    X(SetupDefaultQueueCallbackW, FARPROC)                          \
    X(SetupInitDefaultQueueCallback, FARPROC)                       \
    X(SetupUninstallOEMInfW, FARPROC)                               \
    X(SetupDiOpenDevRegKey, FARPROC)                                \
    X(SetupDiOpenClassRegKeyExW, OpenClassKeyProc)                  \
    X(SetupDiOpenDeviceInterfaceRegKey, FARPROC)                    \
    X(SetupDiGetDeviceInstallParamsW, FARPROC)

// The configuration-manager and setup-API entry points, bound at run time by
// name. A slot whose library or name is absent stays null and the operation
// that needs it reports no data, so Quillmere starts on any Windows.
struct DeviceApi {
    typedef CONFIGRET(WINAPI* LocateDevNodeProc)(PDEVINST, DEVINSTID_W, ULONG);
    typedef CONFIGRET(WINAPI* LocateDevNodeExProc)(PDEVINST, DEVINSTID_W, ULONG, HMACHINE);
    typedef CONFIGRET(WINAPI* RelativeProc)(PDEVINST, DEVINST, ULONG);
    typedef CONFIGRET(WINAPI* RelativeExProc)(PDEVINST, DEVINST, ULONG, HMACHINE);
    typedef CONFIGRET(WINAPI* DeviceIdProc)(DEVINST, PWSTR, ULONG, ULONG);
    typedef CONFIGRET(WINAPI* DeviceIdExProc)(DEVINST, PWSTR, ULONG, ULONG, HMACHINE);
    typedef CONFIGRET(WINAPI* RegistryPropertyProc)(DEVINST, ULONG, PULONG, PVOID, PULONG, ULONG);
    typedef CONFIGRET(WINAPI* RegistryPropertyExProc)(DEVINST, ULONG, PULONG, PVOID, PULONG, ULONG,
                                                      HMACHINE);
    typedef CONFIGRET(WINAPI* StatusProc)(PULONG, PULONG, DEVINST, ULONG);
    typedef CONFIGRET(WINAPI* OpenKeyProc)(DEVINST, REGSAM, ULONG, REGDISPOSITION, PHKEY, ULONG);
    typedef CONFIGRET(WINAPI* OpenKeyExProc)(DEVINST, REGSAM, ULONG, REGDISPOSITION, PHKEY, ULONG,
                                             HMACHINE);
    typedef CONFIGRET(WINAPI* ConnectProc)(PCWSTR, PHMACHINE);
    typedef CONFIGRET(WINAPI* DisconnectProc)(HMACHINE);
    typedef HDEVINFO(WINAPI* ClassDevsProc)(const GUID*, PCWSTR, HWND, DWORD);
    typedef HDEVINFO(WINAPI* ClassDevsExProc)(const GUID*, PCWSTR, HWND, DWORD, HDEVINFO, PCWSTR,
                                              PVOID);
    typedef BOOL(WINAPI* EnumDeviceInfoProc)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
    typedef BOOL(WINAPI* DestroyListProc)(HDEVINFO);
    typedef BOOL(WINAPI* LoadClassIconProc)(const GUID*, HICON*, PINT);
    typedef BOOL(WINAPI* DevicePropertyProc)(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*,
                                             DEVPROPTYPE*, PBYTE, DWORD, PDWORD, DWORD);
    typedef BOOL(WINAPI* DevicePropertyKeysProc)(HDEVINFO, PSP_DEVINFO_DATA, DEVPROPKEY*, DWORD,
                                                 PDWORD, DWORD);
    typedef BOOL(WINAPI* ClassPropertyKeysProc)(const GUID*, DEVPROPKEY*, DWORD, PDWORD, DWORD);
    typedef BOOL(WINAPI* ClassNameProc)(const GUID*, PWSTR, DWORD, PDWORD);
    typedef HKEY(WINAPI* OpenClassKeyProc)(const GUID*, REGSAM, DWORD, PCWSTR, PVOID);

    // The libraries: bare names come from the system directory, except the
    // setup library, a known DLL (LibraryHolder::LoadKnownDll). Tests swap
    // in stand-ins, by full path where a bare name would not reach them.
    struct LibraryNames {
        const wchar_t* newdev;
        const wchar_t* setup;
        const wchar_t* configManager;
        const wchar_t* kernel;
    };
    static const LibraryNames SystemLibraries;

    // The slots are one array, indexed in lookup order; each name has an
    // index (Slot_<name>) and a typed accessor (<name>()) made from the list
    // above, so names, order and types cannot drift apart.
    enum SlotIndex {
#define DEVICE_API_SLOT_INDEX(name, type) Slot_##name,
        DEVICE_API_SLOTS(DEVICE_API_SLOT_INDEX)
#undef DEVICE_API_SLOT_INDEX
        SlotCount
    };

#define DEVICE_API_SLOT_ACCESSOR(name, type) \
    type name() const { return reinterpret_cast<type>(slots_[Slot_##name]); }
    DEVICE_API_SLOTS(DEVICE_API_SLOT_ACCESSOR)
#undef DEVICE_API_SLOT_ACCESSOR

    // The connection: 0 for the local machine.
    HMACHINE machine = nullptr;
    WideString machineName;

    LibraryHolder newdevLibrary;
    LibraryHolder setupLibrary;
    LibraryHolder configManagerLibrary;
    LibraryHolder kernelLibrary;

    DeviceApi();
    ~DeviceApi();
    DeviceApi(const DeviceApi&) = delete;
    DeviceApi& operator=(const DeviceApi&) = delete;

    // The owner's top-level node list, emptied by Bind and Unbind.
    void AttachNodes(NodeList* topLevel) { topLevel_ = topLevel; }
    void UseLibraries(const LibraryNames& names) { names_ = names; }
    // The entry points of `binding` instead of the libraries from the next
    // Bind on; nullptr returns to the libraries.
    void UseBinding(DeviceBinding* binding) { binding_ = binding; }
    DeviceBinding* Binding() const { return binding_; }

    // Binds every slot it can; always returns 1.
    [[nodiscard]] int Bind();
    // Deletes the nodes, ends a remote connection and frees the libraries.
    void Unbind();
    // Ends a remote connection, if one is held.
    void Disconnect();
    bool IsRemote() const { return machine != nullptr; }

    // The slot at `index` in lookup order (tests and the availability check).
    FARPROC Slot(int index) const;
    // Puts `procedure` into the slot at `index` (tools that watch the calls
    // pass them on to what was bound there); 0 for an index out of range.
    int SetSlot(int index, FARPROC procedure);
    static const char* SlotName(int index);
    int BoundSlotCount() const;

    // The wrapped calls: the _Ex form with the machine handle when connected.
    CONFIGRET LocateRoot(DEVINST* root) const;
    CONFIGRET GetChild(DEVINST* child, DEVINST parent) const;
    CONFIGRET GetSibling(DEVINST* sibling, DEVINST node) const;
    CONFIGRET GetDeviceId(DEVINST node, wchar_t* buffer, ULONG length) const;
    CONFIGRET GetRegistryProperty(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                  ULONG* length) const;
    CONFIGRET OpenDevNodeKey(DEVINST node, ULONG which, HKEY* key) const;
    // `flags` 0 or DIGCF_ALLCLASSES (with no class GUID): never
    // DIGCF_PRESENT, so devices that are not present are included.
    HDEVINFO GetClassDevs(const GUID* classGuid, DWORD flags = 0) const;

private:
    void ClearSlots();
    void BindGroup(const LibraryHolder& library, int first, int count, int skip = -1);

    FARPROC slots_[SlotCount];
    NodeList* topLevel_ = nullptr;
    LibraryNames names_;
    DeviceBinding* binding_ = nullptr;
};

static_assert(DeviceApi::SlotCount == 75, "the device API binds 75 names");
