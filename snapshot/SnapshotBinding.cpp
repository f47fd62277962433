#include "snapshot/SnapshotBinding.h"

#include "devices/DeviceApi.h"
#include "snapshot/IconFile.h"
#include "snapshot/ValueForm.h"

#include <string.h>

namespace {

SnapshotBinding* g_served = nullptr;

const Snapshot* Served()
{
    return g_served ? g_served->Served() : nullptr;
}

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

std::wstring HexPath(const wchar_t* prefix, unsigned long number, const wchar_t* suffix)
{
    wchar_t text[32];
    _snwprintf(text, 32, L"%08lX", number);
    text[31] = 0;
    return std::wstring(prefix) + text + suffix;
}

bool IsMember(const SnapshotBinding::Set& set, const SnapshotDevice& device)
{
    return device.listed && (set.all || IsEqualGUID(set.classGuid, device.setupClass));
}

// The device of an element of a set of the served snapshot, or an error.
DWORD FindElement(HDEVINFO handle, const SP_DEVINFO_DATA* element, const SnapshotDevice*& device)
{
    const Snapshot* snapshot = Served();
    SnapshotBinding::Set* set = g_served ? g_served->FindSet(handle) : nullptr;
    if (!snapshot || !set)
        return ERROR_INVALID_HANDLE;
    if (!element)
        return ERROR_INVALID_PARAMETER;
    if (element->cbSize != sizeof(SP_DEVINFO_DATA))
        return ERROR_INVALID_USER_BUFFER;
    int index = snapshot->FindDevice(element->DevInst);
    if (index < 0 || !IsMember(*set, snapshot->devices[index]))
        return ERROR_NO_SUCH_DEVINST;
    device = &snapshot->devices[index];
    return ERROR_SUCCESS;
}

// The served snapshot's device of a devnode handle, and its index.
CONFIGRET FindDevice(DEVINST devnode, const Snapshot*& snapshot, int& index)
{
    snapshot = Served();
    if (!snapshot)
        return CR_FAILURE;
    index = snapshot->FindDevice(devnode);
    return index < 0 ? CR_INVALID_DEVNODE : CR_SUCCESS;
}

CONFIGRET FindDevice(DEVINST devnode, const SnapshotDevice*& device)
{
    const Snapshot* snapshot;
    int index;
    CONFIGRET result = FindDevice(devnode, snapshot, index);
    device = result == CR_SUCCESS ? &snapshot->devices[index] : nullptr;
    return result;
}

BOOL CopyKeys(const std::vector<DEVPROPKEY>& keys, DEVPROPKEY* array, DWORD count, PDWORD required)
{
    if (required)
        *required = (DWORD)keys.size();
    if (count < keys.size())
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    if (!array && !keys.empty())
        return FailWith(ERROR_INVALID_USER_BUFFER);
    if (!keys.empty())
        memcpy(array, keys.data(), keys.size() * sizeof(DEVPROPKEY));
    return Succeed();
}

// --- the configuration manager ---------------------------------------------

CONFIGRET WINAPI LocateDevNode(PDEVINST devnode, DEVINSTID_W instanceId, ULONG flags)
{
    if (!devnode)
        return CR_INVALID_POINTER;
    const Snapshot* snapshot = Served();
    if (!snapshot)
        return CR_FAILURE;
    int index = instanceId && *instanceId ? snapshot->FindDeviceById(instanceId) : snapshot->Root();
    if (index < 0)
        return CR_NO_SUCH_DEVNODE;
    *devnode = snapshot->devices[index].handle;
    return CR_SUCCESS;
}

enum class Relative { Child, Sibling, Parent };

CONFIGRET Related(PDEVINST related, DEVINST devnode, Relative which)
{
    if (!related)
        return CR_INVALID_POINTER;
    const Snapshot* snapshot;
    int index;
    CONFIGRET result = FindDevice(devnode, snapshot, index);
    if (result != CR_SUCCESS)
        return result;
    const SnapshotDevice& device = snapshot->devices[index];
    int found = which == Relative::Child     ? device.firstChild
                : which == Relative::Sibling ? device.nextSibling
                                             : device.parent;
    if (found < 0)
        return CR_NO_SUCH_DEVNODE;
    *related = snapshot->devices[found].handle;
    return CR_SUCCESS;
}

CONFIGRET WINAPI ChildOf(PDEVINST child, DEVINST devnode, ULONG)
{
    return Related(child, devnode, Relative::Child);
}

CONFIGRET WINAPI SiblingOf(PDEVINST sibling, DEVINST devnode, ULONG)
{
    return Related(sibling, devnode, Relative::Sibling);
}

CONFIGRET WINAPI ParentOf(PDEVINST parent, DEVINST devnode, ULONG)
{
    return Related(parent, devnode, Relative::Parent);
}

CONFIGRET WINAPI GetDeviceId(DEVINST devnode, PWSTR buffer, ULONG length, ULONG)
{
    if (!buffer)
        return CR_INVALID_POINTER;
    const SnapshotDevice* found;
    CONFIGRET result = FindDevice(devnode, found);
    if (result != CR_SUCCESS)
        return result;
    const SnapshotDevice& device = *found;
    if (!device.hasInstanceId)
        return CR_FAILURE;
    if (length == 0)
        return CR_BUFFER_SMALL;
    size_t copied = device.instanceId.size() < length ? device.instanceId.size() : length - 1;
    memcpy(buffer, device.instanceId.c_str(), copied * sizeof(wchar_t));
    buffer[copied] = 0;
    return copied == device.instanceId.size() ? CR_SUCCESS : CR_BUFFER_SMALL;
}

CONFIGRET WINAPI GetRegistryProperty(DEVINST devnode, ULONG code, PULONG type, PVOID buffer,
                                     PULONG length, ULONG flags)
{
    if (!length || (!buffer && *length))
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    if (code < 1 || code > Snapshot::LastRegistryProperty)
        return CR_INVALID_PROPERTY;
    const SnapshotDevice* device;
    CONFIGRET result = FindDevice(devnode, device);
    if (result != CR_SUCCESS)
        return result;
    const SnapshotRegistryProperty* property = device->FindRegistryProperty(code);
    if (!property)
        return CR_NO_SUCH_VALUE;
    const SnapshotValue& value = property->value;
    if (type)
        *type = value.type;
    if (*length < value.Size()) {
        *length = value.ReportedSize();
        return CR_BUFFER_SMALL;
    }
    if (value.Size())
        memcpy(buffer, value.bytes.data(), value.Size());
    *length = value.Size();
    return CR_SUCCESS;
}

CONFIGRET WINAPI GetStatus(PULONG status, PULONG problem, DEVINST devnode, ULONG)
{
    if (!status || !problem)
        return CR_INVALID_POINTER;
    const SnapshotDevice* device;
    CONFIGRET result = FindDevice(devnode, device);
    if (result != CR_SUCCESS)
        return result;
    if (!device->hasStatus)
        return CR_FAILURE;
    *status = device->status;
    *problem = device->problem;
    return CR_SUCCESS;
}

CONFIGRET WINAPI OpenDevNodeKey(DEVINST devnode, REGSAM, ULONG, REGDISPOSITION, PHKEY key, ULONG flags)
{
    if (!key)
        return CR_INVALID_POINTER;
    *key = nullptr;
    const Snapshot* snapshot;
    int index;
    CONFIGRET result = FindDevice(devnode, snapshot, index);
    if (result != CR_SUCCESS)
        return result;
    // The user's and the profile's keys of a device are no part of a snapshot.
    if (flags != CM_REGISTRY_HARDWARE && flags != CM_REGISTRY_SOFTWARE)
        return CR_NO_SUCH_REGISTRY_KEY;
    HKEY opened = g_served->OpenDeviceKey(index, flags == CM_REGISTRY_SOFTWARE);
    if (!opened)
        return CR_NO_SUCH_REGISTRY_KEY;
    *key = opened;
    return CR_SUCCESS;
}

// --- the setup API -----------------------------------------------------------

HDEVINFO WINAPI GetClassDevs(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags)
{
    const Snapshot* snapshot = Served();
    if (!snapshot) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    bool all = (flags & DIGCF_ALLCLASSES) != 0;
    if ((!all && !classGuid) || enumerator || (flags & DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    SnapshotBinding::Set set = {&snapshot->ListedDevices(classGuid, all), all,
                                classGuid ? *classGuid : GUID_NULL};
    return g_served->NewSet(set);
}

BOOL WINAPI EnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA element)
{
    const Snapshot* snapshot = Served();
    SnapshotBinding::Set* set = g_served ? g_served->FindSet(handle) : nullptr;
    if (!snapshot || !set)
        return FailWith(ERROR_INVALID_HANDLE);
    if (!element || element->cbSize != sizeof(SP_DEVINFO_DATA))
        return FailWith(ERROR_INVALID_USER_BUFFER);
    if (index >= set->members->size())
        return FailWith(ERROR_NO_MORE_ITEMS);
    const SnapshotDevice& device = snapshot->devices[(*set->members)[index]];
    element->ClassGuid = device.setupClass;
    element->DevInst = device.handle;
    element->Reserved = 0;
    return Succeed();
}

BOOL WINAPI DestroyDeviceInfoList(HDEVINFO handle)
{
    if (!g_served || !g_served->DestroySet(handle))
        return FailWith(ERROR_INVALID_HANDLE);
    return Succeed();
}

BOOL WINAPI LoadClassIcon(const GUID* classGuid, HICON* large, PINT miniIndex)
{
    const Snapshot* snapshot = Served();
    const SnapshotClass* setupClass = snapshot && classGuid ? snapshot->FindClass(*classGuid) : nullptr;
    if (!setupClass || setupClass->icon.empty())
        return FailWith(ERROR_INVALID_CLASS);
    if (large) {
        *large = IconFile::Create(setupClass->icon);
        if (!*large)
            return FailWith(ERROR_INVALID_DATA);
    }
    if (miniIndex)
        *miniIndex = 0;
    return Succeed();
}

BOOL WINAPI GetDeviceProperty(HDEVINFO handle, PSP_DEVINFO_DATA element, const DEVPROPKEY* key,
                              DEVPROPTYPE* type, PBYTE buffer, DWORD size, PDWORD required, DWORD flags)
{
    const SnapshotDevice* device = nullptr;
    DWORD error = FindElement(handle, element, device);
    if (error != ERROR_SUCCESS)
        return FailWith(error);
    if (!key || !type)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (flags)
        return FailWith(ERROR_INVALID_FLAGS);
    if (!buffer && size)
        return FailWith(ERROR_INVALID_USER_BUFFER);
    const SnapshotProperty* property = device->FindProperty(*key);
    if (!property || property->value.type == DEVPROP_TYPE_EMPTY) {
        *type = DEVPROP_TYPE_EMPTY;
        if (required)
            *required = 0;
        return FailWith(ERROR_NOT_FOUND);
    }
    const SnapshotValue& value = property->value;
    *type = value.type;
    if (required)
        *required = value.ReportedSize();
    if (size < value.Size())
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    if (value.Size())
        memcpy(buffer, value.bytes.data(), value.Size());
    return Succeed();
}

BOOL WINAPI GetDevicePropertyKeys(HDEVINFO handle, PSP_DEVINFO_DATA element, DEVPROPKEY* keys,
                                  DWORD count, PDWORD required, DWORD flags)
{
    const SnapshotDevice* device = nullptr;
    DWORD error = FindElement(handle, element, device);
    if (error != ERROR_SUCCESS)
        return FailWith(error);
    if (flags)
        return FailWith(ERROR_INVALID_FLAGS);
    std::vector<DEVPROPKEY> listed;
    listed.reserve(device->properties.size());
    for (const SnapshotProperty& property : device->properties)
        listed.push_back(property.key);
    return CopyKeys(listed, keys, count, required);
}

BOOL WINAPI GetClassPropertyKeys(const GUID* classGuid, DEVPROPKEY* keys, DWORD count,
                                 PDWORD required, DWORD flags)
{
    if (flags != DICLASSPROP_INSTALLER && flags != DICLASSPROP_INTERFACE)
        return FailWith(ERROR_INVALID_FLAGS);
    const Snapshot* snapshot = Served();
    const SnapshotClass* setupClass = snapshot && classGuid ? snapshot->FindClass(*classGuid) : nullptr;
    bool installer = flags == DICLASSPROP_INSTALLER;
    if (!setupClass ||
        !(installer ? setupClass->hasInstallerPropertyKeys : setupClass->hasInterfacePropertyKeys))
        return FailWith(ERROR_INVALID_CLASS);
    return CopyKeys(installer ? setupClass->installerPropertyKeys : setupClass->interfacePropertyKeys,
                    keys, count, required);
}

BOOL WINAPI ClassNameFromGuid(const GUID* classGuid, PWSTR name, DWORD size, PDWORD required)
{
    const Snapshot* snapshot = Served();
    const SnapshotClass* setupClass = snapshot && classGuid ? snapshot->FindClass(*classGuid) : nullptr;
    if (!setupClass || !setupClass->hasName)
        return FailWith(ERROR_INVALID_CLASS);
    DWORD needed = (DWORD)setupClass->name.size() + 1;
    if (required)
        *required = needed;
    if (!name || size < needed)
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    memcpy(name, setupClass->name.c_str(), needed * sizeof(wchar_t));
    return Succeed();
}

HKEY WINAPI OpenClassRegKey(const GUID* classGuid, REGSAM, DWORD which, PCWSTR machine, PVOID)
{
    const Snapshot* snapshot = Served();
    const SnapshotClass* setupClass = snapshot && classGuid ? snapshot->FindClass(*classGuid) : nullptr;
    HKEY key = nullptr;
    if (setupClass && !machine && (which == DIOCR_INSTALLER || which == DIOCR_INTERFACE))
        key = g_served->OpenClassKey(*setupClass, which == DIOCR_INTERFACE);
    if (!key) {
        SetLastError(ERROR_INVALID_CLASS);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    return key;
}

// --- entry points the viewer binds but never calls ------------------------

BOOL WINAPI EnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                 PSP_DEVICE_INTERFACE_DATA)
{
    return FailWith(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL WINAPI OpenDeviceInfo(HDEVINFO, PCWSTR, HWND, DWORD, PSP_DEVINFO_DATA)
{
    return FailWith(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL WINAPI GetDeviceRegistryProperty(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD)
{
    return FailWith(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL WINAPI SetDeviceRegistryProperty(HDEVINFO, PSP_DEVINFO_DATA, DWORD, const BYTE*, DWORD)
{
    return FailWith(ERROR_ACCESS_DENIED);
}

BOOL WINAPI GetDeviceInstanceId(HDEVINFO, PSP_DEVINFO_DATA, PWSTR, DWORD, PDWORD)
{
    return FailWith(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL WINAPI GetDeviceInterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD, PDWORD,
                                     PSP_DEVINFO_DATA)
{
    return FailWith(ERROR_CALL_NOT_IMPLEMENTED);
}

CONFIGRET WINAPI SetDevNodeRegistryProperty(DEVINST, ULONG, PCVOID, ULONG, ULONG)
{
    return CR_ACCESS_DENIED;
}

CONFIGRET WINAPI GetInterfaceList(LPGUID, DEVINSTID_W, PZZWSTR, ULONG, ULONG)
{
    return CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET WINAPI GetInterfaceListSize(PULONG, LPGUID, DEVINSTID_W, ULONG)
{
    return CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET WINAPI GetIdListA(PCSTR, PZZSTR, ULONG, ULONG)
{
    return CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET WINAPI GetIdListW(PCWSTR, PZZWSTR, ULONG, ULONG)
{
    return CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET WINAPI GetIdListSizeA(PULONG, PCSTR, ULONG)
{
    return CR_CALL_NOT_IMPLEMENTED;
}

CONFIGRET WINAPI GetIdListSizeW(PULONG, PCWSTR, ULONG)
{
    return CR_CALL_NOT_IMPLEMENTED;
}

} // namespace

SnapshotBinding::~SnapshotBinding()
{
    Stop();
}

SnapshotBinding* SnapshotBinding::Current()
{
    return g_served;
}

int SnapshotBinding::Serve(std::shared_ptr<const Snapshot> snapshot, DWORD* error)
{
    DWORD ignored = 0;
    std::unique_ptr<PrivateHive> hive(new PrivateHive());
    if (!snapshot || !hive->Open(error ? error : &ignored))
        return 0;
    // Sets of the snapshot served so far point into it.
    DestroyAllSets();
    hive_ = std::move(hive);
    snapshot_ = std::move(snapshot);
    hardwareWritten_.assign(snapshot_->devices.size(), 0);
    softwareWritten_.assign(snapshot_->devices.size(), 0);
    installerWritten_.assign(snapshot_->classes.size(), 0);
    interfaceWritten_.assign(snapshot_->classes.size(), 0);
    return 1;
}

void SnapshotBinding::Stop()
{
    DestroyAllSets();
    snapshot_.reset();
    hive_.reset();
    if (g_served == this)
        g_served = nullptr;
}

int SnapshotBinding::FillSlots(DeviceApi& api)
{
    if (!snapshot_)
        return 0;
    g_served = this;
    const struct {
        int slot;
        FARPROC entry;
    } entries[] = {
        {DeviceApi::Slot_CM_Locate_DevNodeW, (FARPROC)&LocateDevNode},
        {DeviceApi::Slot_CM_Get_Child, (FARPROC)&ChildOf},
        {DeviceApi::Slot_CM_Get_Sibling, (FARPROC)&SiblingOf},
        {DeviceApi::Slot_CM_Get_Parent, (FARPROC)&ParentOf},
        {DeviceApi::Slot_CM_Get_Device_IDW, (FARPROC)&GetDeviceId},
        {DeviceApi::Slot_CM_Get_DevNode_Registry_PropertyW, (FARPROC)&GetRegistryProperty},
        {DeviceApi::Slot_CM_Set_DevNode_Registry_PropertyW, (FARPROC)&SetDevNodeRegistryProperty},
        {DeviceApi::Slot_CM_Get_DevNode_Status, (FARPROC)&GetStatus},
        {DeviceApi::Slot_CM_Open_DevNode_Key, (FARPROC)&OpenDevNodeKey},
        {DeviceApi::Slot_CM_Get_Device_Interface_ListW, (FARPROC)&GetInterfaceList},
        {DeviceApi::Slot_CM_Get_Device_Interface_List_SizeW, (FARPROC)&GetInterfaceListSize},
        {DeviceApi::Slot_CM_Get_Device_ID_ListA, (FARPROC)&GetIdListA},
        {DeviceApi::Slot_CM_Get_Device_ID_ListW, (FARPROC)&GetIdListW},
        {DeviceApi::Slot_CM_Get_Device_ID_List_SizeA, (FARPROC)&GetIdListSizeA},
        {DeviceApi::Slot_CM_Get_Device_ID_List_SizeW, (FARPROC)&GetIdListSizeW},
        {DeviceApi::Slot_SetupDiGetClassDevsW, (FARPROC)&GetClassDevs},
        {DeviceApi::Slot_SetupDiEnumDeviceInfo, (FARPROC)&EnumDeviceInfo},
        {DeviceApi::Slot_SetupDiDestroyDeviceInfoList, (FARPROC)&DestroyDeviceInfoList},
        {DeviceApi::Slot_SetupDiLoadClassIcon, (FARPROC)&LoadClassIcon},
        {DeviceApi::Slot_SetupDiGetDevicePropertyW, (FARPROC)&GetDeviceProperty},
        {DeviceApi::Slot_SetupDiGetDevicePropertyKeys, (FARPROC)&GetDevicePropertyKeys},
        {DeviceApi::Slot_SetupDiGetClassPropertyKeys, (FARPROC)&GetClassPropertyKeys},
        {DeviceApi::Slot_SetupDiClassNameFromGuidW, (FARPROC)&ClassNameFromGuid},
        {DeviceApi::Slot_SetupDiOpenClassRegKeyExW, (FARPROC)&OpenClassRegKey},
        {DeviceApi::Slot_SetupDiEnumDeviceInterfaces, (FARPROC)&EnumDeviceInterfaces},
        {DeviceApi::Slot_SetupDiOpenDeviceInfoW, (FARPROC)&OpenDeviceInfo},
        {DeviceApi::Slot_SetupDiGetDeviceRegistryPropertyW, (FARPROC)&GetDeviceRegistryProperty},
        {DeviceApi::Slot_SetupDiSetDeviceRegistryPropertyW, (FARPROC)&SetDeviceRegistryProperty},
        {DeviceApi::Slot_SetupDiGetDeviceInstanceIdW, (FARPROC)&GetDeviceInstanceId},
        {DeviceApi::Slot_SetupDiGetDeviceInterfaceDetailW, (FARPROC)&GetDeviceInterfaceDetail},
    };
    for (const auto& entry : entries)
        api.SetSlot(entry.slot, entry.entry);
    return 1;
}

SnapshotBinding::Set* SnapshotBinding::FindSet(HDEVINFO handle) const
{
    Set* set = (Set*)handle;
    return sets_.count(set) ? set : nullptr;
}

HDEVINFO SnapshotBinding::NewSet(const Set& set)
{
    Set* made = new Set(set);
    sets_.insert(made);
    return (HDEVINFO)made;
}

bool SnapshotBinding::DestroySet(HDEVINFO handle)
{
    Set* set = FindSet(handle);
    if (!set)
        return false;
    sets_.erase(set);
    delete set;
    return true;
}

void SnapshotBinding::DestroyAllSets()
{
    for (Set* set : sets_)
        delete set;
    sets_.clear();
}

HKEY SnapshotBinding::OpenWritten(const std::wstring& path, const SnapshotKey& key, char& written)
{
    if (!key.present || !hive_ || !hive_->Root())
        return nullptr;
    if (!written) {
        // Written once, whole: a value the hive refuses is missing from it,
        // as from a key that could not hold it.
        HKEY created = nullptr;
        if (RegCreateKeyExW(hive_->Root(), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &created, nullptr) != ERROR_SUCCESS)
            return nullptr;
        std::vector<BYTE> data;
        for (const SnapshotNamedValue& value : key.values) {
            // The registry ends a string value that lacks its terminator
            // with the NUL that follows it in memory; a value is kept
            // exactly as saved when what follows is no NUL.
            data.assign(value.value.bytes.begin(), value.value.bytes.end());
            data.push_back(0xFF);
            data.push_back(0xFF);
            RegSetValueExW(created, value.name.c_str(), 0, value.value.type, data.data(),
                           value.value.Size());
        }
        RegCloseKey(created);
        written = 1;
    }
    HKEY opened = nullptr;
    if (RegOpenKeyExW(hive_->Root(), path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return nullptr;
    return opened;
}

HKEY SnapshotBinding::OpenDeviceKey(int device, bool software)
{
    if (!snapshot_ || device < 0 || device >= (int)snapshot_->devices.size())
        return nullptr;
    const SnapshotDevice& entry = snapshot_->devices[device];
    std::wstring path = HexPath(L"Device\\", entry.handle, software ? L"\\Software" : L"\\Hardware");
    return software ? OpenWritten(path, entry.softwareKey, softwareWritten_[device])
                    : OpenWritten(path, entry.hardwareKey, hardwareWritten_[device]);
}

HKEY SnapshotBinding::OpenClassKey(const SnapshotClass& setupClass, bool interfaceKey)
{
    if (!snapshot_)
        return nullptr;
    size_t index = (size_t)(&setupClass - snapshot_->classes.data());
    if (index >= snapshot_->classes.size())
        return nullptr;
    std::string guid = GuidString(setupClass.guid);
    std::wstring path = L"Class\\" + std::wstring(guid.begin(), guid.end()) +
                        (interfaceKey ? L"\\Interface" : L"\\Installer");
    return interfaceKey ? OpenWritten(path, setupClass.interfaceKey, interfaceWritten_[index])
                        : OpenWritten(path, setupClass.installerKey, installerWritten_[index]);
}
