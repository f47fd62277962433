#pragma once

// Every name the simulator exports, in the order the product looks them up.
// The second column is the group: SETUP (setup API), CM (configuration
// manager, also served by the cfgmgr32 stand-in), CM_SETUP_ONLY (a
// configuration-manager name that only setupapi.dll carries) and HELPER (the
// test hooks, never bound by the product). The .def files of the three DLL
// variants are generated from this list, so it is the only place to add a name.
#define SIMULATOR_ENTRY_POINTS(X)                           \
    X(SetupCopyOEMInfW, SETUP)                              \
    X(SetupDiGetClassDevsW, SETUP)                          \
    X(SetupDiGetClassDevsExW, SETUP)                        \
    X(SetupDiEnumDeviceInterfaces, SETUP)                   \
    X(SetupDiGetDeviceInterfaceDetailW, SETUP)              \
    X(SetupDiDestroyDeviceInfoList, SETUP)                  \
    X(SetupDiOpenDeviceInfoW, SETUP)                        \
    X(SetupDiGetDeviceRegistryPropertyW, SETUP)             \
    X(SetupDiSetDeviceRegistryPropertyW, SETUP)             \
    X(SetupDiGetDeviceInstanceIdW, SETUP)                   \
    X(SetupDiGetClassImageList, SETUP)                      \
    X(SetupDiGetClassImageIndex, SETUP)                     \
    X(SetupDiDestroyClassImageList, SETUP)                  \
    X(SetupDiSetClassInstallParamsW, SETUP)                 \
    X(SetupDiCallClassInstaller, SETUP)                     \
    X(SetupDiEnumDeviceInfo, SETUP)                         \
    X(SetupDiGetDevicePropertyW, SETUP)                     \
    X(SetupDiLoadDeviceIcon, SETUP)                         \
    X(SetupDiLoadClassIcon, SETUP)                          \
    X(SetupDiGetDevicePropertyKeys, SETUP)                  \
    X(SetupDiGetClassPropertyKeys, SETUP)                   \
    X(SetupDiGetDeviceInterfacePropertyKeys, SETUP)         \
    X(SetupDiClassNameFromGuidW, SETUP)                     \
    X(CM_Disconnect_Machine, CM)                            \
    X(CM_Locate_DevNodeW, CM)                               \
    X(CM_Locate_DevNode_ExW, CM)                            \
    X(CM_Connect_MachineW, CM)                              \
    X(CM_Get_Sibling, CM)                                   \
    X(CM_Get_Sibling_Ex, CM)                                \
    X(CM_Get_Child, CM)                                     \
    X(CM_Get_Child_Ex, CM)                                  \
    X(CM_Get_Parent, CM)                                    \
    X(CM_Get_Parent_Ex, CM)                                 \
    X(CM_Get_Device_IDW, CM)                                \
    X(CM_Get_Device_ID_ExW, CM)                             \
    X(CM_Get_DevNode_Registry_PropertyW, CM)                \
    X(CM_Get_DevNode_Registry_Property_ExW, CM)             \
    X(CM_Set_DevNode_Registry_PropertyW, CM)                \
    X(CM_Set_DevNode_Registry_Property_ExW, CM)             \
    X(CM_Get_DevNode_Status, CM)                            \
    X(CM_Get_Device_Interface_ListW, CM)                    \
    X(CM_Get_Device_Interface_List_ExW, CM)                 \
    X(CM_Get_Device_Interface_List_SizeW, CM)               \
    X(CM_Get_Device_Interface_List_Size_ExW, CM)            \
    X(CM_Get_Device_ID_ListA, CM)                           \
    X(CM_Get_Device_ID_ListW, CM)                           \
    X(CM_Get_Device_ID_List_SizeA, CM)                      \
    X(CM_Get_Device_ID_List_SizeW, CM)                      \
    X(CM_Get_Device_ID_List_ExA, CM)                        \
    X(CM_Get_Device_ID_List_ExW, CM)                        \
    X(CM_Get_Device_ID_List_Size_ExA, CM)                   \
    X(CM_Get_Device_ID_List_Size_ExW, CM)                   \
    X(CM_Request_Device_EjectW, CM)                         \
    X(CM_Request_Device_Eject_ExW, CM)                      \
    X(CM_Reenumerate_DevNode_Ex, CM_SETUP_ONLY)             \
    X(CM_Open_DevNode_Key, CM)                              \
    X(CM_Open_DevNode_Key_Ex, CM)                           \
    X(CMP_WaitNoPendingInstallEvents, CM)                   \
    X(SetupOpenInfFileW, SETUP)                             \
    X(SetupOpenFileQueue, SETUP)                            \
    X(SetupCommitFileQueueW, SETUP)                         \
    X(SetupInstallFilesFromInfSectionW, SETUP)              \
    X(SetupInstallServicesFromInfSectionW, SETUP)           \
    X(SetupInstallFromInfSectionW, SETUP)                   \
    X(SetupCloseInfFile, SETUP)                             \
    X(SetupCloseFileQueue, SETUP)                           \
    X(SetupDefaultQueueCallbackW, SETUP)                    \
    X(SetupInitDefaultQueueCallback, SETUP)                 \
    X(SetupUninstallOEMInfW, SETUP)                         \
    X(SetupDiOpenDevRegKey, SETUP)                          \
    X(SetupDiOpenClassRegKeyExW, SETUP)                     \
    X(SetupDiOpenDeviceInterfaceRegKey, SETUP)              \
    X(SetupDiGetDeviceInstallParamsW, SETUP)                \
    X(SimulatorCalls, HELPER)                               \
    X(SimulatorResetCalls, HELPER)                          \
    X(SimulatorOpenSets, HELPER)                            \
    X(SimulatorIconsAlive, HELPER)                          \
    X(SimulatorLastError, HELPER)

enum class Entry : int {
#define SIMULATOR_ENUM_ENTRY(name, group) name,
    SIMULATOR_ENTRY_POINTS(SIMULATOR_ENUM_ENTRY)
#undef SIMULATOR_ENUM_ENTRY
    Count
};

const int EntryCount = (int)Entry::Count;

// The exported name of an entry point, and the entry point of a name (-1
// when the simulator has no such name).
const char* EntryName(Entry entry);
int EntryFromName(const char* name, int length = -1);
