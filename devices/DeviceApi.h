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

#ifndef DICLASSPROP_INSTALLER
#define DICLASSPROP_INSTALLER 0x00000001
#define DICLASSPROP_INTERFACE 0x00000002
#endif

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

    // The libraries, loaded by bare name. Tests swap in stand-ins.
    struct LibraryNames {
        const wchar_t* newdev;
        const wchar_t* setup;
        const wchar_t* configManager;
        const wchar_t* kernel;
    };
    static const LibraryNames SystemLibraries;

    // --- the 75 slots, in the order they are looked up --------------------
    // newdev.dll
    FARPROC UpdateDriverForPlugAndPlayDevicesW;
    // kernel32.dll
    FARPROC GetVolumeNameForVolumeMountPointW;
    // setupapi.dll, first group
    FARPROC SetupCopyOEMInfW;
    ClassDevsProc SetupDiGetClassDevsW;
    ClassDevsExProc SetupDiGetClassDevsExW;
    FARPROC SetupDiEnumDeviceInterfaces;
    FARPROC SetupDiGetDeviceInterfaceDetailW;
    DestroyListProc SetupDiDestroyDeviceInfoList;
    FARPROC SetupDiOpenDeviceInfoW;
    FARPROC SetupDiGetDeviceRegistryPropertyW;
    FARPROC SetupDiSetDeviceRegistryPropertyW;
    FARPROC SetupDiGetDeviceInstanceIdW;
    FARPROC SetupDiGetClassImageList;
    FARPROC SetupDiGetClassImageIndex;
    FARPROC SetupDiDestroyClassImageList;
    FARPROC SetupDiSetClassInstallParamsW;
    FARPROC SetupDiCallClassInstaller;
    EnumDeviceInfoProc SetupDiEnumDeviceInfo;
    DevicePropertyProc SetupDiGetDevicePropertyW;
    FARPROC SetupDiLoadDeviceIcon;
    LoadClassIconProc SetupDiLoadClassIcon;
    DevicePropertyKeysProc SetupDiGetDevicePropertyKeys;
    ClassPropertyKeysProc SetupDiGetClassPropertyKeys;
    FARPROC SetupDiGetDeviceInterfacePropertyKeys;
    ClassNameProc SetupDiClassNameFromGuidW;
    // the configuration-manager group (also found in cfgmgr32.dll)
    DisconnectProc CM_Disconnect_Machine;
    LocateDevNodeProc CM_Locate_DevNodeW;
    LocateDevNodeExProc CM_Locate_DevNode_ExW;
    ConnectProc CM_Connect_MachineW;
    RelativeProc CM_Get_Sibling;
    RelativeExProc CM_Get_Sibling_Ex;
    RelativeProc CM_Get_Child;
    RelativeExProc CM_Get_Child_Ex;
    RelativeProc CM_Get_Parent;
    RelativeExProc CM_Get_Parent_Ex;
    DeviceIdProc CM_Get_Device_IDW;
    DeviceIdExProc CM_Get_Device_ID_ExW;
    RegistryPropertyProc CM_Get_DevNode_Registry_PropertyW;
    RegistryPropertyExProc CM_Get_DevNode_Registry_Property_ExW;
    FARPROC CM_Set_DevNode_Registry_PropertyW;
    FARPROC CM_Set_DevNode_Registry_Property_ExW;
    StatusProc CM_Get_DevNode_Status;
    FARPROC CM_Get_Device_Interface_ListW;
    FARPROC CM_Get_Device_Interface_List_ExW;
    FARPROC CM_Get_Device_Interface_List_SizeW;
    FARPROC CM_Get_Device_Interface_List_Size_ExW;
    FARPROC CM_Get_Device_ID_ListA;
    FARPROC CM_Get_Device_ID_ListW;
    FARPROC CM_Get_Device_ID_List_SizeA;
    FARPROC CM_Get_Device_ID_List_SizeW;
    FARPROC CM_Get_Device_ID_List_ExA;
    FARPROC CM_Get_Device_ID_List_ExW;
    FARPROC CM_Get_Device_ID_List_Size_ExA;
    FARPROC CM_Get_Device_ID_List_Size_ExW;
    FARPROC CM_Request_Device_EjectW;
    FARPROC CM_Request_Device_Eject_ExW;
    FARPROC CM_Reenumerate_DevNode_Ex; // setup library only
    OpenKeyProc CM_Open_DevNode_Key;
    OpenKeyExProc CM_Open_DevNode_Key_Ex;
    FARPROC CMP_WaitNoPendingInstallEvents;
    // setupapi.dll, last group
    FARPROC SetupOpenInfFileW;
    FARPROC SetupOpenFileQueue;
    FARPROC SetupCommitFileQueueW;
    FARPROC SetupInstallFilesFromInfSectionW;
    FARPROC SetupInstallServicesFromInfSectionW;
    FARPROC SetupInstallFromInfSectionW;
    FARPROC SetupCloseInfFile;
    FARPROC SetupCloseFileQueue;
    FARPROC SetupDefaultQueueCallbackW;
    FARPROC SetupInitDefaultQueueCallback;
    FARPROC SetupUninstallOEMInfW;
    FARPROC SetupDiOpenDevRegKey;
    OpenClassKeyProc SetupDiOpenClassRegKeyExW;
    FARPROC SetupDiOpenDeviceInterfaceRegKey;
    FARPROC SetupDiGetDeviceInstallParamsW;
    // --- end of slots ------------------------------------------------------

    static const int SlotCount = 75;

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

    // Binds every slot it can; always returns 1.
    int Bind();
    // Deletes the nodes, ends a remote connection and frees the libraries.
    void Unbind();
    // Ends a remote connection, if one is held.
    void Disconnect();
    bool IsRemote() const { return machine != nullptr; }

    // The slot at `index` in lookup order (tests and the availability check).
    FARPROC Slot(int index) const;
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
    HDEVINFO GetClassDevs(const GUID* classGuid) const;

private:
    void ClearSlots();
    void BindGroup(const LibraryHolder& library, int first, int count, int skip = -1);

    NodeList* topLevel_ = nullptr;
    LibraryNames names_;
};
