// The setup-API entry points: device information sets over the simulated
// machine, device and class properties, class names, icons and keys.

#define _SETUPAPI_
#include <windows.h>
#include <setupapi.h>

#include "Simulator.h"

#ifdef _WIN64
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "callers pass cbSize 32 on 64-bit Windows");
#else
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "callers pass cbSize 28 on 32-bit Windows");
#endif

namespace {

const DWORD kOpenDeviceFlags = DIOD_INHERIT_CLASSDRVS | DIOD_CANCEL_REMOVE;
const DWORD kClassPropertyInstaller = 1; // DICLASSPROP_INSTALLER
const DWORD kClassPropertyInterface = 2; // DICLASSPROP_INTERFACE
const DWORD kLastRegistryProperty = 0x24; // SPDRP_MAXIMUM_PROPERTY - 1

BOOL FailWith(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL Succeed()
{
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

std::wstring UpperAsciiText(const wchar_t* text)
{
    return UpperAscii(text ? std::wstring(text) : std::wstring());
}

// The enumerator of an instance ID is its first component ("PCI" of "PCI\VEN_...").
bool HasEnumerator(const Device& device, const std::wstring& upperEnumerator)
{
    const std::wstring& id = device.instanceId;
    size_t slash = id.find(L'\\');
    return UpperAscii(id.substr(0, slash)) == upperEnumerator;
}

HDEVINFO ClassDevices(Entry entry, const GUID* classGuid, PCWSTR enumerator, DWORD flags, HDEVINFO existing,
                      PCWSTR machineName)
{
    std::shared_ptr<Machine> machine = Simulator::CurrentMachineShared();
    if (!machine) {
        FailWith(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    if (machine->IsUnreachable(machineName)) {
        FailWith(ERROR_INVALID_MACHINENAME);
        return INVALID_HANDLE_VALUE;
    }
    if (flags & DIGCF_DEVICEINTERFACE) {
        FailWith(ERROR_CALL_NOT_IMPLEMENTED); // the machine has no device interfaces
        return INVALID_HANDLE_VALUE;
    }
    if (!(flags & DIGCF_ALLCLASSES) && !classGuid) {
        FailWith(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const SetupClass* setupClass = (flags & DIGCF_ALLCLASSES) ? nullptr : machine->FindClass(*classGuid);
    if (Simulator::Fails(*machine, entry, setupClass)) {
        FailWith(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    DeviceSet* target = nullptr;
    if (existing && existing != INVALID_HANDLE_VALUE) {
        target = Simulator::LiveSet(existing);
        if (!target || target->machine != machine) {
            FailWith(ERROR_INVALID_HANDLE);
            return INVALID_HANDLE_VALUE;
        }
    }

    bool filtered = enumerator && *enumerator;
    std::wstring upperEnumerator = UpperAsciiText(enumerator);
    if (!target)
        target = Simulator::NewSet(machine);
    std::vector<int>& members = target->devices;
    std::vector<char> present(machine->devices.size(), 0);
    for (int index : members)
        present[index] = 1;
    // Windows builds every set by walking its whole device database, the
    // devices that are not present included (no DIGCF_PRESENT asked), so a
    // set costs time in the number of devices whatever it ends up holding.
    bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
    const GUID wanted = allClasses ? GUID() : *classGuid;
    for (int index : machine->allDevices) {
        const Device& device = machine->devices[index];
        const GUID own = device.hasSetupClass ? device.setupClass : GUID();
        if (present[index] || (!allClasses && !IsEqualGUID(own, wanted)))
            continue;
        if (!filtered || HasEnumerator(device, upperEnumerator))
            members.push_back(index);
    }
    Succeed();
    return (HDEVINFO)target;
}

// The set behind a handle and the device of one of its elements.
DWORD FindElement(HDEVINFO handle, const SP_DEVINFO_DATA* element, DeviceSet*& set, const Device*& device)
{
    set = Simulator::LiveSet(handle);
    if (!set)
        return ERROR_INVALID_HANDLE;
    if (!element)
        return ERROR_INVALID_PARAMETER;
    if (element->cbSize != sizeof(SP_DEVINFO_DATA))
        return ERROR_INVALID_USER_BUFFER;
    int index = set->machine->FindDeviceIndex(element->DevInst);
    if (index < 0)
        return ERROR_NO_SUCH_DEVINST;
    // Elements from SetupDiEnumDeviceInfo carry their position as a hint.
    const std::vector<int>& members = set->devices;
    ULONG_PTR hint = element->Reserved;
    if (!(hint >= 1 && hint <= members.size() && members[hint - 1] == index) && set->Find(index) < 0)
        return ERROR_NO_SUCH_DEVINST;
    device = &set->machine->devices[index];
    return ERROR_SUCCESS;
}

void FillElement(SP_DEVINFO_DATA* element, const Device& device, size_t position)
{
    element->ClassGuid = device.hasSetupClass ? device.setupClass : GUID();
    element->DevInst = device.handle;
    element->Reserved = position + 1;
}

BOOL CopyKeys(const std::vector<DEVPROPKEY>& keys, DEVPROPKEY* array, DWORD count, PDWORD required)
{
    if (required)
        *required = (DWORD)keys.size();
    if (count < keys.size())
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    if (!keys.empty())
        memcpy(array, keys.data(), keys.size() * sizeof(DEVPROPKEY));
    return Succeed();
}

const SetupClass* FindClass(Entry entry, const GUID* classGuid, Machine*& machine, DWORD& error)
{
    machine = Simulator::CurrentMachine();
    error = ERROR_SUCCESS;
    if (!classGuid)
        error = ERROR_INVALID_PARAMETER;
    else if (!machine)
        error = ERROR_GEN_FAILURE;
    const SetupClass* setupClass = error ? nullptr : machine->FindClass(*classGuid);
    if (!error && !setupClass)
        error = ERROR_INVALID_CLASS;
    if (!error && Simulator::Fails(*machine, entry, setupClass))
        error = ERROR_GEN_FAILURE;
    return error ? nullptr : setupClass;
}

// The size protocol of the property reads: the (possibly lying) size is
// reported, the data copied only when the whole of it fits.
BOOL Deliver(const TypedData& data, PBYTE buffer, DWORD bufferSize, PDWORD required)
{
    if (required)
        *required = data.ReportedSize();
    if (bufferSize < data.Size())
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    if (data.Size())
        memcpy(buffer, data.bytes.data(), data.Size());
    return Succeed();
}

BOOL NotImplemented()
{
    return FailWith(ERROR_CALL_NOT_IMPLEMENTED);
}

} // namespace

#define CALL(name) ScopedCall call(Entry::name)
#define FIND_ELEMENT(handle, element, set, device)                \
    DeviceSet* set = nullptr;                                     \
    const Device* device = nullptr;                               \
    do {                                                          \
        DWORD elementError = FindElement(handle, element, set, device); \
        if (elementError != ERROR_SUCCESS)                        \
            return FailWith(elementError);                        \
    } while (0)

extern "C" {

// Not declared by every SDK's setupapi.h.
WINBOOL WINAPI SetupDiGetClassPropertyKeys(const GUID* ClassGuid, DEVPROPKEY* PropertyKeyArray, DWORD PropertyKeyCount,
                                           PDWORD RequiredPropertyKeyCount, DWORD Flags);
WINBOOL WINAPI SetupDiLoadDeviceIcon(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, UINT cxIcon, UINT cyIcon,
                                     DWORD Flags, HICON* hIcon);
WINBOOL WINAPI SetupDiGetDeviceInterfacePropertyKeys(HDEVINFO DeviceInfoSet,
                                                     PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                                     DEVPROPKEY* PropertyKeyArray, DWORD PropertyKeyCount,
                                                     PDWORD RequiredPropertyKeyCount, DWORD Flags);

HDEVINFO WINAPI SetupDiGetClassDevsW(CONST GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    CALL(SetupDiGetClassDevsW);
    return ClassDevices(Entry::SetupDiGetClassDevsW, ClassGuid, Enumerator, Flags, nullptr, nullptr);
}

HDEVINFO WINAPI SetupDiGetClassDevsExW(CONST GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags,
                                       HDEVINFO DeviceInfoSet, PCWSTR MachineName, PVOID Reserved)
{
    CALL(SetupDiGetClassDevsExW);
    if (Reserved) {
        FailWith(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return ClassDevices(Entry::SetupDiGetClassDevsExW, ClassGuid, Enumerator, Flags, DeviceInfoSet, MachineName);
}

WINBOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    CALL(SetupDiEnumDeviceInfo);
    DeviceSet* set = Simulator::LiveSet(DeviceInfoSet);
    if (!set)
        return FailWith(ERROR_INVALID_HANDLE);
    if (!DeviceInfoData)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return FailWith(ERROR_INVALID_USER_BUFFER);
    const std::vector<int>& members = set->devices;
    if (MemberIndex >= members.size())
        return FailWith(ERROR_NO_MORE_ITEMS);
    const Device& device = set->machine->devices[members[MemberIndex]];
    if (Simulator::Fails(*set->machine, Entry::SetupDiEnumDeviceInfo, &device))
        return FailWith(ERROR_GEN_FAILURE);
    FillElement(DeviceInfoData, device, MemberIndex);
    return Succeed();
}

WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    CALL(SetupDiDestroyDeviceInfoList);
    DeviceSet* set = Simulator::LiveSet(DeviceInfoSet);
    if (!set)
        return FailWith(ERROR_INVALID_HANDLE);
    if (Simulator::Fails(*set->machine, Entry::SetupDiDestroyDeviceInfoList))
        return FailWith(ERROR_GEN_FAILURE);
    Simulator::DestroySet(set);
    return Succeed();
}

WINBOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId, HWND hwndParent,
                                      DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData)
{
    CALL(SetupDiOpenDeviceInfoW);
    DeviceSet* set = Simulator::LiveSet(DeviceInfoSet);
    if (!set)
        return FailWith(ERROR_INVALID_HANDLE);
    if (!DeviceInstanceId)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (OpenFlags & ~kOpenDeviceFlags)
        return FailWith(ERROR_INVALID_FLAGS);
    if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return FailWith(ERROR_INVALID_USER_BUFFER);
    int index = set->machine->FindDeviceById(DeviceInstanceId);
    if (index < 0)
        return FailWith(ERROR_NO_SUCH_DEVINST);
    const Device& device = set->machine->devices[index];
    if (Simulator::Fails(*set->machine, Entry::SetupDiOpenDeviceInfoW, &device))
        return FailWith(ERROR_GEN_FAILURE);
    int position = set->Find(index);
    if (position < 0) {
        std::vector<int>& members = set->devices;
        members.push_back(index);
        position = (int)members.size() - 1;
    }
    if (DeviceInfoData)
        FillElement(DeviceInfoData, device, position);
    return Succeed();
}

WINBOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize)
{
    CALL(SetupDiGetDeviceInstanceIdW);
    FIND_ELEMENT(DeviceInfoSet, DeviceInfoData, set, device);
    if (!DeviceInstanceId && DeviceInstanceIdSize)
        return FailWith(ERROR_INVALID_USER_BUFFER);
    if (Simulator::Fails(*set->machine, Entry::SetupDiGetDeviceInstanceIdW, device))
        return FailWith(ERROR_GEN_FAILURE);
    DWORD needed = (DWORD)device->instanceId.size() + 1;
    if (RequiredSize)
        *RequiredSize = needed;
    if (DeviceInstanceIdSize < needed)
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    memcpy(DeviceInstanceId, device->instanceId.c_str(), needed * sizeof(wchar_t));
    return Succeed();
}

WINBOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                 DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                                 DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    CALL(SetupDiGetDeviceRegistryPropertyW);
    FIND_ELEMENT(DeviceInfoSet, DeviceInfoData, set, device);
    if (Property > kLastRegistryProperty)
        return FailWith(ERROR_INVALID_REG_PROPERTY);
    if (!PropertyBuffer && PropertyBufferSize)
        return FailWith(ERROR_INVALID_USER_BUFFER);
    if (Simulator::Fails(*set->machine, Entry::SetupDiGetDeviceRegistryPropertyW, device))
        return FailWith(ERROR_GEN_FAILURE);
    const RegistryProperty* property = device->FindRegistryProperty(Property + 1); // SPDRP_ is CM_DRP_ - 1
    if (!property)
        return FailWith(ERROR_INVALID_DATA);
    const TypedData& data = property->data;
    if (PropertyRegDataType)
        *PropertyRegDataType = data.type;
    return Deliver(data, PropertyBuffer, PropertyBufferSize, RequiredSize);
}

WINBOOL WINAPI SetupDiGetDevicePropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                         const DEVPROPKEY* PropertyKey, DEVPROPTYPE* PropertyType,
                                         PBYTE PropertyBuffer, DWORD PropertyBufferSize, PDWORD RequiredSize,
                                         DWORD Flags)
{
    CALL(SetupDiGetDevicePropertyW);
    FIND_ELEMENT(DeviceInfoSet, DeviceInfoData, set, device);
    if (!PropertyKey || !PropertyType)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (!PropertyBuffer && PropertyBufferSize)
        return FailWith(ERROR_INVALID_USER_BUFFER);
    if (Flags)
        return FailWith(ERROR_INVALID_FLAGS);
    if (Simulator::Fails(*set->machine, Entry::SetupDiGetDevicePropertyW, device))
        return FailWith(ERROR_GEN_FAILURE);
    const DeviceProperty* property = device->FindProperty(*PropertyKey);
    if (!property) {
        *PropertyType = DEVPROP_TYPE_EMPTY;
        if (RequiredSize)
            *RequiredSize = 0;
        return FailWith(ERROR_NOT_FOUND);
    }
    const TypedData& data = property->data;
    *PropertyType = data.type;
    return Deliver(data, PropertyBuffer, PropertyBufferSize, RequiredSize);
}

WINBOOL WINAPI SetupDiGetDevicePropertyKeys(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                            DEVPROPKEY* PropertyKeyArray, DWORD PropertyKeyCount,
                                            PDWORD RequiredPropertyKeyCount, DWORD Flags)
{
    CALL(SetupDiGetDevicePropertyKeys);
    FIND_ELEMENT(DeviceInfoSet, DeviceInfoData, set, device);
    if (!PropertyKeyArray && PropertyKeyCount)
        return FailWith(ERROR_INVALID_USER_BUFFER);
    if (Flags)
        return FailWith(ERROR_INVALID_FLAGS);
    if (Simulator::Fails(*set->machine, Entry::SetupDiGetDevicePropertyKeys, device))
        return FailWith(ERROR_GEN_FAILURE);
    std::vector<DEVPROPKEY> keys;
    keys.reserve(device->properties.size());
    for (const DeviceProperty& property : device->properties)
        keys.push_back(property.key);
    return CopyKeys(keys, PropertyKeyArray, PropertyKeyCount, RequiredPropertyKeyCount);
}

WINBOOL WINAPI SetupDiGetClassPropertyKeys(const GUID* ClassGuid, DEVPROPKEY* PropertyKeyArray, DWORD PropertyKeyCount,
                                           PDWORD RequiredPropertyKeyCount, DWORD Flags)
{
    CALL(SetupDiGetClassPropertyKeys);
    if (Flags != kClassPropertyInstaller && Flags != kClassPropertyInterface)
        return FailWith(ERROR_INVALID_FLAGS);
    if (!PropertyKeyArray && PropertyKeyCount)
        return FailWith(ERROR_INVALID_USER_BUFFER);
    Machine* machine;
    DWORD error;
    const SetupClass* setupClass = FindClass(Entry::SetupDiGetClassPropertyKeys, ClassGuid, machine, error);
    if (!setupClass)
        return FailWith(error);
    const std::vector<DEVPROPKEY>& keys =
        Flags == kClassPropertyInterface ? setupClass->interfacePropertyKeys : setupClass->installerPropertyKeys;
    return CopyKeys(keys, PropertyKeyArray, PropertyKeyCount, RequiredPropertyKeyCount);
}

WINBOOL WINAPI SetupDiClassNameFromGuidW(CONST GUID* ClassGuid, PWSTR ClassName, DWORD ClassNameSize,
                                         PDWORD RequiredSize)
{
    CALL(SetupDiClassNameFromGuidW);
    Machine* machine;
    DWORD error;
    const SetupClass* setupClass = FindClass(Entry::SetupDiClassNameFromGuidW, ClassGuid, machine, error);
    if (!setupClass)
        return FailWith(error);
    DWORD needed = (DWORD)setupClass->name.size() + 1;
    if (RequiredSize)
        *RequiredSize = needed;
    if (!ClassName || ClassNameSize < needed)
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    memcpy(ClassName, setupClass->name.c_str(), needed * sizeof(wchar_t));
    return Succeed();
}

HKEY WINAPI SetupDiOpenClassRegKeyExW(CONST GUID* ClassGuid, REGSAM samDesired, DWORD Flags, PCWSTR MachineName,
                                      PVOID Reserved)
{
    CALL(SetupDiOpenClassRegKeyExW);
    if (Flags != DIOCR_INSTALLER && Flags != DIOCR_INTERFACE) {
        FailWith(ERROR_INVALID_FLAGS);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    if (Reserved) {
        FailWith(ERROR_INVALID_PARAMETER);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    Machine* machine = nullptr;
    DWORD error = ERROR_SUCCESS;
    // The roots of all classes (a null GUID) are not part of the simulated machine.
    const SetupClass* setupClass =
        ClassGuid ? FindClass(Entry::SetupDiOpenClassRegKeyExW, ClassGuid, machine, error) : nullptr;
    if (!ClassGuid)
        error = ERROR_INVALID_CLASS;
    if (setupClass && machine->IsUnreachable(MachineName)) {
        setupClass = nullptr;
        error = ERROR_INVALID_MACHINENAME;
    }
    if (!setupClass) {
        FailWith(error);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    HKEY key = Simulator::OpenClassKey(*machine, (int)(setupClass - machine->classes.data()), Flags == DIOCR_INTERFACE,
                                       samDesired);
    if (!key) {
        FailWith(ERROR_INVALID_CLASS);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    Succeed();
    return key;
}

WINBOOL WINAPI SetupDiLoadClassIcon(CONST GUID* ClassGuid, HICON* LargeIcon, PINT MiniIconIndex)
{
    CALL(SetupDiLoadClassIcon);
    Machine* machine;
    DWORD error;
    const SetupClass* setupClass = FindClass(Entry::SetupDiLoadClassIcon, ClassGuid, machine, error);
    if (!setupClass)
        return FailWith(error);
    if (!setupClass->hasIcon)
        return FailWith(ERROR_INVALID_CLASS);
    if (LargeIcon) {
        DWORD iconError = ERROR_SUCCESS;
        HICON icon = Simulator::NewClassIcon(*machine, *setupClass, iconError);
        if (!icon)
            return FailWith(iconError);
        *LargeIcon = icon;
    }
    if (MiniIconIndex)
        *MiniIconIndex = setupClass->miniIconIndex;
    return Succeed();
}

// Entry points that take part in no test of the product: they answer, and do nothing.

WINBOOL WINAPI SetupCopyOEMInfW(PCWSTR SourceInfFileName, PCWSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType,
                                DWORD CopyStyle, PWSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                                PDWORD RequiredSize, PWSTR* DestinationInfFileNameComponent)
{
    CALL(SetupCopyOEMInfW);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           CONST GUID* InterfaceClassGuid, DWORD MemberIndex,
                                           PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    CALL(SetupDiEnumDeviceInterfaces);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                                DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                                PSP_DEVINFO_DATA DeviceInfoData)
{
    CALL(SetupDiGetDeviceInterfaceDetailW);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                 DWORD Property, CONST BYTE* PropertyBuffer,
                                                 DWORD PropertyBufferSize)
{
    CALL(SetupDiSetDeviceRegistryPropertyW);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiGetClassImageList(PSP_CLASSIMAGELIST_DATA ClassImageListData)
{
    CALL(SetupDiGetClassImageList);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiGetClassImageIndex(PSP_CLASSIMAGELIST_DATA ClassImageListData, CONST GUID* ClassGuid,
                                         PINT ImageIndex)
{
    CALL(SetupDiGetClassImageIndex);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiDestroyClassImageList(PSP_CLASSIMAGELIST_DATA ClassImageListData)
{
    CALL(SetupDiDestroyClassImageList);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                             PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                             DWORD ClassInstallParamsSize)
{
    CALL(SetupDiSetClassInstallParamsW);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                         PSP_DEVINFO_DATA DeviceInfoData)
{
    CALL(SetupDiCallClassInstaller);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiLoadDeviceIcon(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, UINT cxIcon, UINT cyIcon,
                                     DWORD Flags, HICON* hIcon)
{
    CALL(SetupDiLoadDeviceIcon);
    return NotImplemented();
}

WINBOOL WINAPI SetupDiGetDeviceInterfacePropertyKeys(HDEVINFO DeviceInfoSet,
                                                     PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                                     DEVPROPKEY* PropertyKeyArray, DWORD PropertyKeyCount,
                                                     PDWORD RequiredPropertyKeyCount, DWORD Flags)
{
    CALL(SetupDiGetDeviceInterfacePropertyKeys);
    return NotImplemented();
}

HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    CALL(SetupOpenInfFileW);
    NotImplemented();
    return INVALID_HANDLE_VALUE;
}

HSPFILEQ WINAPI SetupOpenFileQueue(VOID)
{
    CALL(SetupOpenFileQueue);
    NotImplemented();
    return INVALID_HANDLE_VALUE;
}

WINBOOL WINAPI SetupCommitFileQueueW(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_W MsgHandler, PVOID Context)
{
    CALL(SetupCommitFileQueueW);
    return NotImplemented();
}

WINBOOL WINAPI SetupInstallFilesFromInfSectionW(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
                                                PCWSTR SectionName, PCWSTR SourceRootPath, UINT CopyFlags)
{
    CALL(SetupInstallFilesFromInfSectionW);
    return NotImplemented();
}

WINBOOL WINAPI SetupInstallServicesFromInfSectionW(HINF InfHandle, PCWSTR SectionName, DWORD Flags)
{
    CALL(SetupInstallServicesFromInfSectionW);
    return NotImplemented();
}

WINBOOL WINAPI SetupInstallFromInfSectionW(HWND Owner, HINF InfHandle, PCWSTR SectionName, UINT Flags,
                                           HKEY RelativeKeyRoot, PCWSTR SourceRootPath, UINT CopyFlags,
                                           PSP_FILE_CALLBACK_W MsgHandler, PVOID Context, HDEVINFO DeviceInfoSet,
                                           PSP_DEVINFO_DATA DeviceInfoData)
{
    CALL(SetupInstallFromInfSectionW);
    return NotImplemented();
}

VOID WINAPI SetupCloseInfFile(HINF InfHandle)
{
    CALL(SetupCloseInfFile);
    NotImplemented();
}

WINBOOL WINAPI SetupCloseFileQueue(HSPFILEQ QueueHandle)
{
    CALL(SetupCloseFileQueue);
    return NotImplemented();
}

UINT WINAPI SetupDefaultQueueCallbackW(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2)
{
    CALL(SetupDefaultQueueCallbackW);
    NotImplemented();
    return FILEOP_ABORT;
}

PVOID WINAPI SetupInitDefaultQueueCallback(HWND OwnerWindow)
{
    CALL(SetupInitDefaultQueueCallback);
    NotImplemented();
    return nullptr;
}

WINBOOL WINAPI SetupUninstallOEMInfW(PCWSTR InfFileName, DWORD Flags, PVOID Reserved)
{
    CALL(SetupUninstallOEMInfW);
    return NotImplemented();
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD HwProfile,
                                 DWORD KeyType, REGSAM samDesired)
{
    CALL(SetupDiOpenDevRegKey);
    NotImplemented();
    return (HKEY)INVALID_HANDLE_VALUE;
}

HKEY WINAPI SetupDiOpenDeviceInterfaceRegKey(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             DWORD Reserved, REGSAM samDesired)
{
    CALL(SetupDiOpenDeviceInterfaceRegKey);
    NotImplemented();
    return (HKEY)INVALID_HANDLE_VALUE;
}

WINBOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                              PSP_DEVINSTALL_PARAMS_W DeviceInstallParams)
{
    CALL(SetupDiGetDeviceInstallParamsW);
    return NotImplemented();
}

} // extern "C"
